// The "MS/IC" page's widgets against the simulated terminal: the boxes, check boxes and
// labels its model works, the hints as typed, upper-case typing. The page's behaviour
// itself is tested on its model.
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

  // Typing in a write box updates its hint; a text the track cannot take turns the
  // hint red and marks the characters it cannot encode.
  void hintFollowsTheTypedText() {
    auto *write = write_box(2);
    auto *hint = ui_.find<QLabel>(QStringLiteral("labelHint2"));
    QCOMPARE(hint->text(), QStringLiteral("37/37"));
    QVERIFY(hint->styleSheet().isEmpty());
    write->clear();
    write->setFocus();
    QTest::keyClicks(write, QStringLiteral("12a4"));
    QCOMPARE(hint->text(), QStringLiteral("4/37, 1 not encodable"));
    QVERIFY(hint->styleSheet().contains(QStringLiteral("#b00000")));
    QCOMPARE(write->extraSelections().size(), 1);
    QCOMPARE(write->extraSelections().first().cursor.selectedText(), QStringLiteral("A"));
    write->setPlainText(QStringLiteral("1234"));
    QCOMPARE(hint->text(), QStringLiteral("4/37"));
    QVERIFY(hint->styleSheet().isEmpty());
    QVERIFY(write->extraSelections().isEmpty());
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
