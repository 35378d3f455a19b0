#!/usr/bin/env python3
"""Overhead of `vellum dataset` over the library alone, on the ~1M-document
corpus of bench/builder_bench.py written as JSONL.

    PYTHONPATH=build/python /usr/bin/python3 bench/cli_bench.py

Both sides do the same work: read the JSONL lines, parse each with json,
stage (rank, text, the line as record, {"source": [...]}) through
Builder.add_many in batches of 10,000, and build the dataset. The command
runs as a user runs it (a separate `python3 -m vellum_tools` process, no
progress bar); the library side runs in this process. Each side is timed
--repeat times and the best run counts.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import builder_bench  # noqa: E402

REPO = Path(__file__).resolve().parents[1]


def jsonl_corpus(tsv: Path) -> Path:
    """The corpus as JSONL (cached beside it), ranks drawn as builder_bench does."""
    path = tsv.with_suffix(".jsonl")
    if path.exists():
        return path
    tmp = path.with_suffix(".tmp")
    state = 0xC0FFEE
    with open(tsv, encoding="utf-8") as f, open(tmp, "w", encoding="utf-8") as out:
        for line in f:
            stem, text = line.rstrip("\n").split("\t", 1)
            state = builder_bench.lcg(state)
            rank = (state >> 33) % 1_000_000
            out.write(json.dumps({"text": text, "rank": rank, "source": stem}) + "\n")
    tmp.rename(path)
    return path


def library_only(path: Path, out: Path, batch: int) -> float:
    import vellum

    t = time.perf_counter()
    builder = vellum.Builder()
    rows = []
    loads = json.loads
    with open(path, "rb") as f:
        for line in f:
            raw = line.rstrip(b"\n")
            obj = loads(raw)
            rows.append((obj["rank"], obj["text"], raw, {"source": [obj["source"]]}))
            if len(rows) == batch:
                builder.add_many(rows)
                rows = []
    if rows:
        builder.add_many(rows)
    stats = builder.build(str(out))
    seconds = time.perf_counter() - t
    print(f"  library: {seconds:.2f} s  {stats!r}", flush=True)
    return seconds


def command(path: Path, out: Path, batch: int) -> float:
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(REPO / "build" / "python"), str(REPO)]))
    t = time.perf_counter()
    result = subprocess.run(
        ["/usr/bin/python3", "-m", "vellum_tools", "dataset", str(path), "-o", str(out),
         "--rank", "rank", "--facet", "source", "--batch", str(batch)],
        env=env, capture_output=True, text=True)
    seconds = time.perf_counter() - t
    if result.returncode != 0:
        sys.exit(result.stderr)
    docs = [ln for ln in result.stdout.splitlines() if ln.strip().startswith("documents")]
    print(f"  command: {seconds:.2f} s  {docs[0].strip() if docs else ''}", flush=True)
    return seconds


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--target-mb", type=float, default=200.0)
    ap.add_argument("--batch", type=int, default=10_000)
    ap.add_argument("--repeat", type=int, default=2)
    args = ap.parse_args()
    tsv = builder_bench.prepare_corpus(int(args.target_mb * 1e6))
    path = jsonl_corpus(tsv)
    n_docs, text_bytes, _ = builder_bench.corpus_info(tsv)
    print(f"corpus: {path.name}: {n_docs} documents, {path.stat().st_size / 1e6:.1f} MB of JSONL")
    out_lib = builder_bench.CACHE / "cli-bench-library"
    out_cmd = builder_bench.CACHE / "cli-bench-command"
    lib, cmd = [], []
    for _ in range(args.repeat):
        lib.append(library_only(path, out_lib, args.batch))
        cmd.append(command(path, out_cmd, args.batch))
    same = all((out_lib / n).read_bytes() == (out_cmd / n).read_bytes()
               for n in ("index.vls", "index.vlf", "records.bin", "records.idx"))
    for d in (out_lib, out_cmd):
        shutil.rmtree(d, ignore_errors=True)
    mbps = path.stat().st_size / 1e6
    print(f"\nbest of {args.repeat}: library {min(lib):.2f} s ({mbps / min(lib):.1f} MB/s), "
          f"command {min(cmd):.2f} s ({mbps / min(cmd):.1f} MB/s): "
          f"{min(cmd) / min(lib):.2f}x; identical datasets: {same}")


if __name__ == "__main__":
    main()
