// Timer table of the command exchange: 50 slots on the monotonic clock.
#pragma once

#include <chrono>

namespace tolvex {

using Clock = std::chrono::steady_clock;

constexpr int kTimerSlots = 50;

// Records now and the duration in slot. A slot of 50 or more (or below 0) is never stored.
void timer_start(int slot, int ms);
// True when the slot's duration has passed since its start. Slots never stored count as expired.
bool timer_expired(int slot);
// The moment the slot expires (Clock::time_point::min() for slots that always count as expired).
Clock::time_point timer_deadline(int slot);

}  // namespace tolvex
