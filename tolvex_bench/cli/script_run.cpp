#include "script_run.hpp"

#include <algorithm>
#include <cstdio>

#include "hex.hpp"
#include "report.hpp"
#include "text.hpp"

namespace tolvex::cli {

namespace {

std::string result_text(std::int64_t result) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04llX", static_cast<unsigned long long>(result) & 0xFFFFFFFFull);
  if (result == 0) return "0 (ok)";
  const std::string message = bench::to_utf8(bench::result_message(static_cast<int>(result)));
  return std::string(hex) + (message.empty() ? "" : " (" + message + ")");
}

}  // namespace

std::string expectation_text(const Expectation &expect) {
  switch (expect.kind) {
    case Expectation::Kind::Ok: return "ok";
    case Expectation::Kind::Result: return result_text(expect.result);
    case Expectation::Kind::Data: return "data " + bench::plain_hex(expect.bytes.data(), expect.bytes.size());
    case Expectation::Kind::DataPrefix: return "data-prefix " + bench::plain_hex(expect.bytes.data(), expect.bytes.size());
  }
  return {};
}

bool expectation_met(const Expectation &expect, int result, const std::uint8_t *data, std::size_t length,
                     std::string &got) {
  const std::string data_hex = bench::plain_hex(data, length);
  bool met = false;
  switch (expect.kind) {
    case Expectation::Kind::Ok: met = result == 0; break;
    case Expectation::Kind::Result: met = result == expect.result; break;
    case Expectation::Kind::Data:
      met = result == 0 && length == expect.bytes.size() && std::equal(expect.bytes.begin(), expect.bytes.end(), data);
      break;
    case Expectation::Kind::DataPrefix:
      met = result == 0 && length >= expect.bytes.size() && std::equal(expect.bytes.begin(), expect.bytes.end(), data);
      break;
  }
  got = result_text(result) + ", data " + (data_hex.empty() ? "none" : data_hex);
  return met;
}

ScriptRunner::ScriptRunner(Session &session, std::string name, bool keep_going, std::ostream &err)
    : session_(session), name_(std::move(name)), keep_going_(keep_going), err_(err) {}

ScriptCase &ScriptRunner::current_case(const ScriptStep &step) {
  if (sections_ && !cases_.empty()) return cases_.back();
  cases_.push_back(ScriptCase{std::to_string(step.line) + ": " + step.text, {}, false, {}});
  return cases_.back();
}

void ScriptRunner::settle() {
  if (!pending_) return;
  pending_ = false;
  // With expectations they decide; without, the command's own outcome does.
  const bool failed = pending_expected_ ? pending_missed_ : pending_status_ != kExitOk;
  if (!failed) return;
  if (!pending_expected_) {
    err_ << name_ << ":" << pending_line_ << ": " << pending_name_ << " failed\n";
    cases_[pending_case_].failures.push_back(pending_name_ + " failed");
  }
  if (status_ == kExitOk) status_ = kExitFailed;
  if (!keep_going_) stopped_ = true;
}

bool ScriptRunner::step(const ScriptStep &step) {
  if (step.kind == ScriptStep::Kind::Section) {
    settle();
    sections_ = true;
    cases_.push_back(ScriptCase{step.title.empty() ? std::to_string(step.line) + ": section" : step.title, {}, false, {}});
    return !stopped_;
  }
  if (step.kind == ScriptStep::Kind::Expect) {
    if (stopped_ || !pending_) return !stopped_;
    const bench::CommandState &state = session_.step().state();
    std::string got;
    const std::size_t length = std::min<std::size_t>(state.length, state.response.size());
    const int result = pending_status_ == kExitOk || state.result != 0 ? state.result : -1;
    pending_expected_ = true;
    if (!expectation_met(step.expect, result, state.response.data(), length, got)) {
      pending_missed_ = true;
      const std::string text = "expected " + expectation_text(step.expect) + ", got " + got;
      err_ << name_ << ":" << step.line << ": " << pending_name_ << ": " << text << "\n";
      cases_[pending_case_].failures.push_back("line " + std::to_string(step.line) + ": " + text);
    }
    return true;
  }
  settle();
  if (step.kind == ScriptStep::Kind::View) {
    if (!stopped_) session_.set_view_mode(step.view_mode);
    return !stopped_;
  }
  ScriptCase &c = current_case(step);
  if (stopped_) return false;
  c.run = true;
  const auto start = std::chrono::steady_clock::now();
  const int s = session_.run(step.call);
  c.time += std::chrono::steady_clock::now() - start;
  pending_ = true;
  pending_status_ = s;
  pending_line_ = step.line;
  pending_name_ = std::string(step.call.command->name);
  pending_expected_ = false;
  pending_missed_ = false;
  pending_case_ = cases_.size() - 1;
  if (s == kExitPort) {
    // Nothing further can run.
    pending_ = false;
    c.failures.push_back("the port could not be opened");
    status_ = kExitPort;
    stopped_ = true;
    return false;
  }
  return true;
}

int ScriptRunner::finish() {
  settle();
  return status_;
}

std::string xml_escape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        // Control characters other than tab and line breaks are not allowed in XML 1.0.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          out += '?';
        } else {
          out += c;
        }
    }
  }
  return out;
}

void write_junit(std::ostream &out, const std::string &suite, const std::vector<ScriptCase> &cases) {
  std::size_t failures = 0, skipped = 0;
  double total = 0;
  for (const ScriptCase &c : cases) {
    failures += c.failures.empty() ? 0 : 1;
    skipped += c.run || !c.failures.empty() ? 0 : 1;
    total += c.time.count();
  }
  const auto seconds = [](double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", s);
    return std::string(text);
  };
  const std::string name = xml_escape(suite);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n"
      << "  <testsuite name=\"" << name << "\" tests=\"" << cases.size() << "\" failures=\"" << failures
      << "\" errors=\"0\" skipped=\"" << skipped << "\" time=\"" << seconds(total) << "\">\n";
  for (const ScriptCase &c : cases) {
    out << "    <testcase classname=\"" << name << "\" name=\"" << xml_escape(c.name) << "\" time=\""
        << seconds(c.time.count()) << "\"";
    if (c.failures.empty() && c.run) {
      out << "/>\n";
      continue;
    }
    out << ">\n";
    if (!c.failures.empty()) {
      std::string all;
      for (const std::string &f : c.failures) all += (all.empty() ? "" : "\n") + f;
      out << "      <failure message=\"" << xml_escape(c.failures.front()) << "\">" << xml_escape(all) << "</failure>\n";
    } else {
      out << "      <skipped/>\n";
    }
    out << "    </testcase>\n";
  }
  out << "  </testsuite>\n</testsuites>\n";
}

}  // namespace tolvex::cli
