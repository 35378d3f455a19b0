"""Options shared by several commands."""

from __future__ import annotations

import argparse

from vellum_tools.inputs import FORMATS
from vellum_tools.sizes import parse_size

U16_MAX = (1 << 16) - 1
U32_MAX = (1 << 32) - 1
U64_MAX = (1 << 64) - 1


def ranged(low: int, high: int):
    def convert(text: str) -> int:
        try:
            value = int(text, 0)
        except ValueError:
            raise argparse.ArgumentTypeError(f"invalid integer {text!r}") from None
        if not low <= value <= high:
            raise argparse.ArgumentTypeError(f"{value} is outside {low}..{high}")
        return value
    return convert


def size(high: int = U64_MAX):
    def convert(text: str) -> int:
        value = parse_size(text)
        if value > high:
            raise argparse.ArgumentTypeError(f"{text} is more than {high} bytes")
        return value
    return convert


def sortcol(text: str) -> tuple[str, int, bool]:
    """NAME[,NUM[,FLAG]] for the (str, u16, bool) sort-column triple."""
    parts = text.split(",")
    if not 1 <= len(parts) <= 3 or not parts[0]:
        raise argparse.ArgumentTypeError(f"invalid sort column {text!r}: use NAME[,NUM[,FLAG]]")
    num = ranged(0, U16_MAX)(parts[1]) if len(parts) > 1 else 0
    flag = parts[2].strip().lower() if len(parts) > 2 else "0"
    if flag not in ("0", "1", "true", "false"):
        raise argparse.ArgumentTypeError(f"invalid sort-column flag {parts[2]!r}: use 0 or 1")
    return parts[0], num, flag in ("1", "true")


def add_input_options(p: argparse.ArgumentParser, text_default: str = "text") -> None:
    p.add_argument("inputs", nargs="+", metavar="INPUT",
                   help="JSONL, CSV or TSV files (.gz/.zst too), storage URLs, or - for stdin")
    p.add_argument("--format", choices=FORMATS,
                   help="input format when the file name does not tell it")
    p.add_argument("--text", default=text_default, metavar="FIELD",
                   help=f"field holding the document text (default: {text_default})")
    p.add_argument("--skip-bad", action="store_true",
                   help="skip rows that cannot be used (reported with file and line) "
                        "instead of stopping")
    p.add_argument("--batch", type=ranged(1, 10_000_000), default=10_000, metavar="N",
                   help="rows handed to the module per call (default: 10000)")


def add_facet_option(p: argparse.ArgumentParser) -> None:
    p.add_argument("--facet", action="append", default=[], metavar="FIELD",
                   help="facet field: a string or a list of strings per row (repeatable)")


def add_quiet(p: argparse.ArgumentParser) -> None:
    p.add_argument("-q", "--quiet", action="store_true",
                   help="no progress bar and no summary")
