// The command exchange as a state machine: frames a command, runs the ACK / ENQ
// handshake with up to three sends, collects and checks the reply and produces the
// outcome. Pure logic: received bytes, the current time, the caller's start and stop
// and what the transport reports come in; bytes to write, the next deadline and the
// outcome go out. No thread, no I/O, no clock reading.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "frame.hpp"

namespace tolvex {

using Clock = std::chrono::steady_clock;

// How long each step may take.
struct Windows {
  std::chrono::milliseconds ack{kAckWindowMs};        // from the frame's drain to the ACK
  std::chrono::milliseconds short_reply{kShortReplyMs};
  std::chrono::milliseconds long_reply{kLongReplyMs};
  std::chrono::milliseconds command{kCommandLimitMs};   // the whole command, checked when it ends
  std::chrono::milliseconds write_base{kWriteBaseMs};  // a write and its drain: base + 2 x transmission
};

class ExchangeEngine {
 public:
  enum class Phase {
    idle,           // nothing started yet
    sending_frame,  // the command frame is being written and drained
    waiting,        // waiting for ACK / NAK, then collecting the reply
    sending_enq,    // the ENQ after an ACK
    sending_nak,    // the NAK after a reply with a bad block check
    sending_ack,    // the ACK after a good reply
    done,           // the outcome is ready
  };

  struct Outcome {
    Result result = Result::ok;
    std::span<const std::uint8_t> data;  // reply data, or the two status bytes for negative
  };

  explicit ExchangeEngine(Windows windows = {}) : windows_(windows) {}

  // Time one character takes on the line; bounds writes and drains.
  void set_char_time(std::chrono::nanoseconds t) { char_time_ = t; }

  // Begins a command (code: three characters; n at most kDataMax). Any earlier command
  // is forgotten, bytes held from before are discarded.
  void start(const char code[3], const std::uint8_t *data, std::size_t n, Clock::time_point now);
  // The caller asked the command in flight to give up. Seen at the next check of the
  // handshake; it does not interrupt a write.
  void stop(Clock::time_point now);

  // Bytes read from the line. Returns false when they arrived with no command waiting
  // and overflow the 999 bytes held meanwhile; those bytes are discarded.
  bool receive(const std::uint8_t *bytes, std::size_t n, Clock::time_point now);

  // Bytes the transport is to write, in order; accepted(n) when it has taken n of them.
  std::span<const std::uint8_t> output() const { return {out_ + out_pos_, out_len_ - out_pos_}; }
  void accepted(std::size_t n) { out_pos_ = n >= out_len_ - out_pos_ ? out_len_ : out_pos_ + n; }
  // True while a write is under way (handed over or not) and its drain is awaited.
  bool writing() const { return writing_; }
  // The transport's output queue is empty after everything in output() was taken.
  void drained(Clock::time_point now);
  // The transport refused the write (the port is closed or failed).
  void write_failed(Clock::time_point now);
  // The line is gone: a command in flight ends at once with tx_error.
  void hang_up(Clock::time_point now);

  // Time has passed; acts on whatever deadline ran out.
  void tick(Clock::time_point now);
  // The next moment tick() must be called, or Clock::time_point::max() when none.
  Clock::time_point next_deadline() const;

  Phase phase() const { return phase_; }
  bool busy() const { return phase_ != Phase::idle && phase_ != Phase::done; }
  // Valid once phase() is done.
  Outcome outcome() const { return {outcome_result_, {response_, response_length_}}; }
  int sends() const { return sends_; }

 private:
  void send_frame(Clock::time_point now);
  void write(const std::uint8_t *bytes, std::size_t n, Phase phase, Clock::time_point now);
  void after_write(bool ok, Clock::time_point now);
  // The checks made while waiting, in their order. Each returns true when it acted: it
  // ended the send or started a write, which leaves the waiting phase.
  bool answer_ack(Clock::time_point now);
  bool ack_missing(Clock::time_point now);
  bool send_cut_short(Clock::time_point now);  // stop, reply window, NAK
  bool take_reply(Clock::time_point now);
  // One pass of the checks. After an ENQ the interrupted pass goes on from the stop test
  // first; then a full pass follows, so an ACK that came meanwhile is answered.
  void check(Clock::time_point now, bool after_enq);
  // The send ended with code (0: a good reply was acknowledged).
  void end_send(Result code, Clock::time_point now);
  void finish(bool ok, Clock::time_point now);
  std::size_t reply_length() const { return frame_body_length(rx_); }
  void clear_rx() { rx_count_ = 0; }

  Windows windows_;
  std::chrono::nanoseconds char_time_{0};
  Phase phase_ = Phase::idle;

  std::uint8_t frame_[kFrameBufferSize] = {};
  std::size_t frame_size_ = 0;
  bool short_reply_ = false;
  int sends_ = 0;

  std::uint8_t rx_[kReceiveBufferSize] = {};
  std::size_t rx_count_ = 0;

  std::uint8_t out_[kFrameBufferSize] = {};
  std::size_t out_len_ = 0;
  std::size_t out_pos_ = 0;
  bool writing_ = false;
  Clock::time_point write_deadline_{};

  Result exchange_result_ = Result::ok;  // of the exchange in progress; the last send's failure
  bool stop_ = false;
  bool acked_ = false;
  int bad_replies_ = 0;
  Clock::time_point command_deadline_{};
  Clock::time_point ack_deadline_{};
  Clock::time_point reply_deadline_{};

  Result outcome_result_ = Result::ok;  // as published: the exchange's, or stopped / timeout
  std::uint8_t response_[kReceiveBufferSize] = {};
  std::size_t response_length_ = 0;
};

}  // namespace tolvex
