// The command frames in what the simulated terminal received, and a collector that
// answers in the terminal's place.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <tolvex/tolvex.h>

#include "command_step.hpp"

namespace tolvex::bench::testing {

using Bytes = std::vector<std::uint8_t>;

struct Frame {
  std::string code;
  Bytes data;
  bool operator==(const Frame &) const = default;
};

// SOH, 0x00, length (high, low; code and data), STX, code, data, ETX, block check.
// Acknowledgements and resends' noise between frames are skipped; `code` keeps only
// frames of that code when given.
inline std::vector<Frame> frames_in(std::string_view bytes, std::string_view code = {}) {
  const auto at = [&bytes](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  std::vector<Frame> out;
  for (std::size_t i = 0; i + 9 <= bytes.size(); ++i) {
    if (at(i) != 0x01 || at(i + 1) != 0x00 || at(i + 4) != 0x02) continue;
    const std::size_t length = static_cast<std::size_t>(at(i + 2)) * 256 + at(i + 3);
    if (length < 3 || i + 5 + length + 2 > bytes.size() || at(i + 5 + length) != 0x03) continue;
    Frame frame{std::string(bytes.substr(i + 5, 3)), Bytes()};
    for (std::size_t k = i + 8; k < i + 5 + length; ++k) frame.data.push_back(at(k));
    if (code.empty() || frame.code == code) out.push_back(std::move(frame));
    i += 5 + length + 1;
  }
  return out;
}

// The frames' codes in order.
inline std::vector<std::string> frame_codes(std::string_view bytes) {
  std::vector<std::string> codes;
  for (const Frame &frame : frames_in(bytes)) codes.push_back(frame.code);
  return codes;
}

inline Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Takes the outcome from the library, then replaces its data with `bytes` and its
// result with `result`, as if the terminal had answered so.
inline CommandStep::Collector answering(Bytes bytes, int result = 0) {
  return [bytes = std::move(bytes), result](std::uint8_t *data, int *length, std::uint8_t *prc, int *res) {
    if (chk_res(data, length, prc, res) == 0) return 0;
    std::copy(bytes.begin(), bytes.end(), data);
    *length = static_cast<int>(bytes.size());
    *res = result;
    return 1;
  };
}

// Whether the library has no command in flight (collecting one that ended).
inline bool library_done() {
  std::uint8_t buffer[TOLVEX_RESPONSE_MAX];
  int length = 0, res = -1;
  std::uint8_t prc = 0;
  return chk_res(buffer, &length, &prc, &res) != 0;
}

}  // namespace tolvex::bench::testing
