"""vellum splits: a byte-capped split set (n-gram splits with
SplitSetBuilder, or whole-term splits with TermSplitSetBuilder and --terms)
plus its manifest, from JSONL or CSV rows."""

from __future__ import annotations

from collections.abc import Iterable

from vellum_tools import fields, inputs, options, storage
from vellum_tools.errors import ToolError, require_api
from vellum_tools.fields import I64_MAX, I64_MIN
from vellum_tools.rows import BadRows, RowWalk
from vellum_tools.summary import print_summary

EXAMPLES = """\
examples:
  vellum splits docs.jsonl -o set/ --byte-cap 32MiB
  vellum splits docs.jsonl.zst -o set/ --policy stable_key --facet lang --name-prefix corpus
  vellum splits docs.jsonl -o set/ --terms --language english --stopwords
  vellum splits big.jsonl -o s3://bucket/set --workers 8
  vellum splits part-*.jsonl.gz -o /shared/set --scheduler tcp://10.0.0.5:8786

Documents get global ids in input order, or in descending --rank (input
order among equal ranks; the documents are then held in memory until all
input is read), which is the order the tiered policy expects. The manifest
is written last, as MANIFEST_NAME.vlss.
"""

# Options that only n-gram splits have: (dest, flag) pairs refused with --terms.
_NGRAM_ONLY = (("gram_size", "--gram-size"), ("stride", "--stride"),
               ("bloom_bits_per_key", "--bloom-bits-per-key"))
_TERM_ONLY = (("language", "--language"), ("stem", "--stem/--no-stem"),
              ("stopwords", "--stopwords"))


def register(sub) -> None:
    p = sub.add_parser("splits", help="build a split-set directory",
                       description=__doc__, epilog=EXAMPLES)
    options.add_input_options(p)
    p.add_argument("-o", "--output", required=True, metavar="DIR")
    options.add_facet_option(p)
    p.add_argument("--rank", metavar="FIELD",
                   help="integer field: feed documents in descending rank")
    p.add_argument("--manifest-name", default="index", metavar="NAME",
                   help="manifest file name without .vlss (default: index)")
    p.add_argument("--terms", action="store_true",
                   help="whole-term (VLTI) splits instead of n-gram splits")
    p.add_argument("--policy", default="tiered", help="tiered (default) or stable_key")
    p.add_argument("--byte-cap", type=options.size(), default=33554432, metavar="SIZE",
                   help="byte cap of a split, e.g. 32MiB (default)")
    p.add_argument("--byte-cap-max", type=options.size(), default=0, metavar="SIZE",
                   help="let the cap double per split up to this size (default: fixed cap)")
    p.add_argument("--head-boundary", type=options.ranged(0, options.U32_MAX), default=0)
    p.add_argument("--name-prefix", default="split", metavar="PREFIX")
    p.add_argument("--sortcol", type=options.sortcol, metavar="NAME[,NUM[,FLAG]]",
                   help="sort column recorded in the manifest")
    p.add_argument("--case-sensitive", action="store_true", help="do not fold case")
    p.add_argument("--gram-size", type=options.ranged(0, options.U16_MAX), default=None,
                   help="n-gram size (default: 3)")
    p.add_argument("--stride", type=options.ranged(0, options.U32_MAX), default=None,
                   help="dictionary stride of the split bodies (default: 512)")
    p.add_argument("--bloom-bits-per-key", type=options.ranged(0, options.U32_MAX),
                   default=None, help="Bloom summary bits per key, 0 for none (default: 10)")
    p.add_argument("--language", default=None, help="term analysis language (with --terms)")
    stem = p.add_mutually_exclusive_group()
    stem.add_argument("--stem", dest="stem", action="store_true", default=None,
                      help="Snowball stemming (default: on when a language is given)")
    stem.add_argument("--no-stem", dest="stem", action="store_false")
    p.add_argument("--stopwords", action="store_true", default=None,
                   help="drop the language's stop words (with --terms)")
    cluster = p.add_mutually_exclusive_group()
    cluster.add_argument("--workers", type=options.ranged(1, 4096), default=None, metavar="N",
                         help="build shards in parallel on a local Dask cluster of N processes")
    cluster.add_argument("--scheduler", default=None, metavar="ADDRESS",
                         help="build shards in parallel on the Dask cluster at ADDRESS")
    p.add_argument("--shards", type=options.ranged(1, 1 << 20), default=None, metavar="N",
                   help="byte ranges to cut one JSONL input into (default: one per "
                        "worker); several inputs are one shard each")
    options.add_quiet(p)
    p.set_defaults(run=run)


def _refuse(args, pairs, why: str) -> None:
    given = [flag for dest, flag in pairs if getattr(args, dest) is not None]
    if given:
        raise ToolError(f"{', '.join(given)} {why}")


def builder_options(args) -> dict:
    """The builder's constructor keywords, without the name prefix."""
    common = dict(policy=args.policy, byte_cap=args.byte_cap, head_boundary=args.head_boundary,
                  sortcol=args.sortcol, byte_cap_max=args.byte_cap_max,
                  case_sensitive=args.case_sensitive)
    if args.terms:
        _refuse(args, _NGRAM_ONLY, "apply to n-gram splits only, not with --terms")
        return dict(language=args.language, stem=args.stem,
                    stopwords=bool(args.stopwords), **common)
    _refuse(args, _TERM_ONLY, "apply to term splits only: add --terms")
    return dict(
        gram_size=3 if args.gram_size is None else args.gram_size,
        stride=args.stride or 0,
        bloom_bits_per_key=10 if args.bloom_bits_per_key is None else args.bloom_bits_per_key,
        **common)


def make_builder(args):
    opts = builder_options(args)
    if args.terms:
        return require_api("TermSplitSetBuilder").TermSplitSetBuilder(
            name_prefix=args.name_prefix, **opts)
    return require_api("SplitSetBuilder").SplitSetBuilder(name_prefix=args.name_prefix, **opts)


def row_extractor(args):
    text_name, facet_names, rank_name = args.text, list(args.facet), args.rank

    def extract(row, raw):
        text = fields.text_field(row, text_name)
        rank = fields.int_field(row, rank_name, I64_MIN, I64_MAX) if rank_name else 0
        fields.check_encodable(text, text_name)
        facets = fields.facets_of(row, facet_names) if facet_names else None
        if facets:
            for name, values in facets.items():
                for v in values:
                    fields.check_encodable(v, name)
        return rank, text, facets
    return extract


def run(args) -> None:
    if args.workers or args.scheduler:
        from vellum_tools.commands.splits_parallel import run_parallel
        run_parallel(args)
        return
    if args.shards:
        raise ToolError("--shards needs --workers or --scheduler")
    builder = make_builder(args)
    sources = inputs.resolve(args.inputs, args.format)
    bad = BadRows(args.skip_bad)
    walk = RowWalk(sources, row_extractor(args), bad, args.quiet)
    # The builders take one document a call; rows are checked first, so a
    # refusal here is the module's own verdict on the document.
    add, add_faceted = builder.add, builder.add_faceted
    docs: Iterable = (value for _, _, value in walk)
    if args.rank:
        docs = sorted(docs, key=lambda d: -d[0])  # stable: input order among ties
    for _, text, facets in docs:
        if facets:
            add_faceted(text, facets)
        else:
            add(text)
    with storage.output_dir(args.output) as out:
        stats = builder.build(out, manifest_name=args.manifest_name)
        sizes = storage.file_sizes(out)
    if args.quiet:
        return
    counts = [("splits", stats.splits), ("documents", stats.docs),
              ("split bytes", stats.total_bytes)]
    if bad.count:
        counts.append(("skipped rows", bad.count))
    manifest = f"{args.manifest_name}.vlss"
    shown = {manifest: sizes.get(manifest, 0)}
    shown.update({n: s for n, s in sizes.items() if n != manifest and n.startswith(args.name_prefix)})
    if len(shown) > 12:
        shown = {manifest: shown[manifest]}
    print_summary(f"vellum splits: wrote {args.output}", counts, shown,
                  walk.bytes_read, walk.progress.elapsed())
