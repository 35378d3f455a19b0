"""`vellum ingest`, `delete` and `compact` on a local store: the commit
order, recovery after the process is killed between any two steps, and
the writer lock.

The protocol tests run against the stand-in writer of fake_split_writer.py
(JSON manifest and splits) so that they can say exactly which documents
a reader of the store would see; the real writer is used as soon as the
module has it.
"""

import fcntl
import json
import os

import pytest

import vellum
from fake_split_writer import live_documents
from vellum_cli import failed, ok, run_crashing

TEXTS = [f"document {i} about topic {i % 5}" for i in range(40)]
STEPS = ["journal", "split", "manifest", "removed"]


def write_input(path, texts=TEXTS):
    path.write_text("".join(json.dumps({"text": t}) + "\n" for t in texts))
    return path


def fake(*args):
    return run_crashing("none", 0, "fake", *args)


def store_files(store):
    return sorted(p.name for p in store.iterdir())


def assert_clean(store, expected):
    """Every document exactly once, nothing dangling, no stray split."""
    docs, names = live_documents(store)
    assert sorted(docs.values()) == sorted(expected)
    extra = set(store_files(store)) - set(names) - {
        "index.vlss", "index.vlss.vellum.json", ".vellum-writer.lock"}
    assert not extra, f"unreferenced files left: {extra}"
    return docs


def test_ingest_flushes_and_resumes_from_the_store(tmp_path):
    store = tmp_path / "store"
    src = write_input(tmp_path / "a.jsonl")
    result = ok(fake("ingest", store, src, "--flush-bytes", "200"))
    docs = assert_clean(store, TEXTS)
    assert sorted(docs) == list(range(40))
    flushed = int(result.stdout.split("splits written")[1].split()[0])
    assert flushed > 3
    # The same inputs again are refused; new inputs continue the ids.
    assert "ingested into" in failed(fake("ingest", store, src))
    more = write_input(tmp_path / "b.jsonl", ["one more", "and another"])
    ok(fake("ingest", store, more))
    docs = assert_clean(store, TEXTS + ["one more", "and another"])
    assert docs[40] == "one more" and docs[41] == "and another"


@pytest.mark.parametrize("step", STEPS[:3])
@pytest.mark.parametrize("nth", [1, 3])
def test_ingest_killed_between_steps_resumes_without_loss(tmp_path, step, nth):
    store = tmp_path / "store"
    src = write_input(tmp_path / "a.jsonl")
    killed = run_crashing(step, nth, "fake", "ingest", store, src, "--flush-bytes", "200")
    assert killed.returncode == -9, killed.stderr
    result = ok(fake("ingest", store, src, "--flush-bytes", "200"))
    if nth > 1 or step == "manifest":
        assert "resuming an interrupted ingest" in result.stderr
    docs = assert_clean(store, TEXTS)
    assert sorted(docs) == list(range(40))


def test_delete_and_compact(tmp_path):
    store = tmp_path / "store"
    ok(fake("ingest", store, write_input(tmp_path / "a.jsonl"), "--flush-bytes", "300"))
    ok(fake("delete", store, "3", "17", "39"))
    result = ok(fake("compact", store))
    assert "splits merged" in result.stdout
    expected = [t for i, t in enumerate(TEXTS) if i not in (3, 17, 39)]
    assert_clean(store, expected)
    _, names = live_documents(store)
    assert names == ["split-c00000.vls"]


@pytest.mark.parametrize("step", STEPS)
def test_compact_killed_between_steps(tmp_path, step):
    store = tmp_path / "store"
    ok(fake("ingest", store, write_input(tmp_path / "a.jsonl"), "--flush-bytes", "300"))
    ok(fake("delete", store, "5"))
    before = set(store_files(store))
    killed = run_crashing(step, 1, "fake", "compact", store)
    assert killed.returncode == -9
    expected = [t for i, t in enumerate(TEXTS) if i != 5]
    # Whatever the interrupted step, the store as it stands reads complete,
    # and the next command cleans up and carries on.
    docs, names = live_documents(store)
    assert sorted(docs.values()) == sorted(expected)
    if step in ("journal", "split"):
        assert set(names) == {n for n in before if n.endswith(".vls")}
    else:
        assert names == ["split-c00000.vls"]
    ok(fake("compact", store))
    assert_clean(store, expected)


def test_second_writer_is_refused(tmp_path):
    store = tmp_path / "store"
    ok(fake("ingest", store, write_input(tmp_path / "a.jsonl", TEXTS[:2])))
    with open(store / ".vellum-writer.lock", "r+") as f:
        fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
        f.write(f"pid {os.getpid()} (the test)")
        f.flush()
        message = failed(fake("ingest", store, write_input(tmp_path / "b.jsonl", ["x"])))
        assert "in use by another vellum writer" in message and "the test" in message
    ok(fake("ingest", store, tmp_path / "b.jsonl"))


def test_writer_parameters_are_kept_with_the_store(tmp_path):
    store = tmp_path / "store"
    ok(fake("ingest", store, write_input(tmp_path / "a.jsonl", TEXTS[:3]),
            "--name-prefix", "corpus", "--gram-size", "4"))
    message = failed(fake("ingest", store, write_input(tmp_path / "b.jsonl", ["x"]),
                          "--gram-size", "3"))
    assert "--gram-size 3 disagrees with the store, which was written with 4" in message
    assert "only for a new split set" in failed(
        fake("ingest", store, tmp_path / "b.jsonl", "--policy", "tiered"))
    ok(fake("ingest", store, tmp_path / "b.jsonl"))
    _, names = live_documents(store)
    assert all(n.startswith("corpus-d") for n in names)


def test_bad_row_stops_ingest_before_the_first_flush(tmp_path):
    store = tmp_path / "store"
    src = tmp_path / "a.jsonl"
    src.write_text("".join(json.dumps({"text": t}) + "\n" for t in TEXTS) + "{broken\n")
    message = failed(fake("ingest", store, src, "--flush-bytes", "100"))
    assert f"{src}:41: invalid JSON" in message
    assert not (store / "index.vlss").exists()


needs_writer = pytest.mark.skipif(not hasattr(vellum, "SplitSetWriter"),
                                  reason="vellum.SplitSetWriter is not built yet")


def real_store_postings(store):
    """key -> global ids over the splits the manifest names, read with the
    independent readers; fails on a dangling or stray file."""
    from dataset_reader import read_text_index
    from splitset_reader import read_manifest
    manifest = read_manifest((store / "index.vlss").read_bytes())
    names = [r.name for r in manifest.splits]
    extra = set(store_files(store)) - set(names) - {
        "index.vlss", "index.vlss.vellum.json", ".vellum-writer.lock"}
    assert not extra, f"unreferenced files left: {extra}"
    postings = {}
    for rec in manifest.splits:
        body = read_text_index((store / rec.name).read_bytes())
        base = 0 if rec.split_flags & 2 else rec.first_id
        for key, ids in body.postings.items():
            postings.setdefault(key, set()).update(base + i for i in ids)
    return manifest, postings


@needs_writer
@pytest.mark.parametrize("step", STEPS[:3])
def test_real_writer_killed_between_steps_resumes(tmp_path, step):
    store = tmp_path / "store"
    src = write_input(tmp_path / "a.jsonl")
    killed = run_crashing(step, 2, "real", "ingest", store, src, "--flush-bytes", "600")
    assert killed.returncode == -9
    ok(run_crashing("none", 0, "real", "ingest", store, src, "--flush-bytes", "600"))
    writer = vellum.SplitSetWriter.resume((store / "index.vlss").read_bytes())
    assert writer.doc_count() == len(TEXTS)
    _, postings = real_store_postings(store)
    for doc_id, text in enumerate(TEXTS):
        for key in vellum.tokenize(text):
            assert doc_id in postings[key], (doc_id, text)
    assert max(max(ids) for ids in postings.values()) == len(TEXTS) - 1


@needs_writer
@pytest.mark.parametrize("step", STEPS)
def test_real_writer_compact_killed_between_steps(tmp_path, step):
    store = tmp_path / "store"
    ok(run_crashing("none", 0, "real", "ingest", store, write_input(tmp_path / "a.jsonl"),
                    "--flush-bytes", "600"))
    ok(run_crashing("none", 0, "real", "delete", store, "7"))
    killed = run_crashing(step, 1, "real", "compact", store)
    assert killed.returncode == -9
    ok(run_crashing("none", 0, "real", "compact", store))
    manifest, postings = real_store_postings(store)
    # Interrupted before its manifest, the compaction is redone; after, the
    # next one merges its result again.
    again = "split-c00000.vls" if step in ("journal", "split") else "split-c00001.vls"
    assert [r.name for r in manifest.splits] == [again]
    for doc_id, text in enumerate(TEXTS):
        for key in vellum.tokenize(text):
            assert (doc_id in postings[key]) == (doc_id != 7), (doc_id, text)


def test_storage_url_store_through_fsspec(tmp_path, monkeypatch, capsys):
    """A store without rename (fsspec memory://): same commit order, and a
    lock object that a second writer respects until it is broken."""
    fsspec = pytest.importorskip("fsspec")
    from fake_split_writer import FakeSplitSetWriter
    from vellum_tools import cli
    monkeypatch.setattr(vellum, "SplitSetWriter", FakeSplitSetWriter, raising=False)
    src = write_input(tmp_path / "a.jsonl", TEXTS[:10])
    url = "memory://vellum-test-store"
    assert cli.main(["ingest", url, str(src), "--flush-bytes", "100", "--quiet"]) == 0
    fs = fsspec.filesystem("memory")
    local = tmp_path / "copy"
    local.mkdir()
    for path in fs.ls("/vellum-test-store", detail=False):
        (local / path.rsplit("/", 1)[1]).write_bytes(fs.cat_file(path))
    docs, _ = live_documents(local)
    assert sorted(docs.values()) == sorted(TEXTS[:10])
    assert not fs.exists("/vellum-test-store/.vellum-writer.lock")
    fs.pipe_file("/vellum-test-store/.vellum-writer.lock", b"pid 1 on elsewhere")
    assert cli.main(["compact", url, "--quiet"]) == 1
    assert "--break-lock" in capsys.readouterr().err
    assert cli.main(["compact", url, "--quiet", "--break-lock"]) == 0
    assert any("-c00000" in p for p in fs.ls("/vellum-test-store", detail=False))
    fs.rm("/vellum-test-store", recursive=True)


def test_delete_ids_from_a_file_and_ingest_again(tmp_path):
    store = tmp_path / "store"
    src = write_input(tmp_path / "a.jsonl", TEXTS[:6])
    ok(fake("ingest", store, src))
    (tmp_path / "ids.txt").write_text("# stale ids\n1\n\n4\n")
    ok(fake("delete", store, "--from", tmp_path / "ids.txt"))
    assert_clean(store, [t for i, t in enumerate(TEXTS[:6]) if i not in (1, 4)])
    (tmp_path / "bad.txt").write_text("2\nseven\n")
    assert f"{tmp_path / 'bad.txt'}:2: invalid integer" in failed(
        fake("delete", store, "--from", tmp_path / "bad.txt"))
    assert "no such store" in failed(fake("delete", tmp_path / "empty", "3"))
    assert not (tmp_path / "empty").exists()
    (tmp_path / "empty").mkdir()
    assert "no split set" in failed(fake("compact", tmp_path / "empty"))
    ok(fake("ingest", store, src, "--again"))
    docs = assert_clean(store, [t for i, t in enumerate(TEXTS[:6]) if i not in (1, 4)]
                        + TEXTS[:6])
    assert docs[6] == TEXTS[0]


def test_ingest_refuses_a_term_split_set(tmp_path):
    native = pytest.importorskip("vellum_tools._native")
    if not hasattr(native, "write_manifest"):
        pytest.skip("native part built without manifest functions")
    store = tmp_path / "store"
    store.mkdir()
    (store / "index.vlss").write_bytes(native.write_manifest([], {"body_kind": 1}))
    message = failed(fake("ingest", store, write_input(tmp_path / "a.jsonl", ["x"])))
    assert "holds term splits" in message
    assert sorted(p.name for p in store.iterdir()) == [".vellum-writer.lock", "index.vlss"]
