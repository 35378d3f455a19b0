"""`vellum inspect`, `verify`, `lookup` and `plot` as a user runs them."""

import json

import pytest

import reader_fixtures as fx
from dataset_reader import read_dataset
from vellum_cli import failed, ok, run

native = pytest.importorskip("vellum_tools._native")


@pytest.fixture(scope="module")
def built(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("built")
    return {"dataset": fx.dataset(tmp, 1), "split set": fx.ngram_split_set(tmp, 2)[0],
            "term file": fx.term_file(tmp, 3)[0], "vector file": fx.vector_file(tmp, 4)}


def test_verify_says_ok_on_sound_targets(built):
    for path in built.values():
        assert ok(run("verify", path)).stdout == "ok\n"


def test_verify_prints_every_problem_and_exits_1(tmp_path):
    ds = fx.dataset(tmp_path, 5)
    (ds / "index.vlf").write_bytes((ds / "index.vlf").read_bytes()[:-3])
    idx = bytearray((ds / "records.idx").read_bytes())
    idx[0] ^= 0xFF
    (ds / "records.idx").write_bytes(bytes(idx))
    result = run("verify", ds)
    assert result.returncode == 1, result.stderr
    lines = result.stdout.splitlines()
    assert len(lines) == 2
    assert any(line.startswith("records.idx: header at byte 0: ") for line in lines)
    assert any(line.startswith("index.vlf: ") for line in lines)


def test_verify_of_a_path_that_is_nothing_fails_in_one_line(tmp_path):
    assert "neither a dataset" in failed(run("verify", tmp_path))


def test_inspect_json_round_trips_and_matches_the_text(built):
    for kind, path in built.items():
        doc = json.loads(ok(run("inspect", path, "--json")).stdout)
        assert doc == native.inspect(str(path)), kind
        text = ok(run("inspect", path)).stdout
        assert doc["kind"] in text
    splits = native.inspect(str(built["split set"]))["splits"]
    text = ok(run("inspect", built["split set"])).stdout
    for s in splits:
        assert s["name"] in text


def test_lookup_prints_ids_and_records(built):
    ds = read_dataset(built["dataset"])
    answer = native.lookup(str(built["dataset"]), ["gamma"])
    out = ok(run("lookup", built["dataset"], "gamma")).stdout.splitlines()
    assert out[0] == f"{answer['count']} documents"
    assert [int(x) for x in out[1:]] == answer["ids"]
    out = ok(run("lookup", built["dataset"], "gamma", "--records")).stdout.splitlines()
    assert out[1:] == [f"{i}\t{ds.records[i].decode()}" for i in answer["ids"]]
    split_out = ok(run("lookup", built["split set"], "kappa", "--facet", "lang=en")).stdout
    assert "skipped (" in split_out or "hits" in split_out
    assert "usage" in run("lookup", built["dataset"], "x", "--facet", "nolang").stderr
    assert "shorter than the gram size" in failed(run("lookup", built["dataset"], "ab"))
    assert "holds no facets" in failed(run("lookup", built["term file"], "alpha", "--facet", "a=b"))


def test_plot_writes_a_png(built, tmp_path):
    pytest.importorskip("matplotlib")
    for kind in ("split set", "dataset", "term file"):
        out = tmp_path / f"{kind}.png"
        ok(run("plot", built[kind], "-o", out))
        assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert "no postings to plot" in failed(run("plot", built["vector file"], "-o", tmp_path / "v.png"))


def test_plot_names_the_debian_package_when_matplotlib_is_missing(built, tmp_path):
    fake = tmp_path / "fake"
    fake.mkdir()
    (fake / "matplotlib.py").write_text("raise ImportError('not installed')\n")
    message = failed(run("plot", built["dataset"], "-o", tmp_path / "x.png", extra_path=[fake]))
    assert "python3-matplotlib" in message


def test_a_reader_that_closes_the_pipe_early_is_no_error(built):
    import subprocess

    from vellum_cli import PYTHON, env

    p = subprocess.Popen([PYTHON, "-m", "vellum_tools", "inspect", str(built["split set"])],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env())
    p.stdout.close()  # before the command writes: its first write meets a closed pipe
    err = p.stderr.read().decode()
    assert p.wait(timeout=120) == 141
    assert err == ""
