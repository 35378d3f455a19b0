"""A split-set store: the directory (or storage URL) that holds a split
set's manifest and split files, with the writes the ingest lifecycle needs.

A local store makes every write durable before it returns (data synced,
then the directory) and replaces files by writing a temporary name and
renaming it, so a reader sees either the old or the new file. Stores
reached through fsspec have no rename: a whole-object write is their
unit of replacement, and the lifecycle writes the manifest last.

One writer at a time: a local store is locked with flock(2), which the
kernel releases when the process dies; other stores use a lock object that
a crashed writer leaves behind, removed with --break-lock.
"""

from __future__ import annotations

import contextlib
import errno
import json
import os
import socket
import time

from vellum_tools import storage
from vellum_tools.errors import ToolError

LOCK_NAME = ".vellum-writer.lock"


class LocalStore:
    def __init__(self, path: str):
        self.path = path
        self.url = path

    def _p(self, name: str) -> str:
        return os.path.join(self.path, name)

    def read(self, name: str) -> bytes | None:
        try:
            with open(self._p(name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def exists(self, name: str) -> bool:
        return os.path.exists(self._p(name))

    def write(self, name: str, data: bytes) -> None:
        """Stores `data` under `name`, durably and atomically."""
        tmp = self._p(f".{name}.tmp-{os.getpid()}")
        fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        try:
            view = memoryview(data)
            while view:
                view = view[os.write(fd, view):]
            os.fsync(fd)
        finally:
            os.close(fd)
        os.replace(tmp, self._p(name))
        self._sync_dir()

    def remove(self, names: list[str]) -> None:
        for name in names:
            with contextlib.suppress(FileNotFoundError):
                os.unlink(self._p(name))
        if names:
            self._sync_dir()

    def _sync_dir(self) -> None:
        fd = os.open(self.path, os.O_RDONLY | os.O_DIRECTORY)
        try:
            os.fsync(fd)
        finally:
            os.close(fd)

    @contextlib.contextmanager
    def lock(self, break_lock: bool = False):
        import fcntl

        os.makedirs(self.path, exist_ok=True)
        fd = os.open(self._p(LOCK_NAME), os.O_RDWR | os.O_CREAT, 0o644)
        try:
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except OSError as e:
                if e.errno not in (errno.EWOULDBLOCK, errno.EAGAIN):
                    raise
                holder = os.pread(fd, 256, 0).decode("utf-8", "replace").strip()
                raise ToolError(f"{self.url} is in use by another vellum writer "
                                f"({holder or 'unknown process'}); try again once it "
                                "has finished") from None
            os.ftruncate(fd, 0)
            os.pwrite(fd, _holder().encode(), 0)
            yield
        finally:
            os.close(fd)  # closing releases the lock


class FsspecStore:
    def __init__(self, url: str):
        self.url = url
        self.fs, self.path = storage.filesystem(url)
        self.path = self.path.rstrip("/")

    def _p(self, name: str) -> str:
        return f"{self.path}/{name}"

    def read(self, name: str) -> bytes | None:
        try:
            return self.fs.cat_file(self._p(name))
        except FileNotFoundError:
            return None

    def exists(self, name: str) -> bool:
        return self.fs.exists(self._p(name))

    def write(self, name: str, data: bytes) -> None:
        self.fs.pipe_file(self._p(name), data)

    def remove(self, names: list[str]) -> None:
        for name in names:
            with contextlib.suppress(FileNotFoundError):
                self.fs.rm_file(self._p(name))

    @contextlib.contextmanager
    def lock(self, break_lock: bool = False):
        self.fs.makedirs(self.path, exist_ok=True)
        existing = self.read(LOCK_NAME)
        if existing is not None and not break_lock:
            raise ToolError(f"{self.url} is in use by another vellum writer "
                            f"({existing.decode('utf-8', 'replace').strip()}); if that writer "
                            "is gone, run again with --break-lock")
        token = _holder()
        self.write(LOCK_NAME, token.encode())
        try:
            yield
        finally:
            if self.read(LOCK_NAME) == token.encode():
                self.remove([LOCK_NAME])


def _holder() -> str:
    return f"pid {os.getpid()} on {socket.gethostname()} since {time.strftime('%Y-%m-%d %H:%M:%S')}"


def open_store(url: str, must_exist: bool = False):
    """The store at `url`; with must_exist, a missing local store is an
    error rather than a new directory."""
    if storage.is_url(url):
        return FsspecStore(url)
    path = storage.local_path(url)
    if os.path.exists(path) and not os.path.isdir(path):
        raise ToolError(f"{url}: not a directory")
    if must_exist and not os.path.isdir(path):
        raise ToolError(f"{url}: no such store")
    return LocalStore(path)


def dumps(obj) -> bytes:
    return (json.dumps(obj, indent=1, sort_keys=True) + "\n").encode()
