// Conversions between the engineer's wide-character text and the library's 8-bit text.
// The 8-bit code page is UTF-8; malformed bytes become U+FFFD and never fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvex::bench {

// Bounds of the two conversion buffers, terminator included: an 8-bit text holds at
// most 4999 bytes, a wide text at most 2499 characters. Longer input is cut at a
// character boundary.
inline constexpr std::size_t kNarrowBufferBytes = 5000;
inline constexpr std::size_t kWideBufferChars = 2500;

// UTF-8 to wide text. Each malformed sequence (stray continuation byte, truncated or
// overlong sequence, surrogate, value above U+10FFFF) becomes one U+FFFD.
std::wstring to_wide(std::string_view utf8);

// Wide text to UTF-8. Characters that are no Unicode scalar value become U+FFFD.
std::string to_narrow(std::wstring_view wide);

// Wide text to UTF-8 without the buffer bound (for printing whole reports).
std::string to_utf8(std::wstring_view wide);

// The 8-bit text of a response from byte `offset` up to the first zero byte, or up to
// `capacity` when there is none; empty when offset is at or past capacity.
std::string_view response_bytes(const std::uint8_t *buffer, std::size_t capacity, std::size_t offset);

// The same, converted to wide text.
std::wstring response_text(const std::uint8_t *buffer, std::size_t capacity, std::size_t offset);

}  // namespace tolvex::bench
