// The terminal's inner state and what each command does to it: stackers, capture box,
// transport and sensors, settings, and the media of the card inside.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame.hpp"
#include "tolvex_sim/simulator.hpp"

namespace tolvex::sim {

namespace st = ::tolvex::terminal_status;

struct DeviceConfig {
  int stacker_cards[2] = {100, 100};
  int stacker_capacity = 200;
  int stacker_low = 10;          // at or below this count a stacker reports "warning"
  int capture_capacity = 100;
  int exit_take_ms = 0;          // 0 taken at once, -1 only by take_card(), n after n ms
  bool instant = true;           // no mechanical times
  MechanicalTimes times;
  std::uint32_t seed = 1;        // card serial numbers
  int baud = 38400;
  int capture_count = 0;         // cards in the capture box at start
  int card_inside = 0;           // 1-5: a card at that place ("C32" codes) at start
  CardMedia media;               // what every card carries
};

// Bit of a Condition in a set of conditions.
constexpr unsigned condition_bit(Condition c) { return 1u << static_cast<unsigned>(c); }

// Where the card is. The card sensors (C16, bit 0 = sensor 1) map one bit per place.
enum class Place : std::uint8_t { None, Exit, Ms, Ic, Rf, Feeder, Print };

// One card with every medium the terminal can handle.
struct Card {
  std::uint32_t serial = 0;
  CardMedia media;
  std::array<std::string, 3> tracks;
  // Contact chip: files by id under one application directory, contents zero at first.
  std::map<std::uint16_t, Bytes> ic_files;
  bool ic_powered = false;
  int ic_df = -1;    // selected directory id, -1 = master file
  int ic_ef = -1;    // selected elementary file, -1 = none
  // MIFARE Classic 4K.
  std::array<std::uint8_t, 4096> classic{};
  // Ultralight: 48 pages of 4 bytes.
  std::array<std::uint8_t, 192> ultralight{};
  // SL2 ICS20: 8-byte serial and 28 blocks of 4 bytes.
  std::array<std::uint8_t, 8> sl2_serial{};
  std::array<std::uint8_t, 112> sl2{};
  std::vector<std::string> printed;

  static Card fresh(std::uint32_t serial, CardMedia media = {});
  std::array<std::uint8_t, 4> uid() const;
};

struct DeviceReply {
  std::uint16_t status = 0;
  Bytes data;
  int busy_ms = 0;   // mechanical time before the reply is ready
  int new_baud = 0;  // > 0: switch the line to this speed after the reply
};

struct Stacker {
  int count = 0;
  bool cartridge = true;
  std::vector<Card> returned;  // cards put back by "collect", drawn first
};

class Device {
 public:
  explicit Device(DeviceConfig config = {});

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
  const DeviceConfig &config() const { return config_; }

 private:
  using Handler = DeviceReply (Device::*)(const Bytes &, Clock::time_point);

  void settle_exit(Clock::time_point now);
  void remove_card();
  bool inside() const { return card_ && !at_exit_; }  // a card in the transport, not at the exit
  std::uint8_t stacker_state(int index) const;
  std::uint8_t sensors() const;
  int t(int ms) const { return config_.instant ? 0 : ms; }
  int move_to(Place p);  // moves the card inside, returns the mechanical time
  DeviceReply draw(int stacker_byte, Place dest, Clock::time_point now);

  // Terminal and transport.
  DeviceReply report_model(const Bytes &, Clock::time_point);
  DeviceReply report_firmware(const Bytes &, Clock::time_point);
  DeviceReply report_stackers(const Bytes &, Clock::time_point);
  DeviceReply report_status_list(const Bytes &, Clock::time_point);
  DeviceReply report_error_list(const Bytes &, Clock::time_point);
  DeviceReply report_card_position(const Bytes &, Clock::time_point);
  DeviceReply report_input_ports(const Bytes &, Clock::time_point);
  DeviceReply set_clock(const Bytes &, Clock::time_point);
  DeviceReply set_eject_mode(const Bytes &, Clock::time_point);
  DeviceReply set_capture_time(const Bytes &, Clock::time_point);
  DeviceReply set_retry_count(const Bytes &, Clock::time_point);
  DeviceReply set_buzzer(const Bytes &, Clock::time_point);
  DeviceReply set_baud_rate(const Bytes &, Clock::time_point);
  DeviceReply set_wait_mode(const Bytes &, Clock::time_point);
  DeviceReply set_stacker_priority(const Bytes &, Clock::time_point);
  DeviceReply move_from_stacker(const Bytes &, Clock::time_point);
  DeviceReply move_to_module(const Bytes &, Clock::time_point);
  DeviceReply eject(const Bytes &, Clock::time_point);
  DeviceReply capture_card(const Bytes &, Clock::time_point);
  DeviceReply eject_drop(const Bytes &, Clock::time_point);
  DeviceReply eject_hold(const Bytes &, Clock::time_point);
  DeviceReply move_to_stacker(const Bytes &, Clock::time_point);
  DeviceReply set_user_buzz(const Bytes &, Clock::time_point);
  DeviceReply reset_terminal(const Bytes &, Clock::time_point);
  DeviceReply select_ic_protocol(const Bytes &, Clock::time_point);
  DeviceReply set_coercivity(const Bytes &, Clock::time_point);
  DeviceReply set_ms_insert_mode(const Bytes &, Clock::time_point);
  DeviceReply setting(std::uint8_t &value, const Bytes &d, int lo, int hi);

  // Magnetic stripe.
  DeviceReply read_track(const Bytes &, Clock::time_point);
  DeviceReply write_track(const Bytes &, Clock::time_point);
  DeviceReply write_track_from_stacker(const Bytes &, Clock::time_point);
  DeviceReply read_all_tracks(const Bytes &, Clock::time_point);
  DeviceReply write_tracks(const Bytes &, Clock::time_point);
  DeviceReply write_tracks_from_stacker(const Bytes &, Clock::time_point);
  DeviceReply clean_head(const Bytes &, Clock::time_point);
  DeviceReply write_all_tracks(const std::uint8_t *p, std::size_t n, int busy);
  std::uint16_t to_head(int &busy);

  // IC card and SAM.
  DeviceReply reset_ic(const Bytes &, Clock::time_point);
  DeviceReply ic_command(const Bytes &, Clock::time_point);
  DeviceReply reset_sam(const Bytes &, Clock::time_point);
  DeviceReply sam_command(const Bytes &, Clock::time_point);
  DeviceReply deactivate_sam(const Bytes &, Clock::time_point);
  Bytes card_apdu(Card &c, const Bytes &apdu);
  Bytes sam_apdu(const Bytes &apdu);

  // MIFARE Classic and the terminal's keys.
  DeviceReply read_rf_block(const Bytes &, Clock::time_point);
  DeviceReply write_rf_block(const Bytes &, Clock::time_point);
  DeviceReply read_rf_block_unsensed(const Bytes &, Clock::time_point);
  DeviceReply write_rf_block_unsensed(const Bytes &, Clock::time_point);
  DeviceReply read_sector(const Bytes &, Clock::time_point);
  DeviceReply write_sector(const Bytes &, Clock::time_point);
  DeviceReply increase_value(const Bytes &, Clock::time_point);
  DeviceReply decrease_value(const Bytes &, Clock::time_point);
  DeviceReply increase_value_unsensed(const Bytes &, Clock::time_point);
  DeviceReply decrease_value_unsensed(const Bytes &, Clock::time_point);
  DeviceReply change_terminal_key(const Bytes &, Clock::time_point);
  DeviceReply change_all_terminal_keys(const Bytes &, Clock::time_point);
  DeviceReply select_key(const Bytes &, Clock::time_point);
  DeviceReply change_card_keys(const Bytes &, Clock::time_point);
  DeviceReply change_key_from_set(const Bytes &, Clock::time_point);
  DeviceReply change_all_keys_from_set(const Bytes &, Clock::time_point);
  DeviceReply detect_rf_card(const Bytes &, Clock::time_point);
  DeviceReply detect_rf_card_unsensed(const Bytes &, Clock::time_point);
  DeviceReply start_key_download(const Bytes &, Clock::time_point);
  DeviceReply download_key(const Bytes &, Clock::time_point);
  DeviceReply finish_key_download(const Bytes &, Clock::time_point);
  DeviceReply rf_card(bool with_sensor, Card *&c);
  DeviceReply read_block(const Bytes &d, bool with_sensor);
  DeviceReply write_block(const Bytes &d, bool with_sensor);
  DeviceReply value_op(const Bytes &d, bool with_sensor, bool increase);
  std::uint16_t authenticate(const Card &c, int sector) const;
  unsigned key_bit(const Card &c, int sector) const;
  bool data_allowed(const Card &c, int sector, int block, int op) const;
  bool trailer_write_allowed(const Card &c, int sector, const std::uint8_t *next) const;

  // Ultralight, SL2 ICS20, printing.
  DeviceReply read_ultralight_page(const Bytes &, Clock::time_point);
  DeviceReply write_ultralight_page(const Bytes &, Clock::time_point);
  DeviceReply authenticate_ultralight(const Bytes &, Clock::time_point);
  DeviceReply read_ultralight_uid(const Bytes &, Clock::time_point);
  DeviceReply read_sl2_serial(const Bytes &, Clock::time_point);
  DeviceReply read_sl2_block(const Bytes &, Clock::time_point);
  DeviceReply write_sl2_block(const Bytes &, Clock::time_point);
  DeviceReply read_sl2_card(const Bytes &, Clock::time_point);
  DeviceReply write_sl2_card(const Bytes &, Clock::time_point);
  DeviceReply sl2_direct(const Bytes &, Clock::time_point);
  std::uint16_t to_printer() const;
  DeviceReply print_card(const Bytes &, Clock::time_point);
  DeviceReply erase_card(const Bytes &, Clock::time_point);
  DeviceReply read_printed(const Bytes &, Clock::time_point);

  // The handler of a command code, or null for a code the terminal does not know.
  static Handler handler_of(std::string_view code);

  DeviceConfig config_;
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
  std::uint8_t wait_mode_ = 0, stacker_priority_ = 1, coercivity_ = '3', ms_insert_mode_ = 0;
  std::array<std::uint8_t, 5> buzzer_pattern_{};
  int baud_ = 38400;
  std::vector<std::uint16_t> errors_;  // most recent last

  // SAM.
  bool sam_powered_ = false;

  // Terminal key store: per key set (3) and sector (40), key A and key B.
  std::array<std::array<std::array<std::uint8_t, 12>, 40>, 3> keys_{};
  int key_type_ = 1;  // 1 = key A, 2 = key B
  bool key_download_ = false;
  struct PendingKey {
    int set;
    int sector;
    std::array<std::uint8_t, 12> key;
  };
  std::vector<PendingKey> key_pending_;
};

// Calendar helpers for the packed-BCD clock record.
std::int64_t bcd_record_to_seconds(const std::uint8_t *rec, bool *ok);
void seconds_to_bcd_record(std::int64_t seconds, std::uint8_t *rec);

}  // namespace tolvex::sim
