#include "tolvex_bench_dlg.hpp"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>

#include <tolvex/tolvex.h>

#include "about_dlg.hpp"
#include "app_icon.hpp"
#include "dialog_units.hpp"
#include "message_service.hpp"
#include "my_tab_ctrl.hpp"
#include "aging_page.hpp"
#include "classic_mifare_page.hpp"
#include "ms_page.hpp"
#include "ui_tolvex_bench_dlg.h"

using namespace tolvex::bench::ui;

CTolvexBenchDlg::CTolvexBenchDlg(QWidget *parent) : QDialog(parent), ui_(std::make_unique<Ui::CTolvexBenchDlg>()) {
  ui_->setupUi(this);
  setWindowFlag(Qt::WindowMinimizeButtonHint, true);
  setFont(dialog_font());
  const DialogUnits units(font());
  units.apply(this);
  resize(units.size(458, 329));
  setWindowIcon(app_icon());

  fill_lists();
  bind_buttons();

  runner_.set_view_mode_source([this] { return view_mode(); });
  connect(&runner_, &CommandRunner::report_changed, ui_->reportEdit, &QPlainTextEdit::setPlainText);

  connect(ui_->tabCtrl, &CMyTabCtrl::about_to_change, this, &CTolvexBenchDlg::on_tab_about_to_change);
  ui_->tabCtrl->setup(runner_);

  auto *about = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(about, &QShortcut::activated, this, &CTolvexBenchDlg::show_about);
}

CTolvexBenchDlg::~CTolvexBenchDlg() = default;

CMyTabCtrl *CTolvexBenchDlg::tab_ctrl() const { return ui_->tabCtrl; }

QString CTolvexBenchDlg::report_text() const { return ui_->reportEdit->toPlainText(); }

int CTolvexBenchDlg::view_mode() const { return ui_->comboView->currentIndex(); }

std::uint8_t CTolvexBenchDlg::destination_value() const {
  const int index = ui_->comboDestination->currentIndex();
  return static_cast<std::uint8_t>(index <= 0 ? 3 : index);
}

void CTolvexBenchDlg::fill_lists() {
  ui_->comboStacker->addItems({QStringLiteral("-Select-"), QStringLiteral("Stacker1"), QStringLiteral("Stacker2"),
                               QStringLiteral("Stacker3"), QStringLiteral("Stacker4"), QStringLiteral("Auto")});
  ui_->comboDestination->addItems({QStringLiteral("SEL"), QStringLiteral("MS"), QStringLiteral("IC"),
                                   QStringLiteral("RF"), QStringLiteral("Feeder"), QStringLiteral("Print")});
  ui_->comboView->addItems({QStringLiteral("String"), QStringLiteral("HEX")});
  ui_->comboStacker->setCurrentIndex(0);
  ui_->comboDestination->setCurrentIndex(0);
  ui_->comboView->setCurrentIndex(0);
}

void CTolvexBenchDlg::bind_buttons() {
  const auto bind = [this](QPushButton *button, const char *code, std::function<int()> start) {
    connect(button, &QPushButton::clicked, this, [this, code, start = std::move(start)] { runner_.run(code, start); });
  };
  bind(ui_->buttonFromSt, "C31", [this] {
    const auto stacker = static_cast<std::uint8_t>(std::max(0, ui_->comboStacker->currentIndex()));
    return card_stk_mov(stacker, destination_value());
  });
  bind(ui_->buttonStandBy, "C32", [this] { return card_mov(destination_value()); });
  bind(ui_->buttonEject, "C33", [] { return card_eject(); });
  bind(ui_->buttonDrop, "C36", [] { return card_drop(); });
  bind(ui_->buttonCapture, "C34", [] { return card_capture(); });
  bind(ui_->buttonStStatus, "C13", [] { return chk_stacker(); });
  bind(ui_->buttonPosition, "C16", [] { return card_position(); });
  bind(ui_->buttonModel, "C11", [] { return model(); });
  bind(ui_->buttonRomVer, "C12", [] { return fw_version(); });
}

void CTolvexBenchDlg::on_tab_about_to_change(int /*from*/, int /*to*/, bool *allow) {
  const CAging *aging = ui_->tabCtrl->aging_page();
  if (aging == nullptr || aging->aging_stopped() == 1) return;
  show_message(QStringLiteral("Please Push the Stop Buton!!"));
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
  if (CAging *aging = ui_->tabCtrl->aging_page(); aging != nullptr) aging->shut_down();
  runner_.shut_down();
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
