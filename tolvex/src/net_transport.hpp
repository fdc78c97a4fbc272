// A terminal reached over TCP: "socket://HOST:PORT" carries the line's bytes as they are,
// "rfc2217://HOST:PORT" speaks Telnet with the COM port control option and sets the far
// port's line as the serial port would. Connecting waits at most 3 s; reads and writes
// never wait. The far side closing or resetting the connection is a hang-up.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "network_address.hpp"
#include "socket_shim.hpp"
#include "telnet_codec.hpp"
#include "transport.hpp"

namespace tolvex {

class NetTransport : public Transport {
 public:
  NetTransport() = default;
  ~NetTransport() override { close(); }
  NetTransport(const NetTransport &) = delete;
  NetTransport &operator=(const NetTransport &) = delete;

  bool open(const std::string &path, const LineSettings &settings, std::string &error) override;
  void close() override;
  bool is_open() const override { return socket_ != net::kNoSocket; }
  long write(const std::uint8_t *bytes, std::size_t n) override;
  bool output_empty() override;
  long read(std::uint8_t *buffer, std::size_t max) override;
  int readable_fd() const override;
  bool hung_up() const override { return hung_up_; }
  void set_hung_up() override { hung_up_ = true; }

  net::SocketHandle socket() const { return socket_; }
#ifdef _WIN32
  // For the I/O thread's wait, under the port's lock: the event signalled when bytes
  // arrive, room to write returns or the far side closes; ready is set when one of
  // those has happened already. Null when there is nothing to wait for.
  HANDLE wait_event(bool &ready);
#endif

  // How long connecting, and then setting up the far port, may take each.
  static constexpr std::chrono::milliseconds kConnectTimeout{3000};
  // The pause before connecting again to a server that closed the connection early.
  static constexpr std::chrono::milliseconds kRetryPause{100};

 private:
  bool fail(std::string &error, const std::string &text);
  bool connect_to(const NetworkAddress &address, std::string &error);
  bool set_up_port(const LineSettings &settings, std::string &error);
  // Hands what is queued to the socket; false when the connection is gone.
  bool flush_pending();
  // Reads, through the codec when Telnet is spoken; -1 gone, else the data bytes count.
  long receive_into(std::uint8_t *buffer, std::size_t max);

  net::SocketHandle socket_ = net::kNoSocket;
  bool telnet_ = false;
  bool hung_up_ = false;
  bool closed_by_server_ = false;  // the last set-up ended by the server closing or resetting
  std::string where_;  // "HOST:PORT" for messages
  TelnetCodec codec_;
  std::vector<std::uint8_t> pending_;  // encoded bytes not yet taken by the socket
  std::vector<std::uint8_t> data_;     // decoded data of one read
  std::vector<std::uint8_t> replies_;  // Telnet answers of one read
#ifdef _WIN32
  HANDLE event_ = nullptr;  // the socket's network events (WSAEventSelect)
#endif
};

}  // namespace tolvex
