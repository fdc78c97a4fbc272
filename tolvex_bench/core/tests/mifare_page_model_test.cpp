// The Mifare page model against the simulated terminal, with a card in the antenna
// field: checked on the frames the terminal receives and on what the view shows.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "mifare_page_model.hpp"
#include "page_harness.hpp"
#include "received_frames.hpp"

namespace tolvex::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;
using M = MifarePageModel;
using testing::Frame;
using testing::frames_in;

Bytes repeat(std::uint8_t byte, std::size_t n) { return Bytes(n, byte); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const std::wstring kTransport = L"FFFFFFFFFFFF";
const std::wstring kUmlaut = L"\u00C4";  // C3 84 in 8-bit text

class MifarePage : public testing::SimulatedTerminal {
 protected:
  void SetUp() override {
    sim::Options options;
    options.card_inside = 3;  // a card in the antenna field
    start_terminal(options);
    model_.init();
  }

  // Block and value operations take the lists by index: sector s is entry s + 1,
  // block b entry b + 1.
  void place(int sector, int block) {
    view_.set_selection(M::SectorList, sector + 1);
    view_.set_selection(M::BlockList, block + 1);
  }
  void type(M::Control box, std::wstring_view text) {
    view_.set_text(box, text);
    if (box == M::AccessBox) model_.access_changed();
  }
  void target(int index) {
    view_.set_selection(M::TargetList, index);
    model_.target_changed();
  }
  void change_keys(int target_index, int sector, std::wstring_view key_a, std::wstring_view key_b,
                   std::wstring_view access = L"FF078069") {
    target(target_index);
    view_.set_selection(M::KeySectorList, sector + 1);
    type(M::KeyABox, key_a);
    type(M::KeyBBox, key_b);
    type(M::AccessBox, access);
    model_.change();
  }

  std::vector<Frame> frames() { return frames_in(received()); }
  bool sent(const std::string &code) {
    for (const Frame &f : frames()) {
      if (f.code == code) return true;
    }
    return false;
  }
  // Data of the last frame with this code; fails the test when there is none.
  Bytes last(const std::string &code) {
    const auto all = frames();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
      if (it->code == code) return it->data;
    }
    ADD_FAILURE() << "no " << code << " frame";
    return {};
  }
  int result() { return commands_.state().result; }

  M model_{view_, commands_};
};

TEST_F(MifarePage, InitFillsTheListsAndTheTransportKeys) {
  const struct {
    M::Control list;
    std::size_t count;
    const wchar_t *first, *second, *last;
  } lists[] = {
      {M::TargetList, 2, L" TERMINAL", L" CARD", L" CARD"},
      {M::KeySectorList, 41, L" SECTOR All", L" SECTOR 0", L" SECTOR 39"},
      {M::KeySetList, 3, L" 1", L" 2", L" 3"},
      {M::FormatList, 2, L" HEX", L" ASCII", L" ASCII"},
      {M::KeyList, 3, L"- KEY -", L"A ", L"B "},
      {M::SectorList, 41, L"-SECTOR-", L" SECTOR 0", L" SECTOR 39"},
      {M::BlockList, 17, L"-BLOCK-", L"BLOCK 0", L"BLOCK 15"},
      {M::TypeList, 4, L"-TYPE-", L"BALANCE", L"ASCII"},
      {M::PageList, 49, L" - PAGE -", L"PAGE 0", L"PAGE 47"},
  };
  for (const auto &l : lists) {
    const auto &items = view_.items[l.list];
    ASSERT_EQ(items.size(), l.count) << l.first;
    EXPECT_EQ(items[0], l.first);
    EXPECT_EQ(items[1], l.second);
    EXPECT_EQ(items.back(), l.last);
    EXPECT_EQ(view_.selection(l.list), 0) << l.first;
  }
  EXPECT_EQ(view_.items[M::TypeList][2], L"HEX");
  EXPECT_EQ(view_.text(M::KeyABox), kTransport);
  EXPECT_EQ(view_.text(M::KeyBBox), kTransport);
  EXPECT_EQ(view_.text(M::AccessBox), L"FF078069");
  EXPECT_FALSE(view_.text(M::AccessWords).empty());
  EXPECT_TRUE(view_.messages.empty());
}

// The check box follows the target and is never enabled: as init leaves it, then back
// and forth.
TEST_F(MifarePage, TargetDrivesTheAccessControls) {
  for (const int index : {-1, 1, 0}) {
    if (index >= 0) target(index);
    const bool card = index == 1;
    EXPECT_EQ(view_.checked(M::AccessCheck), card);
    EXPECT_FALSE(view_.is_enabled(M::AccessCheck));
    EXPECT_EQ(view_.is_enabled(M::AccessBox), card);
    EXPECT_EQ(view_.is_enabled(M::AccessWords), card);
    EXPECT_EQ(view_.is_enabled(M::KeySetList), !card);
  }
}

TEST_F(MifarePage, AccessWordsFollowTheTextAndTheSector) {
  view_.set_selection(M::KeySectorList, 8);
  model_.access_changed();
  EXPECT_NE(view_.text(M::AccessWords).find(L"Block 0: read A/B, write A/B"), std::wstring::npos);
  view_.set_selection(M::KeySectorList, 1);
  model_.access_changed();
  EXPECT_EQ(view_.text(M::AccessWords).rfind(L"Block 0: manufacturer block, read A/B; no key writes it\n", 0), 0u);
  type(M::AccessBox, L"FF178069");
  EXPECT_NE(view_.text(M::AccessWords).find(L"C1 in byte 7 (17) is not the inverse of byte 6 (FF)"),
            std::wstring::npos);
  type(M::AccessBox, L"77878869");
  EXPECT_NE(view_.text(M::AccessWords).find(L"Access bits: read A/B, write never"), std::wstring::npos);
}

// Every refusal of a missing or wrong selection: its message, and nothing on the line.
TEST_F(MifarePage, SelectionChecksInOrder) {
  const struct {
    int sector_index, block_index, type_index;
    void (M::*handler)();
    const wchar_t *message;
  } cases[] = {
      {6, 8, 0, &M::read_block, L"Please select BLOCK again"},   // sector 5, block 7
      {0, 10, 0, &M::read_block, L"Please select BLOCK again"},  // placeholder, block 9
      {32, 5, 0, &M::increment, L"Please select BLOCK again"},   // sector 31, block 4
      {0, 1, 0, &M::read_block, L"SECTOR ERROR"},
      {0, 0, 0, &M::write_block, L"SECTOR ERROR"},
      {6, 0, 0, &M::decrement, L"BLOCK ERROR"},
      {6, 1, 0, &M::write_block, L"TYPE ERROR"},
      {0, 8, 0, &M::read_sector, L"SECTOR ERROR"},
      {0, 0, 1, &M::write_sector, L"SECTOR ERROR"},
      {6, 0, 0, &M::write_sector, L"WRITE TYPE ERROR"},
      {6, 0, 1, &M::write_sector, L"WRITE TYPE ERROR"},
      {33, 0, 3, &M::write_sector, L"WRITE TYPE ERROR"},
      {0, 0, 0, &M::ul_read, L"PAGE ERROR"},
      {0, 0, 0, &M::ul_write, L"PAGE ERROR"},
  };
  for (const auto &c : cases) {
    view_.messages.clear();
    view_.set_selection(M::SectorList, c.sector_index);
    view_.set_selection(M::BlockList, c.block_index);
    view_.set_selection(M::TypeList, c.type_index);
    (model_.*c.handler)();
    EXPECT_EQ(view_.messages, std::vector<std::wstring>{c.message}) << c.sector_index << "/" << c.block_index;
  }
  // The key list's placeholder does nothing at all.
  view_.messages.clear();
  model_.select();
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_TRUE(commands_.codes.empty());
  EXPECT_TRUE(frames().empty());

  // Sectors 32 to 39 take blocks 0 to 15.
  place(35, 15);
  model_.read_block();
  EXPECT_EQ(last("R31"), (Bytes{35, 15}));
  EXPECT_EQ(result(), 0);
}

// The terminal's key store takes 12-byte records, the card's trailer 16 with the access
// bytes (the access flag travels in the library's call, not on the line).
TEST_F(MifarePage, KeyRecordFollowsTheTarget) {
  change_keys(0, 5, kTransport, kTransport);
  EXPECT_EQ(last("R51"), concat({{5}, repeat(0xFF, 12)}));
  view_.set_selection(M::KeySectorList, 0);
  type(M::KeyABox, L"A0A1A2A3A4A5");
  model_.change();
  EXPECT_EQ(last("R52"), concat({{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}, repeat(0xFF, 6)}));
  type(M::KeyABox, kTransport);
  model_.change();

  // Card with " SECTOR All": refused; with a sector, the 16-byte record.
  target(1);
  forget_received();
  model_.change();
  EXPECT_EQ(view_.messages, std::vector<std::wstring>{L"ERROR: Select Sector!(Exclude \"SECTOR All\" item)"});
  EXPECT_FALSE(sent("R54"));
  view_.set_selection(M::KeySectorList, 6);
  model_.change();
  EXPECT_EQ(last("R54"), concat({{5}, repeat(0xFF, 6), {0xFF, 0x07, 0x80, 0x69}, repeat(0xFF, 6)}));
  EXPECT_EQ(result(), 0);

  // ASCII keys: the character bytes (8-bit text), zero-filled.
  view_.set_selection(M::FormatList, 1);
  const struct {
    std::wstring key_a, key_b;
    Bytes record;
  } ascii[] = {
      {L"AB1D", L"SECRET", {5, 'A', 'B', '1', 'D', 0, 0, 'S', 'E', 'C', 'R', 'E', 'T'}},
      {kUmlaut + kUmlaut + kUmlaut, L"KEY", {5, 0xC3, 0x84, 0xC3, 0x84, 0xC3, 0x84, 'K', 'E', 'Y', 0, 0, 0}},
  };
  for (const auto &c : ascii) {
    change_keys(0, 5, c.key_a, c.key_b);
    EXPECT_EQ(last("R51"), c.record);
  }

  // No sector selected: nothing sent.
  view_.messages.clear();
  forget_received();
  view_.set_selection(M::KeySectorList, -1);
  model_.change();
  EXPECT_EQ(view_.messages, std::vector<std::wstring>{L"SECTOR ERROR"});
  EXPECT_TRUE(frames().empty());
}

// A key that is not whole is refused for every target, naming its box.
TEST_F(MifarePage, KeysAreWrittenWholeOrNotAtAll) {
  const struct {
    int target, format;
    std::wstring key_a, key_b, message;
  } cases[] = {
      {0, 0, L"A0A1A2A3A4A", kTransport, L"KEY A: 11 DIGITS; A HEX KEY IS EXACTLY 12 HEXADECIMAL DIGITS. NOTHING SENT."},
      {1, 0, kTransport, L"B0B1B2B3B4B5B",
       L"KEY B: 13 DIGITS; A HEX KEY IS EXACTLY 12 HEXADECIMAL DIGITS. NOTHING SENT."},
      {1, 0, L"A0A1A2 3A4A5", kTransport, L"KEY A: CHARACTER 7 IS NOT A HEXADECIMAL DIGIT. NOTHING SENT."},
      {0, 1, L"SECRET!", L"KEY", L"KEY A: 7 BYTES; AN ASCII KEY IS AT MOST 6 BYTES. NOTHING SENT."},
      {0, 1, kUmlaut + kUmlaut + kUmlaut + L"A", L"KEY",
       L"KEY A: 7 BYTES; AN ASCII KEY IS AT MOST 6 BYTES. NOTHING SENT."},
  };
  for (const auto &c : cases) {
    view_.messages.clear();
    view_.set_selection(M::FormatList, c.format);
    change_keys(c.target, 6, c.key_a, c.key_b);
    EXPECT_EQ(view_.messages, std::vector<std::wstring>{c.message});
  }
  EXPECT_TRUE(frames().empty());
}

// Access bytes for the card are checked, and a lock-out is asked about: "no" sends nothing.
TEST_F(MifarePage, ChangeGuardsTheTrailer) {
  change_keys(1, 7, kTransport, kTransport, L"FF178069");
  change_keys(1, 7, kTransport, kTransport, L"FF07");  // zero bytes are not well formed either
  ASSERT_EQ(view_.messages.size(), 2u);
  EXPECT_EQ(view_.messages[0],
            L"INVALID ACCESS BYTES, NOTHING SENT:\nC1 IN BYTE 7 (17) IS NOT THE INVERSE OF BYTE 6 (FF)");
  EXPECT_TRUE(view_.questions.empty());

  const std::wstring question =
      L"WARNING: WITH THESE ACCESS CONDITIONS NO KEY CAN EVER CHANGE KEY A, THE ACCESS BITS AND KEY B OF SECTOR 7 "
      L"AGAIN.\nWRITE THEM TO THE CARD?";
  view_.answers = {false, true};
  change_keys(1, 7, kTransport, kTransport, L"77878869");
  EXPECT_EQ(view_.questions, std::vector<std::wstring>{question});
  EXPECT_FALSE(sent("R54"));
  model_.change();
  EXPECT_EQ(view_.questions.size(), 2u);
  EXPECT_EQ(last("R54"), concat({{7}, repeat(0xFF, 6), {0x77, 0x87, 0x88, 0x69}, repeat(0xFF, 6)}));
  EXPECT_EQ(view_.messages.size(), 2u);
}

// The old key stops working on the card, the new one works; "Select" picks key B.
// Access bytes 7F 07 88 keep key B secret, so the card accepts it for data blocks.
TEST_F(MifarePage, KeyChangeTakesEffect) {
  const std::wstring key_a = L"A0A1A2A3A4A5", key_b = L"B0B1B2B3B4B5";
  change_keys(1, 6, key_a, key_b, L"7F078869");
  EXPECT_EQ(result(), 0);
  place(6, 0);
  model_.read_block();
  EXPECT_EQ(last("R31"), (Bytes{6, 0}));
  EXPECT_NE(result(), 0);  // the terminal still holds the transport key
  change_keys(0, 6, key_a, kTransport);
  model_.read_block();
  EXPECT_EQ(result(), 0);

  view_.set_selection(M::KeyList, 2);
  model_.select();
  EXPECT_EQ(last("R53"), Bytes{2});
  model_.read_block();
  EXPECT_NE(result(), 0);  // the terminal's key B is still the transport key
  change_keys(0, 6, key_a, key_b);
  model_.read_block();
  EXPECT_EQ(result(), 0);
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_TRUE(view_.questions.empty());
}

TEST_F(MifarePage, WriteBlockForms) {
  const Bytes tail{0xAA, 0x55, 0xAA, 0x55};
  const struct {
    int type;
    std::wstring input;
    Bytes block;
  } cases[] = {
      {1, L"100", concat({{0x64, 0, 0, 0, 0x9B, 0xFF, 0xFF, 0xFF, 0x64, 0, 0, 0}, tail})},
      {1, L"-1", concat({repeat(0xFF, 4), repeat(0, 4), repeat(0xFF, 4), tail})},
      {1, L"  +7x9", concat({{7, 0, 0, 0, 0xF8, 0xFF, 0xFF, 0xFF, 7, 0, 0, 0}, tail})},
      {2, L"ABC", concat({{0xAB}, repeat(0, 15)})},
      {2, L"000102030405060708090A0B0C0D0E0F10", concat({{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}})},
      {3, L"HELLO", concat({{'H', 'E', 'L', 'L', 'O'}, repeat(0, 11)})},
      {3, L"SEVENTEEN BYTES!!", Bytes{'S', 'E', 'V', 'E', 'N', 'T', 'E', 'E', 'N', ' ', 'B', 'Y', 'T', 'E', 'S', '!'}},
  };
  place(9, 1);
  for (const auto &c : cases) {
    view_.set_selection(M::TypeList, c.type);
    type(M::InputBox, c.input);
    model_.write_block();
    EXPECT_EQ(last("R32"), concat({{9, 1}, c.block}));
    EXPECT_EQ(result(), 0);
  }
  EXPECT_TRUE(view_.messages.empty());
}

// "Write Block" to a sector trailer meets the checks of "Change": whole keys, well-formed
// access bytes in bytes 6 to 8, and the question before a lock-out.
TEST_F(MifarePage, TrailerWritesAreGuardedLikeChange) {
  const std::wstring key = kTransport;
  const struct {
    int sector, block, type;
    std::wstring input, message;
  } refused[] = {
      {6, 3, 2, key + L"FF078069" + key.substr(0, 11),
       L"INPUT: 31 DIGITS; A SECTOR TRAILER (KEY A, ACCESS BYTES, KEY B) IS EXACTLY 32 HEXADECIMAL DIGITS. NOTHING "
       L"SENT."},
      {6, 3, 2, key + L"FF178069" + key,
       L"INVALID ACCESS BYTES, NOTHING SENT:\nC1 IN BYTE 7 (17) IS NOT THE INVERSE OF BYTE 6 (FF)"},
      {35, 15, 3, L"SEVENTEEN BYTES!!", L"INPUT: 17 BYTES; A SECTOR TRAILER IN ASCII IS AT MOST 16 BYTES. NOTHING SENT."},
      // A value block's bytes 6 to 8 (FF FF 64) are no access bytes.
      {0, 3, 1, L"100",
       L"INVALID ACCESS BYTES, NOTHING SENT:\nC1 IN BYTE 7 (FF) IS NOT THE INVERSE OF BYTE 6 (FF)\n"
       L"C2 IN BYTE 8 (64) IS NOT THE INVERSE OF BYTE 6 (FF)\nC3 IN BYTE 8 (64) IS NOT THE INVERSE OF BYTE 7 (FF)"},
  };
  for (const auto &c : refused) {
    view_.messages.clear();
    place(c.sector, c.block);
    view_.set_selection(M::TypeList, c.type);
    type(M::InputBox, c.input);
    model_.write_block();
    EXPECT_EQ(view_.messages, std::vector<std::wstring>{c.message});
  }
  EXPECT_TRUE(frames().empty());

  // Bytes that lock the trailer: asked first, "no" sends nothing.
  view_.messages.clear();
  place(6, 3);
  view_.set_selection(M::TypeList, 2);
  type(M::InputBox, key + L"77878869" + key);
  model_.write_block();
  ASSERT_EQ(view_.questions.size(), 1u);
  EXPECT_NE(view_.questions[0].find(L"KEY A, THE ACCESS BITS AND KEY B OF SECTOR 6"), std::wstring::npos);
  EXPECT_FALSE(sent("R32"));

  // The transport trailer goes out unasked; block 3 of sector 35 is a data block.
  type(M::InputBox, key + L"FF078069" + key);
  model_.write_block();
  EXPECT_EQ(last("R32"), concat({{6, 3}, repeat(0xFF, 6), {0xFF, 0x07, 0x80, 0x69}, repeat(0xFF, 6)}));
  EXPECT_EQ(result(), 0);
  place(35, 3);
  type(M::InputBox, L"ABC");
  model_.write_block();
  EXPECT_EQ(last("R32"), concat({{35, 3, 0xAB}, repeat(0, 15)}));
  EXPECT_EQ(view_.questions.size(), 1u);
  EXPECT_TRUE(view_.messages.empty());
}

// A value block written, increased and decreased holds the sum; "TYPE:" is not read.
TEST_F(MifarePage, ValueBlockRoundTrip) {
  place(10, 2);
  view_.set_selection(M::TypeList, 1);
  type(M::InputBox, L"100");
  model_.write_block();
  view_.set_selection(M::TypeList, 0);
  type(M::InputBox, L"25");
  model_.increment();
  EXPECT_EQ(last("R41"), (Bytes{10, 2, 25, 0, 0, 0}));
  view_.set_selection(M::TypeList, 3);
  type(M::InputBox, L"-300");
  model_.decrement();
  EXPECT_EQ(last("R42"), (Bytes{10, 2, 0xD4, 0xFE, 0xFF, 0xFF}));
  EXPECT_EQ(result(), 0);
  model_.read_block();
  EXPECT_EQ(result(), 0);
  const auto &response = commands_.state().response;
  // 100 + 25 + 300 = 425 = 0x1A9.
  EXPECT_EQ(Bytes(response.begin() + 2, response.begin() + 18),
            (Bytes{0xA9, 0x01, 0, 0, 0x56, 0xFE, 0xFF, 0xFF, 0xA9, 0x01, 0, 0, 0xAA, 0x55, 0xAA, 0x55}));
  EXPECT_EQ(commands_.codes, (std::vector<std::string>{"R32", "R41", "R42", "R31"}));
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(MifarePage, WriteSectorForms) {
  view_.set_selection(M::TypeList, 2);
  view_.set_selection(M::SectorList, 32);  // sector 31
  type(M::InputBox, L"0102");
  model_.write_sector();
  EXPECT_EQ(last("R37"), concat({{31, 1, 2}, repeat(0, 49)}));
  EXPECT_EQ(result(), 0);

  // Sector 32: 256 bytes from the first 510 characters of a longer text (past the work
  // buffer).
  std::wstring text;
  const wchar_t *digits = L"0123456789ABCDEF";
  for (int i = 0; i < 300; ++i) text += {digits[(i % 256) / 16], digits[i % 16]};
  text += L"EE";
  view_.set_selection(M::SectorList, 33);
  type(M::InputBox, text);
  model_.write_sector();
  Bytes expected{32};
  for (int i = 0; i < 255; ++i) expected.push_back(static_cast<std::uint8_t>(i));
  EXPECT_EQ(last("R37"), expected);
  EXPECT_EQ(result(), 0);
  model_.read_sector();
  EXPECT_EQ(last("R36"), Bytes{32});
  // A separator byte before each block: block 0 holds the bytes written from 01 on.
  EXPECT_EQ(commands_.state().response[2], 1);
  EXPECT_EQ(commands_.state().response[3], 2);

  // The short form takes 102 characters of the same text.
  view_.set_selection(M::SectorList, 12);
  model_.write_sector();
  Bytes short_form{11};
  for (int i = 0; i < 51; ++i) short_form.push_back(static_cast<std::uint8_t>(i));
  EXPECT_EQ(last("R37"), short_form);
  EXPECT_TRUE(view_.messages.empty());
}

// With a command in flight the library refuses: "Frame Error" everywhere but
// "Write Sector", which stays silent.
TEST_F(MifarePage, RefusedStarts) {
  ASSERT_TRUE(sim_->add_fault("C11:late=500"));
  ASSERT_NE(model(), 0);
  place(5, 1);
  view_.set_selection(M::TypeList, 2);
  view_.set_selection(M::PageList, 5);
  model_.write_sector();
  EXPECT_TRUE(view_.messages.empty());
  for (void (M::*handler)() : {&M::read_block, &M::get_uid, &M::ul_read, &M::ul_auth}) (model_.*handler)();
  EXPECT_EQ(view_.messages, std::vector<std::wstring>(4, L"Frame Error"));
  EXPECT_EQ(commands_.codes, (std::vector<std::string>{"R37", "R31", "R61", "U31", "U33"}));
  std::uint8_t buffer[TOLVEX_RESPONSE_MAX];
  int length = 0, res = 0;
  std::uint8_t prc = 0;
  for (int i = 0; i < 1000 && chk_res(buffer, &length, &prc, &res) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (const Frame &f : frames()) EXPECT_EQ(f.code, "C11");
}

TEST_F(MifarePage, Ultralight) {
  view_.set_selection(M::PageList, 5);
  const struct {
    std::wstring text;
    Bytes page;
  } writes[] = {
      {L"0102", {4, 1, 2, 0, 0}},
      {L"0A0B0C0D0E", {4, 0x0A, 0x0B, 0x0C, 0x0D}},
      {kUmlaut + L"12", {4, 0x00, 0x12, 0, 0}},  // the 8-bit text's C3 84 is no hex pair
  };
  for (const auto &w : writes) {
    type(M::UlInputBox, w.text);
    model_.ul_write();
    EXPECT_EQ(last("U32"), w.page);
    EXPECT_EQ(result(), 0);
  }
  type(M::UlInputBox, L"0102");
  model_.ul_write();
  model_.ul_read();
  EXPECT_EQ(last("U31"), Bytes{4});
  EXPECT_EQ(commands_.state().response[1], 1);

  model_.ul_get_uid();
  EXPECT_TRUE(sent("U41"));
  EXPECT_EQ(commands_.state().length, 7u);
  EXPECT_TRUE(view_.messages.empty());
}

// "AUTH" sends the whole 8-bit text two digits a byte under the current-command code;
// an odd byte count or a text past the work buffer sends nothing.
TEST_F(MifarePage, UltralightAuth) {
  const std::wstring too_long = L"INPUT: 300 BYTES; THE TEXT OF \"AUTH\" IS AT MOST 299 BYTES. NOTHING SENT.";
  const struct {
    std::wstring text;
    const wchar_t *message;  // null: sent
    Bytes data;
  } cases[] = {
      {L"1234567", L"Frame Error", {}},
      {kUmlaut + L"1", L"Frame Error", {}},  // two characters, three bytes
      {std::wstring(300, L'1'), too_long.c_str(), {}},
      {std::wstring(150, L'\u00C4'), too_long.c_str(), {}},
      {L"", nullptr, {}},
      {kUmlaut + L"12", nullptr, {0x00, 0x12}},
      {std::wstring(298, L'A'), nullptr, repeat(0xAA, 149)},
  };
  for (const auto &c : cases) {
    view_.messages.clear();
    forget_received();
    type(M::UlInputBox, c.text);
    model_.ul_auth();
    if (c.message != nullptr) {
      EXPECT_EQ(view_.messages, std::vector<std::wstring>{c.message}) << c.text.size();
      EXPECT_FALSE(sent("U33"));
    } else {
      EXPECT_TRUE(view_.messages.empty());
      EXPECT_EQ(last("U33"), c.data);
    }
  }
  // The card's key authenticates.
  std::wstring key;
  for (const char c : std::string("BREAKMEIFYOUCAN!")) {
    const wchar_t *digits = L"0123456789ABCDEF";
    key += {digits[static_cast<unsigned char>(c) / 16], digits[static_cast<unsigned char>(c) % 16]};
  }
  type(M::UlInputBox, key);
  model_.ul_auth();
  EXPECT_EQ(last("U33").size(), 16u);
  EXPECT_EQ(result(), 0);
}

}  // namespace
}  // namespace tolvex::bench
