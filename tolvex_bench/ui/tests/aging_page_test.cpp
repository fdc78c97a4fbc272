// The Aging page offscreen against the simulated terminal: its small handlers, a run
// from START to its end, STOP, the tab rule while a run is active, closing the window
// during a run, and the run's record and plot.
#include <QChartView>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include "aging_engine.hpp"
#include "aging_page.hpp"
#include "bench_fixture.hpp"
#include "command_runner.hpp"
#include "my_tab_ctrl.hpp"
#include "tolvex_bench_dlg.hpp"

#include <tolvex/tolvex.h>

using benchtest::child;

namespace {

QStringList codes(const std::vector<benchtest::Frame> &frames) {
  QStringList out;
  for (const benchtest::Frame &f : frames) out << QString::fromStdString(f.code);
  return out;
}

QStringList repeat(const QStringList &list, int times) {
  QStringList out;
  for (int i = 0; i < times; ++i) out += list;
  return out;
}

}  // namespace

class AgingPageTest : public QObject {
  Q_OBJECT

 private:
  benchtest::SimTerminal terminal_;

  // The dialog on the Aging tab, pauses cut to nothing.
  CAging *aging(CTolvexBenchDlg &dialog) {
    CAging *page = dialog.tab_ctrl()->aging_page();
    page->engine().set_pause(std::chrono::milliseconds(0));
    dialog.tab_ctrl()->setCurrentIndex(3);
    return page;
  }

 private slots:
  void initTestCase() {
    benchtest::enter_scratch_directory();
    QVERIFY(terminal_.start());
    QVERIFY(benchtest::open_port_to(terminal_));
  }

  void cleanup() {
    terminal_.sim().clear_faults();
    terminal_.forget_frames();
  }

  void smallHandlersAndEnabling() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    CAging *page = aging(dialog);
    QCheckBox *write[3] = {child<QCheckBox>(page, "checkWrite1"), child<QCheckBox>(page, "checkWrite2"),
                           child<QCheckBox>(page, "checkWrite3")};
    QCheckBox *read[3] = {child<QCheckBox>(page, "checkRead1"), child<QCheckBox>(page, "checkRead2"),
                          child<QCheckBox>(page, "checkRead3")};
    const auto states = [](QCheckBox *const(&boxes)[3]) {
      return QList<bool>{boxes[0]->isChecked(), boxes[1]->isChecked(), boxes[2]->isChecked()};
    };

    // "WR" and "RD": two of three checked become all three; all three become none.
    write[1]->setChecked(true);
    write[2]->setChecked(true);
    child<QPushButton>(page, "buttonWr")->click();
    QCOMPARE(states(write), (QList<bool>{true, true, true}));
    child<QPushButton>(page, "buttonWr")->click();
    QCOMPARE(states(write), (QList<bool>{false, false, false}));
    read[0]->setChecked(true);
    child<QPushButton>(page, "buttonRd")->click();
    QCOMPARE(states(read), (QList<bool>{true, true, true}));
    QCOMPARE(states(write), (QList<bool>{false, false, false}));

    // "All Read" disables the three read boxes; the radio buttons the whole MS row.
    child<QCheckBox>(page, "checkAllRead")->click();
    QVERIFY(!read[0]->isEnabled() && !read[2]->isEnabled());
    QVERIFY(write[0]->isEnabled());
    child<QCheckBox>(page, "checkAllRead")->click();
    QVERIFY(read[1]->isEnabled());
    child<QRadioButton>(page, "radioIc")->click();
    for (const char *name : {"buttonWr", "buttonRd", "checkWrite2", "checkRead3", "checkAllRead"}) {
      QVERIFY2(!child<QWidget>(page, name)->isEnabled(), name);
    }
    QVERIFY(child<QWidget>(page, "editWrite1")->isEnabled());
    QVERIFY(child<QWidget>(page, "checkRotation")->isEnabled());
    child<QRadioButton>(page, "radioMs")->click();
    QVERIFY(child<QWidget>(page, "checkAllRead")->isEnabled() && child<QWidget>(page, "buttonRd")->isEnabled());

    // The IC and RF inputs hold upper-case text, typed or set.
    QCOMPARE(child<QLineEdit>(page, "editIcInput")->text(), QStringLiteral("ABCDEFGHIJKLMNO"));
    QTest::keyClicks(child<QLineEdit>(page, "editRfInput"), QStringLiteral("x1"));
    QCOMPARE(child<QLineEdit>(page, "editRfInput")->text(), QStringLiteral("10000X1"));
    QVERIFY(messages.all.isEmpty());
    QVERIFY(terminal_.frames().empty());
  }

  void runFromStartToEndWithRecordAndPlot() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    CAging *page = aging(dialog);
    child<QCheckBox>(page, "checkWrite1")->setChecked(true);
    child<QCheckBox>(page, "checkRead1")->setChecked(true);
    child<QLineEdit>(page, "editCount")->setText(QStringLiteral("3"));
    QStringList remains;
    connect(child<QLineEdit>(page, "editRemain"), &QLineEdit::textChanged, this,
            [&remains](const QString &text) { remains << text; });
    QVERIFY(terminal_.sim().add_fault("M31:status=0x2203#2"));

    child<QPushButton>(page, "buttonStart")->click();
    QCOMPARE(codes(terminal_.frames()), (QStringList{"C31", "M33", "M31", "C33", "C31", "M33", "M31", "C34", "C31",
                                                     "M33", "M31", "C33"}));
    QCOMPARE(remains, (QStringList{"3", "2", "1", "0"}));
    QCOMPARE(child<QLabel>(page, "labelError1")->text(), QStringLiteral("Track1: 1 , 33.33%"));
    QCOMPARE(child<QLabel>(page, "labelError4")->text(), QStringLiteral("IC: 0 , 0%"));
    QCOMPARE(child<QPlainTextEdit>(page, "editRead1")->toPlainText(),
             QStringLiteral("CDEFGHIJKLMNOPQRSTUVWXYZ1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ12345678901234AB"));
    QCOMPARE(page->aging_stopped(), std::uint8_t{1});
    QVERIFY(child<QPushButton>(page, "buttonStart")->isEnabled());
    QCOMPARE(child<QProgressBar>(page, "progressCycles")->value(), 3);

    // The plot has one point per cycle for each medium; track 1's rate falls to 33.33.
    auto *series = qobject_cast<QLineSeries *>(child<QChartView>(page, "chartRates")->chart()->series().at(0));
    QCOMPARE(series->count(), 3);
    QCOMPARE(series->at(1).y(), 50.0);
    QVERIFY(qAbs(series->at(2).y() - 100.0 / 3) < 1e-9);

    // The record: a row per cycle and a summary beside it.
    const QString csv = page->record_path();
    QVERIFY(csv.startsWith(QDir::current().absoluteFilePath(QStringLiteral("aging-records/aging-"))));
    const QList<QByteArray> rows = benchtest::read_file(csv).trimmed().split('\n');
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[0], QByteArray("time,cycle,kind,steps,card,cause"));
    QVERIFY(rows[2].endsWith(",2,MS,C31:0 M33:0 M31:0x2203 C34:0,captured,counted error"));
    const QByteArray summary = benchtest::read_file(QString(csv).replace(QStringLiteral(".csv"), QStringLiteral(".txt")));
    QVERIFY(summary.contains("Cycles: 3 of 3\n"));
    QVERIFY(summary.contains("Track 1: 1 counted, 33.33%, 0 other\n"));
    QVERIFY(summary.contains("Ended: all cycles done\n"));
    QVERIFY(summary.contains("Track 1 first failure: cycle 2 at "));
    // The status line says how the run ended; its tooltip is the whole summary.
    QCOMPARE(child<QLabel>(page, "labelStatus")->text(), QStringLiteral("Ended: all cycles done"));
    QVERIFY(child<QLabel>(page, "labelStatus")->toolTip().contains(QStringLiteral("Captured: 1 (counted error 1, ")));
    QVERIFY(messages.all.isEmpty());
  }

  void plotStaysBoundedOverALongRun() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    CAging *page = aging(dialog);
    constexpr int kCycles = 3000;
    child<QLineEdit>(page, "editCount")->setText(QString::number(kCycles));
    // One counted error early on, so that the rate falls across the whole run.
    child<QCheckBox>(page, "checkWrite1")->setChecked(true);
    QVERIFY(terminal_.sim().add_fault("M33:status=0x2202#10"));
    terminal_.sim().set_stacker(1, 100);
    int refills = 0;
    connect(child<QLineEdit>(page, "editRemain"), &QLineEdit::textChanged, this, [&](const QString &) {
      if (terminal_.sim().stacker_cards(1) < 10) {
        terminal_.sim().set_stacker(1, 100);
        ++refills;
      }
    });
    child<QPushButton>(page, "buttonStart")->click();
    QCOMPARE(child<QLineEdit>(page, "editRemain")->text(), QStringLiteral("0"));
    QVERIFY(refills > 0);

    // At most a few hundred points per medium, from the start of the run to its last cycle.
    auto *series = qobject_cast<QLineSeries *>(child<QChartView>(page, "chartRates")->chart()->series().at(0));
    QVERIFY2(series->count() > 100 && series->count() <= 201, qPrintable(QString::number(series->count())));
    QCOMPARE(series->at(series->count() - 1).x(), double(kCycles));
    QVERIFY(qAbs(series->at(series->count() - 1).y() - 100.0 / kCycles) < 1e-9);
    for (int k = 1; k < series->count(); ++k) QVERIFY(series->at(k).x() > series->at(k - 1).x());
    QCOMPARE(child<QProgressBar>(page, "progressCycles")->value(), kCycles);
    QVERIFY(messages.all.isEmpty());
  }

  void heldCardShowsInTheStatusLine() {
    // A terminal where nobody takes the card at the exit until told.
    benchtest::SimTerminal held(-1);
    QVERIFY(held.start());
    QVERIFY(benchtest::open_port_to(held, 2));
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    CAging *page = aging(dialog);
    child<QLineEdit>(page, "editCount")->setText(QStringLiteral("2"));
    QLabel *status = child<QLabel>(page, "labelStatus");
    QStringList shown;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
      if (shown.isEmpty() || shown.back() != status->text()) shown << status->text();
      if (status->text().startsWith(QStringLiteral("card at the exit since "))) held.sim().take_card();
    });
    poll.start(20);
    child<QPushButton>(page, "buttonStart")->click();
    poll.stop();
    QCOMPARE(child<QLineEdit>(page, "editRemain")->text(), QStringLiteral("0"));
    QVERIFY2(shown.filter(QRegularExpression(QStringLiteral("^card at the exit since \\d\\d:\\d\\d:\\d\\d$"))).size() == 1,
             qPrintable(shown.join(QLatin1Char('|'))));
    QCOMPARE(status->text(), QStringLiteral("Ended: all cycles done"));
    // The cycle's row has the hold as one step.
    const QList<QByteArray> rows = benchtest::read_file(page->record_path()).trimmed().split('\n');
    QCOMPARE(rows.size(), 3);
    QVERIFY2(rows[2].contains(",2,MS,C31:0x2006*"), rows[2].constData());
    QVERIFY(messages.all.isEmpty());
    DisablePort();
    QVERIFY(benchtest::open_port_to(terminal_));
  }

  void stopStartAndTabRuleDuringARun() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    CAging *page = aging(dialog);
    CMyTabCtrl *tabs = dialog.tab_ctrl();
    QTabBar *bar = tabs->tabBar();
    child<QCheckBox>(page, "checkWrite1")->setChecked(true);
    child<QLineEdit>(page, "editCount")->setText(QStringLiteral("100"));
    // The first write is answered late enough for the checks below to run inside its wait.
    QVERIFY(terminal_.sim().add_fault("M33:late=1000#1"));

    bool start_enabled = true;
    int messages_after_arrow = -1;
    QTimer::singleShot(100, page, [&] {
      start_enabled = child<QPushButton>(page, "buttonStart")->isEnabled();
      // START once more inside the run changes nothing.
      page->engine().run();
      // An arrow key at the last tab changes nothing and asks nothing.
      bar->setFocus();
      QTest::keyClick(bar, Qt::Key_Right);
      messages_after_arrow = static_cast<int>(messages.all.size());
      // A click on another tab is refused while the run is active.
      QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
      child<QPushButton>(page, "buttonStop")->click();
    });
    child<QPushButton>(page, "buttonStart")->click();

    QVERIFY(!start_enabled);
    QCOMPARE(messages_after_arrow, 0);
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Please Push the Stop Buton!!")});
    QCOMPARE(tabs->currentIndex(), 3);
    // STOP ends the run after the cycle's eject.
    QCOMPARE(codes(terminal_.frames()), (QStringList{"C31", "M33", "C33"}));
    QCOMPARE(child<QLineEdit>(page, "editRemain")->text(), QStringLiteral("99"));
    QVERIFY(child<QPushButton>(page, "buttonStart")->isEnabled());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    QCOMPARE(tabs->currentIndex(), 0);
  }

  void closingTheWindowEndsTheRun() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    CAging *page = aging(dialog);
    child<QLineEdit>(page, "editCount")->setText(QStringLiteral("1000"));
    QVERIFY(terminal_.sim().add_fault("C33:late=5000#2"));
    bool start_returned = false;
    QTimer::singleShot(0, &dialog, [&] {
      child<QPushButton>(page, "buttonStart")->click();
      start_returned = true;
    });
    // Closed while the second eject is awaited: that command is abandoned, nothing more is sent.
    int draws = 0;
    connect(&dialog.runner(), &tolvex::bench::ui::CommandRunner::report_changed, &dialog, [&](const QString &report) {
      if (report.contains(QStringLiteral("Card move from stacker")) && ++draws == 2) {
        QTimer::singleShot(100, &dialog, [&] { dialog.reject(); });
      }
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(start_returned);
    QCOMPARE(codes(terminal_.frames()), repeat({"C31", "C33"}, 2));
    QCOMPARE(page->aging_stopped(), std::uint8_t{1});
    QCOMPARE(page->engine().abandon_requested(), true);
    QCOMPARE(child<QLineEdit>(page, "editRemain")->text(), QStringLiteral("999"));
    QVERIFY(messages.all.isEmpty());
  }

  void unwritableRecordWarnsOnceAndTheRunGoesOn() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    CAging *page = aging(dialog);
    page->set_record_folder(QStringLiteral("/dev/null/aging-records"));
    child<QLineEdit>(page, "editCount")->setText(QStringLiteral("2"));
    child<QPushButton>(page, "buttonStart")->click();
    QCOMPARE(child<QLineEdit>(page, "editRemain")->text(), QStringLiteral("0"));
    QVERIFY(child<QLabel>(page, "labelRecord")->text().startsWith(QStringLiteral("Record not written: cannot create")));
    QVERIFY(messages.all.isEmpty());
  }

  void overLongTextIsRefusedBeforeAnythingIsSent() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    CAging *page = aging(dialog);
    child<QRadioButton>(page, "radioRf")->click();
    child<QPlainTextEdit>(page, "editWrite2")->setPlainText(QString(300, QLatin1Char('7')));
    child<QPushButton>(page, "buttonStart")->click();
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Track 2 text is longer than 299 bytes")});
    QVERIFY(terminal_.frames().empty());
    QCOMPARE(page->aging_stopped(), std::uint8_t{1});
  }
};

QTEST_MAIN(AgingPageTest)
#include "aging_page_test.moc"
