// Mechanical times against the reply windows.
#include "timing.hpp"

#include <string>

namespace tolvex::sim {

std::string check_times(const MechanicalTimes &t) {
  // The reply must also cross the line: a full-size reply at 9600 bd takes about a second.
  // Time left for the reply itself, by reply window:
  constexpr int kShortLine = 250, kLongLine = 1500;
  for (const CommandTime &c : kCommandTimes) {
    // Two steps of the same time read as one taken twice.
    Step steps[2] = {c.moving, c.working};
    if (steps[0].time && steps[0].time == steps[1].time) {
      steps[1].count += steps[0].count;
      steps[0] = {};
    }
    long total = 0;
    std::string sum;
    for (const Step &p : steps) {
      if (!p.time) continue;
      total += p.ms(t);
      if (!sum.empty()) sum += " + ";
      sum += (p.count > 1 ? std::to_string(p.count) + " x " : std::string()) + p.name + " " + std::to_string(t.*(p.time));
    }
    const int window_ms = reply_window_ms(c.code);
    const int budget = window_ms - (is_short_reply(c.code) ? kShortLine : kLongLine);
    if (total > budget)
      return std::string(c.code) + " would be busy " + std::to_string(total) + " ms (" + sum + "), more than the " +
             std::to_string(budget) + " ms its " + std::to_string(window_ms) +
             " ms reply window leaves after the line";
  }
  return {};
}

}  // namespace tolvex::sim
