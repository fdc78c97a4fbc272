// The Setting page's widgets against the simulated terminal: the lists and their tips,
// the port opened from the page, the clock group's radio buttons. The page's behaviour
// itself is tested on its model.
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

using benchtest::entries;

namespace {

QStringList numbered(int first, int last, int width) {
  QStringList out;
  for (int v = first; v <= last; ++v) out << QStringLiteral("%1").arg(v, width, 10, QLatin1Char('0'));
  return out;
}

}  // namespace

class SettingPageTest : public QObject {
  Q_OBJECT

 private:
  benchtest::SimTerminal terminal_;
  std::unique_ptr<CTolvexBenchDlg> dialog_;

  benchtest::PageDriver ui_{terminal_};

  // Leaves neither of the group's two radio buttons checked.
  void leave_unchosen(const char *first, const char *second) {
    for (const char *name : {first, second}) ui_.find<QRadioButton>(name)->setAutoExclusive(false);
    for (const char *name : {first, second}) ui_.find<QRadioButton>(name)->setChecked(false);
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
    ui_.attach(dialog_->tab_ctrl()->setting_page(), &dialog_->runner());
    terminal_.forget_frames();
  }
  void cleanup() {
    dialog_.reset();
    terminal_.sim().clear_faults();
  }

  void initialState() {
    auto *port = ui_.find<QComboBox>("comboPort");
    QCOMPARE(entries(port), (QStringList{" COM 1", " COM 2", " COM 3", " COM 4"}));
    QCOMPARE(port->currentIndex(), 0);
    QCOMPARE(port->itemData(0, Qt::ToolTipRole).toString(), QString::fromStdString(terminal_.path()));
    QCOMPARE(port->itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyS1"));
    auto *baud = ui_.find<QComboBox>("comboBaud");
    QCOMPARE(entries(baud), (QStringList{" 9600  BPS", " 19200 BPS", " 38400 BPS", " 57600 BPS"}));
    QCOMPARE(baud->currentIndex(), 2);
    QVERIFY(ui_.find<QCheckBox>("checkDemo")->isChecked());
    QCOMPARE(ui_.find<QCheckBox>("checkDemo")->text(), QStringLiteral("Demo Program Only"));

    QCOMPARE(entries(ui_.find<QComboBox>("comboYear")), numbered(2013, 2024, 4));
    QCOMPARE(entries(ui_.find<QComboBox>("comboMonth")), numbered(1, 12, 2));
    QCOMPARE(entries(ui_.find<QComboBox>("comboDay")), numbered(1, 31, 2));
    QCOMPARE(entries(ui_.find<QComboBox>("comboHour")), numbered(0, 23, 2));
    QCOMPARE(entries(ui_.find<QComboBox>("comboMinute")), numbered(0, 59, 2));
    for (const char *name : {"comboYear", "comboMonth", "comboDay", "comboHour", "comboMinute"}) {
      QCOMPARE(ui_.find<QComboBox>(name)->currentText(), QString::fromLatin1(name) == "comboYear" ? "2013" : "01");
    }
    QCOMPARE(entries(ui_.find<QComboBox>("comboRetry")), (QStringList{"0", "1", "2", "3"}));
    QCOMPARE(entries(ui_.find<QComboBox>("comboCapture")), (QStringList{"0", "10", "20", "30", "40", "50", "60"}));
    QCOMPARE(ui_.find<QComboBox>("comboRetry")->currentIndex(), 0);
    QCOMPARE(ui_.find<QComboBox>("comboCapture")->currentIndex(), 0);
    for (const char *name : {"radioRtcCheck", "radioRetryCheck", "radioCaptureCheck"}) {
      QVERIFY(ui_.find<QRadioButton>(name)->isChecked());
    }
    QCOMPARE(ui_.find<QRadioButton>("radioCaptureSetting")->text(), QStringLiteral("Setting :"));
    for (const char *name : {"editClock", "editRetry", "editCapture"}) {
      QVERIFY(!ui_.find<QLineEdit>(name)->isEnabled());
      QVERIFY(ui_.find<QLineEdit>(name)->text().isEmpty());
    }
  }

  void portOpenTellsTheTerminalFirst() {
    benchtest::RecordingMessages messages;
    ui_.click("buttonPortOpen");
    ui_.find<QCheckBox>("checkDemo")->setChecked(false);
    ui_.find<QComboBox>("comboBaud")->setCurrentIndex(3);
    ui_.click("buttonPortOpen");
    Bytes data;
    QVERIFY(terminal_.last_frame("C26", &data));
    QCOMPARE(data, (Bytes{4}));
    QCOMPARE(terminal_.sim().line_baud(), 57600);
    QCOMPARE(benchtest::open_line_speed(terminal_.path()), 57600);  // the PC side followed
    QCOMPARE(dialog_->report_text(), QStringLiteral(" COMMAND: Set Baud Rate\n RESULT   : Success!    "));
    QVERIFY(benchtest::read_file(QStringLiteral("Port.cfg")).startsWith("PORT: 0\nBAUDRATE: 57600\n"));

    // The port followed: the next command goes through at the new rate.
    ui_.find<QComboBox>("comboBaud")->setCurrentIndex(2);
    ui_.click("buttonPortOpen");
    QCOMPARE(terminal_.sim().line_baud(), 38400);
    QVERIFY(benchtest::read_file(QStringLiteral("Port.cfg")).startsWith("PORT: 0\nBAUDRATE: 38400\n"));
    QVERIFY(messages.all.isEmpty());

    // Refused by the library (a command is in flight): "Frame Error", no reopening.
    QVERIFY(terminal_.sim().add_fault("C11:late=300"));
    QVERIFY(model() != 0);
    QFile::remove(QStringLiteral("Port.cfg"));
    ui_.find<QComboBox>("comboBaud")->setCurrentIndex(0);
    ui_.click("buttonPortOpen");
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Frame Error")});
    QVERIFY(!QFile::exists(QStringLiteral("Port.cfg")));
    int result = -1;
    QTRY_VERIFY(benchtest::library_done(&result));
    QCOMPARE(result, 0);  // the command in flight was not disturbed
    QCOMPARE(terminal_.sim().line_baud(), 38400);
  }

  void clockTextAndFailedRead() {
    benchtest::RecordingMessages messages;
    ui_.click("buttonPortOpen");
    dialog_->runner().set_collector(benchtest::answering({0x20, 0x13, 0x05, 0x30, 0x14, 0x25, 0x07}));
    ui_.click("buttonRtcExecute");
    QCOMPARE(ui_.find<QLineEdit>("editClock")->text(), QStringLiteral(" 2013년 05월 30일 14시 25분 07초 "));

    QVERIFY(terminal_.sim().add_fault("C21:status=0x2008"));
    dialog_->runner().set_collector(chk_res);
    ui_.click("buttonRtcExecute");
    QVERIFY(ui_.find<QLineEdit>("editClock")->text().isEmpty());
    QCOMPARE(dialog_->report_text(),
             QStringLiteral(" COMMAND: Set RTC IC\n RESULT   : False!\n ERROR : Unavailable Real Time Clock IC.    "));

    // With no choice in the group: the request to choose, nothing sent.
    terminal_.forget_frames();
    leave_unchosen("radioRtcSetup", "radioRtcCheck");
    ui_.click("buttonRtcExecute");
    QCOMPARE(messages.texts(), QStringList{QStringLiteral(" 항목을 선택해주세요! ")});
    QVERIFY(!ui_.sent("C21"));
  }

};

QTEST_MAIN(SettingPageTest)
#include "setting_page_test.moc"
