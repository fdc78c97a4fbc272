// Waiting for a command's outcome without an event loop: sleeps on the library's
// completion notifications, for the command-line tool and headless runs.
#pragma once

#include <chrono>
#include <functional>

namespace tolvex::bench {

class CompletionWait {
 public:
  // Installs the library's completion handler; one instance at a time.
  CompletionWait();
  ~CompletionWait();
  CompletionWait(const CompletionWait &) = delete;
  CompletionWait &operator=(const CompletionWait &) = delete;

  // Returns true once `collected()` returns true. When `limit` passes first, or when
  // `abandon()` turns true, the command in flight is asked to stop (exe_stop); when no
  // outcome follows within `stop_limit`, returns false.
  bool wait(const std::function<bool()> &collected, const std::function<bool()> &abandon = {});

  // Past `limit` the library has lost the command; by default the longest a command can
  // take in the library at the terminal's speeds.
  void set_limits(std::chrono::milliseconds limit, std::chrono::milliseconds stop_limit) {
    limit_ = limit;
    stop_limit_ = stop_limit;
  }

 private:
  std::chrono::milliseconds limit_;
  std::chrono::milliseconds stop_limit_ = std::chrono::seconds(5);
};

}  // namespace tolvex::bench
