#include "classic_mifare_page.hpp"

#include "dialog_units.hpp"
#include "ui_classic_mifare_page.h"

using tolvex::bench::ui::DialogUnits;
using tolvex::bench::ui::dialog_font;

CClassicMifare::CClassicMifare(QWidget *parent) : QWidget(parent), ui_(std::make_unique<Ui::CClassicMifare>()) {
  ui_->setupUi(this);
  DialogUnits(dialog_font()).apply(this);
}
CClassicMifare::~CClassicMifare() = default;
