// One port and its exchange: the serial transport, the exchange engine, the I/O thread
// that runs them, and the response slot the caller collects outcomes from. The exported
// functions are a thin layer over one default instance.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "exchange_engine.hpp"
#include "exchange_link.hpp"
#include "io_wait.hpp"
#include "port_transport.hpp"

namespace tolvex {

using CompletionHandler = void (*)(std::uint8_t prc_no, void *ctx);
// direction: 0 written, 1 read; time: the monotonic clock in nanoseconds.
using TraceHandler = void (*)(int direction, const std::uint8_t *bytes, std::uint32_t length, std::uint64_t time_ns,
                              void *ctx);

class Channel {
 public:
  Channel();
  ~Channel();
  Channel(const Channel &) = delete;
  Channel &operator=(const Channel &) = delete;

  // Closes any open port, then opens the named one. 1 on success, else 0 with the
  // reason in port_error().
  int enable(const char *name, const LineSettings &settings);
  // Closes the port; a command in flight goes on waiting until it ends by its rules.
  int disable();

  // Starts a command: its process number, or 0 when refused (bad arguments, or another
  // command in flight).
  int start(const char *code, const std::uint8_t *data, std::uint32_t length);
  // chk_res: 0 while a command is in flight, else copies the outcome and returns 1.
  int collect(std::uint8_t *data, int *length, std::uint8_t *prc_no, int *result);
  // exe_stop.
  int stop();

  void set_completion_handler(CompletionHandler fn, void *ctx);
  void set_trace_handler(TraceHandler fn, void *ctx);
  // Text of the last failed enable, copied for the calling thread.
  const char *port_error();

 private:
  struct TraceBlock {
    TraceDirection direction;
    Clock::time_point at;
    std::size_t offset;
    std::size_t length;
  };

  void run();
  bool ensure_thread_locked();
  void arm_timer_locked(Clock::time_point at, Clock::time_point now);
  void wake();
  void close_locked();
  void set_error(const std::string &text);
  std::uint8_t publish(const ExchangeEngine::Outcome &outcome);
  std::uint8_t publish_result(Result result);
  void notify_completion(std::uint8_t prc_no);
  void update_trace_locked();
  static void collect_trace(void *ctx, TraceDirection d, const std::uint8_t *bytes, std::size_t n,
                            Clock::time_point at);
  void dispatch_trace(const std::vector<TraceBlock> &blocks, const std::vector<std::uint8_t> &bytes);

  // Guards the transport, the engine and link, the command handed to the I/O thread and
  // the thread's state. Never held while a handler of the host runs.
  std::mutex lock_;
  PortTransport transport_;
  ExchangeEngine engine_;
  ExchangeLink link_{engine_, transport_};
  LineSettings settings_;
  unsigned generation_ = 0;  // one per open and close, so a stale wait result is ignored
  std::thread thread_;
  bool shutdown_ = false;
  // Where the I/O thread sleeps: woken by a stop, a close, a finished start or unloading,
  // by the timer at the first deadline of a command started by the caller, or by the port.
  IoWait waiter_;
  Clock::time_point timer_at_{};  // when the timer fires; a later deadline needs no new arming
  int pending_overflows_ = 0;
  bool stop_pending_ = false;
  bool published_ = true;
  bool hangup_seen_ = false;
  char code_[3] = {};
  std::uint8_t data_[kDataMax] = {};
  std::uint32_t length_ = 0;
  std::vector<TraceBlock> trace_blocks_;
  std::vector<std::uint8_t> trace_bytes_;

  // The response slot.
  std::mutex slot_lock_;
  std::uint8_t response_[kReceiveBufferSize] = {};
  int response_length_ = 0;
  std::uint8_t prc_no_ = 0;
  bool busy_ = false;
  int result_ = 0;

  std::mutex handler_lock_;
  CompletionHandler completion_ = nullptr;
  void *completion_ctx_ = nullptr;
  TraceHandler trace_ = nullptr;
  void *trace_ctx_ = nullptr;
  std::FILE *trace_file_ = nullptr;  // TOLVEX_TRACE, written by the I/O thread alone

  std::mutex error_lock_;
  std::string error_;
};

Channel &default_channel();

}  // namespace tolvex
