#!/usr/bin/env python3
"""SplitSetWriter: add throughput against SplitSetBuilder on the corpus of
builder_bench.py, and minor compaction of ten 32 MiB deltas.

    PYTHONPATH=build/python /usr/bin/python3 bench/writer_bench.py [--mb 100]

Add: documents/s and MB/s of text for SplitSetBuilder.add and for
SplitSetWriter.add with memtable_bytes() asked after every document and a
flush whenever it passes 32 MiB (flush time included). Compaction: ten
flushed deltas (1% of their documents deleted) merged in one compact call;
MB/s of input split bytes and peak resident memory of the call (VmHWM,
reset through /proc/self/clear_refs), beside the memory the inputs hold.
"""

import argparse
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
    start = time.perf_counter()
    for t in docs:
        b.add(t)
    return time.perf_counter() - start


def time_writer(docs):
    w = vellum.SplitSetWriter()
    flushes = 0
    start = time.perf_counter()
    for t in docs:
        w.add(t)
        if w.memtable_bytes() > FLUSH_AT:
            w.flush()
            flushes += 1
    return time.perf_counter() - start, flushes


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
    args = ap.parse_args()
    docs, total = texts(int(args.mb * 1e6))
    print(f"corpus: {len(docs)} documents, {bb.mb(total):.1f} MB")
    tb = time_builder(docs)
    tw, flushes = time_writer(docs)
    print(f"SplitSetBuilder.add: {len(docs) / tb:,.0f} docs/s, {bb.mb(total) / tb:.1f} MB/s")
    print(f"SplitSetWriter.add+flush ({flushes} flushes): {len(docs) / tw:,.0f} docs/s, "
          f"{bb.mb(total) / tw:.1f} MB/s ({100 * tb / tw:.0f}% of the builder)")

    del docs
    w, deltas = ten_deltas(texts(200_000_000)[0])
    size = sum(len(b) for _, b in deltas)
    rss_before = bb.status_kb("VmRSS")
    bb.reset_peak()
    start = time.perf_counter()
    name, body, manifest, removed = w.compact(deltas)
    took = time.perf_counter() - start
    peak = bb.status_kb("VmHWM")
    print(f"compact {len(deltas)} deltas, {bb.mb(size):.1f} MB in: {took:.2f} s, "
          f"{bb.mb(size) / took:.0f} MB/s, {bb.mb(len(body)):.1f} MB out")
    print(f"peak RSS during compact: {peak / 1024:.0f} MiB "
          f"({(peak - rss_before) / 1024:.0f} MiB above the {rss_before / 1024:.0f} MiB before)")


if __name__ == "__main__":
    main()
