#!/usr/bin/env python3
"""Throughput of `vellum verify` on the dataset of the English corpus of
bench/builder_bench.py (about 1,000,000 documents), through
vellum_tools._native in-process and through the command line.

    PYTHONPATH=build/python:. /usr/bin/python3 bench/verify_bench.py

The dataset is built into .bench/dataset when it is missing (or rebuilt
with --rebuild). Figures are MB/s of file bytes (all four files), wall and
CPU time; run it under `flock /tmp/vellum-bench.lock`.
"""

import argparse
import os
import resource
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import builder_bench as bb  # noqa: E402


def build_dataset(out):
    import vellum

    path = bb.prepare_corpus(int(200e6))
    b = vellum.Builder()
    rows = list(bb.corpus_rows(path))
    for i in range(0, len(rows), 10_000):
        b.add_many(rows[i:i + 10_000])
    if out.exists():
        shutil.rmtree(out)
    b.build(str(out))


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--dataset", type=Path, default=bb.CACHE / "dataset")
    ap.add_argument("--rebuild", action="store_true")
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()
    if args.rebuild or not (args.dataset / "records.idx").exists():
        build_dataset(args.dataset)
    from vellum_tools import _native

    size = sum(p.stat().st_size for p in args.dataset.iterdir())
    docs = _native.inspect(str(args.dataset))["documents"]
    print(f"dataset {args.dataset}: {docs} documents, {size / 1e6:.1f} MB; load {os.getloadavg()}")
    for i in range(args.repeat):
        w, c = time.perf_counter(), time.process_time()
        problems = _native.verify(str(args.dataset))
        w, c = time.perf_counter() - w, time.process_time() - c
        assert problems == [], problems
        print(f"  _native.verify  wall {w:.2f} s ({size / 1e6 / w:.0f} MB/s)  "
              f"cpu {c:.2f} s ({size / 1e6 / c:.0f} MB/s)")
    env = dict(os.environ)
    for i in range(args.repeat):
        w, c = time.perf_counter(), child_cpu()
        out = subprocess.run([sys.executable, "-m", "vellum_tools", "verify", str(args.dataset)],
                             capture_output=True, text=True, env=env)
        w, c = time.perf_counter() - w, child_cpu() - c
        assert out.returncode == 0 and out.stdout == "ok\n", out
        print(f"  vellum verify   wall {w:.2f} s ({size / 1e6 / w:.0f} MB/s)  "
              f"cpu {c:.2f} s ({size / 1e6 / c:.0f} MB/s)")
    print(f"load after {os.getloadavg()}")


if __name__ == "__main__":
    main()
