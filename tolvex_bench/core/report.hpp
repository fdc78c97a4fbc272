// The response report: turns one command's outcome into the text the engineer reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvex::bench {

// Outcome of one command as the wait step leaves it. `response` points to the bench's
// response buffer of `capacity` bytes (bytes past `length` are zero); the "R36" string
// view writes zeros into bytes 18 and 35 of it.
struct Outcome {
  char code[3] = {0, 0, 0};     // current-command code
  int result = 0;               // reconciled result code (terminal code instead of 2000)
  std::uint32_t length = 0;     // response length
  std::uint8_t *response = nullptr;
  std::size_t capacity = 0;
  int view_mode = 0;            // 0 "String", any other value "HEX"
};

class ReportBuilder {
 public:
  // Builds the report (ending with one blank). Keeps the "Z01" message log between calls.
  std::wstring build(const Outcome &outcome);

 private:
  std::string message_log_;  // bounded; oldest entries are dropped
};

}  // namespace tolvex::bench
