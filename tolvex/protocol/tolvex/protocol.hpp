// The terminal protocol in one place: control bytes, frame layout and limits, result
// codes, the terminal's status words with their texts, and every command code with its
// reply window, its report name and the exports that send it. The library, the
// simulated terminal, the command-line tool and the bench all read this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace tolvex {

// ---- Control bytes -----------------------------------------------------------------

inline constexpr std::uint8_t kStart = 0x01;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kEnq = 0x05;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;

// ---- Frame layout and limits -------------------------------------------------------
//
// A frame is 01 00 LEN(high, low) 02 body[LEN] 03 BCC, the BCC the XOR of everything from
// the byte after the start byte through ETX. A command body is the code and its data; a
// reply body is the code echoed, the status word (high byte first), one byte, the data.

inline constexpr std::size_t kCodeSize = 3;
inline constexpr std::size_t kLengthOffset = 2;  // frame offset of LEN
inline constexpr std::size_t kBodyOffset = 5;    // frame offset of the body
inline constexpr std::size_t kFrameOverhead = 7;  // start, 00, LEN, STX before the body; ETX, BCC after

// Reply body: what sits in front of the response data.
inline constexpr std::size_t kStatusOffset = 3;  // body offset of the status word
inline constexpr std::size_t kBodyHeader = 6;    // body offset of the response data

inline constexpr std::uint32_t kDataMax = 1000;                                    // data of one command
inline constexpr std::size_t kFrameBufferSize = kDataMax + kCodeSize + kFrameOverhead;  // longest command frame
inline constexpr std::size_t kReceiveBufferSize = 1000;                            // longest reply taken
// The most response data a reply that fits the receive buffer can carry.
inline constexpr std::size_t kResponseMax = kReceiveBufferSize - kFrameOverhead - kBodyHeader;
static_assert(kResponseMax == 987);

// XOR of size bytes starting from 0; an empty range gives 0.
constexpr std::uint8_t bcc(const std::uint8_t *bytes, std::size_t size) {
  std::uint8_t x = 0;
  for (std::size_t i = 0; i < size; ++i) x = static_cast<std::uint8_t>(x ^ bytes[i]);
  return x;
}

// Completes a frame whose body of n bytes already stands at out + kBodyOffset: writes the
// start byte, LEN, STX, ETX and the BCC around it. out must hold n + kFrameOverhead bytes
// (n below 65536). Returns the frame size.
constexpr std::size_t close_frame(std::uint8_t *out, std::size_t n) {
  out[0] = kStart;
  out[1] = 0x00;
  out[kLengthOffset] = static_cast<std::uint8_t>((n >> 8) & 0xFF);
  out[kLengthOffset + 1] = static_cast<std::uint8_t>(n & 0xFF);
  out[kBodyOffset - 1] = kStx;
  out[kBodyOffset + n] = kEtx;
  out[kBodyOffset + n + 1] = bcc(out + 1, kBodyOffset + n);
  return n + kFrameOverhead;
}

// LEN of a frame held in bytes (at least kBodyOffset of them).
constexpr std::size_t frame_body_length(const std::uint8_t *frame) {
  return (static_cast<std::size_t>(frame[kLengthOffset]) << 8) | frame[kLengthOffset + 1];
}

// ---- Result codes and terminal status words, each with its text ---------------------
//
// Each is listed once, as X(name, code, text); the Result enum, the terminal_status
// constants and the text table below are all made from these lists.

// Result codes as chk_res hands them out (0, success, aside).
#define TOLVEX_RESULT_CODES(X)                     \
  X(no_ack, 1, "No ACK Error.")                    \
  X(timeout, 2, "TIMEOUT Error.")                  \
  X(nak, 3, "NAK Error.")                          \
  X(negative, 2000, "Negative Error.")             \
  X(stopped, 102, "Compulsion termination Error.") \
  X(frame_error, 106, "Packet Frame Error.")       \
  X(bcc_error, 107, "BCC Error.")                  \
  X(tx_error, 108, "Transmission Error.")

// The terminal's status words (0x0000, success, aside).
#define TOLVEX_STATUS_WORDS(X)                                                          \
  X(kUndefined, 0x2001, "Using the command that does not defined in this model.")       \
  X(kNotAvailable, 0x2002, "Not available command in this model.")                      \
  X(kBadFrame, 0x2003, "Sending the command that has the invalid communication frame.") \
  X(kJam, 0x2004, "The card is jammed.")                                                \
  X(kNoCard, 0x2005, "No cards.")                                                       \
  X(kCardInside, 0x2006, "The card exists already in the terminal.")                    \
  X(kBusy, 0x2007, "The terminal is running or busy.")                                  \
  X(kNoClock, 0x2008, "Unavailable Real Time Clock IC.")                                \
  X(kTwoCards, 0x2009, "When more than two cards exit in the terminal simultaneously.") \
  X(kCardError, 0x200B, "When the using card error, commonly occur in MSRW.")           \
  X(kNoDispenser, 0x2100, "Not Applicable Dispenser.")                                  \
  X(kDispenserLink, 0x2101, "Dispenser communication error.")                           \
  X(kStacker1Error, 0x2102, "The first Stacker Error.")                                 \
  X(kStacker2Error, 0x2103, "The Second Stacker Error.")                                \
  X(kBothEmpty, 0x2104, "No cards at both the first and second stacker.")               \
  X(kStacker1Empty, 0x2105, "No card at the first stacker.")                            \
  X(kStacker2Empty, 0x2106, "No card at the second stacker.")                           \
  X(kStacker1Low, 0x2107, "Too few cards in the first stacker.")                        \
  X(kStacker2Low, 0x2108, "Too few cards in the second stacker.")                       \
  X(kCaptureFull, 0x2109, "Too many cards in the 'CAPTURE BOX'.")                       \
  X(kStacker1Full, 0x2111, "Card full in cartridge in the first stacker.")              \
  X(kStacker2Full, 0x2112, "Card full in cartridge in the second stacker.")             \
  X(kNoCartridge1, 0x2113, "No cartridge in the first stacker.")                        \
  X(kNoCartridge2, 0x2114, "No cartridge in the second stacker.")                       \
  X(kNoCartridgeBoth, 0x2115, "No cartridge in both the first and second stacker.")     \
  X(kNoMsReader, 0x2200, "The MS Reader/Writer that cannot use in this model.")         \
  X(kMsLink, 0x2201, "The MS Reader/Writer communication error.")                       \
  X(kMsWrite, 0x2202, "Error when the MS Reader/Writer is writing on the card.")        \
  X(kMsRead, 0x2203, "Error when the MS Reader/Writer is reading on the card.")         \
  X(kIcContact, 0x2204, "Error while the terminal contacts the IC Card.")               \
  X(kIcCommand, 0x2205, "Error while the terminal executes the IC Card Command.")       \
  X(kMsBlank, 0x2209, "No data on the magnetic card.")                                  \
  X(kNoRfModule, 0x2300, "Unavailable RF module.")                                      \
  X(kRfLink, 0x2301, "Communication error at the RF Module.")                           \
  X(kRfAuth, 0x2302, "Authentication Error at the RF module.")                          \
  X(kRfWrite, 0x2303, "Error while the terminal writes at the RF Card.")                \
  X(kRfRead, 0x2304, "Error while the terminal reads at the RF card.")                  \
  X(kNoRfCard, 0x2305, "No RF Card.")                                                   \
  X(kRfValue, 0x2306, "Error while the value increases(or decreases)at the RF Card.")   \
  X(kKeySequence, 0x2310, "\"Secret Key Download\" command sequence error.")            \
  X(kNoFlash, 0x2400, "Unavailable FLASH memory ic.")

enum class Result : int {
  ok = 0,
#define TOLVEX_RESULT_ENUM(name, code, text) name = code,
  TOLVEX_RESULT_CODES(TOLVEX_RESULT_ENUM)
#undef TOLVEX_RESULT_ENUM
};

// Terminal status words by name; the simulated terminal answers with them.
namespace terminal_status {
inline constexpr std::uint16_t kOk = 0x0000;
#define TOLVEX_STATUS_CONSTANT(name, code, text) inline constexpr std::uint16_t name = code;
TOLVEX_STATUS_WORDS(TOLVEX_STATUS_CONSTANT)
#undef TOLVEX_STATUS_CONSTANT
}  // namespace terminal_status

// The texts of result codes and status words, in the order of the two lists.
struct ResultText {
  int code;
  const char *text;
};

inline constexpr ResultText kResultTexts[] = {
#define TOLVEX_TEXT_ROW(name, code, text) {code, text},
    TOLVEX_RESULT_CODES(TOLVEX_TEXT_ROW) TOLVEX_STATUS_WORDS(TOLVEX_TEXT_ROW)
#undef TOLVEX_TEXT_ROW
};

// The text of a result code or terminal status word; null when it has none.
constexpr const char *result_text(int code) {
  for (const ResultText &row : kResultTexts) {
    if (row.code == code) return row.text;
  }
  return nullptr;
}

// ---- Commands ----------------------------------------------------------------------------

enum class Reply : std::uint8_t {
  short_window,  // kShortReplyMs
  long_window,   // kLongReplyMs
};

inline constexpr int kShortReplyMs = 2000;
inline constexpr int kLongReplyMs = 15000;
inline constexpr int kAckWindowMs = 1000;     // from a send to the terminal's ACK
inline constexpr int kCommandLimitMs = 15000;  // a command that ran this long ends in TIMEOUT
inline constexpr int kWriteBaseMs = 1000;      // a write and its drain: this plus twice its transmission
inline constexpr int kSendsMax = 3;            // sends of one frame
inline constexpr int kBadRepliesMax = 4;       // the fourth reply that fails the BCC ends the send

struct CommandInfo {
  std::string_view code;     // three characters
  Reply reply;
  const char *report_name;   // the report's name line; null when it has none
  std::string_view exports;  // the exports that send this code, blank-separated; empty for none
};

namespace command_rows {
inline constexpr Reply S = Reply::short_window;
inline constexpr Reply L = Reply::long_window;

inline constexpr CommandInfo kCommands[] = {
    // Status and identification.
    {"C11", S, " COMMAND: Get model", "model"},
    {"C12", S, " COMMAND: Get Firmware version", "fw_version"},
    {"C13", S, " COMMAND: Get Stacker", "chk_stacker"},
    {"C14", S, " COMMAND: Get Status List", "get_stat"},
    {"C15", S, " COMMAND: Get Error List", "get_err"},
    {"C16", S, " COMMAND: Get Card Position", "card_position"},
    {"C17", S, " COMMAND: Get status of input port", "get_stat_in_port"},
    // Settings: mode byte, the value bytes only with mode 1 (setting_sends_value).
    {"C21", S, " COMMAND: Set RTC IC", "set_rtc"},
    {"C22", S, " COMMAND: Set Card Eject Mode", "ejt_mode"},
    {"C23", S, " COMMAND: Set Capture Time", "capture_time"},
    {"C24", S, " COMMAND: Set Retry Count", "rty_cnt"},
    {"C25", S, " COMMAND: Set Buzz On/Off control", "buzz"},
    {"C26", S, " COMMAND: Set Baud Rate", "baudrate"},
    {"C27", S, " COMMAND: Set Wait Mode", "wait_mode"},
    {"C28", S, " COMMAND: Set Stacker priority", "stk_priority_mode"},
    {"C40", S, " COMMAND: Set User Buzz", "buzz_manual"},
    {"C48", L, nullptr, ""},  // coercivity, sent raw
    {"C60", L, " COMMAND: Set MsCard Insert Mode", ""},
    // Card transport.
    {"C31", L, " COMMAND: Card move from stacker", "card_stk_mov comu_test"},
    {"C32", L, " COMMAND: Card move to each module", "card_mov"},
    {"C33", L, " COMMAND: Card eject", "card_eject"},
    {"T33", L, nullptr, "card_eject_ag"},
    {"C34", L, " COMMAND: Card capture", "card_capture"},
    {"C36", L, " COMMAND: Card eject(drop)", "card_drop"},
    {"C37", L, " COMMAND: Card eject(hold)", "card_hold"},
    {"C39", L, " COMMAND: Card Move to Stacker", "card_coll"},
    {"C42", L, nullptr, "tm_rst"},
    {"C43", L, nullptr, "ic_pts"},
    // Magnetic stripe (ms_read_code, ms_write_code, ms_write_all_code choose).
    {"M31", L, " COMMAND: Magnetic Card Read", "ms_rd"},
    {"M33", L, " COMMAND: Magnetic Card Write", "ms_wt"},
    {"M34", L, " COMMAND: Magnetic Card Write from Stacker", "ms_wt"},
    {"M35", L, " COMMAND: Magnetic Card All Track Read", "ms_rd"},
    {"M36", L, nullptr, "ms_wt ms_all_wt"},
    {"M37", L, nullptr, "ms_wt ms_all_wt"},
    {"M51", L, " COMMAND: MSRW Header Cleaning", "ms_clean"},
    // IC card and SAM.
    {"I21", L, " COMMAND: IC Card Reset", "ic_reset"},
    {"I22", L, " COMMAND: IC Card Direct Control", "ic_exe"},
    {"I25", L, nullptr, "sam_reset"},
    {"I26", L, nullptr, "sam_exe"},
    {"I27", L, nullptr, "sam_deact"},
    // MIFARE Classic and keys.
    {"R31", L, " COMMAND: Read RF card data in Block Range", "mi_rd_blk"},
    {"R32", L, " COMMAND: Write RF card data in Block Range", "mi_wt_blk"},
    {"R33", S, " COMMAND: Read RF card without checking sensor", "mi_rd_blk_no_sens"},
    {"R34", S, " COMMAND: Write RF card without checking sensor", "mi_wt_blk_no_sens"},
    {"R36", L, " COMMAND: Read RF card data in Sector Range", "mi_rd_sct"},
    {"R37", L, " COMMAND: Write RF card data in Sector Range", "mi_wt_sct"},
    {"R41", L, " COMMAND: Increases balance in RF card", "mi_bal_inc"},
    {"R42", L, " COMMAND: Decreases balance in RF card", "mi_bal_dec"},
    {"R43", S, " COMMAND: Increases balance without checking sensor", "mi_bal_inc_no_sens"},
    {"R44", S, " COMMAND: Decreases balance without checking sensor", "mi_bal_dec_no_sens"},
    {"R51", L, " COMMAND: Change 'Terminal Secret Key' to other key", "mi_cng_tm_key"},
    {"R52", L, " COMMAND: Change 'Secret Key' To All The Same Key Value", "mi_cng_all_tm_key"},
    {"R53", S, " COMMAND: Select \"Secret Key Index\"", "mi_sel_key"},
    {"R54", L, " COMMAND: Change RF card 'Secret Key' to other key", "mi_cng_card_key"},
    {"R55", L, "\tCOMMAND: Change 'RF card secret key' to a new key from key set", "mi_cng_tm_key_of_set"},
    {"R56", L, "\tCOMMAND: Change 'RF card secret key' to all the same key value from key set",
     "mi_cng_all_tm_key_of_set"},
    {"R61", L, " COMMAND: Check RF card in antenna area", "mi_det"},
    {"R62", S, " COMMAND: Check RF card without checking sensor", "mi_det_no_sens"},
    {"R71", S, " COMMAND: Secret Keys download start indication", "mi_cng_tm_key_start"},
    {"R72", S, " COMMAND: Change 'Secret Key' to a new key", "mi_cng_tm_key_trans"},
    {"R73", S, " COMMAND: Secret Keys download finish indication", "mi_cng_tm_key_finish"},
    // Ultralight and SL2 ICS20.
    {"U31", L, " COMMAND: Read the Ultra Light card", "mi_ultra_rd"},
    {"U32", L, " COMMAND: Write the Ultra Light card", "mi_ultra_wt"},
    {"U33", L, nullptr, ""},  // Ultralight authentication, sent raw
    {"U41", L, " COMMAND: Read UID of the Ultra Light card", "mi_ultra_rd_uid"},
    {"S10", L, " COMMAND: Get serial number of the SL2 ICS20 card", "sl2_det"},
    {"S11", L, " COMMAND: Read data of the SL2 ICS20 card in block range", "sl2_rd_blk"},
    {"S12", L, " COMMAND: Write data of the SL2 ICS20 card in block range", "sl2_wt_blk"},
    {"S16", L, " COMMAND: Read all block of the SL2 ICS20 card", "sl2_rd_all"},
    {"S17", L, " COMMAND: Write all block of the SL2 ICS20 card", "sl2_wt_all"},
    {"S19", L, " COMMAND: Controls the SL2 ICS20 card directly", ""},
    // Printing.
    {"P10", L, " COMMAND: It is to print on the card", ""},
    {"P20", L, " COMMAND: It is to erase the card", ""},
    {"Z01", L, " COMMAND: Reads the printed card", ""},
};
}  // namespace command_rows
using command_rows::kCommands;

// The index of a command code's row (its first three characters), or the row count when
// it has none. An index rather than a pointer, so that compile-time checks can test it:
// GCC does not fold a pointer test in a constant expression when the sanitizers are on.
constexpr std::size_t code_index(std::string_view code) {
  if (code.size() < kCodeSize) return std::size(kCommands);
  code = code.substr(0, kCodeSize);
  std::size_t i = 0;
  while (i < std::size(kCommands) && kCommands[i].code != code) ++i;
  return i;
}

constexpr bool is_known_code(std::string_view code) { return code_index(code) < std::size(kCommands); }

// The row of a command code, or null.
constexpr const CommandInfo *find_code(std::string_view code) {
  const std::size_t i = code_index(code);
  return i < std::size(kCommands) ? &kCommands[i] : nullptr;
}

// Short-reply commands wait kShortReplyMs for their reply; every other code, unknown
// ones included, kLongReplyMs.
constexpr bool is_short_reply(std::string_view code) {
  const std::size_t i = code_index(code);
  return i < std::size(kCommands) && kCommands[i].reply == Reply::short_window;
}

constexpr int reply_window_ms(std::string_view code) { return is_short_reply(code) ? kShortReplyMs : kLongReplyMs; }

// Takes the first name off a blank-separated list.
constexpr std::string_view next_listed(std::string_view &list) {
  const std::size_t blank = list.find(' ');
  const std::string_view name = list.substr(0, blank);
  list.remove_prefix(blank == std::string_view::npos ? list.size() : blank + 1);
  return name;
}

// True when the blank-separated list holds name.
constexpr bool lists(std::string_view list, std::string_view name) {
  while (!list.empty()) {
    if (next_listed(list) == name) return true;
  }
  return false;
}

// ---- The terminal's line speeds ------------------------------------------------------------

// The speeds the terminal runs at, in the order of the codes "C26" takes (1 to 4).
inline constexpr int kTerminalBauds[] = {9600, 19200, 38400, 57600};

// The speed of a "C26" rate code; 0 for a code outside 1 to 4.
constexpr int terminal_baud(int rate_code) {
  return rate_code >= 1 && rate_code <= 4 ? kTerminalBauds[rate_code - 1] : 0;
}

// The position of a speed in kTerminalBauds; -1 for a speed the terminal does not run at.
constexpr int terminal_baud_index(int baud) {
  for (int i = 0; i < 4; ++i) {
    if (kTerminalBauds[i] == baud) return i;
  }
  return -1;
}

// ---- Codes and bytes chosen from the arguments -------------------------------------------

// Settings send their value bytes only when the mode is 1 (set); any other mode, such as
// 2 to read the setting back, goes alone.
constexpr bool setting_sends_value(std::int64_t mode) { return mode == 1; }

// ms_rd: track 0 reads all tracks without data, any other track is read alone.
constexpr std::string_view ms_read_code(std::int64_t track) { return track == 0 ? "M35" : "M31"; }
constexpr bool ms_read_sends_track(std::int64_t track) { return track != 0; }

// ms_wt: four forms by stacker and track.
constexpr std::string_view ms_write_code(std::int64_t stacker, std::int64_t track) {
  if (stacker == 0) return track == 0 ? "M36" : "M33";
  return track == 0 ? "M37" : "M34";
}

// ms_all_wt: stacker 0 writes the data alone, any other stacker goes first.
constexpr std::string_view ms_write_all_code(std::int64_t stacker) { return stacker == 0 ? "M36" : "M37"; }

// Only the stacker-and-track form ("M34") sends a stacker value of 4 as 0x00.
constexpr std::uint8_t m34_stacker_byte(std::uint8_t stacker) { return stacker == 4 ? 0x00 : stacker; }

// The communication test is a stacker move 3 to 3, whatever its argument.
inline constexpr std::uint8_t kComuTestData[] = {0x03, 0x03};

}  // namespace tolvex
