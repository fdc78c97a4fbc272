#include "report.hpp"

#include <array>
#include <cstring>
#include <cwchar>
#include <string_view>

#include <tolvex/protocol.hpp>

#include "hex.hpp"
#include "text.hpp"

namespace tolvex::bench {

namespace {

// The protocol's texts are plain ASCII.
std::wstring widen(const char *text) { return text == nullptr ? std::wstring() : std::wstring(text, text + std::strlen(text)); }

constexpr std::wstring_view kFailurePrefix = L"\n RESULT   : False!\n ERROR : ";
constexpr std::wstring_view kResult = L"\n RESULT: ";

constexpr std::array<const wchar_t *, 5> kStacker1{
    L"Stacker #1- Good,   ", L"Stacker #1- Warning,   ", L"Stacker #1- Empty,   ",
    L"Stacker #1- Full,   ", L"Stacker #1- No Cartridge,   "};
constexpr std::array<const wchar_t *, 5> kStacker2{
    L"Stacker #2- Good   ", L"Stacker #2- Warning   ", L"Stacker #2- Empty   ",
    L"Stacker #2- Full   ", L"Stacker #2- No Cartridge   "};

// Reads the response buffer within its capacity; anything outside reads as zero.
class ResponseView {
 public:
  explicit ResponseView(const Outcome &o)
      : data_(o.response), capacity_(o.response ? o.capacity : 0),
        length_(o.length < capacity_ ? o.length : capacity_) {}

  std::uint8_t at(std::size_t i) const { return i < capacity_ ? data_[i] : 0; }
  std::size_t length() const { return length_; }
  const std::uint8_t *data() const { return data_; }
  std::size_t capacity() const { return capacity_; }

  std::wstring text(std::size_t offset) const { return response_text(data_, capacity_, offset); }

  std::optional<std::uint32_t> balance(std::size_t offset) const {
    if (offset + 12 > capacity_) return std::nullopt;
    return value_block_balance(data_ + offset);
  }

 private:
  const std::uint8_t *data_;
  std::size_t capacity_;
  std::size_t length_;
};

bool code_is(const Outcome &o, const char (&code)[4]) {
  return o.code[0] == code[0] && o.code[1] == code[1] && o.code[2] == code[2];
}

std::wstring balance_text(std::uint32_t balance) { return L" <BALANCE: " + std::to_wstring(balance) + L">"; }

std::wstring hex2(std::uint8_t b) {
  wchar_t buf[3];
  std::swprintf(buf, 3, L"%02X", static_cast<unsigned>(b));
  return buf;
}

}  // namespace

std::optional<std::uint32_t> value_block_balance(const std::uint8_t *bytes) noexcept {
  auto le32 = [bytes](std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
  };
  const std::uint32_t v = le32(0);
  if (le32(4) != static_cast<std::uint32_t>(~v) || le32(8) != v) return std::nullopt;
  return v;
}

std::wstring name_line(std::string_view code) {
  if (code.size() != kCodeSize) return {};
  const CommandInfo *command = find_code(code);
  return command == nullptr ? std::wstring() : widen(command->report_name);
}

std::wstring result_message(int result) { return widen(result_text(result)); }

std::wstring failure_part(int result) {
  std::wstring out(kFailurePrefix);
  const std::wstring message = result_message(result);
  if (!message.empty()) {
    out += message;
  } else {
    wchar_t buf[16];
    std::swprintf(buf, 16, L"0x%04X", static_cast<unsigned>(result));
    out += buf;
  }
  return out;
}

namespace {

// Adds one "Z01" answer to the bounded message log.
void append_message(std::string &log, std::string_view text) {
  static constexpr std::string_view kEntry = "\r\nMessage: ";
  constexpr std::size_t kMax = kMessageLogCapacity - 1;
  std::string entry(kEntry);
  entry += text;
  if (entry.size() > kMax) {
    // One answer larger than the whole log: keep its beginning, cut at a character start.
    std::size_t cut = kMax;
    while (cut > kEntry.size() && (static_cast<unsigned char>(entry[cut]) & 0xC0) == 0x80) --cut;
    entry.resize(cut);
  }
  if (log.size() + entry.size() > kMax) {
    // Drop the oldest whole entries until the new one fits.
    std::size_t drop = 0;
    while (log.size() - drop + entry.size() > kMax) {
      const std::size_t next = log.find(kEntry, drop + 1);
      if (next == std::string::npos) {
        drop = log.size();
        break;
      }
      drop = next;
    }
    log.erase(0, drop);
  }
  log += entry;
}

// What a decoder works on: the outcome (its response buffer may be written), a bounded
// view of the response, the report so far and the builder's message log.
struct Decoding {
  Outcome &outcome;
  const ResponseView &r;
  std::wstring &report;
  std::string &message_log;
};

void text_from_0(Decoding &d) {
  d.report += kResult;
  d.report += d.r.text(0);
}

void text_from_1(Decoding &d) {
  d.report += kResult;
  d.report += d.r.text(1);
}

void stacker_words(Decoding &d) {
  const std::uint8_t s1 = d.r.at(0);
  const std::uint8_t s2 = d.r.at(1);
  if (s1 >= 1 && s1 <= 5) {
    d.report += kResult;
    d.report += kStacker1[s1 - 1u];
  }
  if (s2 >= 1 && s2 <= 5) d.report += kStacker2[s2 - 1u];
}

void status_list(Decoding &d) {
  d.report += kResult;
  if (d.r.length() == 0) {
    d.report += L"GOOD";
    return;
  }
  for (std::size_t pair = 0; pair * 2 < d.r.length(); ++pair) {
    const std::uint8_t first = d.r.at(pair * 2);
    const std::uint8_t second = pair * 2 + 1 < d.r.length() ? d.r.at(pair * 2 + 1) : 0;
    d.report += L"ERROR " + std::to_wstring(pair) + L"- 0x" + hex2(first) + hex2(second) + L", ";
  }
}

void card_position(Decoding &d) {
  d.report += kResult;
  const std::uint8_t sensors = d.r.at(0);
  if (sensors == 0) {
    d.report += L"No cards";
    return;
  }
  d.report += L"The Card is located at ";
  for (int bit = 0; bit < 8; ++bit) {
    if (sensors & (1u << bit)) d.report += L" SENSOR " + std::to_wstring(bit + 1) + L",";
  }
}

void input_ports(Decoding &d) {
  const std::uint8_t in1 = d.r.at(0);
  const std::uint8_t in2 = d.r.at(1);
  d.report += kResult;
  d.report += L"In port 1- " + bracketed_hex(&in1, 1) + L", In port 2- " + bracketed_hex(&in2, 1);
}

void block_or_balance(Decoding &d) {
  d.report += kResult;
  if (const auto balance = d.r.balance(2)) {
    d.report += balance_text(*balance);
  } else {
    d.report += d.r.text(2);
  }
}

void sector_blocks(Decoding &d) {
  // Blocks 0 and 1 end after their 16 bytes when read as text: the zeros go into the
  // response buffer itself.
  Outcome &o = d.outcome;
  if (o.response != nullptr) {
    if (o.capacity > 18) o.response[18] = 0;
    if (o.capacity > 35) o.response[35] = 0;
  }
  static constexpr std::array<std::size_t, 3> kStarts{2, 19, 36};
  for (std::size_t block = 0; block < kStarts.size(); ++block) {
    d.report += L" \n BLOCK " + std::to_wstring(block) + L": ";
    if (const auto balance = d.r.balance(kStarts[block])) {
      d.report += balance_text(*balance);
    } else {
      d.report += d.r.text(kStarts[block]);
    }
  }
}

void printed_messages(Decoding &d) {
  append_message(d.message_log, response_bytes(d.r.data(), d.r.capacity(), 2));
  d.report += L"\n NAME: ";
  d.report += to_wide(d.message_log);
}

// The codes whose answers the "String" view decodes.
struct DecoderRow {
  std::string_view code;
  void (*decode)(Decoding &);
};

constexpr DecoderRow kDecoders[] = {
    {"C11", text_from_0},   {"C12", text_from_0},      {"C13", stacker_words},    {"C14", status_list},
    {"C16", card_position}, {"C17", input_ports},      {"R31", block_or_balance}, {"R33", block_or_balance},
    {"R36", sector_blocks}, {"S11", text_from_1},      {"Z01", printed_messages},
};

// Every other code, and every code in the "HEX" view.
void generic_part(const Outcome &o, const ResponseView &r, std::wstring &report) {
  if (r.length() == 0) {
    report += code_is(o, "C15") ? L"\n RESULT   : No Error!" : L"\n RESULT   : Success!";
    return;
  }
  std::wstring data = L"\n DATA: " + bracketed_hex(r.data(), r.length());
  if (code_is(o, "R31")) {
    if (const auto balance = r.balance(2)) data += L"          <BALANCE: " + std::to_wstring(*balance) + L">";
  }
  report += fold_lines(data);
}

}  // namespace

std::wstring ReportBuilder::build(Outcome &outcome) {
  const std::string_view code(outcome.code, kCodeSize);
  std::wstring report = name_line(code);

  if (outcome.result != 0) {
    report += failure_part(outcome.result);
    report += L' ';
    return report;
  }

  const ResponseView r(outcome);
  const DecoderRow *decoder = nullptr;
  if (outcome.view_mode == 0) {
    for (const DecoderRow &row : kDecoders) {
      if (row.code == code) decoder = &row;
    }
  }
  if (decoder != nullptr) {
    Decoding d{outcome, r, report, message_log_};
    decoder->decode(d);
  } else {
    generic_part(outcome, r, report);
  }
  report += L' ';
  return report;
}

}  // namespace tolvex::bench
