// The simulator's TCP side: a listening socket on HOST:PORT and the connections it takes.
#pragma once

#include <cstdint>
#include <string>

#include "sim_socket.hpp"

namespace tolvex::sim {

// Listens on "HOST:PORT" (HOST a name, an IPv4 address or [IPv6]; PORT 0 picks a free
// one): the socket, non-blocking, with the port bound in port; kNoSocket with the reason
// in error when that fails.
Socket listen_on(const std::string &address, std::uint16_t &port, std::string &error);

// HOST of "HOST:PORT" as it was written ("[::1]" keeps its brackets).
std::string listen_host(const std::string &address);

// A connection waiting on the listening socket, non-blocking and sending each write at
// once; kNoSocket when there is none.
Socket accept_client(Socket listener);

}  // namespace tolvex::sim
