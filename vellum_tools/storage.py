"""Where inputs come from and outputs go: local paths, `file://` URLs and,
through fsspec, any other storage URL (memory://, s3://, ...) whose backend
is installed.
"""

from __future__ import annotations

import contextlib
import os
import shutil
import tempfile

from vellum_tools.errors import ToolError, require


def is_url(path: str) -> bool:
    return "://" in path and not path.startswith("file://")


def local_path(path: str) -> str:
    return path[len("file://"):] if path.startswith("file://") else path


def filesystem(url: str):
    """(fsspec filesystem, path inside it) for a storage URL."""
    fsspec = require("fsspec", "python3-fsspec")
    try:
        fs, _, paths = fsspec.get_fs_token_paths(url)
    except (ImportError, ValueError) as e:
        raise ToolError(f"cannot open {url}: {e}") from None
    return fs, paths[0]


@contextlib.contextmanager
def output_dir(target: str):
    """Yields a local directory to build into; for a URL, a temporary one
    whose files are uploaded once the build has succeeded."""
    if not is_url(target):
        yield local_path(target)
        return
    fs, path = filesystem(target)
    with tempfile.TemporaryDirectory(prefix="vellum-out-") as tmp:
        yield tmp
        fs.makedirs(path, exist_ok=True)
        for name in sorted(os.listdir(tmp)):
            fs.put_file(os.path.join(tmp, name), f"{path.rstrip('/')}/{name}")


@contextlib.contextmanager
def output_file(target: str):
    """As output_dir, for a single file."""
    if not is_url(target):
        yield local_path(target)
        return
    fs, path = filesystem(target)
    with tempfile.TemporaryDirectory(prefix="vellum-out-") as tmp:
        local = os.path.join(tmp, os.path.basename(path) or "output")
        yield local
        parent = path.rsplit("/", 1)[0] if "/" in path else ""
        if parent:
            fs.makedirs(parent, exist_ok=True)
        fs.put_file(local, path)


def file_sizes(directory: str) -> dict[str, int]:
    return {name: os.path.getsize(os.path.join(directory, name))
            for name in sorted(os.listdir(directory))
            if os.path.isfile(os.path.join(directory, name))}


def fetch_to_local(url: str, tmp: str) -> str:
    """A local copy of a remote file (for readers that need a real path)."""
    if not is_url(url):
        return local_path(url)
    fs, path = filesystem(url)
    local = os.path.join(tmp, os.path.basename(path) or "input")
    with fs.open(path, "rb") as src, open(local, "wb") as dst:
        shutil.copyfileobj(src, dst)
    return local
