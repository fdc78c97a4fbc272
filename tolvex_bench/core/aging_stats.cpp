#include "aging_stats.hpp"

#include <tolvex/protocol.hpp>

namespace tolvex::bench {

void AgingStats::reset() noexcept {
  counts_ = {};
  mark1_ = mark2_ = mark3_ = 0;
}

bool AgingStats::is_card_error(int result) noexcept {
  namespace st = terminal_status;
  switch (result) {
    case st::kMsWrite:
    case st::kMsRead:
    case st::kIcCommand:
    case st::kMsBlank:
    case st::kCardError:
    case st::kRfWrite:
    case st::kRfRead:
    case st::kNoRfCard:
      return true;
    default:
      return false;
  }
}

std::uint8_t AgingStats::check(std::uint8_t item, std::uint32_t cycle, int result) {
  if (item == kReset) {
    reset();
    return kNoError;
  }
  std::uint8_t verdict = kNoError;
  if (is_card_error(result)) {
    verdict = kCardError;
    if (item == kTrack1 && mark1_ != cycle) {
      ++counts_[0];
      mark1_ = cycle;
    } else if (item == kTrack2 && mark2_ != cycle) {
      ++counts_[1];
      mark2_ = cycle;
    } else if (item == kTrack3 && mark3_ != cycle) {
      ++counts_[2];
      mark3_ = cycle;
    } else if (mark1_ != cycle && (item == kIc || item == kRf || item == kAllTracks)) {
      if (item == kIc) {
        ++counts_[3];
      } else if (item == kRf) {
        ++counts_[4];
      } else {
        ++counts_[0];
        ++counts_[1];
        ++counts_[2];
      }
      mark1_ = cycle;
    }
  } else if (result != 0) {
    verdict = kOtherError;
  }
  rewrite_texts(cycle);
  return verdict;
}

std::wstring AgingStats::rate_text(std::uint32_t n, std::uint32_t c) {
  if (n == c) return L"100";
  if (n == 0 || c == 0) return L"0";
  const std::uint64_t r = std::uint64_t{n} * 10000u / c;
  std::wstring fraction = std::to_wstring(r % 100);
  if (fraction.size() < 2) fraction.insert(0, 1, L'0');
  return std::to_wstring(r / 100) + L"." + fraction;
}

void AgingStats::rewrite_texts(std::uint32_t cycle) {
  static constexpr const wchar_t *kLabels[5] = {L"Track1: ", L"Track2: ", L"Track3: ", L"IC: ", L"RF: "};
  for (std::size_t i = 0; i < texts_.size(); ++i) {
    texts_[i] = kLabels[i] + std::to_wstring(counts_[i]) + L" , " + rate_text(counts_[i], cycle) + L"%";
  }
}

}  // namespace tolvex::bench
