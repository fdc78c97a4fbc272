// tolvex_bench.exe --simulate under wine, driven from outside: its window comes up with
// the four pages and the report window, the tabs switch, and WM_CLOSE ends it with 0.
//   tolvex_bench_smoke_test PATH\tolvex_bench.exe
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_driver.hpp"
#include "tolvex_bench_ids.h"

namespace drv = tolvex::bench::win32::driver;

namespace {

int g_failures = 0;

void check(bool ok, const char *what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++g_failures;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tolvex_bench_smoke_test PATH_OF_tolvex_bench.exe\n");
    return 2;
  }
  const std::wstring folder = drv::scratch_folder();
  check(!folder.empty(), "a scratch folder");
  drv::Program bench(L"\"" + std::wstring(argv[1]) + L"\" --simulate", folder);
  check(bench.running(), "tolvex_bench.exe --simulate starts");

  HWND main = drv::find_main_window(bench.id(), L"tolvex_bench");
  check(main != nullptr, "a window titled tolvex_bench");
  if (main == nullptr) return 1;

  HWND tab = GetDlgItem(main, IDC_tabCtrl);
  const std::vector<std::wstring> expected = {L"Setting", L"ClassMifare", L"MS/IC", L"Aging"};
  check(tab != nullptr && drv::tab_texts(tab) == expected, "the tabs Setting, ClassMifare, MS/IC, Aging");

  HWND report = GetDlgItem(main, IDC_reportEdit);
  check(report != nullptr && drv::class_name(report) == L"Edit" &&
            (GetWindowLongW(report, GWL_STYLE) & (ES_MULTILINE | ES_READONLY)) == (ES_MULTILINE | ES_READONLY),
        "the report window, a read-only multi-line edit");

  // Each page shows alone when its tab is clicked; a control of each tells which is up.
  const int marks[] = {IDC_buttonPortOpen, IDC_groupKey, IDC_editCLA, IDC_framePlot};
  for (int page : {3, 1, 2, 0}) {
    bool alone = drv::switch_tab(tab, page);
    for (int other = 0; other < 4; ++other) {
      HWND mark = drv::control(main, marks[other]);
      alone = alone && mark != nullptr && (IsWindowVisible(mark) != FALSE) == (other == page);
      if (other == page && mark != nullptr) {
        // Shown where the window is, with a size of its own.
        RECT outer{}, inner{}, both{};
        GetWindowRect(main, &outer);
        GetWindowRect(mark, &inner);
        alone = alone && inner.right > inner.left && inner.bottom > inner.top &&
                IntersectRect(&both, &outer, &inner) && EqualRect(&both, &inner);
      }
    }
    char what[64];
    std::snprintf(what, sizeof what, "tab %d shows its page alone", page);
    check(alone, what);
  }

  PostMessageW(main, WM_CLOSE, 0, 0);
  check(bench.wait_exit() == 0, "WM_CLOSE ends it with exit code 0");
  RemoveDirectoryW(folder.c_str());
  return g_failures == 0 ? 0 : 1;
}
