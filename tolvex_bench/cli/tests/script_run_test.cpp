#include "script_run.hpp"

#include "interactive.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace tolvex::cli {
namespace {

Expectation expectation(Expectation::Kind kind, std::int64_t result = 0, std::vector<std::uint8_t> bytes = {}) {
  Expectation e;
  e.kind = kind;
  e.result = result;
  e.bytes = std::move(bytes);
  return e;
}

TEST(Expectations, MetAndMissed) {
  using K = Expectation::Kind;
  const std::vector<std::uint8_t> data{0x01, 0x02, 0x03};
  const std::vector<std::uint8_t> status{0x20, 0x05};
  const struct {
    Expectation expect;
    int result;
    const std::vector<std::uint8_t> &data;
    bool met;
    const char *got;
  } cases[] = {
      {expectation(K::Ok), 0, data, true, "0 (ok), data 010203"},
      {expectation(K::Ok), 0x2005, status, false, "0x2005 (No cards.), data 2005"},
      {expectation(K::Result, 0x2005), 0x2005, status, true, "0x2005 (No cards.), data 2005"},
      {expectation(K::Result, 0x2005), 0x2004, status, false, "0x2004 (The card is jammed.), data 2005"},
      {expectation(K::Result, 1), 1, {}, true, "0x0001 (No ACK Error.), data none"},
      {expectation(K::Data, 0, {1, 2, 3}), 0, data, true, ""},
      {expectation(K::Data, 0, {1, 2}), 0, data, false, ""},
      {expectation(K::Data, 0, {}), 0, {}, true, "0 (ok), data none"},
      {expectation(K::DataPrefix, 0, {1, 2}), 0, data, true, ""},
      {expectation(K::DataPrefix, 0, {1, 2, 3, 4}), 0, data, false, ""},
      {expectation(K::DataPrefix, 0, {0x20}), 0x2005, status, false, ""},  // a failure carries no data
  };
  for (const auto &c : cases) {
    std::string got;
    EXPECT_EQ(expectation_met(c.expect, c.result, c.data.data(), c.data.size(), got), c.met) << expectation_text(c.expect);
    if (*c.got != '\0') {
      EXPECT_EQ(got, c.got);
    }
  }
  EXPECT_EQ(expectation_text(expectation(K::DataPrefix, 0, {0xAB})), "data-prefix AB");
  EXPECT_EQ(expectation_text(expectation(K::Result, 0x2005)), "0x2005 (No cards.)");
}

TEST(Junit, EscapedAndCounted) {
  EXPECT_EQ(xml_escape("a<b>&\"c'\x01\n"), "a&lt;b&gt;&amp;&quot;c&apos;?\n");
  std::vector<ScriptCase> cases(3);
  cases[0] = {"2: model", {}, true, std::chrono::duration<double>(0.25)};
  cases[1] = {"Issue <card>", {"line 5: expected ok, got 0x2005 (No cards.), data 2005"}, true, {}};
  cases[2] = {"9: card_eject", {}, false, {}};
  std::ostringstream out;
  write_junit(out, "demo.tvx", cases);
  EXPECT_EQ(out.str(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n"
            "  <testsuite name=\"demo.tvx\" tests=\"3\" failures=\"1\" errors=\"0\" skipped=\"1\" time=\"0.250\">\n"
            "    <testcase classname=\"demo.tvx\" name=\"2: model\" time=\"0.250\"/>\n"
            "    <testcase classname=\"demo.tvx\" name=\"Issue &lt;card&gt;\" time=\"0.000\">\n"
            "      <failure message=\"line 5: expected ok, got 0x2005 (No cards.), data 2005\">"
            "line 5: expected ok, got 0x2005 (No cards.), data 2005</failure>\n    </testcase>\n"
            "    <testcase classname=\"demo.tvx\" name=\"9: card_eject\" time=\"0.000\">\n"
            "      <skipped/>\n    </testcase>\n  </testsuite>\n</testsuites>\n");
}

TEST(Session, CompletesCommandNames) {
  const struct {
    const char *prefix;
    std::vector<std::string> names;
  } cases[] = {
      {"card_e", {"card_eject", "card_eject_ag"}},
      {"mi_ultra_r", {"mi_ultra_rd", "mi_ultra_rd_uid"}},
      {"he", {"help"}},
      {"Enable", {}},  // the tool's own exports are not offered
      {"zz", {}},
  };
  for (const auto &c : cases) EXPECT_EQ(complete_command(c.prefix), c.names) << c.prefix;
  EXPECT_GT(complete_command("").size(), 60u);
}

}  // namespace
}  // namespace tolvex::cli
