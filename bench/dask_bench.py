#!/usr/bin/env python3
"""Wall time of a split set built on a local Dask cluster of 2 workers,
against 1 worker and against one plain SplitSetBuilder in this process.

    PYTHONPATH=build/python:. /usr/bin/python3 bench/dask_bench.py

Uses the corpus of bench/builder_bench.py (about 1,000,000 documents of
about 200 bytes, cached in .bench/), written once as JSONL beside it. Every
run reads and parses that JSONL with the tools' readers and builds with the
default 32 MiB cap:

- single: one SplitSetBuilder over the whole file, no Dask;
- 1 and 2 workers: the file cut into as many byte ranges as workers, one
  task per range, manifests merged by the driver.

The three are run in turn `--reps` times and the medians compared, so a
slow spell of the shared machine falls on all of them alike. Cluster
start-up is timed apart from the build; the merge (manifests only) is
reported separately too.
"""

import argparse
import json
import shutil
import statistics
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(REPO))
import builder_bench as bb  # noqa: E402  (corpus)

from vellum_tools import scaleout, shards  # noqa: E402


def corpus_jsonl(tsv: Path) -> Path:
    path = tsv.with_suffix(".jsonl")
    if path.exists():
        return path
    tmp = path.with_suffix(".tmp")
    with open(tsv, encoding="utf-8") as src, open(tmp, "w", encoding="utf-8") as out:
        for line in src:
            stem, text = line.rstrip("\n").split("\t", 1)
            out.write(json.dumps({"text": text, "source": stem}) + "\n")
    tmp.rename(path)
    return path


def single(path: Path, out: Path) -> float:
    shutil.rmtree(out, ignore_errors=True)
    job = scaleout.SplitJob(name_prefix="one")
    t = time.perf_counter()
    r = scaleout.build_shard(job, 0, shards.plan([str(path)], None, 1)[0], str(out))
    seconds = time.perf_counter() - t
    print(f"single process: {seconds:6.2f} s  {r.docs} docs, {r.splits} splits, "
          f"{r.total_bytes / 1e6:.1f} MB of splits, cpu {r.cpu_seconds:.1f} s")
    return seconds


def on_cluster(path: Path, out: Path, workers: int) -> float:
    shutil.rmtree(out, ignore_errors=True)
    t = time.perf_counter()
    client = scaleout.connect(workers, None)
    startup = time.perf_counter() - t
    try:
        plan = shards.plan([str(path)], None, workers)
        job = scaleout.SplitJob(name_prefix="par")
        t = time.perf_counter()
        r = scaleout.build_split_set(client, plan, job, str(out))
        seconds = time.perf_counter() - t
    finally:
        scaleout.close(client)
    print(f"{workers} worker(s):     {seconds:6.2f} s  {r.docs} docs, {r.splits} splits, "
          f"merge {r.merge_seconds * 1000:.2f} ms, cluster start {startup:.1f} s")
    for i, s in enumerate(r.shards):
        print(f"    shard {i}: {s.docs} docs, task {s.seconds:.2f} s wall, {s.cpu_seconds:.2f} s cpu")
    return seconds


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--target-mb", type=float, default=200.0)
    ap.add_argument("--out", type=Path, default=bb.CACHE / "dask")
    ap.add_argument("--reps", type=int, default=3)
    args = ap.parse_args()
    path = corpus_jsonl(bb.prepare_corpus(int(args.target_mb * 1e6)))
    docs, text_bytes, _ = bb.corpus_info(bb.prepare_corpus(int(args.target_mb * 1e6)))
    print(f"corpus: {path.name}: {docs} documents, {text_bytes / 1e6:.1f} MB of text")
    with open("/proc/loadavg") as f:
        print(f"load average before: {f.read().split()[:3]} (machine shared with other builds)")
    times: dict[str, list[float]] = {"single": [], "w1": [], "w2": []}
    for rep in range(args.reps):
        print(f"-- round {rep + 1} of {args.reps}")
        times["single"].append(single(path, args.out / "single"))
        times["w1"].append(on_cluster(path, args.out / "w1", 1))
        times["w2"].append(on_cluster(path, args.out / "w2", 2))
    with open("/proc/loadavg") as f:
        print(f"load average after: {f.read().split()[:3]}")
    base, one, two = (statistics.median(times[k]) for k in ("single", "w1", "w2"))
    print(f"medians: single {base:.2f} s, 1 worker {one:.2f} s, 2 workers {two:.2f} s")
    print(f"2 workers: {base / two:.2f}x the single process, {one / two:.2f}x 1 worker")

if __name__ == "__main__":
    main()
