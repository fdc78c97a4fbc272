"""Finds and loads the shared library and declares its functions to ctypes.

Search order: $TOLVEX_LIBRARY (a file), then the package's own folder, its parent and,
for the Windows zip's layout (python/tolvex beside bin/tolvex.dll), ../bin; then the
system's library path.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path
from typing import Optional

from ._commands import PROTOTYPES

RESPONSE_MAX = 987

# void (*)(uint8_t prc_no, void *ctx), the C calling convention on every platform.
COMPLETION = ctypes.CFUNCTYPE(None, ctypes.c_uint8, ctypes.c_void_p)


def library_name(platform: str = sys.platform) -> str:
    return "tolvex.dll" if platform.startswith(("win", "cygwin")) else "libtolvex.so.1"


def candidates(package_dir: Path, environ=os.environ, platform: str = sys.platform) -> list[Path]:
    """The files tried before the system's library path, in order."""
    found = []
    if environ.get("TOLVEX_LIBRARY"):
        found.append(Path(environ["TOLVEX_LIBRARY"]))
    name = library_name(platform)
    for folder in (package_dir, package_dir.parent, package_dir.parent.parent / "bin"):
        found.append(folder / name)
    return found


def _load() -> ctypes.CDLL:
    package_dir = Path(__file__).resolve().parent
    explicit = os.environ.get("TOLVEX_LIBRARY")
    for path in candidates(package_dir):
        if path.is_file():
            return ctypes.CDLL(str(path))
        if explicit and path == Path(explicit):
            raise OSError(f"TOLVEX_LIBRARY={explicit}: no such file")
    name = library_name()
    try:
        return ctypes.CDLL(name)
    except OSError:
        # On Windows the default search skips PATH; find_library looks there.
        found = ctypes.util.find_library("tolvex")
        if found is None:
            raise OSError(f"{name} was found neither beside the tolvex package nor on the "
                          "library path; set TOLVEX_LIBRARY to its file") from None
        return ctypes.CDLL(found)


class Completions:
    """Process numbers whose outcome the library has published, with a condition to wait on.

    The handler runs on the library's I/O thread: it only records the number and wakes
    the waiters.
    """

    def __init__(self) -> None:
        self._condition = threading.Condition()
        self._published: set[int] = set()

    def published(self, prc_no: int, ctx) -> None:
        with self._condition:
            self._published.add(prc_no)
            self._condition.notify_all()

    def reset(self) -> None:
        with self._condition:
            self._published.clear()

    def wait(self, prc_no: int, timeout: Optional[float]) -> bool:
        with self._condition:
            return self._condition.wait_for(lambda: prc_no in self._published, timeout)


_lock = threading.Lock()
_lib: Optional[ctypes.CDLL] = None
completions = Completions()
_handler = COMPLETION(completions.published)  # kept alive as long as the module


def lib() -> ctypes.CDLL:
    """The loaded library, its functions declared, the completion handler set."""
    global _lib
    with _lock:
        if _lib is None:
            _lib = _declare(_load())
            _lib.tolvex_set_completion_handler(_handler, None)
        return _lib


def release() -> None:
    """Removes the completion handler (before the interpreter goes away)."""
    with _lock:
        if _lib is not None:
            _lib.tolvex_set_completion_handler(COMPLETION(), None)


def _declare(dll: ctypes.CDLL) -> ctypes.CDLL:
    c = ctypes
    table = {
        "EnablePort": (c.c_int, [c.c_char_p, c.c_uint8, c.c_uint8, c.c_uint8, c.c_uint32, c.c_uint8]),
        "DisablePort": (c.c_int, []),
        "chk_res": (c.c_int, [c.c_char_p, c.POINTER(c.c_int), c.POINTER(c.c_uint8), c.POINTER(c.c_int)]),
        "exe_stop": (c.c_int, []),
        "tolvex_set_completion_handler": (None, [COMPLETION, c.c_void_p]),
        "tolvex_port_error": (c.c_char_p, []),
        "tolvex_result_text": (c.c_char_p, [c.c_int]),
    }
    for name, (_, _, argtypes) in PROTOTYPES.items():
        table[name] = (c.c_int, argtypes)
    for name, (restype, argtypes) in table.items():
        function = getattr(dll, name)
        function.restype = restype
        function.argtypes = argtypes
    return dll
