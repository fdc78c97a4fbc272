// Joins the exchange engine to a transport: reads what the line holds into the engine,
// writes what the engine asks for, reports drains, refusals and a lost line, and says
// when it next needs to run. Does not read the clock and never waits: whoever drives it
// calls service() with the time whenever something may have happened.
#pragma once

#include <cstddef>
#include <cstdint>

#include "exchange_engine.hpp"
#include "transport.hpp"

namespace tolvex {

enum class TraceDirection { written, read };

// Receives every block of bytes written or read, with the time it was handed over.
using TraceSink = void (*)(void *ctx, TraceDirection direction, const std::uint8_t *bytes, std::size_t n,
                           Clock::time_point at);

class ExchangeLink {
 public:
  ExchangeLink(ExchangeEngine &engine, Transport &transport) : engine_(engine), transport_(transport) {}

  void set_trace(TraceSink sink, void *ctx) {
    trace_ = sink;
    trace_ctx_ = ctx;
  }

  struct Report {
    int overflows = 0;  // reads discarded because nothing waited for them and they did not fit
  };

  // Moves bytes both ways and acts on time. Call after the command started, bytes
  // arrived, the line became writable, or the wake-up time passed; readable false skips
  // asking the line for bytes when it is known to hold none.
  Report service(Clock::time_point now, bool readable = true);
  // The line reported a hang-up or an error.
  void line_gone(Clock::time_point now);

  // When service() must run again at the latest (Clock::time_point::max(): not by time).
  Clock::time_point next_wake() const { return next_wake_; }
  // True when the transport was full: wake up when it can take bytes again.
  bool wants_writable() const { return wants_writable_; }

 private:
  void read_all(Clock::time_point now, Report &report);
  void write_all(Clock::time_point now);
  void trace(TraceDirection d, const std::uint8_t *b, std::size_t n, Clock::time_point at) {
    if (trace_ != nullptr) trace_(trace_ctx_, d, b, n, at);
  }

  ExchangeEngine &engine_;
  Transport &transport_;
  TraceSink trace_ = nullptr;
  void *trace_ctx_ = nullptr;
  Clock::time_point next_wake_ = Clock::time_point::max();
  bool wants_writable_ = false;
  // While a drain is awaited the output queue is asked again after this pause, doubled
  // each time up to a millisecond.
  std::chrono::microseconds drain_pause_{20};
};

}  // namespace tolvex
