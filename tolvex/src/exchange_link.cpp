#include "exchange_link.hpp"

#include <algorithm>

namespace tolvex {

ExchangeLink::Report ExchangeLink::service(Clock::time_point now, bool readable) {
  Report report;
  if (readable) read_all(now, report);
  engine_.tick(now);
  write_all(now);
  return report;
}

void ExchangeLink::line_gone(Clock::time_point now) {
  transport_.set_hung_up();
  engine_.hang_up(now);
  wants_writable_ = false;
  next_wake_ = Clock::time_point::max();
}

void ExchangeLink::read_all(Clock::time_point now, Report &report) {
  if (!transport_.is_open() || transport_.hung_up()) return;
  std::uint8_t buffer[kReceiveBufferSize];
  for (;;) {
    const long n = transport_.read(buffer, sizeof buffer);
    if (n < 0) {
      line_gone(now);
      return;
    }
    if (n == 0) return;
    const auto count = static_cast<std::size_t>(n);
    trace(TraceDirection::read, buffer, count, now);
    if (!engine_.receive(buffer, count, now)) ++report.overflows;
    if (count < sizeof buffer) return;  // the line held no more than this
  }
}

void ExchangeLink::write_all(Clock::time_point now) {
  wants_writable_ = false;
  bool waiting_for_drain = false;
  // Each round either hands bytes over, finishes a write or stops; a command has a
  // handful of writes, so the bound is never reached in practice.
  for (int round = 0; round < 64 && engine_.writing(); ++round) {
    const auto out = engine_.output();
    if (!out.empty()) {
      const long n = transport_.is_open() ? transport_.write(out.data(), out.size()) : -1;
      if (n < 0) {
        if (transport_.hung_up()) {
          line_gone(now);
          return;
        }
        engine_.write_failed(now);
        drain_pause_ = std::chrono::microseconds(20);
        continue;
      }
      if (n == 0) {
        wants_writable_ = true;
        break;
      }
      trace(TraceDirection::written, out.data(), static_cast<std::size_t>(n), now);
      engine_.accepted(static_cast<std::size_t>(n));
      continue;
    }
    if (transport_.output_empty()) {
      engine_.drained(now);
      drain_pause_ = std::chrono::microseconds(20);
      continue;
    }
    waiting_for_drain = true;
    break;
  }
  next_wake_ = engine_.next_deadline();
  if (waiting_for_drain) {
    next_wake_ = std::min(next_wake_, now + drain_pause_);
    drain_pause_ = std::min(drain_pause_ * 2, std::chrono::microseconds(1000));
  }
}

}  // namespace tolvex
