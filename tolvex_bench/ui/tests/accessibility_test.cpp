// Every input control of the main dialog and of its four pages can be told apart by a
// screen reader or an accessibility-driven script, and every keyboard mnemonic leads
// somewhere and is used once.
#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>

#include "bench_fixture.hpp"
#include "ms_page.hpp"
#include "my_tab_ctrl.hpp"
#include "tolvex_bench_dlg.hpp"

namespace {

bool is_input(const QWidget *w) {
  if (qobject_cast<const QLineEdit *>(w) != nullptr) {
    // The edit inside an editable list or a spin box is named with its owner.
    const QWidget *owner = w->parentWidget();
    return qobject_cast<const QComboBox *>(owner) == nullptr && qobject_cast<const QAbstractSpinBox *>(owner) == nullptr;
  }
  return qobject_cast<const QPlainTextEdit *>(w) != nullptr || qobject_cast<const QTextEdit *>(w) != nullptr ||
         qobject_cast<const QComboBox *>(w) != nullptr || qobject_cast<const QCheckBox *>(w) != nullptr ||
         qobject_cast<const QRadioButton *>(w) != nullptr || qobject_cast<const QAbstractSpinBox *>(w) != nullptr;
}

// Mnemonic markers removed ("&&" stands for a plain '&').
QString plain(QString text) {
  text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  text.remove(QLatin1Char('&'));
  return text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

// The mnemonic letter of a text, upper case; a null character when it has none.
QChar mnemonic(const QString &text) {
  for (qsizetype i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != QLatin1Char('&')) continue;
    if (text[i + 1] == QLatin1Char('&')) {
      ++i;
      continue;
    }
    return text[i + 1].toUpper();
  }
  return {};
}

const QLabel *buddy_label(const QWidget *control) {
  for (const QLabel *label : control->parentWidget()->findChildren<QLabel *>(Qt::FindDirectChildrenOnly)) {
    if (label->buddy() == control) return label;
  }
  return nullptr;
}

// The name a screen reader announces: the control's accessible name, else the text of
// the label whose buddy it is, else a button's own text.
QString name_of(const QWidget *control) {
  if (!control->accessibleName().isEmpty()) return control->accessibleName();
  if (const QLabel *label = buddy_label(control)) return plain(label->text());
  if (const auto *button = qobject_cast<const QAbstractButton *>(control)) return plain(button->text());
  return {};
}

// Names that differ only in case, blanks or a trailing colon are the same name.
QString normalised(const QString &name) {
  QString out = name.simplified().toCaseFolded();
  while (out.endsWith(QLatin1Char(':'))) out.chop(1);
  return out.trimmed();
}

struct Scope {
  QString title;
  QList<QWidget *> widgets;
};

// The main dialog's own controls, then each page's.
QList<Scope> scopes(CTolvexBenchDlg &dialog) {
  QList<Scope> out;
  CMyTabCtrl *tabs = dialog.tab_ctrl();
  QList<QWidget *> pages;
  for (int i = 0; i < tabs->count(); ++i) pages << tabs->widget(i);
  Scope shell{QStringLiteral("main dialog"), {}};
  for (QWidget *w : dialog.findChildren<QWidget *>()) {
    if (!tabs->isAncestorOf(w)) shell.widgets << w;
  }
  out << shell;
  for (int i = 0; i < tabs->count(); ++i) out << Scope{tabs->tabText(i), pages[i]->findChildren<QWidget *>()};
  return out;
}

}  // namespace

class AccessibilityTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { benchtest::enter_scratch_directory(); }

  void everyInputControlHasADistinctName() {
    CTolvexBenchDlg dialog;
    int inputs = 0;
    for (const Scope &scope : scopes(dialog)) {
      QMap<QString, QString> seen;  // normalised name -> object name
      for (const QWidget *w : scope.widgets) {
        if (!is_input(w)) continue;
        ++inputs;
        const QString where = scope.title + QLatin1Char('/') + w->objectName();
        const QString name = name_of(w);
        QVERIFY2(!normalised(name).isEmpty(), qPrintable(where + QStringLiteral(" has no name")));
        const QString key = normalised(name);
        QVERIFY2(!seen.contains(key), qPrintable(where + QStringLiteral(" is named \"") + name +
                                                 QStringLiteral("\" like ") + seen.value(key)));
        seen.insert(key, w->objectName());

        // What the accessibility layer reports agrees: edits announce the name, and a
        // control named by its label is related to it (lists are announced by relation).
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(const_cast<QWidget *>(w));
        QVERIFY2(iface != nullptr, qPrintable(where));
        if (qobject_cast<const QComboBox *>(w) == nullptr) {
          QVERIFY2(iface->text(QAccessible::Name) == name, qPrintable(where + QStringLiteral(": ") +
                                                                       iface->text(QAccessible::Name)));
        }
        if (const QLabel *label = buddy_label(w)) {
          bool related = false;
          for (const auto &relation : iface->relations(QAccessible::Label)) {
            related = related || relation.first->object() == label;
          }
          QVERIFY2(related, qPrintable(where + QStringLiteral(" is not labelled by its buddy")));
        }
      }
    }
    // The walk reaches the controls of all five scopes (84 when this was written).
    QVERIFY2(inputs >= 80, qPrintable(QString::number(inputs)));
  }

  // Alt plus a letter reaches one control: each mnemonic once in its scope, together
  // with the main dialog's own, and every label that has one has a buddy to go to.
  void mnemonicsAreUniqueAndLeadSomewhere() {
    CTolvexBenchDlg dialog;
    const QList<Scope> all = scopes(dialog);
    const auto letters_of = [](const Scope &scope, QMap<QChar, QString> &seen) {
      for (const QWidget *w : scope.widgets) {
        QString text;
        if (const auto *label = qobject_cast<const QLabel *>(w)) {
          text = label->text();
          if (!mnemonic(text).isNull()) {
            QVERIFY2(label->buddy() != nullptr, qPrintable(w->objectName() + QStringLiteral(" has no buddy")));
          }
        } else if (const auto *button = qobject_cast<const QAbstractButton *>(w)) {
          text = button->text();
        }
        const QChar letter = mnemonic(text);
        if (letter.isNull()) continue;
        QVERIFY2(!seen.contains(letter), qPrintable(scope.title + QStringLiteral(": Alt+") + letter + QStringLiteral(" on ") +
                                                    w->objectName() + QStringLiteral(" and ") + seen.value(letter)));
        seen.insert(letter, w->objectName());
      }
    };
    int used = 0;
    for (qsizetype i = 1; i < all.size(); ++i) {
      QMap<QChar, QString> seen;
      letters_of(all[0], seen);
      letters_of(all[i], seen);
      used += static_cast<int>(seen.size());
    }
    QVERIFY(used > 0);

    // Alt+letter moves the focus to the buddy.
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.tab_ctrl()->setCurrentWidget(dialog.tab_ctrl()->ms_page());
    auto *cla = benchtest::child<QLineEdit>(dialog.tab_ctrl()->ms_page(), QStringLiteral("editCLA"));
    QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier);
    QTRY_VERIFY(cla->hasFocus());
  }
};

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
