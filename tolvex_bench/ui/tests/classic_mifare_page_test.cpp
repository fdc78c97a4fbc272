// The ClassMifare page against the simulated terminal, checked on the bytes the
// terminal receives and on what the simulated card does with them.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cstdlib>

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

// Waits for a command started outside the runner.
bool finish_direct_command() {
  std::uint8_t buffer[TOLVEX_RESPONSE_MAX];
  int length = 0, result = -1;
  std::uint8_t prc = 0;
  return QTest::qWaitFor([&] { return chk_res(buffer, &length, &prc, &result) != 0; }, 10000);
}

const QString kTransport = QStringLiteral("FFFFFFFFFFFF");

}  // namespace

class ClassicMifarePageTest : public QObject {
  Q_OBJECT

 private:
  benchtest::SimTerminal terminal_;
  std::unique_ptr<CTolvexBenchDlg> dialog_;

  template <typename T>
  T *find(const char *name) {
    auto *w = dialog_->tab_ctrl()->mifare_page()->findChild<T *>(QString::fromLatin1(name));
    if (w == nullptr) qFatal("no control %s", name);
    return w;
  }
  void click(const char *name) { find<QPushButton>(name)->click(); }
  void select(const char *name, int index) { find<QComboBox>(name)->setCurrentIndex(index); }
  void type(const char *name, const QString &text) { find<QLineEdit>(name)->setText(text); }
  int result() { return dialog_->runner().state().result; }
  bool sent(const std::string &code) {
    for (const auto &frame : terminal_.frames()) {
      if (frame.code == code) return true;
    }
    return false;
  }
  Bytes last(const std::string &code) {
    Bytes data;
    if (!terminal_.last_frame(code, &data)) qWarning("no %s frame", code.c_str());
    return data;
  }
  // Block and value operations take the Mifare Classic lists by index: sector s is
  // entry s + 1, block b entry b + 1.
  void place(int sector, int block) {
    select("comboSector", sector + 1);
    select("comboBlock", block + 1);
  }
  void change_keys(int target, int sector, const QString &key_a, const QString &key_b, const QString &access) {
    select("comboTarget", target);
    select("comboKeySector", sector + 1);
    type("editKeyA", key_a);
    type("editKeyB", key_b);
    type("editAccess", access);
    click("buttonChange");
  }

 private slots:
  void initTestCase() {
    benchtest::enter_scratch_directory();
    QVERIFY(terminal_.start());
    QVERIFY(benchtest::open_port_to(terminal_));
    QVERIFY(card_stk_mov(1, 3) != 0);  // a card into the antenna field
    QVERIFY(finish_direct_command());
  }

  void init() {
    dialog_ = std::make_unique<CTolvexBenchDlg>();
    terminal_.forget_frames();
  }
  void cleanup() {
    dialog_.reset();
    terminal_.sim().clear_faults();
  }

  void targetDrivesTheKeyRecord() {
    benchtest::RecordingMessages messages;
    auto *check = find<QCheckBox>("checkAccess");
    auto *access = find<QLineEdit>("editAccess");
    auto *key_set = find<QComboBox>("comboKeySet");
    QVERIFY(!check->isChecked() && !check->isEnabled() && !access->isEnabled() && key_set->isEnabled());

    // Terminal: 12-byte records, for one sector or for all.
    change_keys(0, 5, kTransport, kTransport, QStringLiteral("FF078069"));
    QCOMPARE(last("R51"), concat({{5}, repeat(0xFF, 12)}));
    select("comboKeySector", 0);
    type("editKeyA", QStringLiteral("A0A1A2A3A4A5"));
    click("buttonChange");
    QCOMPARE(last("R52"), concat({{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}, repeat(0xFF, 6)}));
    type("editKeyA", kTransport);
    click("buttonChange");

    // Card: the check box follows, the record carries the access bytes.
    select("comboTarget", 1);
    QVERIFY(check->isChecked() && !check->isEnabled() && access->isEnabled() && !key_set->isEnabled());
    terminal_.forget_frames();
    click("buttonChange");  // still " SECTOR All"
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("ERROR: Select Sector!(Exclude \"SECTOR All\" item)")});
    QVERIFY(!sent("R54"));
    select("comboKeySector", 6);
    click("buttonChange");
    QCOMPARE(last("R54"), concat({{5}, repeat(0xFF, 6), {0xFF, 0x07, 0x80, 0x69}, repeat(0xFF, 6)}));
    QCOMPARE(result(), 0);

    // ASCII keys: the character bytes, zero-filled; typed text turns upper case.
    select("comboTarget", 0);
    QVERIFY(!check->isChecked() && !access->isEnabled() && key_set->isEnabled());
    select("comboFormat", 1);
    find<QLineEdit>("editKeyA")->clear();
    QTest::keyClicks(find<QLineEdit>("editKeyA"), QStringLiteral("ab1d"));
    type("editKeyB", QStringLiteral("SECRET!!"));
    click("buttonChange");
    QCOMPARE(last("R51"), (Bytes{5, 'A', 'B', '1', 'D', 0, 0, 'S', 'E', 'C', 'R', 'E', 'T'}));

    // No sector selected: nothing sent.
    terminal_.forget_frames();
    select("comboKeySector", -1);
    click("buttonChange");
    QCOMPARE(messages.texts().last(), QStringLiteral("SECTOR ERROR"));
    QVERIFY(terminal_.frames().empty());
    select("comboKeySector", 6);
    select("comboFormat", 0);
    change_keys(0, 5, kTransport, kTransport, QStringLiteral("FF078069"));
  }

  // The old key stops working on the card, the new one works; "Select" picks key B.
  // Access bytes 7F 07 88 keep key B secret, so the card accepts it for data blocks.
  void keyChangeTakesEffect() {
    benchtest::RecordingMessages messages;
    const QString key_a = QStringLiteral("A0A1A2A3A4A5"), key_b = QStringLiteral("B0B1B2B3B4B5");
    change_keys(1, 6, key_a, key_b, QStringLiteral("7F078869"));
    QCOMPARE(result(), 0);
    place(6, 0);
    click("buttonReadBlock");
    QCOMPARE(last("R31"), (Bytes{6, 0}));
    QVERIFY(result() != 0);  // the terminal still holds the transport key

    change_keys(0, 6, key_a, kTransport, QStringLiteral("FF078069"));
    click("buttonReadBlock");
    QCOMPARE(result(), 0);

    // Key B: the terminal's key B for sector 6 is still the transport key.
    select("comboKey", 0);
    terminal_.forget_frames();
    click("buttonSelect");
    QVERIFY(terminal_.frames().empty());
    select("comboKey", 2);
    click("buttonSelect");
    QCOMPARE(last("R53"), Bytes{2});
    click("buttonReadBlock");
    QVERIFY(result() != 0);
    change_keys(0, 6, key_a, key_b, QStringLiteral("FF078069"));
    click("buttonReadBlock");
    QCOMPARE(result(), 0);

    // Back to the transport keys on card and terminal.
    change_keys(1, 6, kTransport, kTransport, QStringLiteral("FF078069"));
    QCOMPARE(result(), 0);
    change_keys(0, 6, kTransport, kTransport, QStringLiteral("FF078069"));
    select("comboKey", 1);
    click("buttonSelect");
    click("buttonReadBlock");
    QCOMPARE(result(), 0);
    QVERIFY(messages.all.isEmpty());
  }

  void accessBytesAreCheckedBeforeSending() {
    benchtest::RecordingMessages messages;
    auto *words = find<QLabel>("labelAccessWords");
    select("comboTarget", 1);
    select("comboKeySector", 8);
    QVERIFY(words->text().contains(QStringLiteral("Block 0: read A/B, write A/B")));

    // C1 of byte 2 is not the inverse of byte 1: refused, and the words say so as typed.
    find<QLineEdit>("editAccess")->clear();
    QTest::keyClicks(find<QLineEdit>("editAccess"), QStringLiteral("ff178069"));
    QCOMPARE(find<QLineEdit>("editAccess")->text(), QStringLiteral("FF178069"));
    QVERIFY(words->text().contains(QStringLiteral("C1 in byte 2 (17) is not the inverse of byte 1 (FF)")));
    click("buttonChange");
    QCOMPARE(messages.texts(),
             QStringList{QStringLiteral("INVALID ACCESS BYTES, NOTHING SENT:\nC1 IN BYTE 2 (17) IS NOT THE INVERSE OF BYTE 1 (FF)")});
    QCOMPARE(messages.all.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Too short a text gives zero bytes, which are not well formed either.
    type("editAccess", QStringLiteral("FF07"));
    click("buttonChange");
    QCOMPARE(messages.all.size(), 2);
    QVERIFY(!sent("R54"));

    // Trailer condition 1 1 1: nothing can be written again. Asked first; "No" sends nothing.
    type("editAccess", QStringLiteral("77878869"));
    QVERIFY(words->text().contains(QStringLiteral("Access bits: read A/B, write never")));
    messages.answer = QMessageBox::No;
    click("buttonChange");
    QCOMPARE(messages.all.size(), 3);
    const auto &question = messages.all.last();
    QVERIFY(question.text.contains(QStringLiteral("KEY A, THE ACCESS BITS AND KEY B OF SECTOR 7")));
    QCOMPARE(question.icon, MessageIcon::Warning);
    QVERIFY(question.buttons.testFlag(QMessageBox::Yes) && question.buttons.testFlag(QMessageBox::No));
    QVERIFY(!sent("R54"));

    messages.answer = QMessageBox::Yes;
    click("buttonChange");
    QCOMPARE(last("R54"), concat({{7}, repeat(0xFF, 6), {0x77, 0x87, 0x88, 0x69}, repeat(0xFF, 6)}));
  }

  void blockChecksInOrder() {
    benchtest::RecordingMessages messages;
    const struct {
      int sector_index, block_index, type_index;
      const char *button;
      const char *message;
    } cases[] = {
        {6, 8, 0, "buttonReadBlock", "Please select BLOCK again"},     // sector 5, block 7
        {0, 10, 0, "buttonReadBlock", "Please select BLOCK again"},    // placeholder, block 9
        {32, 5, 0, "buttonIncrement", "Please select BLOCK again"},    // sector 31, block 4
        {0, 1, 0, "buttonReadBlock", "SECTOR ERROR"},
        {0, 0, 0, "buttonWriteBlock", "SECTOR ERROR"},
        {6, 0, 0, "buttonDecrement", "BLOCK ERROR"},
        {6, 1, 0, "buttonWriteBlock", "TYPE ERROR"},
        {0, 8, 0, "buttonReadSector", "SECTOR ERROR"},
        {0, 0, 1, "buttonWriteSector", "SECTOR ERROR"},
        {6, 0, 0, "buttonWriteSector", "WRITE TYPE ERROR"},
        {6, 0, 1, "buttonWriteSector", "WRITE TYPE ERROR"},
        {33, 0, 3, "buttonWriteSector", "WRITE TYPE ERROR"},
    };
    for (const auto &c : cases) {
      messages.all.clear();
      select("comboSector", c.sector_index);
      select("comboBlock", c.block_index);
      select("comboType", c.type_index);
      click(c.button);
      QCOMPARE(messages.texts(), QStringList{QString::fromLatin1(c.message)});
    }
    QVERIFY(terminal_.frames().empty());

    // Sectors 32 to 39 take blocks 0 to 15.
    place(35, 15);
    click("buttonReadBlock");
    QCOMPARE(last("R31"), (Bytes{35, 15}));
    QCOMPARE(result(), 0);
    QCOMPARE(messages.all.size(), 1);
  }

  void writeBlockForms() {
    benchtest::RecordingMessages messages;
    const Bytes tail{0xAA, 0x55, 0xAA, 0x55};
    const struct {
      int type;
      QString input;
      Bytes block;
    } cases[] = {
        {1, QStringLiteral("100"), concat({{0x64, 0, 0, 0, 0x9B, 0xFF, 0xFF, 0xFF, 0x64, 0, 0, 0}, tail})},
        {1, QStringLiteral("-1"), concat({repeat(0xFF, 4), repeat(0, 4), repeat(0xFF, 4), tail})},
        {2, QStringLiteral("ABC"), concat({{0xAB}, repeat(0, 15)})},
        {3, QStringLiteral("HELLO"), concat({{'H', 'E', 'L', 'L', 'O'}, repeat(0, 11)})},
    };
    place(9, 1);
    for (const auto &c : cases) {
      select("comboType", c.type);
      type("editInput", c.input);
      click("buttonWriteBlock");
      QCOMPARE(last("R32"), concat({{9, 1}, c.block}));
      QCOMPARE(result(), 0);
    }
    QVERIFY(messages.all.isEmpty());
  }

  // A value block written, increased and decreased holds the sum; "TYPE:" is not read.
  void valueBlockRoundTrip() {
    benchtest::RecordingMessages messages;
    place(10, 2);
    select("comboType", 1);
    type("editInput", QStringLiteral("100"));
    click("buttonWriteBlock");
    select("comboType", 0);
    type("editInput", QStringLiteral("25"));
    click("buttonIncrement");
    QCOMPARE(last("R41"), (Bytes{10, 2, 25, 0, 0, 0}));
    select("comboType", 3);
    type("editInput", QStringLiteral("-300"));
    click("buttonDecrement");
    QCOMPARE(last("R42"), (Bytes{10, 2, 0xD4, 0xFE, 0xFF, 0xFF}));
    QCOMPARE(result(), 0);
    click("buttonReadBlock");
    QCOMPARE(result(), 0);
    const auto &state = dialog_->runner().state();
    const Bytes block(state.response.begin() + 2, state.response.begin() + 18);
    // 100 + 25 + 300 = 425 = 0x1A9.
    QCOMPARE(block, (Bytes{0xA9, 0x01, 0, 0, 0x56, 0xFE, 0xFF, 0xFF, 0xA9, 0x01, 0, 0, 0xAA, 0x55, 0xAA, 0x55}));
    QVERIFY(messages.all.isEmpty());
  }

  void writeSectorForms() {
    benchtest::RecordingMessages messages;
    select("comboType", 2);
    select("comboSector", 32);  // sector 31
    type("editInput", QStringLiteral("0102"));
    click("buttonWriteSector");
    QCOMPARE(last("R37"), concat({{31, 1, 2}, repeat(0, 49)}));
    QCOMPARE(result(), 0);

    // Sector 32: 256 bytes from the first 510 characters of a longer text.
    QString text;
    for (int i = 0; i < 300; ++i) text += QStringLiteral("%1").arg(i % 256, 2, 16, QLatin1Char('0')).toUpper();
    text += QStringLiteral("EE");
    select("comboSector", 33);
    type("editInput", text);
    QCOMPARE(find<QLineEdit>("editInput")->text().size(), 602);
    click("buttonWriteSector");
    Bytes expected{32};
    for (int i = 0; i < 255; ++i) expected.push_back(static_cast<std::uint8_t>(i));
    QCOMPARE(last("R37"), expected);
    QCOMPARE(result(), 0);
    click("buttonReadSector");
    QCOMPARE(last("R36"), Bytes{32});
    // The sector data mirrors the read: a separator byte before each block, so block 0
    // holds the bytes written from 01 on.
    QCOMPARE(dialog_->runner().state().response[2], std::uint8_t{1});
    QCOMPARE(dialog_->runner().state().response[3], std::uint8_t{2});

    // The short form takes 102 characters of the same text.
    select("comboSector", 12);
    click("buttonWriteSector");
    Bytes short_form{11};
    for (int i = 0; i < 51; ++i) short_form.push_back(static_cast<std::uint8_t>(i));
    QCOMPARE(last("R37"), short_form);
    QVERIFY(messages.all.isEmpty());
  }

  // With a command in flight the library refuses: "Frame Error" everywhere but
  // "Write Sector", which stays silent.
  void refusedStarts() {
    benchtest::RecordingMessages messages;
    QVERIFY(terminal_.sim().add_fault("C11:late=500"));
    QVERIFY(model() != 0);
    terminal_.forget_frames();
    place(5, 1);
    select("comboType", 2);
    select("comboPage", 5);
    click("buttonWriteSector");
    QVERIFY(messages.all.isEmpty());
    for (const char *button : {"buttonReadBlock", "buttonGetUid", "buttonUlRead", "buttonUlAuth"}) click(button);
    QCOMPARE(messages.texts(), (QStringList{"Frame Error", "Frame Error", "Frame Error", "Frame Error"}));
    QVERIFY(finish_direct_command());
    for (const auto &frame : terminal_.frames()) QCOMPARE(frame.code, std::string("C11"));
  }

  void ultralight() {
    benchtest::RecordingMessages messages;
    click("buttonUlRead");
    click("buttonUlWrite");
    QCOMPARE(messages.texts(), (QStringList{"PAGE ERROR", "PAGE ERROR"}));
    QVERIFY(terminal_.frames().empty());

    select("comboPage", 5);
    type("editUlInput", QStringLiteral("0102"));
    click("buttonUlWrite");
    QCOMPARE(last("U32"), (Bytes{4, 1, 2, 0, 0}));
    QCOMPARE(result(), 0);
    click("buttonUlRead");
    QCOMPARE(last("U31"), Bytes{4});
    QCOMPARE(dialog_->runner().state().response[1], std::uint8_t{1});

    // AUTH: an odd count sends nothing; an empty box sends the code alone; the card's
    // key authenticates.
    type("editUlInput", QStringLiteral("1234567"));
    click("buttonUlAuth");
    QCOMPARE(messages.texts().last(), QStringLiteral("Frame Error"));
    QVERIFY(!sent("U33"));
    type("editUlInput", QString());
    click("buttonUlAuth");
    QCOMPARE(last("U33"), Bytes{});
    type("editUlInput", QString::fromLatin1(QByteArray("BREAKMEIFYOUCAN!").toHex().toUpper()));
    click("buttonUlAuth");
    QCOMPARE(last("U33").size(), std::size_t{16});
    QCOMPARE(result(), 0);
    click("buttonUlGetUid");
    QVERIFY(sent("U41"));
    QCOMPARE(dialog_->runner().state().length, 7u);
    QCOMPARE(messages.all.size(), 3);
  }
};

QTEST_MAIN(ClassicMifarePageTest)
#include "classic_mifare_page_test.moc"
