// SL2 ICS20: an 8-byte serial and 28 blocks of 4 bytes.
#pragma once

#include <array>
#include <cstdint>

#include "reply.hpp"

namespace tolvex::sim {

struct Sl2Memory {
  std::array<std::uint8_t, 8> serial{};
  std::array<std::uint8_t, 112> blocks{};

  static Sl2Memory fresh(std::uint32_t serial);
};

class Sl2Medium {
 public:
  DeviceReply read_serial(Device &d, const Bytes &data);  // S10
  DeviceReply read_block(Device &d, const Bytes &data);   // S11
  DeviceReply write_block(Device &d, const Bytes &data);  // S12
  DeviceReply read_card(Device &d, const Bytes &data);    // S16
  DeviceReply write_card(Device &d, const Bytes &data);   // S17
  DeviceReply direct(Device &d, const Bytes &data);       // S19
};

inline constexpr UnitCommand<Sl2Medium> kSl2Commands[] = {
    {"S10", &Sl2Medium::read_serial}, {"S11", &Sl2Medium::read_block}, {"S12", &Sl2Medium::write_block},
    {"S16", &Sl2Medium::read_card},   {"S17", &Sl2Medium::write_card}, {"S19", &Sl2Medium::direct},
};

}  // namespace tolvex::sim
