#include "pages.hpp"

#include "dialog_units.hpp"
#include "ui_aging_page.h"
#include "ui_classic_mifare_page.h"
#include "ui_ms_page.h"

using tolvex::bench::ui::DialogUnits;
using tolvex::bench::ui::dialog_font;

CClassicMifare::CClassicMifare(QWidget *parent) : QWidget(parent), ui_(std::make_unique<Ui::CClassicMifare>()) {
  ui_->setupUi(this);
  DialogUnits(dialog_font()).apply(this);
}
CClassicMifare::~CClassicMifare() = default;

CMsDlg::CMsDlg(QWidget *parent) : QWidget(parent), ui_(std::make_unique<Ui::CMsDlg>()) {
  ui_->setupUi(this);
  DialogUnits(dialog_font()).apply(this);
}
CMsDlg::~CMsDlg() = default;

CAging::CAging(QWidget *parent) : QWidget(parent), ui_(std::make_unique<Ui::CAging>()) {
  ui_->setupUi(this);
  DialogUnits(dialog_font()).apply(this);
}
CAging::~CAging() = default;
