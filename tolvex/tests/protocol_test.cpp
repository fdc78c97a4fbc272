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
  std::set<std::string> commands;
#define TOLVEX_EXPORT(ordinal, name, args, code, purpose) \
  if (std::string_view(code) != "") commands.insert(#name);
#define TOLVEX_EXTRA(name, purpose)
#include "export_table.inc"
#undef TOLVEX_EXPORT
#undef TOLVEX_EXTRA
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

TEST(Protocol, ResultTextsThroughTheCInterface) {
  struct Case {
    int code;
    const char *text;  // null: no text
  };
  const Case cases[] = {
      {TOLVEX_NO_ACK, "No ACK Error."},
      {TOLVEX_TIMEOUT, "TIMEOUT Error."},
      {TOLVEX_NAK, "NAK Error."},
      {TOLVEX_STOPPED, "Compulsion termination Error."},
      {TOLVEX_FRAME_ERROR, "Packet Frame Error."},
      {TOLVEX_BCC_ERROR, "BCC Error."},
      {TOLVEX_TX_ERROR, "Transmission Error."},
      {TOLVEX_NEGATIVE, "Negative Error."},
      {0x2001, "Using the command that does not defined in this model."},
      {0x2005, "No cards."},
      {0x200B, "When the using card error, commonly occur in MSRW."},
      {0x2310, "\"Secret Key Download\" command sequence error."},
      {0x2400, "Unavailable FLASH memory ic."},
      {TOLVEX_OK, nullptr},
      {4, nullptr},
      {0x200A, nullptr},
      {0x2401, nullptr},
      {-1, nullptr},
      {0x10000 + 0x2005, nullptr},  // not a 16-bit status word
  };
  for (const Case &c : cases) {
    const char *text = tolvex_result_text(c.code);
    if (c.text == nullptr) {
      EXPECT_EQ(text, nullptr) << c.code;
    } else {
      ASSERT_NE(text, nullptr) << c.code;
      EXPECT_STREQ(text, c.text) << c.code;
      EXPECT_EQ(tolvex_result_text(c.code), text) << "a static string, the same every call";
    }
  }
  std::set<int> codes;
  for (const ResultText &row : kResultTexts) EXPECT_TRUE(codes.insert(row.code).second) << row.code;
  EXPECT_EQ(codes.size(), 49u);
}

}  // namespace
}  // namespace tolvex
