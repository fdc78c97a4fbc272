// Names of terminals reached over TCP: "socket://HOST:PORT" (the line's bytes as they are)
// and "rfc2217://HOST:PORT" (Telnet with the COM port control option).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tolvex {

struct NetworkAddress {
  enum class Kind { raw, rfc2217 };
  Kind kind = Kind::raw;
  std::string host;  // a name, an IPv4 address or an IPv6 address (without its brackets)
  std::uint16_t port = 0;
};

// True for a name that starts with "socket://" or "rfc2217://".
bool is_network_port(const std::string &name);
// Splits "socket://HOST:PORT" or "rfc2217://HOST:PORT" (HOST a name, IPv4, or [IPv6]);
// nullopt with the reason in error for anything else.
std::optional<NetworkAddress> parse_network_port(const std::string &name, std::string &error);

}  // namespace tolvex
