"""Byte sizes written the way people write them: 4096, 32MiB, 1.5GB, 64k."""

import argparse
import re

_UNITS = {
    "": 1, "b": 1,
    "k": 1024, "kb": 1000, "kib": 1024,
    "m": 1024**2, "mb": 1000**2, "mib": 1024**2,
    "g": 1024**3, "gb": 1000**3, "gib": 1024**3,
    "t": 1024**4, "tb": 1000**4, "tib": 1024**4,
}
_SIZE = re.compile(r"\s*(\d+(?:\.\d*)?|\.\d+)\s*([a-zA-Z]*)\s*")


def parse_size(text: str) -> int:
    """Bytes for `text`; single-letter units are binary (k = 1024)."""
    m = _SIZE.fullmatch(text)
    unit = m.group(2).lower() if m else None
    if m is None or unit not in _UNITS:
        raise argparse.ArgumentTypeError(
            f"invalid size {text!r}: use a number with an optional unit, like 4096, 64k or 32MiB")
    value = float(m.group(1)) * _UNITS[unit]
    if value != int(value):
        raise argparse.ArgumentTypeError(f"invalid size {text!r}: not a whole number of bytes")
    return int(value)


def format_size(n: int) -> str:
    for unit, scale in (("GiB", 1024**3), ("MiB", 1024**2), ("KiB", 1024)):
        if n >= scale:
            return f"{n / scale:.1f} {unit}"
    return f"{n} B"
