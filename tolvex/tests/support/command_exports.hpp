// The names of the exports that send a terminal command (those with a code in the export
// table); port, exchange and library functions are left out.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace tolvex::test {

inline std::set<std::string> command_exports() {
  std::set<std::string> names;
#define TOLVEX_EXPORT(ordinal, name, args, code, purpose) \
  if (std::string_view(code) != "") names.insert(#name);
#define TOLVEX_EXTRA(name, purpose)
#include "../../src/export_table.inc"
#undef TOLVEX_EXPORT
#undef TOLVEX_EXTRA
  return names;
}

}  // namespace tolvex::test
