// The Aging page's widgets offscreen against the simulated terminal: its controls bound
// to the page model, the chart, progress bar and status line after a run, STOP and the
// tab rule inside a live wait, and closing the window during a run. The page's rules
// are tested on the model itself.
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
#include <QValueAxis>
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

  void controlsReachTheModelAndTypeInCapitals() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    CAging *page = aging(dialog);
    // Each button and box reaches the page model (its rules are the model's tests).
    child<QPushButton>(page, "buttonWr")->click();
    QVERIFY(child<QCheckBox>(page, "checkWrite1")->isChecked() && child<QCheckBox>(page, "checkWrite3")->isChecked());
    child<QPushButton>(page, "buttonRd")->click();
    QVERIFY(child<QCheckBox>(page, "checkRead2")->isChecked());
    child<QCheckBox>(page, "checkAllRead")->click();
    QVERIFY(!child<QWidget>(page, "checkRead1")->isEnabled());
    child<QRadioButton>(page, "radioIc")->click();
    QVERIFY(!child<QWidget>(page, "buttonWr")->isEnabled());
    child<QRadioButton>(page, "radioMs")->click();
    QVERIFY(child<QWidget>(page, "buttonWr")->isEnabled());

    // The IC and RF inputs hold upper-case text, typed or set.
    QCOMPARE(child<QLineEdit>(page, "editIcInput")->text(), QStringLiteral("ABCDEFGHIJKLMNO"));
    QTest::keyClicks(child<QLineEdit>(page, "editRfInput"), QStringLiteral("x1"));
    QCOMPARE(child<QLineEdit>(page, "editRfInput")->text(), QStringLiteral("10000X1"));
    QVERIFY(messages.all.isEmpty());
    QVERIFY(terminal_.frames().empty());
  }

  void runDrawsThePlotProgressAndStatus() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    CAging *page = aging(dialog);
    child<QCheckBox>(page, "checkWrite1")->setChecked(true);
    child<QCheckBox>(page, "checkRead1")->setChecked(true);
    child<QLineEdit>(page, "editCount")->setText(QStringLiteral("3"));
    QVERIFY(terminal_.sim().add_fault("M31:status=0x2203#2"));

    child<QPushButton>(page, "buttonStart")->click();
    QCOMPARE(codes(terminal_.frames()), (QStringList{"C31", "M33", "M31", "C33", "C31", "M33", "M31", "C34", "C31",
                                                     "M33", "M31", "C33"}));
    QCOMPARE(child<QLineEdit>(page, "editRemain")->text(), QStringLiteral("0"));
    QCOMPARE(child<QLabel>(page, "labelError1")->text(), QStringLiteral("Track1: 1 , 33.33%"));
    QVERIFY(child<QPushButton>(page, "buttonStart")->isEnabled());
    QCOMPARE(child<QProgressBar>(page, "progressCycles")->maximum(), 3);
    QCOMPARE(child<QProgressBar>(page, "progressCycles")->value(), 3);

    // The chart: one series per medium, a point per cycle, the axes around them.
    QChart *chart = child<QChartView>(page, "chartRates")->chart();
    QCOMPARE(chart->series().size(), 5);
    auto *series = qobject_cast<QLineSeries *>(chart->series().at(0));
    QCOMPARE(series->name(), QStringLiteral("Track1"));
    QCOMPARE(series->count(), 3);
    QCOMPARE(series->at(1), QPointF(2, 50.0));
    QVERIFY(qAbs(series->at(2).y() - 100.0 / 3) < 1e-9);
    QCOMPARE(qobject_cast<QLineSeries *>(chart->series().at(4))->name(), QStringLiteral("RF"));
    auto *x = qobject_cast<QValueAxis *>(chart->axes(Qt::Horizontal).front());
    auto *y = qobject_cast<QValueAxis *>(chart->axes(Qt::Vertical).front());
    QCOMPARE(x->min(), 1.0);
    QCOMPARE(x->max(), 3.0);
    QCOMPARE(y->max(), 50.0);

    // The record's place, and the status line with the whole summary as its tooltip.
    QVERIFY(page->record_path().startsWith(QDir::current().absoluteFilePath(QStringLiteral("aging-records/aging-"))));
    QCOMPARE(child<QLabel>(page, "labelRecord")->text(), QStringLiteral("Record: ") + page->record_path());
    QCOMPARE(child<QLabel>(page, "labelStatus")->text(), QStringLiteral("Ended: all cycles done"));
    QVERIFY(child<QLabel>(page, "labelStatus")->toolTip().contains(QStringLiteral("Captured: 1 (counted error 1, ")));
    QVERIFY(messages.all.isEmpty());
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
};

QTEST_MAIN(AgingPageTest)
#include "aging_page_test.moc"
