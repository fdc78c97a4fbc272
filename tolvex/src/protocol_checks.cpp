// Ties the protocol definition to the C interface: the result codes to the header's
// defines, the limits to its sizes, every export row to the command table; and hands
// out the texts of result codes and status words.
#include <string_view>

#include "tolvex/protocol.hpp"
#include "tolvex/tolvex.h"

namespace tolvex {
namespace {

static_assert(static_cast<int>(Result::ok) == TOLVEX_OK);
static_assert(static_cast<int>(Result::no_ack) == TOLVEX_NO_ACK);
static_assert(static_cast<int>(Result::timeout) == TOLVEX_TIMEOUT);
static_assert(static_cast<int>(Result::nak) == TOLVEX_NAK);
static_assert(static_cast<int>(Result::stopped) == TOLVEX_STOPPED);
static_assert(static_cast<int>(Result::frame_error) == TOLVEX_FRAME_ERROR);
static_assert(static_cast<int>(Result::bcc_error) == TOLVEX_BCC_ERROR);
static_assert(static_cast<int>(Result::tx_error) == TOLVEX_TX_ERROR);
static_assert(static_cast<int>(Result::negative) == TOLVEX_NEGATIVE);
static_assert(kResponseMax == TOLVEX_RESPONSE_MAX);
static_assert(kDataMax == TOLVEX_DATA_MAX);

// Every result code has its text.
static_assert(result_text(TOLVEX_NO_ACK) && result_text(TOLVEX_TIMEOUT) && result_text(TOLVEX_NAK) &&
              result_text(TOLVEX_STOPPED) && result_text(TOLVEX_FRAME_ERROR) && result_text(TOLVEX_BCC_ERROR) &&
              result_text(TOLVEX_TX_ERROR) && result_text(TOLVEX_NEGATIVE));

// An export that sends a command is listed by that command's row.
constexpr bool row_agrees(std::string_view name, std::string_view code) {
  if (code.empty()) return true;
  const std::size_t row = code_index(code);
  return code.size() == kCodeSize && row < std::size(kCommands) && lists(kCommands[row].exports, name);
}

#define TOLVEX_EXPORT(ordinal, name, args, code, purpose) \
  static_assert(row_agrees(#name, code), "export " #name " sends a code the command table does not give it");
#define TOLVEX_EXTRA(name, purpose)
#include "export_table.inc"
#undef TOLVEX_EXPORT
#undef TOLVEX_EXTRA

// And every export a command row names is in the export table.
constexpr std::string_view kExportNames[] = {
#define TOLVEX_EXPORT(ordinal, name, args, code, purpose) #name,
#define TOLVEX_EXTRA(name, purpose)
#include "export_table.inc"
#undef TOLVEX_EXPORT
#undef TOLVEX_EXTRA
};

constexpr bool exports_known() {
  for (const CommandInfo &c : kCommands) {
    for (std::string_view list = c.exports; !list.empty();) {
      const std::string_view name = next_listed(list);
      bool found = false;
      for (std::string_view e : kExportNames) found = found || e == name;
      if (!found) return false;
    }
  }
  return true;
}
static_assert(exports_known(), "a command row names an export the export table lacks");

}  // namespace
}  // namespace tolvex

extern "C" TOLVEX_API const char *TOLVEX_CALL tolvex_result_text(int code) { return tolvex::result_text(code); }
