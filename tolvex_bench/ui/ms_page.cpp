#include "ms_page.hpp"

#include "dialog_units.hpp"
#include "ui_ms_page.h"

using tolvex::bench::ui::DialogUnits;
using tolvex::bench::ui::dialog_font;

CMsDlg::CMsDlg(QWidget *parent) : QWidget(parent), ui_(std::make_unique<Ui::CMsDlg>()) {
  ui_->setupUi(this);
  DialogUnits(dialog_font()).apply(this);
}
CMsDlg::~CMsDlg() = default;
