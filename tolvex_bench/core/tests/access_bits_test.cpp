// Access bytes of a sector trailer: check, decode and lock detection, against the
// card's access-condition tables.
#include <gtest/gtest.h>

#include <string>

#include "access_bits.hpp"

using namespace tolvex::bench;

namespace {

// Builds the three condition bytes the way the card lays them out, from the C1 C2 C3
// bits of each group ("110" = C1 1, C2 1, C3 0), plus a free fourth byte.
AccessBytes encode(const char *g0, const char *g1, const char *g2, const char *trailer) {
  // Bit g of condition n is character n of group g.
  const auto condition = [&](int n) {
    return (g0[n] == '1' ? 1 : 0) | (g1[n] == '1' ? 2 : 0) | (g2[n] == '1' ? 4 : 0) | (trailer[n] == '1' ? 8 : 0);
  };
  const int c[3] = {condition(0), condition(1), condition(2)};
  const auto inv = [](int n) { return ~n & 0x0F; };
  return {static_cast<std::uint8_t>(inv(c[1]) << 4 | inv(c[0])), static_cast<std::uint8_t>(c[0] << 4 | inv(c[2])),
          static_cast<std::uint8_t>(c[2] << 4 | c[1]), 0x69};
}

std::string words(KeyUse u) {
  switch (u) {
    case KeyUse::KeyA: return "A";
    case KeyUse::KeyB: return "B";
    case KeyUse::KeyAOrB: return "AB";
    case KeyUse::Never: return "-";
  }
  return "?";
}

}  // namespace

TEST(AccessBits, KnownTrailersDecode) {
  // Transport configuration, the usual key-B-managed layout and its value-block form.
  const struct {
    AccessBytes bytes;
    int data, trailer;
  } known[] = {{{0xFF, 0x07, 0x80, 0x69}, 0b000, 0b001},
               {{0x78, 0x77, 0x88, 0x00}, 0b100, 0b011},
               {{0x08, 0x77, 0x8F, 0x00}, 0b110, 0b011}};
  for (const auto &k : known) {
    EXPECT_TRUE(access_mismatches(k.bytes).empty());
    for (int g = 0; g < 3; ++g) EXPECT_EQ(access_condition(k.bytes, g), k.data);
    EXPECT_EQ(access_condition(k.bytes, 3), k.trailer);
  }
  EXPECT_EQ(encode("110", "110", "110", "011"), (AccessBytes{0x08, 0x77, 0x8F, 0x69}));
  // Each group reads its own bit: only group 1 differs.
  const AccessBytes mixed = encode("000", "111", "000", "001");
  EXPECT_EQ(access_condition(mixed, 0), 0);
  EXPECT_EQ(access_condition(mixed, 1), 7);
  EXPECT_EQ(access_condition(mixed, 2), 0);
  EXPECT_EQ(access_condition(mixed, 3), 1);
}

// The data-block table: read, write, increment, decrement/transfer/restore.
TEST(AccessBits, DataBlockTable) {
  const struct {
    const char *bits;
    const char *expected;
  } rows[] = {
      {"000", "AB AB AB AB"}, {"010", "AB - - -"}, {"100", "AB B - -"}, {"110", "AB B B AB"},
      {"001", "AB - - AB"},   {"011", "B B - -"},  {"101", "B - - -"},  {"111", "- - - -"},
  };
  for (const auto &row : rows) {
    const AccessBytes bytes = encode(row.bits, "000", row.bits, "001");
    ASSERT_TRUE(access_mismatches(bytes).empty()) << row.bits;
    const DataAccess a = data_access(access_condition(bytes, 2));
    EXPECT_EQ(words(a.read) + " " + words(a.write) + " " + words(a.increment) + " " + words(a.decrement), row.expected)
        << row.bits;
    EXPECT_EQ(data_access(access_condition(bytes, 0)), a);
  }
}

// The trailer table: key A write, access bits read and write, key B read and write;
// the last column is what no key may ever write again.
TEST(AccessBits, TrailerTableAndLocks) {
  const struct {
    const char *bits;
    const char *expected;
    bool key_a_locked, access_locked, key_b_locked;
  } rows[] = {
      {"000", "A A - A A", false, true, false},    {"010", "- A - A -", true, true, true},
      {"100", "B AB - - B", false, true, false},   {"110", "- AB - - -", true, true, true},
      {"001", "A A A A A", false, false, false},   {"011", "B AB B - B", false, false, false},
      {"101", "- AB B - -", true, false, true},    {"111", "- AB - - -", true, true, true},
  };
  for (const auto &row : rows) {
    const AccessBytes bytes = encode("000", "000", "000", row.bits);
    const TrailerAccess t = trailer_access(access_condition(bytes, 3));
    EXPECT_EQ(words(t.key_a_write) + " " + words(t.access_read) + " " + words(t.access_write) + " " +
                  words(t.key_b_read) + " " + words(t.key_b_write),
              row.expected)
        << row.bits;
    const TrailerLocks locks = trailer_locks(bytes);
    EXPECT_EQ(locks.key_a, row.key_a_locked) << row.bits;
    EXPECT_EQ(locks.access_bits, row.access_locked) << row.bits;
    EXPECT_EQ(locks.key_b, row.key_b_locked) << row.bits;
    EXPECT_EQ(lock_warning_text(bytes, 5).empty(), !locks.any()) << row.bits;
  }
  EXPECT_EQ(lock_warning_text(encode("000", "000", "000", "101"), 7),
            L"WARNING: WITH THESE ACCESS CONDITIONS NO KEY CAN EVER CHANGE KEY A AND KEY B OF SECTOR 7 AGAIN.\n"
            L"WRITE THEM TO THE CARD?");
  EXPECT_NE(lock_warning_text(encode("000", "000", "000", "111"), 7).find(L"KEY A, THE ACCESS BITS AND KEY B"),
            std::wstring::npos);
}

// Every inverted nibble is checked against its partner; the fourth byte is free.
TEST(AccessBits, MismatchesNameTheBytes) {
  EXPECT_TRUE(access_mismatches({0xFF, 0x07, 0x80, 0x00}).empty());
  EXPECT_TRUE(access_error_text({0xFF, 0x07, 0x80, 0xAB}).empty());

  const struct {
    AccessBytes bytes;
    std::vector<int> bad_bits;
  } cases[] = {
      {{0xFE, 0x07, 0x80, 0x69}, {1}},        // ~C1 in byte 1 low nibble
      {{0xFF, 0x07, 0x81, 0x69}, {2}},        // C2 in byte 3 low nibble
      {{0xFF, 0x06, 0x80, 0x69}, {3}},        // ~C3 in byte 2 low nibble
      {{0x00, 0x00, 0x00, 0x00}, {1, 2, 3}},  // all zero: nothing inverted
      {{0xFF, 0xFF, 0xFF, 0xFF}, {1, 2, 3}},
  };
  for (const auto &c : cases) {
    std::vector<int> bits;
    for (const AccessMismatch &m : access_mismatches(c.bytes)) bits.push_back(m.bit);
    EXPECT_EQ(bits, c.bad_bits);
  }
  EXPECT_EQ(access_error_text({0xFF, 0x17, 0x80, 0x69}),
            L"INVALID ACCESS BYTES, NOTHING SENT:\nC1 IN BYTE 7 (17) IS NOT THE INVERSE OF BYTE 6 (FF)");
  EXPECT_FALSE(trailer_locks({0xFF, 0x07, 0x80, 0x69}).any());
}

TEST(AccessBits, WordsFollowTheSector) {
  const AccessBytes bytes = encode("000", "010", "110", "011");
  const auto small = access_in_words(bytes, 31);
  ASSERT_EQ(small.size(), 5u);  // key B is not readable: no note
  EXPECT_EQ(small[1], L"Block 1: read A/B, write never, incr. never, decr. never");
  EXPECT_EQ(small[3], L"Trailer (block 3): key A write B; key B read never, write B");
  EXPECT_EQ(small[4], L"Access bits: read A/B, write B");
  const auto large = access_in_words(bytes, 32);
  EXPECT_EQ(large[2], L"Blocks 10-14: read A/B, write B, incr. B, decr. A/B");

  const auto transport = access_in_words({0xFF, 0x07, 0x80, 0x69}, -1);
  ASSERT_EQ(transport.size(), 6u);
  EXPECT_EQ(transport[0].rfind(L"Block 0 / 0-4: ", 0), 0u);
  EXPECT_EQ(transport[3], L"Trailer: key A write A; key B read A, write A");
  EXPECT_NE(transport[5].find(L"Key B is readable"), std::wstring::npos);

  // Bytes are numbered as in the trailer, 6 to 8.
  const auto broken = access_in_words({0xFF, 0x07, 0x81, 0x69}, 4);
  ASSERT_EQ(broken.size(), 2u);
  EXPECT_EQ(broken[1], L"C2 in byte 8 (81) is not the inverse of byte 6 (FF)");

  // Sector 0 begins with the manufacturer block, whatever its condition grants.
  const auto first = access_in_words({0xFF, 0x07, 0x80, 0x69}, 0);
  EXPECT_EQ(first[0], L"Block 0: manufacturer block, read A/B; no key writes it");
  EXPECT_EQ(first[1], L"Block 1: read A/B, write A/B, incr. A/B, decr. A/B");
  EXPECT_EQ(access_in_words({0xFF, 0x07, 0x80, 0x69}, 1)[0], L"Block 0: read A/B, write A/B, incr. A/B, decr. A/B");

  const std::pair<int, int> trailers[] = {{0, 3}, {31, 3}, {32, 15}, {39, 15}};
  for (const auto &[sector, block] : trailers) EXPECT_EQ(trailer_block(sector), block) << sector;
}
