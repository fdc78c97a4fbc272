#include "port_names.hpp"

#include <cstdlib>
#include <cstring>

namespace tolvex {

std::optional<std::string> device_path_for(const char *name) {
  if (name == nullptr || name[0] == '\0') return std::nullopt;
  if (name[0] == '/') return std::string(name);
  if (std::strncmp(name, "COM", 3) != 0) return std::nullopt;
  const char *digits = name + 3;
  if (*digits == '\0' || *digits == '0' || std::strlen(digits) > 3) return std::nullopt;
  unsigned n = 0;
  for (const char *p = digits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return std::nullopt;
    n = n * 10 + static_cast<unsigned>(*p - '0');
  }
  const std::string var = std::string("TOLVEX_") + name;
  if (const char *mapped = std::getenv(var.c_str()); mapped != nullptr && mapped[0] != '\0') {
    return std::string(mapped);
  }
  return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace tolvex
