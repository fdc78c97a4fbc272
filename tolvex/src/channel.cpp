#include "channel.hpp"

#ifndef _WIN32
#include <pthread.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "messages.hpp"
#include "port_names.hpp"
#include "tolvex/tolvex.h"
#include "tolvex/trace_line.hpp"

namespace tolvex {
namespace {

// True on the I/O thread: the destructor must not wait for the thread it runs on.
thread_local bool t_on_io_thread = false;

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
      waiter_.end_thread(thread_);
    }
  }
  if (t_on_io_thread) waiter_.abandon();
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

void Channel::wake() { waiter_.wake(); }

bool Channel::ensure_thread_locked() {
  if (thread_.joinable()) return true;
  if (!waiter_.open()) return false;
  try {
    thread_ = std::thread([this] { run(); });
  } catch (...) {
    return false;
  }
  return true;
}

void Channel::arm_timer_locked(Clock::time_point at, Clock::time_point now) {
  // A timer still to fire before this deadline wakes the I/O thread in time: it then
  // sleeps again until the deadline it finds.
  if (at == Clock::time_point::max() || (timer_at_ > now && timer_at_ <= at)) return;
  timer_at_ = at;
  waiter_.arm_timer(at, now);
}

void Channel::close_locked() {
  if (!transport_.is_open()) return;
  waiter_.forget_port();
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
      char time[32];
      std::snprintf(time, sizeof time, "%llu.%06llu", static_cast<unsigned long long>(ns / 1000000000u),
                    static_cast<unsigned long long>(ns % 1000000000u / 1000u));
      const std::string line = trace_line(time, b.direction == TraceDirection::written, p, b.length);
      std::fputs(line.c_str(), trace_file_);
      std::fflush(trace_file_);
    }
  }
}

void Channel::run() {
#ifndef _WIN32
  ::pthread_setname_np(::pthread_self(), "tolvex-io");
#endif
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
    waiter_.watch(transport_, link_.wants_writable());
    const bool port_watched = waiter_.watching();
    const unsigned generation = generation_;
    // A timer still to fire by then wakes the thread in time, which spares the wait a
    // timeout of its own each time it sleeps.
    const Clock::time_point wake_at = link_.next_wake();
    const bool timer_in_time = timer_at_ > now && timer_at_ <= wake_at;
    const Clock::time_point deadline = timer_in_time ? Clock::time_point::max() : wake_at;
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
    const IoWait::Woken woken = waiter_.wait(deadline, now);
    guard.lock();
    if (port_watched && generation == generation_) {
      const IoWait::PortEvents events = waiter_.port_events(woken);
      readable = events.readable;
      if (events.gone) hangup_seen_ = true;
    }
  }
  guard.unlock();
  waiter_.thread_ends();
}

}  // namespace tolvex
