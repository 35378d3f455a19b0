"""The sdist hook of the in-tree build backend: what the archive carries."""

import importlib.util
import tarfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]


def load_backend():
    path = REPO / "packaging" / "backend.py"
    spec = importlib.util.spec_from_file_location("vellum_backend", path)
    backend = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(backend)
    return backend


def test_sdist_carries_the_sources_and_nothing_generated(tmp_path):
    backend = load_backend()
    assert backend.get_requires_for_build_sdist() == []
    name = backend.build_sdist(str(tmp_path))
    assert name == "vellum-0.1.0.tar.gz"
    with tarfile.open(tmp_path / name) as tar:
        members = {m.name: m for m in tar.getmembers()}
        pkg_info = tar.extractfile("vellum-0.1.0/PKG-INFO").read().decode()
        builder_cc = tar.extractfile("vellum-0.1.0/src/build/builder.cc").read()

    assert all(n.startswith("vellum-0.1.0/") for n in members)
    names = {n[len("vellum-0.1.0/"):] for n in members}
    for required in ["PKG-INFO", "CMakeLists.txt", "pyproject.toml", "README.md",
                     "packaging/backend.py", "src/build/builder.cc", "src/common/status.h",
                     "tests/python/conftest.py", "fuzz/index_writers_fuzz.cc",
                     "scripts/deps.sh", "tools/gen_unicode_tables.py",
                     "bench/builder_bench.py"]:
        assert required in names, required
    assert not any("__pycache__" in n or n.endswith(".pyc") for n in names)
    assert not any(n.startswith(("build", ".bench/", ".git")) for n in names)
    # Every test and source file of the checkout is in it.
    for path in (REPO / "src").rglob("*.cc"):
        assert str(path.relative_to(REPO)) in names

    assert builder_cc == (REPO / "src" / "build" / "builder.cc").read_bytes()
    assert "Name: vellum\n" in pkg_info and "Version: 0.1.0\n" in pkg_info
    assert members["vellum-0.1.0/scripts/deps.sh"].mode == 0o755
    assert members["vellum-0.1.0/README.md"].mode == 0o644
    assert all(m.uid == 0 and m.uname == "" and m.isfile() for m in members.values())


def test_sdist_bytes_depend_only_on_the_tree(tmp_path):
    backend = load_backend()
    (tmp_path / "a").mkdir()
    (tmp_path / "b").mkdir()
    name = backend.build_sdist(str(tmp_path / "a"))
    backend.build_sdist(str(tmp_path / "b"))
    assert (tmp_path / "a" / name).read_bytes() == (tmp_path / "b" / name).read_bytes()
