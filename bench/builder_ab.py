#!/usr/bin/env python3
"""Compares builds of the vellum module on builder_bench.py's corpora.

    /usr/bin/python3 bench/builder_ab.py --corpus multilingual --rounds 6 DIR_A DIR_B ...

Each DIR holds a vellum.abi3.so. All of them are loaded into one process
(each from its own file, so each is its own copy of the module), the corpus
rows are built once, and then add_many + build run round after round, one
module after the other (in reverse order every other round). On a noisy
machine this gives a fairer comparison than separate processes, which each
pay on their own for fresh memory and a different load. Prints per module
the minimum and median of add_many, build and both (wall), and the medians
of user and system CPU time.

The first round also pays for memory that later rounds find already
mapped, so it is left out when there are more than two rounds. Under a
hypervisor that takes freed guest memory back after a moment, --pause 5
lets it do so before every build, so that each round pays for new memory
much as a first build in a new process does.
"""

import argparse
import importlib.machinery
import importlib.util
import os
import resource
import shutil
import statistics
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import builder_bench  # noqa: E402


def load(directory):
    path = os.path.join(directory, "vellum.abi3.so")
    loader = importlib.machinery.ExtensionFileLoader("vellum", path)
    spec = importlib.util.spec_from_file_location("vellum", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def one_round(module, rows, batch, out):
    u0 = resource.getrusage(resource.RUSAGE_SELF)
    t0 = time.perf_counter()
    builder = module.Builder()
    for i in range(0, len(rows), batch):
        builder.add_many(rows[i:i + batch])
    t1 = time.perf_counter()
    builder.build(out)
    t2 = time.perf_counter()
    u1 = resource.getrusage(resource.RUSAGE_SELF)
    del builder
    return (t1 - t0, t2 - t1, t2 - t0,
            u1.ru_utime - u0.ru_utime, u1.ru_stime - u0.ru_stime)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("dirs", nargs="+", help="directories that hold a vellum.abi3.so")
    ap.add_argument("--corpus", choices=["english", "multilingual"], default="multilingual")
    ap.add_argument("--rounds", type=int, default=6)
    ap.add_argument("--batch", type=int, default=10_000, help="rows per add_many call")
    ap.add_argument("--pause", type=float, default=0.0,
                    help="seconds to wait before each build (default 0)")
    args = ap.parse_args()

    modules = [load(d) for d in args.dirs]
    path = (builder_bench.prepare_multilingual() if args.corpus == "multilingual"
            else builder_bench.prepare_corpus(200_000_000))
    rows = list(builder_bench.corpus_rows(path, False))
    out = tempfile.mkdtemp(prefix="builder_ab_")
    times = {d: [] for d in args.dirs}
    try:
        pairs = list(zip(args.dirs, modules))
        for r in range(args.rounds):
            # Alternating the order, so that no module always runs on the
            # memory another has just freed.
            for d, m in (pairs if r % 2 == 0 else pairs[::-1]):
                time.sleep(args.pause)
                times[d].append(one_round(m, rows, args.batch, os.path.join(out, "ds")))
    finally:
        shutil.rmtree(out, ignore_errors=True)

    width = max(len(d) for d in args.dirs)
    for d in args.dirs:
        kept = times[d][1:] if len(times[d]) > 2 else times[d]
        col = lambda k: [t[k] for t in kept]
        parts = [f"{name} min {min(col(k)):.3f} med {statistics.median(col(k)):.3f}"
                 for k, name in ((0, "add_many"), (1, "build"), (2, "both"))]
        print(f"{d:{width}s}  " + " | ".join(parts)
              + f" | user med {statistics.median(col(3)):.3f} sys med {statistics.median(col(4)):.3f}")


if __name__ == "__main__":
    main()
