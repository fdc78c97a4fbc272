// Error statistics of an aging run: counts card errors per medium at most once per
// cycle and keeps the five texts of the "ERROR" group.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tolvex::bench {

class AgingStats {
 public:
  enum Item : std::uint8_t { kReset = 0, kTrack1 = 1, kTrack2 = 2, kTrack3 = 3, kIc = 4, kRf = 5, kAllTracks = 6 };
  enum Verdict : std::uint8_t { kNoError = 0, kCardError = 1, kOtherError = 2 };

  // Zeroes the five counters and the three marks; the texts keep what they show.
  void reset() noexcept;

  // Classifies the result code of the command just completed for `item` in cycle
  // `cycle` (completed cycles + 1): 0 no error, 1 counted card error, 2 other error.
  // Item 0 is reset(). Every other item rewrites the five texts for this cycle.
  std::uint8_t check(std::uint8_t item, std::uint32_t cycle, int result);

  // True for the result codes counted as card errors.
  static bool is_card_error(int result) noexcept;

  // "33.33", "5.00", "0.50", "100" or "0": n errors in c cycles as a percentage.
  static std::wstring rate_text(std::uint32_t n, std::uint32_t c);

  std::uint32_t track1() const noexcept { return counts_[0]; }
  std::uint32_t track2() const noexcept { return counts_[1]; }
  std::uint32_t track3() const noexcept { return counts_[2]; }
  std::uint32_t ic() const noexcept { return counts_[3]; }
  std::uint32_t rf() const noexcept { return counts_[4]; }

  // "Track1: 1 , 33.33%", "Track2: ...", "Track3: ...", "IC: ...", "RF: ...": the texts
  // as the last check left them (empty before the first check).
  const std::array<std::wstring, 5> &texts() const noexcept { return texts_; }

 private:
  void rewrite_texts(std::uint32_t cycle);

  std::array<std::uint32_t, 5> counts_{};  // track 1, 2, 3, IC, RF
  std::uint32_t mark1_ = 0;                // shared by track 1, IC, RF and all tracks
  std::uint32_t mark2_ = 0;
  std::uint32_t mark3_ = 0;
  std::array<std::wstring, 5> texts_;
};

}  // namespace tolvex::bench
