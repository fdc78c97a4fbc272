#include "records.hpp"
#include "text.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace tolvex::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Rotation, FirstCharacterMovesToTheEnd) {
  EXPECT_EQ(rotate_text(std::string_view("ABC")), "BCA");
  EXPECT_EQ(rotate_text(std::string_view("")), "");
  EXPECT_EQ(rotate_text(std::string_view("Z")), "Z");
  const std::wstring track2 = L"1234567890123456789012345678901234567";
  const std::wstring once = rotate_text(track2);
  EXPECT_EQ(once.front(), L'2');
  EXPECT_EQ(once.back(), L'1');
  EXPECT_EQ(once.size(), 37u);
  EXPECT_EQ(rotate_text(once), L"3456789012345678901234567890123456712");
  EXPECT_EQ(rotate_text(std::wstring_view(L"\u00C4BC")), L"BC\u00C4");
}

TEST(AllWrite, BlockLayoutAndBound) {
  const auto block = all_write_block("AB", "C", "");
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(*block, (Bytes{'A', 'B', 0, 'C', 0}));
  const auto defaults = all_write_block(std::string(76, '1'), std::string(37, '2'), std::string(104, '3'));
  ASSERT_TRUE(defaults.has_value());
  EXPECT_EQ(defaults->size(), 219u);
  // 297 text bytes + 2 separators + the final zero fill 300 bytes exactly.
  EXPECT_TRUE(all_write_block(std::string(297, 'x'), "", "").has_value());
  EXPECT_FALSE(all_write_block(std::string(298, 'x'), "", "").has_value());
}

TEST(AllRead, SplitsThreeTracks) {
  const Bytes ok{0x01, 'A', 'B', 0, 'C', 'D', 0, 'E', 'F', 0};
  AllReadTracks t = split_all_read(ok.data(), ok.size());
  EXPECT_EQ(t.frame_error, 0);
  EXPECT_EQ(t.filled, 3);
  EXPECT_EQ(t.tracks[0], "AB");
  EXPECT_EQ(t.tracks[1], "CD");
  EXPECT_EQ(t.tracks[2], "EF");
  EXPECT_TRUE(t.message().empty());

  // Track 3 without a terminator ends at the buffer's end; empty tracks are fine.
  const Bytes open_end{0x01, 0, 0, 'X', 'Y'};
  t = split_all_read(open_end.data(), open_end.size());
  EXPECT_EQ(t.frame_error, 0);
  EXPECT_EQ(t.tracks[0], "");
  EXPECT_EQ(t.tracks[1], "");
  EXPECT_EQ(t.tracks[2], "XY");
}

TEST(AllRead, MissingSeparators) {
  const Bytes no_first{0x01, 'A', 'B'};
  AllReadTracks t = split_all_read(no_first.data(), no_first.size());
  EXPECT_EQ(t.frame_error, 2);
  EXPECT_EQ(t.filled, 0);
  EXPECT_EQ(t.message(), L"RX Packet Frame Error 2");

  const Bytes no_second{0x01, 'A', 0, 'C', 'D'};
  t = split_all_read(no_second.data(), no_second.size());
  EXPECT_EQ(t.frame_error, 3);
  EXPECT_EQ(t.filled, 1);
  EXPECT_EQ(t.tracks[0], "A");
  EXPECT_EQ(t.message(), L"RX Packet Frame Error 3");

  // A zero byte 300 bytes after the start is out of reach.
  Bytes far(400, 'x');
  far[301] = 0;
  EXPECT_EQ(split_all_read(far.data(), far.size()).frame_error, 2);
  far[301] = 'x';
  far[300] = 0;
  EXPECT_EQ(split_all_read(far.data(), far.size()).frame_error, 3);

  EXPECT_EQ(split_all_read(nullptr, 10).frame_error, 2);
  const Bytes one{0x01};
  EXPECT_EQ(split_all_read(one.data(), one.size()).frame_error, 2);
}

TEST(Apdu, AssemblesBufferAndLength) {
  Apdu a = assemble_apdu({"00", "A4", "04", "00", "02", "3F00", ""});
  ASSERT_TRUE(a.ok());
  EXPECT_EQ(a.buffer, (Bytes{0x00, 0x07, 0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00}));
  EXPECT_EQ(a.call_length(), 9u);

  // Le present, Lc empty gives 0 and is not computed from the data.
  a = assemble_apdu({"80", "CA", "9F", "7F", "", "", "2D"});
  ASSERT_TRUE(a.ok());
  EXPECT_EQ(a.buffer, (Bytes{0x00, 0x06, 0x80, 0xCA, 0x9F, 0x7F, 0x00, 0x2D}));

  // Header boxes use two characters by the hexadecimal byte rule.
  a = assemble_apdu({"5", "G1", "1G", "A4X", "", "", ""});
  ASSERT_TRUE(a.ok());
  EXPECT_EQ(a.buffer, (Bytes{0x00, 0x05, 0x00, 0x01, 0x00, 0xA4, 0x00}));
}

TEST(Apdu, RefusesIncompleteInput) {
  EXPECT_EQ(assemble_apdu({"00", "", "04", "00", "", "", ""}).problem, L"INS is empty");
  EXPECT_EQ(assemble_apdu({"", "A4", "04", "00", "", "", ""}).problem, L"CLA is empty");
  EXPECT_EQ(assemble_apdu({"00", "A4", "04", "00", "01", "3F0", ""}).problem,
            L"[Lc Data] has an odd number of digits");
  // 5 + 293 + 2 = 300 fits; one more data byte does not.
  EXPECT_TRUE(assemble_apdu({"00", "A4", "04", "00", "FF", std::string(586, '1'), ""}).ok());
  EXPECT_FALSE(assemble_apdu({"00", "A4", "04", "00", "FF", std::string(588, '1'), ""}).ok());
  EXPECT_TRUE(assemble_apdu({"00", "A4", "04", "00", "FF", std::string(588, '1'), ""}).buffer.empty());
}

TEST(Mifare, ValueBlocks) {
  const auto hundred = value_block(100);
  EXPECT_EQ(Bytes(hundred.begin(), hundred.end()),
            (Bytes{0x64, 0, 0, 0, 0x9B, 0xFF, 0xFF, 0xFF, 0x64, 0, 0, 0, 0xAA, 0x55, 0xAA, 0x55}));
  const auto minus_one = value_block(-1);
  EXPECT_EQ(Bytes(minus_one.begin(), minus_one.end()),
            (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0x55, 0xAA, 0x55}));
}

TEST(Mifare, KeyRecords) {
  EXPECT_EQ(key_record("A0A1A2A3A4A5", "B0B1B2B3B4B5", false, std::nullopt),
            (Bytes{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5}));
  EXPECT_EQ(key_record("A0A1A2A3A4A5FFFF", "B0", false, std::string_view("FF078069")),
            (Bytes{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xFF, 0x07, 0x80, 0x69, 0xB0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(key_record("ABCD", "1234567", true, std::nullopt),
            (Bytes{'A', 'B', 'C', 'D', 0, 0, '1', '2', '3', '4', '5', '6'}));
}

// A key is written whole or not at all; the message names the box.
TEST(Mifare, KeyAndTrailerTextsAreChecked) {
  struct Case {
    const wchar_t *box;
    std::wstring text;
    bool ascii;
    std::wstring problem;
  };
  const Case keys[] = {
      {L"KEY A", L"A0A1A2A3A4A5", false, L""},
      {L"KEY A", L"A0A1A2A3A4A", false, L"KEY A: 11 DIGITS; A HEX KEY IS EXACTLY 12 HEXADECIMAL DIGITS. NOTHING SENT."},
      {L"KEY B", L"A0A1A2A3A4A5F", false, L"KEY B: 13 DIGITS; A HEX KEY IS EXACTLY 12 HEXADECIMAL DIGITS. NOTHING SENT."},
      {L"KEY B", L"", false, L"KEY B: 0 DIGITS; A HEX KEY IS EXACTLY 12 HEXADECIMAL DIGITS. NOTHING SENT."},
      {L"KEY A", L"A0A1G2A3A4A5", false, L"KEY A: CHARACTER 5 IS NOT A HEXADECIMAL DIGIT. NOTHING SENT."},
      {L"KEY A", L"a0a1a2a3a4a5", false, L"KEY A: CHARACTER 1 IS NOT A HEXADECIMAL DIGIT. NOTHING SENT."},
      {L"KEY A", L"SECRET", true, L""},
      {L"KEY A", L"", true, L""},
      {L"KEY B", L"SECRET!", true, L"KEY B: 7 BYTES; AN ASCII KEY IS AT MOST 6 BYTES. NOTHING SENT."},
      // Three characters of two bytes each fill a key; four do not.
      {L"KEY A", L"\u00C4\u00D6\u00DC", true, L""},
      {L"KEY A", L"\u00C4\u00D6\u00DCA", true, L"KEY A: 7 BYTES; AN ASCII KEY IS AT MOST 6 BYTES. NOTHING SENT."},
  };
  for (const Case &c : keys) EXPECT_EQ(key_text_problem(c.box, to_narrow(c.text), c.ascii), c.problem) << c.text;

  const std::string trailer = "FFFFFFFFFFFFFF078069FFFFFFFFFFFF";
  EXPECT_TRUE(trailer_text_problem(trailer, false).empty());
  EXPECT_EQ(trailer_text_problem(trailer.substr(1), false),
            L"INPUT: 31 DIGITS; A SECTOR TRAILER (KEY A, ACCESS BYTES, KEY B) IS EXACTLY 32 HEXADECIMAL DIGITS. "
            L"NOTHING SENT.");
  EXPECT_TRUE(trailer_text_problem(std::string(16, 'X'), true).empty());
  EXPECT_EQ(trailer_text_problem(std::string(17, 'X'), true),
            L"INPUT: 17 BYTES; A SECTOR TRAILER IN ASCII IS AT MOST 16 BYTES. NOTHING SENT.");
}

// The byte rule, the counts and the limits apply to the 8-bit text: for ASCII nothing
// changes, a character of two bytes counts two.
TEST(Mifare, TextsAreTakenAsBytes) {
  EXPECT_EQ(work_text(L"AB"), "AB");
  EXPECT_EQ(work_text(std::wstring(299, L'A')).size(), 299u);
  EXPECT_EQ(work_text(std::wstring(300, L'A')).size(), 299u);
  EXPECT_EQ(work_text(std::wstring(150, L'\u00C4')).size(), 299u);

  // "\u00C4" is C3 84: one byte 00 of its own, and the digits after it pair up as typed.
  EXPECT_EQ(ultralight_page(to_narrow(L"\u00C412")), (std::array<std::uint8_t, 4>{0x00, 0x12, 0x00, 0x00}));
  EXPECT_EQ(block_from_ascii(to_narrow(L"\u00C4BC"))[0], 0xC3);
  EXPECT_EQ(block_from_ascii(to_narrow(L"\u00C4BC"))[1], 0x84);
  // Two characters but three bytes: odd, not sent.
  EXPECT_FALSE(auth_bytes(to_narrow(L"\u00C41")).has_value());
  EXPECT_EQ(auth_bytes(to_narrow(L"\u00C412")), (Bytes{0x00, 0x12}));

  EXPECT_TRUE(auth_text_problem(std::string(299, '1')).empty());
  EXPECT_EQ(auth_text_problem(std::string(300, '1')),
            L"INPUT: 300 BYTES; THE TEXT OF \"AUTH\" IS AT MOST 299 BYTES. NOTHING SENT.");
  EXPECT_FALSE(auth_text_problem(to_narrow(std::wstring(150, L'\u00C4'))).empty());
}

TEST(Mifare, BlockSectorAndPageData) {
  const auto hex = block_from_hex("ABC");
  EXPECT_EQ(hex[0], 0xAB);
  EXPECT_EQ(Bytes(hex.begin() + 1, hex.end()), Bytes(15, 0));
  const auto ascii = block_from_ascii("HELLO WORLD, HELLO CARD");
  EXPECT_EQ(std::string(ascii.begin(), ascii.end()), "HELLO WORLD, HEL");
  EXPECT_EQ(block_from_ascii("HI")[2], 0);

  const Bytes small = sector_data(31, "0102");
  ASSERT_EQ(small.size(), 51u);
  EXPECT_EQ(small[1], 0x02);
  EXPECT_EQ(small[50], 0);
  const Bytes large = sector_data(32, std::string(600, '7'));
  ASSERT_EQ(large.size(), 256u);
  EXPECT_EQ(large[0], 0x20);
  EXPECT_EQ(large[255], 0x77);

  const auto page = ultralight_page("0102");
  EXPECT_EQ(Bytes(page.begin(), page.end()), (Bytes{0x01, 0x02, 0x00, 0x00}));
  EXPECT_FALSE(auth_bytes("1234567").has_value());
  EXPECT_EQ(auth_bytes(""), Bytes{});
  EXPECT_EQ(auth_bytes("0A0B"), (Bytes{0x0A, 0x0B}));
}

}  // namespace
}  // namespace tolvex::bench
