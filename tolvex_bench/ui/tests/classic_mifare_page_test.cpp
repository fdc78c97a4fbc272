// The ClassMifare page's widgets: what the form shows, upper-case typing, the message
// boxes really raised, and every button reaching its command on the simulated terminal.
// The page's behaviour itself is tested on its model.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <tolvex/tolvex.h>

#include "bench_fixture.hpp"
#include "classic_mifare_page.hpp"
#include "command_runner.hpp"
#include "my_tab_ctrl.hpp"
#include "tolvex_bench_dlg.hpp"

using Bytes = std::vector<std::uint8_t>;
using tolvex::bench::ui::MessageIcon;

namespace {

Bytes repeat(std::uint8_t byte, std::size_t n) { return Bytes(n, byte); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

class ClassicMifarePageTest : public QObject {
  Q_OBJECT

 private:
  benchtest::SimTerminal terminal_;
  std::unique_ptr<CTolvexBenchDlg> dialog_;

  benchtest::PageDriver ui_{terminal_};

 private slots:
  void initTestCase() {
    benchtest::enter_scratch_directory();
    QVERIFY(terminal_.start());
    QVERIFY(benchtest::open_port_to(terminal_));
    QVERIFY(card_stk_mov(1, 3) != 0);  // a card into the antenna field
    QVERIFY(QTest::qWaitFor([] { return benchtest::library_done(); }, 10000));
  }

  void init() {
    dialog_ = std::make_unique<CTolvexBenchDlg>();
    ui_.attach(dialog_->tab_ctrl()->mifare_page(), &dialog_->runner());
    terminal_.forget_frames();
  }
  void cleanup() { dialog_.reset(); }

  // The form as the page leaves it, and the target list driving the real widgets: the
  // check box follows it and can never be clicked.
  void formFollowsTheTarget() {
    auto *check = ui_.find<QCheckBox>("checkAccess");
    auto *access = ui_.find<QLineEdit>("editAccess");
    auto *key_set = ui_.find<QComboBox>("comboKeySet");
    auto *words = ui_.find<QLabel>("labelAccessWords");
    QCOMPARE(benchtest::entries(ui_.find<QComboBox>("comboTarget")),
             (QStringList{QStringLiteral(" TERMINAL"), QStringLiteral(" CARD")}));
    QCOMPARE(ui_.find<QComboBox>("comboPage")->count(), 49);
    QCOMPARE(ui_.find<QComboBox>("comboSector")->currentText(), QStringLiteral("-SECTOR-"));
    QCOMPARE(ui_.find<QLineEdit>("editKeyA")->text(), QStringLiteral("FFFFFFFFFFFF"));
    QCOMPARE(access->text(), QStringLiteral("FF078069"));
    QVERIFY(!key_set->toolTip().isEmpty());
    QCOMPARE(words->font().pointSizeF(), access->font().pointSizeF() - 1);

    for (const int target : {-1, 1, 0, 1}) {  // -1: as the page starts
      if (target >= 0) ui_.select("comboTarget", target);
      const bool card = target == 1;
      QCOMPARE(check->isChecked(), card);
      QVERIFY(!check->isEnabled());
      QCOMPARE(access->isEnabled(), card);
      QCOMPARE(words->isEnabled(), card);
      QCOMPARE(key_set->isEnabled(), !card);
    }
    QTest::mouseClick(check, Qt::LeftButton);
    QVERIFY(check->isChecked());
  }

  // Typed text turns upper case; the words follow the typing and the key sector list;
  // refusals are plain message boxes and the lock-out question a warning asking yes or no.
  void typingAndMessageBoxes() {
    benchtest::RecordingMessages messages;
    auto *words = ui_.find<QLabel>("labelAccessWords");
    auto *access = ui_.find<QLineEdit>("editAccess");
    ui_.select("comboTarget", 1);
    ui_.select("comboKeySector", 8);
    QVERIFY(words->text().contains(QStringLiteral("Block 0: read A/B, write A/B")));
    ui_.select("comboKeySector", 1);
    QVERIFY(words->text().startsWith(QStringLiteral("Block 0: manufacturer block")));
    ui_.select("comboKeySector", 8);

    for (const char *name : {"editKeyA", "editKeyB", "editAccess", "editInput", "editUlInput"}) {
      auto *edit = ui_.find<QLineEdit>(QString::fromLatin1(name));
      edit->clear();
      QTest::keyClicks(edit, QStringLiteral("ff1a"));
      QCOMPARE(edit->text(), QStringLiteral("FF1A"));
    }
    ui_.type("editKeyA", QStringLiteral("FFFFFFFFFFFF"));
    ui_.type("editKeyB", QStringLiteral("FFFFFFFFFFFF"));
    access->clear();
    QTest::keyClicks(access, QStringLiteral("ff178069"));
    QVERIFY(words->text().contains(QStringLiteral("C1 in byte 7 (17) is not the inverse of byte 6 (FF)")));
    ui_.click("buttonChange");
    QCOMPARE(messages.all.size(), 1);
    QCOMPARE(messages.all[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    ui_.type("editAccess", QStringLiteral("77878869"));
    messages.answer = QMessageBox::No;
    ui_.click("buttonChange");
    QCOMPARE(messages.all.size(), 2);
    const auto &question = messages.all.last();
    QVERIFY(question.text.contains(QStringLiteral("KEY A, THE ACCESS BITS AND KEY B OF SECTOR 7")));
    QCOMPARE(question.icon, MessageIcon::Warning);
    QVERIFY(question.buttons.testFlag(QMessageBox::Yes) && question.buttons.testFlag(QMessageBox::No));
    QVERIFY(!ui_.sent("R54"));
    messages.answer = QMessageBox::Yes;
    ui_.click("buttonChange");
    QCOMPARE(ui_.last("R54"), concat({{7}, repeat(0xFF, 6), {0x77, 0x87, 0x88, 0x69}, repeat(0xFF, 6)}));
  }

  // Each button reaches its own handler: the frame it sends.
  void everyButtonReachesItsCommand() {
    benchtest::RecordingMessages messages;
    ui_.select("comboKeySector", 6);
    ui_.select("comboKey", 1);
    ui_.select("comboSector", 36);  // sector 35
    ui_.select("comboBlock", 15);   // block 14, a data block
    ui_.select("comboType", 2);
    ui_.select("comboPage", 5);
    ui_.type("editInput", QStringLiteral("0102"));
    ui_.type("editUlInput", QStringLiteral("0102"));
    const struct {
      const char *button;
      const char *code;
    } buttons[] = {
        {"buttonChange", "R51"},     {"buttonSelect", "R53"},      {"buttonGetUid", "R61"},
        {"buttonReadBlock", "R31"},  {"buttonWriteBlock", "R32"},  {"buttonReadSector", "R36"},
        {"buttonWriteSector", "R37"}, {"buttonIncrement", "R41"},  {"buttonDecrement", "R42"},
        {"buttonUlGetUid", "U41"},   {"buttonUlRead", "U31"},      {"buttonUlWrite", "U32"},
        {"buttonUlAuth", "U33"},
    };
    for (const auto &b : buttons) {
      terminal_.forget_frames();
      ui_.click(QString::fromLatin1(b.button));
      const auto frames = terminal_.frames();
      QVERIFY2(!frames.empty(), b.button);
      QCOMPARE(frames.back().code, std::string(b.code));
    }
    QVERIFY(messages.all.isEmpty());
  }
};

QTEST_MAIN(ClassicMifarePageTest)
#include "classic_mifare_page_test.moc"
