#include "setting_page.hpp"

#include <QAbstractItemView>
#include <QMenu>

#include "assign_port_dlg.hpp"
#include "command_runner.hpp"
#include "dialog_units.hpp"
#include "serial_ports.hpp"
#include "setting.hpp"
#include "ui_setting_page.h"

namespace tb = tolvex::bench;
namespace tbu = tolvex::bench::ui;

using Model = tb::SettingPageModel;

CSetting::CSetting(tbu::CommandRunner &runner, QWidget *parent)
    : QWidget(parent), ui_(std::make_unique<Ui::CSetting>()), model_(view_, runner) {
  ui_->setupUi(this);
  tbu::DialogUnits(tbu::dialog_font()).apply(this);
  const std::pair<int, QWidget *> bindings[] = {
      {Model::Port, ui_->comboPort},
      {Model::Baud, ui_->comboBaud},
      {Model::Demo, ui_->checkDemo},
      {Model::Year, ui_->comboYear},
      {Model::Month, ui_->comboMonth},
      {Model::Day, ui_->comboDay},
      {Model::Hour, ui_->comboHour},
      {Model::Minute, ui_->comboMinute},
      {Model::RtcSetup, ui_->radioRtcSetup},
      {Model::RtcCheck, ui_->radioRtcCheck},
      {Model::Clock, ui_->editClock},
      {Model::Retry, ui_->comboRetry},
      {Model::RetrySetting, ui_->radioRetrySetting},
      {Model::RetryCheck, ui_->radioRetryCheck},
      {Model::RetryText, ui_->editRetry},
      {Model::Capture, ui_->comboCapture},
      {Model::CaptureSetting, ui_->radioCaptureSetting},
      {Model::CaptureCheck, ui_->radioCaptureCheck},
      {Model::CaptureText, ui_->editCapture},
  };
  for (const auto &[control, widget] : bindings) view_.bind(control, widget);
  model_.init();
  refresh_port_tips();

  connect(ui_->buttonPortOpen, &QPushButton::clicked, this, [this] { model_.port_open(); });
  connect(ui_->buttonRtcExecute, &QPushButton::clicked, this, [this] { model_.rtc_execute(); });
  connect(ui_->buttonRetryApply, &QPushButton::clicked, this, [this] { model_.retry_apply(); });
  connect(ui_->buttonCaptureApply, &QPushButton::clicked, this, [this] { model_.capture_apply(); });

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
