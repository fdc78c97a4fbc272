#include "classic_mifare_page.hpp"

#include "tolvex_bench_ids.h"

namespace tolvex::bench::win32 {

CClassicMifare::CClassicMifare(PageCommands &commands) : DialogWindow(IDD_CClassicMifare), commands_(commands) {}

}  // namespace tolvex::bench::win32
