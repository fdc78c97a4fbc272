#include "report.hpp"

#include <gtest/gtest.h>
#include <tolvex/protocol.hpp>

#include <array>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace tolvex::bench {
namespace {

// A 300-byte response buffer as the wait step leaves it: zero-filled, then the data.
struct Fixture {
  std::array<std::uint8_t, 300> buffer{};
  Outcome outcome;

  Fixture(const char *code, int result, std::initializer_list<std::uint8_t> data, int view = 0) {
    set(code, result, std::vector<std::uint8_t>(data), view);
  }
  Fixture(const char *code, int result, const std::vector<std::uint8_t> &data, int view = 0) {
    set(code, result, data, view);
  }
  void set(const char *code, int result, const std::vector<std::uint8_t> &data, int view) {
    std::memcpy(outcome.code, code, 3);
    outcome.result = result;
    outcome.length = static_cast<std::uint32_t>(data.size());
    std::copy(data.begin(), data.end(), buffer.begin());
    outcome.response = buffer.data();
    outcome.capacity = buffer.size();
    outcome.view_mode = view;
  }
  std::wstring build() {
    ReportBuilder builder;
    return builder.build(outcome);
  }
};

std::vector<std::uint8_t> bytes_of(const std::string &s) { return {s.begin(), s.end()}; }

TEST(Report, ModelTextInBothViews) {
  Fixture s("C11", 0, bytes_of("KDM-3000"));
  EXPECT_EQ(s.build(), L" COMMAND: Get model\n RESULT: KDM-3000 ");
  Fixture h("C11", 0, bytes_of("AB"), 1);
  EXPECT_EQ(h.build(), L" COMMAND: Get model\n DATA: [41][42] ");
  Fixture fw("C12", 0, bytes_of("V1.02"));
  EXPECT_EQ(fw.build(), L" COMMAND: Get Firmware version\n RESULT: V1.02 ");
  // Any view value other than 0 is the hex view.
  Fixture other("C11", 0, {0x0F}, 7);
  EXPECT_EQ(other.build(), L" COMMAND: Get model\n DATA: [0F] ");
}

TEST(Report, StackerWords) {
  EXPECT_EQ(Fixture("C13", 0, {1, 3}).build(),
            L" COMMAND: Get Stacker\n RESULT: Stacker #1- Good,   Stacker #2- Empty    ");
  EXPECT_EQ(Fixture("C13", 0, {0, 3}).build(), L" COMMAND: Get StackerStacker #2- Empty    ");
  EXPECT_EQ(Fixture("C13", 0, {5, 9}).build(), L" COMMAND: Get Stacker\n RESULT: Stacker #1- No Cartridge,    ");
  EXPECT_EQ(Fixture("C13", 0, {2, 4}).build(),
            L" COMMAND: Get Stacker\n RESULT: Stacker #1- Warning,   Stacker #2- Full    ");
  EXPECT_EQ(Fixture("C13", 0, {6, 0}).build(), L" COMMAND: Get Stacker ");
  EXPECT_EQ(Fixture("C13", 0, {4, 5}, 1).build(), L" COMMAND: Get Stacker\n DATA: [04][05] ");
}

TEST(Report, StatusListEntries) {
  EXPECT_EQ(Fixture("C14", 0, {}).build(), L" COMMAND: Get Status List\n RESULT: GOOD ");
  EXPECT_EQ(Fixture("C14", 0, {0x20, 0x04, 0x21, 0x05}).build(),
            L" COMMAND: Get Status List\n RESULT: ERROR 0- 0x2004, ERROR 1- 0x2105,  ");
  EXPECT_EQ(Fixture("C14", 0, {0x20, 0x04, 0xAB}).build(),
            L" COMMAND: Get Status List\n RESULT: ERROR 0- 0x2004, ERROR 1- 0xAB00,  ");
}

TEST(Report, EmptyResponsesInGenericPart) {
  EXPECT_EQ(Fixture("C15", 0, {}).build(), L" COMMAND: Get Error List\n RESULT   : No Error! ");
  EXPECT_EQ(Fixture("C33", 0, {}).build(), L" COMMAND: Card eject\n RESULT   : Success! ");
  EXPECT_EQ(Fixture("C15", 0, {}, 1).build(), L" COMMAND: Get Error List\n RESULT   : No Error! ");
  EXPECT_EQ(Fixture("C15", 0, {0x22, 0x03}).build(), L" COMMAND: Get Error List\n DATA: [22][03] ");
}

TEST(Report, CardPositionSensors) {
  EXPECT_EQ(Fixture("C16", 0, {0x05}).build(),
            L" COMMAND: Get Card Position\n RESULT: The Card is located at  SENSOR 1, SENSOR 3, ");
  EXPECT_EQ(Fixture("C16", 0, {0x00}).build(), L" COMMAND: Get Card Position\n RESULT: No cards ");
  EXPECT_EQ(Fixture("C16", 0, {0x80}).build(),
            L" COMMAND: Get Card Position\n RESULT: The Card is located at  SENSOR 8, ");
}

TEST(Report, InputPorts) {
  EXPECT_EQ(Fixture("C17", 0, {0x41, 0x0F}).build(),
            L" COMMAND: Get status of input port\n RESULT: In port 1- [41], In port 2- [0F] ");
}

TEST(Report, BlockReadBalanceOrText) {
  // 100 = 0x64, complement 0xFFFFFF9B, then 100 again, all little-endian.
  const std::vector<std::uint8_t> value{0x00, 0x00, 0x64, 0, 0, 0, 0x9B, 0xFF, 0xFF, 0xFF, 0x64, 0, 0, 0, 0x07, 0x8F};
  EXPECT_EQ(Fixture("R31", 0, value).build(),
            L" COMMAND: Read RF card data in Block Range\n RESULT:  <BALANCE: 100> ");
  EXPECT_EQ(Fixture("R33", 0, value).build(),
            L" COMMAND: Read RF card without checking sensor\n RESULT:  <BALANCE: 100> ");
  EXPECT_EQ(Fixture("R31", 0, value, 1).build(),
            L" COMMAND: Read RF card data in Block Range\n DATA: "
            L"[00][00][64][00][00][00][9B][FF][FF][FF][64][00][00][00][07][8F]          <BALANCE: 100> ");
  // Only R31 adds the balance in the hex view.
  EXPECT_EQ(Fixture("R33", 0, value, 1).build(),
            L" COMMAND: Read RF card without checking sensor\n DATA: "
            L"[00][00][64][00][00][00][9B][FF][FF][FF][64][00][00][00][07][8F] ");

  std::vector<std::uint8_t> text{0x01, 0x02};
  for (char c : std::string("HELLO CARD 12345")) text.push_back(static_cast<std::uint8_t>(c));
  EXPECT_EQ(Fixture("R31", 0, text).build(), L" COMMAND: Read RF card data in Block Range\n RESULT: HELLO CARD 12345 ");
  EXPECT_EQ(Fixture("R31", 0, {0x01, 0x02, 0x41}, 1).build(),
            L" COMMAND: Read RF card data in Block Range\n DATA: [01][02][41] ");

  // Largest balance is shown without sign; a broken complement is no value block.
  const std::vector<std::uint8_t> big{0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Fixture("R31", 0, big).build(), L" COMMAND: Read RF card data in Block Range\n RESULT:  <BALANCE: 4294967295> ");
  std::vector<std::uint8_t> broken = value;
  broken[7] = 0xFE;
  EXPECT_EQ(Fixture("R31", 0, broken).build(), L" COMMAND: Read RF card data in Block Range\n RESULT: d ");
}

TEST(Report, SectorBlocksAndSharedBufferZeroing) {
  std::vector<std::uint8_t> data(52, 0);
  data[0] = 0x00;
  data[1] = 0x05;
  const char *b0 = "AAAAAAAAAAAAAAAA";
  const char *b2 = "CCCCCCCCCCCCCCCC";
  std::memcpy(&data[2], b0, 16);
  data[18] = 'X';  // separator bytes are cut off by the zero written into the buffer
  const std::uint8_t value[12] = {0x0A, 0, 0, 0, 0xF5, 0xFF, 0xFF, 0xFF, 0x0A, 0, 0, 0};
  std::memcpy(&data[19], value, 12);
  data[35] = 'Y';
  std::memcpy(&data[36], b2, 16);
  Fixture f("R36", 0, data);
  EXPECT_EQ(f.build(), L" COMMAND: Read RF card data in Sector Range \n BLOCK 0: AAAAAAAAAAAAAAAA \n BLOCK 1:  <BALANCE: 10>"
                       L" \n BLOCK 2: CCCCCCCCCCCCCCCC ");
  EXPECT_EQ(f.buffer[18], 0);
  EXPECT_EQ(f.buffer[35], 0);
  // The hex view leaves the buffer alone and shows every byte.
  Fixture h("R36", 0, data, 1);
  const std::wstring report = h.build();
  EXPECT_EQ(h.buffer[18], 'X');
  EXPECT_NE(report.find(L"[41][58][0A]"), std::wstring::npos);
}

TEST(Report, SerialBlockTextFromByteOne) {
  EXPECT_EQ(Fixture("S11", 0, {0x03, 'a', 'b', 'c', 'd'}).build(),
            L" COMMAND: Read data of the SL2 ICS20 card in block range\n RESULT: abcd ");
}

TEST(Report, FoldsLongDataAfter120Characters) {
  std::vector<std::uint8_t> data(60);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  const std::wstring report = Fixture("C48", 0, data).build();
  // No name line for C48: the report starts with the data part.
  auto group = [](int i) {
    wchar_t buf[8];
    std::swprintf(buf, 8, L"[%02X]", i);
    return std::wstring(buf);
  };
  std::wstring expected = L"\n DATA: ";
  for (int i = 0; i < 28; ++i) expected += group(i);
  expected += L"\n  ";
  for (int i = 28; i < 58; ++i) expected += group(i);
  expected += L"\n  ";
  for (int i = 58; i < 60; ++i) expected += group(i);
  expected += L" ";
  EXPECT_EQ(report, expected);

  // Exactly 120 characters (28 groups) stay whole.
  data.resize(28);
  const std::wstring whole = Fixture("C48", 0, data).build();
  EXPECT_EQ(whole.find(L"\n  "), std::wstring::npos);
  EXPECT_EQ(whole.size(), 121u);
}

TEST(Report, FailureTextsIgnoreViewAndData) {
  EXPECT_EQ(Fixture("C11", 2, {}).build(), L" COMMAND: Get model\n RESULT   : False!\n ERROR : TIMEOUT Error. ");
  EXPECT_EQ(Fixture("C11", 2, {0x41}, 1).build(), L" COMMAND: Get model\n RESULT   : False!\n ERROR : TIMEOUT Error. ");
  EXPECT_EQ(Fixture("C31", 0x2005, {0x20, 0x05}).build(),
            L" COMMAND: Card move from stacker\n RESULT   : False!\n ERROR : No cards. ");
  EXPECT_EQ(Fixture("R72", 0x2310, {}).build(),
            L" COMMAND: Change 'Secret Key' to a new key\n RESULT   : False!\n ERROR : \"Secret Key Download\" command sequence error. ");
  EXPECT_EQ(Fixture("C11", 2000, {}).build(), L" COMMAND: Get model\n RESULT   : False!\n ERROR : Negative Error. ");
  EXPECT_EQ(Fixture("C11", 106, {}).build(), L" COMMAND: Get model\n RESULT   : False!\n ERROR : Packet Frame Error. ");
  EXPECT_EQ(Fixture("C11", 0x2222, {}).build(), L" COMMAND: Get model\n RESULT   : False!\n ERROR : 0x2222 ");
  EXPECT_EQ(Fixture("C11", 4, {}).build(), L" COMMAND: Get model\n RESULT   : False!\n ERROR : 0x0004 ");
  EXPECT_EQ(Fixture("C11", 0x2010, {}).build(), L" COMMAND: Get model\n RESULT   : False!\n ERROR : 0x2010 ");
  EXPECT_EQ(Fixture("XYZ", 0x12345, {}).build(), L"\n RESULT   : False!\n ERROR : 0x12345 ");
}

TEST(Report, EveryErrorCodeHasItsRow) {
  // Every row of the protocol's text table, as the report shows it (the texts are ASCII).
  for (const ResultText &row : kResultTexts) {
    const std::string text = row.text;
    EXPECT_EQ(failure_part(row.code), L"\n RESULT   : False!\n ERROR : " + std::wstring(text.begin(), text.end()))
        << row.code;
  }
  EXPECT_EQ(failure_part(0x2009),
            L"\n RESULT   : False!\n ERROR : When more than two cards exit in the terminal simultaneously.");
  EXPECT_TRUE(result_message(0x200A).empty());
  EXPECT_TRUE(result_message(0).empty());
}

TEST(Report, NameLinesWithQuotesAndTabs) {
  EXPECT_EQ(Fixture("R53", 0, {}).build(), L" COMMAND: Select \"Secret Key Index\"\n RESULT   : Success! ");
  EXPECT_EQ(Fixture("R55", 0, {}).build(),
            L"\tCOMMAND: Change 'RF card secret key' to a new key from key set\n RESULT   : Success! ");
  EXPECT_EQ(Fixture("R56", 0, {}).build(),
            L"\tCOMMAND: Change 'RF card secret key' to all the same key value from key set\n RESULT   : Success! ");
  EXPECT_EQ(Fixture("T33", 0, {}).build(), L"\n RESULT   : Success! ");
  EXPECT_EQ(name_line("M35"), L" COMMAND: Magnetic Card All Track Read");
  EXPECT_EQ(name_line("Z01"), L" COMMAND: Reads the printed card");
  EXPECT_TRUE(name_line("C1").empty());
}

TEST(Report, MessageLogGrowsAndStaysBounded) {
  ReportBuilder builder;
  std::array<std::uint8_t, 300> buffer{};
  Outcome o;
  std::memcpy(o.code, "Z01", 3);
  o.response = buffer.data();
  o.capacity = buffer.size();
  auto answer = [&](const std::string &text) {
    buffer.fill(0);
    std::memcpy(buffer.data() + 2, text.data(), text.size() < 298 ? text.size() : 298);
    o.length = static_cast<std::uint32_t>(2 + text.size());
    return builder.build(o);
  };
  EXPECT_EQ(answer("FIRST"), L" COMMAND: Reads the printed card\n NAME: \r\nMessage: FIRST ");
  EXPECT_EQ(answer("SECOND"), L" COMMAND: Reads the printed card\n NAME: \r\nMessage: FIRST\r\nMessage: SECOND ");

  // Keep adding: the log never exceeds 299 bytes, always starts at an entry, keeps the newest.
  for (int i = 0; i < 40; ++i) {
    const std::wstring report = answer("ENTRY" + std::to_string(i));
    ASSERT_LE(builder.message_log().size(), kMessageLogCapacity - 1);
    ASSERT_EQ(builder.message_log().rfind("\r\nMessage: ", 0), 0u);
    ASSERT_NE(report.find(L"Message: ENTRY" + std::to_wstring(i) + L" "), std::wstring::npos);
  }
  EXPECT_EQ(builder.message_log().find("FIRST"), std::string::npos);

  // A 298-byte answer with no zero byte: ends at the buffer's end and is cut to fit.
  buffer.fill('Z');
  o.length = 300;
  const std::wstring report = builder.build(o);
  EXPECT_EQ(builder.message_log().size(), kMessageLogCapacity - 1);
  EXPECT_EQ(builder.message_log(), "\r\nMessage: " + std::string(299 - 11, 'Z'));
  EXPECT_EQ(report.back(), L' ');
}

TEST(Report, NeverReadsPastTheBuffer) {
  // A full 300-byte text without zero: C11 text runs to the end of the buffer only.
  std::vector<std::uint8_t> full(300, 'M');
  Fixture f("C11", 0, full);
  EXPECT_EQ(f.build(), L" COMMAND: Get model\n RESULT: " + std::wstring(300, L'M') + L" ");

  // Length larger than the buffer, tiny buffers and no buffer at all.
  std::array<std::uint8_t, 4> tiny{'O', 'K', 0x20, 0x05};
  Outcome o;
  std::memcpy(o.code, "R36", 3);
  o.response = tiny.data();
  o.capacity = tiny.size();
  o.length = 987;
  ReportBuilder builder;
  EXPECT_EQ(builder.build(o), L" COMMAND: Read RF card data in Sector Range \n BLOCK 0:  \x05"
                                 L" \n BLOCK 1:  \n BLOCK 2:  ");
  o.view_mode = 1;
  EXPECT_EQ(builder.build(o), L" COMMAND: Read RF card data in Sector Range\n DATA: [4F][4B][20][05] ");
  o.response = nullptr;
  o.capacity = 0;
  o.view_mode = 0;
  std::memcpy(o.code, "C13", 3);
  EXPECT_EQ(builder.build(o), L" COMMAND: Get Stacker ");
  std::memcpy(o.code, "C14", 3);
  EXPECT_EQ(builder.build(o), L" COMMAND: Get Status List\n RESULT: GOOD ");
}

TEST(Report, ResponseTextIsUtf8WithReplacement) {
  Fixture f("C11", 0, {'K', 0xC3, 0xA9, 0xFF, 'X'});
  EXPECT_EQ(f.build(), L" COMMAND: Get model\n RESULT: K\u00E9\uFFFDX ");
}

TEST(ValueBlock, DetectsOnlyExactPattern) {
  const std::uint8_t zero[12] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
  EXPECT_EQ(value_block_balance(zero), 0u);
  const std::uint8_t v[12] = {0x78, 0x56, 0x34, 0x12, 0x87, 0xA9, 0xCB, 0xED, 0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(value_block_balance(v), 0x12345678u);
  std::uint8_t third_differs[12];
  std::memcpy(third_differs, v, 12);
  third_differs[11] = 0x13;
  EXPECT_FALSE(value_block_balance(third_differs).has_value());
  const std::uint8_t all_zero[12] = {};
  EXPECT_FALSE(value_block_balance(all_zero).has_value());
}

}  // namespace
}  // namespace tolvex::bench
