// The four access bytes of a MIFARE Classic sector trailer: their check, the access
// conditions they grant in words, and the conditions that lock a trailer for good.
//
// Bytes 0 to 2 (bytes 6 to 8 of the trailer) carry the condition bits C1, C2 and C3 of
// the four groups (three data groups, then the trailer), each bit once plain and once
// inverted:
//   byte 0: high nibble ~C2, low nibble ~C1
//   byte 1: high nibble  C1, low nibble ~C3
//   byte 2: high nibble  C3, low nibble  C2
// Bit g of each nibble belongs to group g. Byte 3 (trailer byte 9) is free data.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvex::bench {

using AccessBytes = std::array<std::uint8_t, 4>;

// Which keys allow an operation.
enum class KeyUse : std::uint8_t { Never, KeyA, KeyB, KeyAOrB };

// Operations on a data block; "decrement" stands for decrement, transfer and restore.
struct DataAccess {
  KeyUse read, write, increment, decrement;
  friend bool operator==(const DataAccess &, const DataAccess &) = default;
};

// Operations on the trailer itself. Key A is never readable, so it has no entry.
struct TrailerAccess {
  KeyUse key_a_write, access_read, access_write, key_b_read, key_b_write;
  friend bool operator==(const TrailerAccess &, const TrailerAccess &) = default;
};

// One condition bit whose plain and inverted copies disagree.
struct AccessMismatch {
  int bit;            // 1, 2 or 3 (C1, C2, C3)
  int plain_byte;     // index (0-2) of the byte holding the plain copy
  int inverted_byte;  // index (0-2) of the byte holding the inverted copy
};

// Every condition bit whose inverted nibble is not the complement of its plain nibble,
// in the order C1, C2, C3; empty when the bytes are well formed.
std::vector<AccessMismatch> access_mismatches(const AccessBytes &bytes);

// The condition of group 0 to 3 (3 = trailer) as the number C1 C2 C3 read as binary,
// C1 the high bit. Taken from the plain copies.
int access_condition(const AccessBytes &bytes, int group);

// What a condition (0 to 7) grants, as the card's access-condition tables give it.
DataAccess data_access(int condition);
TrailerAccess trailer_access(int condition);

// With these trailer conditions key B can be read, and then the card refuses it for
// authentication.
bool key_b_readable(int trailer_condition);

// The access conditions in words: one line per data group ("incr." increment, "decr."
// decrement, transfer and restore), one for the trailer's keys, one for the access
// bits themselves, then a line about key B when it is readable. Sectors 0-31 have one
// block a group, sectors 32-39 five; a negative sector is not known (both forms are
// named). Block 0 of sector 0 is the manufacturer block, which no key writes. The
// bytes are numbered as in the trailer: 6, 7, 8 and 9.
std::vector<std::wstring> access_in_words(const AccessBytes &bytes, int sector);

// The block of a sector that holds its trailer: 3 for sectors 0-31, 15 for 32-39.
int trailer_block(int sector);

// Why the bytes may not be sent: the bytes that disagree, upper case; empty when they
// are well formed.
std::wstring access_error_text(const AccessBytes &bytes);

// What no key may ever write again with these (well-formed) bytes.
struct TrailerLocks {
  bool key_a = false;
  bool access_bits = false;
  bool key_b = false;
  bool any() const { return key_a || access_bits || key_b; }
};
TrailerLocks trailer_locks(const AccessBytes &bytes);

// The question asked before such bytes are written to `sector`, upper case; empty when
// nothing is locked.
std::wstring lock_warning_text(const AccessBytes &bytes, int sector);

}  // namespace tolvex::bench
