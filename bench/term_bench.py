#!/usr/bin/env python3
"""Throughput and peak memory of vellum.TermBuilder beside SQLite FTS5.

    PYTHONPATH=build/python /usr/bin/python3 bench/term_bench.py

Indexes the first --docs documents (1,000,000 by default) of the English
corpus of builder_bench.py (cached in .bench/) four ways, one after the
other in this process:

  * TermBuilder.add_many (batches of --batch documents) + finish, no stemming;
  * the same with English stemming (language="en");
  * FTS5 through Python's sqlite3, contentless (content=''), detail=none,
    tokenizer unicode61, into a file database, in one transaction;
  * the same with the porter tokenizer (porter over unicode61).

For each: documents/s, MB/s of text, seconds, peak resident memory above
the process before the run (VmHWM, reset through /proc/self/clear_refs) and
the output's size; MB/s also per CPU second. The texts are read into a list before any timing, so
reading the corpus is not measured; converting the Python objects is.
"""

import argparse
import hashlib
import os
import sqlite3
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from builder_bench import corpus_info, mb, prepare_corpus, reset_peak, status_kb  # noqa: E402


def load_docs(path, limit):
    docs, text_bytes = [], 0
    with open(path, encoding="utf-8") as f:
        for doc_id, line in enumerate(f):
            if doc_id == limit:
                break
            text = line.rstrip("\n").split("\t", 1)[1]
            docs.append((doc_id, text))
            text_bytes += len(text.encode("utf-8"))
    return docs, text_bytes


def run_term_builder(docs, batch, out, **kwargs):
    import vellum

    b = vellum.TermBuilder(**kwargs)
    t0 = time.perf_counter()
    for i in range(0, len(docs), batch):
        b.add_many(docs[i:i + batch])
    t1 = time.perf_counter()
    terms = b.term_count()
    b.finish(str(out))
    t2 = time.perf_counter()
    return {"add_many": t1 - t0, "finish": t2 - t1, "terms": terms}


def run_fts5(docs, batch, out, tokenizer):
    db = sqlite3.connect(str(out), isolation_level=None)
    db.execute("PRAGMA journal_mode=OFF")
    db.execute("PRAGMA synchronous=OFF")
    db.execute(f"CREATE VIRTUAL TABLE t USING fts5(body, content='', detail=none, "
               f"tokenize='{tokenizer}')")
    t0 = time.perf_counter()
    db.execute("BEGIN")
    for i in range(0, len(docs), batch):
        db.executemany("INSERT INTO t(rowid, body) VALUES (?, ?)", docs[i:i + batch])
    db.execute("COMMIT")
    t1 = time.perf_counter()
    db.close()
    t2 = time.perf_counter()
    return {"add_many": t1 - t0, "finish": t2 - t1, "terms": None}


def measure(name, fn, n_docs, text_bytes, out, digests=None):
    if out.exists():
        out.unlink()
    reset_peak()
    base_kb = status_kb("VmRSS")
    cpu0 = time.process_time()
    r = fn(out)
    cpu = time.process_time() - cpu0
    peak_kb = status_kb("VmHWM") - base_kb
    total = r["add_many"] + r["finish"]
    size = out.stat().st_size
    terms = f"{r['terms']:>10,}" if r["terms"] is not None else f"{'':>10}"
    print(f"{name:26} {n_docs / total:>10,.0f} {mb(text_bytes) / total:>7.1f} {total:>7.2f} "
          f"{r['add_many']:>7.2f} {r['finish']:>7.2f} {peak_kb / 1e3:>8.1f} "
          f"{mb(size):>8.1f} {terms} {mb(text_bytes) / cpu:>8.1f}", flush=True)
    if digests is not None:
        digests.append((name, hashlib.sha256(out.read_bytes()).hexdigest()))
    out.unlink()
    return mb(text_bytes) / total


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--docs", type=int, default=1_000_000, help="documents to index")
    ap.add_argument("--batch", type=int, default=10_000, help="documents per add_many call")
    ap.add_argument("--skip-fts5", action="store_true", help="only the TermBuilder runs")
    ap.add_argument("--sha256", action="store_true",
                    help="print the SHA-256 of each TermBuilder output file")
    args = ap.parse_args()

    path = prepare_corpus(200_000_000)
    total_docs, _, _ = corpus_info(path)
    docs, text_bytes = load_docs(path, args.docs)
    print(f"corpus: {path.name}: first {len(docs):,} of {total_docs:,} documents, "
          f"{mb(text_bytes):.1f} MB of text")
    if not reset_peak():
        print("note: /proc/self/clear_refs refused; peaks below are process-wide")
    print(f"\n{'run':26} {'docs/s':>10} {'MB/s':>7} {'total s':>7} {'add s':>7} {'end s':>7} "
          f"{'peak MB':>8} {'out MB':>8} {'terms':>10} {'CPU MB/s':>8}")

    n = len(docs)
    with tempfile.TemporaryDirectory(dir=os.environ.get("TMPDIR")) as tmp:
        out = Path(tmp) / "out"
        rates = {}
        digests = [] if args.sha256 else None
        rates["plain"] = measure(
            "TermBuilder", lambda o: run_term_builder(docs, args.batch, o), n, text_bytes, out,
            digests)
        rates["stem"] = measure(
            "TermBuilder language=en",
            lambda o: run_term_builder(docs, args.batch, o, language="en"), n, text_bytes, out,
            digests)
        if not args.skip_fts5:
            rates["fts_plain"] = measure(
                "FTS5 unicode61", lambda o: run_fts5(docs, args.batch, o, "unicode61"), n,
                text_bytes, out)
            rates["fts_stem"] = measure(
                "FTS5 porter", lambda o: run_fts5(docs, args.batch, o, "porter unicode61"), n,
                text_bytes, out)
            print(f"\nTermBuilder / FTS5: {rates['plain'] / rates['fts_plain']:.1f}x without "
                  f"stemming, {rates['stem'] / rates['fts_stem']:.1f}x with stemming")
    for name, digest in digests or []:
        print(f"sha256 {name}: {digest}")
    print("\nCPU MB/s divides by the process's CPU time (one thread), which a shared "
          "machine inflates less than wall time.")
    print("'add s' is add_many (FTS5: the inserts and commit), 'end s' is finish (FTS5: "
          "closing the database); peaks are above the process with the texts loaded.")


if __name__ == "__main__":
    main()
