#include "assign_port_dlg.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSaveFile>

#include <tolvex/tolvex.h>

#include "message_service.hpp"
#include "serial_ports.hpp"
#include "ui_assign_port_dlg.h"

namespace tb = tolvex::bench;
namespace tbu = tolvex::bench::ui;

AssignPortDialog::AssignPortDialog(unsigned port_number, const QString &device_root, QWidget *parent)
    : QDialog(parent), port_number_(port_number), ui_(std::make_unique<Ui::AssignPortDialog>()) {
  ui_->setupUi(this);
  const QString name = QStringLiteral("COM%1").arg(port_number);
  setWindowTitle(QStringLiteral("Assign device to COM %1").arg(port_number));
  const tb::PortMapping now = tb::resolve_port_name(name.toStdString());
  ui_->labelCurrent->setText(QStringLiteral("\" COM %1\" opens %2 now (%3).")
                                 .arg(port_number)
                                 .arg(QString::fromStdString(now.device),
                                      QString::fromStdString(tb::mapping_source_text(name.toStdString(), now.source))));
  QString file_note = QStringLiteral("Saved in %1").arg(QString::fromStdString(tb::ports_config_file()));
  if (now.source == TOLVEX_PORT_ENVIRONMENT) {
    file_note += QStringLiteral(" (while TOLVEX_%1 is set, it takes precedence over this file)").arg(name);
  }
  ui_->labelFile->setText(file_note);
  fill_adapters(device_root);
  connect(ui_->listAdapters, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *item) {
    if (item != nullptr) ui_->editDevice->setText(item->data(Qt::UserRole).toString());
  });
  connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &AssignPortDialog::accept);
  connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

AssignPortDialog::~AssignPortDialog() = default;

void AssignPortDialog::fill_adapters(const QString &device_root) {
  const std::vector<tb::SerialDevice> devices = tb::detect_serial_devices(device_root.toStdString());
  for (const tb::SerialDevice &d : devices) {
    const QString path = QString::fromStdString(d.stable_path());
    auto *item = new QListWidgetItem(
        QStringLiteral("%1   %2").arg(QFileInfo(path).fileName(), QString::fromStdString(d.description())),
        ui_->listAdapters);
    item->setData(Qt::UserRole, path);
    item->setToolTip(path);
  }
  if (devices.empty()) ui_->labelAdapters->setText(QStringLiteral("No serial adapters found on this computer."));
}

void AssignPortDialog::accept() {
  const QString device = ui_->editDevice->text().trimmed();
  if (!device.isEmpty() && !device.startsWith(QLatin1Char('/'))) {
    tbu::show_message(QStringLiteral("The device must be a path beginning with /, e.g. /dev/ttyUSB0."));
    return;
  }
  if (save(device)) QDialog::accept();
}

bool AssignPortDialog::save(const QString &device) {
  const QString path = QString::fromStdString(tb::ports_config_file());
  QString error;
  if (path.isEmpty()) {
    error = QStringLiteral("there is no home folder to keep it in");
  } else if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
    error = QStringLiteral("cannot create the folder %1").arg(QFileInfo(path).absolutePath());
  } else {
    QByteArray old;
    if (QFile in(path); in.exists()) {
      if (in.open(QIODevice::ReadOnly)) old = in.readAll();
      else error = in.errorString();
    }
    if (error.isEmpty()) {
      const QByteArray device_bytes = device.toUtf8();
      const std::string text = tb::with_port_assignment(std::string_view(old.constData(), static_cast<std::size_t>(old.size())),
                                                        port_number_,
                                                        std::string_view(device_bytes.constData(),
                                                                         static_cast<std::size_t>(device_bytes.size())));
      // Written beside the old file and renamed over it: a reader sees the old or the new list.
      QSaveFile out(path);
      if (!out.open(QIODevice::WriteOnly) ||
          out.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
          !out.commit()) {
        error = out.errorString();
      }
    }
  }
  if (error.isEmpty()) return true;
  tbu::messages().show(tbu::Message{QStringLiteral("The port list could not be saved."), tbu::MessageIcon::Warning,
                                    (path.isEmpty() ? QString() : path + QStringLiteral(": ")) + error});
  return false;
}
