// Magnetic stripe: the card's three tracks and the read/write unit with its settings.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "reply.hpp"
#include "timing.hpp"

namespace tolvex::sim {

// The tracks as the card holds them (empty = blank).
struct Tracks {
  std::array<std::string, 3> text;
};

class StripeMedium {
 public:
  DeviceReply read_track(Device &d, const Bytes &data);                 // M31
  DeviceReply write_track(Device &d, const Bytes &data);                // M33
  DeviceReply write_track_from_stacker(Device &d, const Bytes &data);   // M34
  DeviceReply read_all_tracks(Device &d, const Bytes &data);            // M35
  DeviceReply write_tracks(Device &d, const Bytes &data);               // M36
  DeviceReply write_tracks_from_stacker(Device &d, const Bytes &data);  // M37
  DeviceReply clean_head(Device &d, const Bytes &data);                 // M51
  DeviceReply set_coercivity(Device &d, const Bytes &data);             // C48
  DeviceReply set_insert_mode(Device &d, const Bytes &data);            // C60

 private:
  std::uint16_t to_head(Device &d, Step pass, int &busy) const;
  DeviceReply write_all(Device &d, const std::uint8_t *p, std::size_t n, int busy) const;

  std::uint8_t coercivity_ = '3';
  std::uint8_t insert_mode_ = 0;
};

inline constexpr UnitCommand<StripeMedium> kStripeCommands[] = {
    {"M31", &StripeMedium::read_track},
    {"M33", &StripeMedium::write_track},
    {"M34", &StripeMedium::write_track_from_stacker},
    {"M35", &StripeMedium::read_all_tracks},
    {"M36", &StripeMedium::write_tracks},
    {"M37", &StripeMedium::write_tracks_from_stacker},
    {"M51", &StripeMedium::clean_head},
    {"C48", &StripeMedium::set_coercivity},
    {"C60", &StripeMedium::set_insert_mode},
};

}  // namespace tolvex::sim
