// The serial port on a POSIX system: raw line settings, exclusive open, and reads and
// writes that never wait.
#pragma once

#include <string>

#include "transport.hpp"

namespace tolvex {

class SerialTransport : public Transport {
 public:
  SerialTransport() = default;
  ~SerialTransport() override { close(); }
  SerialTransport(const SerialTransport &) = delete;
  SerialTransport &operator=(const SerialTransport &) = delete;

  bool open(const std::string &path, const LineSettings &settings, std::string &error) override;
  void close() override;
  bool is_open() const override { return fd_ >= 0; }
  long write(const std::uint8_t *bytes, std::size_t n) override;
  bool output_empty() override;
  long read(std::uint8_t *buffer, std::size_t max) override;
  int readable_fd() const override { return fd_; }
  bool hung_up() const override { return hung_up_; }
  void set_hung_up() override { hung_up_ = true; }

 private:
  bool fail(std::string &error, const std::string &text);

  int fd_ = -1;
  bool hung_up_ = false;
  bool queue_less_ = false;  // a pseudo-terminal: written bytes never wait in an output queue
};

}  // namespace tolvex
