"""Reading rows from JSONL and CSV/TSV inputs, plain or compressed (.gz,
.zst), from local files, standard input or storage URLs.

A reader yields (line number, fields, raw bytes) per row, where raw is the
row's own input text without its line ending; a row that cannot be parsed
yields a BadRow instead of fields, so the caller decides whether to stop or
skip. Progress is measured in bytes of the stored (compressed) input.
"""

from __future__ import annotations

import csv
import io
import json
import os
import sys
import zlib
from dataclasses import dataclass

from vellum_tools import storage
from vellum_tools.errors import ToolError, require

FORMATS = ("jsonl", "csv", "tsv")
_EXTENSIONS = {".jsonl": "jsonl", ".ndjson": "jsonl", ".json": "jsonl",
               ".csv": "csv", ".tsv": "tsv"}
_CHUNK = 1 << 20


class BadRow(Exception):
    """A row that does not fit: the message says what is wrong with it."""


class _CountingRaw(io.RawIOBase):
    """Counts the bytes read from the stored input."""

    def __init__(self, f):
        self._f = f
        self.count = 0

    def readable(self):
        return True

    def readinto(self, b):
        n = self._f.readinto(b)
        self.count += n or 0
        return n

    def close(self):
        self._f.close()
        super().close()


@dataclass
class Source:
    name: str
    format: str
    compression: str | None
    size: int | None  # stored bytes, None when unknown (standard input)

    def open_raw(self):
        if self.name == "-":
            return sys.stdin.buffer
        if storage.is_url(self.name):
            fs, path = storage.filesystem(self.name)
            return fs.open(path, "rb")
        return open(storage.local_path(self.name), "rb", buffering=0)


def _split_compression(name: str) -> tuple[str, str | None]:
    lower = name.lower()
    for ext, kind in ((".gz", "gzip"), (".zst", "zstd"), (".zstd", "zstd")):
        if lower.endswith(ext):
            return name[: -len(ext)], kind
    return name, None


def _stat_size(name: str) -> int:
    if storage.is_url(name):
        fs, path = storage.filesystem(name)
        return fs.size(path)
    return os.path.getsize(storage.local_path(name))


def resolve(names: list[str], fmt: str | None) -> list[Source]:
    """Sources for the given inputs; fails before anything is read when an
    input is missing or its format cannot be told."""
    sources = []
    for name in names:
        stem, compression = _split_compression(name)
        kind = fmt or _EXTENSIONS.get(os.path.splitext(stem)[1].lower())
        if name == "-":
            kind = fmt or "jsonl"
        if kind is None:
            raise ToolError(f"cannot tell the format of {name}: name it .jsonl, .csv or .tsv "
                            "(optionally .gz or .zst) or pass --format")
        if compression == "zstd":
            require("zstandard", "python3-zstandard")
        size = None
        if name != "-":
            try:
                size = _stat_size(name)
            except FileNotFoundError:
                raise ToolError(f"{name}: no such file") from None
        sources.append(Source(name, kind, compression, size))
    return sources


class Reader:
    """Opens one source; iterate `rows()`; `position()` is stored bytes read."""

    def __init__(self, source: Source):
        self.source = source
        self._raw = _CountingRaw(source.open_raw())
        self._stream = self._decompressed(self._raw)

    def _decompressed(self, raw):
        kind = self.source.compression
        if kind == "gzip":
            import gzip
            return io.BufferedReader(gzip.GzipFile(fileobj=raw), _CHUNK)
        if kind == "zstd":
            zstandard = require("zstandard", "python3-zstandard")
            reader = zstandard.ZstdDecompressor().stream_reader(raw, read_size=_CHUNK)
            return io.BufferedReader(reader, _CHUNK)
        return io.BufferedReader(raw, _CHUNK)

    def position(self) -> int:
        return self._raw.count

    def close(self):
        self._stream.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def rows(self):
        try:
            if self.source.format == "jsonl":
                yield from self._jsonl_rows()
            else:
                yield from self._csv_rows("\t" if self.source.format == "tsv" else ",")
        except (OSError, EOFError, zlib.error) as e:  # damaged gzip input too
            raise ToolError(f"{self.source.name}: cannot read: {e}") from None
        except Exception as e:  # the zstd decompressor's own error type
            if type(e).__name__ == "ZstdError":
                raise ToolError(f"{self.source.name}: cannot read: {e}") from None
            raise

    def _jsonl_rows(self):
        # The decoder's own entry point on str: json.loads would sniff the
        # encoding of every line.
        raw_decode = json.JSONDecoder().raw_decode
        lineno = 0
        for line in self._stream:
            lineno += 1
            raw = line.rstrip(b"\r\n")
            try:
                obj = _decode_json(raw_decode, raw.decode("utf-8"))
            except UnicodeDecodeError as e:
                yield lineno, BadRow(f"not UTF-8 text ({e.reason} at byte {e.start})"), raw
                continue
            except ValueError as e:
                if raw.strip():
                    yield lineno, BadRow(f"invalid JSON ({_json_reason(e)})"), raw
                continue
            if type(obj) is not dict:
                yield lineno, BadRow(f"expected a JSON object, got {_json_type(obj)}"), raw
                continue
            yield lineno, obj, raw

    def _csv_rows(self, delimiter: str):
        text = io.TextIOWrapper(self._stream, encoding="utf-8-sig", errors="strict", newline="")
        consumed: list[str] = []
        counter = [0]

        def lines():
            for line in text:
                counter[0] += 1
                consumed.append(line)
                yield line

        reader = csv.reader(lines(), delimiter=delimiter, strict=True)
        try:
            header = next(reader)
        except StopIteration:
            return
        except csv.Error as e:
            raise ToolError(f"{self.source.name}:1: unreadable CSV header ({e})") from None
        consumed.clear()
        while True:
            first = counter[0] + 1
            try:
                row = next(reader)
            except StopIteration:
                return
            except csv.Error as e:
                raw = "".join(consumed).rstrip("\r\n").encode()
                consumed.clear()
                yield first, BadRow(f"invalid CSV ({e})"), raw
                continue
            except UnicodeDecodeError as e:
                raise ToolError(f"{self.source.name}:{first}: not UTF-8 text ({e.reason})") from None
            raw = "".join(consumed).rstrip("\r\n").encode()
            consumed.clear()
            if not row:
                continue
            if len(row) != len(header):
                yield first, BadRow(f"{len(row)} columns, the header has {len(header)}"), raw
                continue
            yield first, dict(zip(header, row)), raw


def _decode_json(raw_decode, text: str):
    """One whole JSON value; blanks may surround it."""
    try:
        obj, end = raw_decode(text)
    except ValueError:
        if not text[:1].isspace():
            raise
        text = text.lstrip()
        obj, end = raw_decode(text)
    if end != len(text) and text[end:].strip():
        raise json.JSONDecodeError("Extra data", text, end)
    return obj


def _json_reason(e: ValueError) -> str:
    return getattr(e, "msg", None) or str(e)


def _json_type(value) -> str:
    if value is None:
        return "null"
    return {bool: "a boolean", int: "a number", float: "a number", str: "a string",
            list: "an array"}.get(type(value), type(value).__name__)


def total_size(sources: list[Source]) -> int | None:
    if any(s.size is None for s in sources):
        return None
    return sum(s.size or 0 for s in sources)
