// MIFARE Classic commands: block, sector and value access under the card's access
// conditions, and the terminal's key store.
#include "media_classic.hpp"

#include <algorithm>
#include <cstring>

#include "device.hpp"

namespace tolvex::sim {

namespace {

constexpr std::uint8_t kTransportAccess[4] = {0xFF, 0x07, 0x80, 0x69};

int sector_count_blocks(int sector) { return sector < 32 ? 4 : 16; }
int first_block(int sector) { return sector < 32 ? sector * 4 : 128 + (sector - 32) * 16; }
bool valid_block(int sector, int block) { return sector >= 0 && sector < 40 && block >= 0 && block < sector_count_blocks(sector); }
bool is_trailer(int sector, int block) { return block == sector_count_blocks(sector) - 1; }

std::int32_t get_le32(const std::uint8_t *p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                   static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}
void put_le32(std::uint8_t *p, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

// Value block: V, ~V, V, then address, ~address, address, ~address.
bool is_value_block(const std::uint8_t *b) {
  const auto v = static_cast<std::uint32_t>(get_le32(b));
  return static_cast<std::uint32_t>(get_le32(b + 4)) == ~v && static_cast<std::uint32_t>(get_le32(b + 8)) == v &&
         b[12] == b[14] && b[13] == b[15] && static_cast<std::uint8_t>(~b[12]) == b[13];
}

// Access bytes carry each condition bit twice, once inverted.
bool valid_access(const std::uint8_t *a) {
  const int c1 = a[1] >> 4, c2 = a[2] & 0x0F, c3 = a[2] >> 4;
  const int nc1 = a[0] & 0x0F, nc2 = a[0] >> 4, nc3 = a[1] & 0x0F;
  return (c1 ^ nc1) == 0x0F && (c2 ^ nc2) == 0x0F && (c3 ^ nc3) == 0x0F;
}

// Access conditions of a sector (the card's public access table). Each block group has a
// condition C1 C2 C3 (read as a number 0-7); the permissions say which keys may do an
// operation: bit 0 key A, bit 1 key B.
constexpr unsigned kA = 1, kB = 2, kAB = 3, kNever = 0;
enum DataOp { kRead, kWrite, kIncrement, kDecrement };
constexpr unsigned kDataAccess[8][4] = {
    {kAB, kAB, kAB, kAB},           // 000: transport configuration
    {kAB, kNever, kNever, kAB},     // 001: value block, decrement only
    {kAB, kNever, kNever, kNever},  // 010: read only
    {kB, kB, kNever, kNever},       // 011
    {kAB, kB, kNever, kNever},      // 100
    {kB, kNever, kNever, kNever},   // 101
    {kAB, kB, kB, kAB},             // 110: value block, recharged with key B
    {kNever, kNever, kNever, kNever},
};
enum TrailerPart { kWriteKeyA, kReadAccess, kWriteAccess, kReadKeyB, kWriteKeyB };
constexpr unsigned kTrailerAccess[8][5] = {
    {kA, kA, kNever, kA, kA},              // 000
    {kA, kA, kA, kA, kA},                  // 001: transport configuration
    {kNever, kA, kNever, kA, kNever},      // 010
    {kB, kAB, kB, kNever, kB},             // 011
    {kB, kAB, kNever, kNever, kB},         // 100
    {kNever, kAB, kB, kNever, kNever},     // 101
    {kNever, kAB, kNever, kNever, kNever}, // 110
    {kNever, kAB, kNever, kNever, kNever}, // 111
};

// Block group of a block: one per block in small sectors, groups of five in large ones.
int group_of(int sector, int block) {
  if (is_trailer(sector, block)) return 3;
  return sector < 32 ? block : block / 5;
}

int condition_of(const std::uint8_t *trailer, int group) {
  const std::uint8_t *a = trailer + 6;
  const int c1 = (a[1] >> (4 + group)) & 1, c2 = (a[2] >> group) & 1, c3 = (a[2] >> (4 + group)) & 1;
  return c1 << 2 | c2 << 1 | c3;
}

bool may(unsigned permission, unsigned key) { return (permission & key) != 0; }

// Key set a (1-3; 0 counts as 1) as R55, R56 and R72 address it.
int key_set(std::uint8_t a) { return a == 0 ? 0 : a - 1; }

}  // namespace

// ---- the card's memory ----

ClassicMemory ClassicMemory::fresh(const std::array<std::uint8_t, 4> &uid) {
  ClassicMemory m;
  std::memcpy(m.bytes.data(), uid.data(), 4);
  m.bytes[4] = static_cast<std::uint8_t>(uid[0] ^ uid[1] ^ uid[2] ^ uid[3]);
  m.bytes[5] = 0x18;
  m.bytes[6] = 0x02;
  m.bytes[7] = 0x00;
  std::memcpy(m.bytes.data() + 8, "TVXSIM01", 8);
  for (int s = 0; s < 40; ++s) {
    std::uint8_t *t = m.block(s, sector_count_blocks(s) - 1);
    std::memset(t, 0xFF, 6);
    std::memcpy(t + 6, kTransportAccess, 4);
    std::memset(t + 10, 0xFF, 6);
  }
  return m;
}

std::uint8_t *ClassicMemory::block(int sector, int block) { return bytes.data() + (first_block(sector) + block) * 16; }

const std::uint8_t *ClassicMemory::trailer(int sector) const {
  return bytes.data() + (first_block(sector) + sector_count_blocks(sector) - 1) * 16;
}

// ---- access as the terminal's selected key has it ----

ClassicMedium::ClassicMedium() {
  for (auto &set : keys_)
    for (auto &k : set) k.fill(0xFF);
}

void ClassicMedium::reset() {
  key_download_ = false;
  key_pending_.clear();
}

// The terminal authenticates with its key (of the selected type) for the sector.
std::uint16_t ClassicMedium::authenticate(const ClassicMemory &m, int sector) const {
  const std::uint8_t *trailer = m.trailer(sector);
  const auto &k = keys_[0][static_cast<std::size_t>(sector)];
  const bool good = key_type_ == 2 ? std::equal(k.begin() + 6, k.end(), trailer + 10)
                                   : std::equal(k.begin(), k.begin() + 6, trailer);
  return good ? st::kOk : st::kRfAuth;
}

// The permission bit of the selected key. Key B serves for nothing in a sector whose
// trailer lets key B be read: the card then refuses every access made with it.
unsigned ClassicMedium::key_bit(const ClassicMemory &m, int sector) const {
  if (key_type_ != 2) return kA;
  return (kTrailerAccess[condition_of(m.trailer(sector), 3)][kReadKeyB] != kNever) ? 0u : kB;
}

bool ClassicMedium::data_allowed(const ClassicMemory &m, int sector, int block, int op) const {
  return may(kDataAccess[condition_of(m.trailer(sector), group_of(sector, block))][op], key_bit(m, sector));
}

// A trailer write changes key A, the access bytes and key B; each part that changes needs
// its own permission.
bool ClassicMedium::trailer_write_allowed(const ClassicMemory &m, int sector, const std::uint8_t *next) const {
  const std::uint8_t *now = m.trailer(sector);
  const unsigned *p = kTrailerAccess[condition_of(now, 3)];
  const unsigned key = key_bit(m, sector);
  const bool key_a = !std::equal(now, now + 6, next), access = !std::equal(now + 6, now + 10, next + 6),
             key_b = !std::equal(now + 10, now + 16, next + 10);
  return (!key_a || may(p[kWriteKeyA], key)) && (!access || may(p[kWriteAccess], key)) &&
         (!key_b || may(p[kWriteKeyB], key)) && key != 0;
}

// ---- blocks, sectors, values ----

DeviceReply ClassicMedium::read(Device &d, const Bytes &data, bool with_sensor) {
  if (data.size() != 2) return fail(st::kBadFrame);
  const AntennaCard c = d.card_at_antenna(with_sensor);
  if (!c) return c.refusal;
  ClassicMemory &m = c->classic;
  const int s = data[0], b = data[1];
  if (!valid_block(s, b)) return fail(st::kRfRead);
  if (const auto a = authenticate(m, s)) return fail(a);
  Bytes out{data[0], data[1]};
  const std::uint8_t *p = m.block(s, b);
  out.insert(out.end(), p, p + 16);
  if (is_trailer(s, b)) {
    const unsigned *perm = kTrailerAccess[condition_of(p, 3)];
    if (!may(perm[kReadAccess], key_bit(m, s))) return fail(st::kRfAuth);
    std::fill(out.begin() + 2, out.begin() + 8, 0x00);  // key A never reads back
    if (!may(perm[kReadKeyB], key_bit(m, s))) std::fill(out.begin() + 12, out.end(), 0x00);
  } else if (!data_allowed(m, s, b, kRead)) {
    return fail(st::kRfAuth);
  }
  return after(d.busy(with_sensor ? work_of("R31") : work_of("R33")), ok(out));
}

DeviceReply ClassicMedium::write(Device &d, const Bytes &data, bool with_sensor) {
  if (data.size() != 18) return fail(st::kBadFrame);
  const AntennaCard c = d.card_at_antenna(with_sensor);
  if (!c) return c.refusal;
  ClassicMemory &m = c->classic;
  const int s = data[0], b = data[1];
  if (!valid_block(s, b) || (s == 0 && b == 0)) return fail(st::kRfWrite);
  if (const auto a = authenticate(m, s)) return fail(a);
  if (is_trailer(s, b)) {
    if (!trailer_write_allowed(m, s, data.data() + 2)) return fail(st::kRfAuth);
    if (!valid_access(data.data() + 8)) return fail(st::kRfWrite);
  } else if (!data_allowed(m, s, b, kWrite)) {
    return fail(st::kRfAuth);
  }
  std::copy(data.begin() + 2, data.end(), m.block(s, b));
  return after(d.busy(with_sensor ? work_of("R32") : work_of("R34")), ok());
}

DeviceReply ClassicMedium::value(Device &d, const Bytes &data, bool with_sensor, bool increase) {
  if (data.size() != 6) return fail(st::kBadFrame);
  const AntennaCard c = d.card_at_antenna(with_sensor);
  if (!c) return c.refusal;
  ClassicMemory &m = c->classic;
  const int s = data[0], b = data[1];
  if (!valid_block(s, b) || is_trailer(s, b) || (s == 0 && b == 0)) return fail(st::kRfValue);
  if (const auto a = authenticate(m, s)) return fail(a);
  if (!data_allowed(m, s, b, increase ? kIncrement : kDecrement)) return fail(st::kRfAuth);
  std::uint8_t *p = m.block(s, b);
  if (!is_value_block(p)) return fail(st::kRfValue);
  const auto v = static_cast<std::uint32_t>(get_le32(p));
  const auto delta = static_cast<std::uint32_t>(get_le32(data.data() + 2));
  const std::uint32_t nv = increase ? v + delta : v - delta;
  put_le32(p, static_cast<std::int32_t>(nv));
  put_le32(p + 4, static_cast<std::int32_t>(~nv));
  put_le32(p + 8, static_cast<std::int32_t>(nv));
  const Step step = with_sensor ? (increase ? work_of("R41") : work_of("R42"))
                                : (increase ? work_of("R43") : work_of("R44"));
  return after(d.busy(step), ok());
}

DeviceReply ClassicMedium::read_block(Device &d, const Bytes &data) { return read(d, data, true); }
DeviceReply ClassicMedium::read_block_unsensed(Device &d, const Bytes &data) { return read(d, data, false); }
DeviceReply ClassicMedium::write_block(Device &d, const Bytes &data) { return write(d, data, true); }
DeviceReply ClassicMedium::write_block_unsensed(Device &d, const Bytes &data) { return write(d, data, false); }
DeviceReply ClassicMedium::increase(Device &d, const Bytes &data) { return value(d, data, true, true); }
DeviceReply ClassicMedium::decrease(Device &d, const Bytes &data) { return value(d, data, true, false); }
DeviceReply ClassicMedium::increase_unsensed(Device &d, const Bytes &data) { return value(d, data, false, true); }
DeviceReply ClassicMedium::decrease_unsensed(Device &d, const Bytes &data) { return value(d, data, false, false); }

// Sector image, the same for reading ("R36") and writing ("R37"): sector, 0x00, then the
// sector's data blocks (all but the trailer) with one 0x00 between two blocks: 52 bytes
// for sectors 0-31 (blocks at 2, 19 and 36), 256 for sectors 32-39. Written images may
// carry anything in the separator bytes.
DeviceReply ClassicMedium::read_sector(Device &d, const Bytes &data) {
  if (data.size() != 1) return fail(st::kBadFrame);
  const AntennaCard c = d.card_at_antenna(true);
  if (!c) return c.refusal;
  ClassicMemory &m = c->classic;
  const int s = data[0];
  if (s >= 40) return fail(st::kRfRead);
  if (const auto a = authenticate(m, s)) return fail(a);
  const int n = sector_count_blocks(s) - 1;
  for (int b = 0; b < n; ++b)
    if (!data_allowed(m, s, b, kRead)) return fail(st::kRfAuth);
  Bytes out{data[0], 0x00};
  for (int b = 0; b < n; ++b) {
    if (b > 0) out.push_back(0x00);
    const std::uint8_t *p = m.block(s, b);
    out.insert(out.end(), p, p + 16);
  }
  return after(d.busy(work_of("R36"), n), ok(out));
}

// The image of "R36". Block 0 of sector 0 is the manufacturer block: its bytes must
// match what it holds.
DeviceReply ClassicMedium::write_sector(Device &d, const Bytes &data) {
  if (data.empty()) return fail(st::kBadFrame);
  const int s = data[0];
  const int n = s < 32 ? 3 : 15;
  if (s >= 40 || data.size() != static_cast<std::size_t>(1 + n * 17)) return fail(st::kBadFrame);
  const AntennaCard c = d.card_at_antenna(true);
  if (!c) return c.refusal;
  ClassicMemory &m = c->classic;
  if (const auto a = authenticate(m, s)) return fail(a);
  for (int b = s == 0 ? 1 : 0; b < n; ++b)
    if (!data_allowed(m, s, b, kWrite)) return fail(st::kRfAuth);
  if (s == 0 && !std::equal(data.begin() + 2, data.begin() + 18, m.bytes.begin())) return fail(st::kRfWrite);
  for (int b = 0; b < n; ++b) std::copy_n(data.begin() + 2 + b * 17, 16, m.block(s, b));
  return after(d.busy(work_of("R37"), n), ok());
}

// New keys for the card's sector: key A, key B (12 bytes) or key A, access, key B (16).
DeviceReply ClassicMedium::change_card_keys(Device &d, const Bytes &data) {
  if (data.size() != 13 && data.size() != 17) return fail(st::kBadFrame);
  const int s = data[0];
  if (s >= 40) return fail(st::kRfWrite);
  const AntennaCard c = d.card_at_antenna(true);
  if (!c) return c.refusal;
  ClassicMemory &m = c->classic;
  if (const auto a = authenticate(m, s)) return fail(a);
  std::uint8_t *trailer = m.block(s, sector_count_blocks(s) - 1);
  std::array<std::uint8_t, 16> next{};
  std::copy(trailer, trailer + 16, next.begin());
  if (data.size() == 17) {
    std::copy(data.begin() + 1, data.end(), next.begin());
  } else {
    std::copy(data.begin() + 1, data.begin() + 7, next.begin());
    std::copy(data.begin() + 7, data.end(), next.begin() + 10);
  }
  if (!trailer_write_allowed(m, s, next.data())) return fail(st::kRfAuth);
  if (!valid_access(next.data() + 6)) return fail(st::kRfWrite);
  std::copy(next.begin(), next.end(), trailer);
  return after(d.busy(work_of("R54")), ok());
}

// With or without the sensor, a card the terminal sees answers with its UID.
DeviceReply ClassicMedium::detect(Device &d, const Bytes &) {
  const AntennaCard c = d.card_at_antenna(false);
  if (!c) return c.refusal;
  const auto u = c->uid();
  return after(d.busy(work_of("R61")), ok(Bytes(u.begin(), u.end())));  // R62 takes the same
}

// ---- the terminal's key store: authentication uses key set 1, which R51 and R52 change ----

DeviceReply ClassicMedium::change_terminal_key(Device &, const Bytes &data) {
  if (data.size() != 13 || data[0] >= 40) return fail(st::kBadFrame);
  std::copy(data.begin() + 1, data.end(), keys_[0][data[0]].begin());
  return ok();
}

DeviceReply ClassicMedium::change_all_terminal_keys(Device &, const Bytes &data) {
  if (data.size() != 12) return fail(st::kBadFrame);
  for (auto &k : keys_[0]) std::copy(data.begin(), data.end(), k.begin());
  return ok();
}

DeviceReply ClassicMedium::select_key(Device &, const Bytes &data) {
  if (data.size() != 1 || (data[0] != 1 && data[0] != 2)) return fail(st::kBadFrame);
  key_type_ = data[0];
  return ok();
}

DeviceReply ClassicMedium::change_key_from_set(Device &, const Bytes &data) {
  if (data.size() != 14 || data[0] > 3 || data[1] >= 40) return fail(st::kBadFrame);
  std::copy(data.begin() + 2, data.end(), keys_[key_set(data[0])][data[1]].begin());
  return ok();
}

DeviceReply ClassicMedium::change_all_keys_from_set(Device &, const Bytes &data) {
  if (data.size() != 13 || data[0] > 3) return fail(st::kBadFrame);
  for (auto &k : keys_[key_set(data[0])]) std::copy(data.begin() + 1, data.end(), k.begin());
  return ok();
}

// Key download: R71 opens it (again), R72 stages one key (key set, sector, 12 bytes),
// R73 stores the staged keys. R72 or R73 without an open download is a sequence error.
DeviceReply ClassicMedium::start_key_download(Device &, const Bytes &data) {
  if (!data.empty()) return fail(st::kBadFrame);
  key_download_ = true;
  key_pending_.clear();
  return ok();
}

DeviceReply ClassicMedium::download_key(Device &, const Bytes &data) {
  if (!key_download_) return fail(st::kKeySequence);
  if (data.size() != 14 || data[0] > 3 || data[1] >= 40) return fail(st::kBadFrame);
  PendingKey k{key_set(data[0]), data[1], {}};
  std::copy(data.begin() + 2, data.end(), k.key.begin());
  key_pending_.push_back(k);
  return ok();
}

DeviceReply ClassicMedium::finish_key_download(Device &, const Bytes &data) {
  if (!key_download_) return fail(st::kKeySequence);
  if (!data.empty()) return fail(st::kBadFrame);
  for (const PendingKey &k : key_pending_) keys_[k.set][k.sector] = k.key;
  key_pending_.clear();
  key_download_ = false;
  return ok();
}

}  // namespace tolvex::sim
