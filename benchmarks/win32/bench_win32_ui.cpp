// tolvex_bench.exe's pages under wine, in one process against the in-process simulated
// terminal: (1) the user-interface thread's CPU while a command waits 3 s for its reply
// (target under 1 % of a core); (2) the Aging page at pause 0 over a long run, its own
// time per cycle (UI thread CPU) over the first and the last 1000 cycles (target:
// last/first at most 1.2). Usage: bench_win32_ui [cycles], default 10000.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <string>

#include <tolvex/tolvex.h>
#include <tolvex_sim/simulator.hpp>

#include "aging_page.hpp"
#include "dialog_window.hpp"
#include "tolvex_bench_ids.h"
#include "win32_commands.hpp"

namespace tw = tolvex::bench::win32;
using Model = tolvex::bench::AgingPageModel;

namespace {

double thread_cpu_seconds() {
  FILETIME created, ended, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  auto value = [](const FILETIME &t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return static_cast<double>(value(kernel) + value(user)) / 1e7;
}

double wall_seconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::unique_ptr<tolvex::sim::Simulator> start_terminal(int stacker_cards) {
  tolvex::sim::Options options = tolvex::sim::in_process_options();
  options.instant = true;
  options.stacker_cards[0] = stacker_cards;
  options.stacker_capacity = stacker_cards + 1;
  auto terminal = std::make_unique<tolvex::sim::Simulator>(options);
  std::string error;
  if (!terminal->start(&error)) {
    std::fprintf(stderr, "simulated terminal: %s\n", error.c_str());
    return nullptr;
  }
  if (EnablePort(terminal->path().c_str(), 8, 0, 0, 38400, 0) == 0) {
    std::fprintf(stderr, "EnablePort: %s\n", tolvex_port_error());
    return nullptr;
  }
  return terminal;
}

// The main dialog (hidden) with its report window and the command road over it.
struct Front {
  tw::DialogWindow main{IDD_CTolvexBenchDlg};
  std::unique_ptr<tw::Win32Commands> commands;
  bool create() {
    if (main.create(nullptr) == nullptr) return false;
    commands = std::make_unique<tw::Win32Commands>(main.hwnd(), main.item(IDC_reportEdit));
    return true;
  }
};

bool wait_figures() {
  constexpr int kLateMs = 3000;
  constexpr int kRounds = 3;
  const auto terminal = start_terminal(1);
  Front front;
  if (!terminal || !front.create()) return false;
  // No card is in the transport: the terminal's refusal of "Eject" comes after the wait.
  std::printf("bench_win32_ui: C33 with the reply held back %d ms, %d rounds\n", kLateMs, kRounds);
  bool met = true;
  for (int round = 1; round <= kRounds; ++round) {
    std::string error;
    if (!terminal->add_fault("C33:late=" + std::to_string(kLateMs), &error)) {
      std::fprintf(stderr, "fault: %s\n", error.c_str());
      return false;
    }
    const double wall0 = wall_seconds();
    const double cpu0 = thread_cpu_seconds();
    front.commands->run("C33", [] { return card_eject(); });
    const double cpu = thread_cpu_seconds() - cpu0;
    const double wall = wall_seconds() - wall0;
    const double share = 100.0 * cpu / wall;
    std::printf("  round %d: wait %.0f ms, UI thread CPU %.3f ms = %.4f %% of a core, result 0x%04X\n", round,
                wall * 1000.0, cpu * 1000.0, share, front.commands->state().result);
    // The reply came after the wait: the terminal's refusal (no card, 0x2005) is its result.
    met = met && share < 1.0 && wall * 1000.0 >= kLateMs;
    terminal->clear_faults();
  }
  std::printf("  target under 1 %% of a core: %s\n", met ? "met" : "NOT met");
  front.commands.reset();
  DisablePort();
  terminal->stop();
  return met;
}

// CPU and wall time of the UI thread over a stretch of cycles.
struct Stretch {
  double cpu = 0;
  double wall = 0;
  void open() {
    cpu = -thread_cpu_seconds();
    wall = -wall_seconds();
  }
  void close() {
    cpu += thread_cpu_seconds();
    wall += wall_seconds();
  }
};

bool aging_figures(int cycles) {
  const int stretch = std::min(1000, cycles);
  const auto terminal = start_terminal(cycles);
  Front front;
  if (!terminal || !front.create()) return false;
  tw::CAging page(*front.commands);
  if (page.create(front.main.hwnd()) == nullptr) return false;

  const std::filesystem::path records = std::filesystem::temp_directory_path() /
                                        ("bench_win32_ui_" + std::to_string(GetCurrentProcessId()));
  Model &model = page.model();
  model.engine().set_pause(std::chrono::milliseconds(0));
  model.set_record_folder(records);
  page.view().set_checked(Model::Write1, true);
  page.view().set_checked(Model::Read1, true);
  page.view().set_text(Model::Count, std::to_wstring(cycles));

  // "Remain:" is rewritten at each cycle start and at the end: cycles done = N - remain.
  Stretch first, last;
  page.on(IDC_editRemain, EN_CHANGE, [&] {
    const long long done = cycles - std::wcstoll(tw::window_text(page.item(IDC_editRemain)).c_str(), nullptr, 10);
    if (done == 0) first.open();
    if (done == stretch) first.close();
    if (done == cycles - stretch) last.open();
    if (done == cycles) last.close();
  });
  model.start();

  const double first_ms = first.cpu * 1000.0 / stretch;
  const double last_ms = last.cpu * 1000.0 / stretch;
  const double ratio = first_ms > 0 ? last_ms / first_ms : 0.0;
  std::printf("bench_win32_ui: Aging page, MS cycles, %d cycles, pause 0, instant in-process terminal\n", cycles);
  std::printf("  first %d cycles: own time %7.3f ms/cycle, wall %7.3f ms/cycle\n", stretch, first_ms,
              first.wall * 1000.0 / stretch);
  std::printf("  last  %d cycles: own time %7.3f ms/cycle, wall %7.3f ms/cycle\n", stretch, last_ms,
              last.wall * 1000.0 / stretch);
  const std::wstring status = tw::window_text(page.item(IDC_labelStatus));
  std::printf("  status: %ls\n", status.c_str());
  const bool met = first_ms > 0 && ratio <= 1.2;
  std::printf("  last/first %.2f (target <= 1.2): %s\n", ratio, met ? "met" : "NOT met");

  std::error_code ignored;
  std::filesystem::remove_all(records, ignored);
  DisablePort();
  terminal->stop();
  return met;
}

}  // namespace

int main(int argc, char **argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 10000;
  if (cycles <= 0) {
    std::fprintf(stderr, "usage: bench_win32_ui [cycles]\n");
    return 2;
  }
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  const bool waited = wait_figures();
  std::printf("\n");
  const bool aged = aging_figures(cycles);
  std::fflush(stdout);
  return waited && aged ? 0 : 1;
}
