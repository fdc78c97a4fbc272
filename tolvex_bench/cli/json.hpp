// One JSON object on one line, for --json: the keys in the order they are added.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tolvex::cli {

// A JSON string literal of UTF-8 text: quotes, backslashes and control characters
// escaped, everything else as it is.
std::string json_quote(std::string_view text);

class JsonObject {
 public:
  JsonObject &add(std::string_view key, std::string_view text);
  JsonObject &add(std::string_view key, const char *text) { return add(key, std::string_view(text)); }
  JsonObject &add(std::string_view key, std::int64_t number);
  JsonObject &add(std::string_view key, int number) { return add(key, static_cast<std::int64_t>(number)); }
  JsonObject &add(std::string_view key, bool value);
  JsonObject &add_null(std::string_view key);
  // A value already in JSON form (a nested object or an array).
  JsonObject &add_json(std::string_view key, std::string_view json);
  JsonObject &add(std::string_view key, const std::vector<std::string> &texts);

  // "{...}" without a line break.
  std::string text() const { return "{" + body_ + "}"; }

 private:
  void key(std::string_view name);
  std::string body_;
};

}  // namespace tolvex::cli
