/*
 * Reads the terminal's model text: opens the port, starts "model", polls chk_res
 * until the outcome is there and prints the model or the result code.
 *
 *   tolvex_model <port> [baud]      e.g.  tolvex_model /dev/ttyUSB0 38400
 *
 * Exit status: 0 model printed, 1 the command failed, 2 the port could not be opened
 * or the command was not started, 64 bad arguments.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tolvex/tolvex.h>

int main(int argc, char **argv) {
  uint8_t response[TOLVEX_RESPONSE_MAX + 1];
  int length = 0;
  int result = -1;
  uint8_t prc_no = 0;
  unsigned long baud = 38400;
  int started;
  int waited_ms;

  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: %s <port> [baud]\n", argv[0]);
    return 64;
  }
  if (argc == 3) {
    char *end = NULL;
    baud = strtoul(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || baud == 0 || baud > 4000000UL) {
      fprintf(stderr, "bad baud rate: %s\n", argv[2]);
      return 64;
    }
  }

  /* 8 data bits, no parity, one stop bit, no flow control. */
  if (EnablePort(argv[1], 8, 0, 0, (uint32_t)baud, 0) != 1) {
    fprintf(stderr, "cannot open %s: %s\n", argv[1], tolvex_port_error());
    return 2;
  }

  started = model();
  if (started == 0) {
    fprintf(stderr, "the command was not started\n");
    DisablePort();
    return 2;
  }

  /* chk_res answers 0 while the command is in flight; "model" has a 2 s reply window,
     so even with three sends its outcome is there within 20 s. */
  for (waited_ms = 0; waited_ms < 20000; waited_ms += 10) {
    if (chk_res(response, &length, &prc_no, &result) == 1) break;
    delay(10);
  }
  DisablePort();

  if (waited_ms >= 20000) {
    printf("no outcome within 20 s\n");
    return 1;
  }
  if (result != TOLVEX_OK || prc_no != (uint8_t)started) {
    if (result == TOLVEX_NEGATIVE && length == 2) {
      printf("result %d: terminal error 0x%02X%02X\n", result, response[0], response[1]);
    } else {
      printf("result %d\n", result);
    }
    return 1;
  }
  if (length < 0) length = 0;
  response[length] = 0; /* the model text ends at its first zero byte */
  printf("model: %s\n", (const char *)response);
  return 0;
}
