// tolvex_bench.exe --simulate under wine, driven from outside as a person would:
//   mifare: the port opened, a card drawn into the antenna, a block read, and a trailer
//           that would lock its sector refused on "No" (nothing sent);
//   aging:  three cycles run to the end with their record files, then a long run stopped.
//   tolvex_bench_pages_scenario_test PATH\tolvex_bench.exe mifare|aging
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "bench_driver.hpp"
#include "tolvex_bench_ids.h"

namespace drv = tolvex::bench::win32::driver;

namespace {

int g_failures = 0;

void check(bool ok, const char *what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

bool poll(DWORD ms, const std::function<bool()> &done) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (!done()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
  return true;
}

bool contains(const std::wstring &text, const wchar_t *part) { return text.find(part) != std::wstring::npos; }

// The port opened from the Setting page: " COM 1" is the simulated terminal.
bool open_port(HWND main) {
  HWND tab = GetDlgItem(main, IDC_tabCtrl);
  HWND report = GetDlgItem(main, IDC_reportEdit);
  if (!drv::switch_tab(tab, 0)) return false;
  drv::click(drv::control(main, IDC_buttonPortOpen));
  return contains(drv::read_text(report), L"Port Open Success");
}

void mifare(HWND main, DWORD pid) {
  HWND tab = GetDlgItem(main, IDC_tabCtrl);
  HWND report = GetDlgItem(main, IDC_reportEdit);
  check(open_port(main), "Port Open on the Setting page opens the simulated terminal");

  // A card from the stacker into the antenna field.
  check(drv::choose(GetDlgItem(main, IDC_comboDestination), L"RF"), "destination RF");
  drv::set_text(report, L"");
  drv::click(GetDlgItem(main, IDC_buttonFromSt));
  check(drv::read_text(report) != L"", "From ST reports");

  check(drv::switch_tab(tab, 1), "the ClassMifare tab");
  const struct {
    int list;
    const wchar_t *entry;
  } block[] = {{IDC_comboKey, L"A "}, {IDC_comboSector, L" SECTOR 1"}, {IDC_comboBlock, L"BLOCK 0"}};
  bool chosen = true;
  for (const auto &b : block) chosen = drv::choose(drv::control(main, b.list), b.entry) && chosen;
  check(chosen, "key A, sector 1, block 0");
  drv::set_text(report, L"");
  drv::click(drv::control(main, IDC_buttonReadBlock));
  const std::wstring read = drv::read_text(report);
  check(read != L"" && !contains(read, L"Error"), "Read Block shows its report");

  // A trailer whose access bits lock the sector: asked first, "No" sends nothing.
  const struct {
    int list;
    const wchar_t *entry;
  } trailer[] = {{IDC_comboSector, L" SECTOR 6"}, {IDC_comboBlock, L"BLOCK 3"}, {IDC_comboType, L"HEX"}};
  chosen = true;
  for (const auto &t : trailer) chosen = drv::choose(drv::control(main, t.list), t.entry) && chosen;
  check(chosen, "sector 6, block 3, HEX");
  drv::set_text(drv::control(main, IDC_editInput), L"FFFFFFFFFFFF77878869FFFFFFFFFFFF");
  drv::click_later(drv::control(main, IDC_buttonWriteBlock));
  const std::wstring question = drv::answer_message_box(pid, L"tolvex_bench", IDNO);
  check(contains(question, L"SECTOR 6"), "Write Block asks about the locking trailer of sector 6");
  Sleep(300);
  check(drv::read_text(report) == read, "answered No: nothing sent, the report unchanged");
}

void aging(HWND main, const std::wstring &folder) {
  HWND tab = GetDlgItem(main, IDC_tabCtrl);
  check(open_port(main), "Port Open on the Setting page opens the simulated terminal");
  check(drv::switch_tab(tab, 3), "the Aging tab");
  HWND count = drv::control(main, IDC_editCount);
  HWND remain = drv::control(main, IDC_editRemain);
  HWND start = drv::control(main, IDC_buttonStart);
  HWND status = drv::control(main, IDC_labelStatus);

  drv::set_text(count, L"3");
  drv::click_later(start);
  const bool ended = poll(30000, [&] { return drv::read_text(remain) == L"0" && IsWindowEnabled(start); });
  check(ended, "three cycles: Remain shows 0");
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder + L"\\aging-records\\*.csv").c_str(), &found);
  check(search != INVALID_HANDLE_VALUE, "the run's record in aging-records of the current folder");
  if (search != INVALID_HANDLE_VALUE) FindClose(search);

  drv::set_text(count, L"90");
  drv::click_later(start);
  check(poll(10000, [&] { return !IsWindowEnabled(start); }), "a long run starts");
  Sleep(300);
  // Posted, as a click arrives: the running wait dispatches it.
  drv::click_later(drv::control(main, IDC_buttonStop));
  check(poll(30000, [&] { return IsWindowEnabled(start) != FALSE; }), "STOP ends the run");
  const std::wstring left = drv::read_text(remain);
  check(left != L"0" && left != L"", "cycles were left");
  check(contains(drv::read_text(status), L"stopped"), "the status line says it was stopped");
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc != 3 || (std::wstring(argv[2]) != L"mifare" && std::wstring(argv[2]) != L"aging")) {
    std::fprintf(stderr, "usage: tolvex_bench_pages_scenario_test PATH_OF_tolvex_bench.exe mifare|aging\n");
    return 2;
  }
  const std::wstring folder = drv::scratch_folder();
  check(!folder.empty(), "a scratch folder");
  drv::Program bench(L"\"" + std::wstring(argv[1]) + L"\" --simulate", folder);
  check(bench.running(), "tolvex_bench.exe --simulate starts");
  HWND main = drv::find_main_window(bench.id(), L"tolvex_bench");
  check(main != nullptr, "a window titled tolvex_bench");
  if (main == nullptr) return 1;

  if (std::wstring(argv[2]) == L"mifare") {
    mifare(main, bench.id());
  } else {
    aging(main, folder);
  }

  PostMessageW(main, WM_CLOSE, 0, 0);
  check(bench.wait_exit() == 0, "WM_CLOSE ends it with exit code 0");
  return g_failures == 0 ? 0 : 1;
}
