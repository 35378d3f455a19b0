#!/usr/bin/env python3
"""IVF-PQ training time, add_many throughput and recall of vellum.VectorBuilder,
beside FAISS's single-threaded IVF-PQ on the same data.

    PYTHONPATH=build/python /usr/bin/python3 bench/vector_bench.py          # n=100000, dim 128
    PYTHONPATH=build/python /usr/bin/python3 bench/vector_bench.py --quick  # n=20000

Both trainers use every point (FAISS's subsampling is switched off), the same
number of k-means iterations for the coarse and the PQ runs, and no
polysemous training. FAISS runs on one thread (OpenMP and OpenBLAS); the
BLAS it loaded is printed from /proc/self/maps.

Recall@10 is measured against exact L2 search for held-out queries: for
vellum with a small asymmetric-distance search over the arrays of the
written VLVI file, for FAISS with its own search, probing 8 and 32 lists.
Data sets: a Gaussian mixture, and 8x8 grey patches cut from images that
ship with Debian packages.
"""

import os

# Before NumPy or FAISS load OpenBLAS: one thread, no busy-waiting helpers.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
os.environ.setdefault("OMP_NUM_THREADS", "1")

import argparse
import glob
import struct
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import vellum

IMAGE_GLOBS = ["/usr/share/**/*.jpg", "/usr/share/**/*.jpeg", "/usr/share/**/*.png"]


# --------------------------------------------------------------------------
# Data

def gaussian_mixture(n, dim, seed):
    rng = np.random.default_rng(seed)
    centres = rng.standard_normal((512, dim)).astype(np.float32) * 2.0
    which = rng.integers(0, len(centres), n)
    return (centres[which] + rng.standard_normal((n, dim)).astype(np.float32)).astype(np.float32)


def image_patches(n, seed):
    """8x8 grey patches (64 floats) from Debian's images, flat ones skipped."""
    from PIL import Image

    paths = sorted({p for g in IMAGE_GLOBS for p in glob.glob(g, recursive=True)
                    if os.path.getsize(p) > 30_000})
    patches = []
    for path in paths:
        try:
            grey = np.asarray(Image.open(path).convert("L"), dtype=np.float32)
        except Exception:  # an image PIL cannot read is simply not used
            continue
        h, w = grey.shape
        win = np.lib.stride_tricks.sliding_window_view(grey, (8, 8))[::4, ::4]
        flat = win.reshape(-1, 64)
        patches.append(flat[flat.std(axis=1) > 4.0])
    data = np.concatenate(patches)
    rng = np.random.default_rng(seed)
    data = data[rng.permutation(len(data))[:n]]
    return np.ascontiguousarray(data / 255.0, dtype=np.float32), len(paths)


# --------------------------------------------------------------------------
# vellum

def vellum_train(x, nlist, m, iters, path):
    n, dim = x.shape
    b = vellum.VectorBuilder(dim, nlist, m, nbits=8, metric="l2", kmeans_iters=iters)
    b.add_many(list(zip(range(n), x)))
    t = time.perf_counter()
    b.build(path)
    return time.perf_counter() - t


def add_many_times(x):
    n, dim = x.shape
    rows = list(zip(range(n), x))
    lists = [(i, r.tolist()) for i, r in enumerate(x)]
    out = {}
    for name, items in (("NumPy rows", rows), ("lists of floats", lists)):
        b = vellum.VectorBuilder(dim, 1, 1)
        t = time.perf_counter()
        b.add_many(items)
        out[name] = time.perf_counter() - t
    return out


def read_vlvi_arrays(path):
    data = Path(path).read_bytes()
    magic, _, _, rotated, d, nlist, m, nbits, _, n, _ = struct.unpack_from(
        "<4sHBBIIIB3sQ16s", data)
    assert magic == b"VLVI" and not rotated
    ksub, at = 1 << nbits, 48
    cents = np.frombuffer(data, "<f4", nlist * d, at).reshape(nlist, d)
    at += 4 * nlist * d
    books = np.frombuffer(data, "<f4", ksub * d, at).reshape(m, ksub, d // m)
    at += 4 * ksub * d
    directory = np.frombuffer(data, np.dtype([("off", "<u8"), ("n", "<u4")]), nlist, at)
    lists = []
    for off, count in directory:
        off, count = int(off), int(count)
        ids = np.frombuffer(data, "<u4", count, off)
        codes = np.frombuffer(data, np.uint8, count * m, off + 4 * count).reshape(count, m)
        lists.append((ids, codes))
    return cents, books, lists


def adc_search(arrays, queries, nprobe, k):
    cents, books, lists = arrays
    m, ksub, dsub = books.shape
    results = []
    for q in queries:
        probe = np.argsort(((cents - q) ** 2).sum(axis=1))[:nprobe]
        ids, dists = [], []
        for c in probe:
            list_ids, codes = lists[c]
            if len(list_ids) == 0:
                continue
            r = (q - cents[c]).reshape(m, 1, dsub)
            table = ((books - r) ** 2).sum(axis=2)  # m x ksub
            dists.append(table[np.arange(m), codes].sum(axis=1))
            ids.append(list_ids)
        ids, dists = np.concatenate(ids), np.concatenate(dists)
        results.append(ids[np.argsort(dists, kind="stable")[:k]])
    return results


# --------------------------------------------------------------------------
# FAISS

def loaded_blas():
    with open("/proc/self/maps") as f:
        libs = {line.split()[-1] for line in f if "/" in line}
    return sorted(p for p in libs if "blas" in p or "lapack" in p) or ["(none found)"]


def faiss_train(faiss, x, nlist, m, iters):
    dim = x.shape[1]
    quantizer = faiss.IndexFlatL2(dim)
    index = faiss.IndexIVFPQ(quantizer, dim, nlist, m, 8)
    index.do_polysemous_training = False
    index.cp.niter = iters
    index.pq.cp.niter = iters
    index.cp.max_points_per_centroid = 1 << 30  # all points, as vellum uses
    index.pq.cp.max_points_per_centroid = 1 << 30
    t = time.perf_counter()
    index.train(x)
    trained = time.perf_counter() - t
    t = time.perf_counter()
    index.add(x)
    return index, trained, time.perf_counter() - t


# --------------------------------------------------------------------------

def exact_top(x, queries, k):
    sq = (x.astype(np.float64) ** 2).sum(axis=1)
    out = []
    for q in queries.astype(np.float64):
        out.append(np.argsort(sq - 2.0 * (x @ q), kind="stable")[:k])
    return out


def recall(found, truth):
    return np.mean([len(set(map(int, f)) & set(map(int, t))) / len(t)
                    for f, t in zip(found, truth)])


def run(name, x, queries, args, faiss, tmp):
    n, dim = x.shape
    print(f"\n== {name}: n={n}, dim={dim}, nlist={args.nlist}, m={args.m}, nbits=8, "
          f"iters={args.iters}")
    path = os.path.join(tmp, f"{name}.vlvi")
    seconds = vellum_train(x, args.nlist, args.m, args.iters, path)
    print(f"vellum build (train + write): {seconds:8.2f} s")
    index = None
    if faiss is not None:
        index, trained, added = faiss_train(faiss, x, args.nlist, args.m, args.iters)
        print(f"FAISS train:                  {trained:8.2f} s   (+ add {added:.2f} s)")
        print(f"vellum / FAISS training time: {seconds / trained:8.2f}")
    truth = exact_top(x, queries, 10)
    arrays = read_vlvi_arrays(path)
    for nprobe in (8, 32):
        line = f"recall@10 nprobe={nprobe:2d}: vellum {recall(adc_search(arrays, queries, nprobe, 10), truth):.3f}"
        if index is not None:
            index.nprobe = nprobe
            _, found = index.search(queries, 10)
            line += f"   FAISS {recall(found, truth):.3f}"
        print(line)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--n", type=int, default=100_000)
    ap.add_argument("--dim", type=int, default=128)
    ap.add_argument("--nlist", type=int, default=256)
    ap.add_argument("--m", type=int, default=16)
    ap.add_argument("--iters", type=int, default=25)
    ap.add_argument("--queries", type=int, default=200)
    ap.add_argument("--quick", action="store_true", help="n=20000 instead of 100000")
    ap.add_argument("--no-faiss", action="store_true")
    ap.add_argument("--no-patches", action="store_true")
    args = ap.parse_args()
    if args.quick:
        args.n = 20_000

    faiss = None
    if not args.no_faiss:
        try:
            import faiss
            faiss.omp_set_num_threads(1)
        except ImportError:
            print("FAISS not installed: vellum figures only")
    print(f"Python {sys.version.split()[0]}, NumPy {np.__version__}"
          + (f", FAISS {faiss.__version__}" if faiss else ""))
    print("BLAS loaded:", ", ".join(loaded_blas()))

    data = gaussian_mixture(args.n + args.queries, args.dim, seed=1)
    x, queries = data[:args.n], data[args.n:]
    times = add_many_times(x)
    for what, s in times.items():
        print(f"add_many of {args.n} x {args.dim} {what:>15}: {s:6.3f} s "
              f"({args.n / s / 1e3:7.1f} k vectors/s)")
    with tempfile.TemporaryDirectory() as tmp:
        run("gaussian-mixture", x, queries, args, faiss, tmp)
        if not args.no_patches:
            patches, files = image_patches(args.n + args.queries, seed=2)
            print(f"\n(image patches from {files} files under /usr/share)")
            if len(patches) > args.queries + args.nlist:
                run("image-patches", patches[args.queries:], patches[:args.queries],
                    argparse.Namespace(**{**vars(args), "m": min(args.m, 16)}), faiss, tmp)


if __name__ == "__main__":
    main()
