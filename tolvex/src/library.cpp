// The exported functions of the port, the exchange and the library itself: a thin
// layer over the default channel.
#include <chrono>
#include <thread>

#include "channel.hpp"
#include "command_entry.hpp"
#include "messages.hpp"
#include "tolvex/tolvex.h"

namespace tolvex {

int command_entry(const char *code, const std::uint8_t *data, std::uint32_t length) {
  return default_channel().start(code, data, length);
}

}  // namespace tolvex

extern "C" TOLVEX_API int EnablePort(const char *port_name, uint8_t byte_size, uint8_t parity, uint8_t stop_bits,
                                     uint32_t baud_rate, uint8_t flow_control) {
  tolvex::LineSettings settings;
  settings.byte_size = byte_size;
  settings.parity = parity;
  settings.stop_bits = stop_bits;
  settings.baud = baud_rate;
  settings.flow = flow_control;
  return tolvex::default_channel().enable(port_name, settings);
}

extern "C" TOLVEX_API int DisablePort(void) { return tolvex::default_channel().disable(); }

extern "C" TOLVEX_API int exe_cmd(const char *code, const uint8_t *data, uint32_t length) {
  return tolvex::command_entry(code, data, length);
}

extern "C" TOLVEX_API int chk_res(uint8_t *data, int *length, uint8_t *prc_no, int *result) {
  return tolvex::default_channel().collect(data, length, prc_no, result);
}

extern "C" TOLVEX_API int exe_stop(void) { return tolvex::default_channel().stop(); }

extern "C" TOLVEX_API void tolvex_set_completion_handler(void (*handler)(uint8_t prc_no, void *ctx), void *ctx) {
  tolvex::default_channel().set_completion_handler(handler, ctx);
}

extern "C" TOLVEX_API void tolvex_set_trace_handler(void (*handler)(int direction, const uint8_t *bytes,
                                                                     uint32_t length, uint64_t time_ns, void *ctx),
                                                    void *ctx) {
  tolvex::default_channel().set_trace_handler(handler, ctx);
}

extern "C" TOLVEX_API const char *tolvex_port_error(void) { return tolvex::default_channel().port_error(); }

extern "C" TOLVEX_API void call_src_ver(void) { tolvex::show_message("[Source Version: 060607]"); }

extern "C" TOLVEX_API void delay(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
