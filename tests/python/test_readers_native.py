"""The readers of vellum_tools._native in-process: sound files verify,
damaged ones are reported (never a crash, which would end this process),
and lookups agree with the independent test readers."""

from __future__ import annotations

import random

import pytest

import reader_fixtures as fx
from dataset_reader import FormatViolation, decode_roaring, facet_key, read_dataset
from splitset_reader import TLV_TOMBSTONES, read_split_set
from term_reader import read_term_index
from vlvi_reader import read_vlvi_file

import vellum

native = pytest.importorskip("vellum_tools._native")
if not hasattr(native, "verify"):
    pytest.skip("vellum_tools._native has no readers", allow_module_level=True)


def every_kind(tmp):
    """Every kind of target, by name."""
    (tmp / "f").mkdir()
    return {
        "dataset": fx.dataset(tmp, 1),
        "ngram split set": fx.ngram_split_set(tmp, 2)[0],
        "term split set": fx.term_split_set(tmp, 3)[0],
        "term file": fx.term_file(tmp, 4, language="english", stopwords=True)[0],
        "vector file": fx.vector_file(tmp, 5),
        "flushed split set": fx.written_split_set(tmp, 6, compact=False)[0],
        "compacted split set": fx.written_split_set(tmp / "f", 7, compact=True)[0],
    }


def test_everything_the_builders_write_verifies(tmp_path):
    for kind, path in every_kind(tmp_path).items():
        assert native.verify(str(path)) == [], kind
        if path.is_dir():
            for f in sorted(path.iterdir()):
                if f.name != "records.bin":
                    assert native.verify(str(f)) == [], (kind, f.name)
        assert isinstance(native.inspect(str(path)), dict)


def test_paths_that_name_nothing_readable_raise(tmp_path):
    (tmp_path / "junk").write_bytes(b"JUNKJUNK")
    for path in (tmp_path / "missing", tmp_path, tmp_path / "junk"):
        with pytest.raises(ValueError):
            native.verify(str(path))
    with pytest.raises(TypeError):
        native.verify(3)


def damaged_copies(path, data):
    """Yields after writing each damaged version of `path`: every byte
    flipped, then every truncation; restores the file at the end."""
    try:
        for i in range(len(data)):
            path.write_bytes(data[:i] + bytes([data[i] ^ 0xA5]) + data[i + 1:])
            yield "flip", i
        for n in range(len(data)):
            path.write_bytes(data[:n])
            yield "cut", n
    finally:
        path.write_bytes(data)


def strict_reader(kind):
    """The independent reader of a target kind: raises on what it rejects."""
    if kind == "dataset":
        return read_dataset
    if kind == "ngram split set":
        return read_split_set
    return None


@pytest.mark.parametrize("kind", ["dataset", "ngram split set", "term split set", "term file",
                                  "vector file", "compacted split set"])
def test_damage_is_reported_or_harmless_and_never_crashes(tmp_path, kind):
    target = every_kind(tmp_path)[kind]
    files = sorted(target.iterdir()) if target.is_dir() else [target]
    if kind.endswith("split set"):
        files = [f for f in files if f.suffix == ".vlss"] + [f for f in files if f.suffix != ".vlss"][:2]
    strict = strict_reader(kind)
    flips_reported = flips = 0
    for f in files:
        data = f.read_bytes()
        for how, at in damaged_copies(f, data):
            try:
                problems = native.verify(str(target))
            except ValueError as e:  # a file whose magic no longer names a format
                assert not target.is_dir() and "magic" in str(e), e
                problems = [{"file": f.name, "region": "header", "offset": 0, "what": str(e)}]
            if how == "cut":
                assert problems, (f.name, "cut at", at)
                continue
            flips += 1
            flips_reported += bool(problems)
            if not problems and strict is not None and f.name != "records.bin":
                # What verify passes, the strict reader accepts.
                try:
                    strict(target)
                except FormatViolation as e:
                    pytest.fail(f"{f.name} byte {at} flipped: verify passes, reader says {e}")
            for p in problems:
                assert set(p) == {"file", "region", "offset", "what"} and p["what"]
    # Most bytes of a vector index are floats and codes that any value suits.
    assert flips_reported > flips // (8 if kind == "vector file" else 2)


def ngram_expected(postings, query):
    """Ids holding every n-gram key of every query text."""
    ids = None
    for q in query:
        for key in vellum.tokenize(q):
            got = set(postings.get(key, ()))
            ids = got if ids is None else ids & got
    return sorted(ids or ())


def test_dataset_lookup_agrees_with_the_reader(tmp_path):
    rng = random.Random(11)
    for seed in range(3):
        (tmp_path / str(seed)).mkdir()
        path = fx.dataset(tmp_path / str(seed), seed, n=80)
        ds = read_dataset(path)
        for _ in range(15):
            query = [rng.choice(fx.WORDS).lower()[:rng.randint(3, 5)] for _ in range(rng.randint(1, 2))]
            query = [q for q in query if len(q) >= 3] or ["alpha"]
            want = ngram_expected(ds.index.postings, query)
            got = native.lookup(str(path), query, None, True)
            assert got["ids"] == want, query
            assert got["records"] == [ds.records[i] for i in want]
            lang = rng.choice(fx.LANGS)
            cats = {c.name: set(c.head + c.tail) for f in ds.facets.fields for c in f.categories}
            faceted = native.lookup(str(path), query, ("lang", lang))
            assert faceted["ids"] == sorted(set(want) & cats.get(lang, set()))


def split_set_expected(ss, query, facet):
    deleted = set()
    for s in ss.splits:
        if TLV_TOMBSTONES in s.summary:
            deleted |= set(decode_roaring(s.summary[TLV_TOMBSTONES]))
    out = set()
    for s in ss.splits:
        shift = 0 if s.record.split_flags & 2 else s.record.first_id
        local = set(ngram_expected(s.body.postings, query)) if query else None
        if facet:
            cats = set()
            if s.sidecar:
                for f in s.sidecar.fields:
                    if f.name == facet[0]:
                        for c in f.categories:
                            if c.key == facet_key(*facet):
                                cats |= set(c.head + c.tail)
            local = cats if local is None else local & cats
        out |= {i + shift for i in local}
    return sorted(out - deleted)


def test_split_set_lookup_agrees_with_the_reader(tmp_path):
    rng = random.Random(12)
    path, _ = fx.ngram_split_set(tmp_path, 21, n=200)
    ss = read_split_set(path)
    skipped = 0
    for _ in range(30):
        query = [rng.choice(fx.WORDS).lower()]
        if len(query[0]) < 3:
            query = ["gamma"]
        facet = ("lang", rng.choice(fx.LANGS)) if rng.random() < 0.5 else None
        got = native.lookup(str(path), query, facet)
        assert got["ids"] == split_set_expected(ss, query, facet), (query, facet)
        assert [s["split"] for s in got["splits"]] == [s.record.name for s in ss.splits]
        for s in got["splits"]:
            skipped += s["skipped"]
            assert not (s["skipped"] and s["ids"])
    assert skipped > 0  # the Bloom filters and facet presence rule some splits out


def test_term_lookups_agree_with_the_reader(tmp_path):
    rng = random.Random(13)
    path, _ = fx.term_file(tmp_path, 31, n=60)
    index = read_term_index(path.read_bytes())
    (tmp_path / "set").mkdir()
    set_path, texts = fx.term_split_set(tmp_path / "set", 32, n=120)
    for _ in range(20):
        word = rng.choice(fx.WORDS)
        head, tail = index.terms.get(word.lower().encode(), ([], []))
        query = word.upper() if word.isascii() else word  # "ß".upper() is "SS"
        assert native.lookup(str(path), [query])["ids"] == sorted(head + tail)
        # Term splits: the documents whose analysed words include the term.
        want = [i for i, t in enumerate(texts) if word.lower() in t.lower().split()]
        assert native.lookup(str(set_path), [word])["ids"] == want, word


def test_inspect_agrees_with_the_readers(tmp_path):
    v = fx.vector_file(tmp_path, 41)
    ref = read_vlvi_file(v)
    r = native.inspect(str(v))
    assert (r["lists"], r["subquantizers"], r["rotation"]) == (ref.nlist, ref.m, ref.rotated)
    assert r["largest_list"] == max(len(ids) for ids in ref.ids)
    assert r["empty_lists"] == sum(1 for ids in ref.ids if not ids)
    assert sum(g["bytes"] for g in r["regions"]) == r["size"] == v.stat().st_size
    ds_path = fx.dataset(tmp_path, 42)
    ds = read_dataset(ds_path)
    r = native.inspect(str(ds_path))
    assert r["documents"] == len(ds.records)
    vls = r["files"][0]
    assert vls["keys"] == len(ds.index.postings)
    lengths = [len(ids) for ids in ds.index.postings.values()]
    for row in vls["postings"]["distribution"]:
        assert row["postings"] == sum(row["min"] <= n <= row["max"] for n in lengths)
