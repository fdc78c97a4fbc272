// A scripted terminal for tests: holds the master side of a pseudo-terminal whose
// slave path the library opens. The test drives it step by step from its own thread.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frames.hpp"

namespace tolvex::test {

struct Frame {
  std::string code;  // three characters
  Bytes data;
  Bytes raw;  // every byte of the frame as received
};

class PtyPeer {
 public:
  PtyPeer();  // throws std::runtime_error when no pseudo-terminal can be made
  ~PtyPeer();
  PtyPeer(const PtyPeer &) = delete;
  PtyPeer &operator=(const PtyPeer &) = delete;

  const std::string &slave_path() const { return slave_path_; }

  // Reads one byte; nullopt after the time-out.
  std::optional<std::uint8_t> read_byte(std::chrono::milliseconds timeout = 3000ms);
  // Reads exactly n bytes or fewer when the time-out runs out.
  Bytes read_bytes(std::size_t n, std::chrono::milliseconds timeout = 3000ms);
  // Reads a whole command frame (start byte up to its block check); nullopt on time-out
  // or when the bytes do not form a frame.
  std::optional<Frame> read_frame(std::chrono::milliseconds timeout = 3000ms);
  // Collects whatever arrives within the window.
  Bytes drain(std::chrono::milliseconds window = 50ms);

  void write(const Bytes &bytes);
  void write_byte(std::uint8_t b) { write(Bytes{b}); }

  // The common happy path: read the frame, ACK, expect ENQ, send the reply, expect ACK.
  // Returns the frame read; fails the current test (ADD_FAILURE) on any deviation.
  std::optional<Frame> serve(std::uint16_t status, const Bytes &data);

  // Closes the master side (the library sees a hang-up).
  void hang_up();

  // The line settings of the slave side as the library left them (a pseudo-terminal's
  // master reads its slave's termios). False when they cannot be read.
  bool line_settings(termios &out) const;

 private:
  int master_ = -1;
  std::string slave_path_;
};

// CPU time the whole process has used so far, in seconds (to tell sleeping from spinning).
double process_cpu_seconds();

// Sanitizer builds reserve far more address space than a capped process may have.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Caps the process's address space a little above what it uses now, so that no further
// thread stack can be had. False when the limit cannot be set. For tests run in a child.
bool leave_no_room_for_threads();

// Polls chk_res until the command finishes or the time-out runs out.
struct Outcome {
  bool finished = false;
  Bytes data;
  int length = 0;
  std::uint8_t prc_no = 0;
  int result = -1;
};
Outcome wait_outcome(std::chrono::milliseconds timeout = 20000ms);

}  // namespace tolvex::test
