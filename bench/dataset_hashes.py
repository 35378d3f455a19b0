#!/usr/bin/env python3
"""SHA-256 of every file Builder.build writes for the benchmark corpus.

    /usr/bin/python3 bench/dataset_hashes.py build/python/vellum.abi3.so [--target-mb 200]
        [--corpus english|multilingual]

Run it with two builds of the module (say, before and after a change) and
compare the output: a change that must not alter the formats leaves every
line the same. The corpus is the one bench/builder_bench.py uses, cached in
.bench/ of the checkout.
"""

import argparse
import hashlib
import importlib.machinery
import importlib.util
import shutil
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import builder_bench  # noqa: E402


def load_module(path):
    # The extension's init function is PyInit_vellum, so it loads as vellum
    # whatever the file is called.
    loader = importlib.machinery.ExtensionFileLoader("vellum", str(path))
    spec = importlib.util.spec_from_file_location("vellum", str(path), loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(1 << 20):
            h.update(chunk)
    return h.hexdigest()


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("module", type=Path, help="path of a vellum.abi3.so")
    ap.add_argument("--target-mb", type=float, default=200.0, help="text volume (MB)")
    ap.add_argument("--batch", type=int, default=10_000, help="rows per add_many call")
    ap.add_argument("--corpus", choices=["english", "multilingual"], default="english")
    args = ap.parse_args()

    vellum = load_module(args.module.resolve())
    if args.corpus == "english":
        corpus = builder_bench.prepare_corpus(int(args.target_mb * 1e6))
    else:
        corpus = builder_bench.prepare_multilingual()
    builder = vellum.Builder()
    batch = []
    for row in builder_bench.corpus_rows(corpus):
        batch.append(row)
        if len(batch) == args.batch:
            builder.add_many(batch)
            batch = []
    builder.add_many(batch)

    out = Path(tempfile.mkdtemp(prefix="vellum-hashes-"))
    try:
        stats = builder.build(str(out))
        print(f"module: {args.module}")
        print(f"corpus: {corpus.name}")
        print(f"{stats!r}")
        for p in sorted(out.iterdir()):
            print(f"{sha256(p)}  {p.stat().st_size:>12}  {p.name}")
    finally:
        shutil.rmtree(out)


if __name__ == "__main__":
    main()
