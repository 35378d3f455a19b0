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
    from splitset_reader import read_split_set
    out = tmp_path / "set"
    result = ok(run("splits", corpus, "-o", out, "--byte-cap", "1KiB", "--facet", "lang",
                    "--name-prefix", "corpus", "--sortcol", "rank,2,1", "--policy", "stable_key"))
    ss = read_split_set(out)
    assert ss.manifest.sortcol == ("rank", 2, True) and ss.manifest.policy == 1
    assert ss.manifest.byte_cap == 1024 and ss.manifest.flags & 0x02
    assert all(s.record.name.startswith("corpus-s") for s in ss.splits)
    assert summary_value(result.stdout, "splits") == str(len(ss.splits))
    keys = set()
    for split in ss.splits:
        keys.update(split.body.postings)
    assert keys == {k for t in TEXTS for k in vellum.tokenize(t)}
    assert sum(s.record.doc_count for s in ss.splits) == len(TEXTS)
    assert summary_value(result.stdout, "documents") == str(len(TEXTS))
    # --rank feeds the highest rank first: it gets global id 0.
    ranked = tmp_path / "ranked.jsonl"
    ranked.write_text('{"text": "low", "r": 1}\n{"text": "high", "r": 9}\n{"text": "mid", "r": 5}\n')
    ok(run("splits", ranked, "-o", tmp_path / "rs", "--rank", "r"))
    body = read_split_set(tmp_path / "rs").splits[0].body
    first = {k: v for k, v in body.postings.items()}
    assert first[vellum.tokenize("high")[0]] == [0] and first[vellum.tokenize("low")[0]] == [2]
    message = failed(run("splits", corpus, "-o", tmp_path / "o", "--policy", "zigzag"))
    assert message.endswith("unknown policy zigzag; use 'tiered' or 'stable_key'")


@present("TermSplitSetBuilder")
def test_term_splits(tmp_path, corpus):
    from splitset_reader import read_manifest
    from term_reader import read_term_index
    out = tmp_path / "set"
    ok(run("splits", corpus, "-o", out, "--terms", "--byte-cap", "400"))
    manifest = read_manifest((out / "index.vlss").read_bytes())
    assert manifest.body_kind == 1 and len(manifest.splits) > 1
    terms = {}
    for rec in manifest.splits:
        for term, (head, tail) in read_term_index((out / rec.name).read_bytes()).terms.items():
            terms.setdefault(term, set()).update(rec.first_id + i for i in head + tail)
    assert terms[b"apple"] == {0, 2} and terms[b"sky"] == {1}
    ok(run("splits", corpus, "-o", tmp_path / "stemmed", "--terms", "--language", "english",
           "--stopwords"))
    first = read_manifest((tmp_path / "stemmed" / "index.vlss").read_bytes()).splits[0]
    stemmed = read_term_index((tmp_path / "stemmed" / first.name).read_bytes()).terms
    assert b"tree" in stemmed and b"trees" not in stemmed and b"the" not in stemmed


@present("TermBuilder")
def test_terms_with_ids_from_a_field(tmp_path, corpus):
    from term_reader import read_term_index
    out = tmp_path / "t" / "docs.vlt"
    result = ok(run("terms", corpus, "-o", out, "--id", "id", "--batch", "2"))
    terms = read_term_index(out.read_bytes()).terms
    head, tail = terms[b"apple"]
    assert head + tail == [10, 12] and terms[b"sky"] == ([11], [])
    assert summary_value(result.stdout, "documents") == str(len(TEXTS))
    assert summary_value(result.stdout, "terms") == str(len(terms))
    # Without --id the row number is the id.
    ok(run("terms", corpus, "-o", out))
    assert read_term_index(out.read_bytes()).terms[b"apple"] == ([0, 2], [])
    assert "field 'id' is -1" in failed(run(
        "terms", "-", "-o", out, "--id", "id", stdin='{"text": "x", "id": -1}\n'))


@present("VectorBuilder")
def test_vectors_from_npy(tmp_path):
    rng = np.random.default_rng(7)
    np.save(tmp_path / "v.npy", rng.standard_normal((300, 16)))
    np.save(tmp_path / "ids.npy", np.arange(300, dtype=np.int64) * 2)
    from vlvi_reader import read_vlvi_file
    out = tmp_path / "v.vlvi"
    result = ok(run("vectors", tmp_path / "v.npy", "--ids", tmp_path / "ids.npy", "-o", out,
                    "--nlist", "8", "--m", "4", "--seed", "1", "--batch", "64"))
    vlvi = read_vlvi_file(out)
    assert (vlvi.dim, vlvi.nlist, vlvi.m, vlvi.nbits, vlvi.n) == (16, 8, 4, 8, 300)
    assert sorted(i for ids in vlvi.ids for i in ids) == list(range(0, 600, 2))
    assert summary_value(result.stdout, "vectors") == "300"
    assert summary_value(result.stdout, "nlist") == "8"
    # The same vectors given in one call to the library make the same file.
    import vellum as vl
    b = vl.VectorBuilder(16, 8, 4, seed=1)
    b.add_many([(2 * i, row) for i, row in enumerate(np.load(tmp_path / "v.npy").tolist())])
    b.build(str(tmp_path / "lib.vlvi"))
    assert (tmp_path / "lib.vlvi").read_bytes() == out.read_bytes()


def trained_faiss_index(faiss, nbits, opq):
    """An IVF-PQ index with drawn (not trained) centroids and codebooks, so
    the test does not wait for FAISS training; returns it with the objects
    it points to, which must stay alive."""
    rng = np.random.default_rng(3)
    dim, nlist, m = 16, 8, 4
    quantizer = faiss.IndexFlatIP(dim)
    quantizer.add(rng.standard_normal((nlist, dim)).astype(np.float32))
    ivf = faiss.IndexIVFPQ(quantizer, dim, nlist, m, nbits, faiss.METRIC_INNER_PRODUCT)
    codebooks = rng.standard_normal(m * (1 << nbits) * (dim // m)).astype(np.float32)
    faiss.copy_array_to_vector(codebooks, ivf.pq.centroids)
    ivf.is_trained = True
    keep = [quantizer, ivf]
    index = ivf
    if opq:
        rotation = faiss.OPQMatrix(dim, m)
        q, _ = np.linalg.qr(rng.standard_normal((dim, dim)))
        faiss.copy_array_to_vector(q.astype(np.float32).ravel(), rotation.A)
        rotation.is_trained = True
        index = faiss.IndexPreTransform(rotation, ivf)
        keep.append(rotation)
    x = rng.standard_normal((600, dim)).astype(np.float32)
    index.add_with_ids(x, np.arange(600, dtype=np.int64) + 100)
    return index, keep


faiss_cases = pytest.mark.parametrize("nbits, opq", [(8, False), (4, True), (5, False)])


@faiss_cases
def test_faiss_parts_unpack_codes_the_way_faiss_decodes_them(nbits, opq):
    faiss = pytest.importorskip("faiss")
    from vellum_tools.commands.vectors import faiss_parts
    index, _keep = trained_faiss_index(faiss, nbits, opq)
    parts = faiss_parts(faiss, np, index, "test")
    ivf = faiss.downcast_index(faiss.extract_index_ivf(index)) if opq else index
    m, dsub = parts["m"], parts["dim"] // parts["m"]
    codes = np.frombuffer(parts["codes"], np.uint8).reshape(-1, m)
    books = np.frombuffer(parts["codebooks"], "<f4").reshape(m, 1 << nbits, dsub)
    ours = np.concatenate([books[j, codes[:, j]] for j in range(m)], axis=1)
    packed = np.concatenate([
        faiss.rev_swig_ptr(ivf.invlists.get_codes(i), ivf.invlists.list_size(i) * ivf.code_size)
        .reshape(-1, ivf.code_size) for i in range(ivf.nlist) if ivf.invlists.list_size(i)])
    assert np.array_equal(ours, ivf.pq.decode(packed))
    ids = np.frombuffer(parts["ids"], "<u4")
    assert sorted(ids) == list(range(100, 700))
    assignments = np.frombuffer(parts["assignments"], "<u4")
    assert np.all(np.diff(assignments) >= 0) and assignments.max() < parts["nlist"]
    assert (parts["opq"] is not None) == opq


@present("write_vlvi_from_faiss")
@faiss_cases
def test_vectors_from_faiss(tmp_path, nbits, opq):
    faiss = pytest.importorskip("faiss")
    index, _keep = trained_faiss_index(faiss, nbits, opq)
    faiss.write_index(index, str(tmp_path / "trained.faiss"))
    from vlvi_reader import read_vlvi_file
    out = tmp_path / "v.vlvi"
    result = ok(run("vectors", "--from-faiss", tmp_path / "trained.faiss", "-o", out))
    assert summary_value(result.stdout, "vectors") == "600"
    assert summary_value(result.stdout, "nbits") == str(nbits)
    vlvi = read_vlvi_file(out)
    assert (vlvi.nbits, vlvi.n, vlvi.rotated) == (nbits, 600, opq)
    from vellum_tools.commands.vectors import faiss_parts
    parts = faiss_parts(faiss, np, index, "test")
    ids = np.frombuffer(parts["ids"], "<u4")
    lists = np.frombuffer(parts["assignments"], "<u4")
    codes = np.frombuffer(parts["codes"], np.uint8).reshape(-1, parts["m"])
    for c in range(vlvi.nlist):
        expected = [(int(i), bytes(code)) for i, code in zip(ids[lists == c], codes[lists == c])]
        assert vlvi.list_vectors(c) == expected


def test_from_faiss_refuses_other_index_kinds(tmp_path):
    faiss = pytest.importorskip("faiss")
    if not hasattr(vellum, "write_vlvi_from_faiss"):
        pytest.skip("vellum.write_vlvi_from_faiss is not built yet")
    faiss.write_index(faiss.IndexFlatL2(8), str(tmp_path / "flat.faiss"))
    assert "expected an IVF-PQ index" in failed(
        run("vectors", "--from-faiss", tmp_path / "flat.faiss", "-o", tmp_path / "v.vlvi"))
    (tmp_path / "junk.faiss").write_bytes(b"junk")
    assert "not a FAISS index" in failed(
        run("vectors", "--from-faiss", tmp_path / "junk.faiss", "-o", tmp_path / "v.vlvi"))
