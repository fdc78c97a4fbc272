// Text boxes that force what the engineer types or pastes to upper case, as the
// bench's "upper-case" edit boxes do. Text the program sets stays as it is.
#pragma once

#include <QPlainTextEdit>
#include <QValidator>

namespace tolvex::bench::ui {

// Each character mapped to its upper-case form on its own, so the length stays.
QString upper_case(const QString &text);

// Multi-line box.
class UpperCaseTextEdit final : public QPlainTextEdit {
  Q_OBJECT
 public:
  using QPlainTextEdit::QPlainTextEdit;

 protected:
  void keyPressEvent(QKeyEvent *event) override;
  void insertFromMimeData(const QMimeData *source) override;
};

// For single-line boxes: accepts any input and turns it to upper case. QLineEdit
// consults it only for typed and pasted text, not for setText().
class UpperCaseValidator final : public QValidator {
  Q_OBJECT
 public:
  using QValidator::QValidator;
  State validate(QString &input, int &pos) const override;
};

}  // namespace tolvex::bench::ui
