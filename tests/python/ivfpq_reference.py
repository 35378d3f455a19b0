"""A slow, plain reference of vellum's IVF-PQ training, in NumPy float32.

It follows the training algorithm step by step (xorshift64* draws from one
state, unit-length scaling for inner product, Lloyd iterations with ties to
the lowest index, empty clusters re-seeded, reciprocal-then-multiply means,
a final assignment) so that tests can demand bit-identical models from the
native trainer. Every float operation is a separate float32 operation, and
each squared distance is summed component by component from -0.0.
"""

from __future__ import annotations

import numpy as np

MASK64 = (1 << 64) - 1
BUILTIN_SEED = 0x9E3779B97F4A7C15


class Draws:
    def __init__(self, seed: int):
        self.s = seed

    def __call__(self, n: int) -> int:
        s = self.s
        s ^= s >> 12
        s ^= (s << 25) & MASK64
        s ^= s >> 27
        self.s = s
        return ((s * 0x2545F4914F6CDD1D) & MASK64) % n


def nearest(points: np.ndarray, cents: np.ndarray) -> np.ndarray:
    acc = np.full((points.shape[0], cents.shape[0]), -0.0, dtype=np.float32)
    for j in range(points.shape[1]):
        t = points[:, j:j + 1] - cents[None, :, j]
        acc = acc + t * t
    # NaN never wins; with nothing finite the first centroid is kept.
    acc = np.where(np.isnan(acc), np.float32(np.inf), acc)
    best = acc.min(axis=1)
    return np.argmax(acc == best[:, None], axis=1).astype(np.uint32)


def kmeans(x: np.ndarray, k: int, iters: int, draw: Draws):
    n, d = x.shape
    cents = np.empty((k, d), dtype=np.float32)
    for c in range(k):
        cents[c] = x[draw(n)]
    for _ in range(iters):
        a = nearest(x, cents)
        sums = np.zeros((k, d), dtype=np.float32)
        counts = [0] * k
        for i in range(n):
            sums[a[i]] = sums[a[i]] + x[i]
            counts[a[i]] += 1
        for c in range(k):
            if counts[c] == 0:
                cents[c] = x[draw(n)]
            else:
                cents[c] = sums[c] * (np.float32(1.0) / np.float32(counts[c]))
    return cents, nearest(x, cents)


def unit_rows(x: np.ndarray) -> np.ndarray:
    out = x.copy()
    for i in range(x.shape[0]):
        sq = np.float32(-0.0)
        for v in x[i]:
            sq = np.float32(sq + v * v)
        if sq != 0:
            out[i] = x[i] / np.sqrt(sq)
    return out


def train(vectors, dim, nlist, m, nbits, metric_ip, iters, seed):
    """Returns (centroids, codebooks, assignment, codes) as NumPy arrays."""
    x = np.asarray(vectors, dtype=np.float32).reshape(-1, dim)
    if metric_ip:
        x = unit_rows(x)
    draw = Draws(seed or BUILTIN_SEED)
    iters = max(iters, 1)
    cents, a = kmeans(x, min(nlist, x.shape[0]), iters, draw)
    r = x - cents[a]
    dsub, ksub = dim // m, 1 << nbits
    books = np.empty((m, ksub, dsub), dtype=np.float32)
    codes = np.empty((x.shape[0], m), dtype=np.uint8)
    for j in range(m):
        books[j], codes[:, j] = kmeans(np.ascontiguousarray(r[:, j * dsub:(j + 1) * dsub]),
                                       ksub, iters, draw)
    return cents, books, a, codes
