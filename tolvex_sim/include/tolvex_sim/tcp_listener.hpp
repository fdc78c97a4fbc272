// The simulated terminal over raw TCP: accepts one client at a time and relays its bytes
// to and from the simulator's line, so faults, lasting states, pacing and the trace stay
// those of the line. A second connection is closed while the first lasts; a client that
// goes away leaves the terminal as it is, and the next one carries on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tolvex::sim {

class TcpListener {
 public:
  // line: the path of the simulator's line (Simulator::path()).
  explicit TcpListener(std::string line);
  ~TcpListener();  // stops
  TcpListener(const TcpListener &) = delete;
  TcpListener &operator=(const TcpListener &) = delete;

  // Listens on "HOST:PORT" (HOST a name, an IPv4 address or [IPv6]; PORT 0 picks a free
  // one) and starts relaying. False with the reason in *error when that fails.
  bool start(const std::string &address, std::string *error = nullptr);
  // Stops listening and closes the client's connection, if any.
  void stop();
  // The port listened on, once started.
  std::uint16_t port() const;
  // Closes the connection of the client there is, as a lost network would.
  void drop_client();
  // True while a client is connected.
  bool has_client() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tolvex::sim
