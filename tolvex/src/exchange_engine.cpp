#include "exchange_engine.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace tolvex {
namespace {

// Bytes held while no command waits for them: one short of the receive buffer.
constexpr std::size_t kHeldMax = kReceiveBufferSize - 1;

}  // namespace

void ExchangeEngine::start(const char code[3], const std::uint8_t *data, std::size_t n, Clock::time_point now) {
  n = std::min<std::size_t>(n, kDataMax);
  frame_size_ = build_frame(frame_, code, data, n);
  short_reply_ = is_short_reply(std::string_view(code, kCodeSize));
  sends_ = 0;
  stop_ = false;
  exchange_result_ = Result::ok;
  outcome_result_ = Result::ok;
  response_length_ = 0;
  writing_ = false;
  out_len_ = out_pos_ = 0;
  command_deadline_ = now + windows_.command;
  send_frame(now);
}

void ExchangeEngine::stop(Clock::time_point now) {
  if (!busy()) return;
  stop_ = true;
  if (phase_ == Phase::waiting) check(now, false);
}

bool ExchangeEngine::receive(const std::uint8_t *bytes, std::size_t n, Clock::time_point now) {
  if (n == 0) return true;
  if (!busy()) {
    // Late replies and noise: kept until the next frame discards them.
    if (n > kHeldMax - std::min(rx_count_, kHeldMax)) return false;
    std::memcpy(rx_ + rx_count_, bytes, n);
    rx_count_ += n;
    return true;
  }
  // Beyond the receive buffer nothing can belong to a reply that fits it.
  const std::size_t room = kReceiveBufferSize - rx_count_;
  const std::size_t take = std::min(room, n);
  std::memcpy(rx_ + rx_count_, bytes, take);
  rx_count_ += take;
  if (phase_ == Phase::waiting) check(now, false);
  return true;
}

void ExchangeEngine::send_frame(Clock::time_point now) {
  ++sends_;
  clear_rx();  // leftovers of an earlier exchange or send
  write(frame_, frame_size_, Phase::sending_frame, now);
}

void ExchangeEngine::write(const std::uint8_t *bytes, std::size_t n, Phase phase, Clock::time_point now) {
  std::memcpy(out_, bytes, n);
  out_len_ = n;
  out_pos_ = 0;
  writing_ = true;
  phase_ = phase;
  const auto transmission = char_time_ * static_cast<long long>(n);
  write_deadline_ = now + windows_.write_base + std::chrono::duration_cast<Clock::duration>(2 * transmission);
}

void ExchangeEngine::drained(Clock::time_point now) {
  if (!writing_ || out_pos_ < out_len_) return;
  after_write(true, now);
}

void ExchangeEngine::write_failed(Clock::time_point now) {
  if (writing_) after_write(false, now);
}

void ExchangeEngine::hang_up(Clock::time_point /*now*/) {
  if (!busy()) return;
  writing_ = false;
  out_len_ = out_pos_ = 0;
  exchange_result_ = Result::tx_error;
  outcome_result_ = Result::tx_error;
  response_length_ = 0;
  clear_rx();
  phase_ = Phase::done;
}

void ExchangeEngine::tick(Clock::time_point now) {
  if (writing_) {
    if (now >= write_deadline_) after_write(false, now);
    return;
  }
  if (phase_ == Phase::waiting) check(now, false);
}

Clock::time_point ExchangeEngine::next_deadline() const {
  if (writing_) return write_deadline_;
  if (phase_ != Phase::waiting) return Clock::time_point::max();
  return acked_ ? reply_deadline_ : std::min(ack_deadline_, reply_deadline_);
}

void ExchangeEngine::after_write(bool ok, Clock::time_point now) {
  writing_ = false;
  out_len_ = out_pos_ = 0;
  switch (phase_) {
    case Phase::sending_frame:
      if (!ok) {
        exchange_result_ = Result::tx_error;
        finish(false, now);
        return;
      }
      // Both windows run from the moment the frame has left.
      ack_deadline_ = now + windows_.ack;
      reply_deadline_ = now + (short_reply_ ? windows_.short_reply : windows_.long_reply);
      acked_ = false;
      bad_replies_ = 0;
      phase_ = Phase::waiting;
      check(now, false);
      return;
    case Phase::sending_enq:
      // A refused ENQ does not end the wait; the code stands unless a later step sets another.
      if (!ok) exchange_result_ = Result::tx_error;
      phase_ = Phase::waiting;
      check(now, true);
      return;
    case Phase::sending_nak:
      if (!ok) exchange_result_ = Result::tx_error;
      if (bad_replies_ >= kBadRepliesMax) {
        end_send(Result::bcc_error, now);
        return;
      }
      phase_ = Phase::waiting;
      check(now, false);  // the resent reply may already be here
      return;
    case Phase::sending_ack:
      if (!ok) {
        end_send(Result::tx_error, now);
      } else if (reply_length() < kBodyHeader) {  // too short to hold the status word
        end_send(Result::frame_error, now);
      } else {
        end_send(Result::ok, now);
      }
      return;
    default:
      return;
  }
}

bool ExchangeEngine::answer_ack(Clock::time_point now) {
  if (rx_count_ < 1 || rx_[0] != kAck) return false;
  std::size_t acks = 0;
  while (acks < rx_count_ && rx_[acks] == kAck) ++acks;
  std::memmove(rx_, rx_ + acks, rx_count_ - acks);
  rx_count_ -= acks;
  acked_ = true;
  write(&kEnq, 1, Phase::sending_enq, now);
  return true;
}

bool ExchangeEngine::ack_missing(Clock::time_point now) {
  if (acked_ || now < ack_deadline_) return false;
  end_send(Result::no_ack, now);
  return true;
}

bool ExchangeEngine::send_cut_short(Clock::time_point now) {
  if (stop_) {
    end_send(Result::stopped, now);
  } else if (now >= reply_deadline_) {
    end_send(Result::timeout, now);
  } else if (rx_count_ >= 1 && rx_[0] == kNak) {
    end_send(Result::nak, now);
  } else {
    return false;
  }
  return true;
}

bool ExchangeEngine::take_reply(Clock::time_point now) {
  if (rx_count_ < kLengthOffset + 2) return false;
  const std::size_t len = reply_length();
  if (len + kFrameOverhead > kReceiveBufferSize) {  // can never fit the receive buffer
    end_send(Result::frame_error, now);
    return true;
  }
  if (rx_count_ < len + kFrameOverhead || rx_[kBodyOffset + len] != kEtx) return false;
  // The block check is the last byte held, wherever the reply ended.
  if (bcc(rx_ + 1, kBodyOffset + len) == rx_[rx_count_ - 1]) {
    write(&kAck, 1, Phase::sending_ack, now);
  } else {
    ++bad_replies_;
    clear_rx();
    write(&kNak, 1, Phase::sending_nak, now);
  }
  return true;
}

void ExchangeEngine::check(Clock::time_point now, bool after_enq) {
  if (phase_ != Phase::waiting) return;
  if (after_enq && (send_cut_short(now) || take_reply(now))) return;
  // Stop, reply window and NAK are tested in every pass, after the ACK, before the reply.
  if (answer_ack(now) || ack_missing(now) || send_cut_short(now)) return;
  take_reply(now);
}

void ExchangeEngine::end_send(Result code, Clock::time_point now) {
  if (code == Result::ok) {
    finish(exchange_result_ == Result::ok, now);
    return;
  }
  exchange_result_ = code;
  if ((code == Result::no_ack || code == Result::nak) && sends_ < kSendsMax) {
    exchange_result_ = Result::ok;  // a resend that is answered ends like a first-time success
    send_frame(now);
    return;
  }
  finish(false, now);
}

void ExchangeEngine::finish(bool ok, Clock::time_point now) {
  response_length_ = 0;
  if (ok) {
    const std::uint8_t *status = rx_ + kBodyOffset + kStatusOffset;
    if (status[0] == 0 && status[1] == 0) {
      response_length_ = reply_length() - kBodyHeader;
      std::memcpy(response_, rx_ + kBodyOffset + kBodyHeader, response_length_);
    } else {
      response_[0] = status[0];
      response_[1] = status[1];
      response_length_ = 2;
      exchange_result_ = Result::negative;
    }
  }
  outcome_result_ = exchange_result_;
  // These replace any earlier code, success included; the response stays.
  if (stop_) {
    outcome_result_ = Result::stopped;
  } else if (now >= command_deadline_) {
    outcome_result_ = Result::timeout;
  }
  writing_ = false;
  out_len_ = out_pos_ = 0;
  clear_rx();
  phase_ = Phase::done;
}

}  // namespace tolvex
