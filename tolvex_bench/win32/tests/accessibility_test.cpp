// tolvex_bench.exe --simulate under wine, read as a screen reader reads it (MSAA): every
// edit and list of the main dialog and its four pages is named by its label (or the
// accessible name of its form), buttons, check boxes and radio buttons by their texts and
// group boxes by their titles, with the mnemonics of the forms kept; Tab walks each page
// in the order of its layout; the main window is titled "tolvex_bench". The expected names
// and order are the table the dialog generator makes from the forms.
//   tolvex_bench_accessibility_test PATH\tolvex_bench.exe
#include <windows.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_driver.hpp"
#include "tolvex_bench_ids.h"

namespace drv = tolvex::bench::win32::driver;

namespace {

enum class Role { box, text, group, stop };
struct Named {
  int dialog;
  int id;
  Role role;
  const wchar_t *text;  // as the form writes it, & before a mnemonic
  int tab;              // place in the dialog's tab order, -1 when not a tab stop
};
constexpr Named kNamed[] = {
#include "tolvex_bench_names.inc"
};

// mingw's IID_IAccessible resolves to an import thunk, not the GUID.
constexpr IID kIidAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

int g_failures = 0;

void check(bool ok, const std::wstring &what) {
  std::string text(WideCharToMultiByte(CP_UTF8, 0, what.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, what.c_str(), -1, text.data(), static_cast<int>(text.size()), nullptr, nullptr);
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", text.c_str());
  if (!ok) ++g_failures;
}

// The text a screen reader speaks for a mnemonic text: "&&" is "&", a lone "&" drops.
std::wstring spoken(const std::wstring &text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

// The name MSAA gives `window` (its client object), or "<none>" when it gives none.
std::wstring accessible_name(HWND window) {
  IAccessible *acc = nullptr;
  if (FAILED(AccessibleObjectFromWindow(window, OBJID_CLIENT, kIidAccessible, reinterpret_cast<void **>(&acc))) ||
      acc == nullptr)
    return L"<no accessible object>";
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  std::wstring out = L"<none>";
  if (acc->get_accName(self, &name) == S_OK && name != nullptr) out.assign(name, SysStringLen(name));
  SysFreeString(name);
  acc->Release();
  return out;
}

struct Search {
  std::vector<int> ids;
  std::vector<HWND> found;
};

BOOL CALLBACK collect_dialogs(HWND window, LPARAM data) {
  auto *search = reinterpret_cast<Search *>(data);
  if (drv::class_name(window) != L"#32770") return TRUE;
  for (int id : search->ids)
    if (GetDlgItem(window, id) == nullptr) return TRUE;
  search->found.push_back(window);
  return TRUE;
}

// The child dialog of `main` that holds every control in `ids`.
HWND page_with(HWND main, const std::vector<int> &ids) {
  Search search{ids, {}};
  EnumChildWindows(main, collect_dialogs, reinterpret_cast<LPARAM>(&search));
  return search.found.size() == 1 ? search.found.front() : nullptr;
}

std::wstring id_name(int id) { return L"control " + std::to_wstring(id); }

void check_names(HWND dialog, const std::wstring &where, const std::vector<Named> &rows) {
  for (const Named &row : rows) {
    HWND item = GetDlgItem(dialog, row.id);
    const std::wstring what = where + L" " + id_name(row.id);
    if (item == nullptr) {
      check(false, what + L": is there");
      continue;
    }
    if (row.role == Role::stop) continue;
    const std::wstring want = spoken(row.text);
    if (row.role != Role::box) {
      const std::wstring name = accessible_name(item);
      check(!want.empty() && name == want, what + L" named \"" + want + L"\" (MSAA says \"" + name + L"\")");
      // Its own text keeps the form's mnemonic.
      check(drv::read_text(item) == row.text, what + L" text \"" + row.text + L"\"");
      continue;
    }
    // A box is named by the static right before it in the dialog's order, which keeps
    // the form's mnemonic (Alt plus its letter moves to the box).
    HWND label = GetWindow(item, GW_HWNDPREV);
    check(label != nullptr && _wcsicmp(drv::class_name(label).c_str(), L"Static") == 0 &&
              drv::read_text(label) == row.text,
          what + L": the static before it reads \"" + row.text + L"\"");
    // wine's MSAA names an edit from that static but gives a combo box no name of its
    // own: there the static's own name is what a screen reader has.
    const bool combo = drv::class_name(item) == L"ComboBox";
    const std::wstring name = accessible_name(combo && label != nullptr ? label : item);
    check(!want.empty() && name == want,
          what + (combo ? L" labelled \"" : L" named \"") + want + L"\" (MSAA says \"" + name + L"\")");
  }
}

// Walks Tab through the page from its first stop and compares the walk with the table's
// order: the stops come in the table's order, and every stop shown and enabled now is
// met, except radio buttons, of which Tab meets only the checked one of each group.
bool is_radio(HWND item) {
  const auto type = static_cast<UINT>(GetWindowLongPtrW(item, GWL_STYLE)) & BS_TYPEMASK;
  return drv::class_name(item) == L"Button" && (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON);
}

void check_tab_order(HWND page, const std::wstring &where, const std::vector<Named> &rows) {
  std::map<int, int> place_of;  // control ID -> place in the table's tab order
  std::vector<int> must;        // the stops Tab must meet
  for (const Named &row : rows) {
    HWND item = GetDlgItem(page, row.id);
    if (row.tab < 0 || item == nullptr || !IsWindowVisible(item) || !IsWindowEnabled(item)) continue;
    place_of[row.id] = row.tab;
    if (!is_radio(item)) must.push_back(row.id);
  }
  std::vector<int> walked;
  HWND first = GetNextDlgTabItem(page, nullptr, FALSE);
  for (HWND at = first; at != nullptr && walked.size() <= place_of.size();) {
    walked.push_back(GetDlgCtrlID(at));
    at = GetNextDlgTabItem(page, at, FALSE);
    if (at == first) break;
  }
  bool in_order = !walked.empty();
  for (std::size_t i = 0; in_order && i < walked.size(); ++i) {
    in_order = place_of.count(walked[i]) == 1 && (i == 0 || place_of[walked[i - 1]] < place_of[walked[i]]);
  }
  for (int id : must) in_order = in_order && std::find(walked.begin(), walked.end(), id) != walked.end();
  std::wstring seen;
  for (int id : walked) seen += L" " + std::to_wstring(id);
  check(in_order, where + L": Tab follows the layout (walked" + seen + L")");
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tolvex_bench_accessibility_test PATH_OF_tolvex_bench.exe\n");
    return 2;
  }
  CoInitialize(nullptr);
  const std::wstring folder = drv::scratch_folder();
  drv::Program bench(L"\"" + std::wstring(argv[1]) + L"\" --simulate", folder);
  check(bench.running(), L"tolvex_bench.exe --simulate starts");
  HWND main = drv::find_main_window(bench.id(), L"tolvex_bench");
  check(main != nullptr, L"a window titled tolvex_bench");
  if (main == nullptr) return 1;
  const std::wstring window_name = accessible_name(main);
  check(drv::read_text(main) == L"tolvex_bench" && window_name == L"tolvex_bench",
        L"the main window is named tolvex_bench (MSAA says \"" + window_name + L"\")");

  std::map<int, std::vector<Named>> by_dialog;
  for (const Named &row : kNamed) by_dialog[row.dialog].push_back(row);
  check_names(main, L"main dialog", by_dialog[IDD_CTolvexBenchDlg]);

  // The pages in the order of their tabs.
  const std::pair<int, const wchar_t *> pages[] = {
      {IDD_CSetting, L"Setting"}, {IDD_CClassicMifare, L"ClassMifare"}, {IDD_CMsDlg, L"MS/IC"}, {IDD_CAging, L"Aging"}};
  HWND tab = GetDlgItem(main, IDC_tabCtrl);
  for (int index = 0; index < 4; ++index) {
    const auto [dialog, title] = pages[index];
    const std::vector<Named> &rows = by_dialog[dialog];
    std::vector<int> ids;
    for (const Named &row : rows) ids.push_back(row.id);
    HWND page = page_with(main, ids);
    check(page != nullptr && !rows.empty(), std::wstring(title) + L": its page is there");
    if (page == nullptr) continue;
    check(drv::switch_tab(tab, index), std::wstring(title) + L": its tab shows it");
    check_names(page, title, rows);
    check_tab_order(page, title, rows);
  }

  PostMessageW(main, WM_CLOSE, 0, 0);
  check(bench.wait_exit() == 0, L"WM_CLOSE ends it with exit code 0");
  // The port opened at the start records its settings there.
  DeleteFileW((folder + L"\\Port.cfg").c_str());
  RemoveDirectoryW(folder.c_str());
  CoUninitialize();
  return g_failures == 0 ? 0 : 1;
}
