// The record of an aging run an engineer can keep and compare: a CSV file with one row
// per cycle and a short text summary, both named by the run's start time.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "aging_engine.hpp"

namespace tolvex::bench {

class AgingRecord {
 public:
  using Clock = std::chrono::system_clock;

  // Files "aging-YYYYMMDD-HHMMSS.csv" and "aging-YYYYMMDD-HHMMSS.txt" (local start
  // time) in `folder`, which is created when missing. Nothing is written yet.
  AgingRecord(std::filesystem::path folder, Clock::time_point start);

  // Opens the CSV file and writes its header. When a run started in the same second
  // left its files there, the names get "-2", "-3", ... so that no record is lost.
  void begin();
  // One row: local time, cycle, kind, each step as CODE:RESULT, and what became of the card.
  void add(const AgingCycle &cycle, Clock::time_point when);
  // Writes the summary file and closes the CSV file.
  void finish(const AgingSummary &summary, Clock::time_point end);

  const std::filesystem::path &csv_path() const { return csv_path_; }
  const std::filesystem::path &summary_path() const { return summary_path_; }

  // Why the record could not be written, the first time only: empty when all went well
  // or the warning was taken before. Writing stops after a failure; the run goes on.
  std::string take_warning();

 private:
  void fail(const std::string &what);

  std::filesystem::path folder_;
  std::string stem_;
  std::filesystem::path csv_path_;
  std::filesystem::path summary_path_;
  Clock::time_point start_;
  std::ofstream csv_;
  bool failed_ = false;
  bool warned_ = false;
  std::string warning_;
};

// "0" for success, "0x2203" for a terminal code, "102" for a library code.
std::string result_text(int result);

// Local time as "2026-12-08 00:12:03".
std::string local_time_text(AgingRecord::Clock::time_point when);

}  // namespace tolvex::bench
