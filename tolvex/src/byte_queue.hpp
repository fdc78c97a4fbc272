// The receive queue: a ring of 1000 byte slots shared by one producer (the receive
// thread) and one consumer (the command worker), without a lock.
#pragma once

#include <atomic>
#include <cstdint>

namespace tolvex {

class CByteQueue {
 public:
  static constexpr int kSlots = 1000;  // one slot always stays empty: holds at most 999

  // Bytes held: (head - tail + 1000) mod 1000. Either side may ask.
  int count() const {
    const int h = head_.load(std::memory_order_acquire);
    const int t = tail_.load(std::memory_order_acquire);
    return (h - t + kSlots) % kSlots;
  }
  // Producer side. Returns 0 and stores nothing when 999 bytes are held.
  int push(std::uint8_t b) {
    const int h = head_.load(std::memory_order_relaxed);
    const int next = (h + 1) % kSlots;
    if (next == tail_.load(std::memory_order_acquire)) return 0;
    buffer_[h] = b;
    head_.store(next, std::memory_order_release);  // the byte becomes visible before the index
    return 1;
  }
  // Consumer side. Returns 0 when empty, else hands the oldest byte back.
  int pop(std::uint8_t &b) {
    const int t = tail_.load(std::memory_order_relaxed);
    if (t == head_.load(std::memory_order_acquire)) return 0;
    b = buffer_[t];
    tail_.store((t + 1) % kSlots, std::memory_order_release);
    return 1;
  }

 private:
  std::uint8_t buffer_[kSlots] = {};
  std::atomic<int> head_{0};
  std::atomic<int> tail_{0};
};

}  // namespace tolvex
