#include "bench_driver.hpp"

#include <commctrl.h>

#include <memory>

namespace tolvex::bench::win32::driver {

namespace {

// Memory in the other process, for messages that return their data through a pointer.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, std::size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_ != nullptr) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (address_ != nullptr) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_ != nullptr) CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer &) = delete;
  RemoteBuffer &operator=(const RemoteBuffer &) = delete;

  bool ok() const { return address_ != nullptr; }
  void *address(std::size_t offset = 0) const { return static_cast<char *>(address_) + offset; }
  bool write(const void *data, std::size_t size, std::size_t offset = 0) const {
    return WriteProcessMemory(process_, address(offset), data, size, nullptr) != 0;
  }
  bool read(void *data, std::size_t size, std::size_t offset = 0) const {
    return ReadProcessMemory(process_, address(offset), data, size, nullptr) != 0;
  }

 private:
  std::size_t size_;
  HANDLE process_ = nullptr;
  void *address_ = nullptr;
};

template <typename Check>
bool wait_until(DWORD ms, Check check) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    if (check()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
}

// Which dialogs a search accepts: any, only message boxes (their text is a static
// 0xFFFF), or only windows that are neither message boxes nor owned.
enum class Kind { any, message_box, main };

struct Search {
  DWORD pid;
  const std::wstring *title;
  const wchar_t *cls;
  Kind kind;
  HWND found;
};

HWND find(DWORD pid, const std::wstring &title, const wchar_t *cls, Kind kind, DWORD ms);

BOOL CALLBACK match_top_level(HWND window, LPARAM context) {
  auto *search = reinterpret_cast<Search *>(context);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->pid || !IsWindowVisible(window)) return TRUE;
  if (search->cls != nullptr && class_name(window) != search->cls) return TRUE;
  if (read_text(window) != *search->title) return TRUE;
  const bool box = GetDlgItem(window, 0xFFFF) != nullptr;
  if (search->kind == Kind::message_box && !box) return TRUE;
  if (search->kind == Kind::main && (box || GetWindow(window, GW_OWNER) != nullptr)) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

Program::Program(const std::wstring &command_line, const std::wstring &folder) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  std::wstring line = command_line;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &info_)) {
    info_ = {};
  }
}

Program::~Program() {
  if (info_.hProcess != nullptr) {
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
  }
}

bool Program::running() const { return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

long Program::wait_exit(DWORD ms) {
  if (info_.hProcess == nullptr) return -1;
  if (WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0) {
    TerminateProcess(info_.hProcess, 99);
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(info_.hProcess, &code);
  return static_cast<long>(code);
}

std::wstring scratch_folder() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  for (unsigned n = GetTickCount() & 0xFFFFu;; ++n) {
    const std::wstring folder = std::wstring(base) + L"tolvex_bench_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                std::to_wstring(n);
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
}

HWND find_window(DWORD pid, const std::wstring &title, const wchar_t *cls, DWORD ms) {
  return find(pid, title, cls, Kind::any, ms);
}

HWND find_main_window(DWORD pid, const std::wstring &title, DWORD ms) { return find(pid, title, nullptr, Kind::main, ms); }

namespace {

HWND find(DWORD pid, const std::wstring &title, const wchar_t *cls, Kind kind, DWORD ms) {
  Search search{pid, &title, cls, kind, nullptr};
  wait_until(ms, [&] {
    EnumWindows(&match_top_level, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
  });
  return search.found;
}

}  // namespace

namespace {

struct FindId {
  int id;
  HWND found;
};

BOOL CALLBACK match_id(HWND window, LPARAM context) {
  auto *find = reinterpret_cast<FindId *>(context);
  if (GetDlgCtrlID(window) != find->id) return TRUE;
  find->found = window;
  return FALSE;
}

}  // namespace

HWND control(HWND root, int id) {
  FindId find{id, nullptr};
  EnumChildWindows(root, &match_id, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

HWND page_with(HWND root, int id) {
  HWND found = control(root, id);
  return found != nullptr ? GetParent(found) : nullptr;
}

std::wstring class_name(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::wstring read_text(HWND window) {
  const auto length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const auto got = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(got));
  return text;
}

bool set_text(HWND window, const std::wstring &text) {
  return SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != 0;
}

void type_text(HWND window, const std::wstring &text) {
  for (wchar_t c : text) SendMessageW(window, WM_CHAR, c, 1);
}

void click(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }

void click_later(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

bool checked(HWND button) { return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

bool choose(HWND combo, const std::wstring &text) {
  const LRESULT index = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
  if (index == CB_ERR) return false;
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  return true;
}

std::wstring chosen(HWND combo) {
  const LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return {};
  std::wstring text(static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, index, 0)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
  return text;
}

std::vector<std::wstring> tab_texts(HWND tab) {
  std::vector<std::wstring> texts;
  constexpr std::size_t kChars = 128;
  RemoteBuffer remote(tab, sizeof(TCITEMW) + kChars * sizeof(wchar_t));
  if (!remote.ok()) return texts;
  const int count = static_cast<int>(SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = static_cast<wchar_t *>(remote.address(sizeof(TCITEMW)));
    item.cchTextMax = kChars;
    remote.write(&item, sizeof(item));
    wchar_t text[kChars] = {};
    if (SendMessageW(tab, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote.address())) == 0 ||
        !remote.read(text, sizeof(text), sizeof(TCITEMW))) {
      return {};
    }
    text[kChars - 1] = L'\0';
    texts.emplace_back(text);
  }
  return texts;
}

bool switch_tab(HWND tab, int index, DWORD ms) {
  // A notification cannot be sent across processes: click the tab where it is drawn.
  RemoteBuffer remote(tab, sizeof(RECT));
  RECT rect{};
  if (!remote.ok() ||
      SendMessageW(tab, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(remote.address())) == 0 ||
      !remote.read(&rect, sizeof(rect))) {
    return false;
  }
  const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  PostMessageW(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(tab, WM_LBUTTONUP, 0, at);
  return wait_until(ms, [&] { return SendMessageW(tab, TCM_GETCURSEL, 0, 0) == index; });
}

std::wstring answer_message_box(DWORD pid, const std::wstring &title, int button, DWORD ms) {
  HWND box = find(pid, title, L"#32770", Kind::message_box, ms);
  if (box == nullptr) return {};
  // The box's text is its static control 0xFFFF.
  HWND text_window = GetDlgItem(box, 0xFFFF);
  const std::wstring text = text_window != nullptr ? read_text(text_window) : std::wstring();
  HWND answer = GetDlgItem(box, button);
  if (answer == nullptr) return {};
  PostMessageW(answer, BM_CLICK, 0, 0);
  wait_until(ms, [&] { return !IsWindow(box); });
  return text;
}

}  // namespace tolvex::bench::win32::driver
