// Signed 32-bit numbers as decimal text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvex::bench {

// Reads the leading number of a text: blanks (space, tab, line breaks) are skipped,
// then an optional '+' or '-', then decimal digits up to the first other character.
// No digits give 0; a value outside the signed 32-bit range is clamped to it.
std::int32_t parse_decimal(std::wstring_view text) noexcept;
std::int32_t parse_decimal(std::string_view text) noexcept;

// "%ld" text of a signed 32-bit number: "-5", "0", "2147483647".
std::wstring decimal_text(std::int32_t value);

}  // namespace tolvex::bench
