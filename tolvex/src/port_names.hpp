// Port names: how a name given to EnablePort becomes the device that is opened.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvex {

// Where a resolved device path came from.
enum class PortSource {
  path = 1,         // the name was a device path and is used as it stands
  environment = 2,  // COMn from the environment variable TOLVEX_COMn
  config = 3,       // COMn from a COMn=DEVICE line of ports.conf
  fallback = 4,     // COMn as /dev/ttyS<n-1>
};

struct ResolvedPort {
  std::string device;
  PortSource source = PortSource::fallback;
};

// The contents of ports.conf: lines COMn=DEVICE (blanks around either side allowed),
// blank lines and lines starting with '#'. DEVICE is an absolute path or a network port,
// socket://HOST:PORT or rfc2217://HOST:PORT. Any other line, any other device and a
// second line for the same COMn are problems ("line 3: ...") and are otherwise ignored.
struct PortsConfig {
  std::map<unsigned, std::string> devices;  // by n of COMn
  std::vector<std::string> problems;
};

PortsConfig parse_ports_config(std::string_view text);

// $XDG_CONFIG_HOME/tolvex/ports.conf, or ~/.config/tolvex/ports.conf when that variable
// is unset, empty or not absolute. Empty when neither it nor $HOME gives a folder.
std::string ports_config_path();

// n of a name "COMn" (n from 1 to 999, no leading zero); nullopt for any other name.
std::optional<unsigned> com_number(const char *name);

// Maps a port name to a device: a name beginning with "/", "socket://" or "rfc2217://"
// is used as it stands; "COMn"
// is $TOLVEX_COMn when set and not empty, else the COMn line of ports.conf, else
// /dev/ttyS<n-1>. Any other name gives nullopt. Problems in ports.conf go to the
// library's messages, each once per process.
std::optional<ResolvedPort> resolve_port(const char *name);

// The device path alone (what EnablePort opens).
std::optional<std::string> device_path_for(const char *name);

}  // namespace tolvex
