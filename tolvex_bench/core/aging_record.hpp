// The record of an aging run an engineer can keep and compare: a CSV file with one row
// per cycle and a short text summary, both named by the run's start time. Each row goes
// to the file in one write as its cycle ends, so the file holds every finished cycle
// whatever ends the program; it is synced to disk at least once a minute and at the end.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "aging_engine.hpp"

namespace tolvex::bench {

class AgingRecord {
 public:
  using Clock = std::chrono::system_clock;
  static constexpr std::chrono::seconds kSyncInterval{60};

  // Files "aging-YYYYMMDD-HHMMSS.csv" and "aging-YYYYMMDD-HHMMSS.txt" (local start
  // time) in `folder`, which is created when missing. Nothing is written yet.
  AgingRecord(std::filesystem::path folder, Clock::time_point start);
  ~AgingRecord();
  AgingRecord(const AgingRecord &) = delete;
  AgingRecord &operator=(const AgingRecord &) = delete;

  // Opens the CSV file and writes its header. When a run started in the same second
  // left its files there, the names get "-2", "-3", ... so that no record is lost.
  void begin();
  // One row: local time, cycle, kind, each step as CODE:RESULT (a held draw as
  // CODE:RESULT*DRAWS:held-SECONDSs), what became of the card and why it was captured.
  void add(const AgingCycle &cycle, Clock::time_point when);
  // Syncs and closes the CSV file, then writes and syncs the summary file.
  void finish(const AgingSummary &summary, Clock::time_point end);

  const std::filesystem::path &csv_path() const { return csv_path_; }
  const std::filesystem::path &summary_path() const { return summary_path_; }

  // Why the record could not be written, the first time only: empty when all went well
  // or the warning was taken before. Writing stops after a failure; the run goes on.
  std::string take_warning();

 private:
  void fail(const std::string &what);
  void close_csv();

  std::filesystem::path folder_;
  std::string stem_;
  std::filesystem::path csv_path_;
  std::filesystem::path summary_path_;
  Clock::time_point start_;
  int csv_ = -1;
  std::chrono::steady_clock::time_point synced_;
  bool failed_ = false;
  bool warned_ = false;
  std::string warning_;
};

// "0" for success, "0x2203" for a terminal code, "102" for a library code.
std::string result_text(int result);

// Local time as "2026-12-08 00:12:03".
std::string local_time_text(AgingRecord::Clock::time_point when);

// "5.702 s".
std::string seconds_text(std::chrono::milliseconds duration);

// "card at the exit since 00:12:03".
std::string held_text(AgingRecord::Clock::time_point since);
// "card at the exit taken after 5.702 s, 57 draws refused".
std::string hold_ended_text(const AgingStep &held);

// "cycle 5 at 2026-12-08 00:12:03, I21 0x2208 (The IC card contact error.)": a failing
// command with its result code in the report's words.
std::string failure_text(const AgingFailure &failure);

// The summary as the record keeps it and the command line prints it: the totals, per
// item the first and the last failure, the captures by cause, the longest cycle and why
// the run ended.
std::string summary_text(const AgingSummary &summary, AgingRecord::Clock::time_point start,
                         AgingRecord::Clock::time_point end);

}  // namespace tolvex::bench
