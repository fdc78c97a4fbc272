// The terminal's inner state and the dispatch of its commands: stackers, capture box,
// transport and sensors, settings and clock here; each card medium in a unit of its own.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "card.hpp"
#include "frame.hpp"
#include "reply.hpp"
#include "timing.hpp"
#include "tolvex_sim/simulator.hpp"

namespace tolvex::sim {

// Bit of a Condition in a set of conditions.
constexpr unsigned condition_bit(Condition c) { return 1u << static_cast<unsigned>(c); }

struct Stacker {
  int count = 0;
  bool cartridge = true;
  std::vector<Card> returned;  // cards put back by "collect", drawn first
};

// The card in the antenna field, or the reply that says there is none.
struct AntennaCard {
  Card *card = nullptr;
  DeviceReply refusal;
  explicit operator bool() const { return card != nullptr; }
  Card *operator->() const { return card; }
};

class Device {
 public:
  explicit Device(TerminalOptions options = {});

  // Runs one command at time `now` and returns the reply.
  DeviceReply handle(const std::string &code, const Bytes &data, Clock::time_point now);

  // Records an error the terminal reports (the error list of "C15").
  void record_error(std::uint16_t code);

  // Customer side and inspection.
  void take_card(Clock::time_point now);
  bool card_at_exit(Clock::time_point now);
  Place place(Clock::time_point now);
  const Card *card() const { return card_ ? &*card_ : nullptr; }
  Card *card() { return card_ ? &*card_ : nullptr; }
  void set_stacker(int index, int count, bool cartridge);
  const Stacker &stacker(int index) const { return stackers_[index]; }
  int capture_count() const { return capture_count_; }
  void set_capture_count(int count) { capture_count_ = std::max(0, count); }

  // Lasting fault states (a set of condition_bit values).
  void set_conditions(unsigned bits, bool on);
  void clear_conditions();
  void clear_transport();
  int baud() const { return baud_; }
  const TerminalOptions &options() const { return options_; }

  // What the media units use of the transport.
  bool inside() const { return card_ && !at_exit_; }  // a card in the transport, not at the exit
  bool at(Place p) const { return card_ && place_ == p; }
  bool jammed() const { return jammed_; }
  AntennaCard card_at_antenna(bool with_sensor);
  int move_to(Place p);  // moves the card inside, returns the mechanical time
  DeviceReply draw(int stacker_byte, Place dest);
  // The time of a step (`count` times over when given), 0 when instant.
  int busy(Step step, int count = 0) const;
  std::uint32_t next_serial() const { return next_serial_; }

 private:
  friend struct DeviceCommands;

  void settle_exit(Clock::time_point now);
  void remove_card();
  std::uint8_t stacker_state(int index) const;
  std::uint8_t sensors() const;
  int t(int ms) const { return options_.instant ? 0 : ms; }

  // Identification and status.
  DeviceReply report_model(const Bytes &, Clock::time_point);
  DeviceReply report_firmware(const Bytes &, Clock::time_point);
  DeviceReply report_stackers(const Bytes &, Clock::time_point);
  DeviceReply report_status_list(const Bytes &, Clock::time_point);
  DeviceReply report_error_list(const Bytes &, Clock::time_point);
  DeviceReply report_card_position(const Bytes &, Clock::time_point);
  DeviceReply report_input_ports(const Bytes &, Clock::time_point);
  // Settings and the clock.
  DeviceReply set_clock(const Bytes &, Clock::time_point);
  DeviceReply set_eject_mode(const Bytes &, Clock::time_point);
  DeviceReply set_capture_time(const Bytes &, Clock::time_point);
  DeviceReply set_retry_count(const Bytes &, Clock::time_point);
  DeviceReply set_buzzer(const Bytes &, Clock::time_point);
  DeviceReply set_baud_rate(const Bytes &, Clock::time_point);
  DeviceReply set_wait_mode(const Bytes &, Clock::time_point);
  DeviceReply set_stacker_priority(const Bytes &, Clock::time_point);
  DeviceReply set_user_buzz(const Bytes &, Clock::time_point);
  DeviceReply reset_terminal(const Bytes &, Clock::time_point);
  DeviceReply setting(std::uint8_t &value, const Bytes &d, int lo, int hi);
  // Card transport.
  DeviceReply move_from_stacker(const Bytes &, Clock::time_point);
  DeviceReply move_to_module(const Bytes &, Clock::time_point);
  DeviceReply eject(const Bytes &, Clock::time_point);
  DeviceReply capture_card(const Bytes &, Clock::time_point);
  DeviceReply eject_drop(const Bytes &, Clock::time_point);
  DeviceReply move_to_stacker(const Bytes &, Clock::time_point);

  TerminalOptions options_;
  std::array<Stacker, 2> stackers_;
  int capture_count_ = 0;
  std::uint32_t next_serial_;

  std::optional<Card> card_;
  Place place_ = Place::None;
  bool at_exit_ = false;
  Clock::time_point exit_since_{};

  // Lasting fault states besides the cartridges (which live in the stackers).
  bool jammed_ = false;
  std::array<std::uint8_t, 2> sensor_reads_{};  // 0 as the count says, 2 near-empty, 3 empty

  // Settings.
  std::int64_t clock_offset_s_ = 0;  // terminal clock = steady seconds + offset
  std::uint8_t eject_mode_ = 0, capture_time_ = 0, retry_count_ = 3, buzzer_ = 1;
  std::uint8_t wait_mode_ = 0, stacker_priority_ = 1;
  std::array<std::uint8_t, 5> buzzer_pattern_{};
  int baud_ = 38400;
  std::vector<std::uint16_t> errors_;  // most recent last

  // The media units.
  StripeMedium stripe_;
  ChipMedium chip_;
  ClassicMedium classic_;
  UltralightMedium ultralight_;
  Sl2Medium sl2_;
  PrintMedium print_;
};

// Calendar helpers for the packed-BCD clock record.
std::int64_t bcd_record_to_seconds(const std::uint8_t *rec, bool *ok);
void seconds_to_bcd_record(std::int64_t seconds, std::uint8_t *rec);

}  // namespace tolvex::sim
