// The fault plan: rules that make the simulated terminal misbehave on purpose, chosen
// reproducibly from a seed.
//
// Rule syntax (one rule per --fault option or add_fault call):
//
//   TARGET:KIND[=VALUE][@PERCENT%|#N]
//
//   TARGET   a three-character command code ("M31") or "all"
//   KIND     noack        the frame is ignored: no ACK, the command is not run
//            nak          the frame is refused with NAK, the command is not run
//            badbcc=N     the reply is sent with a wrong block check N times (default 1),
//                         then correctly
//            late=MS      the reply is held back MS milliseconds after the host's ENQ
//            split=N      the reply is sent in N pieces (default 2) with 20 ms between them
//            noise=N      N noise bytes (default 3) go out right before the reply frame
//            acknoise=N   N noise bytes (default 3) go out right before the ACK
//            status=W     the command is not run and the reply carries the status word W
//                         (hex with 0x or decimal) and no data; W is also recorded in the
//                         terminal's error list
//   Lasting states, set before the command runs and kept until cleared:
//            jam          a card sticks in the transport: draws and moves answer 0x2004
//            nocartridge=S  the cartridge of stacker S (1 or 2) is taken out
//            empty=S      stacker S reads empty
//            low=S        stacker S reads near-empty
//            clear        every lasting state is cleared (cartridges back in)
//   @P%      the rule fires on each matching command frame with probability P (0-100,
//            decimals allowed), drawn from the seeded generator
//   #N       the rule fires only on the Nth matching command frame (1-based)
//   neither  the rule fires on every matching command frame
//
// Every valid command frame counts, resends included. Several rules may fire on one
// frame; noack wins over nak, and both win over everything else. Noise bytes are never
// SOH, ENQ, ACK or NAK.
//
// Examples: "M31:status=0x2203@5%", "C31:status=0x2004#3", "all:nak", "C11:late=2500",
// "C31:jam#3", "C31:empty=1#10", "C42:clear".
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tolvex::sim {

struct FaultRule {
  enum Kind { NoAck, Nak, BadBcc, Late, Split, Noise, AckNoise, Status, Jam, NoCartridge, Empty, Low, Clear };
  std::string code;  // empty = every command
  Kind kind = NoAck;
  int value = 0;
  double percent = -1.0;  // >= 0: probability trigger
  long nth = 0;           // > 0: fires on this matching frame only
  long seen = 0;          // matching frames so far
};

// Parses one rule; returns false and sets *error on a syntax error.
bool parse_fault_rule(const std::string &text, FaultRule &rule, std::string *error);

// What the fired rules ask for one command frame.
struct FaultEffect {
  bool no_ack = false;
  bool nak = false;
  int bad_bcc = 0;
  int late_ms = 0;
  int split = 0;
  int noise = 0;
  int ack_noise = 0;
  bool has_status = false;
  std::uint16_t status = 0;
  bool clear_conditions = false;  // applied before set_conditions
  unsigned set_conditions = 0;    // bits 1 << Condition
};

class FaultPlan {
 public:
  explicit FaultPlan(std::uint32_t seed = 1) : rng_(seed) {}

  void add(const FaultRule &rule) { rules_.push_back(rule); }
  void clear() { rules_.clear(); }
  bool empty() const { return rules_.empty(); }

  // Decides the faults for one valid command frame with this code.
  FaultEffect decide(const std::string &code);

  // Random noise bytes that are none of the line's control bytes.
  std::vector<std::uint8_t> noise(int n);

 private:
  std::vector<FaultRule> rules_;
  std::mt19937 rng_;
};

}  // namespace tolvex::sim
