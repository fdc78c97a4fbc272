// SL2 ICS20 commands.
#include "command_pack.hpp"
#include "tolvex/tolvex.h"

using tolvex::CommandPack;
using tolvex::send_bare;

namespace {
constexpr std::size_t kBlock = 4;
constexpr std::size_t kCardImage = 112;
}

extern "C" TOLVEX_API int sl2_det(void) { return send_bare("S10"); }
extern "C" TOLVEX_API int sl2_rd_blk(uint8_t block) { return CommandPack("S11").put(block).send(); }
extern "C" TOLVEX_API int sl2_wt_blk(uint8_t block, const uint8_t *data4) {
  return CommandPack("S12").put(block).put(data4, kBlock).send();
}
extern "C" TOLVEX_API int sl2_rd_all(void) { return send_bare("S16"); }
extern "C" TOLVEX_API int sl2_wt_all(const uint8_t *data112) { return CommandPack("S17").put(data112, kCardImage).send(); }
