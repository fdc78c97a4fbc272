// What the port benchmarks share: the process's CPU time, and one command run to its
// end with the completion handler waking the caller (no polling adds to the CPU measured).
// The same source builds on Linux and on Windows.
#pragma once

#include <tolvex/tolvex.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

namespace tolvex::benchmarks {

inline double process_cpu_seconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ticks = [](FILETIME f) { return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
#else
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
#endif
}

struct CompletionSignal {
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
};

inline CompletionSignal &completion_signal() {
  static CompletionSignal signal;
  return signal;
}

inline void TOLVEX_CALL on_completion(uint8_t, void *) {
  CompletionSignal &s = completion_signal();
  std::lock_guard<std::mutex> guard(s.lock);
  s.finished = true;
  s.done.notify_all();
}

// Registers the completion handler run_command waits on.
inline void wake_on_completion() { tolvex_set_completion_handler(&on_completion, nullptr); }

// Starts one command through `start`, waits for its outcome and returns its result (-1
// when the library refused it or no outcome came within 20 s).
template <typename Start>
int run_command(Start start) {
  CompletionSignal &s = completion_signal();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    s.finished = false;
  }
  if (start() <= 0) return -1;
  std::unique_lock<std::mutex> guard(s.lock);
  if (!s.done.wait_for(guard, std::chrono::seconds(20), [&s] { return s.finished; })) return -1;
  int result = -1;
  chk_res(nullptr, nullptr, nullptr, &result);
  return result;
}

}  // namespace tolvex::benchmarks
