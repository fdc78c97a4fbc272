#include "setting_page.hpp"

#include <tolvex/tolvex.h>

#include <QAbstractItemView>
#include <QMenu>

#include "assign_port_dlg.hpp"
#include "command_runner.hpp"
#include "dialog_units.hpp"
#include "message_service.hpp"
#include "port_open.hpp"
#include "serial_ports.hpp"
#include "setting.hpp"
#include "ui_setting_page.h"

namespace tb = tolvex::bench;
namespace tbu = tolvex::bench::ui;

namespace {

QStringList two_digit_texts(int first, int last) {
  QStringList texts;
  for (int v = first; v <= last; ++v) texts << QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
  return texts;
}

}  // namespace

CSetting::CSetting(tbu::CommandRunner &runner, QWidget *parent)
    : QWidget(parent), runner_(runner), ui_(std::make_unique<Ui::CSetting>()) {
  ui_->setupUi(this);
  tbu::DialogUnits(tbu::dialog_font()).apply(this);
  fill_lists();
  connect(ui_->buttonPortOpen, &QPushButton::clicked, this, &CSetting::handle_port_open);
  connect(ui_->buttonRtcExecute, &QPushButton::clicked, this, &CSetting::handle_rtc_execute);
  connect(ui_->buttonRetryApply, &QPushButton::clicked, this, &CSetting::handle_retry_apply);
  connect(ui_->buttonCaptureApply, &QPushButton::clicked, this, &CSetting::handle_capture_apply);

  // Right-click on the list, or on an entry of its open drop-down, offers to assign a device.
  ui_->comboPort->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ui_->comboPort, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
    show_port_menu(ui_->comboPort->currentIndex(), ui_->comboPort->mapToGlobal(pos));
  });
  QAbstractItemView *popup = ui_->comboPort->view();
  popup->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(popup, &QWidget::customContextMenuRequested, this, [this, popup](const QPoint &pos) {
    const QModelIndex index = popup->indexAt(pos);
    if (index.isValid()) show_port_menu(index.row(), popup->viewport()->mapToGlobal(pos));
  });
}

CSetting::~CSetting() = default;

void CSetting::fill_lists() {
  for (int i = 0; i < 4; ++i) ui_->comboPort->addItem(QStringLiteral(" COM %1").arg(i + 1));
  refresh_port_tips();
  ui_->comboBaud->addItems({QStringLiteral(" 9600  BPS"), QStringLiteral(" 19200 BPS"), QStringLiteral(" 38400 BPS"),
                            QStringLiteral(" 57600 BPS")});
  ui_->comboBaud->setCurrentIndex(2);
  ui_->checkDemo->setChecked(true);

  for (int year = 2013; year <= 2024; ++year) ui_->comboYear->addItem(QString::number(year));
  ui_->comboMonth->addItems(two_digit_texts(1, 12));
  ui_->comboDay->addItems(two_digit_texts(1, 31));
  // Hours and minutes start at "00" so that midnight can be set; "01" is selected first.
  ui_->comboHour->addItems(two_digit_texts(0, 23));
  ui_->comboHour->setCurrentIndex(1);
  ui_->comboMinute->addItems(two_digit_texts(0, 59));
  ui_->comboMinute->setCurrentIndex(1);
  ui_->radioRtcCheck->setChecked(true);

  ui_->comboRetry->addItems({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
  ui_->radioRetryCheck->setChecked(true);

  for (int seconds = 0; seconds <= 60; seconds += 10) ui_->comboCapture->addItem(QString::number(seconds));
  ui_->radioCaptureCheck->setChecked(true);
}

void CSetting::refresh_port_tips() {
  // Each entry's tool tip names the device it opens, as the library resolves it.
  for (int i = 0; i < ui_->comboPort->count(); ++i) {
    const tb::PortMapping m = tb::resolve_port_name(tb::port_name_for_index(i));
    ui_->comboPort->setItemData(i, QString::fromStdString(m.device), Qt::ToolTipRole);
  }
}

void CSetting::show_port_menu(int index, const QPoint &global_pos) {
  if (index < 0) return;
  QMenu menu(this);
  QAction *assign = menu.addAction(QStringLiteral("Assign device to COM %1…").arg(index + 1));
  if (menu.exec(global_pos) == assign) assign_device(index);
}

bool CSetting::assign_device(int index) {
  AssignPortDialog dialog(static_cast<unsigned>(index + 1),
                          QString::fromStdString(tb::device_root_from_environment()), this);
  const bool saved = dialog.exec() == QDialog::Accepted;
  if (saved) refresh_port_tips();
  return saved;
}

void CSetting::handle_port_open() {
  const int port = ui_->comboPort->currentIndex();
  const auto rate = tb::rate_for_index(ui_->comboBaud->currentIndex());
  if (!rate) return;
  const QString rate_text = QString::fromLatin1(rate->text);

  if (ui_->checkDemo->isChecked()) {
    if (tbu::open_port(port, 0, 0, 8, 0, rate_text) == 1) {
      runner_.set_report_text(QStringLiteral("Result: Port Open Success!!"));
    }
    return;
  }
  const std::uint8_t number = rate->number;
  if (!runner_.run("C26", [number] { return baudrate(number); })) return;
  // The PC side follows the terminal to the new rate; the report of "C26" stays.
  tbu::open_port(port, 0, 0, 8, 0, rate_text);
}

void CSetting::handle_rtc_execute() {
  if (ui_->radioRtcSetup->isChecked()) {
    const tb::DateTimeRecord record =
        tb::rtc_record(ui_->comboYear->currentText().toStdWString(), ui_->comboMonth->currentText().toStdWString(),
                       ui_->comboDay->currentText().toStdWString(), ui_->comboHour->currentText().toStdWString(),
                       ui_->comboMinute->currentText().toStdWString());
    runner_.run("C21", [&record] { return set_rtc(1, record.data()); });
  } else if (ui_->radioRtcCheck->isChecked()) {
    if (!runner_.run("C21", [] { return set_rtc(2, nullptr); })) return;
    const auto &state = runner_.state();
    ui_->editClock->setText(state.result == 0 ? QString::fromStdWString(tb::clock_text(state.response.data()))
                                              : QString());
  } else {
    tbu::show_message(QStringLiteral(" 항목을 선택해주세요! "));
  }
}

void CSetting::handle_retry_apply() {
  if (ui_->radioRetrySetting->isChecked()) {
    const auto count = static_cast<std::uint8_t>(ui_->comboRetry->currentIndex());
    runner_.run("C24", [count] { return rty_cnt(1, count); });
  } else if (ui_->radioRetryCheck->isChecked()) {
    if (!runner_.run("C24", [] { return rty_cnt(2, 0); })) return;
    const auto &state = runner_.state();
    ui_->editRetry->setText(state.result == 0 ? QString::fromStdWString(tb::retry_text(state.response[0])) : QString());
  }
}

void CSetting::handle_capture_apply() {
  if (ui_->radioCaptureSetting->isChecked()) {
    const auto value = static_cast<std::uint8_t>(ui_->comboCapture->currentIndex());
    runner_.run("C23", [value] { return capture_time(1, value); });
  } else if (ui_->radioCaptureCheck->isChecked()) {
    if (!runner_.run("C23", [] { return capture_time(2, 0); })) return;
    const auto &state = runner_.state();
    if (state.result != 0) return;
    if (const auto text = tb::capture_text(state.response[0])) ui_->editCapture->setText(QString::fromStdWString(*text));
  }
}
