#!/usr/bin/env python3
"""Throughput and memory of vellum.SplitSetBuilder against vellum.Builder.

    PYTHONPATH=build/python /usr/bin/python3 bench/splitset_bench.py

Uses the corpus of bench/builder_bench.py (about 1,000,000 documents of
about 200 bytes, cached in .bench/). Each side runs in a fresh interpreter
with the texts already in memory:

- SplitSetBuilder with the default 32 MiB cap: one `add` call per document
  from Python, then `build`;
- Builder: `add_many` in batches of 10,000 rows (rank, text, record,
  facets), then `build`.

Peak resident memory (VmHWM) is reported above the interpreter holding the
texts; for the split set also the resident growth at every tenth of the
adds, next to the split bytes sealed so far (what it must hold until build).
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


def load(path, with_rows):
    texts, rows = [], []
    state = 0xC0FFEE
    with open(path, encoding="utf-8") as f:
        for doc, line in enumerate(f):
            stem, text = line.rstrip("\n").split("\t", 1)
            texts.append(text)
            if with_rows:
                state = bb.lcg(state)
                rows.append(((state >> 33) % 1_000_000, text,
                             b'{"doc":%d,"src":"%s"}' % (doc, stem.encode()), {"source": [stem]}))
    return texts, rows


def run_splitset(path, out, faceted):
    import vellum
    texts, _ = load(path, False)
    stems = []
    if faceted:
        with open(path, encoding="utf-8") as f:
            stems = [line.split("\t", 1)[0] for line in f]
    bb.reset_peak()
    base = bb.status_kb("VmRSS")
    b = vellum.SplitSetBuilder()
    checkpoints = []
    tenth = max(1, len(texts) // 10)
    t = time.perf_counter()
    if faceted:
        add = b.add_faceted
        for i, text in enumerate(texts):
            add(text, {"source": [stems[i]]})
            if (i + 1) % tenth == 0:
                checkpoints.append((i + 1, bb.status_kb("VmRSS") - base))
    else:
        add = b.add
        for i, text in enumerate(texts):
            add(text)
            if (i + 1) % tenth == 0:
                checkpoints.append((i + 1, bb.status_kb("VmRSS") - base))
    add_s = time.perf_counter() - t
    add_peak = bb.status_kb("VmHWM") - base
    t = time.perf_counter()
    stats = b.build(str(out))
    build_s = time.perf_counter() - t
    build_peak = bb.status_kb("VmHWM") - base
    # Split bytes sealed by the time of each checkpoint, from the manifest.
    from splitset_reader import read_manifest
    m = read_manifest((out / "index.vlss").read_bytes())
    sealed = []
    for n_docs, rss in checkpoints:
        sealed.append(sum(s.size_bytes for s in m.splits if s.last_id < n_docs))
    return dict(docs=stats.docs, splits=stats.splits, total_bytes=stats.total_bytes,
                add_s=add_s, build_s=build_s, add_peak_kb=add_peak, build_peak_kb=build_peak,
                checkpoints=checkpoints, sealed=sealed,
                text_bytes=sum(len(x.encode()) for x in texts))


def run_builder(path, out):
    import vellum
    _, rows = load(path, True)
    bb.reset_peak()
    base = bb.status_kb("VmRSS")
    b = vellum.Builder()
    t = time.perf_counter()
    for i in range(0, len(rows), 10_000):
        b.add_many(rows[i:i + 10_000])
    add_s = time.perf_counter() - t
    del rows  # the builder holds its own copy
    t = time.perf_counter()
    stats = b.build(str(out))
    build_s = time.perf_counter() - t
    return dict(docs=stats.docs, add_s=add_s, build_s=build_s,
                build_peak_kb=bb.status_kb("VmHWM") - base)


def child(args):
    out = bb.CACHE / f"bench-{args.child}"
    if out.exists():
        shutil.rmtree(out)
    path = Path(args.corpus)
    if args.child == "builder":
        result = run_builder(path, out)
    else:
        result = run_splitset(path, out, args.child == "splitset-faceted")
    print(json.dumps(result))


def spawn(kind, corpus):
    r = subprocess.run([sys.executable, __file__, "--child", kind, "--corpus", str(corpus)],
                       check=True, capture_output=True, text=True)
    return json.loads(r.stdout.strip().splitlines()[-1])


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--target-mb", type=float, default=200.0)
    ap.add_argument("--child", help=argparse.SUPPRESS)
    ap.add_argument("--corpus", help=argparse.SUPPRESS)
    ap.add_argument("--faceted", action="store_true", help="also time add_faceted")
    args = ap.parse_args()
    if args.child:
        sys.path.insert(0, str(bb.REPO / "tests" / "python"))
        return child(args)

    path = bb.prepare_corpus(int(args.target_mb * 1e6))
    n_docs, text_bytes, _ = bb.corpus_info(path)
    print(f"corpus: {path.name}: {n_docs} documents, {bb.mb(text_bytes):.1f} MB of text")
    ss = spawn("splitset", path)
    bl = spawn("builder", path)
    ss_s = ss["add_s"] + ss["build_s"]
    bl_s = bl["add_s"] + bl["build_s"]
    print(f"\nSplitSetBuilder (32 MiB cap, add per document): {ss['splits']} splits, "
          f"{bb.mb(ss['total_bytes']):.1f} MB")
    print(f"  add   {ss['add_s']:.2f} s   build {ss['build_s']:.2f} s   whole "
          f"{ss_s:.2f} s: {n_docs / ss_s:,.0f} docs/s, {bb.mb(text_bytes) / ss_s:.1f} MB/s")
    print(f"Builder (add_many of 10,000 rows, then build):")
    print(f"  add_many {bl['add_s']:.2f} s   build {bl['build_s']:.2f} s   whole "
          f"{bl_s:.2f} s: {n_docs / bl_s:,.0f} docs/s, {bb.mb(text_bytes) / bl_s:.1f} MB/s")
    print(f"SplitSetBuilder / Builder throughput: {bl_s / ss_s:.0%}")
    if args.faceted:
        sf = spawn("splitset-faceted", path)
        sf_s = sf["add_s"] + sf["build_s"]
        print(f"SplitSetBuilder with add_faceted: {sf_s:.2f} s, {n_docs / sf_s:,.0f} docs/s")
    print("\nmemory (resident, above the interpreter holding the texts):")
    print(f"  SplitSetBuilder peak during adds {ss['add_peak_kb'] / 1e3:.1f} MB, "
          f"during build {ss['build_peak_kb'] / 1e3:.1f} MB "
          f"(split files {bb.mb(ss['total_bytes']):.1f} MB)")
    print(f"  Builder peak during build {bl['build_peak_kb'] / 1e3:.1f} MB")
    print("  SplitSetBuilder growth during adds: docs, resident MB, split MB sealed by then")
    for (docs, rss), sealed in zip(ss["checkpoints"], ss["sealed"]):
        print(f"    {docs:9,}  {rss / 1e3:8.1f}  {bb.mb(sealed):8.1f}")


if __name__ == "__main__":
    main()
