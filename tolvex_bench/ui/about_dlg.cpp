#include "about_dlg.hpp"

#include "app_icon.hpp"
#include "dialog_units.hpp"
#include "ui_about_dlg.h"

using namespace tolvex::bench::ui;

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent), ui_(std::make_unique<Ui::CAboutDlg>()) {
  ui_->setupUi(this);
  setFont(dialog_font());
  const DialogUnits units(font());
  units.apply(this);
  setFixedSize(units.size(170, 62));
  setWindowIcon(app_icon());
  ui_->labelIcon->setPixmap(app_icon().pixmap(ui_->labelIcon->size()));
  connect(ui_->buttonOk, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;
