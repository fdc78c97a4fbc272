#include "messages.hpp"

#include <cstdio>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#endif

#include "tolvex/tolvex.h"

namespace tolvex {
namespace {

struct Handler {
  std::mutex lock;
  void (*fn)(const char *, void *) = nullptr;
  void *ctx = nullptr;
};

Handler &handler() {
  static Handler h;
  return h;
}

}  // namespace

void init_messages() { (void)handler(); }

void show_message(const char *text) {
  void (*fn)(const char *, void *) = nullptr;
  void *ctx = nullptr;
  {
    std::lock_guard<std::mutex> guard(handler().lock);
    fn = handler().fn;
    ctx = handler().ctx;
  }
  if (fn != nullptr) {
    fn(text, ctx);
  } else {
#ifdef _WIN32
    // A modal box of its own, callable from any thread (the I/O thread has no window).
    ::MessageBoxA(nullptr, text, "tolvex", MB_OK | MB_ICONINFORMATION | MB_TASKMODAL | MB_SETFOREGROUND);
#else
    std::fprintf(stderr, "%s\n", text);
#endif
  }
}

}  // namespace tolvex

extern "C" TOLVEX_API void tolvex_set_message_handler(void (*fn)(const char *text, void *ctx), void *ctx) {
  std::lock_guard<std::mutex> guard(tolvex::handler().lock);
  tolvex::handler().fn = fn;
  tolvex::handler().ctx = ctx;
}
