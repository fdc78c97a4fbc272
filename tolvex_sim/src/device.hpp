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
#include <vector>

#include "frame.hpp"
#include "tolvex_sim/simulator.hpp"

namespace tolvex::sim {

// Terminal status words used by the model.
namespace st {
inline constexpr std::uint16_t kOk = 0x0000;
inline constexpr std::uint16_t kUndefined = 0x2001;
inline constexpr std::uint16_t kBadFrame = 0x2003;
inline constexpr std::uint16_t kJam = 0x2004;
inline constexpr std::uint16_t kNoCard = 0x2005;
inline constexpr std::uint16_t kCardInside = 0x2006;
inline constexpr std::uint16_t kBothEmpty = 0x2104;
inline constexpr std::uint16_t kStacker1Empty = 0x2105;
inline constexpr std::uint16_t kStacker2Empty = 0x2106;
inline constexpr std::uint16_t kStacker1Low = 0x2107;
inline constexpr std::uint16_t kStacker2Low = 0x2108;
inline constexpr std::uint16_t kCaptureFull = 0x2109;
inline constexpr std::uint16_t kStacker1Full = 0x2111;
inline constexpr std::uint16_t kStacker2Full = 0x2112;
inline constexpr std::uint16_t kNoCartridge1 = 0x2113;
inline constexpr std::uint16_t kNoCartridge2 = 0x2114;
inline constexpr std::uint16_t kNoCartridgeBoth = 0x2115;
inline constexpr std::uint16_t kMsWrite = 0x2202;
inline constexpr std::uint16_t kMsRead = 0x2203;
inline constexpr std::uint16_t kIcContact = 0x2204;
inline constexpr std::uint16_t kIcCommand = 0x2205;
inline constexpr std::uint16_t kMsBlank = 0x2209;
inline constexpr std::uint16_t kRfAuth = 0x2302;
inline constexpr std::uint16_t kRfWrite = 0x2303;
inline constexpr std::uint16_t kRfRead = 0x2304;
inline constexpr std::uint16_t kNoRfCard = 0x2305;
inline constexpr std::uint16_t kRfValue = 0x2306;
inline constexpr std::uint16_t kKeySequence = 0x2310;
}  // namespace st

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
  DeviceReply c11(const Bytes &, Clock::time_point);
  DeviceReply c12(const Bytes &, Clock::time_point);
  DeviceReply c13(const Bytes &, Clock::time_point);
  DeviceReply c14(const Bytes &, Clock::time_point);
  DeviceReply c15(const Bytes &, Clock::time_point);
  DeviceReply c16(const Bytes &, Clock::time_point);
  DeviceReply c17(const Bytes &, Clock::time_point);
  DeviceReply c21(const Bytes &, Clock::time_point);
  DeviceReply c22(const Bytes &, Clock::time_point);
  DeviceReply c23(const Bytes &, Clock::time_point);
  DeviceReply c24(const Bytes &, Clock::time_point);
  DeviceReply c25(const Bytes &, Clock::time_point);
  DeviceReply c26(const Bytes &, Clock::time_point);
  DeviceReply c27(const Bytes &, Clock::time_point);
  DeviceReply c28(const Bytes &, Clock::time_point);
  DeviceReply c31(const Bytes &, Clock::time_point);
  DeviceReply c32(const Bytes &, Clock::time_point);
  DeviceReply c33(const Bytes &, Clock::time_point);
  DeviceReply c34(const Bytes &, Clock::time_point);
  DeviceReply c36(const Bytes &, Clock::time_point);
  DeviceReply c37(const Bytes &, Clock::time_point);
  DeviceReply c39(const Bytes &, Clock::time_point);
  DeviceReply c40(const Bytes &, Clock::time_point);
  DeviceReply c42(const Bytes &, Clock::time_point);
  DeviceReply c43(const Bytes &, Clock::time_point);
  DeviceReply c48(const Bytes &, Clock::time_point);
  DeviceReply c60(const Bytes &, Clock::time_point);
  DeviceReply setting(std::uint8_t &value, const Bytes &d, int lo, int hi);

  // Magnetic stripe.
  DeviceReply m31(const Bytes &, Clock::time_point);
  DeviceReply m33(const Bytes &, Clock::time_point);
  DeviceReply m34(const Bytes &, Clock::time_point);
  DeviceReply m35(const Bytes &, Clock::time_point);
  DeviceReply m36(const Bytes &, Clock::time_point);
  DeviceReply m37(const Bytes &, Clock::time_point);
  DeviceReply m51(const Bytes &, Clock::time_point);
  DeviceReply write_all_tracks(const std::uint8_t *p, std::size_t n, int busy);
  std::uint16_t to_head(int &busy);

  // IC card and SAM.
  DeviceReply i21(const Bytes &, Clock::time_point);
  DeviceReply i22(const Bytes &, Clock::time_point);
  DeviceReply i25(const Bytes &, Clock::time_point);
  DeviceReply i26(const Bytes &, Clock::time_point);
  DeviceReply i27(const Bytes &, Clock::time_point);
  Bytes card_apdu(Card &c, const Bytes &apdu);
  Bytes sam_apdu(const Bytes &apdu);

  // MIFARE Classic and the terminal's keys.
  DeviceReply r31(const Bytes &, Clock::time_point);
  DeviceReply r32(const Bytes &, Clock::time_point);
  DeviceReply r33(const Bytes &, Clock::time_point);
  DeviceReply r34(const Bytes &, Clock::time_point);
  DeviceReply r36(const Bytes &, Clock::time_point);
  DeviceReply r37(const Bytes &, Clock::time_point);
  DeviceReply r41(const Bytes &, Clock::time_point);
  DeviceReply r42(const Bytes &, Clock::time_point);
  DeviceReply r43(const Bytes &, Clock::time_point);
  DeviceReply r44(const Bytes &, Clock::time_point);
  DeviceReply r51(const Bytes &, Clock::time_point);
  DeviceReply r52(const Bytes &, Clock::time_point);
  DeviceReply r53(const Bytes &, Clock::time_point);
  DeviceReply r54(const Bytes &, Clock::time_point);
  DeviceReply r55(const Bytes &, Clock::time_point);
  DeviceReply r56(const Bytes &, Clock::time_point);
  DeviceReply r61(const Bytes &, Clock::time_point);
  DeviceReply r62(const Bytes &, Clock::time_point);
  DeviceReply r71(const Bytes &, Clock::time_point);
  DeviceReply r72(const Bytes &, Clock::time_point);
  DeviceReply r73(const Bytes &, Clock::time_point);
  DeviceReply rf_card(bool with_sensor, Card *&c);
  DeviceReply read_block(const Bytes &d, bool with_sensor);
  DeviceReply write_block(const Bytes &d, bool with_sensor);
  DeviceReply value_op(const Bytes &d, bool with_sensor, bool increase);
  std::uint16_t authenticate(const Card &c, int sector) const;
  unsigned key_bit(const Card &c, int sector) const;
  bool data_allowed(const Card &c, int sector, int block, int op) const;
  bool trailer_write_allowed(const Card &c, int sector, const std::uint8_t *next) const;

  // Ultralight, SL2 ICS20, printing.
  DeviceReply u31(const Bytes &, Clock::time_point);
  DeviceReply u32(const Bytes &, Clock::time_point);
  DeviceReply u33(const Bytes &, Clock::time_point);
  DeviceReply u41(const Bytes &, Clock::time_point);
  DeviceReply s10(const Bytes &, Clock::time_point);
  DeviceReply s11(const Bytes &, Clock::time_point);
  DeviceReply s12(const Bytes &, Clock::time_point);
  DeviceReply s16(const Bytes &, Clock::time_point);
  DeviceReply s17(const Bytes &, Clock::time_point);
  DeviceReply s19(const Bytes &, Clock::time_point);
  std::uint16_t to_printer() const;
  DeviceReply p10(const Bytes &, Clock::time_point);
  DeviceReply p20(const Bytes &, Clock::time_point);
  DeviceReply z01(const Bytes &, Clock::time_point);

  static const std::map<std::string, Handler> &handlers();

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
