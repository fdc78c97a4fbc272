#include "decimal.hpp"

#include <limits>

namespace tolvex::bench {

namespace {

template <typename Char>
std::int32_t parse(std::basic_string_view<Char> text) noexcept {
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto blank = [](Char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
  while (i < n && blank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Magnitude up to 2^31 fits; anything larger is clamped, so no step can overflow.
  constexpr std::int64_t kLimit = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  if (negative) return static_cast<std::int32_t>(-magnitude);
  return magnitude >= kLimit ? std::numeric_limits<std::int32_t>::max() : static_cast<std::int32_t>(magnitude);
}

}  // namespace

std::int32_t parse_decimal(std::wstring_view text) noexcept { return parse(text); }
std::int32_t parse_decimal(std::string_view text) noexcept { return parse(text); }

std::wstring decimal_text(std::int32_t value) { return std::to_wstring(value); }

}  // namespace tolvex::bench
