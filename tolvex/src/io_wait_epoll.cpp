#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>

#include "io_wait.hpp"

namespace tolvex {
namespace {

// What each registered descriptor of the set stands for.
enum WatchTag : std::uint32_t { kWakeTag = 0, kTimerTag = 1, kPortTag = 2 };

bool watch_fd(int epoll_fd, int op, int fd, std::uint32_t events, WatchTag tag) {
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

}  // namespace

IoWait::~IoWait() {
  if (wake_fd_ >= 0) ::close(wake_fd_);
  if (timer_fd_ >= 0) ::close(timer_fd_);
  if (epoll_fd_ >= 0) ::close(epoll_fd_);
}

void IoWait::abandon() { wake_fd_ = timer_fd_ = epoll_fd_ = -1; }

bool IoWait::open() {
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
    if (!watch_fd(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, EPOLLIN, kWakeTag) ||
        !watch_fd(epoll_fd_, EPOLL_CTL_ADD, timer_fd_, EPOLLIN, kTimerTag)) {
      ::close(epoll_fd_);
      epoll_fd_ = -1;
      return false;
    }
  }
  return true;
}

void IoWait::thread_ends() {}

void IoWait::end_thread(std::thread &thread) { thread.join(); }

void IoWait::wake() {
  if (wake_fd_ < 0) return;
  const std::uint64_t one = 1;
  (void)!::write(wake_fd_, &one, sizeof one);
}

void IoWait::arm_timer(Clock::time_point at, Clock::time_point) {
  // The steady clock is CLOCK_MONOTONIC; a zero time would disarm the timer instead.
  const auto ns = std::max<long long>(1, std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count());
  itimerspec when{};
  when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
  when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
  ::timerfd_settime(timer_fd_, TFD_TIMER_ABSTIME, &when, nullptr);
}

void IoWait::watch(PortTransport &port, bool writable) {
  const int fd = port.is_open() && !port.hung_up() ? port.readable_fd() : -1;
  const std::uint32_t events = EPOLLIN | (writable ? EPOLLOUT : 0u);
  if (fd == watched_fd_ && (fd < 0 || events == watched_events_)) return;
  if (watched_fd_ >= 0 && fd != watched_fd_) forget_port();
  if (fd < 0) return;
  const int op = watched_fd_ == fd ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
  if (watch_fd(epoll_fd_, op, fd, events, kPortTag)) {
    watched_fd_ = fd;
    watched_events_ = events;
  }
}

void IoWait::forget_port() {
  // Out of the set before the descriptor closes: a copy of it held elsewhere (a child
  // between fork and exec) would otherwise keep it registered.
  if (watched_fd_ < 0) return;
  watch_fd(epoll_fd_, EPOLL_CTL_DEL, watched_fd_, 0, kPortTag);
  watched_fd_ = -1;
}

bool IoWait::watching() const { return watched_fd_ >= 0; }

IoWait::Woken IoWait::wait(Clock::time_point deadline, Clock::time_point now) {
  timespec timeout{};
  timespec *timeout_ptr = nullptr;
  if (deadline != Clock::time_point::max()) {
    const auto left = std::max(Clock::duration::zero(), deadline - now);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
    timeout.tv_nsec = static_cast<long>(ns % 1000000000);
    timeout_ptr = &timeout;
  }
  epoll_event events[3];
  const int ready = wait_for(epoll_fd_, events, 3, timeout_ptr);
  Woken woken;
  for (int i = 0; i < ready; ++i) {
    if (events[i].data.u32 == kPortTag) {
      woken.port = true;
      woken.events = events[i].events;
      continue;
    }
    std::uint64_t count = 0;
    (void)!::read(events[i].data.u32 == kWakeTag ? wake_fd_ : timer_fd_, &count, sizeof count);
  }
  return woken;
}

IoWait::PortEvents IoWait::port_events(const Woken &woken) {
  PortEvents e;
  if (!woken.port) return e;
  e.readable = (woken.events & EPOLLIN) != 0;
  e.gone = (woken.events & (EPOLLHUP | EPOLLERR)) != 0;
  return e;
}

}  // namespace tolvex
