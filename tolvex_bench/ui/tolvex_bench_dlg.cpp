#include "tolvex_bench_dlg.hpp"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>

#include <utility>

#include "about_dlg.hpp"
#include "app_icon.hpp"
#include "dialog_units.hpp"
#include "message_service.hpp"
#include "my_tab_ctrl.hpp"
#include "aging_page.hpp"
#include "bench_dialog_model.hpp"
#include "qt_page_view.hpp"
#include "ui_tolvex_bench_dlg.h"

using namespace tolvex::bench::ui;

namespace tb = tolvex::bench;
using Control = tb::BenchDialogModel::Control;

CTolvexBenchDlg::CTolvexBenchDlg(QWidget *parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CTolvexBenchDlg>()), view_(std::make_unique<QtPageView>()) {
  ui_->setupUi(this);
  setWindowFlag(Qt::WindowMinimizeButtonHint, true);
  setFont(dialog_font());
  const DialogUnits units(font());
  units.apply(this);
  resize(units.size(458, 329));
  setWindowIcon(app_icon());

  bind_controls();

  runner_.set_view_mode_source([this] { return view_mode(); });
  connect(&runner_, &CommandRunner::report_changed, ui_->reportEdit, &QPlainTextEdit::setPlainText);

  connect(ui_->tabCtrl, &CMyTabCtrl::about_to_change, this, &CTolvexBenchDlg::on_tab_about_to_change);
  ui_->tabCtrl->setup(runner_);
  model_ = std::make_unique<tb::BenchDialogModel>(*view_, runner_, &ui_->tabCtrl->aging_page()->model());
  model_->init();

  tb::BenchDialogModel &model = *model_;
  const std::pair<QPushButton *, void (tb::BenchDialogModel::*)()> buttons[] = {
      {ui_->buttonFromSt, &tb::BenchDialogModel::from_st},     {ui_->buttonStandBy, &tb::BenchDialogModel::stand_by},
      {ui_->buttonEject, &tb::BenchDialogModel::eject},        {ui_->buttonDrop, &tb::BenchDialogModel::drop},
      {ui_->buttonCapture, &tb::BenchDialogModel::capture},    {ui_->buttonStStatus, &tb::BenchDialogModel::st_status},
      {ui_->buttonPosition, &tb::BenchDialogModel::position},  {ui_->buttonModel, &tb::BenchDialogModel::model},
      {ui_->buttonRomVer, &tb::BenchDialogModel::rom_ver},
  };
  for (const auto &[button, handler] : buttons) {
    connect(button, &QPushButton::clicked, this, [&model, handler = handler] { (model.*handler)(); });
  }

  auto *about = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(about, &QShortcut::activated, this, &CTolvexBenchDlg::show_about);
}

CTolvexBenchDlg::~CTolvexBenchDlg() = default;

CMyTabCtrl *CTolvexBenchDlg::tab_ctrl() const { return ui_->tabCtrl; }

QString CTolvexBenchDlg::report_text() const { return ui_->reportEdit->toPlainText(); }

int CTolvexBenchDlg::view_mode() const { return model_->view_mode(); }

std::uint8_t CTolvexBenchDlg::destination_value() const { return model_->destination_value(); }

void CTolvexBenchDlg::bind_controls() {
  const std::pair<Control, QWidget *> bindings[] = {
      {Control::StackerList, ui_->comboStacker},   {Control::DestinationList, ui_->comboDestination},
      {Control::ViewList, ui_->comboView},         {Control::FromSt, ui_->buttonFromSt},
      {Control::StandBy, ui_->buttonStandBy},      {Control::Eject, ui_->buttonEject},
      {Control::Drop, ui_->buttonDrop},            {Control::Capture, ui_->buttonCapture},
      {Control::StStatus, ui_->buttonStStatus},    {Control::Position, ui_->buttonPosition},
      {Control::Model, ui_->buttonModel},          {Control::RomVer, ui_->buttonRomVer},
  };
  for (const auto &[control, widget] : bindings) view_->bind(control, widget);
}

void CTolvexBenchDlg::on_tab_about_to_change(int /*from*/, int /*to*/, bool *allow) {
  if (model_ == nullptr || model_->may_leave_aging_tab()) return;
  ui_->tabCtrl->setCurrentIndex(3);
  *allow = false;
}

void CTolvexBenchDlg::show_about() {
  CAboutDlg about(this);
  about.exec();
}

void CTolvexBenchDlg::done(int result) {
  // A wait in progress gives up its command and returns once the library reports;
  // nothing new starts after this, and an aging run ends after that command.
  model_->close();
  QDialog::done(result);
}

void CTolvexBenchDlg::keyPressEvent(QKeyEvent *event) {
  const bool enter = (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
                     (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier);
  if (enter) {
    // A focused push button takes Enter itself; anywhere else Enter closes the window.
    if (auto *button = qobject_cast<QPushButton *>(focusWidget()); button != nullptr && button->isEnabled()) {
      button->click();
      return;
    }
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CTolvexBenchDlg::contextMenuEvent(QContextMenuEvent *event) {
  QMenu menu(this);
  menu.addAction(QStringLiteral("tolvex_bench 정보(&A)..."), this, &CTolvexBenchDlg::show_about);
  menu.exec(event->globalPos());
}
