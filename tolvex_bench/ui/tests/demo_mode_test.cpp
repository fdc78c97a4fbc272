// The bench in simulate mode: the program's own simulated terminal on " COM 1", opened
// at the start through the Setting page's "Port Open", so the first command is answered.
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <cstdlib>

#include <tolvex/tolvex.h>

#include "bench_fixture.hpp"
#include "demo_mode.hpp"
#include "my_tab_ctrl.hpp"
#include "setting_page.hpp"
#include "tolvex_bench_dlg.hpp"

using benchtest::child;

namespace {

// The report window shows the report, which ends in one blank, and three more blanks.
QString shown(const QString &report) { return report + QStringLiteral("   "); }

const QString kModelReport = shown(QStringLiteral(" COMMAND: Get model\n RESULT: TOLVEX-SIM TVX-100 "));

}  // namespace

class DemoModeTest : public QObject {
  Q_OBJECT

 private:
  tolvex::bench::ui::DemoTerminal demo_;

 private slots:
  void initTestCase() {
    benchtest::enter_scratch_directory();
    ::unsetenv("TOLVEX_COM1");
    std::string error;
    QVERIFY2(demo_.start(&error), error.c_str());
    const char *com1 = std::getenv("TOLVEX_COM1");
    QVERIFY(com1 != nullptr);
    QCOMPARE(std::string(com1), demo_.path());
  }

  void cleanup() { DisablePort(); }

  // Whichever tab is shown first, the port opens and "Model" is answered at once.
  void portOpensAtStartAndModelAnswers_data() {
    QTest::addColumn<int>("tab");
    for (int tab = 0; tab < 4; ++tab) QTest::addRow("tab %d", tab) << tab;
  }
  void portOpensAtStartAndModelAnswers() {
    QFETCH(int, tab);
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    dialog.tab_ctrl()->setCurrentIndex(tab);

    tolvex::bench::ui::open_demo_port(dialog);
    QCOMPARE(dialog.report_text(), QStringLiteral("Result: Port Open Success!!"));
    QVERIFY(benchtest::read_file(QStringLiteral("Port.cfg")).startsWith("PORT: 0\nBAUDRATE: 38400\n"));

    child<QPushButton>(&dialog, QStringLiteral("buttonModel"))->click();
    QCOMPARE(dialog.report_text(), kModelReport);
    QVERIFY2(messages.all.isEmpty(), qPrintable(messages.texts().join(QStringLiteral(" | "))));
  }

  // Without the step the first command finds the port closed: what the step is there for.
  void withoutTheStepModelFindsThePortClosed() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    child<QPushButton>(&dialog, QStringLiteral("buttonModel"))->click();
    QVERIFY2(dialog.report_text().contains(QStringLiteral("Transmission Error.")), qPrintable(dialog.report_text()));
  }

  // The port is found where the simulated terminal is, not on another " COM n" left selected.
  void opensComOneWhateverPortIsSelected() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    child<QComboBox>(dialog.tab_ctrl()->setting_page(), QStringLiteral("comboPort"))->setCurrentIndex(2);
    tolvex::bench::ui::open_demo_port(dialog);
    QCOMPARE(dialog.report_text(), QStringLiteral("Result: Port Open Success!!"));
    child<QPushButton>(&dialog, QStringLiteral("buttonModel"))->click();
    QCOMPARE(dialog.report_text(), kModelReport);
    QVERIFY(messages.all.isEmpty());
  }
};

QTEST_MAIN(DemoModeTest)
#include "demo_mode_test.moc"
