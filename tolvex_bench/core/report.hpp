// The response report: turns one command's outcome into the text the engineer reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvex::bench {

// Outcome of one command as the wait step leaves it. `response` is the bench's response
// buffer itself, `capacity` bytes (bytes past `length` are zero), and the report writes
// into it: the "R36" string view zeroes its bytes 18 and 35.
struct Outcome {
  char code[3] = {0, 0, 0};     // current-command code
  int result = 0;               // reconciled result code (terminal code instead of 2000)
  std::uint32_t length = 0;     // response length
  std::uint8_t *response = nullptr;
  std::size_t capacity = 0;
  int view_mode = 0;            // 0 "String", any other value "HEX"
};

// Capacity of the "Z01" message log, terminating zero included.
inline constexpr std::size_t kMessageLogCapacity = 300;

class ReportBuilder {
 public:
  // Builds the report (ending with one blank). Keeps the "Z01" message log between calls.
  // Reads the response only within `capacity` (a missing or empty buffer reads as zeros)
  // and only as far as min(length, capacity) where whole-response data is shown.
  std::wstring build(Outcome &outcome);

  // The "Z01" message log as 8-bit text (at most kMessageLogCapacity - 1 bytes).
  const std::string &message_log() const noexcept { return message_log_; }

 private:
  std::string message_log_;  // bounded; oldest entries are dropped
};

// The name line of a command code (" COMMAND: Get model" for "C11"); empty when the
// code has none. `code` is the three characters of the code.
std::wstring name_line(std::string_view code);

// The failure part for a non-zero result code, "\n RESULT   : False!\n ERROR : ..."
// with the code's message, or "0x" and at least four upper-case hexadecimal digits.
std::wstring failure_part(int result);

// The message text of a result code without the prefix; empty when the code has none.
std::wstring result_message(int result);

// Balance of the value block in the 12 bytes at `bytes`: V (32-bit little-endian), its
// bitwise complement, V again. Empty when the bytes are no value block.
std::optional<std::uint32_t> value_block_balance(const std::uint8_t *bytes) noexcept;

}  // namespace tolvex::bench
