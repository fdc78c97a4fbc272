// Frame layout of the terminal protocol: command frames, block check, reply windows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tolvex {

constexpr std::uint8_t kStart = 0x01;
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kEnq = 0x05;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;

constexpr std::uint32_t kDataMax = 1000;                 // data bytes one command may carry
constexpr std::size_t kFrameBufferSize = kDataMax + 10;  // the longest command frame
constexpr std::size_t kReceiveBufferSize = 1000;         // the longest reply taken
constexpr int kShortReplyMs = 2000;
constexpr int kLongReplyMs = 15000;

// XOR of size bytes starting from 0; an empty range gives 0.
std::uint8_t bcc(const std::uint8_t *bytes, std::size_t size);

// Builds the frame 01 00 LEN(n+3, high first) 02 code[3] data[n] 03 BCC into out, which
// must hold n + 10 bytes (n at most kDataMax). Returns the frame size n + 10.
std::size_t build_frame(std::uint8_t *out, const char code[3], const std::uint8_t *data, std::size_t n);

// True for the command codes whose reply window is 2000 ms instead of 15000 ms.
bool is_short_reply(const char code[3]);

}  // namespace tolvex
