// Ultralight commands.
#include "media_ultralight.hpp"

#include <algorithm>
#include <cstring>

#include "device.hpp"

namespace tolvex::sim {

namespace {
constexpr char kDeliveredKey[] = "BREAKMEIFYOUCAN!";  // the card's key as delivered
constexpr int kPages = 48, kKeyPage = 44;
}  // namespace

UltralightPages UltralightPages::fresh(std::uint32_t serial) {
  UltralightPages u;
  const std::uint8_t uid7[7] = {0x04, static_cast<std::uint8_t>(serial >> 16), static_cast<std::uint8_t>(serial >> 8),
                                static_cast<std::uint8_t>(serial), 0x5A, 0x81, static_cast<std::uint8_t>(serial >> 24)};
  u.bytes[0] = uid7[0];
  u.bytes[1] = uid7[1];
  u.bytes[2] = uid7[2];
  u.bytes[3] = static_cast<std::uint8_t>(0x88 ^ uid7[0] ^ uid7[1] ^ uid7[2]);
  std::memcpy(&u.bytes[4], uid7 + 3, 4);
  u.bytes[8] = static_cast<std::uint8_t>(uid7[3] ^ uid7[4] ^ uid7[5] ^ uid7[6]);
  u.bytes[9] = 0x48;
  std::memcpy(&u.bytes[kKeyPage * 4], kDeliveredKey, 16);
  return u;
}

// Four pages from the one asked for, wrapping after the last; the key never reads back.
DeviceReply UltralightMedium::read_page(Device &d, const Bytes &data) {
  if (data.size() != 1) return fail(st::kBadFrame);
  const AntennaCard c = d.card_at_antenna(true);
  if (!c) return c.refusal;
  if (data[0] >= kPages) return fail(st::kRfRead);
  Bytes out{data[0]};
  for (int i = 0; i < 16; ++i) {
    const int page = (data[0] + i / 4) % kPages;
    out.push_back(page >= kKeyPage ? 0x00 : c->ultralight.bytes[static_cast<std::size_t>(page * 4 + i % 4)]);
  }
  return after(d.busy(work_of("U31")), ok(out));
}

DeviceReply UltralightMedium::write_page(Device &d, const Bytes &data) {
  if (data.size() != 5) return fail(st::kBadFrame);
  const AntennaCard c = d.card_at_antenna(true);
  if (!c) return c.refusal;
  const int page = data[0];
  if (page < 2 || page >= kPages) return fail(st::kRfWrite);
  std::uint8_t *p = &c->ultralight.bytes[static_cast<std::size_t>(page * 4)];
  if (page == 2) {  // serial check byte and internal byte stay, lock bits are only set
    p[2] |= data[3];
    p[3] |= data[4];
  } else if (page == 3) {
    for (int i = 0; i < 4; ++i) p[i] |= data[static_cast<std::size_t>(1 + i)];
  } else {
    std::copy(data.begin() + 1, data.end(), p);
  }
  return after(d.busy(work_of("U32")), ok());
}

// Authentication with the 16-byte key held in pages 44-47.
DeviceReply UltralightMedium::authenticate(Device &d, const Bytes &data) {
  const AntennaCard c = d.card_at_antenna(true);
  if (!c) return c.refusal;
  if (data.size() != 16) return fail(st::kBadFrame);
  if (!std::equal(data.begin(), data.end(), c->ultralight.bytes.begin() + kKeyPage * 4)) return fail(st::kRfAuth);
  return after(d.busy(work_of("U33")), ok());
}

DeviceReply UltralightMedium::read_uid(Device &d, const Bytes &) {
  const AntennaCard c = d.card_at_antenna(true);
  if (!c) return c.refusal;
  const auto &u = c->ultralight.bytes;
  return after(d.busy(work_of("U41")), ok({u[0], u[1], u[2], u[4], u[5], u[6], u[7]}));
}

}  // namespace tolvex::sim
