// The "MS/IC" page against the simulated terminal: tracks written, read and compared,
// coercivity, IC reset and the APDU series, checked on the frames the terminal received.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <tolvex/tolvex.h>

#include "bench_fixture.hpp"
#include "command_runner.hpp"
#include "ms_page.hpp"
#include "my_tab_ctrl.hpp"
#include "tolvex_bench_dlg.hpp"

using Bytes = std::vector<std::uint8_t>;

namespace {

const QString kTrack1 = QStringLiteral("1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ1234");
const QString kTrack2 = QStringLiteral("1234567890123456789012345678901234567");
const QString kTrack3 = QStringLiteral(
    "12345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234");

Bytes bytes_of(const QString &text) {
  const QByteArray utf8 = text.toUtf8();
  return Bytes(utf8.begin(), utf8.end());
}

QString rotated(const QString &text, int times) { return text.mid(times) + text.left(times); }

}  // namespace

class MsPageTest : public QObject {
  Q_OBJECT

 private:
  benchtest::SimTerminal terminal_;
  std::unique_ptr<CTolvexBenchDlg> dialog_;

  benchtest::PageDriver ui_{terminal_};

  QPlainTextEdit *write_box(int track) { return ui_.find<QPlainTextEdit>(QStringLiteral("editWrite%1").arg(track)); }
  QPlainTextEdit *read_box(int track) { return ui_.find<QPlainTextEdit>(QStringLiteral("editRead%1").arg(track)); }
  QCheckBox *check(const char *kind, int track) {
    return ui_.find<QCheckBox>(QStringLiteral("check%1%2").arg(QLatin1String(kind)).arg(track));
  }
  void set_ic(const QString &cla, const QString &ins, const QString &p1, const QString &p2, const QString &lc,
              const QString &data, const QString &le) {
    ui_.type("editCLA", cla);
    ui_.type("editINS", ins);
    ui_.type("editP1", p1);
    ui_.type("editP2", p2);
    ui_.type("editLc", lc);
    ui_.find<QPlainTextEdit>(QStringLiteral("editLcData"))->setPlainText(data);
    ui_.type("editLe", le);
  }
  QString status_word() { return ui_.find<QLabel>(QStringLiteral("labelStatusWord"))->text(); }
  // Runs a command of the test's own through the bench's runner.
  bool run(const char *code, const std::function<int()> &start) {
    return dialog_->runner().run(code, start) && dialog_->runner().state().result == 0;
  }
  // Keeps the library busy with "C11" for a while, so the page's next command is refused.
  void occupy_library() {
    QVERIFY(terminal_.sim().add_fault("C11:late=2000"));
    QVERIFY(model() != 0);
  }
  void wait_until_library_idle() { QTRY_VERIFY_WITH_TIMEOUT(benchtest::library_done(), 10000); }

 private slots:
  void initTestCase() {
    benchtest::enter_scratch_directory();
    QVERIFY(terminal_.start());
    QVERIFY(benchtest::open_port_to(terminal_));
  }

  void init() {
    dialog_ = std::make_unique<CTolvexBenchDlg>();
    ui_.attach(dialog_->tab_ctrl()->ms_page(), &dialog_->runner());
    terminal_.forget_frames();
  }
  void cleanup() {
    terminal_.sim().clear_faults();
    dialog_->runner().set_collector(chk_res);
    if (terminal_.sim().card_inside()) run("C34", [] { return card_capture(); });
    dialog_.reset();
  }

  void allSelectToggles() {
    for (int track = 1; track <= 3; ++track) {
      check("Wr", track)->setChecked(true);
      check("Rd", track)->setChecked(track != 3);
    }
    ui_.click("buttonAllSelect");
    for (int track = 1; track <= 3; ++track) QVERIFY(check("Wr", track)->isChecked() && check("Rd", track)->isChecked());
    ui_.click("buttonAllSelect");
    for (int track = 1; track <= 3; ++track) QVERIFY(!check("Wr", track)->isChecked() && !check("Rd", track)->isChecked());
  }

  void msSelectSendsTheCoercivity() {
    benchtest::RecordingMessages messages;
    auto *combo = ui_.find<QComboBox>(QStringLiteral("comboCoercivity"));
    const std::pair<int, std::uint8_t> cases[] = {{1, '3'}, {0, '0'}, {-1, '0'}};
    for (const auto &[index, byte] : cases) {
      combo->setCurrentIndex(index);
      ui_.click("buttonMsSelect");
      Bytes data;
      QVERIFY(terminal_.last_frame("C48", &data));
      QCOMPARE(data, Bytes{byte});
    }
    QCOMPARE(ui_.frames("C48").size(), 3u);
    QVERIFY(messages.all.isEmpty());
  }

  void msExecuteWritesAndReadsInOrder() {
    benchtest::RecordingMessages messages;
    // Nothing checked: the read boxes and the report are emptied, nothing is sent.
    for (int track = 1; track <= 3; ++track) read_box(track)->setPlainText(QStringLiteral("OLD"));
    dialog_->runner().set_report_text(QStringLiteral("old report"));
    ui_.click("buttonMsExecute");
    for (int track = 1; track <= 3; ++track) QVERIFY(read_box(track)->toPlainText().isEmpty());
    QVERIFY(dialog_->report_text().isEmpty());
    QVERIFY(terminal_.frames().empty());

    QVERIFY(run("C31", [] { return card_stk_mov(1, 1); }));
    terminal_.forget_frames();

    // Two writes of track 2: the default text, then the text rotated by one place.
    check("Wr", 2)->setChecked(true);
    ui_.click("buttonMsExecute");
    ui_.click("buttonMsExecute");
    auto writes = ui_.frames("M33");
    QCOMPARE(writes.size(), 2u);
    Bytes first{2};
    const Bytes text = bytes_of(kTrack2);
    first.insert(first.end(), text.begin(), text.end());
    QCOMPARE(writes[0].data, first);
    Bytes second{2};
    const Bytes once = bytes_of(rotated(kTrack2, 1));
    second.insert(second.end(), once.begin(), once.end());
    QCOMPARE(writes[1].data, second);
    QVERIFY(once.front() == '2' && once.back() == '1');
    QCOMPARE(write_box(2)->toPlainText(), rotated(kTrack2, 2));

    // All six: write 1, read 1, write 2, read 2, write 3, read 3; each read shows what was
    // written (before the rotation) and is not marked.
    terminal_.forget_frames();
    ui_.click("buttonAllSelect");
    const QString written[] = {kTrack1, rotated(kTrack2, 2), kTrack3};
    ui_.click("buttonMsExecute");
    const auto sent = terminal_.frames();
    QCOMPARE(sent.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
      QCOMPARE(sent[i].code, std::string(i % 2 == 0 ? "M33" : "M31"));
      QCOMPARE(static_cast<int>(sent[i].data.at(0)), static_cast<int>(i / 2 + 1));
    }
    for (int track = 1; track <= 3; ++track) {
      QCOMPARE(read_box(track)->toPlainText(), written[track - 1]);
      QVERIFY(!read_box(track)->property("differs").toBool());
    }

    // Track 2 changed behind the page's back: its read box is marked.
    static const std::uint8_t other[] = {'9', '9', '9'};
    QVERIFY(run("M33", [] { return ms_wt(0, 2, other, 3); }));
    ui_.click("buttonAllSelect");
    check("Rd", 2)->setChecked(true);
    ui_.click("buttonMsExecute");
    QCOMPARE(read_box(2)->toPlainText(), QStringLiteral("999"));
    QVERIFY(read_box(2)->property("differs").toBool());
    QVERIFY(read_box(1)->toPlainText().isEmpty());

    // A failed write keeps its text; a failed read leaves its box empty.
    QVERIFY(terminal_.sim().add_fault("M33:status=0x2202"));
    QVERIFY(terminal_.sim().add_fault("M31:status=0x2209"));
    check("Wr", 1)->setChecked(true);
    check("Rd", 1)->setChecked(true);
    check("Rd", 2)->setChecked(false);
    const QString before = write_box(1)->toPlainText();
    ui_.click("buttonMsExecute");
    QCOMPARE(write_box(1)->toPlainText(), before);
    QVERIFY(read_box(1)->toPlainText().isEmpty());
    QCOMPARE(ui_.frames("M31").size(), 5u);  // the failed read was sent
    QVERIFY(messages.all.isEmpty());
  }

  void allWriteThenAllRead() {
    benchtest::RecordingMessages messages;
    QVERIFY(run("C31", [] { return card_stk_mov(1, 1); }));
    terminal_.forget_frames();

    ui_.click("buttonAllWrite");
    Bytes block = bytes_of(kTrack1);
    block.push_back(0);
    const Bytes t2 = bytes_of(kTrack2), t3 = bytes_of(kTrack3);
    block.insert(block.end(), t2.begin(), t2.end());
    block.push_back(0);
    block.insert(block.end(), t3.begin(), t3.end());
    Bytes data;
    QVERIFY(terminal_.last_frame("M36", &data));
    QCOMPARE(data.size(), 219u);
    QCOMPARE(data, block);
    QCOMPARE(write_box(1)->toPlainText(), rotated(kTrack1, 1));
    QCOMPARE(write_box(2)->toPlainText(), rotated(kTrack2, 1));
    QCOMPARE(write_box(3)->toPlainText(), rotated(kTrack3, 1));

    // A failed "All Write" still rotates every box, and what counts as written stays.
    QVERIFY(terminal_.sim().add_fault("M36:status=0x2202"));
    ui_.click("buttonAllWrite");
    QCOMPARE(write_box(1)->toPlainText(), rotated(kTrack1, 2));
    terminal_.sim().clear_faults();

    ui_.click("buttonAllRead");
    QVERIFY(terminal_.last_frame("M35", &data));
    QVERIFY(data.empty());
    const QString expected[] = {kTrack1, kTrack2, kTrack3};
    for (int track = 1; track <= 3; ++track) {
      QCOMPARE(read_box(track)->toPlainText(), expected[track - 1]);
      QVERIFY(!read_box(track)->property("differs").toBool());
    }
    QVERIFY(messages.all.isEmpty());
  }

  void allReadSplitsAndReportsFrameErrors() {
    benchtest::RecordingMessages messages;
    auto &runner = dialog_->runner();
    runner.set_collector(benchtest::answering({0x07, 'A', 'B', 0, 'C', 'D', 0, 'E', 'F'}));
    ui_.click("buttonAllRead");
    QCOMPARE(read_box(1)->toPlainText(), QStringLiteral("AB"));
    QCOMPARE(read_box(2)->toPlainText(), QStringLiteral("CD"));
    QCOMPARE(read_box(3)->toPlainText(), QStringLiteral("EF"));
    QVERIFY(messages.all.isEmpty());

    Bytes no_first(1, 0x07);
    no_first.insert(no_first.end(), 320, 'X');
    runner.set_collector(benchtest::answering(no_first));
    ui_.click("buttonAllRead");
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("RX Packet Frame Error 2")});
    for (int track = 1; track <= 3; ++track) QVERIFY(read_box(track)->toPlainText().isEmpty());

    Bytes no_second{0x07, 'A', 'B', 0};
    no_second.insert(no_second.end(), 320, 'Y');
    runner.set_collector(benchtest::answering(no_second));
    ui_.click("buttonAllRead");
    QCOMPARE(messages.texts().last(), QStringLiteral("RX Packet Frame Error 3"));
    QCOMPARE(read_box(1)->toPlainText(), QStringLiteral("AB"));
    QVERIFY(read_box(2)->toPlainText().isEmpty() && read_box(3)->toPlainText().isEmpty());

    // Refused by the library: "Frame Error 1", no "M35" sent, the boxes stay empty.
    runner.set_collector(chk_res);
    messages.all.clear();
    occupy_library();
    ui_.click("buttonAllRead");
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Frame Error 1")});
    for (int track = 1; track <= 3; ++track) QVERIFY(read_box(track)->toPlainText().isEmpty());
    wait_until_library_idle();
    QCOMPARE(ui_.frames("M35").size(), 3u);
  }

  void longTextsAreShownWhole() {
    benchtest::RecordingMessages messages;
    auto &runner = dialog_->runner();
    Bytes long_read(400, 'Z');
    long_read.push_back(0);
    runner.set_collector(benchtest::answering(long_read));
    check("Rd", 1)->setChecked(true);
    check("Wr", 3)->setChecked(true);
    const QString long_write = QString(280, QLatin1Char('7')) + QStringLiteral("8");
    write_box(3)->setPlainText(long_write);
    ui_.click("buttonMsExecute");
    QCOMPARE(read_box(1)->toPlainText(), QString(400, QLatin1Char('Z')));
    QCOMPARE(write_box(3)->toPlainText(), rotated(long_write, 1));
    QCOMPARE(ui_.frames("M33").at(0).data.size(), 282u);
    QVERIFY(messages.all.isEmpty());
  }

  void oversizedTextsAreRefusedBeforeAnythingIsSent() {
    benchtest::RecordingMessages messages;
    read_box(1)->setPlainText(QStringLiteral("KEPT"));
    // 150 characters of two bytes each: 300 bytes, one too many.
    const QString wide(150, QChar(0x00C4));
    write_box(2)->setPlainText(wide);
    check("Wr", 1)->setChecked(true);
    check("Wr", 2)->setChecked(true);
    ui_.click("buttonMsExecute");
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Track2: 300 bytes, at most 299 fit. Nothing was sent.")});
    QCOMPARE(write_box(2)->toPlainText(), wide);
    QCOMPARE(write_box(1)->toPlainText(), kTrack1);
    QCOMPARE(read_box(1)->toPlainText(), QStringLiteral("KEPT"));

    // "All Write": 100 + 100 + 98 bytes and two separators make 300.
    write_box(1)->setPlainText(QString(100, QLatin1Char('1')));
    write_box(2)->setPlainText(QString(100, QLatin1Char('2')));
    write_box(3)->setPlainText(QString(98, QLatin1Char('3')));
    ui_.click("buttonAllWrite");
    QVERIFY(messages.texts().last().contains(QStringLiteral("at most 299")));
    QCOMPARE(write_box(1)->toPlainText(), QString(100, QLatin1Char('1')));

    // APDUs: an empty header box, an odd data field, a data field too long.
    struct Case {
      QString p1, data, named;
    } cases[] = {{QString(), QStringLiteral("3F00"), QStringLiteral("P1")},
                 {QStringLiteral("04"), QStringLiteral("3F0"), QStringLiteral("[Lc Data]")},
                 // Two characters, three bytes of 8-bit text: an odd number of digits.
                 {QStringLiteral("04"), QString(QChar(0x00C4)) + QStringLiteral("1"), QStringLiteral("[Lc Data]")},
                 {QStringLiteral("04"), QString(588, QLatin1Char('1')), QStringLiteral("298")}};
    for (const Case &c : cases) {
      set_ic(QStringLiteral("00"), QStringLiteral("A4"), c.p1, QStringLiteral("00"), QStringLiteral("02"), c.data, {});
      ui_.click("buttonIcExecute");
      QVERIFY2(messages.texts().last().contains(c.named), qPrintable(messages.texts().last()));
    }
    QCOMPARE(messages.all.size(), 6);
    QVERIFY(terminal_.frames().empty());
  }

  // "Reset" shows the answer to reset as such, "Execurte" the status word; a refused
  // "Execurte" leaves no older result behind.
  void icResultIsNamedForItsCommand() {
    benchtest::RecordingMessages messages;
    auto *title = ui_.find<QLabel>(QStringLiteral("labelSwTitle"));
    QVERIFY(run("C31", [] { return card_stk_mov(1, 2); }));
    terminal_.forget_frames();
    ui_.click("buttonIcReset");
    QCOMPARE(ui_.last("I21"), Bytes{});
    QCOMPARE(title->text(), QStringLiteral("Answer to reset"));
    QCOMPARE(status_word(), QStringLiteral("3B 66 00 00 54 56 58 53 49 4D\nTS 3B direct convention\nProtocol T=0\n"
                                           "Historical: \"TVXSIM\""));

    set_ic(QStringLiteral("00"), QStringLiteral("A4"), QStringLiteral("04"), QStringLiteral("00"), QStringLiteral("02"),
           QStringLiteral("3F00"), {});
    ui_.click("buttonIcExecute");
    QCOMPARE(title->text(), QStringLiteral("SW1 SW2"));
    QCOMPARE(status_word(), QStringLiteral("6A 82\nfile not found"));
    terminal_.forget_frames();
    ui_.type("editP1", QString());
    ui_.click("buttonIcExecute");
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("P1 is empty")});
    QVERIFY(status_word().isEmpty());
    QVERIFY(terminal_.frames().empty());

    // Two bytes that are a status word, not an answer to reset.
    dialog_->runner().set_collector(benchtest::answering({0x90, 0x00}));
    ui_.click("buttonIcReset");
    QCOMPARE(title->text(), QStringLiteral("Answer to reset"));
    QCOMPARE(status_word(), QStringLiteral("90 00\nnot a valid answer-to-reset:\nTS 90 is neither 3B nor 3F"));
    // A failed reset shows nothing.
    dialog_->runner().set_collector(benchtest::answering({0x3B, 0x00}, 2));
    ui_.click("buttonIcReset");
    QVERIFY(status_word().isEmpty());
    QCOMPARE(messages.all.size(), 1);
  }

  // A track text made too long during an earlier step's wait: that write alone is
  // skipped, and the message says the earlier step was sent.
  void writeSkippedMidRunSaysWhatWasSent() {
    benchtest::RecordingMessages messages;
    QVERIFY(run("C31", [] { return card_stk_mov(1, 1); }));
    terminal_.forget_frames();
    bool edited = false;
    dialog_->runner().set_collector([this, &edited](std::uint8_t *data, int *length, std::uint8_t *prc, int *res) {
      if (!edited) {
        edited = true;
        write_box(2)->setPlainText(QString(300, QLatin1Char('5')));
      }
      return chk_res(data, length, prc, res);
    });
    check("Wr", 1)->setChecked(true);
    check("Wr", 2)->setChecked(true);
    check("Rd", 2)->setChecked(true);
    ui_.click("buttonMsExecute");
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Track2: 300 bytes, at most 299 fit. This write was not sent. "
                                                          "The 1 command before it was sent; the steps after it still run.")});
    const auto sent = terminal_.frames();
    QCOMPARE(sent.size(), 2u);
    QCOMPARE(sent[0].code, std::string("M33"));
    QCOMPARE(sent[0].data.at(0), std::uint8_t{1});
    QCOMPARE(sent[1].code, std::string("M31"));
    QCOMPARE(sent[1].data, Bytes{2});
    QCOMPARE(write_box(2)->toPlainText(), QString(300, QLatin1Char('5')));
  }

  void apduSeriesOfOneHundred() {
    benchtest::RecordingMessages messages;
    QVERIFY(run("C31", [] { return card_stk_mov(1, 2); }));
    ui_.click("buttonIcReset");
    QCOMPARE(ui_.frames("I21").size(), 1u);
    QVERIFY(status_word().startsWith(QStringLiteral("3B 66 00 00")));

    terminal_.forget_frames();
    set_ic(QStringLiteral("00"), QStringLiteral("A4"), QStringLiteral("04"), QStringLiteral("00"), QStringLiteral("02"),
           QStringLiteral("3F00"), {});
    ui_.click("buttonIcExecute");
    auto sent = ui_.frames("I22");
    QCOMPARE(sent.size(), 100u);
    for (const auto &frame : sent) QCOMPARE(frame.data, (Bytes{0x00, 0x07, 0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00}));
    // The simulated card answers SELECT by name of an unknown application so.
    QCOMPARE(status_word(), QStringLiteral("6A 82\nfile not found"));

    // The header boxes by the byte rule: 5 gives 0, G1 gives 0x01, 1G gives 0.
    terminal_.forget_frames();
    set_ic(QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("1G"), QStringLiteral("00"), {}, {}, {});
    ui_.click("buttonIcExecute");
    sent = ui_.frames("I22");
    QCOMPARE(sent.size(), 100u);
    QCOMPARE(sent.back().data, (Bytes{0x00, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00}));
    QCOMPARE(status_word(), QStringLiteral("6D 00\nINS not supported"));

    // Every send failing (the card is gone): still 100, and nothing is decoded.
    QVERIFY(run("C34", [] { return card_capture(); }));
    terminal_.forget_frames();
    ui_.click("buttonIcExecute");
    QCOMPARE(ui_.frames("I22").size(), 100u);
    QVERIFY(status_word().isEmpty());
    QVERIFY(dialog_->report_text().contains(QStringLiteral("IC Card Direct Control")));

    // Every send refused by the library: 100 calls, 100 "Frame Error", nothing sent.
    QVERIFY(messages.all.isEmpty());
    terminal_.forget_frames();
    occupy_library();
    ui_.click("buttonIcExecute");
    QCOMPARE(messages.all.size(), 100);
    QCOMPARE(messages.texts().count(QStringLiteral("Frame Error")), 100);
    wait_until_library_idle();
    QVERIFY(ui_.frames("I22").empty());
  }

  void typedTextTurnsUpperCase() {
    auto *write = write_box(1);
    write->clear();
    write->setFocus();
    QTest::keyClicks(write, QStringLiteral("ab1"));
    QCOMPARE(write->toPlainText(), QStringLiteral("AB1"));
    auto *cla = ui_.find<QLineEdit>(QStringLiteral("editCLA"));
    cla->clear();
    QTest::keyClicks(cla, QStringLiteral("a4f"));
    QCOMPARE(cla->text(), QStringLiteral("A4"));
    // Text the page shows is left as the terminal sent it.
    read_box(1)->setPlainText(QStringLiteral("abc"));
    QCOMPARE(read_box(1)->toPlainText(), QStringLiteral("abc"));
  }
};

QTEST_MAIN(MsPageTest)
#include "ms_page_test.moc"
