// The serial port: raw line settings, exclusive open, and reads and writes that never
// wait. On Windows a COM port opened for overlapped I/O; elsewhere a POSIX terminal device.
#pragma once

#include <string>

#include "transport.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

namespace tolvex {

#ifdef _WIN32

class SerialTransport : public Transport {
 public:
  SerialTransport();
  ~SerialTransport() override;
  SerialTransport(const SerialTransport &) = delete;
  SerialTransport &operator=(const SerialTransport &) = delete;

  bool open(const std::string &path, const LineSettings &settings, std::string &error) override;
  void close() override;
  bool is_open() const override { return handle_ != INVALID_HANDLE_VALUE; }
  long write(const std::uint8_t *bytes, std::size_t n) override;
  bool output_empty() override;
  long read(std::uint8_t *buffer, std::size_t max) override;
  int readable_fd() const override { return -1; }
  bool hung_up() const override { return hung_up_; }
  void set_hung_up() override { hung_up_ = true; }

  // For the I/O thread's wait, under the port's lock. The event signalled when a byte
  // arrives (a one-byte read is kept pending for it), or null when there is nothing to
  // wait for; ready is set when bytes, or a failure, are already here.
  HANDLE read_event(bool &ready);
  // The event of the write in progress, signalled when it is done; null when none is.
  HANDLE write_event() const { return write_pending_ ? write_ov_.hEvent : nullptr; }
  // True once an operation on the port failed: the next read reports the line gone.
  bool broken() const { return broken_; }

 private:
  bool fail(std::string &error, const std::string &text);
  // True once the one-byte read (or the write) in progress is no longer in progress.
  bool finish_first_read();
  bool finish_write();

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  OVERLAPPED first_ov_{};  // the pending one-byte read the I/O thread sleeps on
  OVERLAPPED read_ov_{};
  OVERLAPPED write_ov_{};
  std::uint8_t first_byte_ = 0;
  bool first_pending_ = false;
  bool have_first_ = false;  // first_byte_ holds a byte not yet handed over
  bool write_pending_ = false;
  bool hung_up_ = false;
  bool broken_ = false;
  std::uint8_t write_buffer_[4096] = {};
};

#else

class SerialTransport : public Transport {
 public:
  SerialTransport() = default;
  ~SerialTransport() override { close(); }
  SerialTransport(const SerialTransport &) = delete;
  SerialTransport &operator=(const SerialTransport &) = delete;

  bool open(const std::string &path, const LineSettings &settings, std::string &error) override;
  void close() override;
  bool is_open() const override { return fd_ >= 0; }
  long write(const std::uint8_t *bytes, std::size_t n) override;
  bool output_empty() override;
  long read(std::uint8_t *buffer, std::size_t max) override;
  int readable_fd() const override { return fd_; }
  bool hung_up() const override { return hung_up_; }
  void set_hung_up() override { hung_up_ = true; }

 private:
  bool fail(std::string &error, const std::string &text);

  int fd_ = -1;
  bool hung_up_ = false;
  bool queue_less_ = false;  // a pseudo-terminal: written bytes never wait in an output queue
};

#endif

// A failed open: the reason, and the port closed again.
inline bool SerialTransport::fail(std::string &error, const std::string &text) {
  error = text;
  close();
  return false;
}

}  // namespace tolvex
