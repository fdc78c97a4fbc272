// The bytes of the link as a test terminal sees them: command and reply frames and the
// handshake bytes. Platform-free, for tests on every system.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvex::test {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

constexpr std::uint8_t ACK = 0x06;
constexpr std::uint8_t NAK = 0x15;
constexpr std::uint8_t ENQ = 0x05;

// XOR of the bytes, starting from 0.
std::uint8_t xor_of(const std::uint8_t *begin, const std::uint8_t *end);

// The command frame the library must send for code and data.
Bytes command_frame(const std::string &code, const Bytes &data);

// A reply frame: 0x01 0x00, L (high first), STX, body of L bytes (3 echo bytes taken
// from code, the status word high first, one byte 0x00, then data), ETX, block check.
Bytes reply_frame(const std::string &code, std::uint16_t status, const Bytes &data);

}  // namespace tolvex::test
