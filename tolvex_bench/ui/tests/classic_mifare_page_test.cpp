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
  return QTest::qWaitFor([] { return benchtest::library_done(); }, 10000);
}

const QString kTransport = QStringLiteral("FFFFFFFFFFFF");

}  // namespace

class ClassicMifarePageTest : public QObject {
  Q_OBJECT

 private:
  benchtest::SimTerminal terminal_;
  std::unique_ptr<CTolvexBenchDlg> dialog_;

  benchtest::PageDriver ui_{terminal_};

  // Block and value operations take the Mifare Classic lists by index: sector s is
  // entry s + 1, block b entry b + 1.
  void place(int sector, int block) {
    ui_.select("comboSector", sector + 1);
    ui_.select("comboBlock", block + 1);
  }
  void change_keys(int target, int sector, const QString &key_a, const QString &key_b, const QString &access) {
    ui_.select("comboTarget", target);
    ui_.select("comboKeySector", sector + 1);
    ui_.type("editKeyA", key_a);
    ui_.type("editKeyB", key_b);
    ui_.type("editAccess", access);
    ui_.click("buttonChange");
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
    ui_.attach(dialog_->tab_ctrl()->mifare_page(), &dialog_->runner());
    terminal_.forget_frames();
  }
  void cleanup() {
    dialog_.reset();
    terminal_.sim().clear_faults();
  }

  void targetDrivesTheKeyRecord() {
    benchtest::RecordingMessages messages;
    auto *check = ui_.find<QCheckBox>("checkAccess");
    auto *access = ui_.find<QLineEdit>("editAccess");
    auto *key_set = ui_.find<QComboBox>("comboKeySet");
    QVERIFY(!check->isChecked() && !check->isEnabled() && !access->isEnabled() && key_set->isEnabled());

    // Terminal: 12-byte records, for one sector or for all.
    change_keys(0, 5, kTransport, kTransport, QStringLiteral("FF078069"));
    QCOMPARE(ui_.last("R51"), concat({{5}, repeat(0xFF, 12)}));
    ui_.select("comboKeySector", 0);
    ui_.type("editKeyA", QStringLiteral("A0A1A2A3A4A5"));
    ui_.click("buttonChange");
    QCOMPARE(ui_.last("R52"), concat({{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}, repeat(0xFF, 6)}));
    ui_.type("editKeyA", kTransport);
    ui_.click("buttonChange");

    // Card: the check box follows, the record carries the access bytes.
    ui_.select("comboTarget", 1);
    QVERIFY(check->isChecked() && !check->isEnabled() && access->isEnabled() && !key_set->isEnabled());
    terminal_.forget_frames();
    ui_.click("buttonChange");  // still " SECTOR All"
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("ERROR: Select Sector!(Exclude \"SECTOR All\" item)")});
    QVERIFY(!ui_.sent("R54"));
    ui_.select("comboKeySector", 6);
    ui_.click("buttonChange");
    QCOMPARE(ui_.last("R54"), concat({{5}, repeat(0xFF, 6), {0xFF, 0x07, 0x80, 0x69}, repeat(0xFF, 6)}));
    QCOMPARE(ui_.result(), 0);

    // ASCII keys: the character bytes, zero-filled; typed text turns upper case.
    ui_.select("comboTarget", 0);
    QVERIFY(!check->isChecked() && !access->isEnabled() && key_set->isEnabled());
    ui_.select("comboFormat", 1);
    ui_.find<QLineEdit>("editKeyA")->clear();
    QTest::keyClicks(ui_.find<QLineEdit>("editKeyA"), QStringLiteral("ab1d"));
    ui_.type("editKeyB", QStringLiteral("SECRET"));
    ui_.click("buttonChange");
    QCOMPARE(ui_.last("R51"), (Bytes{5, 'A', 'B', '1', 'D', 0, 0, 'S', 'E', 'C', 'R', 'E', 'T'}));

    // No sector selected: nothing sent.
    terminal_.forget_frames();
    ui_.select("comboKeySector", -1);
    ui_.click("buttonChange");
    QCOMPARE(messages.texts().last(), QStringLiteral("SECTOR ERROR"));
    QVERIFY(terminal_.frames().empty());
    ui_.select("comboKeySector", 6);
    ui_.select("comboFormat", 0);
    change_keys(0, 5, kTransport, kTransport, QStringLiteral("FF078069"));
  }

  // The old key stops working on the card, the new one works; "Select" picks key B.
  // Access bytes 7F 07 88 keep key B secret, so the card accepts it for data blocks.
  void keyChangeTakesEffect() {
    benchtest::RecordingMessages messages;
    const QString key_a = QStringLiteral("A0A1A2A3A4A5"), key_b = QStringLiteral("B0B1B2B3B4B5");
    change_keys(1, 6, key_a, key_b, QStringLiteral("7F078869"));
    QCOMPARE(ui_.result(), 0);
    place(6, 0);
    ui_.click("buttonReadBlock");
    QCOMPARE(ui_.last("R31"), (Bytes{6, 0}));
    QVERIFY(ui_.result() != 0);  // the terminal still holds the transport key

    change_keys(0, 6, key_a, kTransport, QStringLiteral("FF078069"));
    ui_.click("buttonReadBlock");
    QCOMPARE(ui_.result(), 0);

    // Key B: the terminal's key B for sector 6 is still the transport key.
    ui_.select("comboKey", 0);
    terminal_.forget_frames();
    ui_.click("buttonSelect");
    QVERIFY(terminal_.frames().empty());
    ui_.select("comboKey", 2);
    ui_.click("buttonSelect");
    QCOMPARE(ui_.last("R53"), Bytes{2});
    ui_.click("buttonReadBlock");
    QVERIFY(ui_.result() != 0);
    change_keys(0, 6, key_a, key_b, QStringLiteral("FF078069"));
    ui_.click("buttonReadBlock");
    QCOMPARE(ui_.result(), 0);

    // Back to the transport keys on card and terminal.
    change_keys(1, 6, kTransport, kTransport, QStringLiteral("FF078069"));
    QCOMPARE(ui_.result(), 0);
    change_keys(0, 6, kTransport, kTransport, QStringLiteral("FF078069"));
    ui_.select("comboKey", 1);
    ui_.click("buttonSelect");
    ui_.click("buttonReadBlock");
    QCOMPARE(ui_.result(), 0);
    QVERIFY(messages.all.isEmpty());
  }

  void accessBytesAreCheckedBeforeSending() {
    benchtest::RecordingMessages messages;
    auto *words = ui_.find<QLabel>("labelAccessWords");
    ui_.select("comboTarget", 1);
    ui_.select("comboKeySector", 8);
    QVERIFY(words->text().contains(QStringLiteral("Block 0: read A/B, write A/B")));
    ui_.select("comboKeySector", 1);
    QVERIFY(words->text().startsWith(QStringLiteral("Block 0: manufacturer block, read A/B; no key writes it\n")));
    ui_.select("comboKeySector", 8);

    // C1 of byte 2 is not the inverse of byte 1: refused, and the words say so as typed.
    ui_.find<QLineEdit>("editAccess")->clear();
    QTest::keyClicks(ui_.find<QLineEdit>("editAccess"), QStringLiteral("ff178069"));
    QCOMPARE(ui_.find<QLineEdit>("editAccess")->text(), QStringLiteral("FF178069"));
    QVERIFY(words->text().contains(QStringLiteral("C1 in byte 7 (17) is not the inverse of byte 6 (FF)")));
    ui_.click("buttonChange");
    QCOMPARE(messages.texts(),
             QStringList{QStringLiteral("INVALID ACCESS BYTES, NOTHING SENT:\nC1 IN BYTE 7 (17) IS NOT THE INVERSE OF BYTE 6 (FF)")});
    QCOMPARE(messages.all.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Too short a text gives zero bytes, which are not well formed either.
    ui_.type("editAccess", QStringLiteral("FF07"));
    ui_.click("buttonChange");
    QCOMPARE(messages.all.size(), 2);
    QVERIFY(!ui_.sent("R54"));

    // Trailer condition 1 1 1: nothing can be written again. Asked first; "No" sends nothing.
    ui_.type("editAccess", QStringLiteral("77878869"));
    QVERIFY(words->text().contains(QStringLiteral("Access bits: read A/B, write never")));
    messages.answer = QMessageBox::No;
    ui_.click("buttonChange");
    QCOMPARE(messages.all.size(), 3);
    const auto &question = messages.all.last();
    QVERIFY(question.text.contains(QStringLiteral("KEY A, THE ACCESS BITS AND KEY B OF SECTOR 7")));
    QCOMPARE(question.icon, MessageIcon::Warning);
    QVERIFY(question.buttons.testFlag(QMessageBox::Yes) && question.buttons.testFlag(QMessageBox::No));
    QVERIFY(!ui_.sent("R54"));

    messages.answer = QMessageBox::Yes;
    ui_.click("buttonChange");
    QCOMPARE(ui_.last("R54"), concat({{7}, repeat(0xFF, 6), {0x77, 0x87, 0x88, 0x69}, repeat(0xFF, 6)}));
  }

  // A key that is not whole is refused for every target, naming its box.
  void keysAreWrittenWholeOrNotAtAll() {
    benchtest::RecordingMessages messages;
    const struct {
      int target, format;
      QString key_a, key_b, message;
    } cases[] = {
        {0, 0, QStringLiteral("A0A1A2A3A4A"), kTransport,
         QStringLiteral("KEY A: 11 DIGITS; A HEX KEY IS EXACTLY 12 HEXADECIMAL DIGITS. NOTHING SENT.")},
        {1, 0, kTransport, QStringLiteral("B0B1B2B3B4B5B"),
         QStringLiteral("KEY B: 13 DIGITS; A HEX KEY IS EXACTLY 12 HEXADECIMAL DIGITS. NOTHING SENT.")},
        {1, 0, QStringLiteral("A0A1A2 3A4A5"), kTransport,
         QStringLiteral("KEY A: CHARACTER 7 IS NOT A HEXADECIMAL DIGIT. NOTHING SENT.")},
        {0, 1, QStringLiteral("SECRET!"), QStringLiteral("KEY"),
         QStringLiteral("KEY A: 7 BYTES; AN ASCII KEY IS AT MOST 6 BYTES. NOTHING SENT.")},
    };
    for (const auto &c : cases) {
      messages.all.clear();
      ui_.select("comboFormat", c.format);
      change_keys(c.target, 6, c.key_a, c.key_b, QStringLiteral("FF078069"));
      QCOMPARE(messages.texts(), QStringList{c.message});
    }
    QVERIFY(terminal_.frames().empty());
  }

  // "Write Block" to a sector trailer meets the checks of "Change": whole keys, well-formed
  // access bytes in bytes 6 to 8, and the question before a lock-out.
  void trailerWritesAreGuardedLikeChange() {
    benchtest::RecordingMessages messages;
    const QString key = QStringLiteral("FFFFFFFFFFFF");
    const struct {
      int sector, block, type;
      QString input;
      QString message;
    } refused[] = {
        {6, 3, 2, key + QStringLiteral("FF078069") + key.left(11),
         QStringLiteral("INPUT: 31 DIGITS; A SECTOR TRAILER (KEY A, ACCESS BYTES, KEY B) IS EXACTLY 32 HEXADECIMAL "
                        "DIGITS. NOTHING SENT.")},
        {6, 3, 2, key + QStringLiteral("FF178069") + key,
         QStringLiteral("INVALID ACCESS BYTES, NOTHING SENT:\nC1 IN BYTE 7 (17) IS NOT THE INVERSE OF BYTE 6 (FF)")},
        {35, 15, 3, QStringLiteral("SEVENTEEN BYTES!!"),
         QStringLiteral("INPUT: 17 BYTES; A SECTOR TRAILER IN ASCII IS AT MOST 16 BYTES. NOTHING SENT.")},
        // A value block's bytes 6 to 8 (FF FF 64) are no access bytes.
        {0, 3, 1, QStringLiteral("100"),
         QStringLiteral("INVALID ACCESS BYTES, NOTHING SENT:\nC1 IN BYTE 7 (FF) IS NOT THE INVERSE OF BYTE 6 (FF)\n"
                        "C2 IN BYTE 8 (64) IS NOT THE INVERSE OF BYTE 6 (FF)\n"
                        "C3 IN BYTE 8 (64) IS NOT THE INVERSE OF BYTE 7 (FF)")},
    };
    for (const auto &c : refused) {
      messages.all.clear();
      place(c.sector, c.block);
      ui_.select("comboType", c.type);
      ui_.type("editInput", c.input);
      ui_.click("buttonWriteBlock");
      QCOMPARE(messages.texts(), QStringList{c.message});
    }
    QVERIFY(terminal_.frames().empty());

    // Bytes that lock the trailer: asked first, "No" sends nothing.
    messages.all.clear();
    messages.answer = QMessageBox::No;
    place(6, 3);
    ui_.select("comboType", 2);
    ui_.type("editInput", key + QStringLiteral("77878869") + key);
    ui_.click("buttonWriteBlock");
    QCOMPARE(messages.all.size(), 1);
    QVERIFY(messages.all[0].text.contains(QStringLiteral("KEY A, THE ACCESS BITS AND KEY B OF SECTOR 6")));
    QVERIFY(!ui_.sent("R32"));

    // The transport trailer goes out; block 3 of sector 35 is a data block, unchecked.
    messages.all.clear();
    ui_.type("editInput", key + QStringLiteral("FF078069") + key);
    ui_.click("buttonWriteBlock");
    QCOMPARE(ui_.last("R32"), concat({{6, 3}, repeat(0xFF, 6), {0xFF, 0x07, 0x80, 0x69}, repeat(0xFF, 6)}));
    QCOMPARE(ui_.result(), 0);
    place(35, 3);
    ui_.type("editInput", QStringLiteral("ABC"));
    ui_.click("buttonWriteBlock");
    QCOMPARE(ui_.last("R32"), concat({{35, 3, 0xAB}, repeat(0, 15)}));
    QVERIFY(messages.all.isEmpty());
  }

  // The byte rule, the odd/even test and the limits work on the 8-bit text sent.
  void textsAreTakenAsBytes() {
    benchtest::RecordingMessages messages;
    const QString umlaut(QChar(0x00C4));  // C3 84 in 8-bit text
    ui_.select("comboPage", 5);
    ui_.type("editUlInput", umlaut + QStringLiteral("12"));
    ui_.click("buttonUlWrite");
    QCOMPARE(ui_.last("U32"), (Bytes{4, 0x00, 0x12, 0, 0}));
    ui_.click("buttonUlAuth");
    QCOMPARE(ui_.last("U33"), (Bytes{0x00, 0x12}));
    // Two characters, three bytes: odd.
    terminal_.forget_frames();
    ui_.type("editUlInput", umlaut + QStringLiteral("1"));
    ui_.click("buttonUlAuth");
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Frame Error")});

    // Too long for the work buffer: refused with the limit, not cut and called odd.
    for (const QString &text : {QString(300, QLatin1Char('1')), QString(150, QChar(0x00C4))}) {
      messages.all.clear();
      ui_.type("editUlInput", text);
      ui_.click("buttonUlAuth");
      QCOMPARE(messages.texts(),
               QStringList{QStringLiteral("INPUT: 300 BYTES; THE TEXT OF \"AUTH\" IS AT MOST 299 BYTES. NOTHING SENT.")});
    }
    QVERIFY(!ui_.sent("U33"));
    // 298 digits still go out whole.
    ui_.type("editUlInput", QString(298, QLatin1Char('A')));
    ui_.click("buttonUlAuth");
    QCOMPARE(ui_.last("U33"), repeat(0xAA, 149));

    // An ASCII key counts bytes: three two-byte characters fill it.
    messages.all.clear();
    ui_.select("comboFormat", 1);
    change_keys(0, 5, QString(3, QChar(0x00C4)), QStringLiteral("KEY"), QStringLiteral("FF078069"));
    QCOMPARE(ui_.last("R51"), (Bytes{5, 0xC3, 0x84, 0xC3, 0x84, 0xC3, 0x84, 'K', 'E', 'Y', 0, 0, 0}));
    change_keys(0, 5, QString(3, QChar(0x00C4)) + QStringLiteral("A"), QStringLiteral("KEY"), QStringLiteral("FF078069"));
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("KEY A: 7 BYTES; AN ASCII KEY IS AT MOST 6 BYTES. NOTHING SENT.")});
    ui_.select("comboFormat", 0);
    change_keys(0, 5, kTransport, kTransport, QStringLiteral("FF078069"));
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
      ui_.select("comboSector", c.sector_index);
      ui_.select("comboBlock", c.block_index);
      ui_.select("comboType", c.type_index);
      ui_.click(c.button);
      QCOMPARE(messages.texts(), QStringList{QString::fromLatin1(c.message)});
    }
    QVERIFY(terminal_.frames().empty());

    // Sectors 32 to 39 take blocks 0 to 15.
    place(35, 15);
    ui_.click("buttonReadBlock");
    QCOMPARE(ui_.last("R31"), (Bytes{35, 15}));
    QCOMPARE(ui_.result(), 0);
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
      ui_.select("comboType", c.type);
      ui_.type("editInput", c.input);
      ui_.click("buttonWriteBlock");
      QCOMPARE(ui_.last("R32"), concat({{9, 1}, c.block}));
      QCOMPARE(ui_.result(), 0);
    }
    QVERIFY(messages.all.isEmpty());
  }

  // A value block written, increased and decreased holds the sum; "TYPE:" is not read.
  void valueBlockRoundTrip() {
    benchtest::RecordingMessages messages;
    place(10, 2);
    ui_.select("comboType", 1);
    ui_.type("editInput", QStringLiteral("100"));
    ui_.click("buttonWriteBlock");
    ui_.select("comboType", 0);
    ui_.type("editInput", QStringLiteral("25"));
    ui_.click("buttonIncrement");
    QCOMPARE(ui_.last("R41"), (Bytes{10, 2, 25, 0, 0, 0}));
    ui_.select("comboType", 3);
    ui_.type("editInput", QStringLiteral("-300"));
    ui_.click("buttonDecrement");
    QCOMPARE(ui_.last("R42"), (Bytes{10, 2, 0xD4, 0xFE, 0xFF, 0xFF}));
    QCOMPARE(ui_.result(), 0);
    ui_.click("buttonReadBlock");
    QCOMPARE(ui_.result(), 0);
    const auto &state = dialog_->runner().state();
    const Bytes block(state.response.begin() + 2, state.response.begin() + 18);
    // 100 + 25 + 300 = 425 = 0x1A9.
    QCOMPARE(block, (Bytes{0xA9, 0x01, 0, 0, 0x56, 0xFE, 0xFF, 0xFF, 0xA9, 0x01, 0, 0, 0xAA, 0x55, 0xAA, 0x55}));
    QVERIFY(messages.all.isEmpty());
  }

  void writeSectorForms() {
    benchtest::RecordingMessages messages;
    ui_.select("comboType", 2);
    ui_.select("comboSector", 32);  // sector 31
    ui_.type("editInput", QStringLiteral("0102"));
    ui_.click("buttonWriteSector");
    QCOMPARE(ui_.last("R37"), concat({{31, 1, 2}, repeat(0, 49)}));
    QCOMPARE(ui_.result(), 0);

    // Sector 32: 256 bytes from the first 510 characters of a longer text.
    QString text;
    for (int i = 0; i < 300; ++i) text += QStringLiteral("%1").arg(i % 256, 2, 16, QLatin1Char('0')).toUpper();
    text += QStringLiteral("EE");
    ui_.select("comboSector", 33);
    ui_.type("editInput", text);
    QCOMPARE(ui_.find<QLineEdit>("editInput")->text().size(), 602);
    ui_.click("buttonWriteSector");
    Bytes expected{32};
    for (int i = 0; i < 255; ++i) expected.push_back(static_cast<std::uint8_t>(i));
    QCOMPARE(ui_.last("R37"), expected);
    QCOMPARE(ui_.result(), 0);
    ui_.click("buttonReadSector");
    QCOMPARE(ui_.last("R36"), Bytes{32});
    // The sector data mirrors the read: a separator byte before each block, so block 0
    // holds the bytes written from 01 on.
    QCOMPARE(dialog_->runner().state().response[2], std::uint8_t{1});
    QCOMPARE(dialog_->runner().state().response[3], std::uint8_t{2});

    // The short form takes 102 characters of the same text.
    ui_.select("comboSector", 12);
    ui_.click("buttonWriteSector");
    Bytes short_form{11};
    for (int i = 0; i < 51; ++i) short_form.push_back(static_cast<std::uint8_t>(i));
    QCOMPARE(ui_.last("R37"), short_form);
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
    ui_.select("comboType", 2);
    ui_.select("comboPage", 5);
    ui_.click("buttonWriteSector");
    QVERIFY(messages.all.isEmpty());
    for (const char *button : {"buttonReadBlock", "buttonGetUid", "buttonUlRead", "buttonUlAuth"}) ui_.click(button);
    QCOMPARE(messages.texts(), (QStringList{"Frame Error", "Frame Error", "Frame Error", "Frame Error"}));
    QVERIFY(finish_direct_command());
    for (const auto &frame : terminal_.frames()) QCOMPARE(frame.code, std::string("C11"));
  }

  void ultralight() {
    benchtest::RecordingMessages messages;
    ui_.click("buttonUlRead");
    ui_.click("buttonUlWrite");
    QCOMPARE(messages.texts(), (QStringList{"PAGE ERROR", "PAGE ERROR"}));
    QVERIFY(terminal_.frames().empty());

    ui_.select("comboPage", 5);
    ui_.type("editUlInput", QStringLiteral("0102"));
    ui_.click("buttonUlWrite");
    QCOMPARE(ui_.last("U32"), (Bytes{4, 1, 2, 0, 0}));
    QCOMPARE(ui_.result(), 0);
    ui_.click("buttonUlRead");
    QCOMPARE(ui_.last("U31"), Bytes{4});
    QCOMPARE(dialog_->runner().state().response[1], std::uint8_t{1});

    // AUTH: an odd count sends nothing; an empty box sends the code alone; the card's
    // key authenticates.
    ui_.type("editUlInput", QStringLiteral("1234567"));
    ui_.click("buttonUlAuth");
    QCOMPARE(messages.texts().last(), QStringLiteral("Frame Error"));
    QVERIFY(!ui_.sent("U33"));
    ui_.type("editUlInput", QString());
    ui_.click("buttonUlAuth");
    QCOMPARE(ui_.last("U33"), Bytes{});
    ui_.type("editUlInput", QString::fromLatin1(QByteArray("BREAKMEIFYOUCAN!").toHex().toUpper()));
    ui_.click("buttonUlAuth");
    QCOMPARE(ui_.last("U33").size(), std::size_t{16});
    QCOMPARE(ui_.result(), 0);
    ui_.click("buttonUlGetUid");
    QVERIFY(ui_.sent("U41"));
    QCOMPARE(dialog_->runner().state().length, 7u);
    QCOMPARE(messages.all.size(), 3);
  }
};

QTEST_MAIN(ClassicMifarePageTest)
#include "classic_mifare_page_test.moc"
