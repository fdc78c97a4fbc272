// One card with every medium the terminal can handle, and where in the terminal it is.
#pragma once

#include <array>
#include <cstdint>

#include "media_chip.hpp"
#include "media_classic.hpp"
#include "media_print.hpp"
#include "media_sl2.hpp"
#include "media_stripe.hpp"
#include "media_ultralight.hpp"
#include "tolvex_sim/simulator.hpp"

namespace tolvex::sim {

// Where the card is. The card sensors (C16, bit 0 = sensor 1) map one bit per place.
enum class Place : std::uint8_t { None, Exit, Ms, Ic, Rf, Feeder, Print };

struct Card {
  std::uint32_t serial = 0;
  CardMedia media;
  Tracks tracks;
  ChipFiles chip;
  ClassicMemory classic;
  UltralightPages ultralight;
  Sl2Memory sl2;
  PrintedLines printed;

  static Card fresh(std::uint32_t serial, CardMedia media = {});
  std::array<std::uint8_t, 4> uid() const;
};

}  // namespace tolvex::sim
