#include "app_icon.hpp"

namespace tolvex::bench::ui {

const QIcon &app_icon() {
  // Kept for the program's life; never destroyed after the application object.
  static const QIcon *icon = new QIcon(QStringLiteral(":/tolvex_bench/tolvex_bench.png"));
  return *icon;
}

}  // namespace tolvex::bench::ui
