// SL2 ICS20 commands.
#include "media_sl2.hpp"

#include <algorithm>

#include "device.hpp"

namespace tolvex::sim {

namespace {
constexpr int kBlocks = 28;
}  // namespace

// Serial E0 04 01 00, then the card's serial number high byte first.
Sl2Memory Sl2Memory::fresh(std::uint32_t serial) {
  Sl2Memory m;
  m.serial = {0xE0, 0x04, 0x01, 0x00, static_cast<std::uint8_t>(serial >> 24), static_cast<std::uint8_t>(serial >> 16),
              static_cast<std::uint8_t>(serial >> 8), static_cast<std::uint8_t>(serial)};
  return m;
}

DeviceReply Sl2Medium::read_serial(Device &d, const Bytes &) {
  const AntennaCard c = d.card_at_antenna(true);
  if (!c) return c.refusal;
  return after(d.busy(work_of("S10")), ok(Bytes(c->sl2.serial.begin(), c->sl2.serial.end())));
}

DeviceReply Sl2Medium::read_block(Device &d, const Bytes &data) {
  if (data.size() != 1) return fail(st::kBadFrame);
  const AntennaCard c = d.card_at_antenna(true);
  if (!c) return c.refusal;
  if (data[0] >= kBlocks) return fail(st::kRfRead);
  Bytes out{data[0]};
  out.insert(out.end(), c->sl2.blocks.begin() + data[0] * 4, c->sl2.blocks.begin() + data[0] * 4 + 4);
  return after(d.busy(work_of("S11")), ok(out));
}

DeviceReply Sl2Medium::write_block(Device &d, const Bytes &data) {
  if (data.size() != 5) return fail(st::kBadFrame);
  const AntennaCard c = d.card_at_antenna(true);
  if (!c) return c.refusal;
  if (data[0] >= kBlocks) return fail(st::kRfWrite);
  std::copy(data.begin() + 1, data.end(), c->sl2.blocks.begin() + data[0] * 4);
  return after(d.busy(work_of("S12")), ok());
}

DeviceReply Sl2Medium::read_card(Device &d, const Bytes &data) {
  if (!data.empty()) return fail(st::kBadFrame);
  const AntennaCard c = d.card_at_antenna(true);
  if (!c) return c.refusal;
  return after(d.busy(work_of("S16")), ok(Bytes(c->sl2.blocks.begin(), c->sl2.blocks.end())));
}

DeviceReply Sl2Medium::write_card(Device &d, const Bytes &data) {
  if (data.size() != 112) return fail(st::kBadFrame);
  const AntennaCard c = d.card_at_antenna(true);
  if (!c) return c.refusal;
  std::copy(data.begin(), data.end(), c->sl2.blocks.begin());
  return after(d.busy(work_of("S17")), ok());
}

// Direct control: one card command byte and its arguments; the answer starts with the
// card's flags byte (0x00 = good). 0x20 read block n, 0x21 write block n with 4 bytes,
// 0x2B system information (serial, block count - 1, block size - 1).
DeviceReply Sl2Medium::direct(Device &d, const Bytes &data) {
  if (data.empty()) return fail(st::kBadFrame);
  const AntennaCard c = d.card_at_antenna(true);
  if (!c) return c.refusal;
  const int busy = d.busy(work_of("S19"));
  const Bytes out_of_range{0x01, 0x10};
  auto &blocks = c->sl2.blocks;
  switch (data[0]) {
    case 0x20: {
      if (data.size() != 2) return fail(st::kBadFrame);
      if (data[1] >= kBlocks) return after(busy, ok(out_of_range));
      Bytes out{0x00};
      out.insert(out.end(), blocks.begin() + data[1] * 4, blocks.begin() + data[1] * 4 + 4);
      return after(busy, ok(out));
    }
    case 0x21:
      if (data.size() != 6) return fail(st::kBadFrame);
      if (data[1] >= kBlocks) return after(busy, ok(out_of_range));
      std::copy(data.begin() + 2, data.end(), blocks.begin() + data[1] * 4);
      return after(busy, ok({0x00}));
    case 0x2B: {
      Bytes out{0x00, 0x0F};
      out.insert(out.end(), c->sl2.serial.rbegin(), c->sl2.serial.rend());
      out.insert(out.end(), {0x00, 0x00, kBlocks - 1, 0x03, 0x01});
      return after(busy, ok(out));
    }
    default:
      return after(busy, ok({0x01, 0x01}));  // command not supported
  }
}

}  // namespace tolvex::sim
