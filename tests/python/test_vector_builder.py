"""VectorBuilder end to end: argument handling, the files it writes (read
with the independent VLVI reader) and bit-identity with a plain NumPy
reference of the training algorithm."""

import array
import inspect
import os

import numpy as np
import pytest

import vellum
from ivfpq_reference import train as reference_train
from vlvi_reader import read_vlvi_file

DEFAULT_SEED = 0x56515649564C5649


def gaussian(n, dim, seed=0):
    return np.random.default_rng(seed).standard_normal((n, dim)).astype(np.float32)


def build_bytes(tmp_path, rows, name="v.vlvi", **kw):
    b = vellum.VectorBuilder(**kw)
    b.add_many([(i, list(map(float, r))) for i, r in enumerate(rows)])
    b.build(str(tmp_path / name))
    return (tmp_path / name).read_bytes()


@pytest.mark.parametrize("kwargs, message", [
    (dict(dim=4, nlist=16, m=3), "need dim > 0, m > 0, and m to divide dim"),
    (dict(dim=0, nlist=16, m=1), "need dim > 0, m > 0, and m to divide dim"),
    (dict(dim=4, nlist=16, m=2, nbits=0), "nbits must be in 1..=8"),
    (dict(dim=4, nlist=16, m=2, nbits=9, metric="nope"), "nbits must be in 1..=8"),
    (dict(dim=4, nlist=0, m=2, metric="nope"), "nlist must be >= 1"),
    (dict(dim=4, nlist=1, m=2, metric="Hamming"),
     "unknown metric hamming; use 'ip' (cosine) or 'l2'"),
])
def test_constructor_errors_in_order(kwargs, message):
    with pytest.raises(ValueError) as e:
        vellum.VectorBuilder(**kwargs)
    assert str(e.value) == message


def test_constructor_argument_types():
    vellum.VectorBuilder(4, 1, 2, metric="COSINE")
    vellum.VectorBuilder(4, 1, 2, metric="Euclidean", seed=0)
    with pytest.raises(OverflowError):
        vellum.VectorBuilder(4, 1, 2, nbits=256)
    with pytest.raises(OverflowError):
        vellum.VectorBuilder(4, 1, 2, seed=-1)
    with pytest.raises(TypeError, match="argument 'metric'"):
        vellum.VectorBuilder(4, 1, 2, metric=b"ip")
    with pytest.raises(TypeError):
        vellum.VectorBuilder(4, 1)
    assert str(inspect.signature(vellum.VectorBuilder)) == (
        "(dim, nlist, m, nbits=8, metric='ip', kmeans_iters=25, seed=None)")
    assert vellum.VectorBuilder.__doc__.startswith(
        "Accumulates `(doc_id, vector)` pairs, then trains and writes an `VLVI`")
    assert str(inspect.signature(vellum.VectorBuilder.add_many)) == "(self, /, items)"


def test_add_and_add_many_checks(tmp_path):
    b = vellum.VectorBuilder(4, 2, 2)
    with pytest.raises(ValueError, match=r"^vector has length 3, expected dim 4$"):
        b.add(1, [1.0, 2.0, 3.0])
    with pytest.raises(TypeError, match="argument 'vector': Can't extract `str` to `Vec`"):
        b.add(1, "abcd")
    with pytest.raises(OverflowError):
        b.add(2**32, [0.0] * 4)
    # A conversion failure anywhere stages nothing from the call.
    with pytest.raises(TypeError, match="argument 'items'"):
        b.add_many([(1, [0.0] * 4), (2, [0.0, 0.0, "x", 0.0])])
    with pytest.raises(ValueError, match="expected tuple of length 2"):
        b.add_many([(1, [0.0] * 4), (2, [0.0] * 4, None)])
    with pytest.raises(ValueError, match="^no input vectors$"):
        b.build(str(tmp_path / "none.vlvi"))
    assert not (tmp_path / "none.vlvi").exists()
    # A length mismatch keeps the pairs before it and drops those after it.
    with pytest.raises(ValueError, match="^vector has length 5, expected dim 4$"):
        b.add_many([(10, [1.0] * 4), (11, [2.0] * 4), (12, [3.0] * 5), (13, [4.0] * 4)])
    stats = b.build(str(tmp_path / "two.vlvi"))
    assert repr(stats) == "VectorBuildStats(vectors=2, dim=4, nlist=2, m=2, nbits=8)"
    f = read_vlvi_file(tmp_path / "two.vlvi")
    assert sorted(i for ids in f.ids for i in ids) == [10, 11]


def test_layout_offsets_and_staged_order(tmp_path):
    rows = gaussian(300, 8, seed=1)
    b = vellum.VectorBuilder(8, 12, 4, nbits=5, metric="l2", kmeans_iters=4)
    ids = [(7919 * i) % 10007 for i in range(300)]
    b.add_many(list(zip(ids, rows)))
    stats = b.build(str(tmp_path / "deep" / "dir" / "x.vlvi"))
    assert (stats.vectors, stats.dim, stats.nlist, stats.m, stats.nbits) == (300, 8, 12, 4, 5)
    f = read_vlvi_file(tmp_path / "deep" / "dir" / "x.vlvi")
    assert (f.metric, f.rotated, f.dim, f.nlist, f.m, f.nbits, f.n) == (1, False, 8, 12, 4, 5, 300)
    d0 = 48 + 4 * 12 * 8 + 4 * 32 * 8 + 12 * 12
    assert f.data_start == d0 == f.offsets[0]
    position = {doc: i for i, doc in enumerate(ids)}
    for c in range(12):
        assert [position[i] for i in f.ids[c]] == sorted(position[i] for i in f.ids[c])
    assert sorted(i for lst in f.ids for i in lst) == sorted(ids)
    assert os.path.getsize(tmp_path / "deep" / "dir" / "x.vlvi") == d0 + (4 + 4) * 300


@pytest.mark.parametrize("metric, nbits", [("ip", 4), ("l2", 3)])
def test_bit_identical_to_reference_training(tmp_path, metric, nbits):
    rows = gaussian(240, 12, seed=2)
    rows[5] = 0.0  # a zero vector under inner product stays zero
    b = vellum.VectorBuilder(12, 9, 3, nbits=nbits, metric=metric, kmeans_iters=3, seed=77)
    b.add_many([(1000 + i, r) for i, r in enumerate(rows)])
    b.build(str(tmp_path / "t.vlvi"))
    f = read_vlvi_file(tmp_path / "t.vlvi")
    cents, books, assign, codes = reference_train(rows, 12, 9, 3, nbits, metric == "ip", 3, 77)
    assert np.array_equal(np.array(f.centroids, np.float32).view(np.uint32),
                          cents.reshape(-1).view(np.uint32))
    assert np.array_equal(np.array(f.codebooks, np.float32).view(np.uint32),
                          books.reshape(-1).view(np.uint32))
    for c in range(f.nlist):
        members = [i for i in range(240) if assign[i] == c]
        assert f.ids[c] == [1000 + i for i in members]
        assert f.codes[c] == codes[members].tobytes()


def test_nlist_clamped_to_vector_count(tmp_path):
    b = vellum.VectorBuilder(4, 100, 2)
    b.add_many([(i, r) for i, r in enumerate(gaussian(10, 4))])
    assert b.build(str(tmp_path / "c.vlvi")).nlist == 10
    assert read_vlvi_file(tmp_path / "c.vlvi").nlist == 10


def test_builds_repeat_and_seeds(tmp_path):
    rows = gaussian(200, 8, seed=3)
    kw = dict(dim=8, nlist=5, m=2, nbits=4, kmeans_iters=5)
    first = build_bytes(tmp_path, rows, "a", **kw)
    assert build_bytes(tmp_path, rows, "b", **kw) == first
    assert build_bytes(tmp_path, rows, "c", seed=DEFAULT_SEED, **kw) == first
    zero = build_bytes(tmp_path, rows, "d", seed=0, **kw)
    assert zero != first
    assert build_bytes(tmp_path, rows, "e", seed=0x9E3779B97F4A7C15, **kw) == zero
    # Building does not consume: more vectors, another build.
    b = vellum.VectorBuilder(**kw)
    b.add_many([(i, r) for i, r in enumerate(rows)])
    b.build(str(tmp_path / "f"))
    assert (tmp_path / "f").read_bytes() == first
    b.add(999, rows[0])
    assert b.build(str(tmp_path / "g")).vectors == 201


def test_buffer_rows_match_the_sequence_path(tmp_path):
    base = gaussian(64, 6, seed=4)
    as_lists = [list(map(float, r)) for r in base]
    want = build_bytes(tmp_path, base, "list", dim=6, nlist=4, m=3)
    f64 = base.astype(np.float64)
    fortran = np.asfortranarray(base)  # rows are strided views
    wide = np.zeros((64, 12), np.float32)
    wide[:, ::2] = base
    sources = {
        "float32 rows": list(base),
        "float64 rows": list(f64),
        "fortran rows": list(fortran),
        "strided rows": [wide[i, ::2] for i in range(64)],
        "memoryviews": [memoryview(r) for r in base],
        "array.array": [array.array("f", r.tolist()) for r in base],
        "big-endian": list(base.astype(">f4")),
        "tuples": [tuple(r) for r in as_lists],
    }
    for name, rows in sources.items():
        b = vellum.VectorBuilder(6, 4, 3)
        b.add_many(list(enumerate(rows)))
        b.build(str(tmp_path / "x"))
        assert (tmp_path / "x").read_bytes() == want, name
    b = vellum.VectorBuilder(6, 4, 3)
    for i, r in enumerate(base):
        b.add(i, r)
    b.build(str(tmp_path / "y"))
    assert (tmp_path / "y").read_bytes() == want


def test_buffer_and_sequence_paths_fail_alike():
    b = vellum.VectorBuilder(4, 2, 2)
    with pytest.raises(ValueError, match="^vector has length 3, expected dim 4$"):
        b.add(1, np.zeros(3, np.float32))
    with pytest.raises(ValueError, match="^vector has length 8, expected dim 4$"):
        b.add_many([(1, np.zeros(4)), (2, np.zeros(8, np.float64))])
    grid = np.ones((2, 2), np.float32)
    errors = []
    for vector in (grid, list(grid)):
        with pytest.raises(TypeError) as e:
            b.add(1, vector)
        errors.append(str(e.value))
    assert errors[0] == errors[1]
    # Integer and half-precision buffers take the element path and convert.
    b.add(1, np.arange(4, dtype=np.int64))
    b.add(2, np.arange(4, dtype=np.float16))
