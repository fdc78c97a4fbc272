// Card media: magnetic stripe, contact chip and SAM, MIFARE Classic with the
// terminal's key store, Ultralight, SL2 ICS20 and the printing unit.
#include <algorithm>
#include <cstring>

#include "device.hpp"

namespace tolvex::sim {

namespace {

DeviceReply status(std::uint16_t s) { return DeviceReply{s, {}, 0, 0}; }

// What each track can hold: track 1 up to 76 characters from 0x20-0x5F, tracks 2 and
// 3 up to 37 and 104 characters from 0x30-0x3F.
bool track_fits(std::size_t track, const std::string &text) {
  static constexpr std::size_t longest[] = {76, 37, 104};
  const char lo = track == 0 ? 0x20 : 0x30, hi = track == 0 ? 0x5F : 0x3F;
  return text.size() <= longest[track] &&
         std::all_of(text.begin(), text.end(), [lo, hi](char c) { return c >= lo && c <= hi; });
}
constexpr std::uint8_t kTransportAccess[4] = {0xFF, 0x07, 0x80, 0x69};
constexpr char kUltralightKey[] = "BREAKMEIFYOUCAN!";  // the card's key as delivered

// Contact chip layout: application directory 0200 holding the files 0201 and 0202.
constexpr std::uint16_t kAppDf = 0x0200;
constexpr std::uint8_t kAppName[] = {0xD2, 0x76, 0x00, 0x00, 0x54, 0x56, 0x58};  // select by name
// Room for the longest text one UPDATE BINARY carries (Lc is one byte: up to 255).
constexpr std::size_t kIcFileSize = 256;

int sector_count_blocks(int sector) { return sector < 32 ? 4 : 16; }
int first_block(int sector) { return sector < 32 ? sector * 4 : 128 + (sector - 32) * 16; }
bool valid_block(int sector, int block) { return sector >= 0 && sector < 40 && block >= 0 && block < sector_count_blocks(sector); }
bool is_trailer(int sector, int block) { return block == sector_count_blocks(sector) - 1; }

std::uint8_t *block_ptr(Card &c, int sector, int block) { return c.classic.data() + (first_block(sector) + block) * 16; }

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

const std::uint8_t *trailer_of(const Card &c, int sector) {
  return c.classic.data() + (first_block(sector) + sector_count_blocks(sector) - 1) * 16;
}

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

Bytes sw(std::uint16_t w, const Bytes &data = {}) {
  Bytes out{static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w & 0xFF)};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// Splits "<2 length bytes big-endian><APDU>" and checks the length.
bool unwrap_apdu(const Bytes &d, Bytes &apdu) {
  if (d.size() < 2) return false;
  const std::size_t n = static_cast<std::size_t>(d[0]) << 8 | d[1];
  if (n != d.size() - 2 || n < 4) return false;
  apdu.assign(d.begin() + 2, d.end());
  return true;
}

}  // namespace

// ---- cards ----

Card Card::fresh(std::uint32_t serial, CardMedia media) {
  Card c;
  c.serial = serial;
  c.media = media;
  const auto u = c.uid();
  // Classic: manufacturer block, transport trailers, zero data blocks.
  std::memcpy(c.classic.data(), u.data(), 4);
  c.classic[4] = static_cast<std::uint8_t>(u[0] ^ u[1] ^ u[2] ^ u[3]);
  c.classic[5] = 0x18;
  c.classic[6] = 0x02;
  c.classic[7] = 0x00;
  std::memcpy(c.classic.data() + 8, "TVXSIM01", 8);
  for (int s = 0; s < 40; ++s) {
    std::uint8_t *t = block_ptr(c, s, sector_count_blocks(s) - 1);
    std::memset(t, 0xFF, 6);
    std::memcpy(t + 6, kTransportAccess, 4);
    std::memset(t + 10, 0xFF, 6);
  }
  // Ultralight: 7-byte UID with its check bytes in pages 0-2, key in pages 44-47.
  const std::uint8_t uid7[7] = {0x04, static_cast<std::uint8_t>(serial >> 16), static_cast<std::uint8_t>(serial >> 8),
                                static_cast<std::uint8_t>(serial), 0x5A, 0x81, static_cast<std::uint8_t>(serial >> 24)};
  c.ultralight[0] = uid7[0];
  c.ultralight[1] = uid7[1];
  c.ultralight[2] = uid7[2];
  c.ultralight[3] = static_cast<std::uint8_t>(0x88 ^ uid7[0] ^ uid7[1] ^ uid7[2]);
  std::memcpy(&c.ultralight[4], uid7 + 3, 4);
  c.ultralight[8] = static_cast<std::uint8_t>(uid7[3] ^ uid7[4] ^ uid7[5] ^ uid7[6]);
  c.ultralight[9] = 0x48;
  std::memcpy(&c.ultralight[44 * 4], kUltralightKey, 16);
  // SL2 ICS20: serial E0 04 01 ...
  c.sl2_serial = {0xE0, 0x04, 0x01, 0x00, static_cast<std::uint8_t>(serial >> 24), static_cast<std::uint8_t>(serial >> 16),
                  static_cast<std::uint8_t>(serial >> 8), static_cast<std::uint8_t>(serial)};
  c.ic_files[0x0201] = Bytes(kIcFileSize, 0);
  c.ic_files[0x0202] = Bytes(kIcFileSize, 0);
  return c;
}

std::array<std::uint8_t, 4> Card::uid() const {
  const std::uint32_t x = serial * 2654435761u;
  return {static_cast<std::uint8_t>(x >> 24), static_cast<std::uint8_t>(x >> 16), static_cast<std::uint8_t>(x >> 8),
          static_cast<std::uint8_t>(x)};
}

// ---- magnetic stripe ----

// Every magnetic command passes the card under the head: it needs the card inside (not
// at the exit) and a transport that moves.
std::uint16_t Device::to_head(int &busy) {
  if (!inside()) return st::kNoCard;
  if (jammed_) return st::kJam;
  busy = move_to(Place::Ms) + t(config_.times.ms);
  return st::kOk;
}

DeviceReply Device::read_track(const Bytes &d, Clock::time_point) {
  if (d.size() != 1 || d[0] < 1 || d[0] > 3) return status(st::kBadFrame);
  int busy = 0;
  if (const auto e = to_head(busy)) return status(e);
  const std::string &track = card_->tracks[d[0] - 1];
  if (track.empty() || !card_->media.ms) return {st::kMsBlank, {}, busy, 0};
  Bytes out(track.begin(), track.end());
  out.push_back(0x00);
  return {0, out, busy, 0};
}

DeviceReply Device::write_track(const Bytes &d, Clock::time_point) {
  if (d.size() < 1 || d[0] < 1 || d[0] > 3) return status(st::kBadFrame);
  int busy = 0;
  if (const auto e = to_head(busy)) return status(e);
  const std::size_t k = d[0] - 1u;
  std::string text(d.begin() + 1, std::find(d.begin() + 1, d.end(), 0x00));
  if (!card_->media.ms || !track_fits(k, text)) return {st::kMsWrite, {}, busy, 0};
  card_->tracks[k] = text;
  return {0, {}, busy, 0};
}

// Stacker byte 0 ("4" on the host side) draws by priority.
DeviceReply Device::write_track_from_stacker(const Bytes &d, Clock::time_point now) {
  if (d.size() < 2 || d[1] < 1 || d[1] > 3) return status(st::kBadFrame);
  DeviceReply r = draw(d[0], Place::Ms, now);
  if (r.status != 0) return r;
  Bytes rest(d.begin() + 1, d.end());
  DeviceReply w = write_track(rest, now);
  w.busy_ms += r.busy_ms;
  return w;
}

DeviceReply Device::write_all_tracks(const std::uint8_t *p, std::size_t n, int busy) {
  std::array<std::string, 3> parts;
  std::size_t count = 0;
  std::size_t i = 0;
  while (count < 3 && i <= n) {
    const std::uint8_t *end = std::find(p + i, p + n, 0x00);
    parts[count++] = std::string(p + i, end);
    i = static_cast<std::size_t>(end - p) + 1;
    if (end == p + n) break;
  }
  for (std::size_t k = 0; k < count; ++k)
    if (!card_->media.ms || !track_fits(k, parts[k])) return {st::kMsWrite, {}, busy, 0};
  for (std::size_t k = 0; k < count; ++k) card_->tracks[k] = parts[k];
  return {0, {}, busy, 0};
}

// Track 1, 0x00, track 2, 0x00, track 3 (a trailing zero byte is allowed). Tracks
// left out at the end keep what they hold.
DeviceReply Device::write_tracks(const Bytes &d, Clock::time_point) {
  int busy = 0;
  if (const auto e = to_head(busy)) return status(e);
  return write_all_tracks(d.data(), d.size(), busy);
}

DeviceReply Device::write_tracks_from_stacker(const Bytes &d, Clock::time_point now) {
  if (d.empty()) return status(st::kBadFrame);
  DeviceReply r = draw(d[0] == 4 ? 0 : d[0], Place::Ms, now);
  if (r.status != 0) return r;
  DeviceReply w = write_all_tracks(d.data() + 1, d.size() - 1, r.busy_ms + t(config_.times.ms));
  return w;
}

// Byte 0 says which tracks hold data (bit 0 track 1 ... bit 2 track 3), then each
// track's text followed by a zero byte.
DeviceReply Device::read_all_tracks(const Bytes &d, Clock::time_point) {
  if (!d.empty()) return status(st::kBadFrame);
  int busy = 0;
  if (const auto e = to_head(busy)) return status(e);
  if (!card_->media.ms || (card_->tracks[0].empty() && card_->tracks[1].empty() && card_->tracks[2].empty()))
    return {st::kMsBlank, {}, busy, 0};
  Bytes out{0x00};
  for (std::size_t k = 0; k < 3; ++k)
    if (!card_->tracks[k].empty()) out[0] = static_cast<std::uint8_t>(out[0] | (1u << k));
  for (std::size_t k = 0; k < 3; ++k) {
    out.insert(out.end(), card_->tracks[k].begin(), card_->tracks[k].end());
    out.push_back(0x00);
  }
  return {0, out, busy, 0};
}

DeviceReply Device::clean_head(const Bytes &, Clock::time_point) { return {0, {}, t(config_.times.ms * 2), 0}; }

// ---- contact chip ----

DeviceReply Device::reset_ic(const Bytes &, Clock::time_point) {
  if (!card_) return status(st::kNoCard);
  if (place_ != Place::Ic || !card_->media.ic) return status(st::kIcContact);  // no chip: no answer to reset
  card_->ic_powered = true;
  card_->ic_df = -1;
  card_->ic_ef = -1;
  // TS, T0 (TB1 and TC1 follow, 6 historical bytes), TB1, TC1, "TVXSIM".
  return {0, {0x3B, 0x66, 0x00, 0x00, 'T', 'V', 'X', 'S', 'I', 'M'}, t(config_.times.ic), 0};
}

DeviceReply Device::ic_command(const Bytes &d, Clock::time_point) {
  if (!card_) return status(st::kNoCard);
  if (place_ != Place::Ic) return status(st::kIcContact);
  Bytes apdu;
  if (!card_->ic_powered || !unwrap_apdu(d, apdu)) return status(st::kIcCommand);
  return {0, card_apdu(*card_, apdu), t(config_.times.ic), 0};
}

// CLA INS P1 P2 [Lc data] [Le]; answers SW1 SW2 followed by the response bytes.
Bytes Device::card_apdu(Card &c, const Bytes &apdu) {
  const std::uint8_t cla = apdu[0], ins = apdu[1], p1 = apdu[2], p2 = apdu[3];
  std::size_t lc = 0;
  Bytes body;
  int le = -1;
  if (apdu.size() == 5) {
    le = apdu[4] == 0 ? 256 : apdu[4];
  } else if (apdu.size() > 5) {
    lc = apdu[4];
    if (apdu.size() != 5 + lc && apdu.size() != 6 + lc) return sw(0x6700);
    body.assign(apdu.begin() + 5, apdu.begin() + 5 + static_cast<std::ptrdiff_t>(lc));
    if (apdu.size() == 6 + lc) le = apdu.back() == 0 ? 256 : apdu.back();
  }
  if (cla != 0x00) return sw(0x6E00);
  switch (ins) {
    case 0xA4: {  // SELECT
      if (p1 == 0x04) {
        if (body.size() == sizeof kAppName && std::equal(body.begin(), body.end(), kAppName)) {
          c.ic_df = kAppDf;
          c.ic_ef = -1;
          return sw(0x9000);
        }
        return sw(0x6A82);
      }
      if (body.size() != 2) return sw(0x6700);
      const auto id = static_cast<std::uint16_t>(body[0] << 8 | body[1]);
      if (id == 0x3F00 && (p1 == 0x00 || p1 == 0x01)) {
        c.ic_df = -1;
        c.ic_ef = -1;
        return sw(0x9000);
      }
      if (id == kAppDf && (p1 == 0x00 || p1 == 0x01)) {
        c.ic_df = kAppDf;
        c.ic_ef = -1;
        return sw(0x9000);
      }
      if ((p1 == 0x00 || p1 == 0x02) && c.ic_df == kAppDf && c.ic_files.count(id)) {
        c.ic_ef = id;
        return sw(0x9000);
      }
      if (p1 > 0x04) return sw(0x6A86);
      return sw(0x6A82);
    }
    case 0xB0: {  // READ BINARY
      if (c.ic_ef < 0) return sw(0x6986);
      const Bytes &f = c.ic_files[static_cast<std::uint16_t>(c.ic_ef)];
      const std::size_t off = static_cast<std::size_t>(p1 & 0x7F) << 8 | p2;
      if (le < 0 || !body.empty()) return sw(0x6700);
      if (off >= f.size()) return sw(0x6B00);
      const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(le), f.size() - off);
      Bytes out(f.begin() + static_cast<std::ptrdiff_t>(off), f.begin() + static_cast<std::ptrdiff_t>(off + n));
      return sw(n < static_cast<std::size_t>(le) ? 0x6282 : 0x9000, out);
    }
    case 0xD6: {  // UPDATE BINARY
      if (c.ic_ef < 0) return sw(0x6986);
      Bytes &f = c.ic_files[static_cast<std::uint16_t>(c.ic_ef)];
      const std::size_t off = static_cast<std::size_t>(p1 & 0x7F) << 8 | p2;
      if (body.empty()) return sw(0x6700);
      if (off + body.size() > f.size()) return sw(0x6B00);
      std::copy(body.begin(), body.end(), f.begin() + static_cast<std::ptrdiff_t>(off));
      return sw(0x9000);
    }
    case 0x84: {  // GET CHALLENGE
      const int n = le < 0 ? 8 : std::min(le, 8);
      Bytes out;
      std::uint32_t x = c.serial * 747796405u + 2891336453u;
      for (int i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        out.push_back(static_cast<std::uint8_t>(x >> 24));
      }
      return sw(0x9000, out);
    }
    default:
      return sw(0x6D00);
  }
}

DeviceReply Device::reset_sam(const Bytes &, Clock::time_point) {
  sam_powered_ = true;
  return {0, {0x3B, 0x63, 0x00, 0x00, 'S', 'A', 'M'}, t(config_.times.ic), 0};
}

DeviceReply Device::sam_command(const Bytes &d, Clock::time_point) {
  Bytes apdu;
  if (!sam_powered_ || !unwrap_apdu(d, apdu)) return status(st::kIcCommand);
  return {0, sam_apdu(apdu), t(config_.times.ic), 0};
}

DeviceReply Device::deactivate_sam(const Bytes &, Clock::time_point) {
  sam_powered_ = false;
  return status(st::kOk);
}

// The SAM answers SELECT and GET CHALLENGE and refuses everything else.
Bytes Device::sam_apdu(const Bytes &apdu) {
  if (apdu[0] != 0x00 && apdu[0] != 0x80) return sw(0x6E00);
  if (apdu[1] == 0xA4) return sw(0x9000);
  if (apdu[1] == 0x84) {
    Bytes out;
    std::uint32_t x = next_serial_ * 2246822519u;
    for (int i = 0; i < 8; ++i) {
      x = x * 1664525u + 1013904223u;
      out.push_back(static_cast<std::uint8_t>(x >> 24));
    }
    return sw(0x9000, out);
  }
  return sw(0x6D00);
}

// ---- MIFARE Classic ----

// The card in the antenna field, or the reason there is none.
DeviceReply Device::rf_card(bool with_sensor, Card *&c) {
  c = nullptr;
  if (!card_) return status(with_sensor ? st::kNoCard : st::kNoRfCard);
  if (place_ != Place::Rf || !card_->media.rf) return status(st::kNoRfCard);
  c = &*card_;
  return status(st::kOk);
}

// The terminal authenticates with its key (of the selected type) for the sector.
std::uint16_t Device::authenticate(const Card &c, int sector) const {
  const std::uint8_t *trailer = trailer_of(c, sector);
  const auto &k = keys_[0][static_cast<std::size_t>(sector)];
  const bool ok = key_type_ == 2 ? std::equal(k.begin() + 6, k.end(), trailer + 10)
                                 : std::equal(k.begin(), k.begin() + 6, trailer);
  return ok ? st::kOk : st::kRfAuth;
}

// The permission bit of the selected key. Key B serves for nothing in a sector whose
// trailer lets key B be read: the card then refuses every access made with it.
unsigned Device::key_bit(const Card &c, int sector) const {
  if (key_type_ != 2) return kA;
  return (kTrailerAccess[condition_of(trailer_of(c, sector), 3)][kReadKeyB] != kNever) ? 0u : kB;
}

namespace {
bool may(unsigned permission, unsigned key) { return (permission & key) != 0; }
}  // namespace

bool Device::data_allowed(const Card &c, int sector, int block, int op) const {
  return may(kDataAccess[condition_of(trailer_of(c, sector), group_of(sector, block))][op], key_bit(c, sector));
}

// A trailer write changes key A, the access bytes and key B; each part that changes needs
// its own permission.
bool Device::trailer_write_allowed(const Card &c, int sector, const std::uint8_t *next) const {
  const std::uint8_t *now = trailer_of(c, sector);
  const unsigned *p = kTrailerAccess[condition_of(now, 3)];
  const unsigned key = key_bit(c, sector);
  const bool key_a = !std::equal(now, now + 6, next), access = !std::equal(now + 6, now + 10, next + 6),
             key_b = !std::equal(now + 10, now + 16, next + 10);
  return (!key_a || may(p[kWriteKeyA], key)) && (!access || may(p[kWriteAccess], key)) &&
         (!key_b || may(p[kWriteKeyB], key)) && key != 0;
}

DeviceReply Device::read_block(const Bytes &d, bool with_sensor) {
  if (d.size() != 2) return status(st::kBadFrame);
  Card *c = nullptr;
  DeviceReply r = rf_card(with_sensor, c);
  if (!c) return r;
  const int s = d[0], b = d[1];
  if (!valid_block(s, b)) return status(st::kRfRead);
  if (const auto a = authenticate(*c, s)) return status(a);
  Bytes out{d[0], d[1]};
  const std::uint8_t *p = block_ptr(*c, s, b);
  out.insert(out.end(), p, p + 16);
  if (is_trailer(s, b)) {
    const unsigned *perm = kTrailerAccess[condition_of(p, 3)];
    if (!may(perm[kReadAccess], key_bit(*c, s))) return status(st::kRfAuth);
    std::fill(out.begin() + 2, out.begin() + 8, 0x00);  // key A never reads back
    if (!may(perm[kReadKeyB], key_bit(*c, s))) std::fill(out.begin() + 12, out.end(), 0x00);
  } else if (!data_allowed(*c, s, b, kRead)) {
    return status(st::kRfAuth);
  }
  return {0, out, t(config_.times.rf), 0};
}

DeviceReply Device::write_block(const Bytes &d, bool with_sensor) {
  if (d.size() != 18) return status(st::kBadFrame);
  Card *c = nullptr;
  DeviceReply r = rf_card(with_sensor, c);
  if (!c) return r;
  const int s = d[0], b = d[1];
  if (!valid_block(s, b) || (s == 0 && b == 0)) return status(st::kRfWrite);
  if (const auto a = authenticate(*c, s)) return status(a);
  if (is_trailer(s, b)) {
    if (!trailer_write_allowed(*c, s, d.data() + 2)) return status(st::kRfAuth);
    if (!valid_access(d.data() + 8)) return status(st::kRfWrite);
  } else if (!data_allowed(*c, s, b, kWrite)) {
    return status(st::kRfAuth);
  }
  std::copy(d.begin() + 2, d.end(), block_ptr(*c, s, b));
  return {0, {}, t(config_.times.rf), 0};
}

DeviceReply Device::value_op(const Bytes &d, bool with_sensor, bool increase) {
  if (d.size() != 6) return status(st::kBadFrame);
  Card *c = nullptr;
  DeviceReply r = rf_card(with_sensor, c);
  if (!c) return r;
  const int s = d[0], b = d[1];
  if (!valid_block(s, b) || is_trailer(s, b) || (s == 0 && b == 0)) return status(st::kRfValue);
  if (const auto a = authenticate(*c, s)) return status(a);
  if (!data_allowed(*c, s, b, increase ? kIncrement : kDecrement)) return status(st::kRfAuth);
  std::uint8_t *p = block_ptr(*c, s, b);
  if (!is_value_block(p)) return status(st::kRfValue);
  const auto v = static_cast<std::uint32_t>(get_le32(p));
  const auto delta = static_cast<std::uint32_t>(get_le32(d.data() + 2));
  const std::uint32_t nv = increase ? v + delta : v - delta;
  put_le32(p, static_cast<std::int32_t>(nv));
  put_le32(p + 4, static_cast<std::int32_t>(~nv));
  put_le32(p + 8, static_cast<std::int32_t>(nv));
  return {0, {}, t(config_.times.rf), 0};
}

DeviceReply Device::read_rf_block(const Bytes &d, Clock::time_point) { return read_block(d, true); }
DeviceReply Device::read_rf_block_unsensed(const Bytes &d, Clock::time_point) { return read_block(d, false); }
DeviceReply Device::write_rf_block(const Bytes &d, Clock::time_point) { return write_block(d, true); }
DeviceReply Device::write_rf_block_unsensed(const Bytes &d, Clock::time_point) { return write_block(d, false); }
DeviceReply Device::increase_value(const Bytes &d, Clock::time_point) { return value_op(d, true, true); }
DeviceReply Device::decrease_value(const Bytes &d, Clock::time_point) { return value_op(d, true, false); }
DeviceReply Device::increase_value_unsensed(const Bytes &d, Clock::time_point) { return value_op(d, false, true); }
DeviceReply Device::decrease_value_unsensed(const Bytes &d, Clock::time_point) { return value_op(d, false, false); }

// Sector image, the same for reading ("R36") and writing ("R37"): sector, 0x00, then the
// sector's data blocks (all but the trailer) with one 0x00 between two blocks: 52 bytes
// for sectors 0-31 (blocks at 2, 19 and 36), 256 for sectors 32-39. Written images may
// carry anything in the separator bytes.
DeviceReply Device::read_sector(const Bytes &d, Clock::time_point) {
  if (d.size() != 1) return status(st::kBadFrame);
  Card *c = nullptr;
  DeviceReply r = rf_card(true, c);
  if (!c) return r;
  const int s = d[0];
  if (s >= 40) return status(st::kRfRead);
  if (const auto a = authenticate(*c, s)) return status(a);
  const int n = sector_count_blocks(s) - 1;
  for (int b = 0; b < n; ++b)
    if (!data_allowed(*c, s, b, kRead)) return status(st::kRfAuth);
  Bytes out{d[0], 0x00};
  for (int b = 0; b < n; ++b) {
    if (b > 0) out.push_back(0x00);
    const std::uint8_t *p = block_ptr(*c, s, b);
    out.insert(out.end(), p, p + 16);
  }
  return {0, out, t(config_.times.rf * n), 0};
}

// The image of "R36". Block 0 of sector 0 is the manufacturer block: its bytes must
// match what it holds.
DeviceReply Device::write_sector(const Bytes &d, Clock::time_point) {
  if (d.empty()) return status(st::kBadFrame);
  const int s = d[0];
  const int n = s < 32 ? 3 : 15;
  if (s >= 40 || d.size() != static_cast<std::size_t>(1 + n * 17)) return status(st::kBadFrame);
  Card *c = nullptr;
  DeviceReply r = rf_card(true, c);
  if (!c) return r;
  if (const auto a = authenticate(*c, s)) return status(a);
  for (int b = s == 0 ? 1 : 0; b < n; ++b)
    if (!data_allowed(*c, s, b, kWrite)) return status(st::kRfAuth);
  if (s == 0 && !std::equal(d.begin() + 2, d.begin() + 18, c->classic.begin())) return status(st::kRfWrite);
  for (int b = 0; b < n; ++b) std::copy_n(d.begin() + 2 + b * 17, 16, block_ptr(*c, s, b));
  return {0, {}, t(config_.times.rf * n), 0};
}

// New keys for the card's sector: key A, key B (12 bytes) or key A, access, key B (16).
DeviceReply Device::change_card_keys(const Bytes &d, Clock::time_point) {
  if (d.size() != 13 && d.size() != 17) return status(st::kBadFrame);
  const int s = d[0];
  if (s >= 40) return status(st::kRfWrite);
  Card *c = nullptr;
  DeviceReply r = rf_card(true, c);
  if (!c) return r;
  if (const auto a = authenticate(*c, s)) return status(a);
  std::uint8_t *trailer = block_ptr(*c, s, sector_count_blocks(s) - 1);
  std::array<std::uint8_t, 16> next{};
  std::copy(trailer, trailer + 16, next.begin());
  if (d.size() == 17) {
    std::copy(d.begin() + 1, d.end(), next.begin());
  } else {
    std::copy(d.begin() + 1, d.begin() + 7, next.begin());
    std::copy(d.begin() + 7, d.end(), next.begin() + 10);
  }
  if (!trailer_write_allowed(*c, s, next.data())) return status(st::kRfAuth);
  if (!valid_access(next.data() + 6)) return status(st::kRfWrite);
  std::copy(next.begin(), next.end(), trailer);
  return {0, {}, t(config_.times.rf), 0};
}

// The terminal's key store. Key set a (1-3; 0 counts as 1) is addressed by R55, R56 and
// R72; authentication uses key set 1, which R51 and R52 change.
namespace {
int key_set(std::uint8_t a) { return a == 0 ? 0 : a - 1; }
}  // namespace

DeviceReply Device::change_terminal_key(const Bytes &d, Clock::time_point) {
  if (d.size() != 13 || d[0] >= 40) return status(st::kBadFrame);
  std::copy(d.begin() + 1, d.end(), keys_[0][d[0]].begin());
  return status(st::kOk);
}

DeviceReply Device::change_all_terminal_keys(const Bytes &d, Clock::time_point) {
  if (d.size() != 12) return status(st::kBadFrame);
  for (auto &k : keys_[0]) std::copy(d.begin(), d.end(), k.begin());
  return status(st::kOk);
}

DeviceReply Device::select_key(const Bytes &d, Clock::time_point) {
  if (d.size() != 1 || (d[0] != 1 && d[0] != 2)) return status(st::kBadFrame);
  key_type_ = d[0];
  return status(st::kOk);
}

DeviceReply Device::change_key_from_set(const Bytes &d, Clock::time_point) {
  if (d.size() != 14 || d[0] > 3 || d[1] >= 40) return status(st::kBadFrame);
  std::copy(d.begin() + 2, d.end(), keys_[key_set(d[0])][d[1]].begin());
  return status(st::kOk);
}

DeviceReply Device::change_all_keys_from_set(const Bytes &d, Clock::time_point) {
  if (d.size() != 13 || d[0] > 3) return status(st::kBadFrame);
  for (auto &k : keys_[key_set(d[0])]) std::copy(d.begin() + 1, d.end(), k.begin());
  return status(st::kOk);
}

DeviceReply Device::detect_rf_card(const Bytes &d, Clock::time_point) { return detect_rf_card_unsensed(d, {}); }

DeviceReply Device::detect_rf_card_unsensed(const Bytes &, Clock::time_point) {
  if (!card_ || place_ != Place::Rf || !card_->media.rf) return status(st::kNoRfCard);
  const auto u = card_->uid();
  return {0, Bytes(u.begin(), u.end()), t(config_.times.rf), 0};
}

// Key download: R71 opens it (again), R72 stages one key (key set, sector, 12 bytes),
// R73 stores the staged keys. R72 or R73 without an open download is a sequence error.
DeviceReply Device::start_key_download(const Bytes &d, Clock::time_point) {
  if (!d.empty()) return status(st::kBadFrame);
  key_download_ = true;
  key_pending_.clear();
  return status(st::kOk);
}

DeviceReply Device::download_key(const Bytes &d, Clock::time_point) {
  if (!key_download_) return status(st::kKeySequence);
  if (d.size() != 14 || d[0] > 3 || d[1] >= 40) return status(st::kBadFrame);
  PendingKey k{key_set(d[0]), d[1], {}};
  std::copy(d.begin() + 2, d.end(), k.key.begin());
  key_pending_.push_back(k);
  return status(st::kOk);
}

DeviceReply Device::finish_key_download(const Bytes &d, Clock::time_point) {
  if (!key_download_) return status(st::kKeySequence);
  if (!d.empty()) return status(st::kBadFrame);
  for (const PendingKey &k : key_pending_) keys_[k.set][k.sector] = k.key;
  key_pending_.clear();
  key_download_ = false;
  return status(st::kOk);
}

// ---- Ultralight: 48 pages; pages 0-1 read-only, page 3 one-time (bits only set) ----

DeviceReply Device::read_ultralight_page(const Bytes &d, Clock::time_point) {
  if (d.size() != 1) return status(st::kBadFrame);
  Card *c = nullptr;
  DeviceReply r = rf_card(true, c);
  if (!c) return r;
  if (d[0] >= 48) return status(st::kRfRead);
  Bytes out{d[0]};
  for (int i = 0; i < 16; ++i) {
    const int page = (d[0] + i / 4) % 48;
    out.push_back(page >= 44 ? 0x00 : c->ultralight[static_cast<std::size_t>(page * 4 + i % 4)]);  // key never reads back
  }
  return {0, out, t(config_.times.rf), 0};
}

DeviceReply Device::write_ultralight_page(const Bytes &d, Clock::time_point) {
  if (d.size() != 5) return status(st::kBadFrame);
  Card *c = nullptr;
  DeviceReply r = rf_card(true, c);
  if (!c) return r;
  const int page = d[0];
  if (page < 2 || page >= 48) return status(st::kRfWrite);
  std::uint8_t *p = &c->ultralight[static_cast<std::size_t>(page * 4)];
  if (page == 2) {  // serial check byte and internal byte stay, lock bits are only set
    p[2] |= d[3];
    p[3] |= d[4];
  } else if (page == 3) {
    for (int i = 0; i < 4; ++i) p[i] |= d[static_cast<std::size_t>(1 + i)];
  } else {
    std::copy(d.begin() + 1, d.end(), p);
  }
  return {0, {}, t(config_.times.rf), 0};
}

// Authentication with the 16-byte key held in pages 44-47.
DeviceReply Device::authenticate_ultralight(const Bytes &d, Clock::time_point) {
  Card *c = nullptr;
  DeviceReply r = rf_card(true, c);
  if (!c) return r;
  if (d.size() != 16) return status(st::kBadFrame);
  if (!std::equal(d.begin(), d.end(), c->ultralight.begin() + 44 * 4)) return status(st::kRfAuth);
  return {0, {}, t(config_.times.rf), 0};
}

DeviceReply Device::read_ultralight_uid(const Bytes &, Clock::time_point) {
  Card *c = nullptr;
  DeviceReply r = rf_card(true, c);
  if (!c) return r;
  const auto &u = c->ultralight;
  return {0, {u[0], u[1], u[2], u[4], u[5], u[6], u[7]}, t(config_.times.rf), 0};
}

// ---- SL2 ICS20: 28 blocks of 4 bytes ----

DeviceReply Device::read_sl2_serial(const Bytes &, Clock::time_point) {
  Card *c = nullptr;
  DeviceReply r = rf_card(true, c);
  if (!c) return r;
  return {0, Bytes(c->sl2_serial.begin(), c->sl2_serial.end()), t(config_.times.rf), 0};
}

DeviceReply Device::read_sl2_block(const Bytes &d, Clock::time_point) {
  if (d.size() != 1) return status(st::kBadFrame);
  Card *c = nullptr;
  DeviceReply r = rf_card(true, c);
  if (!c) return r;
  if (d[0] >= 28) return status(st::kRfRead);
  Bytes out{d[0]};
  out.insert(out.end(), c->sl2.begin() + d[0] * 4, c->sl2.begin() + d[0] * 4 + 4);
  return {0, out, t(config_.times.rf), 0};
}

DeviceReply Device::write_sl2_block(const Bytes &d, Clock::time_point) {
  if (d.size() != 5) return status(st::kBadFrame);
  Card *c = nullptr;
  DeviceReply r = rf_card(true, c);
  if (!c) return r;
  if (d[0] >= 28) return status(st::kRfWrite);
  std::copy(d.begin() + 1, d.end(), c->sl2.begin() + d[0] * 4);
  return {0, {}, t(config_.times.rf), 0};
}

DeviceReply Device::read_sl2_card(const Bytes &d, Clock::time_point) {
  if (!d.empty()) return status(st::kBadFrame);
  Card *c = nullptr;
  DeviceReply r = rf_card(true, c);
  if (!c) return r;
  return {0, Bytes(c->sl2.begin(), c->sl2.end()), t(config_.times.rf * 4), 0};
}

DeviceReply Device::write_sl2_card(const Bytes &d, Clock::time_point) {
  if (d.size() != 112) return status(st::kBadFrame);
  Card *c = nullptr;
  DeviceReply r = rf_card(true, c);
  if (!c) return r;
  std::copy(d.begin(), d.end(), c->sl2.begin());
  return {0, {}, t(config_.times.rf * 4), 0};
}

// Direct control: one card command byte and its arguments; the answer starts with the
// card's flags byte (0x00 = good). 0x20 read block n, 0x21 write block n with 4 bytes,
// 0x2B system information (serial, block count - 1, block size - 1).
DeviceReply Device::sl2_direct(const Bytes &d, Clock::time_point) {
  if (d.empty()) return status(st::kBadFrame);
  Card *c = nullptr;
  DeviceReply r = rf_card(true, c);
  if (!c) return r;
  const int busy = t(config_.times.rf);
  switch (d[0]) {
    case 0x20:
      if (d.size() != 2) return status(st::kBadFrame);
      if (d[1] >= 28) return {0, {0x01, 0x10}, busy, 0};
      {
        Bytes out{0x00};
        out.insert(out.end(), c->sl2.begin() + d[1] * 4, c->sl2.begin() + d[1] * 4 + 4);
        return {0, out, busy, 0};
      }
    case 0x21:
      if (d.size() != 6) return status(st::kBadFrame);
      if (d[1] >= 28) return {0, {0x01, 0x10}, busy, 0};
      std::copy(d.begin() + 2, d.end(), c->sl2.begin() + d[1] * 4);
      return {0, {0x00}, busy, 0};
    case 0x2B: {
      Bytes out{0x00, 0x0F};
      out.insert(out.end(), c->sl2_serial.rbegin(), c->sl2_serial.rend());
      out.push_back(0x00);
      out.push_back(0x00);
      out.push_back(27);
      out.push_back(0x03);
      out.push_back(0x01);
      return {0, out, busy, 0};
    }
    default:
      return {0, {0x01, 0x01}, busy, 0};  // command not supported
  }
}

// ---- printing: P10 prints one line (text up to a zero byte), P20 erases the card,
// Z01 reads back the line count (2 bytes, high first) and the lines separated by '/'.

std::uint16_t Device::to_printer() const {
  if (!inside()) return st::kNoCard;
  return jammed_ ? st::kJam : st::kOk;
}

DeviceReply Device::print_card(const Bytes &d, Clock::time_point) {
  if (const auto e = to_printer()) return status(e);
  const int busy = move_to(Place::Print) + t(config_.times.print);
  card_->printed.emplace_back(d.begin(), std::find(d.begin(), d.end(), 0x00));
  return {0, {}, busy, 0};
}

DeviceReply Device::erase_card(const Bytes &, Clock::time_point) {
  if (const auto e = to_printer()) return status(e);
  const int busy = move_to(Place::Print) + t(config_.times.print);
  card_->printed.clear();
  return {0, {}, busy, 0};
}

DeviceReply Device::read_printed(const Bytes &, Clock::time_point) {
  if (const auto e = to_printer()) return status(e);
  const int busy = move_to(Place::Print) + t(config_.times.move);
  const auto n = card_->printed.size();
  Bytes out{static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n & 0xFF)};
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out.push_back('/');
    out.insert(out.end(), card_->printed[i].begin(), card_->printed[i].end());
  }
  out.push_back(0x00);
  if (out.size() > 900) {  // keep within one reply frame
    out.resize(899);
    out.push_back(0x00);
  }
  return {0, out, busy, 0};
}

}  // namespace tolvex::sim
