// The protocol definition against what callers read elsewhere: the public header's
// notes on each command, the texts handed out through the C interface, the table itself.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tolvex/protocol.hpp"
#include "tolvex/tolvex.h"

#include "command_exports.hpp"

namespace tolvex {
namespace {

// Each command's comment in the header opens with its code and "short" or "long"; the
// function declared after it must be one that the code's row lists, with that window.
TEST(Protocol, HeaderNotesAgreeWithTheCommandTable) {
  std::ifstream in(TOLVEX_HEADER_FILE);
  ASSERT_TRUE(in) << TOLVEX_HEADER_FILE;
  std::stringstream text;
  text << in.rdbuf();
  const std::string header = text.str();
  const std::regex note(R"re(/\* "([A-Z][0-9]{2})" (short|long)[^]*?\*/\s*TOLVEX_API int TOLVEX_CALL (\w+)\()re");
  std::set<std::string> noted;
  for (std::sregex_iterator it(header.begin(), header.end(), note), end; it != end; ++it) {
    const std::string code = (*it)[1], window = (*it)[2], function = (*it)[3];
    const CommandInfo *row = find_code(code);
    ASSERT_NE(row, nullptr) << code;
    EXPECT_EQ(is_short_reply(code), window == "short") << function << " " << code;
    EXPECT_TRUE(lists(row->exports, function)) << function << " is noted as sending " << code;
    noted.insert(function);
  }
  // Every command function has such a note, but the two whose notes name several codes.
  std::set<std::string> commands = test::command_exports();
  commands.erase("ms_wt");
  commands.erase("ms_all_wt");
  EXPECT_EQ(noted, commands);
}

TEST(Protocol, CommandCodesAreWellFormedAndListedOnce) {
  std::set<std::string_view> seen;
  for (const CommandInfo &c : kCommands) {
    ASSERT_EQ(c.code.size(), kCodeSize);
    EXPECT_TRUE(c.code[0] >= 'A' && c.code[0] <= 'Z' && c.code[1] >= '0' && c.code[1] <= '9' && c.code[2] >= '0' &&
                c.code[2] <= '9')
        << c.code;
    EXPECT_TRUE(seen.insert(c.code).second) << c.code << " listed twice";
  }
  // Only the first three characters name the code; shorter text names none.
  ASSERT_NE(find_code("C11xyz"), nullptr);
  EXPECT_EQ(find_code("C11xyz")->code, "C11");
  EXPECT_EQ(find_code("C1"), nullptr);
  EXPECT_EQ(find_code("c11"), nullptr);
}

// Every row of the text table through the C interface: found by its code, the same
// static string every call, non-empty and unique; each code listed once.
TEST(Protocol, ResultTextsThroughTheCInterface) {
  std::set<int> codes;
  std::set<std::string> texts;
  for (const ResultText &row : kResultTexts) {
    SCOPED_TRACE(row.code);
    EXPECT_TRUE(codes.insert(row.code).second) << "listed twice";
    ASSERT_NE(row.text, nullptr);
    EXPECT_NE(std::string(row.text), "");
    EXPECT_TRUE(texts.insert(row.text).second) << "text shared: " << row.text;
    EXPECT_EQ(tolvex_result_text(row.code), row.text);
  }
  // The result codes of the public header, and the status words by name, all have texts;
  // success has none.
  for (int code : {TOLVEX_NO_ACK, TOLVEX_TIMEOUT, TOLVEX_NAK, TOLVEX_STOPPED, TOLVEX_FRAME_ERROR, TOLVEX_BCC_ERROR,
                   TOLVEX_TX_ERROR, TOLVEX_NEGATIVE}) {
    EXPECT_NE(tolvex_result_text(code), nullptr) << code;
  }
#define TOLVEX_STATUS_HAS_TEXT(name, code, text)                   \
  EXPECT_STREQ(tolvex_result_text(terminal_status::name), text) << #name; \
  EXPECT_EQ(terminal_status::name & 0xF000, 0x2000) << #name;
  TOLVEX_STATUS_WORDS(TOLVEX_STATUS_HAS_TEXT)
#undef TOLVEX_STATUS_HAS_TEXT
  // Known values, against a table that went wrong as a whole.
  EXPECT_STREQ(tolvex_result_text(TOLVEX_NO_ACK), "No ACK Error.");
  EXPECT_STREQ(tolvex_result_text(TOLVEX_NEGATIVE), "Negative Error.");
  EXPECT_STREQ(tolvex_result_text(0x2005), "No cards.");
  EXPECT_STREQ(tolvex_result_text(0x2310), "\"Secret Key Download\" command sequence error.");
  EXPECT_EQ(terminal_status::kNoCard, 0x2005);
  // Codes with no text.
  for (int code : {TOLVEX_OK, 4, 0x200A, 0x2401, -1, 0x10000 + 0x2005}) {
    EXPECT_EQ(tolvex_result_text(code), nullptr) << code;
  }
}

}  // namespace
}  // namespace tolvex
