#include "qt_page_view.hpp"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "message_service.hpp"

namespace tolvex::bench::ui {

namespace {

QString qt(std::wstring_view text) {
  return QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::wstring QtPageView::text(int control) const {
  QWidget *w = widget(control);
  if (auto *edit = qobject_cast<QLineEdit *>(w)) return edit->text().toStdWString();
  if (auto *box = qobject_cast<QPlainTextEdit *>(w)) return box->toPlainText().toStdWString();
  if (auto *label = qobject_cast<QLabel *>(w)) return label->text().toStdWString();
  if (auto *combo = qobject_cast<QComboBox *>(w)) return combo->currentText().toStdWString();
  if (auto *button = qobject_cast<QAbstractButton *>(w)) return button->text().toStdWString();
  return {};
}

void QtPageView::set_text(int control, std::wstring_view text) {
  QWidget *w = widget(control);
  if (auto *edit = qobject_cast<QLineEdit *>(w)) {
    edit->setText(qt(text));
  } else if (auto *box = qobject_cast<QPlainTextEdit *>(w)) {
    box->setPlainText(qt(text));
  } else if (auto *label = qobject_cast<QLabel *>(w)) {
    label->setText(qt(text));
  } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
    button->setText(qt(text));
  }
}

bool QtPageView::checked(int control) const {
  auto *button = qobject_cast<QAbstractButton *>(widget(control));
  return button != nullptr && button->isChecked();
}

void QtPageView::set_checked(int control, bool on) {
  if (auto *button = qobject_cast<QAbstractButton *>(widget(control))) button->setChecked(on);
}

void QtPageView::set_items(int control, const std::vector<std::wstring> &items) {
  auto *combo = qobject_cast<QComboBox *>(widget(control));
  if (combo == nullptr) return;
  QStringList texts;
  for (const std::wstring &item : items) texts << QString::fromStdWString(item);
  combo->clear();
  combo->addItems(texts);
}

int QtPageView::selection(int control) const {
  auto *combo = qobject_cast<QComboBox *>(widget(control));
  return combo != nullptr ? combo->currentIndex() : -1;
}

void QtPageView::set_selection(int control, int index) {
  if (auto *combo = qobject_cast<QComboBox *>(widget(control))) combo->setCurrentIndex(index);
}

void QtPageView::set_enabled(int control, bool on) {
  if (QWidget *w = widget(control)) w->setEnabled(on);
}

void QtPageView::message(std::wstring_view text) { show_message(qt(text)); }

void QtPageView::warning(std::wstring_view text, std::wstring_view detail) {
  messages().show(Message{qt(text), MessageIcon::Warning, qt(detail)});
}

bool QtPageView::ask(std::wstring_view text) {
  const Message question{qt(text), MessageIcon::Warning, {}, QMessageBox::Yes | QMessageBox::No};
  return messages().show(question) == QMessageBox::Yes;
}

void QtPageView::set_marked(int control, bool marked, std::wstring_view why) {
  QWidget *w = widget(control);
  if (w == nullptr) return;
  w->setProperty("differs", marked);
  // A label is marked by its text colour, a box by its background.
  const bool label = qobject_cast<QLabel *>(w) != nullptr;
  const QString kind = QString::fromLatin1(w->metaObject()->className());
  const QString style = label ? QStringLiteral("color: #b00000;") : kind + QStringLiteral(" { background: #ffd8d8; }");
  w->setStyleSheet(marked ? style : QString());
  w->setToolTip(marked ? qt(why) : QString());
}

void QtPageView::mark_characters(int control, const std::vector<std::size_t> &positions) {
  auto *box = qobject_cast<QPlainTextEdit *>(widget(control));
  if (box == nullptr) return;
  // Positions count whole characters; the box counts UTF-16 units.
  const std::wstring text = box->toPlainText().toStdWString();
  std::vector<int> offsets(text.size() + 1, 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    offsets[i + 1] = offsets[i] + (static_cast<std::uint32_t>(text[i]) > 0xFFFF ? 2 : 1);
  }
  QList<QTextEdit::ExtraSelection> marks;
  for (const std::size_t pos : positions) {
    if (pos >= text.size()) continue;
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(box->document());
    mark.cursor.setPosition(offsets[pos]);
    mark.cursor.setPosition(offsets[pos + 1], QTextCursor::KeepAnchor);
    mark.format.setBackground(QColor(0xFF, 0xB0, 0xB0));
    marks << mark;
  }
  box->setExtraSelections(marks);
}

}  // namespace tolvex::bench::ui
