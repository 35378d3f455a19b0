"""Split sets built shard by shard on a local Dask cluster of two worker
processes and merged by their manifests: every key's global ids must be
those of one SplitSetBuilder over the same documents in order."""

from __future__ import annotations

import json
from pathlib import Path

import pytest

pytest.importorskip("distributed")
vellum = pytest.importorskip("vellum")

from splitset_reader import TLV_BLOOM, read_bloom, read_manifest, read_split_set  # noqa: E402
from vellum_cli import ok, run  # noqa: E402
from vellum_tools import scaleout, shards  # noqa: E402
from vellum_tools._native import write_manifest  # noqa: E402
from vellum_tools.errors import ToolError  # noqa: E402
from vellum_tools.manifest_merge import MergeError, merge_manifests  # noqa: E402

import scaleout_tasks  # noqa: E402

LICENSES = Path("/usr/share/common-licenses")
DOCS = 52_000
OPTIONS = dict(byte_cap=96 * 1024, byte_cap_max=384 * 1024, gram_size=3)


def license_documents(count: int) -> list[str]:
    """Windows of 4..19 words at drawn offsets into Debian's license texts."""
    words = []
    for path in sorted(LICENSES.iterdir()):
        if path.is_file():
            words.extend(path.read_text(encoding="utf-8", errors="replace").split())
    assert len(words) > 10_000
    state, docs = 0x5EED, []
    while len(docs) < count:
        state = (state * 6364136223846793005 + 1442695040888963407) & ((1 << 64) - 1)
        start, length = (state >> 20) % len(words), 4 + (state >> 10) % 16
        docs.append(" ".join(words[start:start + length]))
    return docs


@pytest.fixture(scope="module")
def client():
    c = scaleout.connect(2, None)
    yield c
    scaleout.close(c)


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    texts = license_documents(DOCS)
    path = tmp_path_factory.mktemp("corpus") / "docs.jsonl"
    with open(path, "w", encoding="utf-8") as f:
        for t in texts:
            f.write(json.dumps({"text": t}) + "\n")
    return texts, path


def global_postings(directory) -> dict[int, list[int]]:
    ids: dict[int, list[int]] = {}
    for split in read_split_set(directory).splits:
        first = split.record.first_id
        for key, local in split.body.postings.items():
            ids.setdefault(key, []).extend(first + i for i in local)
    return ids


@pytest.fixture(scope="module")
def reference(corpus, tmp_path_factory):
    texts, _ = corpus
    out = tmp_path_factory.mktemp("single")
    b = vellum.SplitSetBuilder(name_prefix="one", **OPTIONS)
    for t in texts:
        b.add(t)
    b.build(str(out))
    return global_postings(out)


@pytest.fixture(scope="module")
def parallel(client, corpus, tmp_path_factory):
    _, path = corpus
    out = tmp_path_factory.mktemp("parallel")
    plan = shards.plan([str(path)], None, 3)
    job = scaleout.SplitJob(builder_options=OPTIONS, name_prefix="par")
    result = scaleout.build_split_set(client, plan, job, str(out))
    return plan, job, out, result


def test_parallel_build_gives_the_single_process_ids(parallel, reference):
    plan, _, out, result = parallel
    assert len(plan) == 3 and result.docs == DOCS
    merged = global_postings(out)
    assert merged.keys() == reference.keys()
    for key, ids in reference.items():
        assert merged[key] == ids, f"key {key:#x}"

    m = read_manifest((out / "index.vlss").read_bytes())
    assert m.base_count == len(m.splits) == result.splits
    # Tiers restart at 0 in every shard; the set has as many as its longest shard.
    per_shard: dict[str, list[int]] = {}
    for s in m.splits:
        per_shard.setdefault(s.name.split("-s")[0], []).append(s.tier)
    assert sorted(per_shard) == ["par-p00000", "par-p00001", "par-p00002"]
    assert all(t == list(range(len(t))) for t in per_shard.values())
    assert m.tier_count == max(len(t) for t in per_shard.values())
    assert m.flags == 0x01 and m.gram_size == 3 and m.byte_cap == OPTIONS["byte_cap"]


def test_merged_set_passes_verify(parallel):
    _, _, out, _ = parallel
    assert ok(run("verify", out)).stdout.strip() == "ok"


def test_merged_blooms_cover_their_splits(parallel):
    _, _, out, _ = parallel
    for split in read_split_set(out).splits:
        bloom = read_bloom(split.summary[TLV_BLOOM])
        assert all(bloom.may_contain(k) for k in split.body.postings)


def test_failing_shard_is_retried_with_the_same_result(client, parallel, tmp_path):
    plan, job, out, result = parallel
    marker = tmp_path / "failed-once"
    again = tmp_path / "again"
    flaky = scaleout_tasks.FailOnce(str(marker), shard=1)
    retried = scaleout.build_split_set(client, plan, job, str(again), task=flaky)
    assert marker.exists(), "the injected failure did not happen"
    assert retried.manifest == result.manifest
    for name in sorted(p.name for p in out.iterdir()):
        assert (again / name).read_bytes() == (out / name).read_bytes(), name


def test_a_shard_that_keeps_failing_leaves_no_manifest(client, parallel, tmp_path):
    plan, job, _, _ = parallel
    out = tmp_path / "broken"
    with pytest.raises(ToolError, match=r"shard 1 .* failed: .*no manifest was written"):
        scaleout.build_split_set(client, plan, job, str(out),
                                 task=scaleout_tasks.AlwaysFail(shard=1), retries=1)
    assert not (out / "index.vlss").exists()


def test_byte_ranges_start_at_line_ends_and_cover_the_file(tmp_path):
    path = tmp_path / "rows.jsonl"
    rows = [json.dumps({"text": "x" * (i * 37 % 300)}) for i in range(200)]
    data = ("\n".join(rows)).encode()  # no final line end
    path.write_bytes(data)
    for pieces in (1, 2, 7, 500):
        plan = shards.plan([str(path)], None, pieces)
        assert plan[0].start == 0 and plan[-1].end in (None, len(data))
        ends = [s.end if s.end is not None else len(data) for s in plan]
        assert [s.start for s in plan[1:]] == ends[:-1]
        assert all(data[s.start - 1:s.start] == b"\n" for s in plan[1:])
        assert len(plan) <= min(pieces, len(rows))
    compressed = tmp_path / "rows.jsonl.gz"
    compressed.write_bytes(b"")
    assert len(shards.plan([str(compressed)], None, 4)) == 1


def shard_manifest(tmp_path, name, texts, **options) -> bytes:
    b = vellum.SplitSetBuilder(name_prefix=name, **options)
    for t in texts:
        b.add(t)
    b.build(str(tmp_path / name), manifest_name="m")
    return (tmp_path / name / "m.vlss").read_bytes()


def test_merge_refuses_shards_that_disagree(tmp_path):
    texts = ["alpha beta", "gamma delta", "epsilon"]
    base = shard_manifest(tmp_path, "a", texts)
    for options, words in ((dict(gram_size=4), "gram size"),
                           (dict(case_sensitive=True), "case sensitivity"),
                           (dict(bloom_bits_per_key=0), "Bloom summaries"),
                           (dict(byte_cap=1 << 20), "byte cap")):
        other = shard_manifest(tmp_path, f"b{len(words)}", texts, **options)
        with pytest.raises(MergeError, match=f"shard 1 disagrees with shard 0 on {words}"):
            merge_manifests([base, other])
    terms = write_manifest([], dict(body_kind=1, gram_size=3, flags=0x01,
                                    byte_cap=33554432))
    with pytest.raises(MergeError, match="on body kind"):
        merge_manifests([base, terms])
    with pytest.raises(MergeError, match="unreadable manifest"):
        merge_manifests([base, b"VLSS"])


def test_merge_refuses_more_than_2_to_the_32_documents():
    def one_split(count):
        split = dict(name="s.vls", doc_count=count, first_id=0, last_id=count - 1)
        return write_manifest([split], dict(base_count=1, gram_size=3))
    exactly = merge_manifests([one_split(1 << 31), one_split(1 << 31)])
    assert exactly[1] == 1 << 32
    assert read_manifest(exactly[0]).splits[1].last_id == (1 << 32) - 1
    with pytest.raises(MergeError, match="more than 2\\^32 documents"):
        merge_manifests([one_split(1 << 31), one_split(1 << 31), one_split(1)])


def test_merge_shifts_ids_and_keeps_facets_of_any_shard(tmp_path):
    a = shard_manifest(tmp_path, "a", ["one", "two"])
    b = vellum.SplitSetBuilder(name_prefix="f")
    b.add_faceted("three", {"lang": ["en"]})
    b.build(str(tmp_path / "f"), manifest_name="m")
    merged, docs = merge_manifests([a, (tmp_path / "f" / "m.vlss").read_bytes(), a])
    m = read_manifest(merged)
    assert docs == 5 and m.flags == 0x03
    assert [(s.first_id, s.last_id) for s in m.splits] == [(0, 1), (2, 2), (3, 4)]
    assert m.tier_count == 1 and m.base_count == 3
    delta = write_manifest([dict(name="d.vls", doc_count=1, first_id=0, last_id=0)],
                           dict(base_count=0, gram_size=3, flags=0x01, byte_cap=33554432))
    with pytest.raises(MergeError, match="only batch-built split sets"):
        merge_manifests([a, delta])


def test_cli_workers_by_input_files(tmp_path, corpus):
    texts, _ = corpus
    parts = []
    for i in range(3):
        p = tmp_path / f"part{i}.jsonl"
        p.write_text("".join(json.dumps({"text": t}) + "\n" for t in texts[i * 700:(i + 1) * 700]))
        parts.append(p)
    result = ok(run("splits", *parts, "-o", tmp_path / "par", "--workers", "2",
                    "--byte-cap", "16KiB"))
    assert "shards" in result.stdout and "merge ms" in result.stdout
    ok(run("splits", *parts, "-o", tmp_path / "one", "--byte-cap", "16KiB"))
    assert global_postings(tmp_path / "par") == global_postings(tmp_path / "one")
    message = run("splits", parts[0], "-o", tmp_path / "r", "--workers", "2", "--rank", "r")
    assert message.returncode == 1 and "--rank cannot be combined" in message.stderr


@pytest.mark.skipif(not hasattr(vellum, "TermSplitSetBuilder"),
                    reason="this build of vellum has no TermSplitSetBuilder yet")
def test_term_splits_in_parallel(client, corpus, tmp_path):
    from term_reader import read_term_index

    texts, path = corpus
    options = dict(byte_cap=256 * 1024, language="english")
    job = scaleout.SplitJob(terms=True, builder_options=options, name_prefix="t")
    result = scaleout.build_split_set(client, shards.plan([str(path)], None, 2), job,
                                      str(tmp_path / "par"))
    single = vellum.TermSplitSetBuilder(name_prefix="one", **options)
    for t in texts:
        single.add(t)
    single.build(str(tmp_path / "one"))

    def global_terms(directory):
        terms: dict[bytes, list[int]] = {}
        m = read_manifest((directory / "index.vlss").read_bytes())
        assert m.body_kind == 1
        for s in m.splits:
            index = read_term_index((directory / s.name).read_bytes())
            for term, (head, tail) in index.terms.items():
                terms.setdefault(term, []).extend(s.first_id + i for i in head + tail)
        return terms
    assert result.docs == DOCS and result.splits > 2
    assert global_terms(tmp_path / "par") == global_terms(tmp_path / "one")
    assert ok(run("verify", tmp_path / "par")).stdout.strip() == "ok"
