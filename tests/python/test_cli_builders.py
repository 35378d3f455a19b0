"""`vellum splits`, `terms` and `vectors` end to end, each once the module
has its class; until then, each must refuse with a one-line message that
names the missing class."""

import json

import numpy as np
import pytest

import vellum
from dataset_reader import read_text_index
from vellum_cli import failed, ok, run, summary_value

TEXTS = ["Red apple pie", "Blue sky over the sea", "Apple trees in spring", "Green grass"]


@pytest.fixture
def corpus(tmp_path):
    src = tmp_path / "docs.jsonl"
    src.write_text("".join(json.dumps({"text": t, "id": 10 + i, "lang": ["en"]}) + "\n"
                           for i, t in enumerate(TEXTS)))
    return src


def missing(name):
    return pytest.mark.skipif(hasattr(vellum, name), reason=f"vellum.{name} is built")


def present(name):
    return pytest.mark.skipif(not hasattr(vellum, name),
                              reason=f"vellum.{name} is not built yet")


@pytest.mark.parametrize("command, extra, cls", [
    ("splits", [], "SplitSetBuilder"),
    ("splits", ["--terms"], "TermSplitSetBuilder"),
    ("terms", [], "TermBuilder"),
    ("ingest", [], "SplitSetWriter"),
])
def test_commands_name_a_missing_class(tmp_path, corpus, command, extra, cls):
    if hasattr(vellum, cls):
        pytest.skip(f"vellum.{cls} is built")
    out = tmp_path / "out"
    args = [out, corpus] if command == "ingest" else [corpus, "-o", out]
    assert f"has no {cls}" in failed(run(command, *args, *extra))
    assert not out.exists()


@missing("VectorBuilder")
def test_vectors_names_the_missing_class(tmp_path):
    np.save(tmp_path / "v.npy", np.ones((4, 8), np.float32))
    assert "has no VectorBuilder" in failed(
        run("vectors", tmp_path / "v.npy", "-o", tmp_path / "v.vlvi", "--nlist", "2", "--m", "2"))


def test_splits_options_for_the_other_kind_are_refused(tmp_path, corpus):
    message = failed(run("splits", corpus, "-o", tmp_path / "o", "--terms", "--gram-size", "4"))
    assert "--gram-size apply to n-gram splits only" in message
    message = failed(run("splits", corpus, "-o", tmp_path / "o", "--language", "english"))
    assert "apply to term splits only" in message


def test_size_options_take_units(tmp_path, corpus):
    result = run("splits", corpus, "-o", tmp_path / "o", "--byte-cap", "lots")
    assert result.returncode == 2 and "invalid size 'lots'" in result.stderr


def test_vectors_input_checks(tmp_path):
    np.save(tmp_path / "v.npy", np.ones((4, 8), np.int32))
    message = failed(run("vectors", tmp_path / "v.npy", "-o", tmp_path / "v.vlvi",
                         "--nlist", "2", "--m", "2"))
    if hasattr(vellum, "VectorBuilder"):
        assert "expected a 2-D float32 or float64 array, got 2-D int32" in message
    assert "training needs --nlist and --m" in failed(
        run("vectors", tmp_path / "v.npy", "-o", tmp_path / "v.vlvi"))


@present("SplitSetBuilder")
def test_splits_writes_a_split_set(tmp_path, corpus):
    out = tmp_path / "set"
    result = ok(run("splits", corpus, "-o", out, "--byte-cap", "1KiB", "--facet", "lang",
                    "--name-prefix", "corpus"))
    assert (out / "index.vlss").read_bytes()[:4] == b"VLSS"
    bodies = sorted(out.glob("corpus-s*.vls"))
    assert bodies and summary_value(result.stdout, "splits") == str(len(bodies))
    keys = set()
    for body in bodies:
        keys.update(read_text_index(body.read_bytes()).postings)
    assert keys == {k for t in TEXTS for k in vellum.tokenize(t)}
    assert summary_value(result.stdout, "documents") == str(len(TEXTS))


@present("TermSplitSetBuilder")
def test_term_splits(tmp_path, corpus):
    out = tmp_path / "set"
    ok(run("splits", corpus, "-o", out, "--terms", "--language", "english"))
    assert (out / "index.vlss").read_bytes()[:4] == b"VLSS"
    assert all(p.read_bytes()[:4] == b"VLTI" for p in out.glob("split-s*.vlt"))


@present("TermBuilder")
def test_terms_with_ids_from_a_field(tmp_path, corpus):
    out = tmp_path / "t" / "docs.vlt"
    result = ok(run("terms", corpus, "-o", out, "--id", "id"))
    assert out.read_bytes()[:4] == b"VLTI"
    assert summary_value(result.stdout, "documents") == str(len(TEXTS))
    assert "field 'id' is -1" in failed(run(
        "terms", "-", "-o", out, "--id", "id", stdin='{"text": "x", "id": -1}\n'))


@present("VectorBuilder")
def test_vectors_from_npy(tmp_path):
    rng = np.random.default_rng(7)
    np.save(tmp_path / "v.npy", rng.standard_normal((300, 16)))
    np.save(tmp_path / "ids.npy", np.arange(300, dtype=np.int64) * 2)
    out = tmp_path / "v.vlvi"
    result = ok(run("vectors", tmp_path / "v.npy", "--ids", tmp_path / "ids.npy", "-o", out,
                    "--nlist", "8", "--m", "4", "--seed", "1"))
    assert out.read_bytes()[:4] == b"VLVI"
    assert summary_value(result.stdout, "vectors") == "300"
    assert summary_value(result.stdout, "nlist") == "8"


@present("write_vlvi_from_faiss")
@pytest.mark.parametrize("factory, nbits", [("IVF8,PQ4", 8), ("OPQ4,IVF8,PQ4x4", 4)])
def test_vectors_from_faiss(tmp_path, factory, nbits):
    faiss = pytest.importorskip("faiss")
    rng = np.random.default_rng(3)
    x = rng.standard_normal((2000, 16)).astype(np.float32)
    index = faiss.index_factory(16, factory, faiss.METRIC_INNER_PRODUCT)
    index.train(x)
    index.add_with_ids(x, np.arange(2000, dtype=np.int64) + 100)
    faiss.write_index(index, str(tmp_path / "trained.faiss"))
    out = tmp_path / "v.vlvi"
    result = ok(run("vectors", "--from-faiss", tmp_path / "trained.faiss", "-o", out))
    assert out.read_bytes()[:4] == b"VLVI"
    assert summary_value(result.stdout, "vectors") == "2000"
    assert summary_value(result.stdout, "nbits") == str(nbits)
