// The serial port: opening and configuring the device, the receive thread that fills
// m_QueueRead, and the write and drain operations the command exchange uses.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "byte_queue.hpp"
#include "port_names.hpp"

namespace tolvex {

// Wakes the command worker: the receive thread, exe_stop and library shutdown notify it;
// the worker takes a ticket before its checks and sleeps until the ticket is outdated or
// a deadline passes, so no notification between the two is lost.
class WakeSignal {
 public:
  std::uint64_t ticket();
  void notify();
  void wait(std::uint64_t seen, std::chrono::steady_clock::time_point deadline);

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  std::uint64_t seq_ = 0;
};
WakeSignal &worker_wake();

// rx-ready flag: op 0 clear, 1 set (and wake the worker), 2 query; others change nothing and return 1.
int rx_ready(int op);

class CCommPort {
 public:
  CCommPort();
  ~CCommPort();
  CCommPort(const CCommPort &) = delete;
  CCommPort &operator=(const CCommPort &) = delete;

  // Closes any open port, then opens and configures the new one. 1 on success, else 0
  // with the reason in last_error().
  int enable(const char *name, std::uint8_t byte_size, std::uint8_t parity, std::uint8_t stop_bits,
             std::uint32_t baud_rate, std::uint8_t flow_control);
  // Stops the receive thread and releases the device. Always 1.
  int close();

  // Hands size bytes to the port. 0 when the port is closed, hung up, or does not take
  // them within a bounded time.
  int write_bytes(const std::uint8_t *bytes, std::size_t size);
  // True once the output queue is empty; false when it does not empty within
  // 1000 ms + twice the transmission time of pending_bytes, or the port is gone.
  bool drain(std::size_t pending_bytes);

  bool is_open() const { return open_.load(std::memory_order_acquire); }
  bool hung_up() const { return hung_up_.load(std::memory_order_acquire); }
  const char *last_error();

  CByteQueue m_QueueRead;

 private:
  void receive_loop(unsigned generation, int fd, int wake_fd);
  // Reads at most max bytes that the port already holds; never waits.
  std::size_t read_available(int fd, std::uint8_t *buffer, std::size_t max);
  void close_locked();
  void set_error(const std::string &text);
  int fail_open(const std::string &text);

  std::mutex control_;  // EnablePort / DisablePort / unload against each other
  std::mutex io_;       // the descriptor against close while the worker writes
  int fd_ = -1;
  int wake_fd_ = -1;
  std::atomic<bool> open_{false};
  std::atomic<bool> hung_up_{false};
  std::atomic<unsigned> generation_{0};  // one per receive thread started
  std::thread receiver_;
  std::uint32_t baud_ = 9600;
  unsigned bits_per_char_ = 10;

  std::mutex error_lock_;
  char error_[256] = {};
};

CCommPort &comm_port();

}  // namespace tolvex
