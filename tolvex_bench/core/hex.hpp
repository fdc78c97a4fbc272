// Hexadecimal text as the bench reads and shows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tolvex::bench {

// Value of one hexadecimal digit: '0'-'9' and upper-case 'A'-'F'; -1 for anything else
// (lower-case letters included).
int hex_digit(wchar_t c) noexcept;

// One byte from two characters: an invalid first character counts as a high nibble of 0,
// an invalid (or missing, pass 0) second character makes the whole byte 0.
std::uint8_t hex_pair(wchar_t high, wchar_t low) noexcept;

// Bytes of a hexadecimal text, two characters a byte: n characters give (n + 1) / 2
// bytes, so an unpaired last digit gives 0x00.
std::vector<std::uint8_t> hex_to_bytes(std::wstring_view text);
std::vector<std::uint8_t> hex_to_bytes(std::string_view text);

// Exactly `count` bytes from the first 2 x count bytes of an 8-bit text; digits missing
// at the end give 0x00 bytes.
std::vector<std::uint8_t> hex_to_bytes_fixed(std::string_view text, std::size_t count);

// Strict reading for typed command-line input: an even number of digits 0-9, A-F or
// a-f. Returns false (and leaves *error set) when the text is not such a text.
bool parse_hex_strict(std::string_view text, std::vector<std::uint8_t> &out, std::string *error = nullptr);

// "[41][0F]" for the bytes 0x41 0x0F.
std::wstring bracketed_hex(const std::uint8_t *bytes, std::size_t count);

// Plain upper-case hexadecimal digits, "410F" for the bytes 0x41 0x0F.
std::string plain_hex(const std::uint8_t *bytes, std::size_t count);

// Upper-case digit pairs separated by blanks, "41 0F" for the bytes 0x41 0x0F.
std::wstring spaced_hex(const std::uint8_t *bytes, std::size_t count);

// A text of at most `width` characters stays whole; a longer one is cut into pieces of
// `width` characters from the front, joined by "\n  ".
std::wstring fold_lines(std::wstring_view text, std::size_t width = 120);

}  // namespace tolvex::bench
