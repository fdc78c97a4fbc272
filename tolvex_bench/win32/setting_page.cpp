#include "setting_page.hpp"

#include "tolvex_bench_ids.h"

namespace tolvex::bench::win32 {

CSetting::CSetting(PageCommands &commands) : DialogWindow(IDD_CSetting), commands_(commands) {}

}  // namespace tolvex::bench::win32
