"""The type stubs describe the built module exactly (mypy's stubtest)."""

import os
import subprocess

import pytest

import vellum
from conftest import MODULE_DIR, REPO

API = ["Builder", "BuildStats", "VectorBuilder", "VectorBuildStats", "tokenize",
       "write_vlvi_from_faiss", "write_term_index", "TermBuilder", "SplitSetBuilder",
       "TermSplitSetBuilder", "SplitSetBuildStats", "SplitSetWriter"]


def test_stubs_name_the_whole_api_in_order():
    text = (REPO / "stubs" / "vellum.pyi").read_text()
    listed = text.split("__all__ = [")[1].split("]")[0]
    assert [n.strip().strip('"') for n in listed.split(",") if n.strip()] == API


def test_stubtest_against_the_built_module(tmp_path):
    pytest.importorskip("mypy.stubtest", reason="needs mypy: apt-get install python3-mypy")
    absent = [n for n in API if not hasattr(vellum, n)]
    if absent:
        pytest.skip(f"stubtest needs every class; not built yet: {', '.join(absent)}")
    env = dict(os.environ, PYTHONPATH=str(MODULE_DIR), MYPYPATH=str(REPO / "stubs"))
    result = subprocess.run(["/usr/bin/python3", "-m", "mypy.stubtest", "vellum"],
                            capture_output=True, text=True, env=env, cwd=tmp_path, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr


def test_stubs_agree_with_the_classes_built_so_far(tmp_path):
    """Until every class exists, stubtest may only report the absent ones."""
    pytest.importorskip("mypy.stubtest", reason="needs mypy: apt-get install python3-mypy")
    env = dict(os.environ, PYTHONPATH=str(MODULE_DIR), MYPYPATH=str(REPO / "stubs"))
    result = subprocess.run(["/usr/bin/python3", "-m", "mypy.stubtest", "--concise", "vellum"],
                            capture_output=True, text=True, env=env, cwd=tmp_path, timeout=300)
    absent = {n for n in API if not hasattr(vellum, n)}
    for line in result.stdout.splitlines():
        if not line.startswith("vellum"):
            continue
        name = line.split()[0]
        if name == "vellum.__all__" and absent:
            continue
        assert name.split(".")[1] in absent and "not present at runtime" in line, line


def test_tools_type_check_against_the_stubs(tmp_path):
    """The tools are checked with the stubs, so the stubs serve a real caller."""
    pytest.importorskip("mypy", reason="needs mypy: apt-get install python3-mypy")
    env = dict(os.environ, MYPYPATH=str(REPO / "stubs"))
    result = subprocess.run(["/usr/bin/python3", "-m", "mypy", "--ignore-missing-imports",
                             "--cache-dir", str(tmp_path / "cache"), str(REPO / "vellum_tools")],
                            capture_output=True, text=True, env=env, cwd=tmp_path, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
