#include <algorithm>
#include <cstring>

#include "serial_transport.hpp"

namespace tolvex {
namespace {

std::string system_text(DWORD code) {
  char text[256] = {};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                   sizeof text, nullptr);
  std::string s(text, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
  return s.empty() ? "error " + std::to_string(code) : s;
}

// The line configuration: the caller's settings, DTR held on, and the four flow-control modes.
void configure(DCB &dcb, const LineSettings &s) {
  dcb.BaudRate = s.baud;
  dcb.ByteSize = s.byte_size;
  dcb.Parity = s.parity;  // NOPARITY 0, ODDPARITY 1, EVENPARITY 2, MARKPARITY 3, SPACEPARITY 4
  dcb.StopBits = s.stop_bits;  // ONESTOPBIT 0, ONE5STOPBITS 1, TWOSTOPBITS 2
  dcb.fBinary = TRUE;
  dcb.fParity = TRUE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fNull = FALSE;
  dcb.XonLim = 1000;
  dcb.XoffLim = 1000;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  const bool software = s.flow == 1 || s.flow == 3;
  const bool hardware = s.flow == 2 || s.flow == 3;
  dcb.fOutxCtsFlow = hardware;
  dcb.fRtsControl = s.flow == 2 ? RTS_CONTROL_ENABLE : s.flow == 3 ? RTS_CONTROL_TOGGLE : RTS_CONTROL_DISABLE;
  dcb.fOutX = software;
  dcb.fInX = software;
  dcb.fTXContinueOnXoff = software;
}

}  // namespace

SerialTransport::SerialTransport() {
  // Manual-reset events, one per kind of overlapped operation; they live as long as this
  // object, so a wait on them never meets a closed handle.
  first_ov_.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  read_ov_.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  write_ov_.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

SerialTransport::~SerialTransport() {
  close();
  if (first_ov_.hEvent != nullptr) ::CloseHandle(first_ov_.hEvent);
  if (read_ov_.hEvent != nullptr) ::CloseHandle(read_ov_.hEvent);
  if (write_ov_.hEvent != nullptr) ::CloseHandle(write_ov_.hEvent);
}

bool SerialTransport::open(const std::string &path, const LineSettings &s, std::string &error) {
  close();
  if (s.baud == 0) return fail(error, "baud rate 0 not supported");
  if (s.byte_size < 5 || s.byte_size > 8) {
    return fail(error, "byte size " + std::to_string(s.byte_size) + " not supported");
  }
  if (s.parity > 4) return fail(error, "parity " + std::to_string(s.parity) + " not supported");
  // One and a half stop bits exist only with 5 data bits.
  if (s.stop_bits > 2 || (s.stop_bits == 1 && s.byte_size != 5)) {
    return fail(error, "stop bits code " + std::to_string(s.stop_bits) + " not supported with " +
                           std::to_string(s.byte_size) + " data bits");
  }
  if (first_ov_.hEvent == nullptr || read_ov_.hEvent == nullptr || write_ov_.hEvent == nullptr) {
    return fail(error, "CreateEvent failed");
  }

  handle_ = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                          nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    const DWORD e = ::GetLastError();
    return fail(error, path + ": " + (e == ERROR_ACCESS_DENIED ? std::string("port is in use") : system_text(e)));
  }
  const auto refused = [&] { return fail(error, path + ": " + system_text(::GetLastError())); };
  if (!::SetupComm(handle_, 4096, 4096)) return refused();
  ::PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  // A read hands over what the driver holds at once; when it holds nothing, a read stays
  // pending until the first byte comes (or a second passes). The I/O thread sleeps on a
  // pending one-byte read; every other read asks only for bytes already held.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = 1000;
  timeouts.WriteTotalTimeoutMultiplier = 19200 / s.baud;
  timeouts.WriteTotalTimeoutConstant = 1000;
  if (!::SetCommTimeouts(handle_, &timeouts)) return refused();
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(handle_, &dcb)) return refused();
  configure(dcb, s);
  if (!::SetCommState(handle_, &dcb)) return refused();
  hung_up_ = false;
  broken_ = false;
  return true;
}

void SerialTransport::close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  // Operations in progress end before their buffers and the handle go.
  ::CancelIoEx(handle_, nullptr);
  DWORD n = 0;
  if (first_pending_) ::GetOverlappedResult(handle_, &first_ov_, &n, TRUE);
  if (write_pending_) ::GetOverlappedResult(handle_, &write_ov_, &n, TRUE);
  first_pending_ = write_pending_ = have_first_ = false;
  ::PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  ::CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

// An adapter unplugged fails every operation (access denied, bad command, aborted, ...):
// no failure of a read or a write is one a later call could get past, so any failure
// marks the port broken and the next read reports the line gone.

bool SerialTransport::finish_first_read() {
  if (!first_pending_) return true;
  DWORD n = 0;
  if (!::GetOverlappedResult(handle_, &first_ov_, &n, FALSE)) {
    if (::GetLastError() == ERROR_IO_INCOMPLETE) return false;
    broken_ = true;
  }
  first_pending_ = false;
  have_first_ = n == 1;
  return true;
}

long SerialTransport::read(std::uint8_t *buffer, std::size_t max) {
  if (!is_open() || hung_up_) return 0;
  // While the one-byte read is pending nothing has come: it takes the first byte.
  if (!finish_first_read() || max == 0) return 0;
  std::size_t got = 0;
  if (have_first_) {
    buffer[got++] = first_byte_;
    have_first_ = false;
  }
  // Asks for no more than the driver holds, so the read completes at once.
  DWORD errors = 0;
  COMSTAT status{};
  if (!broken_ && !::ClearCommError(handle_, &errors, &status)) broken_ = true;
  const DWORD want = broken_ ? 0 : static_cast<DWORD>(std::min<std::size_t>(max - got, status.cbInQue));
  if (want > 0) {
    DWORD n = 0;
    if (!::ReadFile(handle_, buffer + got, want, &n, &read_ov_) &&
        (::GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(handle_, &read_ov_, &n, TRUE))) {
      broken_ = true;
    }
    got += n;
  }
  if (got == 0 && broken_) return -1;
  return static_cast<long>(got);
}

HANDLE SerialTransport::read_event(bool &ready) {
  ready = false;
  if (!is_open() || hung_up_) return nullptr;
  if (!finish_first_read()) return first_ov_.hEvent;
  if (have_first_ || broken_) {
    ready = true;
    return nullptr;
  }
  DWORD n = 0;
  if (::ReadFile(handle_, &first_byte_, 1, &n, &first_ov_)) {
    have_first_ = n == 1;
    ready = true;  // a byte, or a read that ended at once: either way, read
  } else if (::GetLastError() == ERROR_IO_PENDING) {
    first_pending_ = true;
  } else {
    broken_ = true;
    ready = true;
  }
  return first_pending_ ? first_ov_.hEvent : nullptr;
}

bool SerialTransport::finish_write() {
  if (!write_pending_) return true;
  DWORD n = 0;
  if (!::GetOverlappedResult(handle_, &write_ov_, &n, FALSE)) {
    const DWORD e = ::GetLastError();
    if (e == ERROR_IO_INCOMPLETE) return false;
    write_pending_ = false;
    broken_ = true;
    return true;
  }
  write_pending_ = false;
  return true;
}

long SerialTransport::write(const std::uint8_t *bytes, std::size_t n) {
  if (!is_open() || hung_up_) return -1;
  if (!finish_write()) return 0;  // the last block is still on its way
  if (broken_) {
    hung_up_ = true;
    return -1;
  }
  const std::size_t k = std::min(n, sizeof write_buffer_);
  std::memcpy(write_buffer_, bytes, k);
  if (!::WriteFile(handle_, write_buffer_, static_cast<DWORD>(k), nullptr, &write_ov_)) {
    const DWORD e = ::GetLastError();
    if (e != ERROR_IO_PENDING) {
      broken_ = true;
      hung_up_ = true;
      return -1;
    }
    write_pending_ = true;
  }
  return static_cast<long>(k);
}

bool SerialTransport::output_empty() {
  if (!is_open()) return true;
  if (!finish_write()) return false;
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(handle_, &errors, &status)) {
    broken_ = true;
    return true;
  }
  return status.cbOutQue == 0;
}

}  // namespace tolvex
