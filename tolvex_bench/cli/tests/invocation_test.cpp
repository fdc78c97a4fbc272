#include "invocation.hpp"

#include <gtest/gtest.h>
#include <tolvex/protocol.hpp>

#include <cctype>
#include <set>
#include <sstream>

namespace tolvex::cli {
namespace {

PreparedCall prepare_ok(std::vector<std::string> words) {
  PreparedCall call;
  std::string error;
  EXPECT_TRUE(prepare_call(words, call, error)) << error;
  return call;
}

std::string prepare_error(std::vector<std::string> words) {
  PreparedCall call;
  std::string error;
  EXPECT_FALSE(prepare_call(words, call, error)) << words[0];
  return error;
}

TEST(CommandTable, EveryExportOnceWithItsRole) {
  std::set<int> ordinals;
  std::set<std::string_view> names;
  for (const Command &c : commands()) {
    if (c.ordinal != 0) {
      EXPECT_TRUE(ordinals.insert(c.ordinal).second) << c.name;
    }
    EXPECT_TRUE(names.insert(c.name).second) << c.name;
    EXPECT_FALSE(c.purpose.empty()) << c.name;
    ASSERT_NE(c.invoke, nullptr);
  }
  // Every numbered export has a command, and the ordinals run from 1 without a gap.
  ASSERT_FALSE(ordinals.empty());
  EXPECT_EQ(*ordinals.begin(), 1);
  EXPECT_EQ(*ordinals.rbegin(), static_cast<int>(ordinals.size()));
  for (const char *refused : {"EnablePort", "DisablePort", "chk_res", "exe_stop"}) {
    ASSERT_NE(find_command(refused), nullptr);
    EXPECT_EQ(find_command(refused)->role, Role::Refused) << refused;
  }
  EXPECT_EQ(find_command("delay")->role, Role::Local);
  EXPECT_EQ(find_command("call_src_ver")->role, Role::Local);
  EXPECT_EQ(find_command("exe_cmd")->role, Role::Terminal);
  EXPECT_EQ(find_command("model")->code, "C11");
  EXPECT_EQ(find_command("nonsense"), nullptr);
}

TEST(CommandTable, SignatureKinds) {
  const auto args = parse_signature("mode:u8 rtc:hex7 data:hex value:i32 n:int code:str b:u32");
  ASSERT_EQ(args.size(), 7u);
  EXPECT_EQ(args[1].kind, Kind::HexFixed);
  EXPECT_EQ(args[1].size, 7u);
  EXPECT_EQ(kind_text(args[1]), "hex7");
  EXPECT_EQ(args[2].kind, Kind::Hex);
  EXPECT_EQ(args[3].kind, Kind::I32);
  EXPECT_EQ(args[6].kind, Kind::U32);
  EXPECT_THROW(parse_signature("x:float"), std::invalid_argument);
  EXPECT_THROW(parse_signature("x"), std::invalid_argument);
  EXPECT_THROW(parse_signature("x:hex1a"), std::invalid_argument);
}

TEST(Numbers, RangesAndBases) {
  std::int64_t v = 0;
  std::string e;
  EXPECT_TRUE(parse_number("255", Kind::U8, v, e));
  EXPECT_EQ(v, 255);
  EXPECT_TRUE(parse_number("0xff", Kind::U8, v, e));
  EXPECT_EQ(v, 255);
  EXPECT_TRUE(parse_number("0X1F", Kind::U8, v, e));
  EXPECT_EQ(v, 31);
  EXPECT_FALSE(parse_number("256", Kind::U8, v, e));
  EXPECT_NE(e.find("out of range 0 to 255"), std::string::npos);
  EXPECT_FALSE(parse_number("-1", Kind::U8, v, e));
  EXPECT_TRUE(parse_number("-0", Kind::U8, v, e));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(parse_number("-2147483648", Kind::I32, v, e));
  EXPECT_EQ(v, -2147483648LL);
  EXPECT_FALSE(parse_number("-2147483649", Kind::I32, v, e));
  EXPECT_FALSE(parse_number("2147483648", Kind::I32, v, e));
  EXPECT_TRUE(parse_number("4294967295", Kind::U32, v, e));
  EXPECT_FALSE(parse_number("4294967296", Kind::U32, v, e));
  EXPECT_FALSE(parse_number("99999999999999999999999", Kind::U32, v, e));
  EXPECT_NE(e.find("out of range"), std::string::npos);
  for (const char *bad : {"", "-", "0x", "12a", "1 ", " 1", "+1", "0xg", "--1"}) {
    EXPECT_FALSE(parse_number(bad, Kind::Int, v, e)) << bad;
    EXPECT_NE(e.find("not a number"), std::string::npos) << bad;
  }
}

TEST(Prepare, BuildsCArgumentsInParameterOrder) {
  const PreparedCall mov = prepare_ok({"card_stk_mov", "0", "0x1"});
  EXPECT_EQ(mov.code, "C31");
  ASSERT_EQ(mov.c_args.size(), 2u);
  EXPECT_EQ(mov.c_args[1].number, 1);

  // hex: bytes then their count.
  const PreparedCall wt = prepare_ok({"ms_wt", "0", "1", "48454c4C4f"});
  EXPECT_EQ(wt.code, "M33");
  ASSERT_EQ(wt.c_args.size(), 4u);
  EXPECT_EQ(wt.c_args[2].bytes, (std::vector<std::uint8_t>{'H', 'E', 'L', 'L', 'O'}));
  EXPECT_EQ(wt.c_args[3].number, 5);

  // hexN: exactly N bytes, zero-filled.
  const PreparedCall blk = prepare_ok({"mi_wt_blk", "1", "2", "0102"});
  ASSERT_EQ(blk.c_args.size(), 3u);
  EXPECT_EQ(blk.c_args[2].bytes.size(), 16u);
  EXPECT_EQ(blk.c_args[2].bytes[1], 0x02);
  EXPECT_EQ(blk.c_args[2].bytes[15], 0x00);

  const PreparedCall dec = prepare_ok({"mi_bal_dec", "1", "1", "-5"});
  EXPECT_EQ(dec.c_args[2].number, -5);
}

TEST(Prepare, ReportCodeFollowsTheSentForm) {
  EXPECT_EQ(prepare_ok({"ms_rd", "0"}).code, "M35");
  EXPECT_EQ(prepare_ok({"ms_rd", "2"}).code, "M31");
  EXPECT_EQ(prepare_ok({"ms_wt", "0", "0", "41"}).code, "M36");
  EXPECT_EQ(prepare_ok({"ms_wt", "4", "2", "41"}).code, "M34");
  EXPECT_EQ(prepare_ok({"ms_wt", "4", "0", "41"}).code, "M37");
  EXPECT_EQ(prepare_ok({"ms_all_wt", "0", "41"}).code, "M36");
  EXPECT_EQ(prepare_ok({"ms_all_wt", "1", "41"}).code, "M37");
  EXPECT_EQ(prepare_ok({"exe", "C48"}).code, "C48");
  EXPECT_EQ(prepare_ok({"exe_cmd", "U33", "0A0B"}).code, "U33");
  EXPECT_EQ(prepare_ok({"card_eject_ag"}).code, "T33");
}

TEST(Prepare, ExeDataIsOptional) {
  const PreparedCall bare = prepare_ok({"exe", "C11"});
  ASSERT_EQ(bare.c_args.size(), 3u);
  EXPECT_EQ(bare.c_args[0].text, "C11");
  EXPECT_TRUE(bare.c_args[1].bytes.empty());
  EXPECT_EQ(bare.c_args[2].number, 0);
  const PreparedCall with = prepare_ok({"exe", "M36", "00FF"});
  EXPECT_EQ(with.c_args[2].number, 2);
  EXPECT_NE(prepare_error({"exe_cmd", "C11"}).find("takes 2 arguments"), std::string::npos);
}

TEST(Prepare, ModeOtherThanOneMayLeaveOutTheRest) {
  const PreparedCall read_clock = prepare_ok({"set_rtc", "2"});
  ASSERT_EQ(read_clock.c_args.size(), 2u);
  EXPECT_EQ(read_clock.c_args[1].bytes, std::vector<std::uint8_t>(7, 0));
  EXPECT_EQ(prepare_ok({"rty_cnt", "2"}).c_args[1].number, 0);
  EXPECT_NE(prepare_error({"rty_cnt", "1"}).find("takes 2 arguments, got 1"), std::string::npos);
  EXPECT_NE(prepare_error({"set_rtc", "1"}).find("takes 2 arguments"), std::string::npos);
}

TEST(Prepare, RejectsBadInputWithAClearMessage) {
  EXPECT_NE(prepare_error({"modle"}).find("unknown command 'modle'"), std::string::npos);
  EXPECT_NE(prepare_error({"model", "1"}).find("'model' takes 0 arguments, got 1"), std::string::npos);
  EXPECT_NE(prepare_error({"card_stk_mov", "1"}).find("usage: card_stk_mov stacker:u8 destination:u8"),
            std::string::npos);
  EXPECT_NE(prepare_error({"card_mov", "256"}).find("destination:u8: number 256 out of range 0 to 255"),
            std::string::npos);
  EXPECT_NE(prepare_error({"mi_ultra_wt", "4", "0102030405"}).find("data:hex4: 5 bytes given, at most 4"),
            std::string::npos);
  EXPECT_NE(prepare_error({"ic_exe", "ABC"}).find("apdu:hex: odd number of hex digits"), std::string::npos);
  EXPECT_NE(prepare_error({"ic_exe", "AZ"}).find("invalid hex digit 'Z'"), std::string::npos);
  EXPECT_NE(prepare_error({"exe", "C1"}).find("three letters or digits"), std::string::npos);
  EXPECT_NE(prepare_error({"exe", "C1;"}).find("three letters or digits"), std::string::npos);
  EXPECT_NE(prepare_error({"ic_exe", std::string(2 * (kDataMax + 1), 'A')})
                .find(std::to_string(kDataMax + 1) + " bytes given, at most " + std::to_string(kDataMax)),
            std::string::npos);
  for (const char *refused : {"EnablePort", "DisablePort", "chk_res", "exe_stop"}) {
    EXPECT_NE(prepare_error({refused}).find("not a terminal command"), std::string::npos);
  }
  // A local export passes.
  EXPECT_EQ(prepare_ok({"delay", "1"}).command->role, Role::Local);
}

TEST(Prepare, SuggestsTheNearestCommand) {
  const struct {
    const char *typed;
    const char *meant;  // empty: nothing close enough
  } cases[] = {
      {"modle", "model"},          {"card_stk_mvo", "card_stk_mov"}, {"card_ejct", "card_eject"},
      {"Model", "model"},          {"agin", "aging"},                {"mi_rd_blok", "mi_rd_blk"},
      {"zzzzzz", ""},              {"x", ""},                        {"EnablePrt", ""},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(nearest_command(c.typed), c.meant) << c.typed;
    const std::string error = prepare_error({c.typed});
    if (*c.meant != '\0') {
      EXPECT_NE(error.find(std::string("did you mean '") + c.meant + "'?"), std::string::npos) << error;
    } else {
      EXPECT_NE(error.find("--help lists them"), std::string::npos) << error;
    }
  }
}

TEST(Names, EveryNameStandsForItsNumber) {
  std::size_t named = 0;
  for (const Command &c : commands()) {
    if (c.role == Role::Refused) continue;
    for (std::size_t i = 0; i < c.args.size(); ++i) {
      for (const ValueName &n : c.args[i].names) {
        ++named;
        // A name must never read as a number of the argument's kind: written back as
        // the number it stands for, a call must prepare the same again.
        std::int64_t number = 0;
        std::string ignored;
        EXPECT_FALSE(parse_number(n.name, c.args[i].kind, number, ignored)) << c.name << " " << n.name;
        std::string lower(n.name), upper(n.name);
        for (char &ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        for (char &ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        for (const std::string &spelt : {std::string(n.name), lower, upper}) {
          std::vector<std::string> by_name{std::string(c.name)}, by_number{std::string(c.name)};
          for (std::size_t k = 0; k < c.args.size(); ++k) {
            const bool numeric = c.args[k].kind != Kind::Str && c.args[k].kind != Kind::Hex && c.args[k].kind != Kind::HexFixed;
            const std::string filler = numeric ? "1" : "00";
            by_name.push_back(k == i ? spelt : filler);
            by_number.push_back(k == i ? std::to_string(n.value) : filler);
          }
          const PreparedCall a = prepare_ok(by_name);
          const PreparedCall b = prepare_ok(by_number);
          ASSERT_EQ(a.c_args.size(), b.c_args.size());
          EXPECT_EQ(a.c_args[i].number, n.value) << spelt;
          EXPECT_EQ(a.code, b.code) << spelt;
        }
      }
    }
  }
  EXPECT_GE(named, 30u);
  const PreparedCall draw = prepare_ok({"card_stk_mov", "Auto", "rf"});
  EXPECT_EQ(draw.c_args[0].number, 5);
  EXPECT_EQ(draw.c_args[1].number, 3);
  EXPECT_EQ(prepare_ok({"ms_rd", "ALL"}).code, "M35");
  // A mode named "read" sends the mode alone, as 2 does.
  EXPECT_EQ(prepare_ok({"capture_time", "read"}).c_args[0].number, 2);
}

TEST(Names, RefusedWhereTheyDoNotBelong) {
  const struct {
    std::vector<std::string> words;
    const char *message;
  } cases[] = {
      {{"card_mov", "rfx"}, "'rfx' is not a number; by name: MS=1 IC=2 RF=3 Feeder=4 Print=5"},
      {{"card_stk_mov", "stacker5", "ms"}, "by name: Stacker1=1"},
      {{"mi_rd_blk", "rf", "1"}, "sector:u8: 'rf' is not a number"},
      {{"ms_wt", "0", "all", "41"}, "by name: Track1=1 Track2=2 Track3=3"},
      {{"mi_sel_key", "C"}, "by name: A=1 B=2"},
      {{"capture_time", "set"}, "takes 2 arguments, got 1"},
  };
  for (const auto &c : cases) {
    const std::string error = prepare_error(c.words);
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    // Only names listed by the table: none for an argument without names.
    if (c.words[0] == "mi_rd_blk") {
      EXPECT_EQ(error.find("by name"), std::string::npos) << error;
    }
  }
  const std::string help = command_help(*find_command("card_stk_mov"));
  EXPECT_EQ(help,
            "card_stk_mov stacker:u8 destination:u8\n  move a card from a stacker [C31]\n"
            "  stacker: u8, or by name: Stacker1=1 Stacker2=2 Stacker3=3 Stacker4=4 Auto=5\n"
            "  destination: u8, or by name: MS=1 IC=2 RF=3 Feeder=4 Print=5\n");
}

TEST(Script, WordsCommentsAndQuotes) {
  std::vector<std::string> w;
  std::string e;
  ASSERT_TRUE(split_words("  ms_wt 0 1 4142  # write AB", w, e));
  EXPECT_EQ(w, (std::vector<std::string>{"ms_wt", "0", "1", "4142"}));
  ASSERT_TRUE(split_words("set_rtc 2 \"\"", w, e));
  EXPECT_EQ(w, (std::vector<std::string>{"set_rtc", "2", ""}));
  ASSERT_TRUE(split_words("model#no blank before the comment", w, e));
  EXPECT_EQ(w, (std::vector<std::string>{"model"}));
  ASSERT_TRUE(split_words("\t\r", w, e));
  EXPECT_TRUE(w.empty());
  EXPECT_FALSE(split_words("exe \"C11", w, e));
  EXPECT_NE(e.find("unclosed"), std::string::npos);
}

TEST(Script, ChecksEveryLineBeforeRunning) {
  std::istringstream good("# demo\nmodel\n\nview hex\ncard_stk_mov 0 1\nview string\n");
  std::vector<std::string> errors;
  const auto steps = parse_script(good, errors);
  EXPECT_TRUE(errors.empty());
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_EQ(steps[0].line, 2);
  EXPECT_EQ(steps[0].call.code, "C11");
  EXPECT_EQ(steps[1].kind, ScriptStep::Kind::View);
  EXPECT_EQ(steps[1].view_mode, 1);
  EXPECT_EQ(steps[3].view_mode, 0);

  std::istringstream bad("model\nview sideways\ncard_mov\nmodel\nfoo 1\n");
  errors.clear();
  parse_script(bad, errors);
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0].rfind("2: ", 0), 0u);
  EXPECT_EQ(errors[1].rfind("3: 'card_mov' takes 1 argument", 0), 0u);
  EXPECT_EQ(errors[2].rfind("5: unknown command 'foo'", 0), 0u);
}

TEST(Script, ExpectationsAndSections) {
  std::istringstream good(
      "# == Identify ==\nmodel\nexpect ok\nexpect data-prefix 544f\ncard_eject\nexpect 0x2005\n"
      "exe C16\nexpect data\nexpect 8197\n  # ==   Last  \n");
  std::vector<std::string> errors;
  const auto steps = parse_script(good, errors);
  EXPECT_TRUE(errors.empty()) << errors.front();
  ASSERT_EQ(steps.size(), 10u);
  EXPECT_EQ(steps[0].kind, ScriptStep::Kind::Section);
  EXPECT_EQ(steps[0].title, "Identify");
  EXPECT_EQ(steps[2].expect.kind, Expectation::Kind::Ok);
  EXPECT_EQ(steps[3].expect.kind, Expectation::Kind::DataPrefix);
  EXPECT_EQ(steps[3].expect.bytes, (std::vector<std::uint8_t>{0x54, 0x4F}));
  EXPECT_EQ(steps[5].expect.result, 0x2005);
  EXPECT_EQ(steps[7].expect.kind, Expectation::Kind::Data);
  EXPECT_TRUE(steps[7].expect.bytes.empty());
  EXPECT_EQ(steps[8].expect.result, 8197);
  EXPECT_EQ(steps[9].title, "Last");
  EXPECT_EQ(steps[9].line, 10);

  const struct {
    const char *script;
    const char *error;
  } bad[] = {
      {"expect ok\n", "1: 'expect' follows no command"},
      {"model\nview hex\nexpect ok\n", "3: 'expect' follows no command"},
      {"# == A\nexpect ok\n", "2: 'expect' follows no command"},
      {"model\nexpect fine\n", "2: 'expect' takes ok, a result code or status word (0x2005), 'data HEX' or "
                                 "'data-prefix HEX', got 'fine'"},
      {"model\nexpect data 0G\n", "2: expect data: invalid hex digit 'G'"},
      {"model\nexpect data-prefix\n", "2: 'expect' takes ok"},
      {"model\nexpect data 01 02\n", "2: 'expect' takes ok"},
  };
  for (const auto &c : bad) {
    std::istringstream in(c.script);
    errors.clear();
    parse_script(in, errors);
    ASSERT_EQ(errors.size(), 1u) << c.script;
    EXPECT_EQ(errors[0].rfind(c.error, 0), 0u) << errors[0];
  }
}

}  // namespace
}  // namespace tolvex::cli
