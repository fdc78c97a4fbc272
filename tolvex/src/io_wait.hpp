// How the I/O thread sleeps: until the port has bytes or room for more, another thread
// wakes it, its timer fires, or a deadline passes. epoll on Linux; event objects and
// WaitForMultipleObjects on Windows. Nothing here waits busily.
#pragma once

#include <cstdint>
#include <thread>

#include "exchange_engine.hpp"
#include "port_transport.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

namespace tolvex {

class IoWait {
 public:
  // What a wait saw of the port.
  struct PortEvents {
    bool readable = false;  // bytes may be waiting
    bool gone = false;      // the port reported a hang-up or an error
  };
  // What a wait saw, to be read under the lock that guards the port (see port_events).
  struct Woken {
    bool port = false;  // the port's wait object was signalled
    std::uint32_t events = 0;
  };

  IoWait() = default;
  ~IoWait();
  IoWait(const IoWait &) = delete;
  IoWait &operator=(const IoWait &) = delete;

  // Creates the wake-up, the timer and the set; true when they exist.
  bool open();
  // Leaves the handles open: the thread still waiting on them outlives this object.
  void abandon();

  // From any thread: the next wait, or the one in progress, returns.
  void wake();
  // Wakes the I/O thread at the time given (the steady clock), at the latest.
  void arm_timer(Clock::time_point at, Clock::time_point now);

  // Includes the port in the waiting while it is open and not hung up, for room to
  // write too when writable. Called by the I/O thread under the port's lock.
  void watch(PortTransport &port, bool writable);
  // Leaves the port out before it closes.
  void forget_port();
  // True while a port is included.
  bool watching() const;

  // The I/O thread's last act, without the port's lock.
  void thread_ends();
  // Waits for the I/O thread, told to end and woken, to be done. On Windows this runs
  // while the library is unloaded, when a thread cannot finish exiting: it is waited for
  // until it has left its loop, and it ends without returning into the library's code.
  void end_thread(std::thread &thread);

  // Sleeps until something happens or the deadline passes (Clock::time_point::max():
  // none). Called by the I/O thread without the port's lock.
  Woken wait(Clock::time_point deadline, Clock::time_point now);
  // Under the port's lock, for a wait whose port is still the one watched.
  PortEvents port_events(const Woken &woken);

 private:
#ifdef _WIN32
  HANDLE wake_event_ = nullptr;
  HANDLE timer_ = nullptr;
  HANDLE thread_ended_ = nullptr;
  SerialTransport *port_ = nullptr;
  NetTransport *network_ = nullptr;  // instead of port_ for a terminal on the network
  HANDLE port_event_ = nullptr;   // the port's pending event wait
  HANDLE write_event_ = nullptr;  // the port's pending write, while room to write is awaited
  bool port_ready_ = false;       // bytes or a failure already waiting: no sleep
#else
  int wake_fd_ = -1;
  int timer_fd_ = -1;
  int epoll_fd_ = -1;
  int watched_fd_ = -1;  // the port's descriptor in the set, or -1
  std::uint32_t watched_events_ = 0;
#endif
};

}  // namespace tolvex
