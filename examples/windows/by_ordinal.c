/* Loads tolvex.dll at run time and binds its functions by ordinal, as kiosk software does:
 * opens a COM port, reads the terminal's model and prints it.
 *   by_ordinal COM7
 * Build: x86_64-w64-mingw32-gcc by_ordinal.c -o by_ordinal.exe (or cl by_ordinal.c). */
#include <stdint.h>
#include <stdio.h>
#include <windows.h>

/* The library's functions use the C calling convention. */
typedef int(__cdecl *EnablePortFn)(const char *, uint8_t, uint8_t, uint8_t, uint32_t, uint8_t);
typedef int(__cdecl *DisablePortFn)(void);
typedef int(__cdecl *ChkResFn)(uint8_t *, int *, uint8_t *, int *);
typedef int(__cdecl *ModelFn)(void);

int main(int argc, char **argv) {
  const char *port = argc > 1 ? argv[1] : "COM1";
  HMODULE dll = LoadLibraryA("tolvex.dll");
  if (dll == NULL) {
    fprintf(stderr, "tolvex.dll not found\n");
    return 1;
  }
  /* Ordinals: EnablePort 1, DisablePort 2, chk_res 4, model 7. */
  EnablePortFn enable_port = (EnablePortFn)(void (*)(void))GetProcAddress(dll, MAKEINTRESOURCEA(1));
  DisablePortFn disable_port = (DisablePortFn)(void (*)(void))GetProcAddress(dll, MAKEINTRESOURCEA(2));
  ChkResFn chk_res = (ChkResFn)(void (*)(void))GetProcAddress(dll, MAKEINTRESOURCEA(4));
  ModelFn model = (ModelFn)(void (*)(void))GetProcAddress(dll, MAKEINTRESOURCEA(7));
  if (!enable_port || !disable_port || !chk_res || !model) {
    fprintf(stderr, "an ordinal is missing\n");
    return 1;
  }
  /* 8 data bits, no parity, one stop bit, 38400 baud, no flow control. */
  if (enable_port(port, 8, 0, 0, 38400, 0) != 1) {
    fprintf(stderr, "%s did not open\n", port);
    return 1;
  }
  int status = 1;
  if (model() > 0) {
    static uint8_t data[987]; /* TOLVEX_RESPONSE_MAX */
    int length = 0, result = 0;
    uint8_t prc_no = 0;
    for (int waited = 0; waited < 5000; waited += 10) { /* the reply comes within 2 s */
      if (chk_res(data, &length, &prc_no, &result) == 1) {
        if (result == 0) {
          printf("model: %.*s\n", length, (const char *)data);
          status = 0;
        } else {
          printf("model failed: result %d\n", result);
        }
        break;
      }
      Sleep(10);
    }
  }
  disable_port();
  FreeLibrary(dll);
  return status;
}
