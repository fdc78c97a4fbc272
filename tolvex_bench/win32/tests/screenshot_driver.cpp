// Pictures of tolvex_bench.exe --simulate, one per tab, for the documentation: starts the
// bench, clicks each tab and copies the window from the screen into FOLDER\windows-<tab>.bmp
// (24-bit); scripts/screenshot-windows turns them into PNG files.
//   tolvex_bench_screenshots PATH\tolvex_bench.exe FOLDER
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_driver.hpp"
#include "tolvex_bench_ids.h"

namespace drv = tolvex::bench::win32::driver;

namespace {

// The screen under `window` as a bottom-up 24-bit BMP file.
bool save_window(HWND window, const std::wstring &path) {
  RECT r{};
  GetWindowRect(window, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void *bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = bitmap != nullptr;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(memory, old);
  }
  const DWORD row = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD size = row * static_cast<DWORD>(height);
  if (ok) {
    BITMAPFILEHEADER head{};
    head.bfType = 0x4d42;  // "BM"
    head.bfOffBits = sizeof head + sizeof info.bmiHeader;
    head.bfSize = head.bfOffBits + size;
    FILE *out = _wfopen(path.c_str(), L"wb");
    ok = out != nullptr && std::fwrite(&head, sizeof head, 1, out) == 1 &&
         std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 && std::fwrite(bits, size, 1, out) == 1;
    if (out != nullptr) ok = std::fclose(out) == 0 && ok;
  }
  if (bitmap != nullptr) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tolvex_bench_screenshots PATH_OF_tolvex_bench.exe FOLDER\n");
    return 2;
  }
  const std::wstring folder = drv::scratch_folder();
  drv::Program bench(L"\"" + std::wstring(argv[1]) + L"\" --simulate", folder);
  HWND main = bench.running() ? drv::find_main_window(bench.id(), L"tolvex_bench") : nullptr;
  if (main == nullptr) {
    std::fprintf(stderr, "tolvex_bench_screenshots: no window titled tolvex_bench\n");
    return 1;
  }
  SetWindowPos(main, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
  HWND tab = GetDlgItem(main, IDC_tabCtrl);
  const wchar_t *names[] = {L"setting", L"classmifare", L"ms-ic", L"aging"};
  int failures = 0;
  for (int index = 0; index < 4; ++index) {
    const std::wstring path = std::wstring(argv[2]) + L"\\windows-" + names[index] + L".bmp";
    // Clicked, then given a moment to paint.
    const bool shown = drv::switch_tab(tab, index);
    RedrawWindow(main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(500);
    if (!shown || !save_window(main, path)) {
      std::fprintf(stderr, "tolvex_bench_screenshots: no picture of tab %d\n", index);
      ++failures;
    }
  }
  PostMessageW(main, WM_CLOSE, 0, 0);
  bench.wait_exit();
  DeleteFileW((folder + L"\\Port.cfg").c_str());
  RemoveDirectoryW(folder.c_str());
  return failures == 0 ? 0 : 1;
}
