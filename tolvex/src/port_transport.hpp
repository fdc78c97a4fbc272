// The line EnablePort opens: the serial port for a device name, a network transport for
// "socket://HOST:PORT" or "rfc2217://HOST:PORT". Each open picks the one its name asks for.
#pragma once

#include <string>

#include "net_transport.hpp"
#include "serial_transport.hpp"
#include "transport.hpp"

namespace tolvex {

class PortTransport : public Transport {
 public:
  PortTransport() = default;
  PortTransport(const PortTransport &) = delete;
  PortTransport &operator=(const PortTransport &) = delete;

  bool open(const std::string &path, const LineSettings &settings, std::string &error) override {
    active_->close();
    active_ = is_network_port(path) ? static_cast<Transport *>(&network_) : &serial_;
    return active_->open(path, settings, error);
  }
  void close() override { active_->close(); }
  bool is_open() const override { return active_->is_open(); }
  long write(const std::uint8_t *bytes, std::size_t n) override { return active_->write(bytes, n); }
  bool output_empty() override { return active_->output_empty(); }
  long read(std::uint8_t *buffer, std::size_t max) override { return active_->read(buffer, max); }
  int readable_fd() const override { return active_->readable_fd(); }
  bool hung_up() const override { return active_->hung_up(); }
  void set_hung_up() override { active_->set_hung_up(); }

  bool is_network() const { return active_ == &network_; }
  SerialTransport &serial() { return serial_; }
  NetTransport &network() { return network_; }

 private:
  SerialTransport serial_;
  NetTransport network_;
  Transport *active_ = &serial_;
};

}  // namespace tolvex
