// Contact chip and SAM commands: answers to reset and APDUs carried in
// "<2 length bytes big-endian><APDU>".
#include "media_chip.hpp"

#include <algorithm>

#include "device.hpp"

namespace tolvex::sim {

namespace {

// Contact chip layout: application directory 0200 holding the files 0201 and 0202.
constexpr std::uint16_t kAppDf = 0x0200;
constexpr std::uint8_t kAppName[] = {0xD2, 0x76, 0x00, 0x00, 0x54, 0x56, 0x58};  // select by name
// Room for the longest text one UPDATE BINARY carries (Lc is one byte: up to 255).
constexpr std::size_t kFileSize = 256;

Bytes sw(std::uint16_t w, const Bytes &data = {}) {
  Bytes out(data.size() + 2);
  out[0] = static_cast<std::uint8_t>(w >> 8);
  out[1] = static_cast<std::uint8_t>(w & 0xFF);
  std::copy(data.begin(), data.end(), out.begin() + 2);
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

// Eight bytes (or fewer when asked for fewer) of a challenge seeded by `x`.
Bytes challenge(std::uint32_t x, int n) {
  Bytes out;
  for (int i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    out.push_back(static_cast<std::uint8_t>(x >> 24));
  }
  return out;
}

// The SAM answers SELECT and GET CHALLENGE and refuses everything else.
Bytes sam_apdu(const Bytes &apdu, std::uint32_t seed) {
  if (apdu[0] != 0x00 && apdu[0] != 0x80) return sw(0x6E00);
  if (apdu[1] == 0xA4) return sw(0x9000);
  if (apdu[1] == 0x84) return sw(0x9000, challenge(seed * 2246822519u, 8));
  return sw(0x6D00);
}

}  // namespace

ChipFiles ChipFiles::fresh() {
  ChipFiles f;
  f.files[0x0201] = Bytes(kFileSize, 0);
  f.files[0x0202] = Bytes(kFileSize, 0);
  return f;
}

Bytes ChipFiles::apdu(const Bytes &command, std::uint32_t serial) {
  const std::uint8_t cla = command[0], ins = command[1], p1 = command[2], p2 = command[3];
  std::size_t lc = 0;
  Bytes body;
  int le = -1;
  if (command.size() == 5) {
    le = command[4] == 0 ? 256 : command[4];
  } else if (command.size() > 5) {
    lc = command[4];
    if (command.size() != 5 + lc && command.size() != 6 + lc) return sw(0x6700);
    body.assign(command.begin() + 5, command.begin() + 5 + static_cast<std::ptrdiff_t>(lc));
    if (command.size() == 6 + lc) le = command.back() == 0 ? 256 : command.back();
  }
  if (cla != 0x00) return sw(0x6E00);
  const std::size_t offset = static_cast<std::size_t>(p1 & 0x7F) << 8 | p2;
  switch (ins) {
    case 0xA4: return select(p1, body);
    case 0xB0: return read_binary(offset, body, le);
    case 0xD6: return update_binary(offset, body);
    case 0x84: return sw(0x9000, challenge(serial * 747796405u + 2891336453u, le < 0 ? 8 : std::min(le, 8)));
    default: return sw(0x6D00);
  }
}

Bytes ChipFiles::select(std::uint8_t p1, const Bytes &body) {
  if (p1 == 0x04) {
    if (body.size() == sizeof kAppName && std::equal(body.begin(), body.end(), kAppName)) {
      df = kAppDf;
      ef = -1;
      return sw(0x9000);
    }
    return sw(0x6A82);
  }
  if (body.size() != 2) return sw(0x6700);
  const auto id = static_cast<std::uint16_t>(body[0] << 8 | body[1]);
  if ((id == 0x3F00 || id == kAppDf) && (p1 == 0x00 || p1 == 0x01)) {
    df = id == kAppDf ? kAppDf : -1;
    ef = -1;
    return sw(0x9000);
  }
  if ((p1 == 0x00 || p1 == 0x02) && df == kAppDf && files.count(id)) {
    ef = id;
    return sw(0x9000);
  }
  if (p1 > 0x04) return sw(0x6A86);
  return sw(0x6A82);
}

Bytes ChipFiles::read_binary(std::size_t offset, const Bytes &body, int le) {
  if (ef < 0) return sw(0x6986);
  const Bytes &f = files[static_cast<std::uint16_t>(ef)];
  if (le < 0 || !body.empty()) return sw(0x6700);
  if (offset >= f.size()) return sw(0x6B00);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(le), f.size() - offset);
  Bytes out(f.begin() + static_cast<std::ptrdiff_t>(offset), f.begin() + static_cast<std::ptrdiff_t>(offset + n));
  return sw(n < static_cast<std::size_t>(le) ? 0x6282 : 0x9000, out);
}

Bytes ChipFiles::update_binary(std::size_t offset, const Bytes &body) {
  if (ef < 0) return sw(0x6986);
  Bytes &f = files[static_cast<std::uint16_t>(ef)];
  if (body.empty()) return sw(0x6700);
  if (offset + body.size() > f.size()) return sw(0x6B00);
  std::copy(body.begin(), body.end(), f.begin() + static_cast<std::ptrdiff_t>(offset));
  return sw(0x9000);
}

DeviceReply ChipMedium::reset_card(Device &d, const Bytes &) {
  Card *c = d.card();
  if (!c) return fail(st::kNoCard);
  if (!d.at(Place::Ic) || !c->media.ic) return fail(st::kIcContact);  // no chip: no answer to reset
  c->chip.powered = true;
  c->chip.df = -1;
  c->chip.ef = -1;
  // TS, T0 (TB1 and TC1 follow, 6 historical bytes), TB1, TC1, "TVXSIM".
  return after(d.busy(work_of("I21")), ok({0x3B, 0x66, 0x00, 0x00, 'T', 'V', 'X', 'S', 'I', 'M'}));
}

DeviceReply ChipMedium::card_command(Device &d, const Bytes &data) {
  Card *c = d.card();
  if (!c) return fail(st::kNoCard);
  if (!d.at(Place::Ic)) return fail(st::kIcContact);
  Bytes apdu;
  if (!c->chip.powered || !unwrap_apdu(data, apdu)) return fail(st::kIcCommand);
  return after(d.busy(work_of("I22")), ok(c->chip.apdu(apdu, c->serial)));
}

DeviceReply ChipMedium::reset_sam(Device &d, const Bytes &) {
  sam_powered_ = true;
  return after(d.busy(work_of("I25")), ok({0x3B, 0x63, 0x00, 0x00, 'S', 'A', 'M'}));
}

DeviceReply ChipMedium::sam_command(Device &d, const Bytes &data) {
  Bytes apdu;
  if (!sam_powered_ || !unwrap_apdu(data, apdu)) return fail(st::kIcCommand);
  return after(d.busy(work_of("I26")), ok(sam_apdu(apdu, d.next_serial())));
}

DeviceReply ChipMedium::deactivate_sam(Device &, const Bytes &) {
  sam_powered_ = false;
  return ok();
}

DeviceReply ChipMedium::select_protocol(Device &d, const Bytes &data) {
  if (data.size() != 2) return fail(st::kBadFrame);
  const Card *c = d.card();
  if (!c) return fail(st::kNoCard);
  if (!d.at(Place::Ic) || !c->media.ic || !c->chip.powered) return fail(st::kIcContact);
  return ok();
}

}  // namespace tolvex::sim
