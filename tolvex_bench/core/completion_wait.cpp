#include "completion_wait.hpp"

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include <tolvex/protocol.hpp>
#include <tolvex/tolvex.h>

namespace tolvex::bench {

namespace {

// Completion notifications of the library. Lives as long as the process, so a late
// notification after a wait gave up never reaches a destroyed object.
struct Completions {
  std::mutex mutex;
  std::condition_variable done;
  std::uint64_t count = 0;
};

Completions &completions() {
  static Completions c;
  return c;
}

void on_completion(std::uint8_t /*prc_no*/, void * /*ctx*/) {
  Completions &c = completions();
  {
    std::lock_guard<std::mutex> lock(c.mutex);
    ++c.count;
  }
  c.done.notify_all();
}

// The longest a command can take in the library at the terminal's speeds: kSendsMax
// sends, each a frame write, the long reply window from its drain, and the one-byte
// write that may be under way when the window ends. A write may take kWriteBaseMs plus
// twice its transmission, here at the slowest speed with 12 bits a character: 58.59 s.
constexpr std::chrono::milliseconds write_bound(std::size_t bytes) {
  const long long bits = static_cast<long long>(bytes) * 12;
  return std::chrono::milliseconds(kWriteBaseMs + 2 * ((bits * 1000 + kTerminalBauds[0] - 1) / kTerminalBauds[0]));
}
constexpr std::chrono::milliseconds kCommandBound =
    kSendsMax * (write_bound(kFrameBufferSize) + std::chrono::milliseconds(kLongReplyMs) + write_bound(1));

// How often a wait looks at the abandon check between two notifications.
constexpr auto kSlice = std::chrono::milliseconds(50);

}  // namespace

CompletionWait::CompletionWait() : limit_(kCommandBound) { tolvex_set_completion_handler(&on_completion, nullptr); }

CompletionWait::~CompletionWait() { tolvex_set_completion_handler(nullptr, nullptr); }

bool CompletionWait::wait(const std::function<bool()> &collected, const std::function<bool()> &abandon) {
  Completions &c = completions();
  auto deadline = std::chrono::steady_clock::now() + limit_;
  bool stopped = false;
  for (;;) {
    std::uint64_t seen;
    {
      std::lock_guard<std::mutex> lock(c.mutex);
      seen = c.count;
    }
    // A completion after `seen` was taken ends the sleep below, so none is missed.
    if (collected()) return true;
    const auto now = std::chrono::steady_clock::now();
    if (!stopped && (now >= deadline || (abandon && abandon()))) {
      exe_stop();
      stopped = true;
      deadline = now + stop_limit_;
      continue;
    }
    if (stopped && now >= deadline) return false;
    std::unique_lock<std::mutex> lock(c.mutex);
    c.done.wait_for(lock, std::min<std::chrono::steady_clock::duration>(kSlice, deadline - now),
                    [&] { return c.count != seen; });
  }
}

}  // namespace tolvex::bench
