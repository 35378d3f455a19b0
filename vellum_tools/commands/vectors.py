"""vellum vectors: one vector index file (.vlvi), trained by VectorBuilder
from a NumPy array, or taken from a trained FAISS IVF-PQ index (optionally
behind an OPQ rotation) with --from-faiss."""

from __future__ import annotations

import os
import tempfile

from vellum_tools import options, storage
from vellum_tools.errors import ToolError, require, require_api
from vellum_tools.fields import U32_MAX
from vellum_tools.progress import Progress
from vellum_tools.summary import print_summary

EXAMPLES = """\
examples:
  vellum vectors embeddings.npy -o docs.vlvi --nlist 1024 --m 16
  vellum vectors embeddings.npy --ids doc_ids.npy -o docs.vlvi --nlist 256 --m 8 --metric l2
  vellum vectors --from-faiss trained.faiss -o docs.vlvi

The array is 2-D float32 or float64 (one row per document); ids come from
--ids (a 1-D integer array) or are the row numbers.
"""


def register(sub) -> None:
    p = sub.add_parser("vectors", help="build a vector index file",
                       description=__doc__, epilog=EXAMPLES)
    p.add_argument("input", nargs="?", metavar="INPUT.npy")
    p.add_argument("-o", "--output", required=True, metavar="FILE.vlvi")
    p.add_argument("--from-faiss", metavar="INDEX.faiss",
                   help="write a trained FAISS IVF-PQ index instead of training")
    p.add_argument("--ids", metavar="IDS.npy", help="document ids, one per row")
    p.add_argument("--nlist", type=options.ranged(0, options.U64_MAX), help="coarse clusters")
    p.add_argument("--m", type=options.ranged(0, options.U64_MAX), help="PQ subquantizers")
    p.add_argument("--nbits", type=options.ranged(0, 255), default=8, help="bits per code")
    p.add_argument("--metric", default="ip", help="ip (default), cosine or l2")
    p.add_argument("--kmeans-iters", type=options.ranged(0, options.U64_MAX), default=25)
    p.add_argument("--seed", type=options.ranged(0, options.U64_MAX), default=None)
    p.add_argument("--batch", type=options.ranged(1, 10_000_000), default=4096, metavar="N",
                   help="vectors handed to the module per call")
    options.add_quiet(p)
    p.set_defaults(run=run)


def run(args) -> None:
    if args.from_faiss:
        if args.input or args.ids:
            raise ToolError("--from-faiss reads everything from the index: give no INPUT or --ids")
        stats = _from_faiss(args)
    else:
        if not args.input:
            raise ToolError("give INPUT.npy, or --from-faiss INDEX.faiss")
        if args.nlist is None or args.m is None:
            raise ToolError("training needs --nlist and --m")
        stats = _train(args)
    if not args.quiet:
        counts = [(k, getattr(stats, k)) for k in ("vectors", "dim", "nlist", "m", "nbits")]
        print_summary(f"vellum vectors: wrote {args.output}", counts,
                      {os.path.basename(args.output): stats_size(args.output)})


def stats_size(path: str) -> int:
    if storage.is_url(path):
        fs, p = storage.filesystem(path)
        return fs.size(p)
    return os.path.getsize(storage.local_path(path))


def _load(np, path: str, what: str, tmp: str):
    local = storage.fetch_to_local(path, tmp)
    try:
        return np.load(local, mmap_mode="r", allow_pickle=False)
    except FileNotFoundError:
        raise ToolError(f"{path}: no such file") from None
    except ValueError as e:
        raise ToolError(f"{path}: not a NumPy .npy {what} ({e})") from None


def _vectors_and_ids(np, args, tmp: str):
    data = _load(np, args.input, "array", tmp)
    if data.ndim != 2 or data.dtype.kind != "f" or data.dtype.itemsize not in (4, 8):
        raise ToolError(f"{args.input}: expected a 2-D float32 or float64 array, "
                        f"got {data.ndim}-D {data.dtype}")
    if args.ids is None:
        if data.shape[0] > U32_MAX + 1:
            raise ToolError(f"{args.input}: more rows than 32-bit document ids can number")
        return data, None
    ids = _load(np, args.ids, "array", tmp)
    if ids.ndim != 1 or ids.dtype.kind not in "iu":
        raise ToolError(f"{args.ids}: expected a 1-D integer array, got {ids.ndim}-D {ids.dtype}")
    if ids.shape[0] != data.shape[0]:
        raise ToolError(f"{args.ids}: {ids.shape[0]} ids for {data.shape[0]} vectors")
    if ids.size and (int(ids.min()) < 0 or int(ids.max()) > U32_MAX):
        raise ToolError(f"{args.ids}: ids must lie in 0..{U32_MAX}")
    return data, ids


def _train(args):
    np = require("numpy", "python3-numpy")
    vellum = require_api("VectorBuilder")
    with tempfile.TemporaryDirectory(prefix="vellum-in-") as tmp:
        data, ids = _vectors_and_ids(np, args, tmp)
        builder = vellum.VectorBuilder(data.shape[1], args.nlist, args.m, nbits=args.nbits,
                                       metric=args.metric, kmeans_iters=args.kmeans_iters,
                                       seed=args.seed)
        n = data.shape[0]
        with Progress(n, unit="vec", enabled=not args.quiet, description="staging") as progress:
            for start in range(0, n, args.batch):
                stop = min(n, start + args.batch)
                rows = np.asarray(data[start:stop], dtype=np.float64).tolist()
                batch_ids = range(start, stop) if ids is None else ids[start:stop].tolist()
                builder.add_many(list(zip(batch_ids, rows)))
                progress.update(stop)
    with storage.output_file(args.output) as out:
        return builder.build(out)


def _from_faiss(args):
    faiss = require("faiss", "python3-faiss")
    np = require("numpy", "python3-numpy")
    vellum = require_api("write_vlvi_from_faiss")
    with tempfile.TemporaryDirectory(prefix="vellum-in-") as tmp:
        try:
            index = faiss.read_index(storage.fetch_to_local(args.from_faiss, tmp))
        except RuntimeError as e:
            raise ToolError(f"{args.from_faiss}: not a FAISS index "
                            f"({str(e).strip().splitlines()[-1]})") from None
    parts = faiss_parts(faiss, np, index, args.from_faiss)
    with storage.output_file(args.output) as out:
        return vellum.write_vlvi_from_faiss(out, **parts)


def faiss_parts(faiss, np, index, name: str) -> dict:
    """The arrays of a trained IVF-PQ index as write_vlvi_from_faiss takes
    them: little-endian bytes, one code byte per subquantizer."""
    opq = _opq_matrix(faiss, np, index, name)
    ivf = faiss.downcast_index(faiss.extract_index_ivf(index) if opq is not None else index)
    if not isinstance(ivf, faiss.IndexIVFPQ):
        raise ToolError(f"{name}: expected an IVF-PQ index (optionally OPQ in front), "
                        f"got {type(ivf).__name__}")
    pq = ivf.pq
    ids, assignments, codes = _inverted_lists(faiss, np, ivf, name)
    metrics = {faiss.METRIC_INNER_PRODUCT: "ip", faiss.METRIC_L2: "l2"}
    if ivf.metric_type not in metrics:
        raise ToolError(f"{name}: metric {ivf.metric_type} is neither inner product nor L2")
    centroids = ivf.quantizer.reconstruct_n(0, ivf.nlist)
    le_f32, le_u32 = np.dtype("<f4"), np.dtype("<u4")
    return dict(
        dim=ivf.d, nlist=ivf.nlist, m=pq.M, nbits=pq.nbits, metric=metrics[ivf.metric_type],
        centroids=np.ascontiguousarray(centroids, le_f32).tobytes(),
        codebooks=faiss.vector_to_array(pq.centroids).astype(le_f32).tobytes(),
        ids=ids.astype(le_u32).tobytes(), assignments=assignments.astype(le_u32).tobytes(),
        codes=_unpack_codes(np, codes, pq.M, pq.nbits).tobytes(),
        opq=None if opq is None else opq.astype(le_f32).tobytes())


def _opq_matrix(faiss, np, index, name: str):
    index = faiss.downcast_index(index)
    if not isinstance(index, faiss.IndexPreTransform):
        return None
    if index.chain.size() != 1:
        raise ToolError(f"{name}: only one transform (an OPQ rotation) may precede the IVF-PQ")
    # A stored OPQ rotation reads back as a plain linear transform.
    vt = faiss.downcast_VectorTransform(index.chain.at(0))
    if not isinstance(vt, faiss.LinearTransform) or vt.d_in != vt.d_out or vt.have_bias:
        raise ToolError(f"{name}: the transform in front is not a square OPQ rotation")
    return faiss.vector_to_array(vt.A).reshape(vt.d_out, vt.d_in)


def _inverted_lists(faiss, np, ivf, name: str):
    invlists = ivf.invlists
    ids, lists, codes = [], [], []
    for lst in range(ivf.nlist):
        size = invlists.list_size(lst)
        if size == 0:
            continue
        ids.append(faiss.rev_swig_ptr(invlists.get_ids(lst), size).copy())
        codes.append(faiss.rev_swig_ptr(invlists.get_codes(lst), size * invlists.code_size)
                     .copy().reshape(size, invlists.code_size))
        lists.append(np.full(size, lst, dtype=np.int64))
    if not ids:
        return (np.zeros(0, np.int64), np.zeros(0, np.int64),
                np.zeros((0, invlists.code_size), np.uint8))
    ids_all = np.concatenate(ids)
    if ids_all.min() < 0 or ids_all.max() > U32_MAX:
        raise ToolError(f"{name}: ids must lie in 0..{U32_MAX} (add vectors with add_with_ids)")
    return ids_all, np.concatenate(lists), np.concatenate(codes)


def _unpack_codes(np, packed, m: int, nbits: int):
    """FAISS packs codes of under 8 bits least-significant bit first."""
    if nbits == 8:
        return np.ascontiguousarray(packed, dtype=np.uint8)
    bits = np.unpackbits(packed, axis=1, bitorder="little")[:, : m * nbits]
    weights = (1 << np.arange(nbits)).astype(np.uint16)
    return (bits.reshape(-1, m, nbits) * weights).sum(axis=2).astype(np.uint8)
