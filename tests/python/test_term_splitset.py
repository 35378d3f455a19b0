"""Term split sets written by vellum.TermSplitSetBuilder, read back with the
independent split-set and term-index readers.

A document's terms are taken from a one-document TermBuilder index with the
same analysis settings, read with the term reader (both builders analyse
with the same routine; here it is the split bodies, ids and seal rule that
are under test). From those the tests derive where every split must start
(length + 26 per new term, 2 per posting, 128 of slack against the cap),
each split's postings with local ids and its facet data.
"""

import random

import pytest

import vellum
from dataset_reader import facet_key
from splitset_reader import (
    FLAG_CASE_SENSITIVE, FLAG_FACETS, TLV_BLOOM, TLV_FACET_PRESENCE, read_presence,
    read_split_set)
from term_reader import read_term_index

WORDS = ["Running", "runs", "the", "and", "Épée", "épée", "cats", "cat", "漢字", "x1",
         "ΟΔΥΣΣΕΥΣ", "straße", "42", "über", "les", "chats"]

ALL_NAMES = ["Builder", "BuildStats", "VectorBuilder", "VectorBuildStats", "tokenize",
             "write_vlvi_from_faiss", "write_term_index", "TermBuilder", "SplitSetBuilder",
             "TermSplitSetBuilder", "SplitSetBuildStats", "SplitSetWriter"]


def random_docs(seed, n):
    rng = random.Random(seed)
    docs = []
    for _ in range(n):
        text = rng.choice([" ", ", ", "-"]).join(rng.choice(WORDS) for _ in range(rng.randrange(9)))
        facets = None
        if rng.random() < 0.4:
            facets = {"Lang": rng.sample(["en", "EN", "fr", "de"], rng.randrange(1, 3))}
            if rng.random() < 0.3:
                facets["empty"] = []
        docs.append((text, facets))
    return docs


def doc_terms(tmp_path, docs, settings):
    """The distinct terms (bytes) of each document."""
    out = []
    path = str(tmp_path / "one.vlt")
    for text, _ in docs:
        tb = vellum.TermBuilder(**settings)
        tb.add_many([(0, text)])
        tb.finish(path)
        out.append(set(read_term_index(open(path, "rb").read()).terms))
    return out


def expected_starts(terms, byte_cap, byte_cap_max=0):
    def cap(i):
        return byte_cap if byte_cap_max == 0 else min(max(byte_cap_max, byte_cap), byte_cap * 2 ** i)
    starts, seen, estimate = [], set(), 0
    for doc_id, t in enumerate(terms):
        cost = sum(2 if x in seen else len(x) + 26 for x in t)
        if not starts or estimate + cost + 128 > cap(len(starts) - 1):
            starts.append(doc_id)
            seen, estimate = set(), 0
            cost = sum(len(x) + 26 for x in t)
        seen |= t
        estimate += cost
    return starts


def stage(builder, docs):
    return [builder.add(text) if facets is None else builder.add_faceted(text, facets)
            for text, facets in docs]


SETTINGS = [
    dict(),
    dict(language="english", stopwords=True),
    dict(language="french", stem=False, stopwords=True, case_sensitive=True),
    dict(language="german", case_sensitive=True),
]


@pytest.mark.parametrize("seed,settings", list(enumerate(SETTINGS)))
def test_every_term_is_in_the_split_covering_its_document(tmp_path, seed, settings):
    docs = random_docs(seed, 250)
    terms = doc_terms(tmp_path, docs, settings)
    policy = "tiered" if seed % 2 == 0 else "stable_key"
    b = vellum.TermSplitSetBuilder(policy=policy, byte_cap=500, byte_cap_max=1000,
                                   name_prefix="corpus", sortcol=("rank", 3, False), **settings)
    assert stage(b, docs) == list(range(len(docs)))
    assert b.doc_count() == len(docs)
    stats = b.build(str(tmp_path / "out"), "idx")
    ss = read_split_set(tmp_path / "out", "idx")
    m = ss.manifest
    starts = expected_starts(terms, 500, 1000)
    assert len(starts) >= 4
    assert [s.record.first_id for s in ss.splits] == starts
    assert (m.body_kind, m.gram_size, m.byte_cap, m.sortcol) == (1, 0, 500, ("rank", 3, False))
    case_sensitive = settings.get("case_sensitive", False)
    assert m.flags == FLAG_FACETS | (FLAG_CASE_SENSITIVE if case_sensitive else 0)
    tiered = policy == "tiered"
    assert m.tier_count == (len(starts) if tiered else 0) and m.base_count == len(starts)
    for index, split in enumerate(ss.splits):
        rec = split.record
        assert rec.name == f"corpus-s{index:05d}.vlt"
        assert (rec.tier, rec.epoch, rec.split_flags) == (index if tiered else 0, 0, 0)
        assert split.body.header.head_boundary == 65536
        assert split.body.header.block_cap == 4096
        assert TLV_BLOOM not in split.summary
        postings, categories = {}, {}
        for local_id in range(rec.doc_count):
            text, facets = docs[rec.first_id + local_id]
            for t in terms[rec.first_id + local_id]:
                postings.setdefault(t, []).append(local_id)
            for fld, cats in (facets or {}).items():
                for cat in cats:
                    categories.setdefault((fld, cat), set()).add(local_id)
        assert {t: h + tl for t, (h, tl) in split.body.terms.items()} == postings
        if not categories:
            assert TLV_FACET_PRESENCE not in split.summary and split.sidecar is None
            continue
        fold = not case_sensitive
        presence = read_presence(split.summary[TLV_FACET_PRESENCE])
        assert presence == sorted({facet_key(f, c, fold) for f, c in categories})
        got = {(fld.name, cat.name): set(cat.head + cat.tail)
               for fld in split.sidecar.fields for cat in fld.categories}
        assert got == categories
    assert (stats.splits, stats.docs) == (len(starts), len(docs))
    assert stats.total_bytes == sum(len(v) for k, v in ss.files.items() if not k.endswith(".vlss"))


def test_byte_cap_200_seals_where_222_shares(tmp_path):
    # 31 + 30 for the first document, 2 + 31 for the second: 61 + 33 + 128 = 222.
    layouts = []
    for cap in (200, 222):
        b = vellum.TermSplitSetBuilder(byte_cap=cap)
        b.add("alpha beta")
        b.add("alpha gamma")
        b.build(str(tmp_path / str(cap)))
        ss = read_split_set(tmp_path / str(cap))
        layouts.append([sorted(s.body.terms) for s in ss.splits])
    assert layouts == [[[b"alpha", b"beta"], [b"alpha", b"gamma"]],
                       [[b"alpha", b"beta", b"gamma"]]]


def test_single_document_over_its_cap_consumes_the_builder(tmp_path):
    b = vellum.TermSplitSetBuilder(byte_cap=40, name_prefix="c")
    b.add("one")
    b.add("two")
    with pytest.raises(OSError, match=r"^VLSS term split c-s00000\.vlt: a single document's "
                                      r"postings \(\d+ B\) exceed the byte cap \(40 B\)$"):
        b.build(str(tmp_path / "x"))
    assert not (tmp_path / "x").exists()
    assert b.doc_count() == 0
    for call in (lambda: b.add("x"), lambda: b.add_faceted("x", {"f": ["c"]}),
                 lambda: b.build(str(tmp_path))):
        with pytest.raises(ValueError, match="^TermSplitSetBuilder already built$"):
            call()


def test_failed_build_keeps_the_documents(tmp_path):
    docs = random_docs(7, 80)
    blocker = tmp_path / "file"
    blocker.write_text("x")
    b = vellum.TermSplitSetBuilder(byte_cap=900, language="english")
    ref = vellum.TermSplitSetBuilder(byte_cap=900, language="english")
    stage(b, docs[:60])
    stage(ref, docs)
    with pytest.raises(OSError):
        b.build(str(blocker / "sub"))
    assert b.doc_count() == 60
    stage(b, docs[60:])
    b.build(str(tmp_path / "out"))
    ref.build(str(tmp_path / "ref"))
    read = lambda d: {p.name: p.read_bytes() for p in d.iterdir()}  # noqa: E731
    assert read(tmp_path / "out") == read(tmp_path / "ref")
    assert b.doc_count() == 0


def test_construction_and_head_boundary(tmp_path):
    with pytest.raises(ValueError, match="require a language"):
        vellum.TermSplitSetBuilder(policy="nope", stopwords=True)
    with pytest.raises(ValueError, match="^unknown policy nope; use 'tiered' or 'stable_key'$"):
        vellum.TermSplitSetBuilder(policy="NoPe".lower())
    with pytest.raises(TypeError):
        vellum.TermSplitSetBuilder(gram_size=3)
    b = vellum.TermSplitSetBuilder(head_boundary=0)
    assert b.add("hello") == 0
    b.build(str(tmp_path))
    ss = read_split_set(tmp_path)
    assert ss.splits[0].body.header.head_boundary == 65536
    empty = vellum.TermSplitSetBuilder()
    assert repr(empty.build(str(tmp_path / "e"), manifest_name="m")) == \
        "SplitSetBuildStats(splits=0, docs=0, total_bytes=0)"
    m = read_split_set(tmp_path / "e", "m").manifest
    assert (m.body_kind, m.flags, m.splits) == (1, 0, [])


def test_documentation_texts():
    cls = vellum.TermSplitSetBuilder
    assert cls.__text_signature__ == (
        '(policy="tiered", byte_cap=33554432, head_boundary=0, name_prefix="split", '
        'sortcol=None, language=None, stem=None, stopwords=False, byte_cap_max=0, '
        'case_sensitive=False)')
    assert cls.__doc__.startswith("The term/FST (`VLTI`) analogue of [`SplitSetBuilder`]")
    assert cls.add.__doc__.endswith(
        "Stages one document (tokenized into whole terms) and returns its global doc id.")
    assert cls.doc_count.__doc__.endswith("Total documents added so far.")
    assert "`‹manifest_name›.vlss`" in cls.build.__doc__


def test_all_twelve_names_in_order():
    assert vellum.__all__ == ALL_NAMES
    assert set(ALL_NAMES) <= set(dir(vellum))
