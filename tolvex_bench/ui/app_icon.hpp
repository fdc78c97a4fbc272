#pragma once

#include <QIcon>

namespace tolvex::bench::ui {

// The program's icon, loaded once.
const QIcon &app_icon();

}  // namespace tolvex::bench::ui
