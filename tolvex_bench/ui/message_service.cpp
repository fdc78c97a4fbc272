#include "message_service.hpp"

#include <QApplication>

#include <mutex>

#include <tolvex/tolvex.h>

namespace tolvex::bench::ui {

namespace {

BoxMessageService g_boxes;
MessageService *g_service = nullptr;

// The relay target lives on the user-interface thread; the library's threads only post
// to it, under the mutex, so removal never races with a post.
std::mutex g_relay_mutex;
QObject *g_relay_target = nullptr;

void relay_library_message(const char *text, void * /*ctx*/) {
  const QString message = QString::fromUtf8(text != nullptr ? text : "");
  std::lock_guard<std::mutex> lock(g_relay_mutex);
  if (g_relay_target == nullptr) return;
  QMetaObject::invokeMethod(g_relay_target, [message] { show_message(message); }, Qt::QueuedConnection);
}

}  // namespace

QMessageBox::StandardButton BoxMessageService::show(const Message &message) {
  QMessageBox box(message.icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                  QStringLiteral("tolvex_bench"), message.text, message.buttons, QApplication::activeWindow());
  if (message.buttons.testFlag(QMessageBox::No)) box.setDefaultButton(QMessageBox::No);
  if (!message.detail.isEmpty()) box.setDetailedText(message.detail);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

MessageService &messages() { return g_service != nullptr ? *g_service : g_boxes; }

void set_message_service(MessageService *service) { g_service = service; }

void install_library_message_relay() {
  {
    std::lock_guard<std::mutex> lock(g_relay_mutex);
    if (g_relay_target == nullptr) g_relay_target = new QObject();
  }
  tolvex_set_message_handler(&relay_library_message, nullptr);
}

void remove_library_message_relay() {
  tolvex_set_message_handler(nullptr, nullptr);
  std::lock_guard<std::mutex> lock(g_relay_mutex);
  delete g_relay_target;
  g_relay_target = nullptr;
}

}  // namespace tolvex::bench::ui
