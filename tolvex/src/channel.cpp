#include "channel.hpp"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "messages.hpp"
#include "port_names.hpp"
#include "tolvex/tolvex.h"

namespace tolvex {
namespace {

// True on the I/O thread: the destructor must not wait for the thread it runs on.
thread_local bool t_on_io_thread = false;

// What each registered descriptor of the I/O thread's set stands for.
enum WatchTag : std::uint32_t { kWakeTag = 0, kTimerTag = 1, kPortTag = 2 };

bool watch(int epoll_fd, int op, int fd, std::uint32_t events, WatchTag tag) {
  epoll_event ev{};
  ev.events = events;
  ev.data.u32 = tag;
  return ::epoll_ctl(epoll_fd, op, fd, &ev) == 0;
}

// Sleeps on the set until something is ready or the timeout (none: nullptr) runs out.
int wait_for(int epoll_fd, epoll_event *events, int max, const timespec *timeout) {
  // Timeouts in nanoseconds, as drains on a real port are awaited in steps of 20 us; a
  // kernel (or a sandbox) without that call gets milliseconds, rounded up.
  static std::atomic<bool> precise{true};
  if (precise.load(std::memory_order_relaxed)) {
    const int n = ::epoll_pwait2(epoll_fd, events, max, timeout, nullptr);
    if (n >= 0 || (errno != ENOSYS && errno != EPERM)) return n;
    precise.store(false, std::memory_order_relaxed);
  }
  int ms = -1;
  if (timeout != nullptr) {
    const long long up = timeout->tv_sec * 1000LL + (timeout->tv_nsec + 999999) / 1000000;
    ms = static_cast<int>(std::min<long long>(INT_MAX, up));
  }
  return ::epoll_wait(epoll_fd, events, max, ms);
}

std::uint64_t nanoseconds_of(Clock::time_point t) {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
}

}  // namespace

Channel::Channel() {
  init_messages();  // the message handler outlives this object
  if (const char *path = std::getenv("TOLVEX_TRACE"); path != nullptr && path[0] != '\0') {
    trace_file_ = std::fopen(path, "a");
    if (trace_file_ == nullptr) {
      show_message((std::string("TOLVEX_TRACE: cannot open ") + path + ": " + std::strerror(errno)).c_str());
    }
  }
  update_trace_locked();
}

Channel::~Channel() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    shutdown_ = true;
    close_locked();
  }
  wake();
  if (thread_.joinable()) {
    if (t_on_io_thread) {
      thread_.detach();  // the program ends from inside a handler on the I/O thread
    } else {
      thread_.join();
    }
  }
  if (wake_fd_ >= 0 && !t_on_io_thread) ::close(wake_fd_);
  if (timer_fd_ >= 0 && !t_on_io_thread) ::close(timer_fd_);
  if (epoll_fd_ >= 0 && !t_on_io_thread) ::close(epoll_fd_);
  if (trace_file_ != nullptr && !t_on_io_thread) std::fclose(trace_file_);
}

Channel &default_channel() {
  static Channel channel;
  return channel;
}

void Channel::set_error(const std::string &text) {
  std::lock_guard<std::mutex> guard(error_lock_);
  error_ = text;
}

const char *Channel::port_error() {
  thread_local std::string copy;
  std::lock_guard<std::mutex> guard(error_lock_);
  copy = error_;
  return copy.c_str();
}

void Channel::wake() {
  if (wake_fd_ < 0) return;
  const std::uint64_t one = 1;
  (void)!::write(wake_fd_, &one, sizeof one);
}

bool Channel::ensure_thread_locked() {
  if (thread_.joinable()) return true;
  if (wake_fd_ < 0) {
    wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) return false;
  }
  if (timer_fd_ < 0) {
    timer_fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (timer_fd_ < 0) return false;
  }
  if (epoll_fd_ < 0) {
    epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_fd_ < 0) return false;
    if (!watch(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, EPOLLIN, kWakeTag) ||
        !watch(epoll_fd_, EPOLL_CTL_ADD, timer_fd_, EPOLLIN, kTimerTag)) {
      ::close(epoll_fd_);
      epoll_fd_ = -1;
      return false;
    }
  }
  try {
    thread_ = std::thread([this] { run(); });
  } catch (...) {
    return false;
  }
  return true;
}

void Channel::watch_port_locked() {
  const int fd = transport_.is_open() && !transport_.hung_up() ? transport_.readable_fd() : -1;
  const std::uint32_t events = EPOLLIN | (link_.wants_writable() ? EPOLLOUT : 0u);
  if (fd == watched_fd_ && (fd < 0 || events == watched_events_)) return;
  if (watched_fd_ >= 0 && fd != watched_fd_) {
    watch(epoll_fd_, EPOLL_CTL_DEL, watched_fd_, 0, kPortTag);
    watched_fd_ = -1;
  }
  if (fd < 0) return;
  const int op = watched_fd_ == fd ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
  if (watch(epoll_fd_, op, fd, events, kPortTag)) {
    watched_fd_ = fd;
    watched_events_ = events;
  }
}

void Channel::arm_timer_locked(Clock::time_point at, Clock::time_point now) {
  // A timer still to fire before this deadline wakes the I/O thread in time: it then
  // sleeps again until the deadline it finds.
  if (at == Clock::time_point::max() || (timer_at_ > now && timer_at_ <= at)) return;
  timer_at_ = at;
  // The steady clock is CLOCK_MONOTONIC; a zero time would disarm the timer instead.
  const auto ns = std::max<long long>(1, std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count());
  itimerspec when{};
  when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
  when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
  ::timerfd_settime(timer_fd_, TFD_TIMER_ABSTIME, &when, nullptr);
}

void Channel::close_locked() {
  if (!transport_.is_open()) return;
  // Out of the set before the descriptor closes: a copy of it held elsewhere (a child
  // between fork and exec) would otherwise keep it registered.
  if (watched_fd_ >= 0) {
    watch(epoll_fd_, EPOLL_CTL_DEL, watched_fd_, 0, kPortTag);
    watched_fd_ = -1;
  }
  transport_.close();
  ++generation_;
}

int Channel::enable(const char *name, const LineSettings &settings) {
  std::unique_lock<std::mutex> guard(lock_);
  // A port that is open is closed first, whatever the new settings turn out to be.
  close_locked();
  const std::optional<std::string> path = device_path_for(name);
  if (!path) {
    set_error(std::string("unknown port name \"") + (name != nullptr ? name : "") + "\"");
    return 0;
  }
  std::string error;
  if (!transport_.open(*path, settings, error)) {
    set_error(error);
    return 0;
  }
  ++generation_;
  if (!ensure_thread_locked()) {
    close_locked();
    set_error("CreateThread ERROR");
    guard.unlock();
    show_message("CreateThread ERROR");
    return 0;
  }
  settings_ = settings;
  set_error("");
  guard.unlock();
  wake();
  return 1;
}

int Channel::disable() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    close_locked();
  }
  wake();
  return 1;
}

int Channel::start(const char *code, const std::uint8_t *data, std::uint32_t length) {
  if (code == nullptr || length > kDataMax || (length != 0 && data == nullptr)) return 0;
  std::uint8_t prc_no = 0;
  bool started = false;
  bool finished_here = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    {
      std::lock_guard<std::mutex> slot(slot_lock_);
      if (busy_) return 0;  // another command is in flight: leave it alone
      prc_no_ = prc_no_ == 255 ? 1 : static_cast<std::uint8_t>(prc_no_ + 1);
      std::memset(response_, 0, sizeof response_);
      response_length_ = 0;
      busy_ = true;
      result_ = 0;
      prc_no = prc_no_;
    }
    // Three characters; a shorter text is not read past its terminator.
    std::memset(code_, 0, sizeof code_);
    std::memcpy(code_, code, ::strnlen(code, 3));
    length_ = length;
    if (length > 0) std::memcpy(data_, data, length);
    stop_pending_ = false;  // a stop before the command does not touch it
    started = ensure_thread_locked();
    if (started) {
      // The frame goes out from here, which spares the I/O thread a wake-up per command:
      // it wakes when the terminal answers, or by the timer at the first deadline.
      const Clock::time_point now = Clock::now();
      engine_.set_char_time(settings_.char_time());
      engine_.start(code_, data_, length_, now);
      published_ = false;
      link_.service(now, false);
      finished_here = !engine_.busy() || link_.wants_writable();
      if (!finished_here) arm_timer_locked(link_.next_wake(), now);
    }
  }
  if (!started) {
    show_message("CreateThread 2 ERROR");
    notify_completion(publish_result(Result::tx_error));
    return prc_no;
  }
  // An outcome is published, and a full line waited on, by the I/O thread.
  if (finished_here) wake();
  return prc_no;
}

int Channel::collect(std::uint8_t *data, int *length, std::uint8_t *prc_no, int *result) {
  std::lock_guard<std::mutex> guard(slot_lock_);
  if (busy_) return 0;
  const int n = std::clamp(response_length_, 0, TOLVEX_RESPONSE_MAX);
  if (data != nullptr && n > 0) std::memcpy(data, response_, static_cast<std::size_t>(n));
  if (length != nullptr) *length = n;
  if (prc_no != nullptr) *prc_no = prc_no_;
  if (result != nullptr) *result = result_;
  return 1;
}

int Channel::stop() {
  bool running = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_pending_ = true;
    running = engine_.busy();
  }
  if (running) wake();
  return 1;
}

std::uint8_t Channel::publish(const ExchangeEngine::Outcome &outcome) {
  std::lock_guard<std::mutex> guard(slot_lock_);
  const std::size_t n = std::min(outcome.data.size(), sizeof response_);
  if (n > 0) std::memcpy(response_, outcome.data.data(), n);
  response_length_ = static_cast<int>(n);
  result_ = static_cast<int>(outcome.result);
  busy_ = false;
  return prc_no_;
}

std::uint8_t Channel::publish_result(Result result) { return publish({result, {}}); }

void Channel::notify_completion(std::uint8_t prc_no) {
  CompletionHandler fn = nullptr;
  void *ctx = nullptr;
  {
    std::lock_guard<std::mutex> guard(handler_lock_);
    fn = completion_;
    ctx = completion_ctx_;
  }
  if (fn != nullptr) fn(prc_no, ctx);
}

void Channel::set_completion_handler(CompletionHandler fn, void *ctx) {
  std::lock_guard<std::mutex> guard(handler_lock_);
  completion_ = fn;
  completion_ctx_ = ctx;
}

void Channel::set_trace_handler(TraceHandler fn, void *ctx) {
  std::lock_guard<std::mutex> guard(lock_);
  {
    std::lock_guard<std::mutex> handlers(handler_lock_);
    trace_ = fn;
    trace_ctx_ = ctx;
  }
  update_trace_locked();
}

void Channel::update_trace_locked() {
  bool on = trace_file_ != nullptr;
  {
    std::lock_guard<std::mutex> handlers(handler_lock_);
    on = on || trace_ != nullptr;
  }
  link_.set_trace(on ? &Channel::collect_trace : nullptr, this);
}

void Channel::collect_trace(void *ctx, TraceDirection d, const std::uint8_t *bytes, std::size_t n,
                            Clock::time_point at) {
  auto *self = static_cast<Channel *>(ctx);
  self->trace_blocks_.push_back({d, at, self->trace_bytes_.size(), n});
  self->trace_bytes_.insert(self->trace_bytes_.end(), bytes, bytes + n);
}

void Channel::dispatch_trace(const std::vector<TraceBlock> &blocks, const std::vector<std::uint8_t> &bytes) {
  TraceHandler fn = nullptr;
  void *ctx = nullptr;
  {
    std::lock_guard<std::mutex> guard(handler_lock_);
    fn = trace_;
    ctx = trace_ctx_;
  }
  for (const TraceBlock &b : blocks) {
    const std::uint8_t *p = bytes.data() + b.offset;
    const int direction = b.direction == TraceDirection::written ? TOLVEX_TRACE_WRITTEN : TOLVEX_TRACE_READ;
    if (fn != nullptr) fn(direction, p, static_cast<std::uint32_t>(b.length), nanoseconds_of(b.at), ctx);
    if (trace_file_ != nullptr) {
      const std::uint64_t ns = nanoseconds_of(b.at);
      std::string line(32 + 3 * b.length, '\0');
      int at = std::snprintf(line.data(), line.size(), "%llu.%06llu %s", static_cast<unsigned long long>(ns / 1000000000u),
                             static_cast<unsigned long long>(ns % 1000000000u / 1000u),
                             direction == TOLVEX_TRACE_WRITTEN ? "TX" : "RX");
      for (std::size_t i = 0; i < b.length; ++i) {
        at += std::snprintf(line.data() + at, line.size() - static_cast<std::size_t>(at), " %02X", p[i]);
      }
      line.resize(static_cast<std::size_t>(at));
      line += '\n';
      std::fputs(line.c_str(), trace_file_);
      std::fflush(trace_file_);
    }
  }
}

void Channel::run() {
  ::pthread_setname_np(::pthread_self(), "tolvex-io");
  t_on_io_thread = true;
  std::vector<TraceBlock> blocks;
  std::vector<std::uint8_t> bytes;
  std::unique_lock<std::mutex> guard(lock_);
  bool readable = true;  // the line may hold bytes: the wait said so, or it was just opened
  unsigned read_generation = generation_;
  while (!shutdown_) {
    const Clock::time_point now = Clock::now();
    if (stop_pending_) {
      stop_pending_ = false;
      engine_.stop(now);
    }
    if (read_generation != generation_) {
      read_generation = generation_;
      readable = true;
    }
    ExchangeLink::Report report = link_.service(now, readable || hangup_seen_);
    report.overflows += pending_overflows_;
    pending_overflows_ = 0;
    readable = false;
    if (hangup_seen_) {
      // The line reported itself gone; whatever it still held has just been read.
      hangup_seen_ = false;
      if (transport_.is_open() && !transport_.hung_up()) link_.line_gone(now);
    }
    bool finished = false;
    std::uint8_t prc_no = 0;
    if (!published_ && !engine_.busy()) {
      published_ = true;
      finished = true;
      prc_no = publish(engine_.outcome());
    }
    watch_port_locked();
    const bool port_watched = watched_fd_ >= 0;
    const unsigned generation = generation_;
    const Clock::time_point wake_at = link_.next_wake();
    timespec timeout{};
    timespec *timeout_ptr = nullptr;
    // A timer still to fire by then wakes the thread in time, which spares the wait a
    // timeout of its own each time it sleeps.
    const bool timer_in_time = timer_at_ > now && timer_at_ <= wake_at;
    if (wake_at != Clock::time_point::max() && !timer_in_time) {
      const auto left = std::max(Clock::duration::zero(), wake_at - now);
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
      timeout.tv_nsec = static_cast<long>(ns % 1000000000);
      timeout_ptr = &timeout;
    }
    blocks.swap(trace_blocks_);
    bytes.swap(trace_bytes_);
    trace_blocks_.clear();
    trace_bytes_.clear();
    guard.unlock();
    // Hand everything to the host without holding the lock: its handlers may call back.
    // Whatever they change wakes the wait below (a command, a stop) or is ignored by it (a
    // port closed or reopened: the generation differs).
    if (!blocks.empty()) dispatch_trace(blocks, bytes);
    for (int i = 0; i < report.overflows; ++i) show_message("m_QueueRead FULL!");
    if (finished) notify_completion(prc_no);
    epoll_event events[3];
    const int ready = wait_for(epoll_fd_, events, 3, timeout_ptr);
    bool port_readable = false;
    bool port_gone = false;
    for (int i = 0; i < ready; ++i) {
      if (events[i].data.u32 == kPortTag) {
        port_readable = (events[i].events & EPOLLIN) != 0;
        port_gone = (events[i].events & (EPOLLHUP | EPOLLERR)) != 0;
        continue;
      }
      std::uint64_t count = 0;
      (void)!::read(events[i].data.u32 == kWakeTag ? wake_fd_ : timer_fd_, &count, sizeof count);
    }
    guard.lock();
    if (port_watched && generation == generation_) {
      readable = port_readable;
      if (port_gone) hangup_seen_ = true;
    }
  }
}

}  // namespace tolvex
