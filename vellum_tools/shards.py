"""Cutting the input of a parallel build into shards, in corpus order.

Several inputs give one shard each. One large uncompressed JSONL file is
cut into byte ranges at line ends, so every row belongs to exactly one
range and the ranges in order read the file once. Compressed files, CSV
(whose rows may hold quoted line breaks) and standard input are one shard.
"""

from __future__ import annotations

import io
import os
from dataclasses import dataclass

from vellum_tools import inputs, storage
from vellum_tools.errors import ToolError

_SCAN = 1 << 16


@dataclass(frozen=True)
class Shard:
    path: str  # input file or URL, as a worker opens it
    format: str
    compression: str | None
    start: int = 0
    end: int | None = None  # exclusive; None reads to the end

    def label(self) -> str:
        if self.start == 0 and self.end is None:
            return self.path
        return f"{self.path}[{self.start}:{self.end}]"

    def source(self) -> inputs.Source:
        return _ShardSource(self.label(), self.format, self.compression, self._length(), self)

    def _length(self) -> int | None:
        return None if self.end is None else self.end - self.start


class _ShardSource(inputs.Source):
    """A Source named by its shard label, reading only the shard's bytes."""

    def __init__(self, name, fmt, compression, size, shard: Shard):
        super().__init__(name, fmt, compression, size)
        self._shard = shard

    def open_raw(self):
        s = self._shard
        if storage.is_url(s.path):
            fs, path = storage.filesystem(s.path)
            f = fs.open(path, "rb")
        else:
            f = open(storage.local_path(s.path), "rb", buffering=0)
        if s.start == 0 and s.end is None:
            return f
        return _RangeRaw(f, s.start, s.end)


class _RangeRaw(io.RawIOBase):
    def __init__(self, f, start: int, end: int):
        self._f = f
        f.seek(start)
        self._left = end - start

    def readable(self):
        return True

    def readinto(self, b):
        if self._left <= 0:
            return 0
        view = memoryview(b)[: min(len(b), self._left)]
        data = self._f.read(len(view))
        view[: len(data)] = data
        self._left -= len(data)
        return len(data)

    def close(self):
        self._f.close()
        super().close()


def _absolute(name: str) -> str:
    # Workers may run elsewhere: hand them paths that do not depend on a cwd.
    return name if storage.is_url(name) else os.path.abspath(storage.local_path(name))


def _line_end_after(f, pos: int, size: int) -> int:
    """The first offset >= pos that starts a line (or size)."""
    if pos <= 0:
        return 0
    f.seek(pos - 1)
    at = pos - 1
    while at < size:
        chunk = f.read(_SCAN)
        if not chunk:
            break
        nl = chunk.find(b"\n")
        if nl >= 0:
            return at + nl + 1
        at += len(chunk)
    return size


def _cut(source: inputs.Source, pieces: int) -> list[Shard]:
    path = _absolute(source.name)
    size = source.size or 0
    whole = Shard(path, source.format, source.compression)
    if pieces <= 1 or size == 0:
        return [whole]
    with _ShardSource(path, source.format, None, size, whole).open_raw() as f:
        cuts = [_line_end_after(f, size * i // pieces, size) for i in range(pieces)] + [size]
    return [Shard(path, source.format, None, a, b) for a, b in zip(cuts, cuts[1:]) if b > a]


def plan(names: list[str], fmt: str | None, pieces: int) -> list[Shard]:
    """Shards in corpus order: one per input, or `pieces` byte ranges of a
    single cuttable input."""
    sources = inputs.resolve(names, fmt)
    if any(s.name == "-" for s in sources):
        raise ToolError("standard input cannot be shared with workers: name files or URLs")
    if len(sources) == 1 and sources[0].format == "jsonl" and sources[0].compression is None:
        return _cut(sources[0], pieces)
    return [Shard(_absolute(s.name), s.format, s.compression) for s in sources]
