/*
 * libtolvex: command library for self-service card terminals on a serial line.
 *
 * Every command function starts one command and returns at once with its process number
 * (1 to 255, wrapping from 255 to 1), or 0 when nothing was started. The command frame is
 * handed to the port on the calling thread; the rest of the exchange runs on the library's
 * I/O thread. The outcome is collected by polling chk_res (or by waiting for the
 * completion handler). Only one command may be in flight at a time:
 * a command started while another is in flight is refused with 0 and the one in flight is
 * left untouched.
 *
 * Reply windows: "short" commands wait at most 2000 ms for their reply, all others
 * 15000 ms, counted afresh for each send of the frame (a frame is sent up to three
 * times). A command that has run 15000 ms or longer when it ends reports
 * TOLVEX_TIMEOUT; with resends it can run longer than that before it ends. A port that
 * hangs up (an adapter unplugged) ends the command in flight at once with
 * TOLVEX_TX_ERROR, and every later command too until EnablePort opens the port again.
 *
 * Threads. Every function may be called from any thread, and at the same time as any
 * other: the library serialises them. The command functions, chk_res and exe_stop never
 * wait for the terminal; EnablePort and DisablePort return once the port is open or
 * closed. The library runs one I/O thread of its own, started by the first EnablePort
 * or command and ended when the library is unloaded.
 *
 * Handlers. The completion and trace handlers are called on the I/O thread; the message
 * handler on whichever thread meets the message (the I/O thread, or the caller's thread
 * for call_src_ver and a thread that cannot be started). No lock of the library is held
 * while a handler runs, so a handler may call any function of the library, including
 * DisablePort and a new command; while it runs, the I/O thread does nothing else, so a
 * handler should return quickly.
 *
 * Ownership. Pointers passed in point to the caller's bytes, which are copied before the
 * function returns; the library keeps none of them. Text handed to a handler is valid
 * during the call only. tolvex_port_error returns text that stays valid, unchanged, on
 * the calling thread until that thread calls tolvex_port_error again. Nothing the
 * library hands out is freed by the caller.
 *
 * Byte arguments are passed to the terminal unchanged.
 */
#ifndef TOLVEX_TOLVEX_H
#define TOLVEX_TOLVEX_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && defined(TOLVEX_BUILDING)
#define TOLVEX_API __declspec(dllexport)
#elif defined(_WIN32)
#define TOLVEX_API __declspec(dllimport)
#else
#define TOLVEX_API __attribute__((visibility("default")))
#endif

/* Every function, and every handler the library calls, uses the C calling convention
   (__cdecl on Windows), whatever a caller's compiler takes by default. */
#if defined(_WIN32)
#define TOLVEX_CALL __cdecl
#else
#define TOLVEX_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes handed out by chk_res. */
#define TOLVEX_OK 0              /* success: the response holds the reply data */
#define TOLVEX_NO_ACK 1          /* the third send of the frame was not acknowledged */
#define TOLVEX_TIMEOUT 2         /* the reply window or the 15000 ms command limit ran out */
#define TOLVEX_NAK 3             /* the terminal refused the third send with NAK */
#define TOLVEX_STOPPED 102       /* exe_stop was called while the command was in flight */
#define TOLVEX_FRAME_ERROR 106   /* the reply frame was malformed (length field out of range) */
#define TOLVEX_BCC_ERROR 107     /* a complete reply failed the block check four times */
#define TOLVEX_TX_ERROR 108      /* the port is closed, hung up, or refused a write */
#define TOLVEX_NEGATIVE 2000     /* the terminal's status word was not 0; response = its 2 bytes */

/* The longest response chk_res can copy. The caller's buffer must hold this many bytes. */
#define TOLVEX_RESPONSE_MAX 987

/* Longest data block a command can carry. */
#define TOLVEX_DATA_MAX 1000

/* ---- Port ---- */

/* Open the serial port: name is a device path ("/dev/ttyUSB0") or "COMn" (see
   tolvex_resolve_port), or a terminal on the network: "socket://HOST:PORT" (raw TCP, line
   settings not sent) or "rfc2217://HOST:PORT" (Telnet COM port control: the settings are
   sent, and one the server refuses fails the open); byte_size 5-8; parity 0 none,1 odd,2 even,3 mark,4 space; stop_bits 0
   one,1 one and a half (5 data bits only),2 two; baud_rate a standard rate (not 0); flow 0 none,
   1 XON/XOFF,2 RTS/CTS,3 both, any other none. Returns 1 when open, 0 on failure (see
   tolvex_port_error). */
TOLVEX_API int TOLVEX_CALL EnablePort(const char *port_name, uint8_t byte_size, uint8_t parity,
                          uint8_t stop_bits, uint32_t baud_rate, uint8_t flow_control);
/* Close the serial port if it is open. Always returns 1. */
TOLVEX_API int TOLVEX_CALL DisablePort(void);

/* ---- Exchange ---- */

/* Start any command: the first three characters of code and length data bytes (at most 1000; data
   may be null only when length is 0). Reply window by code. Returns the process number, or 0 when
   refused. */
TOLVEX_API int TOLVEX_CALL exe_cmd(const char *code, const uint8_t *data, uint32_t length);
/* Collect the outcome: returns 0 while a command is in flight; otherwise copies the response (at
   most TOLVEX_RESPONSE_MAX bytes) into data and sets *length, *prc_no and *result, and returns 1
   (the same outcome on every call until the next command). */
TOLVEX_API int TOLVEX_CALL chk_res(uint8_t *data, int *length, uint8_t *prc_no, int *result);
/* Ask the command in flight to give up; it ends with TOLVEX_STOPPED. Always returns 1. */
TOLVEX_API int TOLVEX_CALL exe_stop(void);

/* ---- Library ---- */

/* Hand the text "[Source Version: 060607]" to the message handler (standard error when none is
   set). */
TOLVEX_API void TOLVEX_CALL call_src_ver(void);
/* Suspend the calling thread for ms milliseconds. */
TOLVEX_API void TOLVEX_CALL delay(int ms);

/* Command functions: each sends its code and bytes as stated and returns the process number,
   or 0 when nothing was started; a null pointer where bytes are to be sent is refused with 0. */

/* ---- Status and identification (all short) ---- */

/* "C11" short: read the terminal's model text. */
TOLVEX_API int TOLVEX_CALL model(void);
/* "C12" short: read the firmware version text. */
TOLVEX_API int TOLVEX_CALL fw_version(void);
/* "C13" short: read the stacker states (byte 0 stacker 1, byte 1 stacker 2: 1 good, 2 warning, 3
   empty, 4 full, 5 no cartridge). */
TOLVEX_API int TOLVEX_CALL chk_stacker(void);
/* "C14" short: read the status list (pairs of bytes, one stored error each). */
TOLVEX_API int TOLVEX_CALL get_stat(void);
/* "C15" short: read the error list. */
TOLVEX_API int TOLVEX_CALL get_err(void);
/* "C16" short: read where the card is (byte 0: one bit per card sensor, bit 0 = sensor 1). */
TOLVEX_API int TOLVEX_CALL card_position(void);
/* "C17" short: read the state of the two input ports. */
TOLVEX_API int TOLVEX_CALL get_stat_in_port(void);

/* ---- Settings (short; mode 1 sets and sends the value, any other mode is sent alone, 2 reads
   back) ---- */

/* "C21" short: real-time clock; mode 1 sends the 7 bytes of rtc (BCD century, year, month, day,
   hour, minute, second), any other mode is sent alone and rtc is not read (may be null); 2 reads
   the clock. */
TOLVEX_API int TOLVEX_CALL set_rtc(uint8_t mode, const uint8_t *rtc);
/* "C22" short: card eject mode; value sent only with mode 1. */
TOLVEX_API int TOLVEX_CALL ejt_mode(uint8_t mode, uint8_t value);
/* "C23" short: capture time index (0 none, n = n x 10 s); value sent only with mode 1. */
TOLVEX_API int TOLVEX_CALL capture_time(uint8_t mode, uint8_t value);
/* "C24" short: retry count; value sent only with mode 1. */
TOLVEX_API int TOLVEX_CALL rty_cnt(uint8_t mode, uint8_t value);
/* "C25" short: buzzer on or off; value sent only with mode 1. */
TOLVEX_API int TOLVEX_CALL buzz(uint8_t mode, uint8_t value);
/* "C27" short: wait mode; value sent only with mode 1. */
TOLVEX_API int TOLVEX_CALL wait_mode(uint8_t mode, uint8_t value);
/* "C28" short: stacker priority; value sent only with mode 1. */
TOLVEX_API int TOLVEX_CALL stk_priority_mode(uint8_t mode, uint8_t value);
/* "C40" short: user-defined buzzer pattern; mode 1 sends the 5 bytes of pattern, any other mode is
   sent alone and pattern is not read (may be null). */
TOLVEX_API int TOLVEX_CALL buzz_manual(uint8_t mode, const uint8_t *pattern);
/* "C26" short: set the terminal's line speed to rate_code (1 9600, 2 19200, 3 38400, 4 57600); the
   port keeps its rate until EnablePort opens it at the new one. */
TOLVEX_API int TOLVEX_CALL baudrate(uint8_t rate_code);

/* ---- Card transport (long) ---- */

/* "C31" long: move a card from a stacker to a destination (1 MS, 2 IC, 3 RF, 4 feeder, 5 print). */
TOLVEX_API int TOLVEX_CALL card_stk_mov(uint8_t stacker, uint8_t destination);
/* "C32" long: move the card to a module (destination as for card_stk_mov). */
TOLVEX_API int TOLVEX_CALL card_mov(uint8_t destination);
/* "C33" long: eject the card. */
TOLVEX_API int TOLVEX_CALL card_eject(void);
/* "T33" long: eject the card (second eject command). */
TOLVEX_API int TOLVEX_CALL card_eject_ag(void);
/* "C34" long: capture the card into the capture box. */
TOLVEX_API int TOLVEX_CALL card_capture(void);
/* "C36" long: eject and drop the card. */
TOLVEX_API int TOLVEX_CALL card_drop(void);
/* "C37" long: eject and hold the card. */
TOLVEX_API int TOLVEX_CALL card_hold(void);
/* "C39" long: move the card back to the stacker given by stacker. */
TOLVEX_API int TOLVEX_CALL card_coll(uint8_t stacker);
/* "C31" long: communication test; always sends the stacker move with the bytes 03 03, unused is
   ignored. */
TOLVEX_API int TOLVEX_CALL comu_test(uint8_t unused);

/* ---- Magnetic stripe (long) ---- */

/* "M31" long: read one track (1-3), sent as one byte; track 0 sends "M35" (read all tracks) with no
   data. */
TOLVEX_API int TOLVEX_CALL ms_rd(uint8_t track);
/* Long: write n data bytes; stacker 0 and track 0 "M36" (data), stacker 0 "M33" (track, data),
   track 0 "M37" (stacker, data), both given "M34" (stacker with 4 sent as 0, track, data); refused
   with 0 when the leading bytes and data exceed 1000 bytes. */
TOLVEX_API int TOLVEX_CALL ms_wt(uint8_t stacker, uint8_t track, const uint8_t *data, uint32_t n);
/* "M37" (stacker != 0, sent before the data) or "M36" (stacker 0, data only) long: write all tracks
   from n bytes; refused with 0 when they exceed 1000 bytes. */
TOLVEX_API int TOLVEX_CALL ms_all_wt(uint8_t stacker, const uint8_t *data, uint32_t n);
/* "M51" long: clean the magnetic head. */
TOLVEX_API int TOLVEX_CALL ms_clean(void);

/* ---- IC card and SAM (long) ---- */

/* "I21" long: reset (power up) the contact card. */
TOLVEX_API int TOLVEX_CALL ic_reset(void);
/* "I22" long: pass the n command bytes (an APDU as the terminal takes it) to the contact card
   unchanged; refused with 0 above 1000. */
TOLVEX_API int TOLVEX_CALL ic_exe(const uint8_t *apdu, uint32_t n);
/* "I25" long: reset the SAM. */
TOLVEX_API int TOLVEX_CALL sam_reset(void);
/* "I26" long: pass the n command bytes to the SAM unchanged; refused with 0 above 1000. */
TOLVEX_API int TOLVEX_CALL sam_exe(const uint8_t *apdu, uint32_t n);
/* "I27" long: deactivate the SAM. */
TOLVEX_API int TOLVEX_CALL sam_deact(void);
/* "C43" long: protocol-type selection of the contact card, bytes a and b as given. */
TOLVEX_API int TOLVEX_CALL ic_pts(uint8_t a, uint8_t b);
/* "C42" long: reset the terminal. */
TOLVEX_API int TOLVEX_CALL tm_rst(void);

/* ---- MIFARE Classic (sectors 0-39, blocks within the sector) ---- */

/* "R61" long: check for an RF card in the antenna area. */
TOLVEX_API int TOLVEX_CALL mi_det(void);
/* "R62" short: the same without the card sensor. */
TOLVEX_API int TOLVEX_CALL mi_det_no_sens(void);
/* "R31" long: read one block of a sector (sector and block from 0). */
TOLVEX_API int TOLVEX_CALL mi_rd_blk(uint8_t sector, uint8_t block);
/* "R32" long: write the 16 bytes of data16 to a block (always 18 bytes: sector, block, data). */
TOLVEX_API int TOLVEX_CALL mi_wt_blk(uint8_t sector, uint8_t block, const uint8_t *data16);
/* "R33" short: read a block without the card sensor. */
TOLVEX_API int TOLVEX_CALL mi_rd_blk_no_sens(uint8_t sector, uint8_t block);
/* "R34" short: write the 16 bytes of data16 to a block without the card sensor. */
TOLVEX_API int TOLVEX_CALL mi_wt_blk_no_sens(uint8_t sector, uint8_t block, const uint8_t *data16);
/* "R36" long: read the three data blocks of a sector. */
TOLVEX_API int TOLVEX_CALL mi_rd_sct(uint8_t sector);
/* "R37" long: write the 51 bytes of data51 (three blocks) to a sector. */
TOLVEX_API int TOLVEX_CALL mi_wt_sct(uint8_t sector, const uint8_t *data51);
/* "R41" long: increase a value block by value (its 4 bytes sent low byte first). */
TOLVEX_API int TOLVEX_CALL mi_bal_inc(uint8_t sector, uint8_t block, int32_t value);
/* "R42" long: decrease a value block by value (its 4 bytes sent low byte first). */
TOLVEX_API int TOLVEX_CALL mi_bal_dec(uint8_t sector, uint8_t block, int32_t value);
/* "R43" short: increase a value block without the card sensor (value low byte first). */
TOLVEX_API int TOLVEX_CALL mi_bal_inc_no_sens(uint8_t sector, uint8_t block, int32_t value);
/* "R44" short: decrease a value block without the card sensor (value low byte first). */
TOLVEX_API int TOLVEX_CALL mi_bal_dec_no_sens(uint8_t sector, uint8_t block, int32_t value);

/* ---- Secret keys ---- */

/* "R51" long: change the terminal's keys of one sector to the 12 bytes of key12 (key A, key B). */
TOLVEX_API int TOLVEX_CALL mi_cng_tm_key(uint8_t sector, const uint8_t *key12);
/* "R52" long: set the terminal's keys of all sectors to the 12 bytes of key12 (key A, key B). */
TOLVEX_API int TOLVEX_CALL mi_cng_all_tm_key(const uint8_t *key12);
/* "R54" long: change the keys of a card's sector: flag 0 sends 12 bytes of keys (key A, key B), any
   other flag 16 (key A, access bytes, key B). */
TOLVEX_API int TOLVEX_CALL mi_cng_card_key(uint8_t sector, uint8_t flag, const uint8_t *keys);
/* "R53" short: select the key the terminal uses (1 key A, 2 key B). */
TOLVEX_API int TOLVEX_CALL mi_sel_key(uint8_t key_index);
/* "R55" long: change a key from a key set to the 12 bytes of key12; a and b as the terminal defines
   them. */
TOLVEX_API int TOLVEX_CALL mi_cng_tm_key_of_set(uint8_t a, uint8_t b, const uint8_t *key12);
/* "R56" long: set all keys of a key set to the 12 bytes of key12; a as the terminal defines it. */
TOLVEX_API int TOLVEX_CALL mi_cng_all_tm_key_of_set(uint8_t a, const uint8_t *key12);
/* "R71" short: start a key download. */
TOLVEX_API int TOLVEX_CALL mi_cng_tm_key_start(void);
/* "R72" short: one key of a key download, the 12 bytes of key12; a and b as the terminal defines
   them. */
TOLVEX_API int TOLVEX_CALL mi_cng_tm_key_trans(uint8_t a, uint8_t b, const uint8_t *key12);
/* "R73" short: finish a key download. */
TOLVEX_API int TOLVEX_CALL mi_cng_tm_key_finish(void);

/* ---- MIFARE Ultralight and SL2 ICS20 (long) ---- */

/* "U31" long: read an Ultralight page. */
TOLVEX_API int TOLVEX_CALL mi_ultra_rd(uint8_t page);
/* "U32" long: write the 4 bytes of data4 to an Ultralight page. */
TOLVEX_API int TOLVEX_CALL mi_ultra_wt(uint8_t page, const uint8_t *data4);
/* "U41" long: read the Ultralight UID. */
TOLVEX_API int TOLVEX_CALL mi_ultra_rd_uid(void);
/* "S10" long: read the serial number of an SL2 ICS20 card. */
TOLVEX_API int TOLVEX_CALL sl2_det(void);
/* "S11" long: read an SL2 ICS20 block. */
TOLVEX_API int TOLVEX_CALL sl2_rd_blk(uint8_t block);
/* "S12" long: write the 4 bytes of data4 to an SL2 ICS20 block. */
TOLVEX_API int TOLVEX_CALL sl2_wt_blk(uint8_t block, const uint8_t *data4);
/* "S16" long: read all SL2 ICS20 blocks. */
TOLVEX_API int TOLVEX_CALL sl2_rd_all(void);
/* "S17" long: write the 112 bytes of data112 (the whole SL2 ICS20 card image). */
TOLVEX_API int TOLVEX_CALL sl2_wt_all(const uint8_t *data112);

/* ---- Additions for hosts without a window system ---- */

/* Receive the library's messages ("CreateThread ERROR", "CreateThread 2 ERROR",
   "m_QueueRead FULL!", the source version) on any thread; null restores standard error. */
TOLVEX_API void TOLVEX_CALL tolvex_set_message_handler(void (TOLVEX_CALL *handler)(const char *text, void *ctx), void *ctx);
/* Called on the I/O thread right after a command's outcome is published (chk_res then returns
   1); null removes it. */
TOLVEX_API void TOLVEX_CALL tolvex_set_completion_handler(void (TOLVEX_CALL *handler)(uint8_t prc_no, void *ctx),
                                              void *ctx);
/* Text of the last EnablePort failure, e.g. "/dev/ttyUSB0: Permission denied"; empty after a
   success. A copy for the calling thread: another thread's EnablePort does not change it. */
TOLVEX_API const char *TOLVEX_CALL tolvex_port_error(void);
/* Device that EnablePort opens for name, into buffer: the name itself when it begins with "/";
   for "COMn" $TOLVEX_COMn, else the line COMn=DEVICE of $XDG_CONFIG_HOME/tolvex/ports.conf
   (default ~/.config/tolvex/ports.conf), else /dev/ttyS<n-1>. A null name gives the path of
   ports.conf. Returns where the text came from (TOLVEX_PORT_*), 0 for a name that is no port,
   -1 when buffer cannot hold the text with its terminator. */
#define TOLVEX_PORT_PATH 1
#define TOLVEX_PORT_ENVIRONMENT 2
#define TOLVEX_PORT_CONFIG 3
#define TOLVEX_PORT_FALLBACK 4
#define TOLVEX_PORT_CONFIG_FILE 5
TOLVEX_API int TOLVEX_CALL tolvex_resolve_port(const char *name, char *buffer, size_t size);

/* The report text of a result code (TOLVEX_NO_ACK gives "No ACK Error.", TOLVEX_NEGATIVE
   "Negative Error.") or of a terminal status word (0x2005 gives "No cards."): a static string
   the caller does not free. NULL for TOLVEX_OK and for every code without a text. */
TOLVEX_API const char *TOLVEX_CALL tolvex_result_text(int code);

/* Directions handed to the trace handler. */
#define TOLVEX_TRACE_WRITTEN 0 /* bytes the library wrote to the terminal */
#define TOLVEX_TRACE_READ 1    /* bytes the library read from the terminal */

/* Line trace: the handler is called on the I/O thread with every block of bytes written or
   read, in order, with the direction and the time it was handed over (the monotonic clock,
   CLOCK_MONOTONIC, in nanoseconds); null removes it. The bytes are valid during the call
   only. Independently, the environment variable TOLVEX_TRACE=FILE (read when the library is
   first used) appends each block to FILE as a text line "SECONDS.MICROSECONDS TX|RX HEX...". */
TOLVEX_API void TOLVEX_CALL tolvex_set_trace_handler(void (TOLVEX_CALL *handler)(int direction, const uint8_t *bytes,
                                                         uint32_t length, uint64_t time_ns,
                                                         void *ctx),
                                         void *ctx);

#ifdef __cplusplus
}
#endif

#endif /* TOLVEX_TOLVEX_H */
