#!/usr/bin/env python3
"""Throughput and memory of vellum.Builder against SQLite FTS5, on two corpora.

    PYTHONPATH=build/python /usr/bin/python3 bench/builder_bench.py [--corpus english]

english: about 200 MB of English from Debian's dictionary packages (GCIDE,
WordNet, FOLDOC, Jargon File, Devil's Dictionary), cut into documents of
about 200 bytes. When the dictionaries hold less text than the target,
further passes over them cut the word stream at shifted, differently drawn
boundaries, so a pass does not reproduce an earlier one; the output says how
many passes were needed.

multilingual: every translated manual page of Debian's manpages-{zh,ja,de,
fr,ru,es,tr} (roff markup stripped, one document per paragraph), the
fortunes of fortunes-{zh,ru,de,es} (one per fortune) and the bilingual
FreeDict dictionaries Arabic, German, French, Japanese, Spanish and Turkish
with English or German (one document per entry). Mixed scripts give many
more distinct keys per byte than English.

Both corpora are cached in .bench/ of the checkout. Missing packages are
installed with apt-get when running as root, otherwise the command to run is
printed.

As a new user would: the rows (rank, text, record, None) are built as a
list first (with --facets, each row names its source package as a facet
instead of None); then add_many (in batches) and build are clocked, wall time and
process CPU time, with the system part of the latter. The peer is SQLite's
FTS5 trigram index through Python's sqlite3: contentless, detail=none, in
memory, the same texts inserted in document-id order in one transaction,
then 'optimize'; the ratio compares the two on the same corpus in the same
run. Peak resident memory is read from VmHWM, reset between phases through
/proc/self/clear_refs.
"""

import argparse
import gc
import gzip
import os
import re
import resource
import shutil
import sqlite3
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
MAN = Path("/usr/share/man")
FORTUNES = Path("/usr/share/games/fortunes")
MULTILINGUAL_VERSION = 2
# FreeDict's German-English and Japanese-German dictionaries alone would be
# most of the corpus: no source gives more than this many documents.
PER_SOURCE_DOCS = 100_000
MAN_LANGS = ["zh_CN", "zh_TW", "ja", "de", "fr", "ru", "es", "tr"]
MULTILINGUAL_PACKAGES = [
    "manpages-zh", "manpages-ja", "manpages-de", "manpages-fr", "manpages-ru",
    "manpages-es", "manpages-tr",
    "fortunes-zh", "fortunes-ru", "fortunes-de", "fortunes-es",
    "dict-freedict-ara-eng", "dict-freedict-eng-ara", "dict-freedict-deu-eng",
    "dict-freedict-fra-eng", "dict-freedict-jpn-deu", "dict-freedict-eng-jpn",
    "dict-freedict-spa-eng", "dict-freedict-tur-eng",
]


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


def corpus_rows(path, facets=True):
    """Yields the corpus as Builder.add rows: (rank, text, record, facets),
    facets being {"source": [package]}, or None when `facets` is false."""
    state = 0xC0FFEE
    with open(path, encoding="utf-8") as f:
        for doc, line in enumerate(f):
            stem, text = line.rstrip("\n").split("\t", 1)
            state = lcg(state)
            rank = (state >> 33) % 1_000_000  # ties are common, as in real ranks
            record = b'{"doc":%d,"src":"%s"}' % (doc, stem.encode())
            yield rank, text, record, {"source": [stem]} if facets else None


# --------------------------------------------------------------------------
# Multilingual corpus

ROFF_ESCAPE = re.compile(r"\\(f[BIRP1-4]|f\(..|f\[[^]]*\]|\(..|\[[^]]*\]|\*.|s[-+]?\d|[-e&|^ 0~c])")


def install(packages, probe):
    missing = [p for p in packages if not probe(p)]
    if missing and os.geteuid() == 0 and shutil.which("apt-get"):
        print(f"installing {' '.join(missing)} ...", flush=True)
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "install", "-y", "-q", *missing], env=env, check=False,
                       stdout=subprocess.DEVNULL)
        missing = [p for p in packages if not probe(p)]
    if missing:
        print(f"note: the multilingual corpus lacks {' '.join(missing)} "
              f"(apt-get install -y {' '.join(missing)})")


def package_installed(pkg):
    r = subprocess.run(["dpkg-query", "-W", "-f=${Status}", pkg], capture_output=True, text=True)
    return "install ok installed" in r.stdout


def man_paragraphs(path):
    """Text paragraphs of a roff manual page: macros dropped, escapes removed."""
    with gzip.open(path, "rt", encoding="utf-8", errors="replace") as f:
        para = []
        for line in f:
            line = line.rstrip("\n")
            if line.startswith((".", "'")):
                macro, _, rest = line.partition(" ")
                if macro in (".PP", ".P", ".LP", ".SH", ".SS", ".TP", ".IP", ".sp", ".br") and para:
                    yield " ".join(para)
                    para = []
                if macro.startswith('.\\"'):
                    continue
                line = rest.replace('"', "")
            line = ROFF_ESCAPE.sub("", line).strip()
            if line:
                para.append(line)
            elif para:
                yield " ".join(para)
                para = []
        if para:
            yield " ".join(para)


def fortunes(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        yield from (t.strip() for t in f.read().split("\n%\n"))


def dict_entries(path):
    """Entries of a dictd file: blocks that start at an unindented line."""
    with gzip.open(path, "rt", encoding="utf-8", errors="replace") as f:
        entry = []
        for line in f:
            if line.strip() and not line[0].isspace() and entry:
                yield " ".join(entry)
                entry = []
            if line.strip():
                entry.append(line.strip())
        if entry:
            yield " ".join(entry)


def multilingual_sources():
    """(source name, iterable of texts), in a fixed order."""
    for lang in MAN_LANGS:
        for page in sorted((MAN / lang).glob("man*/*.gz")):
            yield f"man-{lang}", man_paragraphs(page)
    for lang, d in (("zh", FORTUNES), ("de", FORTUNES / "de"), ("ru", FORTUNES / "ru"),
                    ("es", FORTUNES / "es")):
        for f in sorted(d.glob("*")):
            if f.is_file() and not f.is_symlink() and f.suffix not in (".dat", ".u8"):
                yield f"fortune-{lang}", fortunes(f)
    for f in sorted(DICTD.glob("freedict-*.dict.dz")):
        yield f.name.split(".")[0], dict_entries(f)


def prepare_multilingual():
    install(MULTILINGUAL_PACKAGES, package_installed)
    path = CACHE / f"multilingual-v{MULTILINGUAL_VERSION}.tsv"
    if path.exists():
        return path
    CACHE.mkdir(exist_ok=True)
    tmp = path.with_suffix(".tmp")
    total = docs = 0
    per_source = {}
    with open(tmp, "w", encoding="utf-8") as out:
        for source, texts in multilingual_sources():
            for text in texts:
                text = " ".join(text.split())
                if len(text) < 20 or per_source.get(source, 0) >= PER_SOURCE_DOCS:
                    continue  # headings, blank fortunes, or enough of this source
                per_source[source] = per_source.get(source, 0) + 1
                out.write(f"{source}\t{text}\n")
                total += len(text.encode("utf-8"))
                docs += 1
    tmp.rename(path)
    path.with_suffix(".info").write_text(f"{docs} {total} 1\n")
    return path


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


def clocks():
    """Wall, process CPU and system CPU time. The system share is mostly
    the kernel backing new memory, which on some virtual machines costs
    far more when the machine has been idle: it tells such runs apart."""
    return time.perf_counter(), time.process_time(), resource.getrusage(resource.RUSAGE_SELF).ru_stime


def since(start):
    return tuple(now - then for now, then in zip(clocks(), start))


def run_vellum(rows, batch, out):
    """Stages and builds; returns times, statistics and memory figures."""
    import vellum

    gc.collect()
    reset_peak()
    base_rss = status_kb("VmRSS")
    builder = vellum.Builder()
    add = [0.0, 0.0, 0.0]
    per_batch = []
    for i in range(0, len(rows), batch):
        part = rows[i:i + batch]
        start = clocks()
        builder.add_many(part)
        took = since(start)
        for k in range(3):
            add[k] += took[k]
        per_batch.append(took[1])
    staged_kb = status_kb("VmRSS") - base_rss
    if out.exists():
        shutil.rmtree(out)
    reset_peak()
    before_build_kb = status_kb("VmRSS")
    start = clocks()
    stats = builder.build(str(out))
    build = since(start)
    build_peak_kb = status_kb("VmHWM")
    sizes = {p.name: p.stat().st_size for p in sorted(out.iterdir())}
    del builder
    return dict(stats=stats, add=add, build=build, per_batch=per_batch, sizes=sizes,
                staged_mb=staged_kb / 1e3,
                build_peak_mb=(build_peak_kb - base_rss) / 1e3,
                build_above_mb=(build_peak_kb - before_build_kb) / 1e3)


def run_fts5(rows):
    """FTS5 trigram, contentless, detail=none, in memory; texts in id order."""
    order = sorted(range(len(rows)), key=lambda i: -rows[i][0])  # stable: ties keep order
    docs = [(d, rows[i][1]) for d, i in enumerate(order)]
    del order
    db = sqlite3.connect(":memory:")
    db.execute("CREATE VIRTUAL TABLE t USING fts5(text, content='', detail=none, "
               "tokenize='trigram')")
    start = clocks()
    with db:
        db.executemany("INSERT INTO t(rowid, text) VALUES (?, ?)", docs)
    with db:
        db.execute("INSERT INTO t(t) VALUES ('optimize')")
    took = since(start)
    db.close()
    return took


def report(name, n_docs, text_bytes, batch, v, fts):
    print(f"\n{name}: {v['stats']!r}")
    add, build = v["add"], v["build"]
    both = tuple(a + b for a, b in zip(add, build))
    text = mb(text_bytes)
    for what, (wall, cpu, system) in (("add_many", add), ("build", build),
                                      ("add_many + build", both)):
        print(f"  {what:17} {wall:7.2f} s wall ({text / wall:6.1f} MB/s), "
              f"{cpu:7.2f} s CPU ({text / cpu:6.1f} MB/s), {system:5.2f} s of it system")
    print(f"  add_many per row: {add[1] / n_docs * 1e6:.2f} us CPU "
          f"({batch} rows a call)", end="")
    tenth = len(v["per_batch"]) // 10
    if tenth:
        first = sum(v["per_batch"][:tenth]) / (tenth * batch)
        last = sum(v["per_batch"][-tenth:]) / (tenth * batch)
        print(f"; {first * 1e6:.2f} us in the first tenth of the batches, "
              f"{last * 1e6:.2f} us in the last", end="")
    print()
    if fts:
        print(f"  FTS5 trigram      {fts[0]:7.2f} s wall ({text / fts[0]:6.1f} MB/s), "
              f"{fts[1]:7.2f} s CPU: vellum is {fts[0] / both[0]:.1f}x faster (wall), "
              f"{fts[1] / both[1]:.1f}x (CPU)")
    sizes = v["sizes"]
    index_mb = mb(sizes["index.vls"] + sizes["index.vlf"])
    print("  files: " + ", ".join(f"{k} {mb(n):.1f} MB" for k, n in sizes.items()))
    records_mb = mb(sizes["records.bin"])
    print(f"  staged: {v['staged_mb']:.1f} MB resident for {text:.1f} MB text + "
          f"{records_mb:.1f} MB records: {(v['staged_mb'] - text - records_mb) * 1e6 / n_docs:.0f} "
          f"B/record beyond the bytes")
    print(f"  peak during build: {v['build_peak_mb']:.1f} MB ({v['build_above_mb']:.1f} MB above "
          f"the staged state); staged + 2 x index = {v['staged_mb'] + 2 * index_mb:.1f} MB")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--corpus", choices=["english", "multilingual", "both"], default="both")
    ap.add_argument("--target-mb", type=float, default=200.0, help="English text volume (MB)")
    ap.add_argument("--batch", type=int, default=10_000, help="rows per add_many call")
    ap.add_argument("--no-fts5", action="store_true", help="skip the SQLite FTS5 peer")
    ap.add_argument("--facets", action="store_true",
                    help="give each row its source as a facet (default: None)")
    ap.add_argument("--out", type=Path, default=CACHE / "dataset", help="build directory")
    args = ap.parse_args()
    if not reset_peak():
        print("note: /proc/self/clear_refs refused; peaks below are process-wide")

    corpora = []
    if args.corpus in ("english", "both"):
        corpora.append(("english", prepare_corpus(int(args.target_mb * 1e6))))
    if args.corpus in ("multilingual", "both"):
        corpora.append(("multilingual", prepare_multilingual()))
    print(f"SQLite {sqlite3.sqlite_version}")
    for name, path in corpora:
        n_docs, text_bytes, passes = corpus_info(path)
        print(f"\ncorpus {name}: {path.name}: {n_docs} documents, {mb(text_bytes):.1f} MB of text"
              + (f" ({passes} passes at shifted boundaries)" if passes > 1 else ""))
        rows = list(corpus_rows(path, args.facets))
        v = run_vellum(rows, args.batch, args.out)
        assert v["stats"].docs == n_docs, (v["stats"], n_docs)
        fts = None if args.no_fts5 else run_fts5(rows)
        report(name, n_docs, text_bytes, args.batch, v, fts)
        del rows


if __name__ == "__main__":
    main()
