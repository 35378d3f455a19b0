"""Walking every row of every input once, with the bad-row policy and the
progress bar, and handing batches of good rows to a builder.

Without --skip-bad the first bad row ends the run with its file and line
number; the row commands only write once all input is read, so nothing has
been written at that point. With --skip-bad every bad row is reported on
standard error (the first few in full) and counted.
"""

from __future__ import annotations

import sys

from vellum_tools.errors import ToolError
from vellum_tools.inputs import BadRow, Reader, Source, total_size
from vellum_tools.progress import Progress

_SHOWN = 20
_PROGRESS_EVERY = 4096
BATCH_ERRORS = (TypeError, ValueError, OverflowError)


class BadRows:
    def __init__(self, skip: bool, written_hint: str = "nothing was written"):
        self.skip = skip
        self.count = 0
        self._hint = written_hint

    def handle(self, where: str, lineno: int, error: Exception) -> None:
        if not self.skip:
            raise ToolError(f"{where}:{lineno}: {error}; {self._hint} "
                            "(--skip-bad skips such rows)")
        self.count += 1
        if self.count <= _SHOWN:
            print(f"vellum: skipping {where}:{lineno}: {error}", file=sys.stderr)
        elif self.count == _SHOWN + 1:
            print("vellum: more bad rows are skipped and only counted", file=sys.stderr)


class RowWalk:
    """Iterates (source, line number, extracted value) over all inputs."""

    def __init__(self, sources: list[Source], extract, bad: BadRows, quiet: bool,
                 skip_rows: int = 0):
        self.sources = sources
        self.extract = extract
        self.bad = bad
        self.bytes_read = 0
        self.rows_seen = 0  # good and bad rows, for resuming by position
        self._skip_rows = skip_rows
        self.progress = Progress(total_size(sources), enabled=not quiet)

    def __iter__(self):
        extract, bad, progress = self.extract, self.bad, self.progress
        done = 0
        for source in self.sources:
            with Reader(source) as reader:
                n = 0
                for lineno, obj, raw in reader.rows():
                    self.rows_seen += 1
                    if self.rows_seen <= self._skip_rows:
                        continue
                    n += 1
                    if n % _PROGRESS_EVERY == 0:
                        progress.update(done + reader.position())
                    if obj.__class__ is BadRow:
                        bad.handle(source.name, lineno, obj)
                        continue
                    try:
                        value = extract(obj, raw)
                    except BadRow as e:
                        bad.handle(source.name, lineno, e)
                        continue
                    yield source, lineno, value
                done += reader.position()
                self.bytes_read = done
                progress.update(done)
        progress.close()


class Batcher:
    """Collects values and their locations and hands full batches to
    `stage`. A batch the module refuses is checked row by row with
    `validate`, so the culprit is reported (or dropped with --skip-bad)
    by file and line; the module stages nothing of a refused batch."""

    def __init__(self, stage, validate, bad: BadRows, size: int):
        self._stage, self._validate, self._bad = stage, validate, bad
        self.size = size
        self.values: list = []
        self.where: list = []
        self.staged = 0

    def add(self, source: Source, lineno: int, value) -> None:
        self.values.append(value)
        self.where.append((source.name, lineno))
        if len(self.values) >= self.size:
            self.flush()

    def flush(self) -> None:
        if not self.values:
            return
        try:
            self._stage(self.values)
        except BATCH_ERRORS as first:
            good = []
            for value, (name, lineno) in zip(self.values, self.where):
                try:
                    self._validate(value)
                except BadRow as e:
                    self._bad.handle(name, lineno, e)
                    continue
                good.append(value)
            if len(good) == len(self.values):
                raise first
            self._stage(good)
            self.values = good
        self.staged += len(self.values)
        self.values, self.where = [], []
