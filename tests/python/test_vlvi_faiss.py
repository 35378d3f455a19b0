"""write_vlvi_from_faiss: its checks, and interoperability with IVF-PQ
indexes trained by FAISS (plain and with an OPQ rotation), exported the way
a user would, as little-endian bytes. Skipped where FAISS is missing."""

import struct

import numpy as np
import pytest

import vellum
from vlvi_reader import read_vlvi_file


def f32(n, start=0.0):
    return struct.pack(f"<{n}f", *[start + i for i in range(n)])


def u32(values):
    return struct.pack(f"<{len(values)}I", *values)


def small_args(**over):
    args = dict(dim=4, nlist=2, m=2, centroids=f32(8), codebooks=f32(2 * 16 * 2),
                ids=u32([5, 6, 7]), assignments=u32([1, 0, 1]), codes=bytes([1, 2, 3, 4, 15, 0]),
                nbits=4, metric="l2")
    args.update(over)
    return args


@pytest.mark.parametrize("over, message", [
    (dict(m=3, nbits=0, nlist=0), "need dim > 0, m > 0, and m to divide dim"),
    (dict(nbits=9, nlist=0, metric="x"), "nbits must be in 1..=8"),
    (dict(nlist=0, metric="x"), "nlist must be >= 1"),
    (dict(metric="Chebyshev", centroids=b""), "unknown metric chebyshev; use 'ip' (cosine) or 'l2'"),
    (dict(centroids=f32(8)[:-1], codebooks=b""), "centroids: expected 32 bytes (8 f32), got 31"),
    (dict(codebooks=b"", opq=b""), "codebooks: expected 256 bytes (64 f32), got 0"),
    (dict(opq=f32(15), ids=b"\0" * 6), "opq: expected 64 bytes (16 f32), got 60"),
    (dict(ids=b"\0" * 6, assignments=b"\0"), "ids: byte length 6 is not a multiple of 4"),
    (dict(assignments=b"\0" * 5), "assignments: byte length 5 is not a multiple of 4"),
    (dict(assignments=u32([0, 0])), "bad params: assignments length != ids length"),
    (dict(codes=b"\0" * 5, assignments=u32([2, 0, 0])), "bad params: codes length != ids length * m"),
    (dict(assignments=u32([0, 2, 0]), codes=bytes(5) + b"\x10"), "bad params: an assignment >= nlist"),
    (dict(codes=bytes(5) + b"\x10"), "bad params: a code >= ksub (1<<nbits)"),
])
def test_checks_in_order(tmp_path, over, message):
    path = tmp_path / "x.vlvi"
    with pytest.raises(ValueError) as e:
        vellum.write_vlvi_from_faiss(str(path), **small_args(**over))
    assert str(e.value) == message
    assert not path.exists()


def test_argument_types(tmp_path):
    with pytest.raises(TypeError, match="argument 'codes': Can't extract `str` to `Vec`"):
        vellum.write_vlvi_from_faiss(str(tmp_path / "x"), **small_args(codes="abcdef"))
    with pytest.raises(OverflowError):
        vellum.write_vlvi_from_faiss(str(tmp_path / "x"), **small_args(nbits=300))
    # bytes parameters also take bytearrays and lists of ints.
    stats = vellum.write_vlvi_from_faiss(str(tmp_path / "x"), **small_args(
        codes=bytearray([1, 2, 3, 4, 15, 0]), ids=list(u32([5, 6, 7]))))
    assert repr(stats) == "VectorBuildStats(vectors=3, dim=4, nlist=2, m=2, nbits=4)"


def test_lists_rotation_and_offsets(tmp_path):
    plain = tmp_path / "plain.vlvi"
    rotated = tmp_path / "sub" / "rotated.vlvi"
    vellum.write_vlvi_from_faiss(str(plain), **small_args(nlist=3, centroids=f32(12)))
    vellum.write_vlvi_from_faiss(str(rotated), **small_args(nlist=3, centroids=f32(12),
                                                             opq=f32(16, -2.5)))
    p, r = read_vlvi_file(plain), read_vlvi_file(rotated)
    assert (p.rotated, r.rotated) == (False, True)
    assert r.rotation == [-2.5 + i for i in range(16)]
    assert p.ids == [[6], [5, 7], []] == r.ids
    assert p.list_vectors(1) == [(5, bytes([1, 2])), (7, bytes([15, 0]))]
    assert [b - a for a, b in zip(p.offsets, r.offsets)] == [64, 64, 64]
    assert p.offsets[2] == p.offsets[1] + 2 * (4 + 2)


def test_eight_bit_codes_accept_every_byte(tmp_path):
    vellum.write_vlvi_from_faiss(str(tmp_path / "x"), **small_args(
        nbits=8, codebooks=f32(2 * 256 * 2), codes=bytes([0, 255, 128, 16, 17, 254])))
    assert read_vlvi_file(tmp_path / "x").codes[1] == bytes([0, 255, 17, 254])


# --------------------------------------------------------------------------
# FAISS

def faiss_index(faiss, factory, metric, x, ids):
    index = faiss.index_factory(x.shape[1], factory, metric)
    # Polysemous code ordering is irrelevant here and costs a minute.
    faiss.downcast_index(faiss.extract_index_ivf(index)).do_polysemous_training = False
    if isinstance(index, faiss.IndexPreTransform):
        faiss.downcast_VectorTransform(index.chain.at(0)).niter = 4  # a rotation, not a good one
    index.train(x)
    index.add_with_ids(x, ids)
    return index


def export(faiss, index):
    """What a user hands to write_vlvi_from_faiss, plus FAISS's own lists."""
    ivf = faiss.downcast_index(faiss.extract_index_ivf(index))
    lists = []
    for c in range(ivf.nlist):
        n = ivf.invlists.list_size(c)
        ids = faiss.rev_swig_ptr(ivf.invlists.get_ids(c), n).copy()
        codes = faiss.rev_swig_ptr(ivf.invlists.get_codes(c), n * ivf.code_size).copy()
        lists.append((ids, codes))
    all_ids = np.concatenate([ids for ids, _ in lists])
    assignments = np.concatenate([np.full(len(ids), c) for c, (ids, _) in enumerate(lists)])
    parts = dict(
        dim=ivf.d, nlist=ivf.nlist, m=ivf.pq.M, nbits=ivf.pq.nbits,
        centroids=ivf.quantizer.reconstruct_n(0, ivf.nlist).astype("<f4").tobytes(),
        codebooks=faiss.vector_to_array(ivf.pq.centroids).astype("<f4").tobytes(),
        ids=all_ids.astype("<u4").tobytes(),
        assignments=assignments.astype("<u4").tobytes(),
        codes=np.concatenate([codes for _, codes in lists]).tobytes())
    if isinstance(index, faiss.IndexPreTransform):
        opq = faiss.downcast_VectorTransform(index.chain.at(0))
        parts["opq"] = faiss.vector_to_array(opq.A).astype("<f4").tobytes()
    return ivf, lists, parts


def adc_search(f, query, k):
    """Exhaustive asymmetric-distance search over the file's arrays (L2)."""
    d, m = f.dim, f.m
    dsub, ksub = d // m, 1 << f.nbits
    q = np.asarray(query, np.float32)
    if f.rotated:
        q = np.array(f.rotation, np.float32).reshape(d, d) @ q
    cents = np.array(f.centroids, np.float32).reshape(f.nlist, d)
    books = np.array(f.codebooks, np.float32).reshape(m, ksub, dsub)
    scored = []
    for c in range(f.nlist):
        r = (q - cents[c]).reshape(m, dsub)
        table = ((books - r[:, None, :]) ** 2).sum(axis=2)
        for doc, code in f.list_vectors(c):
            scored.append((float(sum(table[j, code[j]] for j in range(m))), doc))
    return sorted(scored)[:k]


@pytest.mark.parametrize("factory, metric_name", [
    ("IVF16,PQ4", "l2"), ("OPQ4,IVF16,PQ4", "l2"), ("OPQ8,IVF8,PQ8", "ip")])
def test_faiss_interoperability(tmp_path, factory, metric_name):
    faiss = pytest.importorskip("faiss")
    faiss.omp_set_num_threads(1)
    rng = np.random.default_rng(5)
    x = rng.standard_normal((4000, 16)).astype(np.float32)
    ids = rng.permutation(10**6)[:4000].astype(np.int64)
    metric = faiss.METRIC_L2 if metric_name == "l2" else faiss.METRIC_INNER_PRODUCT
    index = faiss_index(faiss, factory, metric, x, ids)
    ivf, lists, parts = export(faiss, index)
    path = tmp_path / "faiss.vlvi"
    stats = vellum.write_vlvi_from_faiss(str(path), metric=metric_name, **parts)
    assert (stats.vectors, stats.dim, stats.nlist, stats.m, stats.nbits) == (
        4000, 16, ivf.nlist, ivf.pq.M, 8)

    f = read_vlvi_file(path)
    assert f.metric == (1 if metric_name == "l2" else 0)
    assert np.array_equal(np.array(f.centroids, np.float32),
                          ivf.quantizer.reconstruct_n(0, ivf.nlist).reshape(-1))
    assert np.array_equal(np.array(f.codebooks, np.float32),
                          faiss.vector_to_array(ivf.pq.centroids))
    if "OPQ" in factory:
        opq = faiss.downcast_VectorTransform(index.chain.at(0))
        assert f.rotated
        assert np.array_equal(np.array(f.rotation, np.float32), faiss.vector_to_array(opq.A))
    else:
        assert not f.rotated
    for c, (want_ids, want_codes) in enumerate(lists):
        assert f.ids[c] == want_ids.tolist()
        assert f.codes[c] == want_codes.tobytes()

    if metric_name == "l2":
        # A reader of the file finds what FAISS finds when probing every list.
        ivf.nprobe = ivf.nlist
        queries = rng.standard_normal((5, 16)).astype(np.float32)
        dist, found = index.search(queries, 5)
        for qi in range(5):
            mine = adc_search(f, queries[qi], 5)
            np.testing.assert_allclose([s for s, _ in mine], dist[qi], rtol=1e-4, atol=1e-4)
            assert [doc for _, doc in mine][:3] == found[qi].tolist()[:3]
