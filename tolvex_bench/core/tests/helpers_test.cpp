#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "decimal.hpp"
#include "hex.hpp"
#include "text.hpp"

namespace tolvex::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(HexRule, PairsAndInvalidCharacters) {
  EXPECT_EQ(hex_to_bytes(std::wstring_view(L"0A1BFF")), (Bytes{0x0A, 0x1B, 0xFF}));
  // Lower case is invalid: as first character it leaves a high nibble of 0,
  // as second character it zeroes the byte.
  EXPECT_EQ(hex_to_bytes(std::wstring_view(L"a5")), (Bytes{0x05}));
  EXPECT_EQ(hex_to_bytes(std::wstring_view(L"5a")), (Bytes{0x00}));
  EXPECT_EQ(hex_to_bytes(std::wstring_view(L"G7 7")), (Bytes{0x07, 0x07}));
  EXPECT_EQ(hex_to_bytes(std::wstring_view(L"7G")), (Bytes{0x00}));
  // Odd length: the unpaired last digit gives 0x00.
  EXPECT_EQ(hex_to_bytes(std::wstring_view(L"123")), (Bytes{0x12, 0x00}));
  EXPECT_TRUE(hex_to_bytes(std::wstring_view(L"")).empty());
  // Decimal digits land as packed BCD.
  EXPECT_EQ(hex_to_bytes(std::string_view("2026")), (Bytes{0x20, 0x26}));
  // Bytes above 0x7F in 8-bit text are never digits.
  EXPECT_EQ(hex_to_bytes(std::string_view("\xC1"
                                          "1")),
            (Bytes{0x01}));
  EXPECT_EQ(hex_pair(L'F', L'\0'), 0);
}

TEST(HexRule, FixedCountTruncatesAndZeroFills) {
  EXPECT_EQ(hex_to_bytes_fixed("0102030405", 2), (Bytes{0x01, 0x02}));
  EXPECT_EQ(hex_to_bytes_fixed("0102", 4), (Bytes{0x01, 0x02, 0x00, 0x00}));
  EXPECT_EQ(hex_to_bytes_fixed("012", 3), (Bytes{0x01, 0x00, 0x00}));
  EXPECT_EQ(hex_to_bytes_fixed("", 1), (Bytes{0x00}));
}

TEST(HexStrict, AcceptsEvenDigitsInEitherCase) {
  Bytes out;
  std::string error;
  EXPECT_TRUE(parse_hex_strict("0aFf", out, &error));
  EXPECT_EQ(out, (Bytes{0x0A, 0xFF}));
  EXPECT_TRUE(parse_hex_strict("", out, &error));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(parse_hex_strict("ABC", out, &error));
  EXPECT_NE(error.find("odd"), std::string::npos);
  EXPECT_FALSE(parse_hex_strict("0G", out, &error));
  EXPECT_NE(error.find("'G' at position 2"), std::string::npos);
  EXPECT_TRUE(out.empty());
}

TEST(HexText, BracketedAndPlainAndFolding) {
  const std::uint8_t b[] = {0x41, 0x0F};
  EXPECT_EQ(bracketed_hex(b, 2), L"[41][0F]");
  EXPECT_EQ(plain_hex(b, 2), "410F");
  EXPECT_EQ(fold_lines(std::wstring(120, L'x')), std::wstring(120, L'x'));
  EXPECT_EQ(fold_lines(std::wstring(121, L'x')), std::wstring(120, L'x') + L"\n  x");
  EXPECT_EQ(fold_lines(std::wstring(240, L'x')), std::wstring(120, L'x') + L"\n  " + std::wstring(120, L'x'));
}

TEST(Decimal, LeadingNumberReading) {
  EXPECT_EQ(parse_decimal(std::wstring_view(L"  -42abc")), -42);
  EXPECT_EQ(parse_decimal(std::wstring_view(L"\t+7")), 7);
  EXPECT_EQ(parse_decimal(std::wstring_view(L"abc")), 0);
  EXPECT_EQ(parse_decimal(std::wstring_view(L"")), 0);
  EXPECT_EQ(parse_decimal(std::wstring_view(L"-")), 0);
  EXPECT_EQ(parse_decimal(std::wstring_view(L"- 5")), 0);
  EXPECT_EQ(parse_decimal(std::string_view("2147483647")), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(parse_decimal(std::string_view("2147483648")), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(parse_decimal(std::string_view("-2147483648")), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(parse_decimal(std::string_view("-99999999999999999999999")), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(parse_decimal(std::string_view("000123")), 123);
  EXPECT_EQ(decimal_text(-5), L"-5");
  EXPECT_EQ(decimal_text(std::numeric_limits<std::int32_t>::min()), L"-2147483648");
}

TEST(TextConversion, Utf8RoundTripAndReplacement) {
  EXPECT_EQ(to_wide("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), L"caf\u00E9 \u20AC \U0001F600");
  EXPECT_EQ(to_narrow(L"caf\u00E9 \u20AC \U0001F600"), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  // Stray continuation, truncated sequence at the end, overlong form, encoded surrogate.
  EXPECT_EQ(to_wide("a\x80z"), L"a\uFFFDz");
  EXPECT_EQ(to_wide("a\xE2\x82"), L"a\uFFFD");
  EXPECT_EQ(to_wide("\xC0\xAF!"), L"\uFFFD\uFFFD!");
  EXPECT_EQ(to_wide("\xED\xA0\x80x"), L"\uFFFDx");
  EXPECT_EQ(to_wide("\xF5\x80"), L"\uFFFD\uFFFD");
  EXPECT_EQ(to_wide("\xE2(x"), L"\uFFFD(x");
  // Wide values that are no scalar value.
  EXPECT_EQ(to_narrow(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(to_narrow(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
}

TEST(TextConversion, BufferLimitsCutAtCharacterBoundaries) {
  EXPECT_EQ(to_wide(std::string(6000, 'a')).size(), kWideBufferChars - 1);
  EXPECT_EQ(to_narrow(std::wstring(6000, L'a')).size(), kNarrowBufferBytes - 1);
  // 3-byte characters: 1666 fit into 4999 bytes (4998), the next would not.
  const std::string narrow = to_narrow(std::wstring(2000, L'\u20AC'));
  EXPECT_EQ(narrow.size(), 4998u);
  EXPECT_EQ(to_wide(narrow), std::wstring(1666, L'\u20AC'));
  // Printing whole reports has no bound.
  EXPECT_EQ(to_utf8(std::wstring(6000, L'\u20AC')).size(), 18000u);
}

TEST(TextConversion, ResponseTextStopsAtZeroOrCapacity) {
  const std::uint8_t buf[] = {'A', 'B', 0, 'C', 'D'};
  EXPECT_EQ(response_text(buf, 5, 0), L"AB");
  EXPECT_EQ(response_text(buf, 5, 3), L"CD");
  EXPECT_EQ(response_text(buf, 5, 5), L"");
  EXPECT_EQ(response_text(buf, 5, 99), L"");
  EXPECT_EQ(response_text(nullptr, 5, 0), L"");
}

}  // namespace
}  // namespace tolvex::bench
