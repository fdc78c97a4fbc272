// The command frame the library sends; the rest of the wire is in tolvex/protocol.hpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tolvex/protocol.hpp"

namespace tolvex {

// Builds the frame 01 00 LEN(n+3, high first) 02 code[3] data[n] 03 BCC into out, which
// must hold n + 10 bytes (n at most kDataMax). Returns the frame size n + 10.
std::size_t build_frame(std::uint8_t *out, const char code[3], const std::uint8_t *data, std::size_t n);

}  // namespace tolvex
