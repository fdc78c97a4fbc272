#include "timers.hpp"

namespace tolvex {
namespace {

struct Slot {
  Clock::time_point start{};
  Clock::duration length{};
};
// Used by the command worker alone.
Slot g_slots[kTimerSlots];

bool stored(int slot) { return slot >= 0 && slot < kTimerSlots; }

}  // namespace

void timer_start(int slot, int ms) {
  if (!stored(slot)) return;
  g_slots[slot].start = Clock::now();
  g_slots[slot].length = std::chrono::milliseconds(ms < 0 ? 0 : ms);
}

Clock::time_point timer_deadline(int slot) {
  if (!stored(slot)) return Clock::time_point::min();
  return g_slots[slot].start + g_slots[slot].length;
}

bool timer_expired(int slot) {
  if (!stored(slot)) return true;
  return Clock::now() >= timer_deadline(slot);
}

}  // namespace tolvex
