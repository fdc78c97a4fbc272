// The terminal's side of the line protocol: takes received bytes, answers command
// frames with ACK or NAK, waits for ENQ, sends the reply, resends it on NAK, and
// applies the fault plan. Pure logic: time comes in as an argument and the bytes to
// send come out as scheduled chunks, so it runs the same on a pseudo-terminal and in
// tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "device.hpp"
#include "faults.hpp"
#include "frame.hpp"

namespace tolvex::sim {

// Bytes to write, not before `not_before` and at least `gap_ms` after the previous
// chunk has gone out. A chunk with new_baud > 0 switches the line speed once every
// earlier byte has gone out; its bytes are empty. A chunk with drop_queued set carries
// no bytes and tells the writer to forget every queued chunk that has not started
// going out (a reply the host no longer waits for).
struct OutChunk {
  Clock::time_point not_before{};
  int gap_ms = 0;
  Bytes bytes;
  int new_baud = 0;
  bool drop_queued = false;
};

class Engine {
 public:
  Engine(Device &device, FaultPlan &faults) : device_(device), faults_(faults) {}

  // Handles bytes received at `now`; scheduled output is appended to `out`.
  void receive(const std::uint8_t *bytes, std::size_t n, Clock::time_point now, std::vector<OutChunk> &out);

  enum class State { Idle, WaitEnq, WaitHostAck };
  State state() const { return state_; }
  std::uint64_t frames() const { return frames_; }
  std::uint64_t bad_frames() const { return bad_frames_; }

 private:
  void on_frame(const LineEvent &ev, Clock::time_point now, std::vector<OutChunk> &out);
  void send_reply(Clock::time_point now, std::vector<OutChunk> &out);

  Device &device_;
  FaultPlan &faults_;
  FrameParser parser_;
  State state_ = State::Idle;
  std::uint64_t frames_ = 0;
  std::uint64_t bad_frames_ = 0;

  // The reply of the command in progress.
  Bytes reply_;
  Clock::time_point ready_at_{};
  int bad_bcc_left_ = 0;
  int split_ = 0;
  int noise_ = 0;
  int late_ms_ = 0;
  int new_baud_ = 0;
};

}  // namespace tolvex::sim
