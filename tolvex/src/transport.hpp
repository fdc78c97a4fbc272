// What the exchange needs of a line to the terminal: the serial port, or any other line
// (one held in memory, say) that moves bytes both ways.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvex {

struct LineSettings {
  std::uint8_t byte_size = 8;
  std::uint8_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t stop_bits = 0;  // 0 one, 1 one and a half, 2 two
  std::uint32_t baud = 9600;
  std::uint8_t flow = 0;  // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both

  // Time one character takes on the line: start bit, data, parity, stop bits.
  std::chrono::nanoseconds char_time() const {
    if (baud == 0) return std::chrono::nanoseconds(0);
    const long long bits = 1 + byte_size + (parity != 0 ? 1 : 0) + (stop_bits != 0 ? 2 : 1);
    return std::chrono::nanoseconds(bits * 1000000000LL / baud);
  }
};

class Transport {
 public:
  virtual ~Transport() = default;

  // Opens the device at path with the settings. False with the reason in error.
  virtual bool open(const std::string &path, const LineSettings &settings, std::string &error) = 0;
  virtual void close() = 0;
  virtual bool is_open() const = 0;

  // Hands bytes to the line without waiting: how many it took (0 when it is full for
  // now), or -1 when it refuses them (closed, hung up, failed).
  virtual long write(const std::uint8_t *bytes, std::size_t n) = 0;
  // True when no written byte is still waiting to go out.
  virtual bool output_empty() = 0;
  // Reads what the line holds without waiting: the count, 0 when none, -1 when the line
  // is gone (end of file or an error).
  virtual long read(std::uint8_t *buffer, std::size_t max) = 0;
  // A descriptor that polls readable when bytes arrive, or -1 when there is none.
  virtual int readable_fd() const = 0;
  // True once the far side has gone away; only a new open clears it.
  virtual bool hung_up() const = 0;
  virtual void set_hung_up() = 0;
};

}  // namespace tolvex
