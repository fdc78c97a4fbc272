// The Setting page against the simulated terminal: port opening, clock, retry count
// and capture time, with their failures.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <cstdlib>

#include <tolvex/tolvex.h>

#include "bench_fixture.hpp"
#include "command_runner.hpp"
#include "my_tab_ctrl.hpp"
#include "setting_page.hpp"
#include "tolvex_bench_dlg.hpp"

using Bytes = std::vector<std::uint8_t>;

namespace {

QStringList entries(const QComboBox *combo) {
  QStringList out;
  for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
  return out;
}

QStringList numbered(int first, int last, int width) {
  QStringList out;
  for (int v = first; v <= last; ++v) out << QStringLiteral("%1").arg(v, width, 10, QLatin1Char('0'));
  return out;
}

// Replaces the outcome's data with `bytes` (the terminal answered them).
tolvex::bench::ui::CommandRunner::Collector answering(Bytes bytes) {
  return [bytes](std::uint8_t *data, int *length, std::uint8_t *prc, int *result) {
    if (chk_res(data, length, prc, result) == 0) return 0;
    std::copy(bytes.begin(), bytes.end(), data);
    *length = static_cast<int>(bytes.size());
    return 1;
  };
}

}  // namespace

class SettingPageTest : public QObject {
  Q_OBJECT

 private:
  benchtest::SimTerminal terminal_;
  std::unique_ptr<CTolvexBenchDlg> dialog_;

  template <typename T>
  T *find(const char *name) {
    auto *w = dialog_->tab_ctrl()->setting_page()->findChild<T *>(QString::fromLatin1(name));
    if (w == nullptr) qFatal("no control %s", name);
    return w;
  }
  void click(const char *name) { find<QPushButton>(name)->click(); }
  bool sent(const std::string &code) {
    for (const auto &frame : terminal_.frames()) {
      if (frame.code == code) return true;
    }
    return false;
  }

 private slots:
  void initTestCase() {
    benchtest::enter_scratch_directory();
    QVERIFY(terminal_.start());
    ::setenv("TOLVEX_COM1", terminal_.path().c_str(), 1);
    ::unsetenv("TOLVEX_COM2");
  }

  void init() {
    dialog_ = std::make_unique<CTolvexBenchDlg>();
    terminal_.forget_frames();
  }
  void cleanup() {
    dialog_.reset();
    terminal_.sim().clear_faults();
  }

  void initialState() {
    auto *port = find<QComboBox>("comboPort");
    QCOMPARE(entries(port), (QStringList{" COM 1", " COM 2", " COM 3", " COM 4"}));
    QCOMPARE(port->currentIndex(), 0);
    QCOMPARE(port->itemData(0, Qt::ToolTipRole).toString(), QString::fromStdString(terminal_.path()));
    QCOMPARE(port->itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyS1"));
    auto *baud = find<QComboBox>("comboBaud");
    QCOMPARE(entries(baud), (QStringList{" 9600  BPS", " 19200 BPS", " 38400 BPS", " 57600 BPS"}));
    QCOMPARE(baud->currentIndex(), 2);
    QVERIFY(find<QCheckBox>("checkDemo")->isChecked());
    QCOMPARE(find<QCheckBox>("checkDemo")->text(), QStringLiteral("Demo Program Only"));

    QCOMPARE(entries(find<QComboBox>("comboYear")), numbered(2013, 2024, 4));
    QCOMPARE(entries(find<QComboBox>("comboMonth")), numbered(1, 12, 2));
    QCOMPARE(entries(find<QComboBox>("comboDay")), numbered(1, 31, 2));
    QCOMPARE(entries(find<QComboBox>("comboHour")), numbered(0, 23, 2));
    QCOMPARE(entries(find<QComboBox>("comboMinute")), numbered(0, 59, 2));
    for (const char *name : {"comboYear", "comboMonth", "comboDay", "comboHour", "comboMinute"}) {
      QCOMPARE(find<QComboBox>(name)->currentText(), QString::fromLatin1(name) == "comboYear" ? "2013" : "01");
    }
    QCOMPARE(entries(find<QComboBox>("comboRetry")), (QStringList{"0", "1", "2", "3"}));
    QCOMPARE(entries(find<QComboBox>("comboCapture")), (QStringList{"0", "10", "20", "30", "40", "50", "60"}));
    QCOMPARE(find<QComboBox>("comboRetry")->currentIndex(), 0);
    QCOMPARE(find<QComboBox>("comboCapture")->currentIndex(), 0);
    for (const char *name : {"radioRtcCheck", "radioRetryCheck", "radioCaptureCheck"}) {
      QVERIFY(find<QRadioButton>(name)->isChecked());
    }
    QCOMPARE(find<QRadioButton>("radioCaptureSetting")->text(), QStringLiteral("Setting :"));
    for (const char *name : {"editClock", "editRetry", "editCapture"}) {
      QVERIFY(!find<QLineEdit>(name)->isEnabled());
      QVERIFY(find<QLineEdit>(name)->text().isEmpty());
    }
  }

  void demoPortOpenSendsNothing() {
    benchtest::RecordingMessages messages;
    QFile::remove(QStringLiteral("Port.cfg"));
    const auto frames_before = terminal_.sim().frames_received();
    click("buttonPortOpen");
    QCOMPARE(dialog_->report_text(), QStringLiteral("Result: Port Open Success!!"));
    QCOMPARE(benchtest::read_file(QStringLiteral("Port.cfg")),
             QByteArray("PORT: 0\nBAUDRATE: 38400\nDATA_BIT: 8\nSTOP_BIT: 0\nPARITY_BIT: 0\nCONTROL: 0"));
    QCOMPARE(terminal_.sim().frames_received(), frames_before);
    QVERIFY(messages.all.isEmpty());

    // A port that does not open: its warning only, no success text.
    dialog_->runner().set_report_text(QString());
    ::setenv("TOLVEX_COM2", "/nonexistent/tolvex-tty", 1);
    find<QComboBox>("comboPort")->setCurrentIndex(1);
    click("buttonPortOpen");
    ::unsetenv("TOLVEX_COM2");
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Serial port setup error!\n\n확인후 재시도 하십시요.")});
    QVERIFY(dialog_->report_text().isEmpty());
    find<QComboBox>("comboPort")->setCurrentIndex(0);
    click("buttonPortOpen");
  }

  void portOpenTellsTheTerminalFirst() {
    benchtest::RecordingMessages messages;
    click("buttonPortOpen");
    find<QCheckBox>("checkDemo")->setChecked(false);
    find<QComboBox>("comboBaud")->setCurrentIndex(3);
    click("buttonPortOpen");
    Bytes data;
    QVERIFY(terminal_.last_frame("C26", &data));
    QCOMPARE(data, (Bytes{4}));
    QCOMPARE(terminal_.sim().line_baud(), 57600);
    QCOMPARE(benchtest::open_line_speed(terminal_.path()), 57600);  // the PC side followed
    QCOMPARE(dialog_->report_text(), QStringLiteral(" COMMAND: Set Baud Rate\n RESULT   : Success!    "));
    QVERIFY(benchtest::read_file(QStringLiteral("Port.cfg")).startsWith("PORT: 0\nBAUDRATE: 57600\n"));

    // The port followed: the next command goes through at the new rate.
    find<QComboBox>("comboBaud")->setCurrentIndex(2);
    click("buttonPortOpen");
    QCOMPARE(terminal_.sim().line_baud(), 38400);
    QVERIFY(benchtest::read_file(QStringLiteral("Port.cfg")).startsWith("PORT: 0\nBAUDRATE: 38400\n"));
    QVERIFY(messages.all.isEmpty());

    // Refused by the library (a command is in flight): "Frame Error", no reopening.
    QVERIFY(terminal_.sim().add_fault("C11:late=300"));
    QVERIFY(model() != 0);
    QFile::remove(QStringLiteral("Port.cfg"));
    find<QComboBox>("comboBaud")->setCurrentIndex(0);
    click("buttonPortOpen");
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Frame Error")});
    QVERIFY(!QFile::exists(QStringLiteral("Port.cfg")));
    std::uint8_t buffer[TOLVEX_RESPONSE_MAX];
    int length = 0, result = -1;
    std::uint8_t prc = 0;
    QTRY_VERIFY(chk_res(buffer, &length, &prc, &result) != 0);
    QCOMPARE(result, 0);  // the command in flight was not disturbed
    QCOMPARE(terminal_.sim().line_baud(), 38400);
  }

  void clockSetAndRead() {
    benchtest::RecordingMessages messages;
    click("buttonPortOpen");
    find<QRadioButton>("radioRtcSetup")->setChecked(true);
    find<QComboBox>("comboYear")->setCurrentText(QStringLiteral("2024"));
    find<QComboBox>("comboMonth")->setCurrentText(QStringLiteral("12"));
    find<QComboBox>("comboDay")->setCurrentText(QStringLiteral("31"));
    find<QComboBox>("comboHour")->setCurrentText(QStringLiteral("23"));
    find<QComboBox>("comboMinute")->setCurrentText(QStringLiteral("59"));
    click("buttonRtcExecute");
    Bytes data;
    QVERIFY(terminal_.last_frame("C21", &data));
    QCOMPARE(data, (Bytes{1, 0x20, 0x24, 0x12, 0x31, 0x23, 0x59, 0x00}));
    QVERIFY(find<QLineEdit>("editClock")->text().isEmpty());

    // Reading it back: the terminal's clock runs on from 23:59:00.
    find<QRadioButton>("radioRtcCheck")->setChecked(true);
    click("buttonRtcExecute");
    QVERIFY(terminal_.last_frame("C21", &data));
    QCOMPARE(data, (Bytes{2}));
    QVERIFY(find<QLineEdit>("editClock")->text().startsWith(QStringLiteral(" 2024년 12월 31일 23시 59분 0")));

    // Midnight from the "00" entries.
    find<QRadioButton>("radioRtcSetup")->setChecked(true);
    find<QComboBox>("comboHour")->setCurrentIndex(0);
    find<QComboBox>("comboMinute")->setCurrentIndex(0);
    click("buttonRtcExecute");
    QVERIFY(terminal_.last_frame("C21", &data));
    QCOMPARE(data, (Bytes{1, 0x20, 0x24, 0x12, 0x31, 0x00, 0x00, 0x00}));
    QVERIFY(messages.all.isEmpty());
  }

  void clockTextAndFailedRead() {
    benchtest::RecordingMessages messages;
    click("buttonPortOpen");
    dialog_->runner().set_collector(answering({0x20, 0x13, 0x05, 0x30, 0x14, 0x25, 0x07}));
    click("buttonRtcExecute");
    QCOMPARE(find<QLineEdit>("editClock")->text(), QStringLiteral(" 2013년 05월 30일 14시 25분 07초 "));

    QVERIFY(terminal_.sim().add_fault("C21:status=0x2008"));
    dialog_->runner().set_collector([](std::uint8_t *d, int *l, std::uint8_t *p, int *r) { return chk_res(d, l, p, r); });
    click("buttonRtcExecute");
    QVERIFY(find<QLineEdit>("editClock")->text().isEmpty());
    QCOMPARE(dialog_->report_text(),
             QStringLiteral(" COMMAND: Set RTC IC\n RESULT   : False!\n ERROR : Unavailable Real Time Clock IC.    "));

    // With no choice in the group: the request to choose, nothing sent.
    terminal_.forget_frames();
    auto *setup = find<QRadioButton>("radioRtcSetup");
    auto *check = find<QRadioButton>("radioRtcCheck");
    setup->setAutoExclusive(false);
    check->setAutoExclusive(false);
    setup->setChecked(false);
    check->setChecked(false);
    click("buttonRtcExecute");
    QCOMPARE(messages.texts(), QStringList{QStringLiteral(" 항목을 선택해주세요! ")});
    QVERIFY(!sent("C21"));
  }

  void retryCount() {
    benchtest::RecordingMessages messages;
    click("buttonPortOpen");
    find<QRadioButton>("radioRetrySetting")->setChecked(true);
    find<QComboBox>("comboRetry")->setCurrentIndex(3);
    click("buttonRetryApply");
    Bytes data;
    QVERIFY(terminal_.last_frame("C24", &data));
    QCOMPARE(data, (Bytes{1, 3}));
    QVERIFY(find<QLineEdit>("editRetry")->text().isEmpty());

    find<QRadioButton>("radioRetryCheck")->setChecked(true);
    click("buttonRetryApply");
    QVERIFY(terminal_.last_frame("C24", &data));
    QCOMPARE(data, (Bytes{2}));
    QCOMPARE(find<QLineEdit>("editRetry")->text(), QStringLiteral(" 03"));

    QVERIFY(terminal_.sim().add_fault("C24:status=0x2007"));
    click("buttonRetryApply");
    QVERIFY(find<QLineEdit>("editRetry")->text().isEmpty());

    // No choice in the group: nothing at all.
    terminal_.forget_frames();
    auto *setting = find<QRadioButton>("radioRetrySetting");
    auto *check = find<QRadioButton>("radioRetryCheck");
    setting->setAutoExclusive(false);
    check->setAutoExclusive(false);
    check->setChecked(false);
    click("buttonRetryApply");
    QVERIFY(!sent("C24"));
    QVERIFY(messages.all.isEmpty());
  }

  void refusedCommandsLeaveTheBoxes() {
    benchtest::RecordingMessages messages;
    click("buttonPortOpen");
    click("buttonRtcExecute");
    click("buttonRetryApply");
    click("buttonCaptureApply");
    const QString clock = find<QLineEdit>("editClock")->text();
    QVERIFY(!clock.isEmpty());
    QCOMPARE(find<QLineEdit>("editRetry")->text(), QStringLiteral(" 03"));
    QVERIFY(!find<QLineEdit>("editCapture")->text().isEmpty());
    const QString capture = find<QLineEdit>("editCapture")->text();
    const QString report = dialog_->report_text();

    // A command in flight makes the library refuse the next: "Frame Error" each time,
    // no box and no report changes, nothing goes to the terminal.
    QVERIFY(terminal_.sim().add_fault("C11:late=500"));
    QVERIFY(model() != 0);
    terminal_.forget_frames();
    click("buttonRtcExecute");
    click("buttonRetryApply");
    click("buttonCaptureApply");
    QCOMPARE(messages.texts(), (QStringList{"Frame Error", "Frame Error", "Frame Error"}));
    QCOMPARE(find<QLineEdit>("editClock")->text(), clock);
    QCOMPARE(find<QLineEdit>("editRetry")->text(), QStringLiteral(" 03"));
    QCOMPARE(find<QLineEdit>("editCapture")->text(), capture);
    QCOMPARE(dialog_->report_text(), report);
    QVERIFY(!sent("C21") && !sent("C24") && !sent("C23"));
    std::uint8_t buffer[TOLVEX_RESPONSE_MAX];
    int length = 0, result = -1;
    std::uint8_t prc = 0;
    QTRY_VERIFY(chk_res(buffer, &length, &prc, &result) != 0);
  }

  void captureTime() {
    benchtest::RecordingMessages messages;
    click("buttonPortOpen");
    find<QRadioButton>("radioCaptureSetting")->setChecked(true);
    find<QComboBox>("comboCapture")->setCurrentText(QStringLiteral("30"));
    click("buttonCaptureApply");
    Bytes data;
    QVERIFY(terminal_.last_frame("C23", &data));
    QCOMPARE(data, (Bytes{1, 3}));

    find<QRadioButton>("radioCaptureCheck")->setChecked(true);
    click("buttonCaptureApply");
    QVERIFY(terminal_.last_frame("C23", &data));
    QCOMPARE(data, (Bytes{2}));
    QCOMPARE(find<QLineEdit>("editCapture")->text(), QStringLiteral("30 Sec"));

    // A value outside the table and a failed read both leave the box as it was.
    dialog_->runner().set_collector(answering({7}));
    click("buttonCaptureApply");
    QCOMPARE(find<QLineEdit>("editCapture")->text(), QStringLiteral("30 Sec"));
    dialog_->runner().set_collector(answering({0}));
    click("buttonCaptureApply");
    QCOMPARE(find<QLineEdit>("editCapture")->text(), QStringLiteral("NONE"));
    dialog_->runner().set_collector([](std::uint8_t *d, int *l, std::uint8_t *p, int *r) { return chk_res(d, l, p, r); });
    QVERIFY(terminal_.sim().add_fault("C23:status=0x2007"));
    click("buttonCaptureApply");
    QCOMPARE(find<QLineEdit>("editCapture")->text(), QStringLiteral("NONE"));
    QCOMPARE(dialog_->runner().state().result, 0x2007);

    terminal_.sim().clear_faults();
    terminal_.forget_frames();
    auto *setting = find<QRadioButton>("radioCaptureSetting");
    auto *check = find<QRadioButton>("radioCaptureCheck");
    setting->setAutoExclusive(false);
    check->setAutoExclusive(false);
    check->setChecked(false);
    click("buttonCaptureApply");
    QVERIFY(!sent("C23"));
    QVERIFY(messages.all.isEmpty());
  }
};

QTEST_MAIN(SettingPageTest)
#include "setting_page_test.moc"
