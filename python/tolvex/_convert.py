"""Checks and converts Python arguments into what the library's C parameters take."""
from __future__ import annotations

import ctypes

DATA_MAX = 1000  # longest data block a command can carry


def _number(value: int, name: str, low: int, high: int) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if not low <= value <= high:
        raise ValueError(f"{name} must be in {low}..{high}, not {value}")
    return value


def _u8(value: int, name: str) -> int:
    return _number(value, name, 0, 0xFF)


def _u32(value: int, name: str) -> int:
    return _number(value, name, 0, 0xFFFFFFFF)


def _i32(value: int, name: str) -> int:
    return _number(value, name, -(2**31), 2**31 - 1)


def _named(value, names: dict[str, int], name: str):
    """A value given by the bench's name for it (any case), else the value as given."""
    if isinstance(value, str):
        for known, number in names.items():
            if known.lower() == value.lower():
                return number
        listed = ", ".join(f"{n}={v}" for n, v in names.items())
        raise ValueError(f"{name} {value!r} is none of the names {listed}")
    return value


def _text(value: str, name: str) -> bytes:
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, not {type(value).__name__}")
    return value.encode()


def _as_bytes(value, name: str) -> bytes:
    if not isinstance(value, (bytes, bytearray, memoryview)):
        raise TypeError(f"{name} must be bytes, not {type(value).__name__}")
    return bytes(value)


def _fixed(value, size: int, name: str) -> ctypes.Array:
    """A block of exactly size bytes; shorter input is zero-filled, as the CLI does."""
    data = _as_bytes(value, name)
    if len(data) > size:
        raise ValueError(f"{name} takes at most {size} bytes, not {len(data)}")
    return ctypes.create_string_buffer(data, size)


def _counted(value, name: str) -> tuple[bytes, int]:
    """Bytes passed with their count."""
    data = _as_bytes(value, name)
    if len(data) > DATA_MAX:
        raise ValueError(f"{name} takes at most {DATA_MAX} bytes, not {len(data)}")
    return data, len(data)
