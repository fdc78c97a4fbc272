// The main dialog's shell: its controls, sizes, keys, the tab rule, the About box and
// the port-open step with its Port.cfg record.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <thread>

#include <tolvex/tolvex.h>

#include "about_dlg.hpp"
#include "bench_fixture.hpp"
#include "dialog_units.hpp"
#include "my_tab_ctrl.hpp"
#include "aging_page.hpp"
#include "classic_mifare_page.hpp"
#include "ms_page.hpp"
#include "port_open.hpp"
#include "qt_page_view.hpp"
#include "setting_page.hpp"
#include "tolvex_bench_dlg.hpp"

using tolvex::bench::ui::DialogUnits;
using tolvex::bench::ui::MessageIcon;

using benchtest::entries;

namespace {

// The port-open step with its messages through the Qt page view and message service.
int open_port_step(int port_index, const char *baud) {
  tolvex::bench::ui::QtPageView view;
  return tolvex::bench::open_port(view, port_index, 0, 0, 8, 0, baud);
}

// Runs `check` on the next modal window that opens, then closes it.
void on_next_modal(std::function<void(QWidget *)> check) {
  QTimer::singleShot(50, [check = std::move(check)] {
    QWidget *modal = QApplication::activeModalWidget();
    if (modal == nullptr) modal = QApplication::activePopupWidget();
    QVERIFY2(modal != nullptr, "no modal window opened");
    check(modal);
  });
}

const char kCfg0[] = "PORT: 0\nBAUDRATE: 38400\nDATA_BIT: 8\nSTOP_BIT: 0\nPARITY_BIT: 0\nCONTROL: 0";

}  // namespace

class ShellTest : public QObject {
  Q_OBJECT

 private:
  benchtest::SimTerminal terminal_;

 private slots:
  void initTestCase() {
    benchtest::enter_scratch_directory();
    QVERIFY(terminal_.start());
  }

  void controlsAndSizes() {
    CTolvexBenchDlg dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("tolvex_bench"));
    // The application icon is the window's icon.
    QVERIFY(!dialog.windowIcon().isNull());
    QVERIFY(!dialog.windowIcon().availableSizes().isEmpty());
    const auto *stacker = dialog.findChild<QComboBox *>(QStringLiteral("comboStacker"));
    const auto *destination = dialog.findChild<QComboBox *>(QStringLiteral("comboDestination"));
    const auto *view = dialog.findChild<QComboBox *>(QStringLiteral("comboView"));
    QCOMPARE(entries(stacker), (QStringList{"-Select-", "Stacker1", "Stacker2", "Stacker3", "Stacker4", "Auto"}));
    QVERIFY(!stacker->isEnabled());
    QCOMPARE(stacker->currentIndex(), 0);
    QCOMPARE(entries(destination), (QStringList{"SEL", "MS", "IC", "RF", "Feeder", "Print"}));
    QCOMPARE(destination->currentIndex(), 0);
    QCOMPARE(entries(view), (QStringList{"String", "HEX"}));
    QCOMPARE(view->currentIndex(), 0);
    QCOMPARE(dialog.view_mode(), 0);

    QStringList buttons;
    for (const char *name : {"buttonFromSt", "buttonStandBy", "buttonEject", "buttonDrop", "buttonCapture",
                             "buttonStStatus", "buttonPosition", "buttonModel", "buttonRomVer"}) {
      buttons << dialog.findChild<QPushButton *>(QString::fromLatin1(name))->text();
    }
    QCOMPARE(buttons, (QStringList{"From ST", "StandBy", "Eject", "Drop", "Capture", "St Status", "Position", "Model",
                                   "RomVer"}));

    CMyTabCtrl *tabs = dialog.tab_ctrl();
    QCOMPARE(tabs->page_count(), 4);
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i) titles << tabs->tabText(i);
    QCOMPARE(titles, (QStringList{"Setting", "ClassMifare", "MS/IC", "Aging"}));
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->widget(0), static_cast<QWidget *>(tabs->setting_page()));
    QCOMPARE(tabs->widget(1), static_cast<QWidget *>(tabs->mifare_page()));
    QCOMPARE(tabs->widget(2), static_cast<QWidget *>(tabs->ms_page()));
    QCOMPARE(tabs->widget(3), static_cast<QWidget *>(tabs->aging_page()));
    QCOMPARE(tabs->aging_page()->aging_stopped(), std::uint8_t{1});

    // Sizes in dialog units of the dialog's font.
    const DialogUnits units(dialog.font());
    QVERIFY(units.base_width() > 0 && units.base_height() > units.base_width());
    QCOMPARE(dialog.size(), units.size(458, 329));
    const auto *report = dialog.findChild<QPlainTextEdit *>(QStringLiteral("reportEdit"));
    QVERIFY(report->isReadOnly());
    QCOMPARE(report->size(), units.size(444, 88));
    QCOMPARE(tabs->size(), units.size(444, 217));
    // The rows stay inside the window and in order: report, controls, tabs.
    QVERIFY(report->geometry().bottom() < stacker->mapTo(&dialog, QPoint(0, 0)).y());
    QVERIFY(stacker->mapTo(&dialog, QPoint(0, stacker->height())).y() <= tabs->geometry().top());
    QVERIFY(tabs->geometry().bottom() < dialog.height());
    QVERIFY(view->mapTo(&dialog, QPoint(view->width(), 0)).x() <= report->geometry().right() + 1);
  }

  void dialogUnitsFollowTheFont() {
    QFont small = tolvex::bench::ui::dialog_font();
    QFont large = small;
    large.setPointSize(18);
    const DialogUnits a(small), b(large);
    QVERIFY(b.x(100) > a.x(100));
    QVERIFY(b.y(100) > a.y(100));
    QCOMPARE(a.x(4), a.base_width());
    QCOMPARE(a.y(8), a.base_height());
    QCOMPARE(a.rect(QRect(4, 8, 8, 16)), QRect(a.base_width(), a.base_height(), 2 * a.base_width(), 2 * a.base_height()));
  }

  void enterAndEscapeCloseTheWindow() {
    {
      CTolvexBenchDlg dialog;
      dialog.show();
      dialog.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&dialog));
      dialog.findChild<QPlainTextEdit *>(QStringLiteral("reportEdit"))->setFocus();
      QTest::keyClick(&dialog, Qt::Key_Return);
      QVERIFY(!dialog.isVisible());
      QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    {
      CTolvexBenchDlg dialog;
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      QTest::keyClick(&dialog, Qt::Key_Escape);
      QVERIFY(!dialog.isVisible());
      QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
  }

  void tabRuleKeepsAgingWhileItRuns() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    CMyTabCtrl *tabs = dialog.tab_ctrl();
    QTabBar *bar = tabs->tabBar();
    tabs->setCurrentIndex(3);
    tabs->aging_page()->set_aging_stopped(0);

    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Please Push the Stop Buton!!")});
    QCOMPARE(tabs->currentIndex(), 3);
    QVERIFY(tabs->aging_page()->isVisible());
    QVERIFY(!tabs->setting_page()->isVisible());
    QTest::keyClick(tabs, Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(tabs->currentIndex(), 3);
    QCOMPARE(messages.all.size(), 2);

    tabs->aging_page()->set_aging_stopped(1);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    QCOMPARE(tabs->currentIndex(), 0);
    QVERIFY(tabs->setting_page()->isVisible());
    QCOMPARE(messages.all.size(), 2);
  }

  void aboutBoxFromF1AndTheContextMenu() {
    CTolvexBenchDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    bool seen = false;
    const auto check_about = [&seen](QWidget *modal) {
      auto *about = qobject_cast<CAboutDlg *>(modal);
      QVERIFY(about != nullptr);
      QCOMPARE(about->windowTitle(), QStringLiteral("tolvex_bench 정보"));
      QCOMPARE(about->findChild<QLabel *>(QStringLiteral("labelVersion"))->text(), QStringLiteral("tolvex_bench, 버전 1.0"));
      auto *ok = about->findChild<QPushButton *>(QStringLiteral("buttonOk"));
      QCOMPARE(ok->text(), QStringLiteral("확인"));
      const QPixmap icon = about->findChild<QLabel *>(QStringLiteral("labelIcon"))->pixmap();
      const bool window_icon = !about->windowIcon().isNull();
      seen = true;
      ok->click();
      // The application icon shows in the box.
      QVERIFY(!icon.isNull());
      QVERIFY(window_icon);
    };
    on_next_modal(check_about);
    QTest::keyClick(&dialog, Qt::Key_F1);
    QVERIFY(seen);

    seen = false;
    on_next_modal([&](QWidget *popup) {
      auto *menu = qobject_cast<QMenu *>(popup);
      QVERIFY(menu != nullptr);
      QCOMPARE(menu->actions().size(), 1);
      QCOMPARE(menu->actions().first()->text(), QStringLiteral("tolvex_bench 정보(&A)..."));
      on_next_modal(check_about);
      menu->actions().first()->trigger();
      menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), dialog.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&dialog, &event);
    QTRY_VERIFY(seen);
  }

  void portOpenStepRecordsPortCfg() {
    benchtest::RecordingMessages messages;
    ::setenv("TOLVEX_COM1", terminal_.path().c_str(), 1);
    ::setenv("TOLVEX_COM4", terminal_.path().c_str(), 1);
    ::setenv("TOLVEX_COM2", "/nonexistent/tolvex-tty", 1);
    QFile::remove(QStringLiteral("Port.cfg"));

    QCOMPARE(open_port_step(0, "38400"), 1);
    QCOMPARE(benchtest::read_file(QStringLiteral("Port.cfg")), QByteArray(kCfg0));

    // Index 3 opens COM4 (the only name that reaches the terminal now) at 57600 baud and
    // replaces the earlier record.
    ::setenv("TOLVEX_COM1", "/nonexistent/tolvex-tty", 1);
    QCOMPARE(open_port_step(3, "57600"), 1);
    QCOMPARE(benchtest::open_line_speed(terminal_.path()), 57600);
    ::setenv("TOLVEX_COM1", terminal_.path().c_str(), 1);
    QCOMPARE(benchtest::read_file(QStringLiteral("Port.cfg")),
             QByteArray("PORT: 3\nBAUDRATE: 57600\nDATA_BIT: 8\nSTOP_BIT: 0\nPARITY_BIT: 0\nCONTROL: 0"));
    QVERIFY(messages.all.isEmpty());

    // A port that does not open: the warning, the reason on request, the record untouched.
    const QByteArray before = benchtest::read_file(QStringLiteral("Port.cfg"));
    QCOMPARE(open_port_step(1, "9600"), 0);
    QCOMPARE(messages.all.size(), 1);
    QCOMPARE(messages.all[0].text, QStringLiteral("Serial port setup error!\n\n확인후 재시도 하십시요."));
    QVERIFY(messages.all[0].icon == MessageIcon::Warning);
    QVERIFY(messages.all[0].detail.contains(QStringLiteral("/nonexistent/tolvex-tty")));
    QCOMPARE(benchtest::read_file(QStringLiteral("Port.cfg")), before);

    // A rate text outside the four cannot open the port either.
    QCOMPARE(open_port_step(0, "115200"), 0);
    QCOMPARE(benchtest::read_file(QStringLiteral("Port.cfg")), before);
    // Nor can an index outside 0 to 3 (empty name).
    QCOMPARE(open_port_step(4, "9600"), 0);
    QCOMPARE(messages.all.size(), 3);

    // The port opens but the record cannot be written (a directory stands in its way):
    // the port stays open, one message says why, nothing else is touched.
    QFile::remove(QStringLiteral("Port.cfg"));
    QVERIFY(QDir().mkdir(QStringLiteral("Port.cfg")));
    QCOMPARE(open_port_step(0, "38400"), 1);
    QCOMPARE(messages.all.size(), 4);
    QVERIFY(messages.all[3].text.startsWith(QStringLiteral("Port.cfg: ")));
    QVERIFY(QFileInfo(QStringLiteral("Port.cfg")).isDir());
    QVERIFY(QDir().rmdir(QStringLiteral("Port.cfg")));
  }

  void libraryMessagesReachTheService() {
    benchtest::RecordingMessages messages;
    tolvex::bench::ui::install_library_message_relay();
    call_src_ver();
    // From another thread as well: shown on this one, after the call returned.
    std::thread worker([] { call_src_ver(); });
    worker.join();
    QTRY_COMPARE(messages.all.size(), 2);
    QCOMPARE(messages.texts(), (QStringList{"[Source Version: 060607]", "[Source Version: 060607]"}));
    tolvex::bench::ui::remove_library_message_relay();
    call_src_ver();
    QTest::qWait(50);
    QCOMPARE(messages.all.size(), 2);
  }
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
