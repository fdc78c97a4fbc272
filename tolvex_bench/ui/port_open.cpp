#include "port_open.hpp"

#include <QSaveFile>
#include <QThread>

#include <algorithm>
#include <cstdio>

#include <tolvex/tolvex.h>

#include "message_service.hpp"
#include "serial_ports.hpp"
#include "setting.hpp"

namespace tolvex::bench::ui {

namespace {

const QString kSetupError = QStringLiteral("Serial port setup error!\n\n확인후 재시도 하십시요.");

// Port.cfg is replaced as a whole (written beside it, then renamed), so a crash never
// leaves half a file. In a folder that takes no new files a writable Port.cfg is
// rewritten in place instead.
bool write_port_cfg(const QByteArray &content, QString *error) {
  QSaveFile file(QStringLiteral("Port.cfg"));
  file.setDirectWriteFallback(true);
  if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
    *error = file.errorString();
    return false;
  }
  return true;
}

}  // namespace

QByteArray port_cfg_text(int port_index, const QString &baud_text, int data_bits, int stop_bits, int parity,
                         int control) {
  char buffer[256];
  const QByteArray baud = baud_text.toUtf8().left(32);
  const int n = std::snprintf(buffer, sizeof buffer,
                              "PORT: %d\nBAUDRATE: %s\nDATA_BIT: %d\nSTOP_BIT: %d\nPARITY_BIT: %d\nCONTROL: %d",
                              port_index, baud.constData(), data_bits, stop_bits, parity, control);
  return n > 0 ? QByteArray(buffer, std::min(n, static_cast<int>(sizeof buffer) - 1)) : QByteArray();
}

int open_port(int port_index, int control, int parity, int data_bits, int stop_bits, const QString &baud_text) {
  DisablePort();
  QThread::msleep(100);

  const std::string name = port_name_for_index(port_index);
  const QByteArray baud = baud_text.toUtf8();
  const std::uint32_t rate = baud_from_text(std::string_view(baud.constData(), static_cast<std::size_t>(baud.size())));

  if (EnablePort(name.c_str(), static_cast<std::uint8_t>(data_bits), static_cast<std::uint8_t>(parity),
                 static_cast<std::uint8_t>(stop_bits), rate, static_cast<std::uint8_t>(control)) == 0) {
    const char *why = tolvex_port_error();
    QString detail = QString::fromUtf8(why != nullptr ? why : "");
    if (detail.contains(QStringLiteral("Permission denied"))) {
      const std::string hint = permission_hint(resolve_port_name(name).device);
      if (!hint.empty()) detail += QStringLiteral("\n\n") + QString::fromStdString(hint);
    }
    messages().show(Message{kSetupError, MessageIcon::Warning, detail});
    return 0;
  }

  // The port is open whatever becomes of the record; a record that cannot be written
  // is said once, and the old one stays.
  QString error;
  if (!write_port_cfg(port_cfg_text(port_index, baud_text, data_bits, stop_bits, parity, control), &error)) {
    messages().show(Message{QStringLiteral("Port.cfg: ") + error, MessageIcon::Warning, {}});
  }
  return 1;
}

}  // namespace tolvex::bench::ui
