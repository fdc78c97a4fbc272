#include "aging_page.hpp"

#include "dialog_units.hpp"
#include "ui_aging_page.h"

using tolvex::bench::ui::DialogUnits;
using tolvex::bench::ui::dialog_font;

CAging::CAging(QWidget *parent) : QWidget(parent), ui_(std::make_unique<Ui::CAging>()) {
  ui_->setupUi(this);
  DialogUnits(dialog_font()).apply(this);
}
CAging::~CAging() = default;
