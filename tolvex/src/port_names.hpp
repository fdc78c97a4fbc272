// Port names: how a name given to EnablePort becomes the device that is opened.
#pragma once

#include <optional>
#include <string>

namespace tolvex {

// Maps a port name to a device path: a name beginning with "/" is used as it stands;
// "COMn" (n >= 1) is the value of the environment variable TOLVEX_COMn when set, else
// /dev/ttyS<n-1>. Any other name gives nullopt.
std::optional<std::string> device_path_for(const char *name);

}  // namespace tolvex
