// Data records the pages build from typed text, and the splitting of multi-part
// answers. Typed text is wide; it is converted to 8-bit text first, and the byte rule,
// the counts and the limits all apply to those bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvex::bench {

// The pages' work buffer for a text or record on its way to the library.
inline constexpr std::size_t kWorkBufferBytes = 300;

// A box's text as the work buffer holds it: its 8-bit form, at most 299 bytes.
std::string work_text(std::wstring_view text);

// ---- Magnetic stripe -------------------------------------------------------------------

// Moves the first character to the end ("ABC" gives "BCA"); empty stays empty. The
// 8-bit form moves one byte; the wide form moves one whole character, so a character
// that takes several UTF-8 bytes is never split.
std::string rotate_text(std::string_view text);
std::wstring rotate_text(std::wstring_view text);

// The "All Write" block: track 1, a zero byte, track 2, a zero byte, track 3. Empty
// when the block with its final zero byte would not fit the 300-byte buffer.
std::optional<std::vector<std::uint8_t>> all_write_block(std::string_view track1, std::string_view track2,
                                                         std::string_view track3);

// The "All Read" answer split into its three track texts.
struct AllReadTracks {
  // 0 when all three parts were found; 2 when no zero byte follows track 1 (no track
  // is filled), 3 when none follows track 2 (only track 1 is filled).
  int frame_error = 0;
  int filled = 0;  // number of tracks taken, 0 to 3
  std::array<std::string, 3> tracks;

  // "RX Packet Frame Error 2" / "RX Packet Frame Error 3"; empty when there is none.
  std::wstring message() const;
};

// Skips byte 0; each of the first two parts ends at a zero byte found within 300 bytes;
// the third runs to the next zero byte. Never reads past `size`.
AllReadTracks split_all_read(const std::uint8_t *data, std::size_t size);

// ---- IC card -----------------------------------------------------------------------------

// The 8-bit texts of the IC boxes.
struct ApduBoxes {
  std::string cla, ins, p1, p2, lc, data, le;
};

struct Apdu {
  std::vector<std::uint8_t> buffer;  // two length bytes (big-endian) then the APDU
  std::wstring problem;              // why nothing should be sent; empty when complete

  bool ok() const { return problem.empty(); }
  // The count passed to ic_exe: the APDU length plus its two length bytes.
  std::uint32_t call_length() const { return static_cast<std::uint32_t>(buffer.size()); }
};

// Assembles the APDU from the boxes: each header box by its first two characters,
// Lc as typed (0 when empty, never computed), the data field two digits a byte, Le
// only when its box is not empty. Refuses (problem set) an empty CLA, INS, P1 or P2,
// an odd number of data digits, or an APDU that does not fit the 300-byte buffer.
Apdu assemble_apdu(const ApduBoxes &boxes);

// ---- MIFARE --------------------------------------------------------------------------------

// Sixteen bytes in value-block form: v, its complement, v (each least significant byte
// first), then 0xAA 0x55 0xAA 0x55.
std::array<std::uint8_t, 16> value_block(std::int32_t value);

// Key A and key B from the 8-bit texts of their boxes: in hex form the first twelve
// digits by the hexadecimal byte rule, in ASCII form the first six bytes (zero-filled).
// With access bytes (first eight digits of the access box) the record has 16 bytes:
// key A, access, key B; otherwise 12: key A, key B.
std::vector<std::uint8_t> key_record(std::string_view key_a, std::string_view key_b, bool ascii,
                                     std::optional<std::string_view> access_hex);

// Why a key box's text may not be written, upper case and naming the box ("KEY A");
// empty when it may. A HEX key is exactly 12 hexadecimal digits, an ASCII key at most
// 6 bytes of 8-bit text: a key padded or cut in silence could lock a sector for good.
std::wstring key_text_problem(std::wstring_view box, std::string_view text, bool ascii);

// The same for the "INPUT:" text of a "Write Block" to a sector trailer: in HEX exactly
// 32 digits (key A, access bytes, key B), in ASCII at most 16 bytes.
std::wstring trailer_text_problem(std::string_view text, bool ascii);

// Block data for "Write Block": hex form from the first 32 digits, ASCII form the first
// 16 bytes, zero-filled.
std::array<std::uint8_t, 16> block_from_hex(std::string_view text);
std::array<std::uint8_t, 16> block_from_ascii(std::string_view text);

// Sector data for "Write Sector": 51 bytes from the first 102 digits for sectors 0 to
// 31; for sectors 32 to 39 a 256-byte block, byte 0 the sector, bytes 1-255 from the
// first 510 digits.
std::vector<std::uint8_t> sector_data(std::uint8_t sector, std::string_view hex_text);

// The 4 bytes of an Ultralight page write: the first eight digits.
std::array<std::uint8_t, 4> ultralight_page(std::string_view text);

// Why the whole "AUTH" text cannot be sent: longer than the work buffer holds. Empty
// when it fits.
std::wstring auth_text_problem(std::string_view text);

// The "AUTH" data: the whole text two digits a byte; empty when the text has an odd
// number of bytes (then nothing is sent).
std::optional<std::vector<std::uint8_t>> auth_bytes(std::string_view text);

}  // namespace tolvex::bench
