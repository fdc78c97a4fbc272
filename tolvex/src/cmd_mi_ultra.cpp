// MIFARE Ultralight commands.
#include "command_pack.hpp"
#include "tolvex/tolvex.h"

using tolvex::CommandPack;

namespace {
constexpr std::size_t kPage = 4;
}

extern "C" TOLVEX_API int mi_ultra_rd(uint8_t page) { return CommandPack("U31").put(page).send(); }
extern "C" TOLVEX_API int mi_ultra_wt(uint8_t page, const uint8_t *data4) {
  return CommandPack("U32").put(page).put(data4, kPage).send();
}
extern "C" TOLVEX_API int mi_ultra_rd_uid(void) { return tolvex::send_bare("U41"); }
