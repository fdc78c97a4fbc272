// The platform parts of the simulator's line: sockets, waiting on the line with a
// wake-up from another thread, and the wall clock (the trace, the terminal's clock). On POSIX systems the
// line may also be a pseudo-terminal or a serial device (a descriptor); on Windows it
// is always a socket.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace tolvex::sim {

// A descriptor (POSIX) or a SOCKET (Windows), wide enough for either.
using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// Starts the system's socket layer once (Windows); false with the reason when it fails.
bool start_sockets(std::string &error);
void close_socket(Socket s);

// A socket or descriptor that another thread makes readable with wake(); kNoSocket when
// none can be made.
Socket make_waker();
void wake(Socket waker);
void drain_waker(Socket waker);

// What wait_ready() found ready.
struct Ready {
  bool line = false;      // readable or hung up (a writable line only ends the wait)
  bool waker = false;
  bool listener = false;  // a connection is waiting
};

// Waits until one of line, waker or listener is ready (kNoSocket ones are left out), or
// the timeout has passed (negative: no limit). False when the wait itself failed; an
// interrupted wait is a wait with nothing ready.
bool wait_ready(Socket line, bool want_write, Socket waker, Socket listener, std::chrono::nanoseconds timeout,
                Ready &ready);

// Reads or writes the line: -1 on failure, see would_block().
long line_read(Socket s, bool tcp, std::uint8_t *buf, std::size_t n);
long line_write(Socket s, bool tcp, const std::uint8_t *buf, std::size_t n);
// The last line_read or line_write failed only because it would block or was interrupted.
bool would_block();
// The peer of a connected socket has closed it and nothing but that end is left to read.
bool peer_closed(Socket s);

// The time of day now in UTC, "HH:MM:SS.uuuuuu".
std::string utc_time_of_day();
// How far the local time is ahead of UTC at `wall`, in seconds.
long local_offset_s(std::time_t wall);

}  // namespace tolvex::sim
