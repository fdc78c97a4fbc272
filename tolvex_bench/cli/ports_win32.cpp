#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "ports.hpp"
#include "session.hpp"

namespace tolvex::cli {

namespace {

// n of a DOS device name "COMn", or 0 for any other name.
unsigned com_number(const std::string &name) {
  if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0 || name[3] == '0') return 0;
  unsigned n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + static_cast<unsigned>(name[i] - '0');
  }
  return n;
}

// Every DOS device name the system knows, as QueryDosDevice lists them.
std::vector<std::string> dos_device_names() {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const DWORD n = ::QueryDosDeviceA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n != 0) {
      std::vector<std::string> names;
      for (const char *p = buffer.data(); p < buffer.data() + n && *p != '\0'; p += std::char_traits<char>::length(p) + 1) {
        names.emplace_back(p);
      }
      return names;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= (1u << 24)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::string target_of(const std::string &name) {
  char target[1024] = {};
  return ::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0 ? std::string(target) : std::string();
}

}  // namespace

int list_ports(std::ostream &out, const std::string &) {
  std::vector<std::pair<unsigned, std::string>> ports;
  for (const std::string &name : dos_device_names()) {
    if (const unsigned n = com_number(name); n != 0) ports.emplace_back(n, name);
  }
  std::sort(ports.begin(), ports.end());
  if (ports.empty()) {
    out << "No COM ports found.\n";
    return kExitOk;
  }
  out << "COM ports:\n";
  for (const auto &[n, name] : ports) {
    const std::string padded = name.size() < 8 ? name + std::string(8 - name.size(), ' ') : name + " ";
    out << "  " << padded << target_of(name) << "\n";
  }
  return kExitOk;
}

}  // namespace tolvex::cli
