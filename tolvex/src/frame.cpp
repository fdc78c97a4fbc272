#include "frame.hpp"

#include <cstring>

namespace tolvex {

std::size_t build_frame(std::uint8_t *out, const char code[3], const std::uint8_t *data, std::size_t n) {
  std::memcpy(out + kBodyOffset, code, kCodeSize);
  if (n > 0) std::memcpy(out + kBodyOffset + kCodeSize, data, n);
  return close_frame(out, kCodeSize + n);
}

}  // namespace tolvex
