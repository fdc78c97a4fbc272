// tolvex_bench.exe: the bench as a native dialog program.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include <tolvex/tolvex.h>
#if TOLVEX_BENCH_WITH_SIM
#include <tolvex_sim/simulator.hpp>
#endif

#include "text.hpp"
#include "tolvex_bench_dlg.hpp"
#include "tolvex_bench_ids.h"
#include "win32_page_view.hpp"

#if TOLVEX_BENCH_WITH_SIM
#endif

namespace {

namespace tw = tolvex::bench::win32;

constexpr const wchar_t *kUsage =
    L"Usage: tolvex_bench [--simulate]\n\n"
    L"  --simulate   run against a simulated terminal inside the program, on \" COM 1\"\n\n"
    L"A port COMn opens the device named by the environment variable TOLVEX_COMn, else by "
    L"the line COMn=DEVICE of ports.conf, else the system's COMn.";

// Opens " COM 1" through the Setting page's "Port Open", the step an engineer takes
// first, so that the simulated terminal answers the first command.
void open_demo_port(tw::CTolvexBenchDlg &dialog) {
  HWND setting = dialog.tab_ctrl().setting_page().hwnd();
  HWND port = GetDlgItem(setting, IDC_comboPort);
  if (SendMessageW(port, CB_GETCOUNT, 0, 0) <= 0) return;
  SendMessageW(port, CB_SETCURSEL, 0, 0);
  SendMessageW(setting, WM_COMMAND, MAKEWPARAM(IDC_comboPort, CBN_SELCHANGE), reinterpret_cast<LPARAM>(port));
  SendDlgItemMessageW(setting, IDC_buttonPortOpen, BM_CLICK, 0, 0);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command_line*/, int /*show*/) {
  bool simulate = false;
  int argc = 0;
  wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--simulate") {
      simulate = true;
    } else {
      const bool help = arg == L"--help" || arg == L"-h";
      MessageBoxW(nullptr, kUsage, L"tolvex_bench", help ? MB_OK : MB_OK | MB_ICONERROR);
      LocalFree(argv);
      return help ? 0 : 2;
    }
  }
  LocalFree(argv);

  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

#if TOLVEX_BENCH_WITH_SIM
  std::unique_ptr<tolvex::sim::Simulator> terminal;
  if (simulate) {
    std::string error;
    terminal = tolvex::sim::start_as_com_port(1, &error);
    if (!terminal) {
      MessageBoxW(nullptr, (L"Cannot start the simulated terminal: " + tolvex::bench::to_wide(error)).c_str(),
                  L"tolvex_bench", MB_OK | MB_ICONERROR);
      return 1;
    }
  }
#else
  if (simulate) {
    MessageBoxW(nullptr, L"This build has no simulated terminal.", L"tolvex_bench", MB_OK | MB_ICONERROR);
    return 1;
  }
#endif

  int status = 0;
  {
    tw::CTolvexBenchDlg dialog;
    if (dialog.create(nullptr) == nullptr) return 1;
    ShowWindow(dialog.hwnd(), SW_SHOW);
    // The simulated terminal is there from the start: its port opens once the window is up.
    if (simulate) open_demo_port(dialog);
    status = dialog.run();
  }
  // The simulated terminal goes away with the program: let go of its line first.
  if (simulate) DisablePort();
  return status;
}
