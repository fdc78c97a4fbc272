// Fresh cards: every medium as delivered, numbered by the serial.
#include "card.hpp"

namespace tolvex::sim {

Card Card::fresh(std::uint32_t serial, CardMedia media) {
  Card c;
  c.serial = serial;
  c.media = media;
  c.chip = ChipFiles::fresh();
  c.classic = ClassicMemory::fresh(c.uid());
  c.ultralight = UltralightPages::fresh(serial);
  c.sl2 = Sl2Memory::fresh(serial);
  return c;
}

std::array<std::uint8_t, 4> Card::uid() const {
  const std::uint32_t x = serial * 2654435761u;
  return {static_cast<std::uint8_t>(x >> 24), static_cast<std::uint8_t>(x >> 16), static_cast<std::uint8_t>(x >> 8),
          static_cast<std::uint8_t>(x)};
}

}  // namespace tolvex::sim
