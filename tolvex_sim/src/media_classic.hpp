// MIFARE Classic 4K: the card's memory with its access rules, and the terminal's key
// store the reader authenticates with.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "reply.hpp"

namespace tolvex::sim {

// The card's 4096 bytes: 32 sectors of 4 blocks, then 8 of 16; each sector's last block
// is its trailer (key A, access bytes, key B).
struct ClassicMemory {
  std::array<std::uint8_t, 4096> bytes{};

  // Manufacturer block from the UID, transport trailers, zero data blocks.
  static ClassicMemory fresh(const std::array<std::uint8_t, 4> &uid);
  std::uint8_t *block(int sector, int block);
  const std::uint8_t *trailer(int sector) const;
};

class ClassicMedium {
 public:
  ClassicMedium();

  // Blocks, sectors and values; the "unsensed" forms do not ask the card sensor.
  DeviceReply read_block(Device &d, const Bytes &data);               // R31
  DeviceReply write_block(Device &d, const Bytes &data);              // R32
  DeviceReply read_block_unsensed(Device &d, const Bytes &data);      // R33
  DeviceReply write_block_unsensed(Device &d, const Bytes &data);     // R34
  DeviceReply read_sector(Device &d, const Bytes &data);              // R36
  DeviceReply write_sector(Device &d, const Bytes &data);             // R37
  DeviceReply increase(Device &d, const Bytes &data);                 // R41
  DeviceReply decrease(Device &d, const Bytes &data);                 // R42
  DeviceReply increase_unsensed(Device &d, const Bytes &data);        // R43
  DeviceReply decrease_unsensed(Device &d, const Bytes &data);        // R44
  DeviceReply change_card_keys(Device &d, const Bytes &data);         // R54
  DeviceReply detect(Device &d, const Bytes &data);                   // R61, R62

  // The terminal's key store.
  DeviceReply change_terminal_key(Device &d, const Bytes &data);      // R51
  DeviceReply change_all_terminal_keys(Device &d, const Bytes &data); // R52
  DeviceReply select_key(Device &d, const Bytes &data);               // R53
  DeviceReply change_key_from_set(Device &d, const Bytes &data);      // R55
  DeviceReply change_all_keys_from_set(Device &d, const Bytes &data); // R56
  DeviceReply start_key_download(Device &d, const Bytes &data);       // R71
  DeviceReply download_key(Device &d, const Bytes &data);             // R72
  DeviceReply finish_key_download(Device &d, const Bytes &data);      // R73

  // A terminal reset drops a key download under way.
  void reset();

 private:
  DeviceReply read(Device &d, const Bytes &data, bool with_sensor);
  DeviceReply write(Device &d, const Bytes &data, bool with_sensor);
  DeviceReply value(Device &d, const Bytes &data, bool with_sensor, bool increase);
  std::uint16_t authenticate(const ClassicMemory &m, int sector) const;
  unsigned key_bit(const ClassicMemory &m, int sector) const;
  bool data_allowed(const ClassicMemory &m, int sector, int block, int op) const;
  bool trailer_write_allowed(const ClassicMemory &m, int sector, const std::uint8_t *next) const;

  // Per key set (3) and sector (40), key A and key B.
  std::array<std::array<std::array<std::uint8_t, 12>, 40>, 3> keys_{};
  int key_type_ = 1;  // 1 = key A, 2 = key B
  bool key_download_ = false;
  struct PendingKey {
    int set;
    int sector;
    std::array<std::uint8_t, 12> key;
  };
  std::vector<PendingKey> key_pending_;
};

inline constexpr UnitCommand<ClassicMedium> kClassicCommands[] = {
    {"R31", &ClassicMedium::read_block},
    {"R32", &ClassicMedium::write_block},
    {"R33", &ClassicMedium::read_block_unsensed},
    {"R34", &ClassicMedium::write_block_unsensed},
    {"R36", &ClassicMedium::read_sector},
    {"R37", &ClassicMedium::write_sector},
    {"R41", &ClassicMedium::increase},
    {"R42", &ClassicMedium::decrease},
    {"R43", &ClassicMedium::increase_unsensed},
    {"R44", &ClassicMedium::decrease_unsensed},
    {"R51", &ClassicMedium::change_terminal_key},
    {"R52", &ClassicMedium::change_all_terminal_keys},
    {"R53", &ClassicMedium::select_key},
    {"R54", &ClassicMedium::change_card_keys},
    {"R55", &ClassicMedium::change_key_from_set},
    {"R56", &ClassicMedium::change_all_keys_from_set},
    {"R61", &ClassicMedium::detect},
    {"R62", &ClassicMedium::detect},
    {"R71", &ClassicMedium::start_key_download},
    {"R72", &ClassicMedium::download_key},
    {"R73", &ClassicMedium::finish_key_download},
};

}  // namespace tolvex::sim
