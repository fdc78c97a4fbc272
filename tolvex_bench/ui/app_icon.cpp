#include "app_icon.hpp"

// The icon is compiled into this static library; nothing else refers to its resource
// object, so the linker would leave it out unless it is registered by name. The
// registration has to sit outside every namespace.
static void register_resources() { Q_INIT_RESOURCE(tolvex_bench); }

namespace tolvex::bench::ui {

const QIcon &app_icon() {
  // Kept for the program's life; never destroyed after the application object.
  static const QIcon *icon = [] {
    register_resources();
    return new QIcon(QStringLiteral(":/tolvex_bench/tolvex_bench.png"));
  }();
  return *icon;
}

}  // namespace tolvex::bench::ui
