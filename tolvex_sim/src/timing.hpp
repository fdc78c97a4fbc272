// What each command's mechanical time is made of. The handlers take their times from
// here, and check_times() holds the same rows against the reply windows.
#pragma once

#include <algorithm>
#include <string_view>

#include "tolvex/protocol.hpp"
#include "tolvex_sim/simulator.hpp"

namespace tolvex::sim {

// One mechanical step: which time, how many times over.
struct Step {
  int MechanicalTimes::*time = nullptr;  // null: no step
  int count = 1;
  const char *name = "";
  constexpr int ms(const MechanicalTimes &t) const { return time ? t.*time * count : 0; }
};

// Movements of the card, paid whenever the card goes somewhere else.
inline constexpr Step kDraw{&MechanicalTimes::draw, 1, "draw"};
inline constexpr Step kMove{&MechanicalTimes::move, 1, "move"};
inline constexpr Step kEject{&MechanicalTimes::eject, 1, "eject"};

// A command's time: the movement that brings the card where the command works (none when
// the card is there already; the worst case counts here) and the work done there.
struct CommandTime {
  std::string_view code;
  Step moving;
  Step working;
};

namespace time_rows {
inline constexpr Step capture{&MechanicalTimes::capture, 1, "capture"};
inline constexpr Step collect{&MechanicalTimes::collect, 1, "collect"};
inline constexpr Step ms{&MechanicalTimes::ms, 1, "ms"};
inline constexpr Step ic{&MechanicalTimes::ic, 1, "ic"};
inline constexpr Step rf{&MechanicalTimes::rf, 1, "rf"};
inline constexpr Step print{&MechanicalTimes::print, 1, "print"};
constexpr Step times(Step s, int n) { return Step{s.time, n, s.name}; }

// Listed in the order of the command table (I22 aside); the first that does not fit is named.
inline constexpr CommandTime kCommandTimes[] = {
    {"C31", kDraw, {}},
    {"C32", kMove, {}},
    {"C33", kEject, {}},
    {"T33", kEject, {}},
    {"C34", {}, capture},
    {"C36", {}, kEject},  // dropped at the exit
    {"C37", kEject, {}},
    {"C39", {}, collect},
    {"C42", {}, kMove},  // the transport resets
    {"M31", kMove, ms},
    {"M33", kMove, ms},
    {"M34", kDraw, ms},
    {"M35", kMove, ms},
    {"M36", kMove, ms},
    {"M37", kDraw, ms},
    {"M51", {}, times(ms, 2)},
    {"I22", {}, ic},  // ahead of I21: the contact command is the one named when "ic" is too long
    {"I21", {}, ic},
    {"I25", {}, ic},
    {"I26", {}, ic},
    {"R31", {}, rf},
    {"R32", {}, rf},
    {"R33", {}, rf},
    {"R34", {}, rf},
    {"R36", {}, times(rf, 15)},  // per block, up to 15 in sectors 32-39
    {"R37", {}, times(rf, 15)},
    {"R41", {}, rf},
    {"R42", {}, rf},
    {"R43", {}, rf},
    {"R44", {}, rf},
    {"R54", {}, rf},
    {"R61", {}, rf},
    {"R62", {}, rf},
    {"U31", {}, rf},
    {"U32", {}, rf},
    {"U33", {}, rf},
    {"U41", {}, rf},
    {"S10", {}, rf},
    {"S11", {}, rf},
    {"S12", {}, rf},
    {"S16", {}, times(rf, 4)},  // four blocks at a time
    {"S17", {}, times(rf, 4)},
    {"S19", {}, rf},
    {"P10", kMove, print},
    {"P20", kMove, print},
    {"Z01", kMove, kMove},  // out of the printer and back
};
}  // namespace time_rows
using time_rows::kCommandTimes;

// The work step of a command, found while compiling: a code without a row does not build.
consteval Step work_of(std::string_view code) {
  for (const CommandTime &c : kCommandTimes)
    if (c.code == code) return c.working;
  throw "a command without a row in kCommandTimes";
}

static_assert(std::ranges::all_of(kCommandTimes, [](const CommandTime &c) { return is_known_code(c.code); }),
              "a timed code is missing from the command table");

}  // namespace tolvex::sim
