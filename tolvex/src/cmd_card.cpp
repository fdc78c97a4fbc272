// Status, settings and card-transport commands.
#include "command_pack.hpp"
#include "tolvex/protocol.hpp"
#include "tolvex/tolvex.h"

using tolvex::CommandPack;
using tolvex::send_bare;

namespace {

// Settings send their mode byte always, their value bytes only with the mode that sets.
int setting(const char (&code)[4], std::uint8_t mode, const std::uint8_t *value, std::size_t n) {
  CommandPack pack(code);
  pack.put(mode);
  if (tolvex::setting_sends_value(mode)) pack.put(value, n);
  return pack.send();
}

int setting(const char (&code)[4], std::uint8_t mode, std::uint8_t value) { return setting(code, mode, &value, 1); }

}  // namespace

// ---- Status and identification ----
extern "C" TOLVEX_API int model(void) { return send_bare("C11"); }
extern "C" TOLVEX_API int fw_version(void) { return send_bare("C12"); }
extern "C" TOLVEX_API int chk_stacker(void) { return send_bare("C13"); }
extern "C" TOLVEX_API int get_stat(void) { return send_bare("C14"); }
extern "C" TOLVEX_API int get_err(void) { return send_bare("C15"); }
extern "C" TOLVEX_API int card_position(void) { return send_bare("C16"); }
extern "C" TOLVEX_API int get_stat_in_port(void) { return send_bare("C17"); }

// ---- Settings ----
extern "C" TOLVEX_API int set_rtc(uint8_t mode, const uint8_t *rtc) { return setting("C21", mode, rtc, 7); }
extern "C" TOLVEX_API int ejt_mode(uint8_t mode, uint8_t value) { return setting("C22", mode, value); }
extern "C" TOLVEX_API int capture_time(uint8_t mode, uint8_t value) { return setting("C23", mode, value); }
extern "C" TOLVEX_API int rty_cnt(uint8_t mode, uint8_t value) { return setting("C24", mode, value); }
extern "C" TOLVEX_API int buzz(uint8_t mode, uint8_t value) { return setting("C25", mode, value); }
extern "C" TOLVEX_API int wait_mode(uint8_t mode, uint8_t value) { return setting("C27", mode, value); }
extern "C" TOLVEX_API int stk_priority_mode(uint8_t mode, uint8_t value) { return setting("C28", mode, value); }
extern "C" TOLVEX_API int buzz_manual(uint8_t mode, const uint8_t *pattern) { return setting("C40", mode, pattern, 5); }
extern "C" TOLVEX_API int baudrate(uint8_t rate_code) { return CommandPack("C26").put(rate_code).send(); }

// ---- Card transport ----
extern "C" TOLVEX_API int card_stk_mov(uint8_t stacker, uint8_t destination) {
  return CommandPack("C31").put(stacker).put(destination).send();
}
extern "C" TOLVEX_API int card_mov(uint8_t destination) { return CommandPack("C32").put(destination).send(); }
extern "C" TOLVEX_API int card_eject(void) { return send_bare("C33"); }
extern "C" TOLVEX_API int card_eject_ag(void) { return send_bare("T33"); }
extern "C" TOLVEX_API int card_capture(void) { return send_bare("C34"); }
extern "C" TOLVEX_API int card_drop(void) { return send_bare("C36"); }
extern "C" TOLVEX_API int card_hold(void) { return send_bare("C37"); }
extern "C" TOLVEX_API int card_coll(uint8_t stacker) { return CommandPack("C39").put(stacker).send(); }

extern "C" TOLVEX_API int comu_test(uint8_t /*unused*/) {
  return CommandPack("C31").put(tolvex::kComuTestData, sizeof tolvex::kComuTestData).send();
}
