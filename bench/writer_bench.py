#!/usr/bin/env python3
"""SplitSetWriter: add throughput against SplitSetBuilder on the corpus of
builder_bench.py, and minor compaction of ten 32 MiB deltas.

    PYTHONPATH=build/python /usr/bin/python3 bench/writer_bench.py [--mb 100]

Add: documents/s and MB/s of text for SplitSetBuilder.add and for
SplitSetWriter.add with memtable_bytes() asked after every document and a
flush whenever it passes 32 MiB (flush time included); the two run
interleaved --reps times in this process, medians of wall and CPU time. Compaction: ten
flushed deltas (1% of their documents deleted) merged in one compact call;
MB/s of input split bytes and peak resident memory of the call (VmHWM,
reset through /proc/self/clear_refs), beside the memory the inputs hold.
"""

import argparse
import os
import statistics
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import builder_bench as bb  # noqa: E402  corpus and measurement helpers

import vellum  # noqa: E402

FLUSH_AT = 32 << 20


def texts(limit_bytes):
    path = bb.prepare_corpus(200_000_000)
    out, total = [], 0
    for _, text, _, _ in bb.corpus_rows(path):
        out.append(text)
        total += len(text.encode())
        if total >= limit_bytes:
            break
    return out, total


def time_builder(docs):
    b = vellum.SplitSetBuilder()
    start, cpu = time.perf_counter(), time.process_time()
    for t in docs:
        b.add(t)
    return time.perf_counter() - start, time.process_time() - cpu


def time_writer(docs):
    w = vellum.SplitSetWriter()
    start, cpu = time.perf_counter(), time.process_time()
    for t in docs:
        w.add(t)
        if w.memtable_bytes() > FLUSH_AT:
            w.flush()
    return time.perf_counter() - start, time.process_time() - cpu


def ten_deltas(docs):
    """The corpus repeated as often as ten deltas need."""
    w = vellum.SplitSetWriter()
    deltas = []
    it = (t for _ in range(100) for t in docs)
    while len(deltas) < 10:
        for t in it:
            i = w.add(t)
            if i % 100 == 7:
                w.delete(i)
            if w.memtable_bytes() > FLUSH_AT:
                break
        else:
            if w.memtable_doc_count() == 0:
                break
        name, body, _ = w.flush()
        deltas.append((name, body))
    return w, deltas


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mb", type=float, default=100, help="MB of text for the add phase")
    ap.add_argument("--reps", type=int, default=3, help="interleaved runs of each")
    args = ap.parse_args()
    docs, total = texts(int(args.mb * 1e6))
    print(f"corpus: {len(docs)} documents, {bb.mb(total):.1f} MB; load {os.getloadavg()[0]:.2f}")
    runs = {"builder": [], "writer": []}
    for _ in range(args.reps):  # interleaved, so both see the same machine load
        runs["builder"].append(time_builder(docs))
        runs["writer"].append(time_writer(docs))
    for name, times in runs.items():
        wall = statistics.median(t for t, _ in times)
        cpu = statistics.median(c for _, c in times)
        print(f"{name} add: median wall {len(docs) / wall:,.0f} docs/s, "
              f"median CPU {len(docs) / cpu:,.0f} docs/s ({bb.mb(total) / cpu:.1f} MB/s)")
    ratios = [b[1] / w[1] for b, w in zip(runs["builder"], runs["writer"])]
    print(f"writer/builder CPU throughput per pair: {', '.join(f'{100 * r:.0f}%' for r in ratios)}")

    del docs
    w, deltas = ten_deltas(texts(200_000_000)[0])
    size = sum(len(b) for _, b in deltas)
    rss_before = bb.status_kb("VmRSS")
    bb.reset_peak()
    start, cpu = time.perf_counter(), time.process_time()
    name, body, manifest, removed = w.compact(deltas)
    took, cpu = time.perf_counter() - start, time.process_time() - cpu
    peak = bb.status_kb("VmHWM")
    print(f"compact {len(deltas)} deltas, {bb.mb(size):.1f} MB in: wall {took:.2f} s "
          f"({bb.mb(size) / took:.0f} MB/s), CPU {cpu:.2f} s ({bb.mb(size) / cpu:.0f} MB/s), "
          f"{bb.mb(len(body)):.1f} MB out; load {os.getloadavg()[0]:.2f}")
    print(f"peak RSS during compact: {peak / 1024:.0f} MiB "
          f"({(peak - rss_before) / 1024:.0f} MiB above the {rss_before / 1024:.0f} MiB before)")


if __name__ == "__main__":
    main()
