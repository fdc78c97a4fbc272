// The few socket calls the network transports make, one spelling for POSIX sockets and
// Winsock: a handle type, non-blocking mode, send and receive that never wait, a bounded
// wait for one socket, and the error of the last call as a code and as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <sys/socket.h>
#endif

namespace tolvex::net {

#ifdef _WIN32
using SocketHandle = SOCKET;
inline const SocketHandle kNoSocket = INVALID_SOCKET;
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

// Makes sockets usable in this process (Winsock's start-up, once); true when they are.
bool sockets_ready();

void close_socket(SocketHandle s);
bool set_non_blocking(SocketHandle s);
// The error of the last socket call on this thread.
int last_error();
bool would_block(int error);      // nothing to read or no room to write, for now
bool connect_pending(int error);  // a non-blocking connect under way
bool connection_lost(int error);  // reset, aborted, broken pipe
std::string error_text(int error);

// -1 on an error (last_error() tells), else the count; 0 from recv_some is the far side's end.
long send_some(SocketHandle s, const std::uint8_t *bytes, std::size_t n);
long recv_some(SocketHandle s, std::uint8_t *buffer, std::size_t max);

// Waits at most timeout_ms for the socket to be readable (or writable when for_write):
// 1 ready (or failed: the next call tells), 0 timed out, -1 the wait itself failed.
int wait_socket(SocketHandle s, bool for_write, int timeout_ms);

}  // namespace tolvex::net
