#include "net_transport.hpp"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cstring>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#endif

namespace tolvex {
namespace {

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

// The COM port option's codes for the line settings (the library's codes as in EnablePort).
std::uint8_t parity_code(std::uint8_t parity) { return static_cast<std::uint8_t>(parity + 1); }
std::uint8_t stop_code(std::uint8_t stop_bits) {
  return stop_bits == 0 ? std::uint8_t{1} : (stop_bits == 2 ? std::uint8_t{2} : std::uint8_t{3});
}
std::uint8_t flow_code(std::uint8_t flow) {
  return flow == 1 ? std::uint8_t{2} : (flow == 2 || flow == 3 ? std::uint8_t{3} : std::uint8_t{1});
}

const char *parity_name(std::uint8_t code) {
  static const char *const names[] = {"?", "none", "odd", "even", "mark", "space"};
  return code < 6 ? names[code] : "?";
}
const char *stop_name(std::uint8_t code) {
  static const char *const names[] = {"?", "one", "two", "one and a half"};
  return code < 4 ? names[code] : "?";
}

}  // namespace

bool NetTransport::fail(std::string &error, const std::string &text) {
  error = text;
  close();
  return false;
}

int NetTransport::readable_fd() const {
#ifdef _WIN32
  return -1;
#else
  return socket_;
#endif
}

bool NetTransport::open(const std::string &path, const LineSettings &s, std::string &error) {
  close();
  const std::optional<NetworkAddress> address = parse_network_port(path, error);
  if (!address) return false;
  if (s.byte_size < 5 || s.byte_size > 8) return fail(error, "byte size " + std::to_string(s.byte_size) + " not supported");
  if (s.parity > 4) return fail(error, "parity " + std::to_string(s.parity) + " not supported");
  if (s.stop_bits > 2) return fail(error, "stop bits code " + std::to_string(s.stop_bits) + " not supported");
  if (s.baud == 0) return fail(error, "baud rate 0 not supported");
  if (!net::sockets_ready()) return fail(error, "sockets are not available");
  const bool bracket = address->host.find(':') != std::string::npos;
  where_ = (bracket ? "[" + address->host + "]" : address->host) + ":" + std::to_string(address->port);
  // A device server that serves one connection at a time may still be ending the last
  // one (a port closed and opened again at once): it then closes the new connection
  // before the far port is set up, and connecting again a little later succeeds.
  const Clock::time_point give_up = Clock::now() + kConnectTimeout;
  for (;;) {
    if (!connect_to(*address, error)) return false;
    telnet_ = address->kind == NetworkAddress::Kind::rfc2217;
    codec_ = TelnetCodec();
    pending_.clear();
    hung_up_ = false;
    closed_by_server_ = false;
    if (!telnet_ || set_up_port(s, error)) return true;
    if (!closed_by_server_ || Clock::now() + kRetryPause >= give_up) return false;
    std::this_thread::sleep_for(kRetryPause);
  }
}

bool NetTransport::connect_to(const NetworkAddress &a, std::string &error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo *list = nullptr;
  const std::string service = std::to_string(a.port);
  if (const int rc = ::getaddrinfo(a.host.c_str(), service.c_str(), &hints, &list); rc != 0 || list == nullptr) {
#ifdef _WIN32
    const std::string why = net::error_text(rc);
#else
    const std::string why = ::gai_strerror(rc);
#endif
    return fail(error, where_ + ": unknown host \"" + a.host + "\" (" + why + ")");
  }
  const Clock::time_point deadline = Clock::now() + kConnectTimeout;
  std::string last = "no address to connect to";
  for (const addrinfo *ai = list; ai != nullptr; ai = ai->ai_next) {
    const net::SocketHandle s = ::socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
    if (s == net::kNoSocket) {
      last = net::error_text(net::last_error());
      continue;
    }
    if (!net::set_non_blocking(s)) {
      last = net::error_text(net::last_error());
      net::close_socket(s);
      continue;
    }
    int rc = ::connect(s, ai->ai_addr, static_cast<socklen_t>(ai->ai_addrlen));
    int err = rc == 0 ? 0 : net::last_error();
    if (rc != 0 && net::connect_pending(err)) {
      const int ready = net::wait_socket(s, true, ms_left(deadline));
      if (ready == 0) {
        net::close_socket(s);
        freeaddrinfo(list);
        return fail(error, where_ + ": no connection within " + std::to_string(kConnectTimeout.count() / 1000) + " s");
      }
      int so_error = 0;
      socklen_t len = sizeof so_error;
      err = ready < 0 ? net::last_error() : 0;
      if (ready > 0 && ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&so_error), &len) != 0) {
        err = net::last_error();
      } else if (ready > 0) {
        err = so_error;
      }
    }
    if (err != 0) {
      last = net::error_text(err);
      net::close_socket(s);
      continue;
    }
    // Each frame and handshake byte goes out at once, not held back to join the next.
    int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
    ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char *>(&on), sizeof on);
#ifndef _WIN32
    // Not inherited by a program this one starts.
    ::fcntl(s, F_SETFD, FD_CLOEXEC);
#endif
    socket_ = s;
    freeaddrinfo(list);
    return true;
  }
  freeaddrinfo(list);
  return fail(error, where_ + ": cannot connect (" + last + ")");
}

bool NetTransport::set_up_port(const LineSettings &s, std::string &error) {
  const Clock::time_point deadline = Clock::now() + kConnectTimeout;
  const std::string who = "rfc2217://" + where_;
  // Reads until done() holds, sending the replies the server is owed; false on the
  // server's end, a failure or the deadline, with the reason in error.
  const auto await = [&](const auto &done, const char *what) {
    std::uint8_t buffer[512];
    while (!done()) {
      if (!flush_pending()) {
        closed_by_server_ = true;
        return fail(error, who + ": connection closed by the server " + what);
      }
      const int ready = net::wait_socket(socket_, !pending_.empty(), ms_left(deadline));
      if (ready == 0) return fail(error, who + ": no answer " + what + " within 3 s");
      if (ready < 0) return fail(error, who + ": " + net::error_text(net::last_error()));
      if (!pending_.empty()) continue;
      const long n = net::recv_some(socket_, buffer, sizeof buffer);
      if (n == 0) {
        closed_by_server_ = true;
        return fail(error, who + ": connection closed by the server " + what);
      }
      if (n < 0) {
        const int e = net::last_error();
        if (net::would_block(e)) continue;
        closed_by_server_ = net::connection_lost(e);
        return fail(error, who + ": " + net::error_text(e) + " " + what);
      }
      data_.clear();
      codec_.receive(buffer, static_cast<std::size_t>(n), data_, pending_);
    }
    return true;
  };

  codec_.start(pending_);
  using State = TelnetCodec::State;
  if (!await([&] { return codec_.ours(telnet::kComPort) != State::asking; }, "to the COM port option")) return false;
  if (codec_.ours(telnet::kComPort) != State::yes) {
    return fail(error, who + ": the server refuses the COM port option (is it a plain TCP port? use socket://)");
  }
  TelnetCodec::set_baud_rate(s.baud, pending_);
  TelnetCodec::set_byte(telnet::kSetDataSize, s.byte_size, pending_);
  TelnetCodec::set_byte(telnet::kSetParity, parity_code(s.parity), pending_);
  TelnetCodec::set_byte(telnet::kSetStopSize, stop_code(s.stop_bits), pending_);
  // Flow control, then DTR and RTS on, as the serial port leaves them; the server need
  // not confirm these.
  TelnetCodec::set_byte(telnet::kSetControl, flow_code(s.flow), pending_);
  TelnetCodec::set_byte(telnet::kSetControl, 8, pending_);
  TelnetCodec::set_byte(telnet::kSetControl, 11, pending_);
  const TelnetCodec::Answers &a = codec_.answers();
  if (!await([&] { return a.baud && a.data_size && a.parity && a.stop_size; }, "to the line settings")) return false;

  std::string refused;
  const auto mismatch = [&](const std::string &what, const std::string &asked, const std::string &got) {
    refused += (refused.empty() ? "" : "; ") + what + " " + asked + " refused (the server set " + got + ")";
  };
  if (*a.baud != s.baud) mismatch("baud rate", std::to_string(s.baud), std::to_string(*a.baud));
  if (*a.data_size != s.byte_size) mismatch("byte size", std::to_string(s.byte_size), std::to_string(*a.data_size));
  if (*a.parity != parity_code(s.parity)) mismatch("parity", parity_name(parity_code(s.parity)), parity_name(*a.parity));
  if (*a.stop_size != stop_code(s.stop_bits)) mismatch("stop bits", stop_name(stop_code(s.stop_bits)), stop_name(*a.stop_size));
  if (!refused.empty()) return fail(error, who + ": " + refused);

  // Both of the far port's buffers emptied, as opening a serial port purges it; whatever
  // data came before this is dropped with them.
  TelnetCodec::set_byte(telnet::kPurgeData, 3, pending_);
  if (!flush_pending()) return fail(error, who + ": connection closed by the server");
  data_.clear();
  return true;
}

#ifdef _WIN32
HANDLE NetTransport::wait_event(bool &ready) {
  ready = false;
  if (socket_ == net::kNoSocket || hung_up_) return nullptr;
  if (event_ == nullptr) {
    event_ = ::WSACreateEvent();
    if (event_ == WSA_INVALID_EVENT) {
      event_ = nullptr;
      ready = true;  // no event to sleep on: the socket is polled by each wake-up instead
      return nullptr;
    }
    ::WSAEventSelect(socket_, event_, FD_READ | FD_WRITE | FD_CLOSE);
  }
  // Collecting the events resets the event; what they say is acted on at once.
  WSANETWORKEVENTS happened{};
  if (::WSAEnumNetworkEvents(socket_, event_, &happened) == 0 && happened.lNetworkEvents != 0) ready = true;
  return event_;
}
#endif

void NetTransport::close() {
#ifdef _WIN32
  if (event_ != nullptr) {
    if (socket_ != net::kNoSocket) ::WSAEventSelect(socket_, nullptr, 0);
    ::WSACloseEvent(event_);
    event_ = nullptr;
  }
#endif
  if (socket_ == net::kNoSocket) return;
  net::close_socket(socket_);
  socket_ = net::kNoSocket;
  pending_.clear();
}

bool NetTransport::flush_pending() {
  std::size_t done = 0;
  while (done < pending_.size()) {
    const long w = net::send_some(socket_, pending_.data() + done, pending_.size() - done);
    if (w < 0) {
      const int e = net::last_error();
      if (net::would_block(e)) break;
      hung_up_ = true;
      return false;
    }
    done += static_cast<std::size_t>(w);
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
  return true;
}

long NetTransport::write(const std::uint8_t *bytes, std::size_t n) {
  if (socket_ == net::kNoSocket || hung_up_) return -1;
  if (!telnet_) {
    const long w = net::send_some(socket_, bytes, n);
    if (w >= 0) return w;
    const int e = net::last_error();
    if (net::would_block(e)) return 0;
    hung_up_ = true;
    return -1;
  }
  // Telnet doubles 0xFF, so a block is taken whole or not at all: what the socket does
  // not take at once waits here and goes first next time.
  if (!flush_pending()) return -1;
  if (!pending_.empty()) return 0;
  TelnetCodec::encode(bytes, n, pending_);
  if (!flush_pending()) return -1;
  return static_cast<long>(n);
}

bool NetTransport::output_empty() {
  if (socket_ == net::kNoSocket || hung_up_) return true;
  if (!pending_.empty()) flush_pending();
  return pending_.empty() || hung_up_;
}

long NetTransport::receive_into(std::uint8_t *buffer, std::size_t max) {
  for (;;) {
    const long n = net::recv_some(socket_, buffer, max);
    if (n == 0) return -1;
    if (n < 0) {
      const int e = net::last_error();
      return net::would_block(e) ? 0 : -1;
    }
    if (!telnet_) return n;
    data_.clear();
    replies_.clear();
    codec_.receive(buffer, static_cast<std::size_t>(n), data_, replies_);
    if (!replies_.empty()) {
      pending_.insert(pending_.end(), replies_.begin(), replies_.end());
      if (!flush_pending()) return -1;
    }
    // Decoding never lengthens: the data fit where the bytes came in.
    std::copy(data_.begin(), data_.end(), buffer);
    if (!data_.empty()) return static_cast<long>(data_.size());
    // Only Telnet commands came: look for data behind them before saying "none".
  }
}

long NetTransport::read(std::uint8_t *buffer, std::size_t max) {
  if (socket_ == net::kNoSocket || hung_up_ || max == 0) return 0;
  return receive_into(buffer, max);
}

}  // namespace tolvex
