"""SplitSetWriter: flush, resume and compaction, checked through the
independent split-set reader against a model of the live documents."""
import random
import struct

import pytest
import vellum

from dataset_reader import decode_roaring, read_text_index, roaring_container_kinds
from splitset_reader import (FLAG_BLOOM, FLAG_CASE_SENSITIVE, FLAG_TOMBSTONES, TLV_BLOOM,
                             TLV_TOMBSTONES, read_manifest, read_summary)

WORDS = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "theta", "kappa", "lambda"]


def random_text(rng):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randrange(6)))


class Store:
    """What a caller keeps: split files by name and the current manifest."""

    def __init__(self):
        self.files = {}
        self.manifest = None

    def flushed(self, result):
        name, body, manifest = result
        self.files[name] = body
        self.manifest = manifest

    def compacted(self, result):
        name, body, manifest, removed = result
        self.files[name] = body
        self.manifest = manifest
        for r in removed:
            self.files.pop(r, None)

    def live_keys(self):
        """id -> set of keys over every split, minus every tombstone."""
        m = read_manifest(self.manifest)
        postings, deleted = {}, set()
        for rec in m.splits:
            summary = dict(read_summary(rec.summary))
            if TLV_TOMBSTONES in summary:
                deleted |= set(decode_roaring(summary[TLV_TOMBSTONES]))
            body = read_text_index(self.files[rec.name])
            assert rec.size_bytes == len(self.files[rec.name])
            shift = 0 if rec.split_flags & 2 else rec.first_id
            for key, ids in body.postings.items():
                for i in ids:
                    postings.setdefault(i + shift, set()).add(key)
        return {i: keys for i, keys in postings.items() if i not in deleted}


def expected_keys(live_texts):
    out = {}
    for i, text in live_texts.items():
        keys = set(vellum.tokenize(text))
        if keys:
            out[i] = keys
    return out


def test_lifecycle_base_resume_flush_delete_compact_resume(tmp_path):
    rng = random.Random(7)
    base_texts = [random_text(rng) for _ in range(300)]
    b = vellum.SplitSetBuilder(byte_cap=2000, name_prefix="corpus", policy="stable_key")
    for t in base_texts:
        b.add(t)
    b.build(str(tmp_path), manifest_name="index")
    store = Store()
    store.manifest = (tmp_path / "index.vlss").read_bytes()
    for rec in read_manifest(store.manifest).splits:
        store.files[rec.name] = (tmp_path / rec.name).read_bytes()
    base_count = read_manifest(store.manifest).base_count
    live = dict(enumerate(base_texts))
    assert store.live_keys() == expected_keys(live)

    w = vellum.SplitSetWriter.resume(store.manifest, name_prefix="corpus")
    assert w.doc_count() == 300
    for round_ in range(4):
        for _ in range(50):
            text = random_text(rng)
            live[w.add(text)] = text
        for victim in rng.sample(sorted(live), 15):
            w.delete(victim)
            del live[victim]
        store.flushed(w.flush())
        assert store.live_keys() == expected_keys(live)
    m = read_manifest(store.manifest)
    assert [s.name for s in m.splits[base_count:]] == [f"corpus-d{i:05d}.vls" for i in range(4)]
    assert m.flags & FLAG_TOMBSTONES

    deltas = [s.name for s in m.splits[base_count:]]
    store.compacted(w.compact([(n, store.files[n]) for n in deltas[:3]]))
    assert store.live_keys() == expected_keys(live)
    m = read_manifest(store.manifest)
    assert [s.name for s in m.splits[base_count:]] == ["corpus-d00003.vls", "corpus-c00000.vls"]

    w2 = vellum.SplitSetWriter.resume(store.manifest, name_prefix="corpus")
    assert w2.doc_count() == w.doc_count()
    text = "fresh document"
    live[w2.add(text)] = text
    name, body, manifest = w2.flush()
    assert name == "corpus-d00004.vls"
    store.flushed((name, body, manifest))
    assert store.live_keys() == expected_keys(live)
    # A compacted split compacted again keeps its ids as they are.
    store.compacted(w2.compact([("corpus-c00000.vls", store.files["corpus-c00000.vls"]),
                                ("corpus-d00004.vls", body)]))
    assert store.live_keys() == expected_keys(live)
    assert read_manifest(store.manifest).splits[-1].name == "corpus-c00001.vls"


def test_flush_of_deletions_only_and_memtable_size():
    w = vellum.SplitSetWriter()
    assert w.flush() is None
    assert w.memtable_bytes() == 20
    w.add("abcd")  # keys abc, bcd
    one = 8 + 8 + 2  # portable size of a one-id set
    assert w.memtable_bytes() == 2 * (one + 8) + 48 + 8 + 20
    w.flush()
    w.delete(5)
    w.delete(5)
    name, body, manifest = w.flush()
    rec = read_manifest(manifest).splits[-1]
    assert name == "split-d00001.vls"
    assert (rec.doc_count, rec.first_id, rec.last_id, rec.split_flags) == (0, 1, 1, 1)
    summary = read_summary(rec.summary)
    assert [k for k, _ in summary] == [TLV_TOMBSTONES]
    assert decode_roaring(summary[0][1]) == [5]
    assert read_manifest(manifest).flags == FLAG_BLOOM | FLAG_TOMBSTONES
    assert read_text_index(body).postings == {}


def test_memtable_bytes_tracks_containers_and_bitmaps():
    w = vellum.SplitSetWriter(stride=4)
    for _ in range(65536 + 4100):  # one key "aaa": two bitmap containers
        w.add("aaa")
    w.add("bbb")
    for _ in range(10):  # and an array in the second window
        w.add("aaa")
    size = 8 + 2 * 8 + 8192 + 8192
    assert w.memtable_bytes() == size + 8 + (8 + 8 + 2) + 8 + 2 * 24 + 8 + 20
    w = vellum.SplitSetWriter(stride=4)
    for _ in range(65536 + 10):
        w.add("aaa")
    size = 8 + 2 * 8 + 8192 + 2 * 10
    assert w.memtable_bytes() == size + 8 + 24 + 8 + 20
    body = w.flush()[1]
    assert len(read_text_index(body).raw[0x616161]) == size


def test_resume_rules(tmp_path):
    w = vellum.SplitSetWriter(name_prefix="p", case_sensitive=True, tier_count=3,
                              sortcol=("r", 2, False), byte_cap=1234)
    w.add("Hello")
    w.flush()
    w.delete(0)
    manifest = w.flush()[2]
    r = vellum.SplitSetWriter.resume(manifest, name_prefix="p")
    assert r.doc_count() == 1
    r.add("Hello")
    name, body, manifest2 = r.flush()
    assert name == "p-d00002.vls"
    m = read_manifest(manifest2)
    assert m.flags & FLAG_CASE_SENSITIVE and read_text_index(body).version == 4
    assert (m.tier_count, m.sortcol, m.byte_cap) == (3, ("r", 2, False), 1234)
    assert [s.epoch for s in m.splits] == [1, 2, 3]
    # Another prefix numbers its own splits from 0.
    assert vellum.SplitSetWriter.resume(manifest2, name_prefix="q").flush() is None
    with pytest.raises(ValueError, match="malformed index"):
        vellum.SplitSetWriter.resume(b"VLSS")


def test_resume_after_compaction_skips_deleted_top_ids():
    w = vellum.SplitSetWriter()
    for t in ["one doc", "two doc", "three doc"]:
        w.add(t)
    w.flush()
    w.delete(1)
    w.delete(2)
    _, body1, _ = w.flush()
    # The caller kept every body; compact the first delta with the carrier.
    w2 = vellum.SplitSetWriter()
    for t in ["one doc", "two doc", "three doc"]:
        w2.add(t)
    _, body0, _ = w2.flush()
    _, _, manifest, _ = w.compact([("split-d00000.vls", body0), ("split-d00001.vls", body1)])
    rec = read_manifest(manifest).splits[-1]
    assert (rec.doc_count, rec.first_id, rec.last_id, rec.split_flags) == (1, 0, 0, 3)
    r = vellum.SplitSetWriter.resume(manifest)
    assert r.doc_count() == 3  # ids 1 and 2 are tombstoned: never handed out again
    assert r.add("new") == 3


def test_compaction_edge_cases():
    w = vellum.SplitSetWriter(case_sensitive=True)
    w.add("ABC abc")
    _, d0, _ = w.flush()
    w.add("XYZ")
    w.delete(0)
    _, d1, _ = w.flush()
    with pytest.raises(IOError, match="VLSS compact: nope.vls not in manifest"):
        w.compact([("nope.vls", d0)])
    with pytest.raises(IOError, match="input is not an VLS split"):
        w.compact([("split-d00000.vls", b"VLSX" + d0[4:])])
    with pytest.raises(IOError, match="truncated dictionary"):
        w.compact([("split-d00000.vls", d0[:30])])
    bad = bytearray(d0)
    struct.pack_into("<Q", bad, 18 + 8 + 8, len(d0))  # first entry's offset past the end
    with pytest.raises(IOError, match="posting out of range"):
        w.compact([("split-d00000.vls", bytes(bad))])
    name, body, manifest, removed = w.compact([("split-d00000.vls", d0)] * 2 +
                                              [("split-d00001.vls", d1)])
    assert removed == ["split-d00000.vls", "split-d00000.vls", "split-d00001.vls"]
    idx = read_text_index(body)
    assert idx.version == 4
    assert idx.postings == {int.from_bytes(b"XYZ", "big"): [1]}
    m = read_manifest(manifest)
    assert [s.name for s in m.splits] == ["split-c00000.vls"]
    assert m.splits[0].epoch == 2 and m.flags & FLAG_CASE_SENSITIVE
    empty = w.compact([])
    assert empty[0] == "split-c00001.vls" and empty[3] == []
    rec = read_manifest(empty[2]).splits[-1]
    assert (rec.doc_count, rec.first_id, rec.last_id, rec.split_flags, rec.epoch) == (0, 0, 0, 2, 3)
    assert read_summary(rec.summary) == []


def test_compaction_accepts_run_containers_and_writes_none():
    w = vellum.SplitSetWriter()
    w.add("abc")
    _, d0, manifest = w.flush()
    idx = read_text_index(d0)
    key = next(iter(idx.postings))
    # The same one-id set in the run layout: cookie 12347 with one
    # container, the run bitset, then one run (start 0, length 1).
    run = struct.pack("<IBHHHHH", 12347, 1, 0, 0, 1, 0, 0)
    header = d0[:16 + 8]
    entry = struct.pack("<QQI", key, len(header) + 20, len(run))
    _, body, _, _ = w.compact([("split-d00000.vls", header + entry + run)])
    out = read_text_index(body)
    assert out.postings == {key: [0]}
    assert roaring_container_kinds(out.raw[key]) == ["array"]
    # An array with unsorted values is refused, whatever CRoaring would do.
    bad = struct.pack("<IIHHIHH", 12346, 1, 0, 1, 16, 7, 3)
    entry = struct.pack("<QQI", key, len(header) + 20, len(bad))
    w = vellum.SplitSetWriter()
    w.add("abc")
    manifest = w.flush()[2]
    with pytest.raises(IOError, match="roaring deserialize"):
        w.compact([("split-d00000.vls", header + entry + bad)])
    # The failed compaction changed nothing.
    name, _, manifest, _ = w.compact([])
    assert name == "split-c00000.vls"
    assert [s.name for s in read_manifest(manifest).splits] == ["split-d00000.vls", name]


def test_resume_refuses_term_split_sets():
    w = vellum.SplitSetWriter()
    w.add("abc")
    manifest = bytearray(w.flush()[2])
    manifest[9] = 1  # body_kind
    with pytest.raises(ValueError, match="term split set"):
        vellum.SplitSetWriter.resume(bytes(manifest))


def test_resume_at_the_end_of_the_id_space():
    w = vellum.SplitSetWriter()
    w.delete(4294967295)
    manifest = w.flush()[2]
    r = vellum.SplitSetWriter.resume(manifest)
    assert r.doc_count() == 4294967296
    with pytest.raises(IOError, match="exhausted"):
        r.add("x")


def test_compaction_inputs_of_every_byte_type_give_the_same_split():
    rng = random.Random(11)
    w = vellum.SplitSetWriter()
    deltas, manifest = [], None
    for _ in range(3):
        for _ in range(50):
            w.add(random_text(rng))
        name, body, manifest = w.flush()
        deltas.append((name, body))
    results = []
    for kind in (bytes, bytearray, list):
        again = vellum.SplitSetWriter.resume(manifest)
        results.append(again.compact([(n, kind(b)) for n, b in deltas])[:3])
    assert results[0] == results[1] == results[2]
    with pytest.raises(TypeError):
        w.compact([(deltas[0][0], "not bytes")])
