#include "aging_record.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "report.hpp"
#include "text.hpp"

namespace tolvex::bench {

namespace {

#ifdef _WIN32
// Records are bytes as written (no newline translation) and are not inherited by children.
constexpr int kRecordOpenFlags = O_WRONLY | O_CREAT | O_TRUNC | O_BINARY | O_NOINHERIT;
int sync_to_disk(int fd) { return ::_commit(fd); }
int open_record(const std::filesystem::path &path) { return ::_wopen(path.c_str(), kRecordOpenFlags, 0644); }
// _write takes an unsigned count; larger texts go in several writes.
long long write_some(int fd, const char *p, std::size_t n) {
  constexpr std::size_t kMaxChunk = 1u << 30;
  return ::_write(fd, p, static_cast<unsigned>(n < kMaxChunk ? n : kMaxChunk));
}
#else
constexpr int kRecordOpenFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
int sync_to_disk(int fd) { return ::fsync(fd); }
int open_record(const std::filesystem::path &path) { return ::open(path.c_str(), kRecordOpenFlags, 0644); }
long long write_some(int fd, const char *p, std::size_t n) { return ::write(fd, p, n); }
#endif

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

// Writes all of `text`; false with errno set when the file refuses it.
bool write_all(int fd, const std::string &text) {
  const char *p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const long long n = write_some(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string step_text(const AgingStep &s) {
  std::string out(s.code, 3);
  out += ':';
  out += s.sent ? result_text(s.result) : "not-started";
  if (s.repeats > 0) {
    std::string held = seconds_text(s.held);  // "5.700 s" becomes "5.700s"
    held.erase(held.size() - 2, 1);
    out += "*" + std::to_string(s.repeats) + ":held-" + held;
  }
  return out;
}

constexpr const char *kItems[6] = {"Track 1", "Track 2", "Track 3", "IC", "RF", "All Read"};

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

std::string seconds_text(std::chrono::milliseconds duration) {
  const long long ms = duration.count() < 0 ? 0 : static_cast<long long>(duration.count());
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lld.%03lld s", ms / 1000, ms % 1000);
  return buffer;
}

std::string held_text(AgingRecord::Clock::time_point since) { return "card at the exit since " + format(since, "%H:%M:%S"); }

std::string hold_ended_text(const AgingStep &held) {
  return "card at the exit taken after " + seconds_text(held.held) + ", " + std::to_string(held.repeats) +
         (held.repeats == 1 ? " draw refused" : " draws refused");
}

std::string failure_text(const AgingFailure &f) {
  std::string out = "cycle " + std::to_string(f.cycle) + " at " + local_time_text(f.when) + ", " + std::string(f.code, 3);
  if (!f.sent) return out + " not started";
  out += " " + result_text(f.result);
  if (const std::wstring words = result_message(f.result); !words.empty()) out += " (" + to_utf8(words) + ")";
  return out;
}

std::string summary_text(const AgingSummary &summary, AgingRecord::Clock::time_point start,
                         AgingRecord::Clock::time_point end) {
  std::string out = "Aging run\nStart: " + local_time_text(start) + "\nEnd: " + local_time_text(end) +
                    "\nDuration: " + seconds_text(std::chrono::duration_cast<std::chrono::milliseconds>(end - start)) +
                    "\nCycles: " + std::to_string(summary.done) + " of " + std::to_string(summary.count) + "\n";
  // Rates as the page shows them: over every cycle begun, the one the run ended in too.
  const auto cycles = static_cast<std::uint32_t>(summary.begun > 0 ? summary.begun : 0);
  for (std::size_t m = 0; m < 5; ++m) {
    const std::uint32_t n = summary.counted[m];
    out += std::string(kItems[m]) + ": " + std::to_string(n) + " counted, " +
           (cycles == 0 ? std::string("0") : to_utf8(AgingStats::rate_text(n, cycles))) + "%, " +
           std::to_string(summary.other[m]) + " other\n";
  }
  if (summary.other[5] != 0) out += "All Read: " + std::to_string(summary.other[5]) + " other\n";
  for (std::size_t m = 0; m < 6; ++m) {
    if (summary.first_failure[m].cycle == 0) continue;
    out += std::string(kItems[m]) + " first failure: " + failure_text(summary.first_failure[m]) + "\n";
    out += std::string(kItems[m]) + " last failure: " + failure_text(summary.last_failure[m]) + "\n";
  }
  std::uint32_t captured = 0;
  for (std::uint32_t n : summary.captured) captured += n;
  out += "Captured: " + std::to_string(captured);
  for (std::size_t c = 0; c < kCaptureCauses; ++c) {
    out += (c == 0 ? " (" : ", ") + to_utf8(cause_text(static_cast<CaptureCause>(c + 1))) + " " +
           std::to_string(summary.captured[c]);
  }
  out += ")\n";
  if (summary.longest_cycle != 0) {
    out += "Longest cycle: " + std::to_string(summary.longest_cycle) + ", " + seconds_text(summary.longest) + "\n";
  }
  out += "Ended: " + to_utf8(end_text(summary.end));
  if (summary.ended_by.cycle != 0) out += " in " + failure_text(summary.ended_by);
  if (!summary.message.empty()) out += " (" + to_utf8(summary.message) + ")";
  out += "\n";
  return out;
}

AgingRecord::AgingRecord(std::filesystem::path folder, Clock::time_point start)
    : folder_(std::move(folder)), start_(start) {
  stem_ = "aging-" + format(start, "%Y%m%d-%H%M%S");
  csv_path_ = folder_ / (stem_ + ".csv");
  summary_path_ = folder_ / (stem_ + ".txt");
}

AgingRecord::~AgingRecord() { close_csv(); }

void AgingRecord::close_csv() {
  if (csv_ >= 0) ::close(csv_);
  csv_ = -1;
}

void AgingRecord::fail(const std::string &what) {
  if (failed_) return;
  failed_ = true;
  warning_ = what + (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
  close_csv();
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
    errno = 0;
    fail("cannot create " + folder_.string() + ": " + ec.message());
    return;
  }
  for (int n = 2; std::filesystem::exists(csv_path_, ec) || std::filesystem::exists(summary_path_, ec); ++n) {
    const std::string stem = stem_ + "-" + std::to_string(n);
    csv_path_ = folder_ / (stem + ".csv");
    summary_path_ = folder_ / (stem + ".txt");
  }
  csv_ = open_record(csv_path_);
  synced_ = std::chrono::steady_clock::now();
  if (csv_ < 0 || !write_all(csv_, "time,cycle,kind,steps,card,cause\n")) fail("cannot write " + csv_path_.string());
}

void AgingRecord::add(const AgingCycle &cycle, Clock::time_point when) {
  if (failed_ || csv_ < 0) return;
  std::string row = local_time_text(when) + "," + std::to_string(cycle.number) + "," + to_utf8(kind_text(cycle.kind)) + ",";
  for (std::size_t k = 0; k < cycle.steps.size(); ++k) row += (k == 0 ? "" : " ") + step_text(cycle.steps[k]);
  row += std::string(",") + (cycle.complete ? card_text(cycle.card) : "run-ended") + ",";
  if (cycle.card == AgingCycle::Card::Captured) row += to_utf8(cause_text(cycle.cause));
  row += "\n";
  if (!write_all(csv_, row)) {
    fail("cannot write " + csv_path_.string());
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - synced_ >= kSyncInterval) {
    if (sync_to_disk(csv_) != 0) fail("cannot sync " + csv_path_.string());
    synced_ = now;
  }
}

void AgingRecord::finish(const AgingSummary &summary, Clock::time_point end) {
  if (csv_ >= 0 && sync_to_disk(csv_) != 0) fail("cannot sync " + csv_path_.string());
  close_csv();
  if (failed_) return;
  const int fd = open_record(summary_path_);
  const bool written = fd >= 0 && write_all(fd, summary_text(summary, start_, end)) && sync_to_disk(fd) == 0;
  if (fd >= 0) ::close(fd);
  if (!written) fail("cannot write " + summary_path_.string());
}

}  // namespace tolvex::bench
