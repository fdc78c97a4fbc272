// The main dialog's buttons and the wait-and-report step, end to end through the
// library and the simulated terminal.
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <tolvex/tolvex.h>

#include "bench_fixture.hpp"
#include "command_runner.hpp"
#include "tolvex_bench_dlg.hpp"

using benchtest::child;
using benchtest::Frame;
using Bytes = std::vector<std::uint8_t>;

namespace {

QString bracketed(const QByteArray &bytes) {
  QString out;
  for (char c : bytes) out += QStringLiteral("[%1]").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0')).toUpper();
  return out;
}

// The report window shows the report, which ends in one blank, and three more blanks.
QString shown(const QString &report) { return report + QStringLiteral("   "); }

}  // namespace

class RunnerTest : public QObject {
  Q_OBJECT

 private:
  benchtest::SimTerminal terminal_;

 private slots:
  void initTestCase() {
    benchtest::enter_scratch_directory();
    QVERIFY(terminal_.start());
    QVERIFY(benchtest::open_port_to(terminal_));
  }

  void cleanup() { terminal_.sim().clear_faults(); }

  void statusButtonsShowTheirReports() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    child<QPushButton>(&dialog, "buttonModel")->click();
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Get model\n RESULT: TOLVEX-SIM TVX-100 "));
    child<QPushButton>(&dialog, "buttonRomVer")->click();
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Get Firmware version\n RESULT: TVX-FW 1.07.2 "));
    child<QPushButton>(&dialog, "buttonStStatus")->click();
    QCOMPARE(dialog.report_text(),
             shown(" COMMAND: Get Stacker\n RESULT: Stacker #1- Good,   Stacker #2- Good    "));
    child<QPushButton>(&dialog, "buttonPosition")->click();
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Get Card Position\n RESULT: No cards "));
    QVERIFY(messages.all.isEmpty());
  }

  void transportButtonsSendTheDestinationRule() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    Bytes data;
    const QString success = QStringLiteral("\n RESULT   : Success! ");

    // "SEL" goes out as 3; the stacker list stays on "-Select-", index 0.
    child<QPushButton>(&dialog, "buttonFromSt")->click();
    QVERIFY(terminal_.last_frame("C31", &data));
    QCOMPARE(data, (Bytes{0, 3}));
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Card move from stacker" + success));
    child<QPushButton>(&dialog, "buttonStandBy")->click();
    QVERIFY(terminal_.last_frame("C32", &data));
    QCOMPARE(data, (Bytes{3}));

    child<QComboBox>(&dialog, "comboDestination")->setCurrentIndex(5);  // "Print"
    child<QPushButton>(&dialog, "buttonStandBy")->click();
    QVERIFY(terminal_.last_frame("C32", &data));
    QCOMPARE(data, (Bytes{5}));
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Card move to each module" + success));

    child<QPushButton>(&dialog, "buttonEject")->click();
    QVERIFY(terminal_.last_frame("C33", &data));
    QVERIFY(data.empty());
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Card eject" + success));

    child<QComboBox>(&dialog, "comboDestination")->setCurrentIndex(1);  // "MS"
    child<QPushButton>(&dialog, "buttonFromSt")->click();
    QVERIFY(terminal_.last_frame("C31", &data));
    QCOMPARE(data, (Bytes{0, 1}));
    child<QPushButton>(&dialog, "buttonCapture")->click();
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Card capture" + success));
    QCOMPARE(terminal_.sim().capture_count(), 1);

    child<QPushButton>(&dialog, "buttonFromSt")->click();
    child<QPushButton>(&dialog, "buttonDrop")->click();
    QVERIFY(terminal_.last_frame("C36", &data));
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Card eject(drop)" + success));
    QVERIFY(!terminal_.sim().card_inside());
    QVERIFY(messages.all.isEmpty());
  }

  void terminalErrorBecomesItsCode() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    QVERIFY(terminal_.sim().add_fault("C11:status=0x2005"));
    child<QPushButton>(&dialog, "buttonModel")->click();
    QCOMPARE(dialog.runner().state().result, 0x2005);
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Get model\n RESULT   : False!\n ERROR : No cards. "));

    // Another result is left as it is, whatever the response bytes hold.
    dialog.runner().set_collector([](std::uint8_t *data, int *length, std::uint8_t *prc, int *result) {
      if (chk_res(data, length, prc, result) == 0) return 0;
      data[0] = 0x20;
      data[1] = 0x05;
      *length = 2;
      *result = 5;
      return 1;
    });
    child<QPushButton>(&dialog, "buttonModel")->click();
    QCOMPARE(dialog.runner().state().result, 5);
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Get model\n RESULT   : False!\n ERROR : 0x0005 "));
    QVERIFY(messages.all.isEmpty());
  }

  void viewModeIsSampledAtTheStartOfEachWait() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    QVERIFY(terminal_.sim().add_fault("C11:late=300"));
    QComboBox *view = child<QComboBox>(&dialog, "comboView");
    QTimer::singleShot(50, &dialog, [view] { view->setCurrentIndex(1); });
    child<QPushButton>(&dialog, "buttonModel")->click();
    QCOMPARE(view->currentIndex(), 1);
    // The model text comes with its terminating zero byte.
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Get model\n RESULT: TOLVEX-SIM TVX-100 "));
    child<QPushButton>(&dialog, "buttonModel")->click();
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Get model\n DATA: " + bracketed(QByteArray("TOLVEX-SIM TVX-100", 19)) + " "));
  }

  void responseBufferIsClearedBeforeEachWait() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    child<QPushButton>(&dialog, "buttonModel")->click();
    // A shorter answer without a zero byte of its own: its text ends where the answer
    // ends, not in what the previous answer left behind.
    dialog.runner().set_collector([](std::uint8_t *data, int *length, std::uint8_t *prc, int *result) {
      std::uint8_t scratch[TOLVEX_RESPONSE_MAX];
      if (chk_res(scratch, length, prc, result) == 0) return 0;
      data[0] = 'A';
      data[1] = 'B';
      *length = 2;
      return 1;
    });
    child<QPushButton>(&dialog, "buttonModel")->click();
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Get model\n RESULT: AB "));
    QVERIFY(messages.all.isEmpty());
  }

  void refusedStartShowsOnlyFrameError() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    child<QPushButton>(&dialog, "buttonModel")->click();
    const QString before = dialog.report_text();

    // A starter whose export does not start anything.
    QVERIFY(!dialog.runner().run("C12", [] { return 0; }));
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Frame Error")});
    QCOMPARE(dialog.report_text(), before);

    // A button pressed while another command is in flight: the library refuses it.
    messages.all.clear();
    terminal_.forget_frames();
    QVERIFY(terminal_.sim().add_fault("C11:late=400"));
    QTimer::singleShot(100, &dialog, [&] { child<QPushButton>(&dialog, "buttonRomVer")->click(); });
    child<QPushButton>(&dialog, "buttonModel")->click();
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Frame Error")});
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Get model\n RESULT: TOLVEX-SIM TVX-100 "));
    std::vector<std::string> codes;
    for (const Frame &f : terminal_.frames()) codes.push_back(f.code);
    QVERIFY(std::find(codes.begin(), codes.end(), "C12") == codes.end());
  }

  void otherProcessNumberWarnsThenReports() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    QString report_at_message;
    messages.on_show = [&](const tolvex::bench::ui::Message &) { report_at_message = dialog.report_text(); };
    QVERIFY(dialog.runner().run("C11", [] {
      const int prc = model();
      return prc == 255 ? 1 : prc + 1;
    }));
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("gb_prc_no Error")});
    QVERIFY(report_at_message.isEmpty());
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Get model\n RESULT: TOLVEX-SIM TVX-100 "));
  }

  void nestedWaitReturnsFirst() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    auto &runner = dialog.runner();
    bool inner_started = false;
    bool outer_released = false;
    // The outer command never reaches the library; its outcome is held back until the
    // inner command, started from a handler inside the outer wait, has been reported.
    runner.set_collector([&](std::uint8_t *data, int *length, std::uint8_t *prc, int *result) {
      if (!inner_started && !outer_released) return 0;
      return chk_res(data, length, prc, result);
    });
    QStringList order;
    int deepest = 0;
    QTimer::singleShot(50, &dialog, [&] {
      inner_started = true;
      deepest = runner.wait_depth();
      QVERIFY(runner.run("C12", [] { return fw_version(); }));
      order << QStringLiteral("inner");
      inner_started = false;
      outer_released = true;
    });
    QVERIFY(runner.run("C11", [] { return 77; }));
    order << QStringLiteral("outer");
    QCOMPARE(deepest, 1);
    QCOMPARE(order, (QStringList{QStringLiteral("inner"), QStringLiteral("outer")}));
    QCOMPARE(runner.wait_depth(), 0);
    // The command state is shared: the outer wait reports the last outcome, the inner
    // command's, under the current-command code the inner starter wrote.
    QCOMPARE(dialog.report_text(), shown(" COMMAND: Get Firmware version\n RESULT: TVX-FW 1.07.2 "));
    QVERIFY(messages.all.isEmpty());
  }

  void closingDuringAWaitAbandonsTheCommand() {
    benchtest::RecordingMessages messages;
    CTolvexBenchDlg dialog;
    QVERIFY(terminal_.sim().add_fault("C11:late=8000"));
    // As the program runs it: the dialog modal, a command waiting, then the window closes.
    bool click_returned = false;
    QTimer::singleShot(0, &dialog, [&] {
      child<QPushButton>(&dialog, "buttonModel")->click();
      click_returned = true;
    });
    QTimer::singleShot(100, &dialog, [&] { dialog.reject(); });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(click_returned);
    QCOMPARE(dialog.runner().wait_depth(), 0);
    QCOMPARE(dialog.runner().state().result, TOLVEX_STOPPED);
    QVERIFY(dialog.runner().shutting_down());
    // Nothing starts any more.
    terminal_.forget_frames();
    child<QPushButton>(&dialog, "buttonRomVer")->click();
    QVERIFY(terminal_.frames().empty());
    QVERIFY(messages.all.isEmpty());
  }
};

QTEST_MAIN(RunnerTest)
#include "runner_test.moc"
