#include "aging_stats.hpp"

#include <gtest/gtest.h>
#include <tolvex/protocol.hpp>

#include <limits>

namespace tolvex::bench {
namespace {

TEST(AgingRate, TextForms) {
  EXPECT_EQ(AgingStats::rate_text(1, 3), L"33.33");
  EXPECT_EQ(AgingStats::rate_text(1, 20), L"5.00");
  EXPECT_EQ(AgingStats::rate_text(1, 200), L"0.50");
  EXPECT_EQ(AgingStats::rate_text(7, 7), L"100");
  EXPECT_EQ(AgingStats::rate_text(0, 9), L"0");
  EXPECT_EQ(AgingStats::rate_text(1, 30000), L"0.00");
  EXPECT_EQ(AgingStats::rate_text(2, 3), L"66.66");
  // More counts than cycles (track 2 can count twice in one cycle).
  EXPECT_EQ(AgingStats::rate_text(3, 2), L"150.00");
  // n x 10000 needs 64 bits.
  constexpr auto kMax = std::numeric_limits<std::uint32_t>::max();
  EXPECT_EQ(AgingStats::rate_text(kMax - 1, kMax), L"99.99");
  EXPECT_EQ(AgingStats::rate_text(kMax, 1), L"429496729500.00");
}

TEST(AgingCheck, VerdictsAndTexts) {
  AgingStats s;
  EXPECT_EQ(s.check(AgingStats::kTrack1, 1, 0), 0);
  EXPECT_EQ(s.texts()[0], L"Track1: 0 , 0%");
  EXPECT_EQ(s.check(AgingStats::kTrack1, 3, 0x2203), 1);
  EXPECT_EQ(s.texts()[0], L"Track1: 1 , 33.33%");
  EXPECT_EQ(s.texts()[1], L"Track2: 0 , 0%");
  EXPECT_EQ(s.texts()[2], L"Track3: 0 , 0%");
  EXPECT_EQ(s.texts()[3], L"IC: 0 , 0%");
  EXPECT_EQ(s.texts()[4], L"RF: 0 , 0%");
  // Error-free cycles lower the rate.
  EXPECT_EQ(s.check(AgingStats::kIc, 20, 0), 0);
  EXPECT_EQ(s.texts()[0], L"Track1: 1 , 5.00%");
  // IC contact error is not counted and asks the run to stop.
  EXPECT_EQ(s.check(AgingStats::kIc, 21, 0x2208), 2);
  EXPECT_EQ(s.ic(), 0u);
  EXPECT_EQ(s.check(AgingStats::kRf, 21, 2), 2);
  EXPECT_EQ(s.check(AgingStats::kRf, 21, 0x2305), 1);
  EXPECT_EQ(s.texts()[4], L"RF: 1 , 4.76%");
  // A count equal to the cycle number shows 100.
  AgingStats one;
  EXPECT_EQ(one.check(AgingStats::kIc, 1, 0x2205), 1);
  EXPECT_EQ(one.texts()[3], L"IC: 1 , 100%");
}

TEST(AgingCheck, EveryCountedCode) {
  namespace st = terminal_status;
  for (int code : {st::kMsWrite, st::kMsRead, st::kIcCommand, st::kMsBlank, st::kCardError, st::kRfWrite,
                   st::kRfRead, st::kNoRfCard}) {
    EXPECT_TRUE(AgingStats::is_card_error(code)) << code;
  }
  for (int code : {0, 1, 2, 2000, 0x2204, 0x2208, 0x2302, 0x2306, -1}) {
    EXPECT_FALSE(AgingStats::is_card_error(code)) << code;
  }
}

TEST(AgingCheck, OncePerCycleAndSharedTrack1Mark) {
  AgingStats s;
  // Track 1 write and read errors in the same cycle count once.
  s.check(AgingStats::kTrack1, 1, 0x2202);
  s.check(AgingStats::kTrack1, 1, 0x2203);
  EXPECT_EQ(s.track1(), 1u);
  // Track 1 error, then a failed all-tracks read in the same cycle: no further counts.
  s.check(AgingStats::kAllTracks, 1, 0x2203);
  EXPECT_EQ(s.track1(), 1u);
  EXPECT_EQ(s.track2(), 0u);
  EXPECT_EQ(s.track3(), 0u);
  // Track 2 error, then a failed all-tracks read in the same cycle: track 2 counts twice.
  s.check(AgingStats::kTrack2, 2, 0x2202);
  s.check(AgingStats::kAllTracks, 2, 0x2209);
  EXPECT_EQ(s.track1(), 2u);
  EXPECT_EQ(s.track2(), 2u);
  EXPECT_EQ(s.track3(), 1u);
  EXPECT_EQ(s.texts()[1], L"Track2: 2 , 100%");
  // IC and RF share the track 1 mark: an IC error blocks the RF count of the same cycle.
  s.check(AgingStats::kIc, 3, 0x2205);
  s.check(AgingStats::kRf, 3, 0x2304);
  EXPECT_EQ(s.ic(), 1u);
  EXPECT_EQ(s.rf(), 0u);
  // Track 3 has its own mark, and the next cycle counts again.
  s.check(AgingStats::kTrack3, 3, 0x2202);
  s.check(AgingStats::kTrack3, 3, 0x2202);
  s.check(AgingStats::kRf, 4, 0x2304);
  EXPECT_EQ(s.track3(), 2u);
  EXPECT_EQ(s.rf(), 1u);
}

TEST(AgingCheck, ResetZeroesCountsButKeepsTexts) {
  AgingStats s;
  s.check(AgingStats::kTrack1, 1, 0x2203);
  EXPECT_EQ(s.check(AgingStats::kReset, 0, 0x2203), 0);
  EXPECT_EQ(s.track1(), 0u);
  EXPECT_EQ(s.texts()[0], L"Track1: 1 , 100%");
  // Marks are zeroed too: cycle 1 counts again after the reset.
  s.check(AgingStats::kTrack1, 1, 0x2203);
  EXPECT_EQ(s.track1(), 1u);
}

}  // namespace
}  // namespace tolvex::bench
