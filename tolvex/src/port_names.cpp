#include "port_names.hpp"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>

#include "messages.hpp"
#include "network_address.hpp"
#include "tolvex/tolvex.h"

namespace tolvex {

namespace {

std::string_view trimmed(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

const char *non_empty_env(const char *variable) {
  const char *value = std::getenv(variable);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

// Reads the file whole; empty when it is missing or unreadable (no file means no lines).
// Anything beyond 1 MiB is not a hand-written port list and is left unread.
std::string read_small_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text;
  char chunk[4096];
  while (text.size() < (1u << 20) && in.read(chunk, sizeof chunk).gcount() > 0) {
    text.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  return text;
}

// Each problem is said once per process, however often the file is read again.
void report_once(const std::string &path, const std::vector<std::string> &problems) {
  static std::mutex lock;
  static std::set<std::string> said;
  for (const std::string &problem : problems) {
    const std::string text = path + ": " + problem + " (line ignored)";
    bool is_new = false;
    {
      std::lock_guard<std::mutex> guard(lock);
      is_new = said.insert(text).second;
    }
    if (is_new) show_message(text.c_str());
  }
}

// What a ports.conf line may name: the platform's device paths, or a network port.
#ifdef _WIN32
constexpr const char *kDeviceForms = "\\\\.\\NAME, socket://HOST:PORT or rfc2217://HOST:PORT";
bool is_device_path(const std::string &device) { return device.rfind("\\\\.\\", 0) == 0; }
#else
constexpr const char *kDeviceForms = "an absolute path, socket://HOST:PORT or rfc2217://HOST:PORT";
bool is_device_path(const std::string &device) { return !device.empty() && device.front() == '/'; }
#endif

}  // namespace

PortsConfig parse_ports_config(std::string_view text) {
  PortsConfig config;
  unsigned line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const std::size_t end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::string_view line = trimmed(raw);
    if (line.empty() || line.front() == '#') continue;

    const std::string where = "line " + std::to_string(line_number) + ": ";
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      config.problems.push_back(where + "expected COMn=DEVICE, got \"" + std::string(line) + "\"");
      continue;
    }
    const std::string name(trimmed(line.substr(0, eq)));
    const std::string device(trimmed(line.substr(eq + 1)));
    const std::optional<unsigned> n = com_number(name.c_str());
    if (!n) {
      config.problems.push_back(where + "\"" + name + "\" is not a port name COMn");
    } else if (is_network_port(device)) {
      std::string why;
      if (!parse_network_port(device, why)) {
        config.problems.push_back(where + why);
      } else if (!config.devices.emplace(*n, device).second) {
        config.problems.push_back(where + name + " is already assigned on an earlier line");
      }
    } else if (!is_device_path(device)) {
      config.problems.push_back(where + "device \"" + device + "\" is not " + kDeviceForms);
    } else if (!config.devices.emplace(*n, device).second) {
      config.problems.push_back(where + name + " is already assigned on an earlier line");
    }
  }
  return config;
}

std::string ports_config_path() {
#ifdef _WIN32
  if (const char *appdata = non_empty_env("APPDATA")) return std::string(appdata) + "\\tolvex\\ports.conf";
  return {};
#endif
  if (const char *xdg = non_empty_env("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    return std::string(xdg) + "/tolvex/ports.conf";
  }
  if (const char *home = non_empty_env("HOME")) return std::string(home) + "/.config/tolvex/ports.conf";
  return {};
}

std::optional<unsigned> com_number(const char *name) {
  if (name == nullptr || std::strncmp(name, "COM", 3) != 0) return std::nullopt;
  const char *digits = name + 3;
  if (*digits == '\0' || *digits == '0' || std::strlen(digits) > 3) return std::nullopt;
  unsigned n = 0;
  for (const char *p = digits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return std::nullopt;
    n = n * 10 + static_cast<unsigned>(*p - '0');
  }
  return n;
}

std::optional<ResolvedPort> resolve_port(const char *name) {
  if (name == nullptr || name[0] == '\0') return std::nullopt;
#ifdef _WIN32
  // The system names its ports itself: "COMn" opens \\.\COMn, the form that reaches COM10
  // and above too, and a name already in that form is used as it stands.
  if (std::strncmp(name, "\\\\.\\", 4) == 0 || is_network_port(name)) return ResolvedPort{name, PortSource::path};
#else
  if (name[0] == '/' || is_network_port(name)) return ResolvedPort{name, PortSource::path};
#endif
  const std::optional<unsigned> n = com_number(name);
  if (!n) return std::nullopt;

  const std::string variable = std::string("TOLVEX_") + name;
  if (const char *mapped = non_empty_env(variable.c_str())) return ResolvedPort{mapped, PortSource::environment};

  if (const std::string path = ports_config_path(); !path.empty()) {
    const PortsConfig config = parse_ports_config(read_small_file(path));
    report_once(path, config.problems);
    if (const auto it = config.devices.find(*n); it != config.devices.end()) {
      return ResolvedPort{it->second, PortSource::config};
    }
  }
#ifdef _WIN32
  return ResolvedPort{std::string("\\\\.\\") + name, PortSource::fallback};
#else
  return ResolvedPort{"/dev/ttyS" + std::to_string(*n - 1), PortSource::fallback};
#endif
}

std::optional<std::string> device_path_for(const char *name) {
  std::optional<ResolvedPort> resolved = resolve_port(name);
  if (!resolved) return std::nullopt;
  return std::move(resolved->device);
}

}  // namespace tolvex

// The sources hand out their values as the header's TOLVEX_PORT_* codes.
static_assert(static_cast<int>(tolvex::PortSource::path) == TOLVEX_PORT_PATH);
static_assert(static_cast<int>(tolvex::PortSource::environment) == TOLVEX_PORT_ENVIRONMENT);
static_assert(static_cast<int>(tolvex::PortSource::config) == TOLVEX_PORT_CONFIG);
static_assert(static_cast<int>(tolvex::PortSource::fallback) == TOLVEX_PORT_FALLBACK);

extern "C" TOLVEX_API int tolvex_resolve_port(const char *name, char *buffer, size_t size) {
  std::string text;
  int source = TOLVEX_PORT_CONFIG_FILE;
  if (name == nullptr) {
    text = tolvex::ports_config_path();
  } else {
    const std::optional<tolvex::ResolvedPort> resolved = tolvex::resolve_port(name);
    if (!resolved) return 0;
    text = resolved->device;
    source = static_cast<int>(resolved->source);
  }
  if (buffer == nullptr || size <= text.size()) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return -1;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return source;
}
