#include <pthread.h>

#include <algorithm>

#include "io_wait.hpp"

namespace tolvex {
namespace {

enum : std::uint32_t { kPortRead = 1, kPortWrite = 2 };

}  // namespace

IoWait::~IoWait() {
  if (wake_event_ != nullptr) ::CloseHandle(wake_event_);
  if (timer_ != nullptr) ::CloseHandle(timer_);
  if (thread_ended_ != nullptr) ::CloseHandle(thread_ended_);
}

void IoWait::abandon() { wake_event_ = timer_ = thread_ended_ = nullptr; }

bool IoWait::open() {
  if (wake_event_ == nullptr) wake_event_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (timer_ == nullptr) timer_ = ::CreateWaitableTimerW(nullptr, FALSE, nullptr);
  if (thread_ended_ == nullptr) thread_ended_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return wake_event_ != nullptr && timer_ != nullptr && thread_ended_ != nullptr;
}

void IoWait::thread_ends() {
  ::SetEvent(thread_ended_);
  // Straight into the system: whatever is left of the thread runs no code of this library,
  // which may be unmapped as soon as the event is seen.
  ::ExitThread(0);
}

void IoWait::end_thread(std::thread &thread) {
  // The thread's handle is signalled too when the process ends and has ended it already.
  HANDLE handles[2] = {thread_ended_, static_cast<HANDLE>(::pthread_gethandle(thread.native_handle()))};
  ::WaitForMultipleObjects(handles[1] != nullptr ? 2 : 1, handles, FALSE, 10000);
  thread.detach();
}

void IoWait::wake() {
  if (wake_event_ != nullptr) ::SetEvent(wake_event_);
}

void IoWait::arm_timer(Clock::time_point at, Clock::time_point now) {
  // Relative, in units of 100 ns (a negative due time): the waitable timer's absolute
  // time is the wall clock, not the steady one.
  const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(at - now).count() / 100;
  LARGE_INTEGER due;
  due.QuadPart = -std::max<long long>(1, ticks);
  ::SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE);
}

void IoWait::watch(PortTransport &line, bool writable) {
  if (line.is_network()) {
    // One event stands for bytes, room to write and the far side's end alike.
    port_ = nullptr;
    network_ = &line.network();
    port_event_ = network_->wait_event(port_ready_);
    write_event_ = nullptr;
    return;
  }
  network_ = nullptr;
  SerialTransport &port = line.serial();
  port_ = &port;
  port_event_ = port.read_event(port_ready_);
  write_event_ = writable ? port.write_event() : nullptr;
}

void IoWait::forget_port() {
  port_ = nullptr;
  network_ = nullptr;
  port_event_ = write_event_ = nullptr;
  port_ready_ = false;
}

bool IoWait::watching() const { return port_event_ != nullptr || port_ready_; }

IoWait::Woken IoWait::wait(Clock::time_point deadline, Clock::time_point now) {
  HANDLE handles[4] = {wake_event_, timer_};
  DWORD count = 2;
  const DWORD read_index = port_event_ != nullptr ? count : MAXDWORD;
  if (port_event_ != nullptr) handles[count++] = port_event_;
  const DWORD write_index = write_event_ != nullptr ? count : MAXDWORD;
  if (write_event_ != nullptr) handles[count++] = write_event_;
  DWORD timeout = INFINITE;
  if (port_ready_) {
    timeout = 0;
  } else if (deadline != Clock::time_point::max()) {
    // Milliseconds, rounded up: waking early would only make the thread sleep again.
    const auto left = std::max(Clock::duration::zero(), deadline - now);
    const long long ms = (std::chrono::duration_cast<std::chrono::microseconds>(left).count() + 999) / 1000;
    timeout = static_cast<DWORD>(std::min<long long>(ms, INFINITE - 1));
  }
  const DWORD r = ::WaitForMultipleObjects(count, handles, FALSE, timeout);
  Woken woken;
  if (port_ready_) woken.events |= kPortRead;
  if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + count) {
    const DWORD i = r - WAIT_OBJECT_0;
    if (i == read_index) woken.events |= kPortRead;
    if (i == write_index) woken.events |= kPortWrite;
  }
  woken.port = woken.events != 0;
  return woken;
}

IoWait::PortEvents IoWait::port_events(const Woken &woken) {
  PortEvents e;
  if (!woken.port || (port_ == nullptr && network_ == nullptr)) return e;
  // The bytes that came (or the failure met, or the far side's end) are collected by
  // the next read.
  e.readable = true;
  e.gone = port_ != nullptr && port_->broken();
  return e;
}

}  // namespace tolvex
