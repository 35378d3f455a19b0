"""`vellum dataset` end to end: real inputs in every supported shape, and
the output checked with the independent dataset reader."""

import gzip
import json

import pytest

import vellum
from dataset_reader import facet_key, read_dataset
from vellum_cli import failed, ok, run, summary_value

ROWS = [
    {"text": "Red apple pie", "rank": 5, "lang": "en", "tags": ["food", "sweet"]},
    {"text": "Blue sky", "rank": 9, "lang": "en"},
    {"text": "Pomme rouge", "rank": 5, "lang": "fr", "tags": []},
    {"text": "No facets at all", "rank": -1},
]


def write_jsonl(path, rows, opener=open):
    lines = [json.dumps(r) for r in rows]
    with opener(path, "wt", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    return [line.encode() for line in lines]


def expected_keys(texts):
    keys = set()
    for t in texts:
        keys.update(vellum.tokenize(t))
    return keys


def test_jsonl_rank_facets_and_default_records(tmp_path):
    lines = write_jsonl(tmp_path / "in.jsonl", ROWS)
    out = tmp_path / "out"
    result = ok(run("dataset", tmp_path / "in.jsonl", "-o", out, "--rank", "rank",
                    "--facet", "lang", "--facet", "tags"))
    ds = read_dataset(out)
    # Descending rank, input order among equal ranks.
    order = [1, 0, 2, 3]
    assert ds.records == [lines[i] for i in order]
    assert set(ds.index.postings) == expected_keys(r["text"] for r in ROWS)
    apple = vellum.tokenize("apple")[0]
    assert ds.index.postings[apple] == [1]
    fields = {f.name: {c.name: c.head + c.tail for c in f.categories} for f in ds.facets.fields}
    assert fields == {"lang": {"en": [0, 1], "fr": [2]},
                      "tags": {"food": [1], "sweet": [1]}}
    cat = ds.facets.fields[0].categories[0]
    assert cat.key == facet_key("lang", cat.name)
    assert summary_value(result.stdout, "documents") == "4"
    assert summary_value(result.stdout, "fields") == "2"
    assert summary_value(result.stdout, "keys") == str(len(ds.index.postings))
    assert summary_value(result.stdout, "records.bin") == f"{len(ds.files['records.bin'])} bytes"
    assert "MB/s" in result.stdout


def test_gzip_csv_with_quoted_newlines_and_record_field(tmp_path):
    src = tmp_path / "in.csv.gz"
    with gzip.open(src, "wt", encoding="utf-8", newline="") as f:
        f.write('id,body,kind\r\n1,"first line\nsecond line",a\r\n2,plain,b\r\n')
    out = tmp_path / "out"
    ok(run("dataset", src, "-o", out, "--text", "body", "--record", "id", "--facet", "kind"))
    ds = read_dataset(out)
    assert ds.records == [b"1", b"2"]
    assert set(ds.index.postings) == expected_keys(["first line\nsecond line", "plain"])
    # The default record is the row's own input text, line break included.
    ok(run("dataset", src, "-o", tmp_path / "raw", "--text", "body"))
    assert read_dataset(tmp_path / "raw").records == [b'1,"first line\nsecond line",a',
                                                      b"2,plain,b"]


def test_zstd_and_several_inputs_in_order(tmp_path):
    zstandard = pytest.importorskip("zstandard")
    a = write_jsonl(tmp_path / "a.jsonl", ROWS[:2])
    (tmp_path / "b.jsonl.zst").write_bytes(zstandard.ZstdCompressor().compress(
        b'{"text": "third"}\n{"text": "fourth"}'))
    ok(run("dataset", tmp_path / "a.jsonl", tmp_path / "b.jsonl.zst", "-o", tmp_path / "out"))
    records = read_dataset(tmp_path / "out").records
    assert records == a + [b'{"text": "third"}', b'{"text": "fourth"}']


@pytest.mark.parametrize("line, reason", [
    ('{"text": "ok", "rank": 1', "invalid JSON"),
    ('{"text": "ok", "rank": 1} {}', "invalid JSON (Extra data)"),
    ('["text"]', "expected a JSON object, got an array"),
    ('{"rank": 3}', "missing field 'text'"),
    ('{"text": 17, "rank": 3}', "field 'text' must be a string, got a number"),
    ('{"text": "x", "rank": "high"}', "field 'rank' must be an integer"),
    ('{"text": "x", "rank": 9223372036854775808}', "outside"),
    ('{"text": "x", "rank": 1, "lang": {"a": 1}}', "facet field 'lang'"),
    ('{"text": "bad \\ud800 surrogate", "rank": 1}', "lone surrogate"),
])
def test_bad_row_stops_before_writing_or_is_skipped(tmp_path, line, reason):
    src = tmp_path / "in.jsonl"
    src.write_text('{"text": "good one", "rank": 2}\n\n' + line + '\n{"text": "good two"}\n'
                   .replace('"good two"', '"good two", "rank": 1'))
    out = tmp_path / "out"
    message = failed(run("dataset", src, "-o", out, "--rank", "rank", "--facet", "lang"))
    assert f"{src}:3: " in message and reason in message
    assert not out.exists()
    result = ok(run("dataset", src, "-o", out, "--rank", "rank", "--facet", "lang",
                    "--skip-bad"))
    assert f"{src}:3: " in result.stderr and reason in result.stderr
    assert summary_value(result.stdout, "skipped rows") == "1"
    assert [json.loads(r)["text"] for r in read_dataset(out).records] == ["good one", "good two"]


def test_blanks_around_json_are_fine_but_not_utf8_is_a_bad_row(tmp_path):
    src = tmp_path / "in.jsonl"
    src.write_bytes(b'  {"text": "padded"}  \r\n{"text": "caf\xe9"}\n')
    assert f"{src}:2: not UTF-8 text" in failed(run("dataset", src, "-o", tmp_path / "out"))
    ok(run("dataset", src, "-o", tmp_path / "out", "--skip-bad"))
    assert read_dataset(tmp_path / "out").records == [b'  {"text": "padded"}  ']


def test_csv_row_with_wrong_column_count(tmp_path):
    src = tmp_path / "in.tsv"
    src.write_text("text\tn\nalpha\t1\nbeta\n")
    message = failed(run("dataset", src, "-o", tmp_path / "out"))
    assert f"{src}:3: 1 columns, the header has 2" in message


def test_module_errors_are_one_line(tmp_path):
    src = tmp_path / "in.jsonl"
    write_jsonl(src, ROWS)
    message = failed(run("dataset", src, "-o", tmp_path / "out", "--head-boundary", "100000"))
    assert message.endswith("head_boundary must be a multiple of 65536, got 100000")
    blocker = tmp_path / "file"
    blocker.write_text("")
    assert "dataset: error:" in failed(run("dataset", src, "-o", blocker / "out"))
    assert "no such file" in failed(run("dataset", tmp_path / "missing.jsonl", "-o", tmp_path))
    assert "cannot tell the format" in failed(run("dataset", blocker, "-o", tmp_path / "o"))


def test_stdin_quiet_and_file_url(tmp_path):
    result = ok(run("dataset", "-", "-o", f"file://{tmp_path}/out", "--quiet",
                    stdin='{"text": "from stdin"}\n'))
    assert result.stdout == "" and result.stderr == ""
    assert read_dataset(tmp_path / "out").records == [b'{"text": "from stdin"}']


def test_missing_optional_library_names_the_debian_package(tmp_path):
    blocked = tmp_path / "blocked" / "zstandard"
    blocked.mkdir(parents=True)
    (blocked / "__init__.py").write_text("raise ImportError('blocked for this test')\n")
    (tmp_path / "in.jsonl.zst").write_bytes(b"")
    message = failed(run("dataset", tmp_path / "in.jsonl.zst", "-o", tmp_path / "out",
                         extra_path=[tmp_path / "blocked"]))
    assert "apt-get install python3-zstandard" in message


def test_batches_match_one_call(tmp_path):
    rows = [{"text": f"document number {i}", "rank": i % 7} for i in range(2500)]
    write_jsonl(tmp_path / "in.jsonl", rows)
    ok(run("dataset", tmp_path / "in.jsonl", "-o", tmp_path / "small", "--rank", "rank",
           "--batch", "100"))
    ok(run("dataset", tmp_path / "in.jsonl", "-o", tmp_path / "big", "--rank", "rank"))
    assert read_dataset(tmp_path / "small").files == read_dataset(tmp_path / "big").files


def test_every_command_has_help_with_examples():
    for command in ("dataset", "splits", "terms", "vectors", "ingest", "delete", "compact"):
        result = ok(run(command, "--help"))
        assert "examples:" in result.stdout and f"vellum {command}" in result.stdout


def test_corrupt_compressed_input_is_one_line(tmp_path):
    (tmp_path / "in.jsonl.gz").write_bytes(b"\x1f\x8b\x08\x00not really gzip")
    assert "cannot read" in failed(run("dataset", tmp_path / "in.jsonl.gz", "-o", tmp_path / "o"))
    pytest.importorskip("zstandard")
    (tmp_path / "in.jsonl.zst").write_bytes(b"\x28\xb5\x2f\xfd garbage")
    assert "cannot read" in failed(run("dataset", tmp_path / "in.jsonl.zst", "-o", tmp_path / "o"))


def test_progress_bar_only_on_a_terminal(tmp_path):
    pytest.importorskip("tqdm")
    import os
    import subprocess

    from vellum_cli import PYTHON, env
    write_jsonl(tmp_path / "in.jsonl", [{"text": f"row {i}"} for i in range(20000)])
    args = [PYTHON, "-m", "vellum_tools", "dataset", str(tmp_path / "in.jsonl"),
            "-o", str(tmp_path / "out")]
    leader, follower = os.openpty()
    try:
        proc = subprocess.run(args, stderr=follower, stdout=subprocess.PIPE, env=env(),
                              timeout=120)
        os.close(follower)
        follower = None
        shown = b""
        while True:
            try:
                chunk = os.read(leader, 65536)
            except OSError:
                break
            if not chunk:
                break
            shown += chunk
    finally:
        os.close(leader)
        if follower is not None:
            os.close(follower)
    assert proc.returncode == 0
    assert b"B/s" in shown or b"%|" in shown
    piped = ok(run("dataset", tmp_path / "in.jsonl", "-o", tmp_path / "out"))
    assert piped.stderr == ""
    quiet = subprocess.run(args + ["--quiet"], stderr=subprocess.PIPE, stdout=subprocess.PIPE,
                           env=env(), timeout=120)
    assert quiet.stdout == b"" and quiet.stderr == b""
