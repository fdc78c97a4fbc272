// Terminal-level commands (identification, status, settings, clock and card transport)
// and the dispatch of every command to the terminal or one of its media units.
#include "device.hpp"
#include "sim_socket.hpp"

#include <algorithm>
#include <ctime>

namespace tolvex::sim {

namespace {

Bytes text_reply(const char *s) {
  Bytes b(s, s + std::char_traits<char>::length(s));
  b.push_back(0x00);
  return b;
}

std::uint8_t to_bcd(int v) { return static_cast<std::uint8_t>(((v / 10) % 10) << 4 | (v % 10)); }
int from_bcd(std::uint8_t b, bool &ok) {
  if ((b >> 4) > 9 || (b & 0x0F) > 9) ok = false;
  return (b >> 4) * 10 + (b & 0x0F);
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civil_from_days(std::int64_t z, std::int64_t &y, unsigned &m, unsigned &d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

std::int64_t steady_seconds(Clock::time_point now) {
  return std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
}

}  // namespace

std::int64_t bcd_record_to_seconds(const std::uint8_t *rec, bool *ok) {
  bool good = true;
  const int year = from_bcd(rec[0], good) * 100 + from_bcd(rec[1], good);
  const int month = from_bcd(rec[2], good), day = from_bcd(rec[3], good);
  const int hour = from_bcd(rec[4], good), minute = from_bcd(rec[5], good), second = from_bcd(rec[6], good);
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) good = false;
  if (ok) *ok = good;
  if (!good) return 0;
  return days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
         hour * 3600 + minute * 60 + second;
}

void seconds_to_bcd_record(std::int64_t seconds, std::uint8_t *rec) {
  std::int64_t days = seconds / 86400;
  std::int64_t rem = seconds % 86400;
  if (rem < 0) {
    rem += 86400;
    --days;
  }
  std::int64_t y = 0;
  unsigned m = 0, d = 0;
  civil_from_days(days, y, m, d);
  rec[0] = to_bcd(static_cast<int>(y / 100));
  rec[1] = to_bcd(static_cast<int>(y % 100));
  rec[2] = to_bcd(static_cast<int>(m));
  rec[3] = to_bcd(static_cast<int>(d));
  rec[4] = to_bcd(static_cast<int>(rem / 3600));
  rec[5] = to_bcd(static_cast<int>(rem / 60 % 60));
  rec[6] = to_bcd(static_cast<int>(rem % 60));
}

Device::Device(TerminalOptions options)
    : options_(options), next_serial_(options.seed * 7919u + 1u), baud_(options.baud) {
  for (int i = 0; i < 2; ++i) stackers_[i].count = std::clamp(options_.stacker_cards[i], 0, options_.stacker_capacity);
  capture_count_ = std::max(0, options_.capture_count);
  if (options_.card_inside >= 1 && options_.card_inside <= 5) {
    static constexpr Place places[] = {Place::Ms, Place::Ic, Place::Rf, Place::Feeder, Place::Print};
    card_ = Card::fresh(next_serial_++, options_.card_media);
    place_ = places[options_.card_inside - 1];
  }
  // The clock starts at the host's local time.
  const std::time_t wall = std::time(nullptr);
  clock_offset_s_ = static_cast<std::int64_t>(wall) + local_offset_s(wall) - steady_seconds(Clock::now());
}

// The terminal's own commands; the media units list theirs next to their handlers.
struct DeviceCommands {
  struct Row {
    std::string_view code;
    DeviceReply (Device::*run)(const Bytes &, Clock::time_point);
  };
  static constexpr Row kRows[] = {
      // Identification and status.
      {"C11", &Device::report_model},
      {"C12", &Device::report_firmware},
      {"C13", &Device::report_stackers},
      {"C14", &Device::report_status_list},
      {"C15", &Device::report_error_list},
      {"C16", &Device::report_card_position},
      {"C17", &Device::report_input_ports},
      // Settings and the clock.
      {"C21", &Device::set_clock},
      {"C22", &Device::set_eject_mode},
      {"C23", &Device::set_capture_time},
      {"C24", &Device::set_retry_count},
      {"C25", &Device::set_buzzer},
      {"C26", &Device::set_baud_rate},
      {"C27", &Device::set_wait_mode},
      {"C28", &Device::set_stacker_priority},
      {"C40", &Device::set_user_buzz},
      {"C42", &Device::reset_terminal},
      // Card transport; "C37" holds the card at the exit as "C33" does, "T33" is the second eject.
      {"C31", &Device::move_from_stacker},
      {"C32", &Device::move_to_module},
      {"C33", &Device::eject},
      {"T33", &Device::eject},
      {"C37", &Device::eject},
      {"C34", &Device::capture_card},
      {"C36", &Device::eject_drop},
      {"C39", &Device::move_to_stacker},
  };

  // Runs `code` from `table` on `unit`; false when the table does not have it.
  template <class Unit, std::size_t N>
  static bool run(const UnitCommand<Unit> (&table)[N], Unit &unit, Device &d, std::string_view code,
                  const Bytes &data, DeviceReply &reply) {
    for (const UnitCommand<Unit> &c : table) {
      if (c.code != code) continue;
      reply = (unit.*c.run)(d, data);
      return true;
    }
    return false;
  }

  static bool run(Device &d, std::string_view code, const Bytes &data, Clock::time_point now, DeviceReply &reply) {
    for (const Row &r : kRows) {
      if (r.code != code) continue;
      reply = (d.*r.run)(data, now);
      return true;
    }
    return run(kStripeCommands, d.stripe_, d, code, data, reply) || run(kChipCommands, d.chip_, d, code, data, reply) ||
           run(kClassicCommands, d.classic_, d, code, data, reply) ||
           run(kUltralightCommands, d.ultralight_, d, code, data, reply) ||
           run(kSl2Commands, d.sl2_, d, code, data, reply) || run(kPrintCommands, d.print_, d, code, data, reply);
  }

  // How many handlers a code has, over every table.
  static constexpr int handlers(std::string_view code) {
    auto in = [code](const auto &table) {
      return static_cast<int>(std::ranges::count_if(table, [code](const auto &c) { return c.code == code; }));
    };
    return in(kRows) + in(kStripeCommands) + in(kChipCommands) + in(kClassicCommands) + in(kUltralightCommands) +
           in(kSl2Commands) + in(kPrintCommands);
  }
  static constexpr std::size_t handled() {
    return std::size(kRows) + std::size(kStripeCommands) + std::size(kChipCommands) + std::size(kClassicCommands) +
           std::size(kUltralightCommands) + std::size(kSl2Commands) + std::size(kPrintCommands);
  }
};

// Every code of the command table has exactly one handler, and no handler serves a code
// the table does not know.
static_assert(std::ranges::all_of(kCommands, [](const CommandInfo &c) { return DeviceCommands::handlers(c.code) == 1; }),
              "a command of the command table has no handler, or more than one");
static_assert(DeviceCommands::handled() == std::size(kCommands), "a handled code is missing from the command table");

DeviceReply Device::handle(const std::string &code, const Bytes &data, Clock::time_point now) {
  settle_exit(now);
  DeviceReply r;
  if (!DeviceCommands::run(*this, code, data, now, r)) return fail(st::kUndefined);
  // Jams and every unit or medium failure (0x21xx-0x24xx) go into the error list;
  // refused commands (bad frame, no card, card inside) do not.
  if (r.status == st::kJam || r.status >= 0x2100) record_error(r.status);
  return r;
}

void Device::record_error(std::uint16_t code) {
  errors_.push_back(code);
  if (errors_.size() > 8) errors_.erase(errors_.begin());
}

void Device::remove_card() {
  card_.reset();
  at_exit_ = false;
  place_ = Place::None;
}

// A card waiting at the exit is taken by the customer after the configured time, unless
// the capture time (n x 10 s, 0 = none) runs out first: then the terminal pulls it back
// into the capture box, if there is room.
void Device::settle_exit(Clock::time_point now) {
  if (!card_ || !at_exit_) return;
  using std::chrono::milliseconds;
  const bool takes = options_.exit_take_ms >= 0;
  const Clock::time_point taken_at = exit_since_ + milliseconds(std::max(0, options_.exit_take_ms));
  const bool captures = capture_time_ > 0 && capture_count_ < options_.capture_capacity;
  const Clock::time_point captured_at = exit_since_ + milliseconds(capture_time_ * 10000);
  if (captures && now >= captured_at && (!takes || captured_at < taken_at)) {
    ++capture_count_;
    remove_card();
    return;
  }
  if (takes && (options_.exit_take_ms == 0 || now >= taken_at)) remove_card();
}

void Device::take_card(Clock::time_point now) {
  settle_exit(now);
  if (card_ && at_exit_) remove_card();
}

bool Device::card_at_exit(Clock::time_point now) {
  settle_exit(now);
  return card_ && at_exit_;
}

Place Device::place(Clock::time_point now) {
  settle_exit(now);
  return card_ ? place_ : Place::None;
}

void Device::set_conditions(unsigned bits, bool on) {
  if (bits & condition_bit(Condition::Jam)) jammed_ = on;
  if (bits & condition_bit(Condition::NoCartridge1)) stackers_[0].cartridge = !on;
  if (bits & condition_bit(Condition::NoCartridge2)) stackers_[1].cartridge = !on;
  for (int i = 0; i < 2; ++i) {
    const Condition empty = i == 0 ? Condition::Stacker1Empty : Condition::Stacker2Empty;
    const Condition low = i == 0 ? Condition::Stacker1Low : Condition::Stacker2Low;
    if (bits & condition_bit(empty)) sensor_reads_[i] = on ? 3 : (sensor_reads_[i] == 3 ? 0 : sensor_reads_[i]);
    if (bits & condition_bit(low)) sensor_reads_[i] = on ? 2 : (sensor_reads_[i] == 2 ? 0 : sensor_reads_[i]);
  }
}

void Device::clear_conditions() {
  jammed_ = false;
  sensor_reads_ = {};
  for (Stacker &s : stackers_) s.cartridge = true;
}

// The operator opens the terminal and takes out whatever card is in the transport.
void Device::clear_transport() {
  remove_card();
  jammed_ = false;
}

void Device::set_stacker(int index, int count, bool cartridge) {
  if (index < 0 || index > 1) return;
  stackers_[index].count = std::clamp(count, 0, options_.stacker_capacity);
  stackers_[index].cartridge = cartridge;
  stackers_[index].returned.clear();
}

std::uint8_t Device::stacker_state(int index) const {
  const Stacker &s = stackers_[index];
  const int n = s.count + static_cast<int>(s.returned.size());
  if (!s.cartridge) return 5;
  if (sensor_reads_[index] != 0) return sensor_reads_[index];
  if (n == 0) return 3;
  if (n >= options_.stacker_capacity) return 4;
  if (n <= options_.stacker_low) return 2;
  return 1;
}

// Sensor 1 the exit, 2 the magnetic head, 3 the IC contacts, 4 the RF antenna,
// 5 the feeder, 6 the printer.
std::uint8_t Device::sensors() const {
  if (!card_) return 0;
  switch (place_) {
    case Place::Exit: return 0x01;
    case Place::Ms: return 0x02;
    case Place::Ic: return 0x04;
    case Place::Rf: return 0x08;
    case Place::Feeder: return 0x10;
    case Place::Print: return 0x20;
    case Place::None: break;
  }
  return 0;
}

int Device::move_to(Place p) {
  if (!card_) return 0;
  if (place_ == p) return 0;
  card_->chip.powered = false;  // a card on the move leaves the contacts
  place_ = p;
  at_exit_ = p == Place::Exit;
  return busy(p == Place::Exit ? kEject : kMove);
}

// The card in the antenna field. With the sensor, no card at all is "no card"; without
// it, as for a card the field does not reach, "no RF card".
AntennaCard Device::card_at_antenna(bool with_sensor) {
  if (!card_) return {nullptr, fail(with_sensor ? st::kNoCard : st::kNoRfCard)};
  if (place_ != Place::Rf || !card_->media.rf) return {nullptr, fail(st::kNoRfCard)};
  return {&*card_, ok()};
}

int Device::busy(Step step, int count) const {
  if (count > 0) step.count = count;
  return t(step.ms(options_.times));
}

// ---- identification and status ----

DeviceReply Device::report_model(const Bytes &, Clock::time_point) { return ok(text_reply("TOLVEX-SIM TVX-100")); }
DeviceReply Device::report_firmware(const Bytes &, Clock::time_point) { return ok(text_reply("TVX-FW 1.07.2")); }
DeviceReply Device::report_stackers(const Bytes &, Clock::time_point) { return ok({stacker_state(0), stacker_state(1)}); }

// The status list: the conditions that hold now (a jam, cartridges, stacker levels, the
// capture box), each as the status word that names it (high byte first); empty when all
// is well. Errors that have happened are kept apart in the error list ("C15").
DeviceReply Device::report_status_list(const Bytes &, Clock::time_point) {
  Bytes out;
  auto add = [&out](std::uint16_t w) {
    out.push_back(static_cast<std::uint8_t>(w >> 8));
    out.push_back(static_cast<std::uint8_t>(w & 0xFF));
  };
  if (jammed_) add(st::kJam);
  const std::uint8_t s1 = stacker_state(0), s2 = stacker_state(1);
  if (s1 == 5 && s2 == 5) {
    add(st::kNoCartridgeBoth);
  } else {
    if (s1 == 5) add(st::kNoCartridge1);
    if (s2 == 5) add(st::kNoCartridge2);
  }
  if (s1 == 3 && s2 == 3) {
    add(st::kBothEmpty);
  } else {
    if (s1 == 3) add(st::kStacker1Empty);
    if (s2 == 3) add(st::kStacker2Empty);
  }
  if (s1 == 2) add(st::kStacker1Low);
  if (s2 == 2) add(st::kStacker2Low);
  if (s1 == 4) add(st::kStacker1Full);
  if (s2 == 4) add(st::kStacker2Full);
  if (capture_count_ >= options_.capture_capacity) add(st::kCaptureFull);
  return ok(out);
}

DeviceReply Device::report_error_list(const Bytes &, Clock::time_point) {
  Bytes out;
  for (std::uint16_t w : errors_) {
    out.push_back(static_cast<std::uint8_t>(w >> 8));
    out.push_back(static_cast<std::uint8_t>(w & 0xFF));
  }
  return ok(out);
}

DeviceReply Device::report_card_position(const Bytes &, Clock::time_point) { return ok({sensors()}); }

// Port 1: bit 0/1 cartridge of stacker 1/2 present, bit 2/3 stacker 1/2 low or empty,
// bit 4 capture box full, bit 5 card at the exit. Port 2: bit 0 service door closed.
DeviceReply Device::report_input_ports(const Bytes &, Clock::time_point) {
  std::uint8_t p1 = 0;
  if (stackers_[0].cartridge) p1 |= 0x01;
  if (stackers_[1].cartridge) p1 |= 0x02;
  if (stacker_state(0) == 2 || stacker_state(0) == 3) p1 |= 0x04;
  if (stacker_state(1) == 2 || stacker_state(1) == 3) p1 |= 0x08;
  if (capture_count_ >= options_.capture_capacity) p1 |= 0x10;
  if (card_ && at_exit_) p1 |= 0x20;
  return ok({p1, 0x01});
}

// ---- settings: mode 1 sets (no reply data), any other mode reads ----

DeviceReply Device::setting(std::uint8_t &value, const Bytes &d, int lo, int hi) {
  if (d.empty()) return fail(st::kBadFrame);
  if (d[0] == 1) {
    if (d.size() != 2 || d[1] < lo || d[1] > hi) return fail(st::kBadFrame);
    value = d[1];
    return ok();
  }
  return ok({value});
}

DeviceReply Device::set_clock(const Bytes &d, Clock::time_point now) {
  if (d.empty()) return fail(st::kBadFrame);
  if (d[0] == 1) {
    if (d.size() != 8) return fail(st::kBadFrame);
    bool valid = false;
    const std::int64_t s = bcd_record_to_seconds(d.data() + 1, &valid);
    if (!valid) return fail(st::kBadFrame);
    clock_offset_s_ = s - steady_seconds(now);
    return ok();
  }
  Bytes rec(7);
  seconds_to_bcd_record(steady_seconds(now) + clock_offset_s_, rec.data());
  return ok(rec);
}

DeviceReply Device::set_eject_mode(const Bytes &d, Clock::time_point) { return setting(eject_mode_, d, 0, 255); }
DeviceReply Device::set_capture_time(const Bytes &d, Clock::time_point) { return setting(capture_time_, d, 0, 6); }
DeviceReply Device::set_retry_count(const Bytes &d, Clock::time_point) { return setting(retry_count_, d, 0, 255); }
DeviceReply Device::set_buzzer(const Bytes &d, Clock::time_point) { return setting(buzzer_, d, 0, 255); }
DeviceReply Device::set_wait_mode(const Bytes &d, Clock::time_point) { return setting(wait_mode_, d, 0, 255); }
DeviceReply Device::set_stacker_priority(const Bytes &d, Clock::time_point) { return setting(stacker_priority_, d, 0, 255); }

DeviceReply Device::set_baud_rate(const Bytes &d, Clock::time_point) {
  if (d.size() != 1 || terminal_baud(d[0]) == 0) return fail(st::kBadFrame);
  baud_ = terminal_baud(d[0]);
  DeviceReply r = ok();
  r.new_baud = baud_;
  return r;
}

DeviceReply Device::set_user_buzz(const Bytes &d, Clock::time_point) {
  if (d.empty()) return fail(st::kBadFrame);
  if (d[0] == 1) {
    if (d.size() != 6) return fail(st::kBadFrame);
    std::copy(d.begin() + 1, d.end(), buzzer_pattern_.begin());
    return ok();
  }
  return ok(Bytes(buzzer_pattern_.begin(), buzzer_pattern_.end()));
}

// Terminal reset: the error list, the key download and the powered units start afresh.
DeviceReply Device::reset_terminal(const Bytes &, Clock::time_point) {
  errors_.clear();
  classic_.reset();
  chip_.reset();
  if (card_) card_->chip.powered = false;
  return after(busy(work_of("C42")), ok());
}

// ---- card transport ----

// Draws a card from a stacker (1 or 2; 0 and anything above 2 choose by priority).
// In a jammed transport a card already inside stays stuck, and a drawn card sticks at
// the feeder.
DeviceReply Device::draw(int stacker_byte, Place dest) {
  if (card_) return fail(jammed_ ? st::kJam : st::kCardInside);
  auto usable = [this](int i) { return stackers_[i].cartridge && stacker_state(i) != 3; };
  int pick = -1;
  if (stacker_byte == 1 || stacker_byte == 2) {
    const int i = stacker_byte - 1;
    if (!stackers_[i].cartridge) return fail(i == 0 ? st::kNoCartridge1 : st::kNoCartridge2);
    if (!usable(i)) return fail(i == 0 ? st::kStacker1Empty : st::kStacker2Empty);
    pick = i;
  } else {
    const int first = stacker_priority_ == 2 ? 1 : 0;
    if (usable(first)) {
      pick = first;
    } else if (usable(1 - first)) {
      pick = 1 - first;
    } else if (!stackers_[0].cartridge && !stackers_[1].cartridge) {
      return fail(st::kNoCartridgeBoth);
    } else {
      return fail(st::kBothEmpty);
    }
  }
  Stacker &s = stackers_[pick];
  if (!s.returned.empty()) {
    card_ = std::move(s.returned.back());
    s.returned.pop_back();
  } else {
    --s.count;
    card_ = Card::fresh(next_serial_++, options_.card_media);
  }
  at_exit_ = false;
  if (jammed_) {
    place_ = Place::Feeder;
    return after(busy(kDraw), fail(st::kJam));
  }
  place_ = dest;
  return after(busy(kDraw), ok());
}

namespace {
bool destination(std::uint8_t b, Place &p) {
  switch (b) {
    case 1: p = Place::Ms; return true;
    case 2: p = Place::Ic; return true;
    case 3: p = Place::Rf; return true;
    case 4: p = Place::Feeder; return true;
    case 5: p = Place::Print; return true;
    default: return false;
  }
}
}  // namespace

DeviceReply Device::move_from_stacker(const Bytes &d, Clock::time_point) {
  Place p{};
  if (d.size() != 2 || !destination(d[1], p)) return fail(st::kBadFrame);
  return draw(d[0], p);
}

DeviceReply Device::move_to_module(const Bytes &d, Clock::time_point) {
  Place p{};
  if (d.size() != 1 || !destination(d[0], p)) return fail(st::kBadFrame);
  if (!inside()) return fail(st::kNoCard);
  if (jammed_) return fail(st::kJam);
  return after(move_to(p), ok());
}

DeviceReply Device::eject(const Bytes &d, Clock::time_point now) {
  if (!d.empty()) return fail(st::kBadFrame);
  if (!card_) return fail(st::kNoCard);
  if (jammed_) return fail(st::kJam);
  const bool was_at_exit = at_exit_;
  const int busy = move_to(Place::Exit);
  if (!was_at_exit) exit_since_ = now + std::chrono::milliseconds(busy);
  settle_exit(now);
  return after(busy, ok());
}

DeviceReply Device::eject_drop(const Bytes &d, Clock::time_point) {
  if (!d.empty()) return fail(st::kBadFrame);
  if (!card_) return fail(st::kNoCard);
  if (jammed_) return fail(st::kJam);
  remove_card();
  return after(busy(work_of("C36")), ok());
}

DeviceReply Device::capture_card(const Bytes &d, Clock::time_point) {
  if (!d.empty()) return fail(st::kBadFrame);
  if (!card_) return fail(st::kNoCard);  // a card at the exit is pulled back and captured
  if (jammed_) return fail(st::kJam);
  if (capture_count_ >= options_.capture_capacity) return fail(st::kCaptureFull);
  ++capture_count_;
  remove_card();
  return after(busy(work_of("C34")), ok());
}

DeviceReply Device::move_to_stacker(const Bytes &d, Clock::time_point) {
  if (d.size() != 1) return fail(st::kBadFrame);
  if (!inside()) return fail(st::kNoCard);
  if (jammed_) return fail(st::kJam);
  const int i = d[0] == 2 ? 1 : d[0] == 1 ? 0 : (stacker_priority_ == 2 ? 1 : 0);
  Stacker &s = stackers_[i];
  if (!s.cartridge) return fail(i == 0 ? st::kNoCartridge1 : st::kNoCartridge2);
  if (s.count + static_cast<int>(s.returned.size()) >= options_.stacker_capacity)
    return fail(i == 0 ? st::kStacker1Full : st::kStacker2Full);
  card_->chip.powered = false;
  s.returned.push_back(std::move(*card_));
  remove_card();
  return after(busy(work_of("C39")), ok());
}

}  // namespace tolvex::sim
