#include "ms_page.hpp"

#include "tolvex_bench_ids.h"

namespace tolvex::bench::win32 {

CMsDlg::CMsDlg(PageCommands &commands) : DialogWindow(IDD_CMsDlg), commands_(commands) {}

}  // namespace tolvex::bench::win32
