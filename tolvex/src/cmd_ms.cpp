// Magnetic-stripe commands.
#include "command_pack.hpp"
#include "tolvex/protocol.hpp"
#include "tolvex/tolvex.h"

using tolvex::CommandPack;

extern "C" TOLVEX_API int ms_rd(uint8_t track) {
  CommandPack pack(tolvex::ms_read_code(track));
  if (tolvex::ms_read_sends_track(track)) pack.put(track);
  return pack.send();
}

// Four forms by stacker and track: a stacker goes first when given, then a track when
// given, then the data.
extern "C" TOLVEX_API int ms_wt(uint8_t stacker, uint8_t track, const uint8_t *data, uint32_t n) {
  CommandPack pack(tolvex::ms_write_code(stacker, track));
  if (stacker != 0) pack.put(track != 0 ? tolvex::m34_stacker_byte(stacker) : stacker);
  if (track != 0) pack.put(track);
  return pack.put(data, n).send();
}

extern "C" TOLVEX_API int ms_all_wt(uint8_t stacker, const uint8_t *data, uint32_t n) {
  CommandPack pack(tolvex::ms_write_all_code(stacker));
  if (stacker != 0) pack.put(stacker);
  return pack.put(data, n).send();
}

extern "C" TOLVEX_API int ms_clean(void) { return tolvex::send_bare("M51"); }
