#!/usr/bin/env python3
"""Throughput of vellum.TermSplitSetBuilder against vellum.TermBuilder.

    PYTHONPATH=build/python /usr/bin/python3 bench/term_splits_bench.py [--language english]

Uses the corpus of bench/builder_bench.py (about 1,000,000 documents of
about 200 bytes, cached in .bench/). Each side runs in a fresh interpreter
with the texts already in memory and the same analysis settings:

- TermSplitSetBuilder with the default 32 MiB cap: one `add` call per
  document from Python, then `build`;
- TermBuilder: `add_many` in batches of 10,000 (doc_id, text) pairs, then
  `finish`.
"""

import argparse
import json
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import builder_bench as bb  # noqa: E402  (corpus and /proc helpers)


def load(path):
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n").split("\t", 1)[1] for line in f]


def settings(language):
    return dict(language=language, stopwords=language is not None)


def run_term_splits(path, out, language):
    import vellum
    texts = load(path)
    bb.reset_peak()
    base = bb.status_kb("VmRSS")
    b = vellum.TermSplitSetBuilder(**settings(language))
    add = b.add
    t = time.perf_counter()
    for text in texts:
        add(text)
    add_s = time.perf_counter() - t
    t = time.perf_counter()
    stats = b.build(str(out))
    build_s = time.perf_counter() - t
    return dict(docs=stats.docs, splits=stats.splits, total_bytes=stats.total_bytes,
                add_s=add_s, build_s=build_s, peak_kb=bb.status_kb("VmHWM") - base)


def run_term_builder(path, out, language):
    import vellum
    docs = list(enumerate(load(path)))
    bb.reset_peak()
    base = bb.status_kb("VmRSS")
    b = vellum.TermBuilder(**settings(language))
    t = time.perf_counter()
    for i in range(0, len(docs), 10_000):
        b.add_many(docs[i:i + 10_000])
    add_s = time.perf_counter() - t
    terms = b.term_count()
    out.mkdir(parents=True)
    t = time.perf_counter()
    b.finish(str(out / "index.vlt"))
    build_s = time.perf_counter() - t
    return dict(docs=len(docs), terms=terms, total_bytes=(out / "index.vlt").stat().st_size,
                add_s=add_s, build_s=build_s, peak_kb=bb.status_kb("VmHWM") - base)


def child(args):
    out = bb.CACHE / f"bench-{args.child}"
    if out.exists():
        shutil.rmtree(out)
    run = run_term_splits if args.child == "term-splits" else run_term_builder
    print(json.dumps(run(Path(args.corpus), out, args.language)))


def spawn(kind, corpus, language):
    cmd = [sys.executable, __file__, "--child", kind, "--corpus", str(corpus)]
    if language:
        cmd += ["--language", language]
    r = subprocess.run(cmd, check=True, capture_output=True, text=True)
    return json.loads(r.stdout.strip().splitlines()[-1])


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--target-mb", type=float, default=200.0)
    ap.add_argument("--language", help="analysis language (stemming and stop words)")
    ap.add_argument("--child", help=argparse.SUPPRESS)
    ap.add_argument("--corpus", help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        return child(args)

    path = bb.prepare_corpus(int(args.target_mb * 1e6))
    n_docs, text_bytes, _ = bb.corpus_info(path)
    print(f"corpus: {path.name}: {n_docs} documents, {bb.mb(text_bytes):.1f} MB of text; "
          f"analysis: {settings(args.language)}")
    ts = spawn("term-splits", path, args.language)
    tb = spawn("term-builder", path, args.language)
    for name, r in (("TermSplitSetBuilder (add per document)", ts),
                    ("TermBuilder (add_many of 10,000)", tb)):
        whole = r["add_s"] + r["build_s"]
        print(f"{name}: add {r['add_s']:.2f} s ({n_docs / r['add_s']:,.0f} docs/s), "
              f"build {r['build_s']:.2f} s, whole {whole:.2f} s; "
              f"{bb.mb(r['total_bytes']):.1f} MB written, peak {r['peak_kb'] / 1e3:.0f} MB")
    print(f"  {ts['splits']} term splits; TermBuilder {tb['terms']:,} terms")
    print(f"add throughput, TermSplitSetBuilder / TermBuilder: {tb['add_s'] / ts['add_s']:.0%}")
    whole = (tb["add_s"] + tb["build_s"]) / (ts["add_s"] + ts["build_s"])
    print(f"whole-run throughput, TermSplitSetBuilder / TermBuilder: {whole:.0%}")


if __name__ == "__main__":
    main()
