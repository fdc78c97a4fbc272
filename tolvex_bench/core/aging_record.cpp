#include "aging_record.hpp"

#include <cstdio>
#include <ctime>
#include <system_error>

#include "text.hpp"

namespace tolvex::bench {

namespace {

std::tm local(AgingRecord::Clock::time_point when) {
  const std::time_t t = AgingRecord::Clock::to_time_t(when);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

std::string format(AgingRecord::Clock::time_point when, const char *pattern) {
  const std::tm tm = local(when);
  char buffer[64];
  const std::size_t n = std::strftime(buffer, sizeof buffer, pattern, &tm);
  return std::string(buffer, n);
}

const char *card_text(AgingCycle::Card card) {
  switch (card) {
    case AgingCycle::Card::Ejected: return "ejected";
    case AgingCycle::Card::Captured: return "captured";
    case AgingCycle::Card::Left: break;
  }
  return "kept";
}

}  // namespace

std::string result_text(int result) {
  char buffer[16];
  if (result >= 0x1000 && result <= 0xFFFF) {
    std::snprintf(buffer, sizeof buffer, "0x%04X", static_cast<unsigned>(result));
  } else {
    std::snprintf(buffer, sizeof buffer, "%d", result);
  }
  return buffer;
}

std::string local_time_text(AgingRecord::Clock::time_point when) { return format(when, "%Y-%m-%d %H:%M:%S"); }

AgingRecord::AgingRecord(std::filesystem::path folder, Clock::time_point start)
    : folder_(std::move(folder)), start_(start) {
  stem_ = "aging-" + format(start, "%Y%m%d-%H%M%S");
  csv_path_ = folder_ / (stem_ + ".csv");
  summary_path_ = folder_ / (stem_ + ".txt");
}

void AgingRecord::fail(const std::string &what) {
  if (failed_) return;
  failed_ = true;
  warning_ = what;
  csv_.close();
}

std::string AgingRecord::take_warning() {
  if (!failed_ || warned_) return {};
  warned_ = true;
  return warning_;
}

void AgingRecord::begin() {
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  if (ec) {
    fail("cannot create " + folder_.string() + ": " + ec.message());
    return;
  }
  for (int n = 2; std::filesystem::exists(csv_path_, ec) || std::filesystem::exists(summary_path_, ec); ++n) {
    const std::string stem = stem_ + "-" + std::to_string(n);
    csv_path_ = folder_ / (stem + ".csv");
    summary_path_ = folder_ / (stem + ".txt");
  }
  csv_.open(csv_path_, std::ios::out | std::ios::trunc);
  csv_ << "time,cycle,kind,steps,card\n" << std::flush;
  if (!csv_) fail("cannot write " + csv_path_.string());
}

void AgingRecord::add(const AgingCycle &cycle, Clock::time_point when) {
  if (failed_) return;
  csv_ << local_time_text(when) << ',' << cycle.number << ',' << to_utf8(kind_text(cycle.kind)) << ',';
  for (std::size_t k = 0; k < cycle.steps.size(); ++k) {
    const AgingStep &s = cycle.steps[k];
    csv_ << (k == 0 ? "" : " ") << std::string(s.code, 3) << ':' << (s.sent ? result_text(s.result) : "not-started");
  }
  csv_ << ',' << (cycle.complete ? card_text(cycle.card) : "run-ended") << '\n' << std::flush;
  if (!csv_) fail("cannot write " + csv_path_.string());
}

void AgingRecord::finish(const AgingSummary &summary, Clock::time_point end) {
  csv_.close();
  if (failed_) return;
  std::ofstream out(summary_path_, std::ios::out | std::ios::trunc);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - start_).count();
  char duration[32];
  std::snprintf(duration, sizeof duration, "%lld.%03lld s", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  out << "Aging run\n"
      << "Start: " << local_time_text(start_) << "\n"
      << "End: " << local_time_text(end) << "\n"
      << "Duration: " << duration << "\n"
      << "Cycles: " << summary.done << " of " << summary.count << "\n";
  static constexpr const char *kMedia[5] = {"Track 1", "Track 2", "Track 3", "IC", "RF"};
  // Rates as the page shows them: over every cycle begun, the one the run ended in too.
  const auto cycles = static_cast<std::uint32_t>(summary.begun > 0 ? summary.begun : 0);
  for (std::size_t m = 0; m < 5; ++m) {
    const std::uint32_t n = summary.counted[m];
    out << kMedia[m] << ": " << n << " counted, "
        << (cycles == 0 ? std::string("0") : to_utf8(AgingStats::rate_text(n, cycles))) << "%, " << summary.other[m]
        << " other\n";
  }
  if (summary.other[5] != 0) out << "All Read: " << summary.other[5] << " other\n";
  out << "Ended: " << to_utf8(end_text(summary.end));
  if (!summary.message.empty()) out << " (" << to_utf8(summary.message) << ")";
  out << "\n";
  out.flush();
  if (!out) fail("cannot write " + summary_path_.string());
}

}  // namespace tolvex::bench
