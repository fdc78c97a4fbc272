#include "frame.hpp"

#include <cstring>

namespace tolvex {

std::uint8_t bcc(const std::uint8_t *bytes, std::size_t size) {
  std::uint8_t x = 0;
  for (std::size_t i = 0; i < size; ++i) x = static_cast<std::uint8_t>(x ^ bytes[i]);
  return x;
}

std::size_t build_frame(std::uint8_t *out, const char code[3], const std::uint8_t *data, std::size_t n) {
  const std::size_t len = n + 3;
  out[0] = kStart;
  out[1] = 0x00;
  out[2] = static_cast<std::uint8_t>((len >> 8) & 0xFF);
  out[3] = static_cast<std::uint8_t>(len & 0xFF);
  out[4] = kStx;
  std::memcpy(out + 5, code, 3);
  if (n > 0) std::memcpy(out + 8, data, n);
  out[8 + n] = kEtx;
  out[9 + n] = bcc(out + 1, 8 + n);
  return n + 10;
}

bool is_short_reply(const char code[3]) {
  static const char *const kShort[] = {"C11", "C12", "C13", "C14", "C15", "C16", "C17", "C21", "C22",
                                       "C23", "C24", "C25", "C26", "C27", "C28", "C40", "R33", "R34",
                                       "R43", "R44", "R53", "R71", "R72", "R73", "R62"};
  for (const char *s : kShort) {
    if (std::memcmp(s, code, 3) == 0) return true;
  }
  return false;
}

}  // namespace tolvex
