#include "ms_ic.hpp"

#include <gtest/gtest.h>

#include <random>

#include "hex.hpp"
#include "records.hpp"

namespace tolvex::bench {
namespace {

using Positions = std::vector<std::size_t>;

TEST(TrackHint, LengthAgainstCapacityAndCharactersOutsideTheRange) {
  struct Case {
    int track;
    std::wstring text;
    std::size_t capacity;
    Positions unencodable;
    std::wstring shown;
  };
  const Case cases[] = {
      // Track 1 takes 0x20-0x5F: blank, digits, upper case, '_' ; not lower case or '`'.
      {1, L" 09AZ_^", 76, {}, L"7/76"},
      {1, L"A`a\x7F\x1F", 76, {1, 2, 3, 4}, L"5/76, 4 not encodable"},
      // Tracks 2 and 3 take 0x30-0x3F only: digits and : ; < = > ?
      {2, L"0123456789:;<=>?", 37, {}, L"16/37"},
      {2, L"/1@A 2\n", 37, {0, 2, 3, 4, 6}, L"7/37, 5 not encodable"},
      {3, L"\u00C41", 104, {0}, L"2/104, 1 not encodable"},
      {3, L"", 104, {}, L"0/104"},
  };
  for (const Case &c : cases) {
    const TrackHint hint = track_hint(c.track, c.text);
    EXPECT_EQ(hint.capacity, c.capacity) << c.track;
    EXPECT_EQ(hint.unencodable, c.unencodable) << c.track;
    EXPECT_EQ(hint.text(), c.shown) << c.track;
  }
  EXPECT_FALSE(track_hint(2, std::wstring(37, L'1')).too_long());
  EXPECT_TRUE(track_hint(2, std::wstring(38, L'1')).too_long());
  EXPECT_FALSE(track_hint(1, std::wstring(76, L'A')).too_long());
  EXPECT_TRUE(track_hint(1, std::wstring(77, L'A')).too_long());
}

TEST(BufferChecks, TextsThatDoNotFitNameTheBoxAndTheLimit) {
  EXPECT_TRUE(track_text_problem(2, 299).empty());
  EXPECT_EQ(track_text_problem(2, 300), L"Track2: 300 bytes, at most 299 fit. Nothing was sent.");
  EXPECT_NE(track_text_problem(3, 5000).find(L"Track3"), std::wstring::npos);

  // 297 text bytes and two separators are the largest block.
  EXPECT_TRUE(all_write_problem(100, 100, 97).empty());
  EXPECT_TRUE(all_write_problem(76, 37, 104).empty());
  const std::wstring over = all_write_problem(100, 100, 98);
  EXPECT_NE(over.find(L"300 bytes"), std::wstring::npos);
  EXPECT_NE(over.find(L"at most 299"), std::wstring::npos);
  // The check and the block builder agree on the bound.
  for (const std::size_t n : {296u, 297u, 298u, 299u}) {
    EXPECT_EQ(all_write_problem(n, 0, 0).empty(), all_write_block(std::string(n, 'x'), "", "").has_value()) << n;
  }

  // An APDU too long for its buffer names the data box and the limit.
  const Apdu apdu = assemble_apdu({"00", "D6", "00", "00", "FF", std::string(588, '1'), ""});
  EXPECT_EQ(apdu.problem, L"[Lc Data]: an APDU of 299 bytes, at most 298 fit with its two length bytes.");
}

TEST(BufferChecks, AWriteSkippedMidRunSaysWhatWasSent) {
  EXPECT_TRUE(track_step_skipped(3, 299, 2).empty());
  EXPECT_EQ(track_step_skipped(3, 300, 2),
            L"Track3: 300 bytes, at most 299 fit. This write was not sent. The 2 commands before it were sent; "
            L"the steps after it still run.");
  EXPECT_NE(track_step_skipped(2, 400, 1).find(L"The 1 command before it was sent;"), std::wstring::npos);
  EXPECT_NE(track_step_skipped(2, 400, 0).find(L"Nothing was sent before it;"), std::wstring::npos);
}

TEST(AnswerToReset, StructureDecodedOrRefused) {
  using Bytes = std::vector<std::uint8_t>;
  struct Case {
    Bytes atr;
    std::wstring problem;
    std::vector<int> protocols;
    Bytes historical;
  };
  const Case cases[] = {
      // TB1 and TC1, six historical bytes, T=0 only: no TCK.
      {{0x3B, 0x66, 0x00, 0x00, 'T', 'V', 'X', 'S', 'I', 'M'}, L"", {0}, {'T', 'V', 'X', 'S', 'I', 'M'}},
      {{0x3F, 0x00}, L"", {0}, {}},
      // TD1 offers T=0, TD2 T=1: TCK follows, the XOR of T0 to TCK is 0.
      {{0x3B, 0x81, 0x80, 0x01, 0x80, 0x80}, L"", {0, 1}, {0x80}},
      {{0x3B, 0x80, 0x80, 0x01, 0x01}, L"", {0, 1}, {}},
      // T=15 only announces global bytes: T=0 is still the protocol, TCK is due.
      {{0x3B, 0x80, 0x0F, 0x8F}, L"", {0}, {}},
      {{0x3B, 0x80, 0x80, 0x01, 0x00}, L"check byte TCK does not match", {0, 1}, {}},
      {{0x3B, 0x66}, L"ends inside its interface bytes", {}, {}},
      {{0x3B, 0x06, 'T'}, L"3 bytes where its structure gives 8", {0}, {}},
      {{0x3B, 0x00, 0x90, 0x00}, L"2 bytes after its end", {0}, {}},
      {{0x3B, 0xF0, 0x11}, L"ends inside its interface bytes", {}, {}},
      {{0x90, 0x00}, L"TS 90 is neither 3B nor 3F", {}, {}},
      {{0x3B}, L"1 byte, too short", {}, {}},
      {{}, L"0 bytes, too short", {}, {}},
      {Bytes(34, 0x3B), L"34 bytes, more than 33", {}, {}},
  };
  for (const Case &c : cases) {
    const AnswerToReset atr = decode_answer_to_reset(c.atr.data(), c.atr.size());
    const std::wstring shown = spaced_hex(c.atr.data(), c.atr.size());
    EXPECT_EQ(atr.problem, c.problem) << shown;
    EXPECT_EQ(atr.historical, c.historical) << shown;
    if (!c.protocols.empty()) {
      EXPECT_EQ(atr.protocols, c.protocols) << shown;
    }
  }
}

// Whatever the terminal sends: never a read past the bytes (the sanitizer runs see
// that), and a valid answer always holds the historical bytes T0 counts.
TEST(AnswerToReset, AnyBytesDecodeSafely) {
  std::mt19937 random(21);
  for (int round = 0; round < 20000; ++round) {
    std::vector<std::uint8_t> bytes(random() % 36);
    for (auto &b : bytes) b = static_cast<std::uint8_t>(random());
    if (!bytes.empty() && round % 2 == 0) bytes[0] = 0x3B;
    const AnswerToReset atr = decode_answer_to_reset(bytes.data(), bytes.size());
    if (atr.valid()) {
      ASSERT_EQ(atr.historical.size(), std::size_t{bytes[1] & 0x0Fu});
      ASSERT_FALSE(atr.protocols.empty());
    }
    ASSERT_EQ(answer_to_reset_lines(bytes.data(), bytes.size()).front(), spaced_hex(bytes.data(), bytes.size()));
  }
}

TEST(AnswerToReset, LinesForTheIcGroup) {
  const std::uint8_t sim[] = {0x3B, 0x66, 0x00, 0x00, 'T', 'V', 'X', 'S', 'I', 'M'};
  EXPECT_EQ(answer_to_reset_lines(sim, sizeof sim),
            (std::vector<std::wstring>{L"3B 66 00 00 54 56 58 53 49 4D", L"TS 3B direct convention", L"Protocol T=0",
                                       L"Historical: \"TVXSIM\""}));
  const std::uint8_t binary[] = {0x3F, 0x82, 0x80, 0x01, 0x00, 0x10, 0x13};
  EXPECT_EQ(answer_to_reset_lines(binary, sizeof binary),
            (std::vector<std::wstring>{L"3F 82 80 01 00 10 13", L"TS 3F inverse convention", L"Protocols T=0, T=1",
                                       L"Historical: 00 10"}));
  const std::uint8_t status[] = {0x90, 0x00};
  EXPECT_EQ(answer_to_reset_lines(status, sizeof status),
            (std::vector<std::wstring>{L"90 00", L"not a valid answer-to-reset:", L"TS 90 is neither 3B nor 3F"}));
}

TEST(StatusWord, HexAndWords) {
  struct Case {
    std::uint8_t sw1, sw2;
    const wchar_t *hex;
    const wchar_t *words;
  };
  const Case cases[] = {
      {0x90, 0x00, L"90 00", L"success"},
      {0x61, 0x10, L"61 10", L"success, 16 more bytes available"},
      {0x6C, 0x08, L"6C 08", L"wrong Le: 8 bytes available"},
      {0x67, 0x00, L"67 00", L"wrong length"},
      {0x69, 0x82, L"69 82", L"security status not satisfied"},
      {0x69, 0x86, L"69 86", L"command not allowed: no current EF"},
      {0x6A, 0x82, L"6A 82", L"file not found"},
      {0x6B, 0x00, L"6B 00", L"wrong offset (P1 P2)"},
      {0x63, 0xC2, L"63 C2", L"warning: counter 2"},
      {0x69, 0x99, L"69 99", L"command not allowed"},
      {0x6A, 0x00, L"6A 00", L"wrong parameters P1 P2"},
      {0x92, 0x34, L"92 34", L"application-specific status"},
      // An answer to reset begins with TS, which is no status word.
      {0x3B, 0x66, L"3B 66", L"no status word"},
      {0x00, 0x00, L"00 00", L"no status word"},
      {0x70, 0x00, L"70 00", L"no status word"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(status_word_hex(c.sw1, c.sw2), c.hex);
    EXPECT_EQ(status_word_text(c.sw1, c.sw2), c.words) << c.hex;
  }
}

}  // namespace
}  // namespace tolvex::bench
