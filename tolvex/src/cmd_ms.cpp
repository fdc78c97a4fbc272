// Magnetic-stripe commands.
#include "command_pack.hpp"
#include "tolvex/tolvex.h"

using tolvex::CommandPack;

// Track 0 reads all tracks ("M35", no data); any other track is read alone.
extern "C" TOLVEX_API int ms_rd(uint8_t track) {
  if (track == 0) return tolvex::send_bare("M35");
  return CommandPack("M31").put(track).send();
}

// Four forms by stacker and track. Only the stacker-and-track form ("M34") sends a
// stacker value of 4 as 0x00; "M37" sends it as it is.
extern "C" TOLVEX_API int ms_wt(uint8_t stacker, uint8_t track, const uint8_t *data, uint32_t n) {
  if (stacker == 0 && track == 0) return CommandPack("M36").put(data, n).send();
  if (stacker == 0) return CommandPack("M33").put(track).put(data, n).send();
  if (track == 0) return CommandPack("M37").put(stacker).put(data, n).send();
  const uint8_t sent_stacker = stacker == 4 ? 0x00 : stacker;
  return CommandPack("M34").put(sent_stacker).put(track).put(data, n).send();
}

extern "C" TOLVEX_API int ms_all_wt(uint8_t stacker, const uint8_t *data, uint32_t n) {
  if (stacker == 0) return CommandPack("M36").put(data, n).send();
  return CommandPack("M37").put(stacker).put(data, n).send();
}

extern "C" TOLVEX_API int ms_clean(void) { return tolvex::send_bare("M51"); }
