// The one place every message box of the bench goes through. Tests install their own
// service to record the texts and give the answers.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace tolvex::bench::ui {

enum class MessageIcon { None, Warning };

struct Message {
  QString text;
  MessageIcon icon = MessageIcon::None;
  QString detail;  // extra text shown on request (e.g. why a port did not open)
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;  // a question offers Yes and No
};

class MessageService {
 public:
  virtual ~MessageService() = default;
  // Shows the message modally and returns the button the engineer pressed.
  virtual QMessageBox::StandardButton show(const Message &message) = 0;
};

// Modal QMessageBox with the message's buttons, titled like the program. A question
// with a No button defaults to No.
class BoxMessageService final : public MessageService {
 public:
  QMessageBox::StandardButton show(const Message &message) override;
};

// The service in use; a BoxMessageService unless one was installed.
MessageService &messages();
// Installs a service (null restores the message boxes). The caller keeps ownership.
void set_message_service(MessageService *service);

// Shorthand for an OK box without icon.
inline void show_message(const QString &text) { messages().show(Message{text, MessageIcon::None, {}}); }

// Routes the library's own messages, which may come from any of its threads, to the
// message service on the user-interface thread. Install after the application object
// exists; remove before it goes.
void install_library_message_relay();
void remove_library_message_relay();

}  // namespace tolvex::bench::ui
