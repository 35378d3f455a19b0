"""Runs the `vellum` command the way a user does: a separate process of
Debian's interpreter, `python3 -m vellum_tools`, with the freshly built
module and the repository's vellum_tools on its path."""

from __future__ import annotations

import os
import subprocess
from pathlib import Path

from conftest import MODULE_DIR, REPO

PYTHON = "/usr/bin/python3"
HERE = Path(__file__).resolve().parent


def env(extra_path: list[str] = ()) -> dict:
    path = os.pathsep.join([*map(str, extra_path), str(MODULE_DIR), str(REPO)])
    return dict(os.environ, PYTHONPATH=path)


def run(*args, extra_path=(), stdin=None, timeout=120) -> subprocess.CompletedProcess:
    return subprocess.run([PYTHON, "-m", "vellum_tools", *map(str, args)],
                          input=stdin, capture_output=True, text=True, env=env(extra_path),
                          timeout=timeout)


def run_crashing(step: str, nth: int, writer: str, *args) -> subprocess.CompletedProcess:
    return subprocess.run([PYTHON, str(HERE / "crash_runner.py"), step, str(nth), writer, "--",
                           *map(str, args)], capture_output=True, text=True, env=env(),
                          timeout=120)


def ok(result: subprocess.CompletedProcess) -> subprocess.CompletedProcess:
    assert result.returncode == 0, result.stderr
    assert "Traceback" not in result.stderr, result.stderr
    return result


def failed(result: subprocess.CompletedProcess) -> str:
    """The one-line error of a failed run."""
    assert result.returncode == 1, (result.returncode, result.stdout, result.stderr)
    assert "Traceback" not in result.stderr, result.stderr
    lines = result.stderr.strip().splitlines()
    assert len(lines) == 1, result.stderr
    return lines[0]


def summary_value(stdout: str, key: str) -> str:
    for line in stdout.splitlines():
        if line.strip().startswith(key + "  "):
            return line.strip()[len(key):].strip()
    raise AssertionError(f"no {key!r} in summary:\n{stdout}")
