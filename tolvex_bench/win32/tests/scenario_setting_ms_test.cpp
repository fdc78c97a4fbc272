// tolvex_bench.exe --simulate under wine, used as a person would: the port is open at
// start and "Model" is answered, a card drawn to the MS head takes a track-2 write and
// read, and "Port Open" records the port in Port.cfg of the folder it was started in.
//   tolvex_bench_scenario_test PATH\tolvex_bench.exe
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "bench_driver.hpp"
#include "tolvex_bench_ids.h"

namespace drv = tolvex::bench::win32::driver;

namespace {

int g_failures = 0;

void check(bool ok, const char *what, const std::wstring &seen = {}) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) {
    ++g_failures;
    if (!seen.empty()) std::printf("  seen: %ls\n", seen.c_str());
  }
}

bool contains(const std::wstring &text, const std::wstring &part) { return text.find(part) != std::wstring::npos; }

std::string read_file(const std::wstring &path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) return "<none>";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// What one press of the execute button leaves in a write box: its first character moved to the end.
std::wstring rotated_once(const std::wstring &text) { return text.empty() ? text : text.substr(1) + text.front(); }

struct Bench {
  HWND main = nullptr;
  HWND tab = nullptr;
  std::wstring folder;
  HWND control(int id) const { return drv::control(main, id); }
  std::wstring report() const { return drv::read_text(control(IDC_reportEdit)); }
};

// The port opened at start: "Model" shows the terminal's model in the report window.
void model_answers_at_once(const Bench &bench) {
  check(bench.report() == L"Result: Port Open Success!!", "the port is open at start", bench.report());
  drv::click(bench.control(IDC_buttonModel));
  const std::wstring report = bench.report();
  check(contains(report, L"COMMAND: Get model") && contains(report, L"RESULT: TOLVEX-SIM TVX-100"),
        "\"Model\" puts the model's report in the report window", report);
}

// A card from the stacker to the MS head, then track 2 alone written and read back.
void track_two_written_and_read(const Bench &bench) {
  check(drv::choose(bench.control(IDC_comboDestination), L"MS"), "destination \"MS\" chosen");
  drv::click(bench.control(IDC_buttonFromSt));
  const std::wstring moved = bench.report();
  check(contains(moved, L"COMMAND: Card move from stacker") && contains(moved, L"RESULT   : Success!"),
        "\"From ST\" draws a card", moved);
  check(drv::switch_tab(bench.tab, 2), "the MS/IC tab");
  // The track boxes' IDs are shared with the Aging page: the ones of this page.
  HWND page = drv::page_with(bench.main, IDC_buttonMsExecute);
  const auto on_page = [page](int id) { return GetDlgItem(page, id); };
  const struct {
    int box;
    bool on;
  } boxes[] = {{IDC_checkWr1, false}, {IDC_checkWr2, true}, {IDC_checkWr3, false},
               {IDC_checkRd1, false}, {IDC_checkRd2, true}, {IDC_checkRd3, false}};
  bool as_wanted = true;
  for (const auto &b : boxes) {
    HWND box = on_page(b.box);
    if (drv::checked(box) != b.on) drv::click(box);
    as_wanted = as_wanted && drv::checked(box) == b.on;
  }
  check(as_wanted, "only track 2 checked for write and read");

  HWND write = on_page(IDC_editWrite2);
  HWND read = on_page(IDC_editRead2);
  const std::wstring before = drv::read_text(write);
  check(!before.empty(), "track 2 has a text to write");
  drv::click(on_page(IDC_buttonMsExecute));
  check(drv::read_text(write) == rotated_once(before), "the write box holds the rotated text", drv::read_text(write));
  check(drv::read_text(read) == before, "the read box holds the text written", drv::read_text(read));
  check(drv::read_text(on_page(IDC_editRead1)).empty() && drv::read_text(on_page(IDC_editRead3)).empty(),
        "tracks 1 and 3 are not read");
}

// "Port Open" on the Setting page writes the six lines of " COM 1" at 38400 where the
// program was started.
void port_open_writes_port_cfg(const Bench &bench) {
  const std::wstring cfg = bench.folder + L"\\Port.cfg";
  DeleteFileW(cfg.c_str());
  check(drv::switch_tab(bench.tab, 0), "the Setting tab");
  check(drv::chosen(bench.control(IDC_comboPort)) == L" COM 1" &&
            drv::chosen(bench.control(IDC_comboBaud)) == L" 38400 BPS",
        "\" COM 1\" at 38400 BPS chosen");
  drv::click(bench.control(IDC_buttonPortOpen));
  check(bench.report() == L"Result: Port Open Success!!", "the port opens again", bench.report());
  const std::string text = read_file(cfg);
  check(text == "PORT: 0\nBAUDRATE: 38400\nDATA_BIT: 8\nSTOP_BIT: 0\nPARITY_BIT: 0\nCONTROL: 0",
        "Port.cfg has the six lines of COM 1 at 38400", std::wstring(text.begin(), text.end()));
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tolvex_bench_scenario_test PATH_OF_tolvex_bench.exe\n");
    return 2;
  }
  Bench bench;
  bench.folder = drv::scratch_folder();
  check(!bench.folder.empty(), "a scratch folder");
  drv::Program program(L"\"" + std::wstring(argv[1]) + L"\" --simulate", bench.folder);
  check(program.running(), "tolvex_bench.exe --simulate starts");
  bench.main = drv::find_main_window(program.id(), L"tolvex_bench");
  check(bench.main != nullptr, "a window titled tolvex_bench");
  if (bench.main == nullptr) return 1;
  bench.tab = GetDlgItem(bench.main, IDC_tabCtrl);

  const struct {
    const char *name;
    std::function<void(const Bench &)> run;
  } scenarios[] = {
      {"Model answers at once", model_answers_at_once},
      {"track 2 written and read at the MS head", track_two_written_and_read},
      {"Port Open records Port.cfg", port_open_writes_port_cfg},
  };
  for (const auto &s : scenarios) {
    std::printf("-- %s\n", s.name);
    const int before = g_failures;
    s.run(bench);
    // No message box stays open behind a scenario.
    const std::wstring box = drv::answer_message_box(program.id(), L"tolvex_bench", IDOK, 0);
    check(box.empty(), "no message box", box);
    if (g_failures != before) std::printf("-- %s: FAILED\n", s.name);
  }

  PostMessageW(bench.main, WM_CLOSE, 0, 0);
  check(program.wait_exit() == 0, "WM_CLOSE ends it with exit code 0");
  for (const wchar_t *file : {L"\\Port.cfg"}) DeleteFileW((bench.folder + file).c_str());
  RemoveDirectoryW(bench.folder.c_str());
  return g_failures == 0 ? 0 : 1;
}
