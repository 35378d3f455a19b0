#!/usr/bin/env python3
"""Throughput and peak memory of vellum.Builder over ~200 MB of English text.

    PYTHONPATH=build/python /usr/bin/python3 bench/builder_bench.py

The corpus comes from Debian's dictionary packages (GCIDE, WordNet, FOLDOC,
Jargon File, Devil's Dictionary), is cut into documents of about 200 bytes
and cached in .bench/ of the checkout. When the dictionaries hold less text
than the target, further passes over them cut the word stream at shifted,
differently drawn boundaries, so a pass does not reproduce an earlier one;
the output says how many passes were needed. Missing packages are installed
with apt-get when running as root, otherwise the command to run is printed.

add_many (in batches) and build are measured separately: documents/s, MB/s
of text and peak resident memory (VmHWM, reset between phases through
/proc/self/clear_refs).
"""

import argparse
import gzip
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
CACHE = REPO / ".bench"
DICTD = Path("/usr/share/dictd")
SOURCES = [  # (package, dictd file stem)
    ("dict-gcide", "gcide"),
    ("dict-wn", "wn"),
    ("dict-foldoc", "foldoc"),
    ("dict-jargon", "jargon"),
    ("dict-devil", "devil"),
]
CORPUS_VERSION = 1
MASK64 = (1 << 64) - 1


def lcg(state):
    return (state * 6364136223846793005 + 1442695040888963407) & MASK64


# --------------------------------------------------------------------------
# Corpus


def ensure_sources():
    missing = [pkg for pkg, stem in SOURCES if not (DICTD / f"{stem}.dict.dz").exists()]
    if missing and os.geteuid() == 0 and shutil.which("apt-get"):
        print(f"installing {' '.join(missing)} ...", flush=True)
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "install", "-y", "-q", *missing], env=env, check=False,
                       stdout=subprocess.DEVNULL)
        missing = [pkg for pkg, stem in SOURCES if not (DICTD / f"{stem}.dict.dz").exists()]
    if missing:
        print(f"note: without {' '.join(missing)} the corpus repeats more "
              f"(apt-get install -y {' '.join(missing)})")
    present = [stem for _, stem in SOURCES if (DICTD / f"{stem}.dict.dz").exists()]
    if not present:
        sys.exit("no dictionary text found: apt-get install -y dict-gcide dict-wn")
    return present


def words(stem):
    # .dict.dz files are gzip-compatible (dictzip adds random-access metadata).
    with gzip.open(DICTD / f"{stem}.dict.dz", "rt", encoding="utf-8", errors="replace") as f:
        for line in f:
            yield from line.split()


def prepare_corpus(target_bytes):
    """Writes 'source<TAB>text' lines to the cache and returns its path."""
    stems = ensure_sources()
    path = CACHE / f"corpus-v{CORPUS_VERSION}-{target_bytes}-{'-'.join(stems)}.tsv"
    if path.exists():
        return path
    CACHE.mkdir(exist_ok=True)
    tmp = path.with_suffix(".tmp")
    total = docs = 0
    passes = 0
    state = 0x5EED
    with open(tmp, "w", encoding="utf-8") as out:
        while total < target_bytes:
            passes += 1
            for stem in stems:
                stream = words(stem)
                # Each pass drops a different number of leading words and
                # draws fresh lengths, so its cuts fall elsewhere.
                for _ in range((passes - 1) * 17):
                    next(stream, None)
                buf, size = [], 0
                state = lcg(state)
                want = 120 + (state >> 33) % 141  # 120..260 bytes
                for w in stream:
                    buf.append(w)
                    size += len(w) + 1
                    if size >= want:
                        text = " ".join(buf)
                        out.write(f"{stem}\t{text}\n")
                        total += len(text.encode("utf-8"))
                        docs += 1
                        buf, size = [], 0
                        state = lcg(state)
                        want = 120 + (state >> 33) % 141
                        if total >= target_bytes:
                            break
                if total >= target_bytes:
                    break
    tmp.rename(path)
    (path.with_suffix(".info")).write_text(f"{docs} {total} {passes}\n")
    return path


def corpus_info(path):
    docs, total, passes = map(int, path.with_suffix(".info").read_text().split())
    return docs, total, passes


def corpus_rows(path):
    """Yields the corpus as Builder.add rows: (rank, text, record, facets)."""
    state = 0xC0FFEE
    with open(path, encoding="utf-8") as f:
        for doc, line in enumerate(f):
            stem, text = line.rstrip("\n").split("\t", 1)
            state = lcg(state)
            rank = (state >> 33) % 1_000_000  # ties are common, as in real ranks
            record = b'{"doc":%d,"src":"%s"}' % (doc, stem.encode())
            yield rank, text, record, {"source": [stem]}


# --------------------------------------------------------------------------
# Measurement


def status_kb(field):
    with open("/proc/self/status") as f:
        return int(re.search(rf"^{field}:\s+(\d+) kB", f.read(), re.M).group(1))


def reset_peak():
    """Resets VmHWM to the current RSS; False where the kernel refuses."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def mb(n_bytes):
    return n_bytes / 1e6


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--target-mb", type=float, default=200.0, help="text volume (MB)")
    ap.add_argument("--batch", type=int, default=10_000, help="rows per add_many call")
    ap.add_argument("--out", type=Path, default=CACHE / "dataset", help="build directory")
    args = ap.parse_args()

    t0 = time.perf_counter()
    path = prepare_corpus(int(args.target_mb * 1e6))
    n_docs, text_bytes, passes = corpus_info(path)
    print(f"corpus: {path.name}: {n_docs} documents, {mb(text_bytes):.1f} MB of text "
          f"(ready in {time.perf_counter() - t0:.1f} s)")
    if passes > 1:
        print(f"  the dictionaries hold less than the target: {passes} passes over them, "
              f"each cut at shifted boundaries so a pass does not reproduce an earlier pass")

    import vellum

    can_reset = reset_peak()
    if not can_reset:
        print("note: /proc/self/clear_refs refused; peaks below are process-wide")
    base_rss = status_kb("VmRSS")

    builder = vellum.Builder()
    add_seconds = 0.0
    batch_seconds = []
    batch = []
    for row in corpus_rows(path):
        batch.append(row)
        if len(batch) == args.batch:
            t = time.perf_counter()
            builder.add_many(batch)
            batch_seconds.append(time.perf_counter() - t)
            batch = []
    if batch:
        t = time.perf_counter()
        builder.add_many(batch)
        add_seconds += time.perf_counter() - t
        batch = []
    add_seconds += sum(batch_seconds)
    staged_kb = status_kb("VmRSS") - base_rss
    add_peak_kb = status_kb("VmHWM") - base_rss

    if args.out.exists():
        shutil.rmtree(args.out)
    reset_peak()
    before_build_kb = status_kb("VmRSS")
    t = time.perf_counter()
    stats = builder.build(str(args.out))
    build_seconds = time.perf_counter() - t
    build_peak_kb = status_kb("VmHWM")
    assert stats.docs == n_docs, (stats, n_docs)

    sizes = {p.name: p.stat().st_size for p in sorted(args.out.iterdir())}
    index_bytes = sizes["index.vls"] + sizes["index.vlf"]

    print(f"\n{stats!r}")
    print(f"add_many ({args.batch} rows a call): {add_seconds:.2f} s, "
          f"{n_docs / add_seconds:,.0f} docs/s, {mb(text_bytes) / add_seconds:.1f} MB/s of text")
    if len(batch_seconds) >= 10:
        # Staging should cost the same per row however much is staged already.
        tenth = len(batch_seconds) // 10
        first = sum(batch_seconds[:tenth]) / (tenth * args.batch)
        last = sum(batch_seconds[-tenth:]) / (tenth * args.batch)
        print(f"  per row: {first * 1e6:.2f} us in the first tenth of the batches, "
              f"{last * 1e6:.2f} us in the last tenth")
    print(f"build:                          {build_seconds:.2f} s, "
          f"{n_docs / build_seconds:,.0f} docs/s, {mb(text_bytes) / build_seconds:.1f} MB/s of text")
    print("\nfiles:")
    for name, size in sizes.items():
        print(f"  {name:12} {mb(size):9.1f} MB")
    print("\nmemory (resident, above the process before staging):")
    print(f"  staged records after add_many:  {staged_kb / 1e3:9.1f} MB")
    print(f"  peak during add_many:           {add_peak_kb / 1e3:9.1f} MB")
    print(f"  peak during build:              {(build_peak_kb - base_rss) / 1e3:9.1f} MB "
          f"({(build_peak_kb - before_build_kb) / 1e3:.1f} MB above the staged state)")
    print(f"  staged + 2 x index (vls+vlf):   {staged_kb / 1e3 + 2 * mb(index_bytes):9.1f} MB")


if __name__ == "__main__":
    main()
