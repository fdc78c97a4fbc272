"""The terminal on a port: one command at a time, each waited for through the library's
completion handler."""
from __future__ import annotations

import atexit
import ctypes
import datetime
import threading
from dataclasses import dataclass
from typing import Optional, Union

from . import _library, decode
from ._commands import PROTOTYPES, Commands

OK = 0
NO_ACK = 1
TIMEOUT = 2
NAK = 3
STOPPED = 102
FRAME_ERROR = 106
BCC_ERROR = 107
TX_ERROR = 108
NEGATIVE = 2000

PARITY = {"none": 0, "odd": 1, "even": 2, "mark": 3, "space": 4}
STOP_BITS = {"1": 0, "1.5": 1, "2": 2}
FLOW = {"none": 0, "xonxoff": 1, "rtscts": 2, "both": 3}


def result_text(code: int) -> Optional[str]:
    """The library's words for a result code or a terminal status word (None for 0)."""
    text = _library.lib().tolvex_result_text(code)
    return None if text is None else text.decode(errors="replace")


@dataclass(frozen=True)
class Response:
    """The outcome of one command.

    result: the library's result code (0 success, 2000 negative answer, ...);
    prc_no: its process number; data: the reply data (for a negative answer the two
    status bytes); status: the terminal's status word (0 unless negative); words: the
    library's text for the status word or the result code (None on success).
    """

    result: int
    prc_no: int
    data: bytes
    status: int
    words: Optional[str]

    @property
    def ok(self) -> bool:
        return self.result == OK


class TolvexError(Exception):
    """A command or the port failed: result code, status word and the library's words."""

    def __init__(self, message: str, result: Optional[int] = None, status: int = 0,
                 words: Optional[str] = None, response: Optional[Response] = None):
        super().__init__(message)
        self.result = result
        self.status = status
        self.words = words
        self.response = response


class TerminalError(TolvexError):
    """The terminal answered the command negatively (result 2000); status is its word."""


class PortError(TolvexError):
    """The port did not open; words is the library's reason (tolvex_port_error)."""


def _option(value: Union[int, str], names: dict, what: str) -> int:
    if isinstance(value, str):
        try:
            return names[value.lower()]
        except KeyError:
            raise ValueError(f"{what} {value!r}: one of {', '.join(names)}") from None
    return value


_open_lock = threading.Lock()
_open_terminal: Optional["Terminal"] = None


class Terminal(Commands):
    """The terminal on one port, opened by ``with Terminal(port) as t:`` (or open()).

    The library drives one port per process, so one Terminal is open at a time. Every
    command method waits for its own outcome and returns a Response. Thread-safety: as
    in the library, one command runs at a time; calls from several threads are taken in
    turn by a lock of the Terminal, so a call may wait for another thread's command.
    """

    def __init__(self, port: str, baud: int = 38400, data_bits: int = 8,
                 parity: Union[int, str] = 0, stop_bits: Union[int, str] = 0,
                 flow: Union[int, str] = 0, timeout: Optional[float] = None):
        """port: a device path, "COMn", "socket://HOST:PORT" or "rfc2217://HOST:PORT";
        parity, stop_bits and flow as numbers or names ("even", "1.5", "rtscts");
        timeout: seconds each command may take unless a call gives its own (None: the
        library's own reply windows decide)."""
        self.port = port
        self.baud = baud
        self.data_bits = data_bits
        self.parity = _option(parity, PARITY, "parity")
        self.stop_bits = _option(str(stop_bits) if isinstance(stop_bits, float) else stop_bits,
                                 STOP_BITS, "stop bits")
        self.flow = _option(flow, FLOW, "flow")
        self.timeout = timeout
        self._lock = threading.Lock()
        self._open = False

    def open(self) -> "Terminal":
        """Opens the port; raises PortError with the library's reason when it does not."""
        global _open_terminal
        with _open_lock:
            if _open_terminal is not None and _open_terminal is not self:
                raise TolvexError(f"{_open_terminal.port} is open: the library drives one port at a time")
            lib = _library.lib()
            if not lib.EnablePort(self.port.encode(), self.data_bits, self.parity, self.stop_bits,
                                  self.baud, self.flow):
                reason = lib.tolvex_port_error().decode(errors="replace")
                raise PortError(f"cannot open {self.port}: {reason}", words=reason)
            self._open = True
            _open_terminal = self
        return self

    def close(self) -> None:
        """Closes the port (again is harmless)."""
        global _open_terminal
        with _open_lock:
            if self._open:
                with self._lock:
                    _library.lib().DisablePort()
                self._open = False
                _open_terminal = None

    def __enter__(self) -> "Terminal":
        return self.open()

    def __exit__(self, *exc) -> None:
        self.close()

    def _run(self, name: str, args: tuple, timeout: Optional[float]) -> Response:
        if timeout is None:
            timeout = self.timeout
        lib = _library.lib()
        with self._lock:
            _library.completions.reset()
            prc_no = getattr(lib, name)(*args)
            if prc_no == 0:
                raise TolvexError(f"{name}: refused (a command in flight, or the arguments)", result=None)
            try:
                finished = _library.completions.wait(prc_no, timeout)
            except BaseException:
                # Interrupted (Ctrl-C): give the command up so that the next one may start.
                lib.exe_stop()
                _library.completions.wait(prc_no, 5.0)
                raise
            if not finished:
                lib.exe_stop()
                _library.completions.wait(prc_no, None)
            response = self._collect(lib, name, prc_no)
        if response.result == NEGATIVE:
            raise TerminalError(f"{name}: 0x{response.status:04X} {response.words}", response.result,
                                response.status, response.words, response)
        if response.result != OK:
            raise TolvexError(f"{name}: result {response.result} {response.words}", response.result,
                              0, response.words, response)
        return response

    @staticmethod
    def _collect(lib, name: str, prc_no: int) -> Response:
        buffer = ctypes.create_string_buffer(_library.RESPONSE_MAX)
        length, got, result = ctypes.c_int(0), ctypes.c_uint8(0), ctypes.c_int(0)
        if not lib.chk_res(buffer, ctypes.byref(length), ctypes.byref(got), ctypes.byref(result)):
            raise TolvexError(f"{name}: no outcome published")
        if got.value != prc_no:
            raise TolvexError(f"{name}: outcome of process {got.value}, not {prc_no}")
        data = buffer.raw[: max(0, min(length.value, _library.RESPONSE_MAX))]
        status = 0
        code = result.value
        if code == NEGATIVE and len(data) >= 2:
            status = (data[0] << 8) | data[1]
        words = result_text(status if code == NEGATIVE else code)
        return Response(code, prc_no, data, status, words)

    # Python values of the documented replies.

    def read_model(self, *, timeout: Optional[float] = None) -> str:
        """The terminal's model text ("C11")."""
        return decode.text(self.model(timeout=timeout).data)

    def read_version(self, *, timeout: Optional[float] = None) -> str:
        """The firmware version text ("C12")."""
        return decode.text(self.fw_version(timeout=timeout).data)

    def read_clock(self, *, timeout: Optional[float] = None) -> datetime.datetime:
        """The terminal's clock ("C21" mode 2)."""
        return decode.clock(self.set_rtc(2, timeout=timeout).data)

    def write_clock(self, when: datetime.datetime, *, timeout: Optional[float] = None) -> Response:
        """Sets the terminal's clock ("C21" mode 1) to when (to the second)."""
        return self.set_rtc(1, decode.clock_bytes(when), timeout=timeout)

    def read_stackers(self, *, timeout: Optional[float] = None) -> tuple[decode.Stacker, decode.Stacker]:
        """The states of stackers 1 and 2 ("C13")."""
        return decode.stackers(self.chk_stacker(timeout=timeout).data)

    def read_card_position(self, *, timeout: Optional[float] = None) -> decode.Sensors:
        """The card sensors that see the card ("C16"); empty (falsy) when there is no card."""
        return decode.card_position(self.card_position(timeout=timeout).data)


def command_names() -> tuple[str, ...]:
    """The terminal commands a Terminal has a method for, in the export table's order."""
    return tuple(PROTOTYPES)


@atexit.register
def _shutdown() -> None:
    if _open_terminal is not None:
        _open_terminal.close()
    _library.release()
