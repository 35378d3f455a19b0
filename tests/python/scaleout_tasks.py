"""Shard tasks with injected failures, importable by Dask workers."""

from __future__ import annotations

import os

from vellum_tools.scaleout import build_shard


class FailOnce:
    """Fails shard `shard` on its first attempt (recorded in `marker`)."""

    def __init__(self, marker: str, shard: int):
        self.marker = marker
        self.shard = shard

    def __call__(self, job, index, shard, output):
        if index == self.shard:
            try:
                fd = os.open(self.marker, os.O_CREAT | os.O_EXCL | os.O_WRONLY)
            except FileExistsError:
                pass
            else:
                os.close(fd)
                raise RuntimeError("injected shard failure")
        return build_shard(job, index, shard, output)


class AlwaysFail:
    def __init__(self, shard: int):
        self.shard = shard

    def __call__(self, job, index, shard, output):
        if index == self.shard:
            raise RuntimeError("injected shard failure")
        return build_shard(job, index, shard, output)
