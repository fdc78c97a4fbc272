// Contact-card and SAM commands, the protocol-type selection and the terminal reset.
#include "command_pack.hpp"
#include "tolvex/tolvex.h"

using tolvex::CommandPack;
using tolvex::send_bare;

extern "C" TOLVEX_API int ic_reset(void) { return send_bare("I21"); }
extern "C" TOLVEX_API int ic_exe(const uint8_t *apdu, uint32_t n) { return CommandPack("I22").put(apdu, n).send(); }
extern "C" TOLVEX_API int sam_reset(void) { return send_bare("I25"); }
extern "C" TOLVEX_API int sam_exe(const uint8_t *apdu, uint32_t n) { return CommandPack("I26").put(apdu, n).send(); }
extern "C" TOLVEX_API int sam_deact(void) { return send_bare("I27"); }
extern "C" TOLVEX_API int ic_pts(uint8_t a, uint8_t b) { return CommandPack("C43").put(a).put(b).send(); }
extern "C" TOLVEX_API int tm_rst(void) { return send_bare("C42"); }
