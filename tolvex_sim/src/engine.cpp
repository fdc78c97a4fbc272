#include "engine.hpp"

#include <algorithm>

namespace tolvex::sim {

namespace {
constexpr int kSplitGapMs = 20;
// A whole reply frame stays within the host's receive buffer.
constexpr std::size_t kMaxReplyData = kResponseMax;
}

void Engine::receive(const std::uint8_t *bytes, std::size_t n, Clock::time_point now, std::vector<OutChunk> &out) {
  std::vector<LineEvent> events;
  parser_.feed(bytes, n, now, events);
  for (const LineEvent &ev : events) {
    switch (ev.kind) {
      case LineEvent::Frame:
        on_frame(ev, now, out);
        break;
      case LineEvent::BadFrame:
        ++bad_frames_;
        state_ = State::Idle;
        out.push_back({now, 0, {kNak}, 0, false});
        break;
      case LineEvent::Enq:
        // ENQ after the ACK asks for the reply; ENQ after a reply asks for it again.
        if (state_ == State::WaitEnq || state_ == State::WaitHostAck) send_reply(now, out);
        break;
      case LineEvent::Nak:
        if (state_ == State::WaitHostAck) send_reply(now, out);
        break;
      case LineEvent::Ack:
        if (state_ == State::WaitHostAck) state_ = State::Idle;
        break;
    }
  }
}

void Engine::on_frame(const LineEvent &ev, Clock::time_point now, std::vector<OutChunk> &out) {
  ++frames_;
  // A new command: whatever is still queued of an earlier reply is stale.
  if (state_ != State::Idle) out.push_back({now, 0, {}, 0, true});
  const FaultEffect fx = faults_.decide(ev.code);
  if (fx.clear_conditions) device_.clear_conditions();
  if (fx.set_conditions != 0) device_.set_conditions(fx.set_conditions, true);
  if (fx.no_ack) {
    state_ = State::Idle;
    return;
  }
  if (fx.nak) {
    state_ = State::Idle;
    out.push_back({now, 0, {kNak}, 0, false});
    return;
  }
  Bytes ack = faults_.noise(fx.ack_noise);
  ack.push_back(kAck);
  out.push_back({now, 0, ack, 0, false});

  DeviceReply r;
  if (fx.has_status) {
    r.status = fx.status;
    if (fx.status != 0) device_.record_error(fx.status);
  } else {
    r = device_.handle(ev.code, ev.data, now);
  }
  if (r.data.size() > kMaxReplyData) r.data.resize(kMaxReplyData);
  reply_ = reply_frame(ev.code, r.status, r.data);
  ready_at_ = now + std::chrono::milliseconds(std::max(0, r.busy_ms));
  late_ms_ = fx.late_ms;
  bad_bcc_left_ = fx.bad_bcc;
  split_ = fx.split;
  noise_ = fx.noise;
  new_baud_ = r.new_baud;
  state_ = State::WaitEnq;
}

void Engine::send_reply(Clock::time_point now, std::vector<OutChunk> &out) {
  const bool first = state_ == State::WaitEnq;
  Clock::time_point at = std::max(now, ready_at_);
  if (first && late_ms_ > 0) at += std::chrono::milliseconds(late_ms_);
  Bytes frame = reply_;
  if (bad_bcc_left_ > 0) {
    --bad_bcc_left_;
    frame.back() = static_cast<std::uint8_t>(frame.back() ^ 0x5A);
  }
  if (first && noise_ > 0) out.push_back({at, 0, faults_.noise(noise_), 0, false});
  const int pieces = first ? std::clamp(split_, 1, static_cast<int>(frame.size())) : 1;
  const std::size_t size = frame.size() / static_cast<std::size_t>(pieces);
  std::size_t pos = 0;
  for (int i = 0; i < pieces; ++i) {
    const std::size_t end = i + 1 == pieces ? frame.size() : pos + size;
    out.push_back({at, i == 0 ? 0 : kSplitGapMs,
                   Bytes(frame.begin() + static_cast<std::ptrdiff_t>(pos), frame.begin() + static_cast<std::ptrdiff_t>(end)),
                   0, false});
    pos = end;
  }
  if (first && new_baud_ > 0) {
    out.push_back({at, 0, {}, new_baud_, false});
    new_baud_ = 0;
  }
  state_ = State::WaitHostAck;
}

}  // namespace tolvex::sim
