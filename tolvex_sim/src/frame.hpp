// Frames on the terminal's serial line: the block check, the reply frame the
// terminal sends, and a byte-fed parser for the host's command frames.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tolvex/protocol.hpp"

namespace tolvex::sim {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// 0x01 0x00 L(hi) L(lo) 0x02, body (code echo, status word high first, 0x00, data),
// 0x03 and the block check over everything from the second byte through ETX.
Bytes reply_frame(const std::string &code, std::uint16_t status, const Bytes &data);

// The frame a host sends for code and data (used by tests and tools).
Bytes command_frame(const std::string &code, const Bytes &data);

// One thing recognised on the line.
struct LineEvent {
  enum Kind { Frame, BadFrame, Enq, Ack, Nak };
  Kind kind = Frame;
  std::string code;  // Frame: the three code characters
  Bytes data;        // Frame: the data bytes
};

// Turns received bytes into command frames and handshake bytes. Outside a frame every
// byte other than SOH, ENQ, ACK and NAK is ignored. Each refused frame is reported as
// BadFrame once:
// - a frame whose length has fully arrived but whose ETX or block check is wrong is
//   dropped whole, and scanning goes on with the bytes after it;
// - a frame refused at its header (second byte, length or STX) is dropped and scanning
//   resumes after its start byte, so a real frame hidden behind garbage is still found;
//   a start byte among the refused header bytes that leads to another refusal is
//   dropped silently, so one piece of garbage never draws several answers.
// A frame left unfinished for longer than the gap limit is dropped when the next byte
// arrives.
class FrameParser {
 public:
  explicit FrameParser(std::chrono::milliseconds gap_limit = std::chrono::milliseconds(500))
      : gap_limit_(gap_limit) {}

  // Feeds bytes received at `now`; appends what they complete to `out`.
  void feed(const std::uint8_t *bytes, std::size_t n, Clock::time_point now,
            std::vector<LineEvent> &out);

  // True while part of a frame is buffered.
  bool in_frame() const { return !buf_.empty(); }
  void reset() {
    buf_.clear();
    quiet_ = false;
  }

 private:
  void scan(std::vector<LineEvent> &out);

  std::chrono::milliseconds gap_limit_;
  Bytes buf_;              // starts with SOH when not empty
  bool quiet_ = false;     // the buffered frame began among header bytes already refused
  Clock::time_point last_{};
};

}  // namespace tolvex::sim
