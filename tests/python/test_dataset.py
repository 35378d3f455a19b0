"""Datasets written by vellum.Builder, read back with the independent reader.

Each test derives what the four files must hold from the rows it staged
(ids by descending, stable rank order; postings from vellum.tokenize of each
text; facet memberships from the facets dicts) and compares every posting,
record, offset and facet category with what the reader finds.
"""

import struct

import pytest

import vellum
from dataset_reader import (
    decode_roaring, facet_key, read_dataset, read_text_index, roaring_container_kinds)

EMPTY_ROARING = struct.pack("<II", 12346, 0)


# --------------------------------------------------------------------------
# Expected contents


def doc_order(rows):
    """Staging indices in document-id order: descending rank, ties stable."""
    return sorted(range(len(rows)), key=lambda i: -rows[i][0])


def expected_postings(rows, gram_size):
    postings = {}
    for doc_id, i in enumerate(doc_order(rows)):
        for key in vellum.tokenize(rows[i][1], gram_size):
            postings.setdefault(key, []).append(doc_id)
    return postings


def expected_facets(rows, head_boundary):
    """[(field, [(category, key, head ids, tail ids, doc_count)])] in file order."""
    fmap = {}
    for doc_id, i in enumerate(doc_order(rows)):
        for fld, cats in (rows[i][3] or {}).items():
            cmap = fmap.setdefault(fld, {})
            for cat in cats:
                ids = cmap.setdefault(cat, [])
                if not ids or ids[-1] != doc_id:
                    ids.append(doc_id)
    out = []
    for fld in sorted(fmap, key=lambda s: s.encode()):
        cats = []
        for cat in sorted(fmap[fld], key=lambda s: s.encode()):
            ids = fmap[fld][cat]
            cats.append((cat, facet_key(fld, cat),
                         [d for d in ids if d < head_boundary],
                         [d for d in ids if d >= head_boundary], len(ids)))
        cats.sort(key=lambda c: c[1])  # stable: equal keys keep name order
        out.append((fld, cats))
    return out


def expected_blob(rows):
    fields = {}
    for row in rows:
        for fld, cats in (row[3] or {}).items():
            fields.setdefault(fld, set()).update(cats)
    blob = b""
    for fld in sorted(fields, key=lambda s: s.encode()):
        blob += fld.encode()
        for cat in sorted(fields[fld], key=lambda s: s.encode()):
            blob += cat.encode()
    return blob


def check_dataset(out_dir, rows, stats, gram_size=3, head_boundary=65536):
    """Reads the dataset in out_dir and compares all of it with the rows."""
    ds = read_dataset(out_dir)

    assert ds.index.version == 3
    assert ds.index.gram_size == gram_size
    assert ds.index.stride == 512
    postings = expected_postings(rows, gram_size)
    assert ds.index.postings == postings

    assert ds.records == [bytes(rows[i][2]) for i in doc_order(rows)]

    assert ds.facets.case_sensitive == 0
    assert ds.facets.blob == expected_blob(rows)
    got = [(f.name, [(c.name, c.key, c.head, c.tail, c.doc_count) for c in f.categories])
           for f in ds.facets.fields]
    assert got == expected_facets(rows, head_boundary)
    for f in ds.facets.fields:
        # Each name's blob offset points at its own bytes (the reader decoded
        # names through them); here: the field name precedes its categories.
        assert all(c.name_offset > f.name_offset for c in f.categories)
        for c in f.categories:
            # Empty halves are the 8-byte empty serialization, never absent.
            if not c.head:
                assert c.head_raw == EMPTY_ROARING
            if not c.tail:
                assert c.tail_raw == EMPTY_ROARING

    assert isinstance(stats, vellum.BuildStats)
    assert (stats.docs, stats.ngrams, stats.fields) == (
        len(rows), len(postings), len(ds.facets.fields))
    assert repr(stats) == (
        f"BuildStats(docs={len(rows)}, ngrams={len(postings)}, fields={len(ds.facets.fields)})")
    return ds


def build(rows, out_dir, **kwargs):
    builder = vellum.Builder(**kwargs)
    for row in rows:
        builder.add(*row)
    return builder.build(str(out_dir))


# --------------------------------------------------------------------------
# The reference facet key


def test_reference_facet_key():
    # Fixed points of the key: empty names, and a folded field name.
    assert facet_key("", "") == 0xAF63D24C8601DB8E
    assert facet_key("year", "2020") == 0xF0B1E81F6D8417B9
    assert facet_key("Year", "2020") == 0xF0B1E81F6D8417B9
    assert facet_key("Year", "2020", fold_case=False) != 0xF0B1E81F6D8417B9
    # Full lowercase with the final-sigma rule.
    assert facet_key("f", "ΟΔΟΣ") == facet_key("f", "οδος") != facet_key("f", "οδοσ")


# --------------------------------------------------------------------------
# Small datasets


MIXED_ROWS = [
    (10, "The quick brown fox", b"fox", {"colour": ["brown"], "Café": ["Noir"]}),
    (10, "jumps over the lazy dog", b"", {"colour": ["brown", "black", "brown"]}),
    (-3, "", b"empty text", None),
    (0, "?!... --- \t", b"punctuation only", {}),
    (10, "The quick brown fox", b"same text, tied rank", {"CAFÉ": ["Noir"]}),
    (2**63 - 1, "Größe straße ΟΔΟΣ", b"\x00\xff\x00", {
        "greek": ["ΟΔΟΣ", "οδος", "οδοσ"], "letters": ["Ωmega", "ωmega", "alpha"]}),
    (-(2**63), "last of all", bytearray(b"bytearray record"), {"empty": []}),
    (-3, "tie at minus three", [1, 2, 3, 255], {"colour": ["black"], "greek": ["ΟΔΟΣ"]}),
    (7, "e-mail café naïve façade 東京タワー 123 4567", b"mixed scripts",
     {"letters": [chr(c) for c in range(0x61, 0x61 + 20)], "empty": []}),
]


def test_mixed_dataset_matches_input(tmp_path):
    stats = build(MIXED_ROWS, tmp_path / "ds")
    ds = check_dataset(tmp_path / "ds", MIXED_ROWS, stats)

    fields = {f.name: f for f in ds.facets.fields}
    # Byte order of field names: uppercase before lowercase, ASCII before
    # the two-byte É.
    assert [f.name for f in ds.facets.fields] == [
        "CAFÉ", "Café", "colour", "empty", "greek", "letters"]
    # Field names that fold together give the same key but stay distinct,
    # each under its own stored spelling.
    assert fields["CAFÉ"].categories[0].key == fields["Café"].categories[0].key
    # A field with only empty category lists is written and counted.
    empty = fields["empty"]
    assert empty.categories == []
    assert empty.first == fields["colour"].first + len(fields["colour"].categories)
    # Names that fold together (final sigma included) share a key and keep
    # their own entries, in byte order of the names.
    greek = [(c.name, c.key) for c in fields["greek"].categories]
    same = [n for n, k in greek if k == facet_key("greek", "οδος")]
    assert same == ["ΟΔΟΣ", "οδος"]
    # With twenty categories, key order differs from name order, so this
    # dataset exercises the per-field key sort and the name-ordered blob.
    letters = [c.name for c in fields["letters"].categories]
    assert letters != sorted(letters, key=lambda s: s.encode())
    # The two identical texts (ids 1 and 3, around the tied row of rank 10)
    # share every posting.
    assert ds.records[1:4] == [b"fox", b"", b"same text, tied rank"]
    fox = vellum.tokenize("The quick brown fox")
    assert all({1, 3} <= set(ds.index.postings[k]) for k in fox)


def test_ranks_order_documents(tmp_path):
    rows = [(5, "a", b"r0", None), (9, "b", b"r1", None),
            (5, "c", b"r2", None), (-1, "d", b"r3", None)]
    stats = build(rows, tmp_path, gram_size=1)
    ds = check_dataset(tmp_path, rows, stats, gram_size=1)
    # Staged records get ids 1, 0, 2, 3.
    assert ds.records == [b"r1", b"r0", b"r2", b"r3"]
    assert ds.index.postings[ord("a")] == [1]


def test_empty_builder(tmp_path):
    stats = vellum.Builder().build(str(tmp_path))
    assert repr(stats) == "BuildStats(docs=0, ngrams=0, fields=0)"
    assert (tmp_path / "index.vls").read_bytes() == b"VLSI" + struct.pack("<HHII", 3, 3, 0, 512)
    assert (tmp_path / "records.bin").read_bytes() == b""
    assert (tmp_path / "records.idx").read_bytes() == (
        b"VLSR" + struct.pack("<HHII", 1, 0, 0, 0) + struct.pack("<Q", 0))
    assert (tmp_path / "index.vlf").read_bytes() == (
        b"VLSF" + struct.pack("<HHIIII", 1, 0, 0, 0, 0, 0))
    assert sorted(p.name for p in tmp_path.iterdir()) == [
        "index.vlf", "index.vls", "records.bin", "records.idx"]


def test_record_offsets(tmp_path):
    rows = [(3, "x", b"abc", None), (2, "y", b"", None), (1, "z", b"defgh", None)]
    build(rows, tmp_path)
    idx = (tmp_path / "records.idx").read_bytes()
    assert struct.unpack_from("<4Q", idx, 16) == (0, 3, 3, 8)
    assert (tmp_path / "records.bin").read_bytes() == b"abcdefgh"


@pytest.mark.parametrize("gram_size,effective", [(0, 1), (1, 1), (2, 2), (5, 5), (9, 9)])
def test_gram_sizes(tmp_path, gram_size, effective):
    rows = [(1, "Hello, World! naïve façades", b"a", None),
            (2, "abcdefghijklmnop", b"b", None)]
    stats = build(rows, tmp_path, gram_size=gram_size)
    check_dataset(tmp_path, rows, stats, gram_size=effective)


def test_facets_empty_dict_and_empty_list(tmp_path):
    rows = [(1, "a", b"", {}), (2, "b", b"", None)]
    stats = build(rows, tmp_path / "none")
    assert stats.fields == 0
    assert (tmp_path / "none" / "index.vlf").read_bytes() == (
        b"VLSF" + struct.pack("<HHIIII", 1, 0, 0, 0, 0, 0))

    rows = [(1, "a", b"", {"tags": []}), (2, "b", b"", {"year": ["2020"]})]
    stats = build(rows, tmp_path / "one")
    ds = check_dataset(tmp_path / "one", rows, stats)
    assert stats.fields == 2
    assert ds.facets.fields[0].name == "tags" and ds.facets.fields[0].categories == []
    assert ds.facets.fields[1].first == 0
    assert ds.facets.fields[1].categories[0].key == 0xF0B1E81F6D8417B9


def test_out_dir_parents_are_created(tmp_path):
    rows = [(1, "nested", b"n", None)]
    stats = build(rows, tmp_path / "a" / "b" / "c")
    check_dataset(tmp_path / "a" / "b" / "c", rows, stats)


# --------------------------------------------------------------------------
# Building more than once


def test_second_build_after_adding_shifts_ids(tmp_path):
    rows = [(5, "alpha beta", b"five", {"k": ["x"]}),
            (1, "gamma delta", b"one", {"k": ["y"]})]
    builder = vellum.Builder()
    for row in rows:
        builder.add(*row)
    out = tmp_path / "ds"
    first = check_dataset(out, rows, builder.build(str(out)))
    assert first.records == [b"five", b"one"]

    # Building again without changes rewrites the same bytes.
    builder.build(str(out))
    assert read_dataset(out).files == first.files

    extra = (3, "alpha omega", b"three", {"k": ["x", "z"]})
    builder.add(*extra)
    second = check_dataset(out, rows + [extra], builder.build(str(out)))
    assert second.records == [b"five", b"three", b"one"]
    assert second.index.postings[vellum.tokenize("gamma")[0]] == [2]


def test_rebuild_into_directory_with_larger_dataset_truncates(tmp_path):
    big = [(i, f"document number {i} with words", bytes(100), {"n": [str(i)]})
           for i in range(300)]
    build(big, tmp_path)
    small = [(1, "tiny", b"t", None)]
    stats = build(small, tmp_path)
    check_dataset(tmp_path, small, stats)


def test_failed_build_keeps_staged_records(tmp_path):
    rows = [(2, "kept across a failure", b"k", {"f": ["a"]}),
            (4, "second record", b"s", None)]
    builder = vellum.Builder()
    for row in rows:
        builder.add(*row)
    blocker = tmp_path / "file"
    blocker.write_bytes(b"not a directory")
    with pytest.raises(OSError) as info:
        builder.build(str(blocker / "sub"))
    assert str(info.value) == "Not a directory (os error 20)"
    assert blocker.read_bytes() == b"not a directory"

    stats = builder.build(str(tmp_path / "good"))
    check_dataset(tmp_path / "good", rows, stats)
    build(rows, tmp_path / "fresh")
    assert read_dataset(tmp_path / "good").files == read_dataset(tmp_path / "fresh").files


def test_failed_file_creation_leaves_earlier_files(tmp_path):
    rows = [(1, "index first", b"r", {"f": ["c"]})]
    (tmp_path / "index.vlf").mkdir()
    builder = vellum.Builder()
    builder.add_many(rows)
    with pytest.raises(OSError) as info:
        builder.build(str(tmp_path))
    assert str(info.value) == "Is a directory (os error 21)"
    # index.vls was written before the sidecar and is complete; the record
    # store comes after and is not created.
    index = read_text_index((tmp_path / "index.vls").read_bytes())
    assert index.postings == expected_postings(rows, 3)
    assert not (tmp_path / "records.bin").exists()
    assert not (tmp_path / "records.idx").exists()


def test_add_many_matches_add(tmp_path):
    rows = [(i % 7 - 3, f"row {i} text {'ab' * (i % 5)}", [i % 256] * (i % 4),
             {"m": [str(i % 3)]} if i % 2 else None) for i in range(250)]
    build(rows, tmp_path / "add")
    many = vellum.Builder()
    many.add_many(rows[:100])
    many.add_many([])
    many.add_many(tuple(rows[100:]))
    stats = many.build(str(tmp_path / "many"))
    check_dataset(tmp_path / "many", rows, stats)
    assert read_dataset(tmp_path / "many").files == read_dataset(tmp_path / "add").files


def test_add_many_texts_of_every_width(tmp_path):
    # Runs of ASCII and of two-, three- and four-byte characters, of every
    # length around the sixteen characters the conversion takes at a time,
    # at every offset: the index must be that of the same texts tokenized.
    pieces = ["ab", "é", "東京", "😀", "x" * 15, "Ωmega", "タワー" * 6, " ", "𝒜b"]
    rows = []
    for i in range(200):
        text = "".join(pieces[(i * 7 + k * (i % 5 + 1)) % len(pieces)] * (1 + (i + k) % 3)
                       for k in range(i % 17))
        rows.append((i % 11, text, b"r%d" % i, None))
    many = vellum.Builder()
    many.add_many(rows)
    stats = many.build(str(tmp_path / "many"))
    check_dataset(tmp_path / "many", rows, stats)


class _Seq:
    """A sequence that is neither a list nor a tuple."""

    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class _Rank:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


def test_add_many_every_argument_shape_matches_add(tmp_path):
    """Rows staged straight from the interpreter's buffers and rows taken the
    general way (other sequences, index objects) give the same dataset."""
    rows = [
        (3, "plain ascii", b"bytes", {"f": ["a", "b"], "g": []}),
        (True, "ünïcödé 漢字テキスト", bytearray(b"ba"), {"f": ("a",)}),
        (_Rank(-2), "", [1, 2, 255], {"f": _Seq(["c", "a"])}),
        (2**62, "x" * 5000, b"", {"h": _Seq([])}),
        (0, "tail", _Seq([0, 7]), None),
    ]
    one = vellum.Builder()
    for r in rows:
        one.add(*r)
    one.build(str(tmp_path / "add"))
    many = vellum.Builder()
    many.add_many(rows)
    stats = many.build(str(tmp_path / "many"))
    assert stats.fields == 3
    assert read_dataset(tmp_path / "many").files == read_dataset(tmp_path / "add").files


def test_failed_add_many_leaves_no_trace(tmp_path):
    """A batch that fails at its last row stages nothing of its earlier rows,
    their texts, records or facet names; later batches build as if it had
    never been tried."""
    good = [(i, f"good {i}", b"g%d" % i, {"f": [str(i % 2)]}) for i in range(5)]
    fresh = [(9, "fresh", b"new", {"new": ["x"]})]
    b = vellum.Builder()
    b.add_many(good)
    bad = [(100 + i, "bad " * 50, b"b" * 100, {"bad": [str(i)], "f": ["9"]})
           for i in range(3000)]
    for last in [(1, "t", "not bytes", None), (1, "t", b"", {"f": "str"}),
                 (1, "t", b"", {"f": _Seq([1])}), (1, "t", b"", {5: []}), (1, "t")]:
        with pytest.raises((TypeError, ValueError)):
            b.add_many(bad + [last])
    b.add_many(fresh)
    stats = b.build(str(tmp_path / "tried"))
    assert stats.docs == 6 and stats.fields == 2

    clean = vellum.Builder()
    clean.add_many(good)
    clean.add_many(fresh)
    clean.build(str(tmp_path / "clean"))
    assert read_dataset(tmp_path / "tried").files == read_dataset(tmp_path / "clean").files


# --------------------------------------------------------------------------
# More than 65536 documents: head and tail both hold ids, bitmap containers


def _word(i):
    letters = "abcdefghijklmnopqrstuvwxyz"
    out = ""
    for _ in range(4):
        out += letters[i % 26]
        i //= 26
    return out


@pytest.fixture(scope="module")
def large_rows():
    state = 12345
    rows = []
    for i in range(70000):
        state = (state * 6364136223846793005 + 1442695040888963407) & (2**64 - 1)
        rank = (state >> 40) % 5000 - 2500  # many ties, both signs
        facets = {"kind": ["common"] if i % 10 else ["rare"], "bucket": [str(i % 3)]}
        if i % 1000 == 0:
            facets["sparse"] = ["hit"]
        rows.append((rank, f"common {_word(i)}", i.to_bytes(3, "little"), facets))
    return rows


@pytest.fixture(scope="module")
def large_builder(large_rows):
    builder = vellum.Builder(head_boundary=0)
    builder.add_many(large_rows)
    return builder


def test_large_dataset_head_and_tail(tmp_path, large_rows, large_builder):
    out = tmp_path / "hb0"
    stats = large_builder.build(str(out))
    ds = check_dataset(out, large_rows, stats, head_boundary=65536)

    # The shared n-gram spans two containers; the first is a bitmap.
    common = ds.index.raw[vellum.tokenize("common")[0]]
    assert roaring_container_kinds(common) == ["bitmap", "bitmap"]
    assert decode_roaring(common) == list(range(70000))

    kinds = {c.name: c for c in ds.facets.fields[1].categories}
    assert ds.facets.fields[1].name == "kind"
    common_cat = kinds["common"]
    assert common_cat.head and common_cat.tail
    assert roaring_container_kinds(common_cat.head_raw) == ["bitmap"]
    assert min(common_cat.tail) >= 65536 and max(common_cat.head) < 65536
    # The tail keeps absolute ids: its one container has key 1.
    assert struct.unpack_from("<H", common_cat.tail_raw, 8)[0] == 1

    # head_boundary 0 and the default 65536 write the same bytes.
    default = vellum.Builder()
    default.add_many(large_rows)
    default.build(str(tmp_path / "default"))
    assert read_dataset(tmp_path / "default").files == ds.files


def test_large_dataset_head_boundary_131072(tmp_path, large_rows):
    builder = vellum.Builder(head_boundary=131072)
    builder.add_many(large_rows)
    stats = builder.build(str(tmp_path))
    ds = check_dataset(tmp_path, large_rows, stats, head_boundary=131072)
    for fld in ds.facets.fields:
        for cat in fld.categories:
            assert cat.tail_raw == EMPTY_ROARING
    kinds = {c.name: c for c in ds.facets.fields[1].categories}
    head_kinds = roaring_container_kinds(kinds["common"].head_raw)
    assert len(head_kinds) == 2 and head_kinds[0] == "bitmap"
