// One line of a byte trace, "TIME DIR XX XX ...": DIR is TX for bytes the tracing side
// wrote and RX for bytes it read, each byte two upper-case hex digits. The library's
// TOLVEX_TRACE file is written in this form; each side chooses its own TIME.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvex {

inline std::string trace_line(std::string_view time, bool written, const std::uint8_t *bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string line;
  line.reserve(time.size() + 4 + 3 * n);
  line.append(time);
  line += written ? " TX" : " RX";
  for (std::size_t i = 0; i < n; ++i) {
    line += ' ';
    line += kDigits[bytes[i] >> 4];
    line += kDigits[bytes[i] & 0x0F];
  }
  line += '\n';
  return line;
}

}  // namespace tolvex
