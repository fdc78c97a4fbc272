#include "faults.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "device.hpp"
#include "frame.hpp"

namespace tolvex::sim {

namespace {

bool fail(std::string *error, const std::string &text) {
  if (error) *error = text;
  return false;
}

// Whole-string integer (decimal, or hex with 0x); false when not a number.
bool parse_int(const std::string &s, long &out) {
  if (s.empty()) return false;
  char *end = nullptr;
  const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
  errno = 0;
  out = std::strtol(s.c_str(), &end, hex ? 16 : 10);
  return errno == 0 && end && *end == '\0';
}

}  // namespace

bool parse_fault_rule(const std::string &text, FaultRule &rule, std::string *error) {
  rule = FaultRule{};
  const auto colon = text.find(':');
  if (colon == std::string::npos) return fail(error, "fault rule '" + text + "': expected TARGET:KIND");
  const std::string target = text.substr(0, colon);
  std::string rest = text.substr(colon + 1);
  if (target == "all" || target == "ALL") {
    rule.code.clear();
  } else if (target.size() == 3 && std::isalpha(static_cast<unsigned char>(target[0])) &&
             std::isdigit(static_cast<unsigned char>(target[1])) &&
             std::isdigit(static_cast<unsigned char>(target[2]))) {
    rule.code = target;
    rule.code[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(rule.code[0])));
  } else {
    return fail(error, "fault rule '" + text + "': target must be a command code such as M31, or all");
  }

  // Trigger suffix.
  const auto trig = rest.find_first_of("@#");
  if (trig != std::string::npos) {
    const std::string t = rest.substr(trig + 1);
    if (rest[trig] == '@') {
      if (t.empty() || t.back() != '%') return fail(error, "fault rule '" + text + "': probability must end in %");
      char *end = nullptr;
      const std::string num = t.substr(0, t.size() - 1);
      const double p = std::strtod(num.c_str(), &end);
      if (num.empty() || !end || *end != '\0' || p < 0.0 || p > 100.0)
        return fail(error, "fault rule '" + text + "': probability must be 0 to 100%");
      rule.percent = p;
    } else {
      long n = 0;
      if (!parse_int(t, n) || n < 1) return fail(error, "fault rule '" + text + "': #N needs N >= 1");
      rule.nth = n;
    }
    rest = rest.substr(0, trig);
  }

  std::string kind = rest;
  std::string value;
  const auto eq = rest.find('=');
  if (eq != std::string::npos) {
    kind = rest.substr(0, eq);
    value = rest.substr(eq + 1);
  }
  struct Def {
    const char *name;
    FaultRule::Kind kind;
    bool takes_value;
    bool needs_value;
    int deflt;
    long min;
    long max;
  };
  static const Def defs[] = {
      {"noack", FaultRule::NoAck, false, false, 0, 0, 0},
      {"nak", FaultRule::Nak, false, false, 0, 0, 0},
      {"badbcc", FaultRule::BadBcc, true, false, 1, 1, 100},
      {"late", FaultRule::Late, true, true, 0, 0, 600000},
      {"split", FaultRule::Split, true, false, 2, 2, 1000},
      {"noise", FaultRule::Noise, true, false, 3, 1, 1000},
      {"acknoise", FaultRule::AckNoise, true, false, 3, 1, 1000},
      {"status", FaultRule::Status, true, true, 0, 0, 0xFFFF},
      {"jam", FaultRule::Jam, false, false, 0, 0, 0},
      {"nocartridge", FaultRule::NoCartridge, true, true, 0, 1, 2},
      {"empty", FaultRule::Empty, true, true, 0, 1, 2},
      {"low", FaultRule::Low, true, true, 0, 1, 2},
      {"clear", FaultRule::Clear, false, false, 0, 0, 0},
  };
  for (const Def &d : defs) {
    if (kind != d.name) continue;
    rule.kind = d.kind;
    if (value.empty()) {
      if (eq != std::string::npos || d.needs_value)
        return fail(error, "fault rule '" + text + "': " + d.name + " needs a value");
      rule.value = d.deflt;
      return true;
    }
    if (!d.takes_value) return fail(error, "fault rule '" + text + "': " + d.name + " takes no value");
    long v = 0;
    if (!parse_int(value, v) || v < d.min || v > d.max)
      return fail(error, "fault rule '" + text + "': bad value for " + d.name);
    rule.value = static_cast<int>(v);
    return true;
  }
  return fail(error, "fault rule '" + text +
                         "': unknown kind (noack, nak, badbcc, late, split, noise, acknoise, status, jam, "
                         "nocartridge, empty, low, clear)");
}

FaultEffect FaultPlan::decide(const std::string &code) {
  FaultEffect e;
  for (FaultRule &r : rules_) {
    if (!r.code.empty() && r.code != code) continue;
    ++r.seen;
    bool fire = true;
    if (r.nth > 0) {
      fire = r.seen == r.nth;
    } else if (r.percent >= 0.0) {
      std::uniform_real_distribution<double> dist(0.0, 100.0);
      fire = dist(rng_) < r.percent;
    }
    if (!fire) continue;
    switch (r.kind) {
      case FaultRule::NoAck: e.no_ack = true; break;
      case FaultRule::Nak: e.nak = true; break;
      case FaultRule::BadBcc: e.bad_bcc += r.value; break;
      case FaultRule::Late: e.late_ms += r.value; break;
      case FaultRule::Split: e.split = std::max(e.split, r.value); break;
      case FaultRule::Noise: e.noise += r.value; break;
      case FaultRule::AckNoise: e.ack_noise += r.value; break;
      case FaultRule::Status:
        e.has_status = true;
        e.status = static_cast<std::uint16_t>(r.value);
        break;
      case FaultRule::Jam: e.set_conditions |= condition_bit(Condition::Jam); break;
      case FaultRule::NoCartridge:
        e.set_conditions |= condition_bit(r.value == 1 ? Condition::NoCartridge1 : Condition::NoCartridge2);
        break;
      case FaultRule::Empty:
        e.set_conditions |= condition_bit(r.value == 1 ? Condition::Stacker1Empty : Condition::Stacker2Empty);
        break;
      case FaultRule::Low:
        e.set_conditions |= condition_bit(r.value == 1 ? Condition::Stacker1Low : Condition::Stacker2Low);
        break;
      case FaultRule::Clear: e.clear_conditions = true; break;
    }
  }
  return e;
}

std::vector<std::uint8_t> FaultPlan::noise(int n) {
  std::vector<std::uint8_t> out;
  std::uniform_int_distribution<int> dist(0, 255);
  while (static_cast<int>(out.size()) < n) {
    const auto b = static_cast<std::uint8_t>(dist(rng_));
    if (b == kStart || b == kEnq || b == kAck || b == kNak) continue;
    out.push_back(b);
  }
  return out;
}

}  // namespace tolvex::sim
