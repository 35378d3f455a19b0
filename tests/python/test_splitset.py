"""Split sets written by vellum.SplitSetBuilder, read back with the
independent split-set reader.

The tests derive where every split must start from the seal rule (the size
estimate over distinct keys and postings, against each split's cap), the
postings of each split from vellum.tokenize of its texts with local ids,
and facet memberships from the facets dicts, then compare with what the
reader finds in the manifest, bodies, Bloom filters and sidecars.
"""

import random

import pytest

import vellum
from dataset_reader import decode_roaring, facet_key
from splitset_reader import (
    FLAG_BLOOM, FLAG_CASE_SENSITIVE, FLAG_FACETS, TLV_BLOOM, TLV_FACET_PRESENCE,
    bloom_bits, bloom_probes, read_bloom, read_manifest, read_presence, read_split_set)

WORDS = ["alpha", "beta", "Gamma", "delta", "épée", "zeta", "eta", "theta",
         "漢字かな", "x", "ΟΔΥΣΣΕΥΣ", "straße", "42"]


def random_docs(seed, n):
    rng = random.Random(seed)
    docs = []
    for _ in range(n):
        text = " ".join(rng.choice(WORDS) + rng.choice(["", "s", "ing"])
                        for _ in range(rng.randrange(9)))
        facets = None
        if rng.random() < 0.4:
            facets = {"lang": rng.sample(["en", "EN", "fr", "de"], rng.randrange(1, 3))}
            if rng.random() < 0.3:
                facets["empty"] = []
        docs.append((text, facets))
    return docs


def cap_of(i, byte_cap, byte_cap_max):
    if byte_cap_max == 0:
        return byte_cap
    return min(max(byte_cap_max, byte_cap), byte_cap * 2 ** i)


def expected_starts(docs, gram_size, stride, byte_cap, byte_cap_max):
    """First global id of every split, from the seal rule."""
    starts, keys, postings = [], set(), 0
    for doc_id, (text, _) in enumerate(docs):
        k = set(vellum.tokenize(text, gram_size))
        new = len(k - keys)
        estimate = (2 * len(k) + 64 * (len(keys) + new) + postings
                    + 8 * -(-len(keys) // stride) + 20)
        if not starts or estimate > cap_of(len(starts) - 1, byte_cap, byte_cap_max):
            starts.append(doc_id)
            keys, postings = set(), 0
        keys |= k
        postings += 2 * len(k)
    return starts


def stage(builder, docs):
    ids = []
    for text, facets in docs:
        ids.append(builder.add(text) if facets is None else builder.add_faceted(text, facets))
    return ids


def check_split_set(ss, docs, gram_size=3, bits_per_key=10, head_boundary=65536, prefix="split"):
    """Every split against the documents it must hold."""
    for index, split in enumerate(ss.splits):
        rec = split.record
        assert rec.name == f"{prefix}-s{index:05d}.vls"
        assert rec.epoch == 0 and rec.split_flags == 0
        local = docs[rec.first_id:rec.last_id + 1]
        postings, categories = {}, {}
        for local_id, (text, facets) in enumerate(local):
            for key in vellum.tokenize(text, gram_size):
                postings.setdefault(key, []).append(local_id)
            for fld, cats in (facets or {}).items():
                for cat in cats:
                    ids = categories.setdefault((fld, cat), [])
                    if not ids or ids[-1] != local_id:
                        ids.append(local_id)
        assert split.body.postings == dict(sorted(postings.items()))
        assert split.body.gram_size == gram_size

        bloom = read_bloom(split.summary[TLV_BLOOM])
        assert bloom.bits == bloom_bits(len(postings), bits_per_key)
        assert bloom.probes == bloom_probes(bits_per_key)
        assert all(bloom.may_contain(k) for k in postings)

        if not categories:
            assert TLV_FACET_PRESENCE not in split.summary and split.sidecar is None
            continue
        presence = read_presence(split.summary[TLV_FACET_PRESENCE])
        assert presence == sorted({facet_key(f, c) for f, c in categories})
        got = {}
        for fld in split.sidecar.fields:
            assert fld.name != "empty"  # a field with no categories adds nothing
            for cat in fld.categories:
                assert cat.key == facet_key(fld.name, cat.name)
                got[(fld.name, cat.name)] = (cat.head, cat.tail, cat.doc_count)
        want = {pair: ([i for i in ids if i < head_boundary],
                       [i for i in ids if i >= head_boundary], len(ids))
                for pair, ids in categories.items()}
        assert got == want


def test_split_set_matches_the_documents(tmp_path):
    docs = random_docs(1, 600)
    b = vellum.SplitSetBuilder(byte_cap=3000, byte_cap_max=9000, stride=4, name_prefix="corpus",
                               sortcol=("rank", 7, True))
    ids = stage(b, docs)
    assert ids == list(range(len(docs)))
    assert b.doc_count() == len(docs)
    stats = b.build(str(tmp_path / "out"), manifest_name="idx")

    ss = read_split_set(tmp_path / "out", "idx")
    starts = expected_starts(docs, 3, 4, 3000, 9000)
    assert len(starts) >= 4
    assert [s.record.first_id for s in ss.splits] == starts
    assert ss.splits[-1].record.last_id == len(docs) - 1
    check_split_set(ss, docs, prefix="corpus")
    m = ss.manifest
    assert (m.version, m.policy, m.body_kind, m.gram_size) == (1, 0, 0, 3)
    assert m.flags == FLAG_BLOOM | FLAG_FACETS
    assert m.tier_count == m.base_count == len(starts)
    assert [s.tier for s in m.splits] == list(range(len(starts)))
    assert m.byte_cap == 3000
    assert m.sortcol == ("rank", 7, True)
    assert all(s.body.stride == 4 and s.body.version == 3 for s in ss.splits)
    assert (stats.splits, stats.docs) == (len(starts), len(docs))
    assert stats.total_bytes == sum(len(v) for k, v in ss.files.items() if not k.endswith(".vlss"))
    assert repr(stats) == (f"SplitSetBuildStats(splits={stats.splits}, docs={stats.docs}, "
                           f"total_bytes={stats.total_bytes})")


def test_one_document_per_split_under_a_tiny_cap_with_growth(tmp_path):
    docs = [(f"doc number {i}", None) for i in range(6)]
    b = vellum.SplitSetBuilder(byte_cap=100, byte_cap_max=400, policy="STABLE")
    stage(b, docs)
    with pytest.raises(OSError, match=r"^VLSS split split-s00000\.vls: a single document's "
                                      r"postings \(\d+ B\) exceed the byte cap \(100 B\)$"):
        b.build(str(tmp_path / "x"))
    assert not (tmp_path / "x").exists()
    assert b.doc_count() == 0
    with pytest.raises(ValueError, match="^SplitSetBuilder already built$"):
        b.add("more")

    b = vellum.SplitSetBuilder(byte_cap=300, byte_cap_max=1200, policy="ingest")
    stage(b, docs)
    b.build(str(tmp_path / "y"))
    ss = read_split_set(tmp_path / "y")
    assert [s.record.first_id for s in ss.splits] == expected_starts(docs, 3, 512, 300, 1200)
    assert ss.manifest.policy == 1 and ss.manifest.tier_count == 0
    assert all(s.record.tier == 0 for s in ss.splits)
    check_split_set(ss, docs)


def test_empty_builder_and_the_finished_guard(tmp_path):
    b = vellum.SplitSetBuilder()
    stats = b.build(str(tmp_path))
    assert repr(stats) == "SplitSetBuildStats(splits=0, docs=0, total_bytes=0)"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["index.vlss"]
    m = read_manifest((tmp_path / "index.vlss").read_bytes())
    assert m.splits == [] and m.flags == FLAG_BLOOM and m.byte_cap == 33554432
    assert b.doc_count() == 0
    for call in (lambda: b.add("x"), lambda: b.add_faceted("x", {"f": ["c"]}),
                 lambda: b.build(str(tmp_path))):
        with pytest.raises(ValueError, match="^SplitSetBuilder already built$"):
            call()


def test_case_sensitive_without_bloom_and_empty_facet_lists(tmp_path):
    b = vellum.SplitSetBuilder(case_sensitive=True, bloom_bits_per_key=0, gram_size=0)
    b.add("Ab ab")
    b.add_faceted("", {"F": []})
    b.build(str(tmp_path))
    ss = read_split_set(tmp_path)
    m = ss.manifest
    assert m.flags == FLAG_CASE_SENSITIVE  # no Bloom flag, and no facets were added
    assert m.gram_size == 1
    (split,) = ss.splits
    assert split.summary == {} and split.sidecar is None
    assert split.body.version == 4 and split.body.gram_size == 1
    assert len(split.body.postings) == 3  # 'A', 'a', 'b': case kept


def test_facet_presence_folds_and_sidecar_keeps_names(tmp_path):
    b = vellum.SplitSetBuilder()
    b.add_faceted("one", {"Lang": ["EN", "en"]})
    b.add_faceted("two", {"lang": ["en"]})
    b.build(str(tmp_path))
    (split,) = read_split_set(tmp_path).splits
    assert read_presence(split.summary[TLV_FACET_PRESENCE]) == [facet_key("lang", "en")]
    names = [(f.name, [c.name for c in f.categories]) for f in split.sidecar.fields]
    assert names == [("Lang", ["EN", "en"]), ("lang", ["en"])]


def test_failed_build_keeps_the_documents(tmp_path):
    docs = random_docs(2, 200)
    reference = vellum.SplitSetBuilder(byte_cap=2500)
    stage(reference, docs)
    reference.build(str(tmp_path / "ref"))

    b = vellum.SplitSetBuilder(byte_cap=2500)
    stage(b, docs[:150])
    blocker = tmp_path / "file"
    blocker.write_bytes(b"x")
    with pytest.raises(OSError):
        b.build(str(blocker / "sub"))
    assert b.doc_count() == 150
    assert stage(b, docs[150:180]) == list(range(150, 180))
    out = tmp_path / "out"
    (out / "split-s00001.vls").mkdir(parents=True)  # the second split cannot be written
    with pytest.raises(OSError):
        b.build(str(out))
    assert b.doc_count() == 180
    assert (out / "split-s00000.vls").exists()  # files before the failure stay
    (out / "split-s00001.vls").rmdir()
    assert stage(b, docs[180:]) == list(range(180, 200))
    stats = b.build(str(out))
    assert stats.docs == 200 and stats.splits > 2
    files = {p.name: p.read_bytes() for p in out.iterdir()}
    assert files == {p.name: p.read_bytes() for p in (tmp_path / "ref").iterdir()}
    assert b.doc_count() == 0


def test_constructor_and_argument_errors():
    with pytest.raises(ValueError, match="^unknown policy fancy; use 'tiered' or 'stable_key'$"):
        vellum.SplitSetBuilder(policy="Fancy")
    with pytest.raises(OverflowError):
        vellum.SplitSetBuilder(gram_size=70000)
    with pytest.raises(OverflowError):
        vellum.SplitSetBuilder(stride=2 ** 40)
    with pytest.raises(ValueError, match="expected tuple of length 3"):
        vellum.SplitSetBuilder(sortcol=("rank", 1))
    with pytest.raises(TypeError, match="^argument 'sortcol'"):
        vellum.SplitSetBuilder(sortcol=("rank", 1, 1))
    with pytest.raises(TypeError, match="^argument 'sortcol'"):
        vellum.SplitSetBuilder(sortcol=["rank", 1, True])
    with pytest.raises(OverflowError):
        vellum.SplitSetBuilder(sortcol=("rank", 70000, True))
    b = vellum.SplitSetBuilder()
    with pytest.raises(TypeError, match="^argument 'text'"):
        b.add(b"bytes")
    with pytest.raises(TypeError, match="^argument 'facets'"):
        b.add_faceted("x", {"f": "not a list"})
    with pytest.raises(OSError, match="^facet name exceeds the 16-bit length limit$"):
        b.add_faceted("x", {"f": ["c" * 65536]})
    assert b.doc_count() == 0
    assert b.add_faceted(text="y", facets={"f": ["c"]}) == 0
