#include "network_address.hpp"

#include <algorithm>
#include <string_view>

namespace tolvex {
namespace {

constexpr std::string_view kRawScheme = "socket://";
constexpr std::string_view kTelnetScheme = "rfc2217://";

bool starts_with(const std::string &s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

}  // namespace

bool is_network_port(const std::string &name) { return starts_with(name, kRawScheme) || starts_with(name, kTelnetScheme); }

std::optional<NetworkAddress> parse_network_port(const std::string &name, std::string &error) {
  NetworkAddress a;
  std::string rest;
  if (starts_with(name, kRawScheme)) {
    rest = name.substr(kRawScheme.size());
  } else if (starts_with(name, kTelnetScheme)) {
    a.kind = NetworkAddress::Kind::rfc2217;
    rest = name.substr(kTelnetScheme.size());
  } else {
    error = "\"" + name + "\" is not socket://HOST:PORT or rfc2217://HOST:PORT";
    return std::nullopt;
  }
  std::string port_text;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos || close == 1 || close + 1 >= rest.size() || rest[close + 1] != ':') {
      error = "\"" + name + "\": an IPv6 host is written [ADDRESS]:PORT";
      return std::nullopt;
    }
    a.host = rest.substr(1, close - 1);
    port_text = rest.substr(close + 2);
  } else {
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || rest.find(':') != colon) {
      error = "\"" + name + "\": expected HOST:PORT after the scheme";
      return std::nullopt;
    }
    a.host = rest.substr(0, colon);
    port_text = rest.substr(colon + 1);
  }
  unsigned long port = 0;
  const bool digits = !port_text.empty() && port_text.size() <= 5 &&
                      std::all_of(port_text.begin(), port_text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits) port = std::stoul(port_text);
  if (!digits || port == 0 || port > 65535) {
    error = "\"" + name + "\": port \"" + port_text + "\" is not a number from 1 to 65535";
    return std::nullopt;
  }
  if (a.host.find_first_of("/?#@ ") != std::string::npos) {
    error = "\"" + name + "\": \"" + a.host + "\" is not a host name or address";
    return std::nullopt;
  }
  a.port = static_cast<std::uint16_t>(port);
  return a;
}

}  // namespace tolvex
