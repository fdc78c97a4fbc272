#include "serial_ports.hpp"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include <tolvex/tolvex.h>

namespace tolvex::bench {

namespace fs = std::filesystem;

namespace {

std::string_view trimmed(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// First line of a sysfs attribute, trimmed; empty when it cannot be read.
std::string attribute(const fs::path &file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  return std::string(trimmed(line));
}

// Text of the call: the buffer grows until the path fits.
std::string resolve_text(const char *name, int &source) {
  std::string buffer(256, '\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    source = tolvex_resolve_port(name, buffer.data(), buffer.size());
    if (source != -1) {
      buffer.resize(source > 0 ? std::char_traits<char>::length(buffer.c_str()) : 0);
      return buffer;
    }
    buffer.assign(buffer.size() * 16, '\0');
  }
  source = 0;
  return {};
}

// Whether a line of ports.conf is the line of COMn.
bool is_line_of(std::string_view line, unsigned n) {
  line = trimmed(line);
  const std::size_t eq = line.find('=');
  if (line.empty() || line.front() == '#' || eq == std::string_view::npos) return false;
  return trimmed(line.substr(0, eq)) == "COM" + std::to_string(n);
}

}  // namespace

PortMapping resolve_port_name(const std::string &name) {
  PortMapping mapping;
  mapping.device = resolve_text(name.c_str(), mapping.source);
  return mapping;
}

std::string mapping_source_text(const std::string &name, int source) {
  switch (source) {
    case TOLVEX_PORT_ENVIRONMENT: return "TOLVEX_" + name;
    case TOLVEX_PORT_CONFIG: return "ports.conf";
    case TOLVEX_PORT_FALLBACK: return "default";
    case TOLVEX_PORT_PATH: return "path";
    default: return "unknown";
  }
}

std::string ports_config_file() {
  int source = 0;
  return resolve_text(nullptr, source);
}

std::string with_port_assignment(std::string_view text, unsigned n, std::string_view device) {
  const std::string line_of_n = "COM" + std::to_string(n) + "=" + std::string(device);
  std::string out;
  bool placed = device.empty();
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (is_line_of(line, n)) {
      if (placed) continue;  // a removal, or a second line of the same port
      out += line_of_n;
      placed = true;
    } else {
      out += line;
    }
    out += '\n';
  }
  if (!placed) out += line_of_n + "\n";
  return out;
}

std::string SerialDevice::description() const {
  if (usb_id.empty()) return "built-in port (" + driver + ")";
  std::string text = manufacturer;
  if (!product.empty()) text += (text.empty() ? "" : " ") + product;
  if (text.empty()) text = "USB serial adapter";
  return text + " (" + usb_id + ")";
}

std::vector<SerialDevice> detect_serial_devices(const std::string &root) {
  std::map<std::string, SerialDevice> found;
  const fs::path sys_root = fs::path(root + "/sys");
  std::error_code ec;
  for (const fs::directory_entry &entry : fs::directory_iterator(sys_root / "class/tty", ec)) {
    const fs::path tty = entry.path();
    const fs::path device_link = tty / "device";
    std::error_code e;
    if (!fs::exists(device_link / "driver", e)) continue;  // virtual consoles, pseudo-terminals
    // Serial-core drivers state the port type; 0 is a port slot with no hardware behind it.
    if (fs::exists(tty / "type", e) && attribute(tty / "type") == "0") continue;

    SerialDevice d;
    d.name = tty.filename().string();
    d.path = "/dev/" + d.name;
    d.driver = fs::read_symlink(device_link / "driver", e).filename().string();
    // Newer kernels put a serial-base "port" (below a "ctrl") between the tty and the
    // driver of the hardware; the hardware's driver is the one worth naming.
    fs::path hw = fs::canonical(device_link, e);
    for (int level = 0; level < 2 && !e && (d.driver == "port" || d.driver == "ctrl"); ++level) {
      hw = hw.parent_path();
      std::error_code le;
      const fs::path link = fs::read_symlink(hw / "driver", le);
      if (le) break;
      d.driver = link.filename().string();
    }
    e.clear();
    // A USB adapter's tty hangs below the interface; the USB device with its ids is
    // one or two folders up.
    fs::path up = fs::canonical(device_link, e);
    const fs::path sys_canonical = fs::canonical(sys_root, e);
    for (int level = 0; level < 4 && !e && !up.empty() && up != sys_canonical; ++level, up = up.parent_path()) {
      const std::string vendor = attribute(up / "idVendor");
      if (vendor.empty()) continue;
      d.usb_id = vendor + ":" + attribute(up / "idProduct");
      d.manufacturer = attribute(up / "manufacturer");
      d.product = attribute(up / "product");
      break;
    }
    found.emplace(d.name, std::move(d));
  }

  const fs::path by_id_dir = fs::path(root + "/dev/serial/by-id");
  std::vector<fs::path> links;
  for (const fs::directory_entry &entry : fs::directory_iterator(by_id_dir, ec)) links.push_back(entry.path());
  std::sort(links.begin(), links.end());
  for (const fs::path &link : links) {
    std::error_code e;
    const fs::path target = fs::read_symlink(link, e);
    if (e) continue;
    const auto it = found.find(target.filename().string());
    if (it != found.end()) it->second.by_id.push_back("/dev/serial/by-id/" + link.filename().string());
  }

  std::vector<SerialDevice> devices;
  for (auto &[name, d] : found) devices.push_back(std::move(d));
  return devices;
}

std::string device_root_from_environment() {
  const char *root = std::getenv("TOLVEX_DEVICE_ROOT");
  return root != nullptr ? root : "";
}

std::vector<unsigned> com_numbers_for(const SerialDevice &device, unsigned max_com, const std::string &root) {
  std::vector<unsigned> numbers;
  std::error_code e;
  const fs::path own = root.empty() ? fs::canonical(device.path, e) : fs::path();
  for (unsigned n = 1; n <= max_com; ++n) {
    const PortMapping m = resolve_port_name("COM" + std::to_string(n));
    const fs::path mapped = fs::path(m.device).lexically_normal();
    bool same = mapped == device.path ||
                std::find(device.by_id.begin(), device.by_id.end(), mapped.string()) != device.by_id.end();
    if (!same && !own.empty()) {
      std::error_code ec;
      same = fs::canonical(mapped, ec) == own && !ec;
    }
    if (same) numbers.push_back(n);
  }
  return numbers;
}

std::string permission_hint(const std::string &device) {
  struct stat st {};
  if (device.empty() || ::stat(device.c_str(), &st) != 0) return {};
  const group *g = ::getgrgid(st.st_gid);
  const std::string name = g != nullptr ? g->gr_name : std::to_string(st.st_gid);
  return device + " belongs to the group \"" + name + "\". Add your user to it (sudo usermod -aG " + name +
         " $USER), then log out and log in again: a new group membership counts only from a new login.";
}

}  // namespace tolvex::bench
