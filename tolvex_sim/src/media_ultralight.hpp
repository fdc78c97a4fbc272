// Ultralight: 48 pages of 4 bytes; pages 0-1 read-only, page 3 one-time (bits only set),
// the 16-byte key in pages 44-47.
#pragma once

#include <array>
#include <cstdint>

#include "reply.hpp"

namespace tolvex::sim {

struct UltralightPages {
  std::array<std::uint8_t, 192> bytes{};

  // 7-byte UID with its check bytes in pages 0-2, the delivered key in pages 44-47.
  static UltralightPages fresh(std::uint32_t serial);
};

class UltralightMedium {
 public:
  DeviceReply read_page(Device &d, const Bytes &data);     // U31
  DeviceReply write_page(Device &d, const Bytes &data);    // U32
  DeviceReply authenticate(Device &d, const Bytes &data);  // U33
  DeviceReply read_uid(Device &d, const Bytes &data);      // U41
};

inline constexpr UnitCommand<UltralightMedium> kUltralightCommands[] = {
    {"U31", &UltralightMedium::read_page},
    {"U32", &UltralightMedium::write_page},
    {"U33", &UltralightMedium::authenticate},
    {"U41", &UltralightMedium::read_uid},
};

}  // namespace tolvex::sim
