#include "json.hpp"

#include <cstdio>

namespace tolvex::cli {

std::string json_quote(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

void JsonObject::key(std::string_view name) {
  if (!body_.empty()) body_ += ',';
  body_ += json_quote(name);
  body_ += ':';
}

JsonObject &JsonObject::add(std::string_view name, std::string_view text) {
  key(name);
  body_ += json_quote(text);
  return *this;
}

JsonObject &JsonObject::add(std::string_view name, std::int64_t number) {
  key(name);
  body_ += std::to_string(number);
  return *this;
}

JsonObject &JsonObject::add(std::string_view name, bool value) {
  key(name);
  body_ += value ? "true" : "false";
  return *this;
}

JsonObject &JsonObject::add_null(std::string_view name) {
  key(name);
  body_ += "null";
  return *this;
}

JsonObject &JsonObject::add_json(std::string_view name, std::string_view json) {
  key(name);
  body_ += json;
  return *this;
}

JsonObject &JsonObject::add(std::string_view name, const std::vector<std::string> &texts) {
  key(name);
  body_ += '[';
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) body_ += ',';
    body_ += json_quote(texts[i]);
  }
  body_ += ']';
  return *this;
}

}  // namespace tolvex::cli
