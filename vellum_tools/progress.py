"""Progress over input bytes: a bar on a terminal, nothing when standard
error is piped or --quiet is given (the summary still says what happened)."""

from __future__ import annotations

import sys
import time


class Progress:
    def __init__(self, total: int | None, unit: str = "B", enabled: bool = True,
                 description: str = ""):
        self.started = time.perf_counter()
        self._bar = None
        if enabled and sys.stderr.isatty():
            try:
                from tqdm import tqdm
            except ImportError:  # the bar is a convenience: run without it
                return
            scale = unit == "B"
            self._bar = tqdm(total=total, unit=unit, unit_scale=scale, unit_divisor=1024,
                             desc=description, file=sys.stderr, dynamic_ncols=True,
                             leave=False)

    def update(self, done: int) -> None:
        if self._bar is not None:
            self._bar.update(done - self._bar.n)

    def note(self, text: str) -> None:
        if self._bar is not None:
            self._bar.set_postfix_str(text)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None

    def elapsed(self) -> float:
        return time.perf_counter() - self.started

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
