// Contact chip and SAM: the card's files under one application directory, and the
// contact unit with the terminal's SAM slot.
#pragma once

#include <cstdint>
#include <map>

#include "reply.hpp"

namespace tolvex::sim {

// The chip as the card holds it: files by id, contents zero at first, and what the chip
// has selected while powered.
struct ChipFiles {
  std::map<std::uint16_t, Bytes> files;
  bool powered = false;
  int df = -1;  // selected directory id, -1 = master file
  int ef = -1;  // selected elementary file, -1 = none

  static ChipFiles fresh();
  // CLA INS P1 P2 [Lc data] [Le]; answers SW1 SW2 followed by the response bytes.
  // `serial` seeds the challenges.
  Bytes apdu(const Bytes &command, std::uint32_t serial);

 private:
  Bytes select(std::uint8_t p1, const Bytes &body);
  Bytes read_binary(std::size_t offset, const Bytes &body, int le);
  Bytes update_binary(std::size_t offset, const Bytes &body);
};

class ChipMedium {
 public:
  DeviceReply reset_card(Device &d, const Bytes &data);       // I21
  DeviceReply card_command(Device &d, const Bytes &data);     // I22
  DeviceReply reset_sam(Device &d, const Bytes &data);        // I25
  DeviceReply sam_command(Device &d, const Bytes &data);      // I26
  DeviceReply deactivate_sam(Device &d, const Bytes &data);   // I27
  DeviceReply select_protocol(Device &d, const Bytes &data);  // C43

  // A terminal reset powers the SAM down.
  void reset() { sam_powered_ = false; }

 private:
  bool sam_powered_ = false;
};

inline constexpr UnitCommand<ChipMedium> kChipCommands[] = {
    {"I21", &ChipMedium::reset_card},  {"I22", &ChipMedium::card_command},   {"I25", &ChipMedium::reset_sam},
    {"I26", &ChipMedium::sam_command}, {"I27", &ChipMedium::deactivate_sam}, {"C43", &ChipMedium::select_protocol},
};

}  // namespace tolvex::sim
