#include "report.hpp"

#include <array>
#include <cwchar>

#include "hex.hpp"
#include "text.hpp"

namespace tolvex::bench {

namespace {

struct NameRow {
  const char *code;
  const wchar_t *line;
};

constexpr std::array<NameRow, 64> kNameLines{{
    {"C11", L" COMMAND: Get model"},
    {"C12", L" COMMAND: Get Firmware version"},
    {"C13", L" COMMAND: Get Stacker"},
    {"C14", L" COMMAND: Get Status List"},
    {"C15", L" COMMAND: Get Error List"},
    {"C16", L" COMMAND: Get Card Position"},
    {"C17", L" COMMAND: Get status of input port"},
    {"C21", L" COMMAND: Set RTC IC"},
    {"C22", L" COMMAND: Set Card Eject Mode"},
    {"C23", L" COMMAND: Set Capture Time"},
    {"C24", L" COMMAND: Set Retry Count"},
    {"C25", L" COMMAND: Set Buzz On/Off control"},
    {"C26", L" COMMAND: Set Baud Rate"},
    {"C27", L" COMMAND: Set Wait Mode"},
    {"C28", L" COMMAND: Set Stacker priority"},
    {"C31", L" COMMAND: Card move from stacker"},
    {"C32", L" COMMAND: Card move to each module"},
    {"C33", L" COMMAND: Card eject"},
    {"C34", L" COMMAND: Card capture"},
    {"C36", L" COMMAND: Card eject(drop)"},
    {"C37", L" COMMAND: Card eject(hold)"},
    {"C39", L" COMMAND: Card Move to Stacker"},
    {"C40", L" COMMAND: Set User Buzz"},
    {"C60", L" COMMAND: Set MsCard Insert Mode"},
    {"I21", L" COMMAND: IC Card Reset"},
    {"I22", L" COMMAND: IC Card Direct Control"},
    {"M31", L" COMMAND: Magnetic Card Read"},
    {"M33", L" COMMAND: Magnetic Card Write"},
    {"M34", L" COMMAND: Magnetic Card Write from Stacker"},
    {"M35", L" COMMAND: Magnetic Card All Track Read"},
    {"M51", L" COMMAND: MSRW Header Cleaning"},
    {"P10", L" COMMAND: It is to print on the card"},
    {"P20", L" COMMAND: It is to erase the card"},
    {"R31", L" COMMAND: Read RF card data in Block Range"},
    {"R32", L" COMMAND: Write RF card data in Block Range"},
    {"R33", L" COMMAND: Read RF card without checking sensor"},
    {"R34", L" COMMAND: Write RF card without checking sensor"},
    {"R36", L" COMMAND: Read RF card data in Sector Range"},
    {"R37", L" COMMAND: Write RF card data in Sector Range"},
    {"R41", L" COMMAND: Increases balance in RF card"},
    {"R42", L" COMMAND: Decreases balance in RF card"},
    {"R43", L" COMMAND: Increases balance without checking sensor"},
    {"R44", L" COMMAND: Decreases balance without checking sensor"},
    {"R51", L" COMMAND: Change 'Terminal Secret Key' to other key"},
    {"R52", L" COMMAND: Change 'Secret Key' To All The Same Key Value"},
    {"R53", L" COMMAND: Select \"Secret Key Index\""},
    {"R54", L" COMMAND: Change RF card 'Secret Key' to other key"},
    {"R55", L"\tCOMMAND: Change 'RF card secret key' to a new key from key set"},
    {"R56", L"\tCOMMAND: Change 'RF card secret key' to all the same key value from key set"},
    {"R61", L" COMMAND: Check RF card in antenna area"},
    {"R62", L" COMMAND: Check RF card without checking sensor"},
    {"R71", L" COMMAND: Secret Keys download start indication"},
    {"R72", L" COMMAND: Change 'Secret Key' to a new key"},
    {"R73", L" COMMAND: Secret Keys download finish indication"},
    {"S10", L" COMMAND: Get serial number of the SL2 ICS20 card"},
    {"S11", L" COMMAND: Read data of the SL2 ICS20 card in block range"},
    {"S12", L" COMMAND: Write data of the SL2 ICS20 card in block range"},
    {"S16", L" COMMAND: Read all block of the SL2 ICS20 card"},
    {"S17", L" COMMAND: Write all block of the SL2 ICS20 card"},
    {"S19", L" COMMAND: Controls the SL2 ICS20 card directly"},
    {"U31", L" COMMAND: Read the Ultra Light card"},
    {"U32", L" COMMAND: Write the Ultra Light card"},
    {"U41", L" COMMAND: Read UID of the Ultra Light card"},
    {"Z01", L" COMMAND: Reads the printed card"},
}};

struct MessageRow {
  int code;
  const wchar_t *text;
};

constexpr std::array<MessageRow, 49> kMessages{{
    {1, L"No ACK Error."},
    {2, L"TIMEOUT Error."},
    {3, L"NAK Error."},
    {2000, L"Negative Error."},
    {102, L"Compulsion termination Error."},
    {106, L"Packet Frame Error."},
    {107, L"BCC Error."},
    {108, L"Transmission Error."},
    {0x2001, L"Using the command that does not defined in this model."},
    {0x2002, L"Not available command in this model."},
    {0x2003, L"Sending the command that has the invalid communication frame."},
    {0x2004, L"The card is jammed."},
    {0x2005, L"No cards."},
    {0x2006, L"The card exists already in the terminal."},
    {0x2007, L"The terminal is running or busy."},
    {0x2008, L"Unavailable Real Time Clock IC."},
    {0x2009, L"When more than two cards exit in the terminal simultaneously."},
    {0x200B, L"When the using card error, commonly occur in MSRW."},
    {0x2100, L"Not Applicable Dispenser."},
    {0x2101, L"Dispenser communication error."},
    {0x2102, L"The first Stacker Error."},
    {0x2103, L"The Second Stacker Error."},
    {0x2104, L"No cards at both the first and second stacker."},
    {0x2105, L"No card at the first stacker."},
    {0x2106, L"No card at the second stacker."},
    {0x2107, L"Too few cards in the first stacker."},
    {0x2108, L"Too few cards in the second stacker."},
    {0x2109, L"Too many cards in the 'CAPTURE BOX'."},
    {0x2111, L"Card full in cartridge in the first stacker."},
    {0x2112, L"Card full in cartridge in the second stacker."},
    {0x2113, L"No cartridge in the first stacker."},
    {0x2114, L"No cartridge in the second stacker."},
    {0x2115, L"No cartridge in both the first and second stacker."},
    {0x2200, L"The MS Reader/Writer that cannot use in this model."},
    {0x2201, L"The MS Reader/Writer communication error."},
    {0x2202, L"Error when the MS Reader/Writer is writing on the card."},
    {0x2203, L"Error when the MS Reader/Writer is reading on the card."},
    {0x2204, L"Error while the terminal contacts the IC Card."},
    {0x2205, L"Error while the terminal executes the IC Card Command."},
    {0x2209, L"No data on the magnetic card."},
    {0x2300, L"Unavailable RF module."},
    {0x2301, L"Communication error at the RF Module."},
    {0x2302, L"Authentication Error at the RF module."},
    {0x2303, L"Error while the terminal writes at the RF Card."},
    {0x2304, L"Error while the terminal reads at the RF card."},
    {0x2305, L"No RF Card."},
    {0x2306, L"Error while the value increases(or decreases)at the RF Card."},
    {0x2310, L"\"Secret Key Download\" command sequence error."},
    {0x2400, L"Unavailable FLASH memory ic."},
}};

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

std::wstring_view name_line(std::string_view code) {
  if (code.size() != 3) return {};
  for (const auto &row : kNameLines) {
    if (code == row.code) return row.line;
  }
  return {};
}

std::wstring_view result_message(int result) {
  for (const auto &row : kMessages) {
    if (row.code == result) return row.text;
  }
  return {};
}

std::wstring failure_part(int result) {
  std::wstring out(kFailurePrefix);
  const std::wstring_view message = result_message(result);
  if (!message.empty()) {
    out += message;
  } else {
    wchar_t buf[16];
    std::swprintf(buf, 16, L"0x%04X", static_cast<unsigned>(result));
    out += buf;
  }
  return out;
}

void ReportBuilder::append_message(std::string_view text) {
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
  if (message_log_.size() + entry.size() > kMax) {
    // Drop the oldest whole entries until the new one fits.
    std::size_t drop = 0;
    while (message_log_.size() - drop + entry.size() > kMax) {
      const std::size_t next = message_log_.find(kEntry, drop + 1);
      if (next == std::string::npos) {
        drop = message_log_.size();
        break;
      }
      drop = next;
    }
    message_log_.erase(0, drop);
  }
  message_log_ += entry;
}

std::wstring ReportBuilder::build(const Outcome &outcome) {
  std::wstring report(name_line(std::string_view(outcome.code, 3)));

  if (outcome.result != 0) {
    report += failure_part(outcome.result);
    report += L' ';
    return report;
  }

  const ResponseView r(outcome);
  const bool string_view_mode = outcome.view_mode == 0;
  bool decoded = true;

  if (string_view_mode && (code_is(outcome, "C11") || code_is(outcome, "C12"))) {
    report += kResult;
    report += r.text(0);
  } else if (string_view_mode && code_is(outcome, "C13")) {
    const std::uint8_t s1 = r.at(0);
    const std::uint8_t s2 = r.at(1);
    if (s1 >= 1 && s1 <= 5) {
      report += kResult;
      report += kStacker1[s1 - 1u];
    }
    if (s2 >= 1 && s2 <= 5) report += kStacker2[s2 - 1u];
  } else if (string_view_mode && code_is(outcome, "C14")) {
    report += kResult;
    if (r.length() == 0) {
      report += L"GOOD";
    } else {
      for (std::size_t pair = 0; pair * 2 < r.length(); ++pair) {
        const std::uint8_t first = r.at(pair * 2);
        const std::uint8_t second = pair * 2 + 1 < r.length() ? r.at(pair * 2 + 1) : 0;
        report += L"ERROR " + std::to_wstring(pair) + L"- 0x" + hex2(first) + hex2(second) + L", ";
      }
    }
  } else if (string_view_mode && code_is(outcome, "C16")) {
    report += kResult;
    const std::uint8_t sensors = r.at(0);
    if (sensors == 0) {
      report += L"No cards";
    } else {
      report += L"The Card is located at ";
      for (int bit = 0; bit < 8; ++bit) {
        if (sensors & (1u << bit)) report += L" SENSOR " + std::to_wstring(bit + 1) + L",";
      }
    }
  } else if (string_view_mode && code_is(outcome, "C17")) {
    const std::uint8_t in1 = r.at(0);
    const std::uint8_t in2 = r.at(1);
    report += kResult;
    report += L"In port 1- " + bracketed_hex(&in1, 1) + L", In port 2- " + bracketed_hex(&in2, 1);
  } else if (string_view_mode && (code_is(outcome, "R31") || code_is(outcome, "R33"))) {
    report += kResult;
    if (const auto balance = r.balance(2)) {
      report += balance_text(*balance);
    } else {
      report += r.text(2);
    }
  } else if (string_view_mode && code_is(outcome, "R36")) {
    // Blocks 0 and 1 end after their 16 bytes when read as text.
    if (outcome.response != nullptr) {
      if (outcome.capacity > 18) outcome.response[18] = 0;
      if (outcome.capacity > 35) outcome.response[35] = 0;
    }
    static constexpr std::array<std::size_t, 3> kStarts{2, 19, 36};
    for (std::size_t block = 0; block < kStarts.size(); ++block) {
      report += L" \n BLOCK " + std::to_wstring(block) + L": ";
      if (const auto balance = r.balance(kStarts[block])) {
        report += balance_text(*balance);
      } else {
        report += r.text(kStarts[block]);
      }
    }
  } else if (string_view_mode && code_is(outcome, "S11")) {
    report += kResult;
    report += r.text(1);
  } else if (string_view_mode && code_is(outcome, "Z01")) {
    append_message(response_bytes(r.data(), r.capacity(), 2));
    report += L"\n NAME: ";
    report += to_wide(message_log_);
  } else {
    decoded = false;
  }

  if (!decoded) {
    if (r.length() == 0) {
      report += code_is(outcome, "C15") ? L"\n RESULT   : No Error!" : L"\n RESULT   : Success!";
    } else {
      std::wstring data = L"\n DATA: " + bracketed_hex(r.data(), r.length());
      if (code_is(outcome, "R31")) {
        if (const auto balance = r.balance(2)) data += L"          <BALANCE: " + std::to_wstring(*balance) + L">";
      }
      report += fold_lines(data);
    }
  }

  report += L' ';
  return report;
}

}  // namespace tolvex::bench
