#include "json.hpp"

#include <gtest/gtest.h>

namespace tolvex::cli {
namespace {

TEST(Json, QuotesEveryCharacterThatNeedsIt) {
  const struct {
    std::string text;
    const char *quoted;
  } cases[] = {
      {"", "\"\""},
      {"plain", "\"plain\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\b", "\"a\\\\b\""},
      {" COMMAND: x\n RESULT: y\r\t", "\" COMMAND: x\\n RESULT: y\\r\\t\""},
      {std::string("\0\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001F\\u007F\""},
      {"\b\f", "\"\\b\\f\""},
      {"2013\xEB\x85\x84", "\"2013\xEB\x85\x84\""},  // UTF-8 stays as it is
  };
  for (const auto &c : cases) EXPECT_EQ(json_quote(c.text), c.quoted) << c.text;
}

TEST(Json, ObjectKeepsTheOrderOfItsKeys) {
  JsonObject o;
  o.add("command", "model").add("result", 0).add("big", static_cast<std::int64_t>(4294967295)).add("ok", true);
  o.add_null("status_word").add_json("list", "[1,2]").add("texts", std::vector<std::string>{"a\"", "b"});
  EXPECT_EQ(o.text(),
            "{\"command\":\"model\",\"result\":0,\"big\":4294967295,\"ok\":true,\"status_word\":null,"
            "\"list\":[1,2],\"texts\":[\"a\\\"\",\"b\"]}");
  EXPECT_EQ(JsonObject().text(), "{}");
}

}  // namespace
}  // namespace tolvex::cli
