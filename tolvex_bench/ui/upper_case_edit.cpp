#include "upper_case_edit.hpp"

#include <QKeyEvent>
#include <QMimeData>

namespace tolvex::bench::ui {

QString upper_case(const QString &text) {
  QString out = text;
  for (QChar &c : out) c = c.toUpper();
  return out;
}

void UpperCaseTextEdit::keyPressEvent(QKeyEvent *event) {
  const QString upper = upper_case(event->text());
  if (upper == event->text()) {
    QPlainTextEdit::keyPressEvent(event);
    return;
  }
  QKeyEvent forced(event->type(), event->key(), event->modifiers(), upper, event->isAutoRepeat(),
                   static_cast<quint16>(event->count()));
  QPlainTextEdit::keyPressEvent(&forced);
  event->setAccepted(forced.isAccepted());
}

void UpperCaseTextEdit::insertFromMimeData(const QMimeData *source) {
  if (source == nullptr || !source->hasText()) {
    QPlainTextEdit::insertFromMimeData(source);
    return;
  }
  insertPlainText(upper_case(source->text()));
}

QValidator::State UpperCaseValidator::validate(QString &input, int & /*pos*/) const {
  input = upper_case(input);
  return Acceptable;
}

}  // namespace tolvex::bench::ui
