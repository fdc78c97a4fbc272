#include "port_open.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>
#include <thread>

#include <tolvex/tolvex.h>

#include "setting.hpp"
#include "text.hpp"
#ifndef _WIN32
#include "serial_ports.hpp"
#endif

namespace tolvex::bench {

namespace fs = std::filesystem;

namespace {

constexpr std::wstring_view kSetupError = L"Serial port setup error!\n\n확인후 재시도 하십시요.";

std::string errno_text(int error) {
  return std::generic_category().message(error != 0 ? error : EIO);
}

// Writes the whole content into a freshly opened stream; the error text, or empty.
std::string write_whole(const fs::path &path, std::string_view content, std::ios::openmode extra) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::out | extra);
  if (!out.is_open()) return errno_text(errno);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  return out.fail() ? errno_text(errno) : std::string();
}

// A name beside `path` that is not taken yet.
fs::path temporary_beside(const fs::path &path) {
  static std::mt19937_64 random{std::random_device{}()};
  for (;;) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%012llx.tmp", static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    fs::path candidate = path;
    candidate += suffix;
    std::error_code ec;
    if (!fs::exists(candidate, ec)) return candidate;
  }
}

}  // namespace

std::string replace_file(const fs::path &path, std::string_view content) {
  const fs::path temp = temporary_beside(path);
  errno = 0;
  std::ofstream probe(temp, std::ios::binary | std::ios::out);
  if (!probe.is_open()) {
    const int error = errno;
    // A folder that takes no new file: an existing file is rewritten where it is.
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) return write_whole(path, content, std::ios::trunc);
    return errno_text(error);
  }
  probe.close();
  std::string error = write_whole(temp, content, std::ios::trunc);
  std::error_code ec;
  if (error.empty()) {
    // The record keeps the permissions of the file it replaces.
    const fs::file_status old = fs::status(path, ec);
    if (!ec && fs::is_regular_file(old)) fs::permissions(temp, old.permissions(), ec);
    fs::rename(temp, path, ec);
    if (ec) error = ec.message();
  }
  if (!error.empty()) fs::remove(temp, ec);
  return error;
}

std::string port_cfg_text(int port_index, std::string_view baud_text, int data_bits, int stop_bits, int parity,
                          int control) {
  char buffer[256];
  const std::string baud(baud_text.substr(0, 32));
  const int n = std::snprintf(buffer, sizeof buffer,
                              "PORT: %d\nBAUDRATE: %s\nDATA_BIT: %d\nSTOP_BIT: %d\nPARITY_BIT: %d\nCONTROL: %d",
                              port_index, baud.c_str(), data_bits, stop_bits, parity, control);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(std::min(n, static_cast<int>(sizeof buffer) - 1)))
               : std::string();
}

int open_port(PageView &view, int port_index, int control, int parity, int data_bits, int stop_bits,
              std::string_view baud_text) {
  DisablePort();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  const std::string name = port_name_for_index(port_index);
  const std::uint32_t rate = baud_from_text(baud_text);

  if (EnablePort(name.c_str(), static_cast<std::uint8_t>(data_bits), static_cast<std::uint8_t>(parity),
                 static_cast<std::uint8_t>(stop_bits), rate, static_cast<std::uint8_t>(control)) == 0) {
    const char *why = tolvex_port_error();
    std::string detail = why != nullptr ? why : "";
#ifndef _WIN32
    // Linux devices refuse by group membership: say which group to join.
    if (detail.find("Permission denied") != std::string::npos) {
      const std::string hint = permission_hint(resolve_port_name(name).device);
      if (!hint.empty()) detail += "\n\n" + hint;
    }
#endif
    view.warning(kSetupError, to_wide(detail));
    return 0;
  }

  // The port is open whatever becomes of the record; a record that cannot be written
  // is said once, and the old one stays.
  const std::string error =
      replace_file("Port.cfg", port_cfg_text(port_index, baud_text, data_bits, stop_bits, parity, control));
  if (!error.empty()) view.warning(L"Port.cfg: " + to_wide(error), L"");
  return 1;
}

}  // namespace tolvex::bench
