// Functions of the library that send nothing to the terminal.
#include <chrono>
#include <thread>

#include "messages.hpp"
#include "tolvex/tolvex.h"

extern "C" TOLVEX_API void call_src_ver(void) { tolvex::show_message("[Source Version: 060607]"); }

extern "C" TOLVEX_API void delay(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
