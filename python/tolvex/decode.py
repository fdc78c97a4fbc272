"""Python values of the documented reply layouts."""
from __future__ import annotations

import datetime
import enum


class Stacker(enum.IntEnum):
    """A stacker's state in the "C13" reply."""

    GOOD = 1
    WARNING = 2
    EMPTY = 3
    FULL = 4
    NO_CARTRIDGE = 5


class Sensors(enum.IntFlag):
    """The card sensors of the "C16" reply that see the card; none: no card inside."""

    SENSOR_1 = 0x01
    SENSOR_2 = 0x02
    SENSOR_3 = 0x04
    SENSOR_4 = 0x08
    SENSOR_5 = 0x10
    SENSOR_6 = 0x20
    SENSOR_7 = 0x40
    SENSOR_8 = 0x80


def text(data: bytes, start: int = 0) -> str:
    """Text from byte start to the first zero byte (model, version)."""
    return data[start:].split(b"\0", 1)[0].decode("latin-1")


def stackers(data: bytes) -> tuple[Stacker, Stacker]:
    """Stackers 1 and 2 from bytes 0 and 1; ValueError on a value outside 1-5."""
    if len(data) < 2:
        raise ValueError(f"stacker states take 2 bytes, got {len(data)}")
    return Stacker(data[0]), Stacker(data[1])


def card_position(data: bytes) -> Sensors:
    """The sensors of byte 0, one bit each (bit 0 = sensor 1)."""
    if not data:
        raise ValueError("the card position takes 1 byte, got none")
    return Sensors(data[0])


def _bcd(byte: int) -> int:
    high, low = byte >> 4, byte & 0x0F
    if high > 9 or low > 9:
        raise ValueError(f"0x{byte:02X} is not a BCD number")
    return high * 10 + low


def clock(data: bytes) -> datetime.datetime:
    """The 7 BCD bytes century, year, month, day, hour, minute, second."""
    if len(data) < 7:
        raise ValueError(f"the clock takes 7 bytes, got {len(data)}")
    century, year, month, day, hour, minute, second = (_bcd(b) for b in data[:7])
    return datetime.datetime(century * 100 + year, month, day, hour, minute, second)


def clock_bytes(when: datetime.datetime) -> bytes:
    """The 7 BCD bytes of when, as set_rtc mode 1 sends them."""
    fields = (when.year // 100, when.year % 100, when.month, when.day, when.hour, when.minute, when.second)
    return bytes((v // 10) << 4 | v % 10 for v in fields)
