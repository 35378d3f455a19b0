"""vellum dataset: one complete dataset (text index, facet sidecar, record
store) from JSONL or CSV rows, through Builder.add_many in batches."""

from __future__ import annotations

from vellum_tools import fields, inputs, options, storage
from vellum_tools.errors import require_api
from vellum_tools.fields import I64_MAX, I64_MIN
from vellum_tools.rows import Batcher, BadRows, RowWalk
from vellum_tools.summary import print_summary

EXAMPLES = """\
examples:
  vellum dataset docs.jsonl -o out/
  vellum dataset a.jsonl.gz b.jsonl.zst -o out/ --text body --rank score --facet lang
  vellum dataset pages.csv -o out/ --record url --facet tags --skip-bad

Document ids follow descending --rank (input order among equal ranks, and
input order throughout when --rank is not given). The record of a document
is its input line as bytes unless --record names a field.
"""


def register(sub) -> None:
    p = sub.add_parser("dataset", help="build a dataset directory with Builder",
                       description=__doc__, epilog=EXAMPLES)
    options.add_input_options(p)
    p.add_argument("-o", "--output", required=True, metavar="DIR",
                   help="output directory (created; a storage URL is uploaded after the build)")
    p.add_argument("--rank", metavar="FIELD",
                   help="integer field ranking the documents, higher first (default: all 0)")
    p.add_argument("--record", metavar="FIELD",
                   help="field stored as the record (default: the whole input line)")
    options.add_facet_option(p)
    p.add_argument("--gram-size", type=options.ranged(0, options.U16_MAX), default=3)
    p.add_argument("--head-boundary", type=options.ranged(0, options.U32_MAX), default=65536,
                   help="facet head/tail document-id boundary, a multiple of 65536")
    options.add_quiet(p)
    p.set_defaults(run=run)


def row_extractor(args):
    text_name, rank_name, record_name, facet_names = (
        args.text, args.rank, args.record, list(args.facet))
    text_field, int_field, record_field, facets_of = (
        fields.text_field, fields.int_field, fields.record_field, fields.facets_of)

    def extract(row, raw):
        text = text_field(row, text_name)
        rank = int_field(row, rank_name, I64_MIN, I64_MAX) if rank_name else 0
        record = record_field(row, record_name) if record_name else raw
        facets = facets_of(row, facet_names) if facet_names else None
        return rank, text, record, facets
    return extract


def validate(row) -> None:
    _, text, _, facets = row
    fields.check_encodable(text, "text")
    for name, values in (facets or {}).items():
        fields.check_encodable(name, name)
        for v in values:
            fields.check_encodable(v, name)


def run(args) -> None:
    vellum = require_api("Builder")
    sources = inputs.resolve(args.inputs, args.format)
    builder = vellum.Builder(gram_size=args.gram_size, head_boundary=args.head_boundary)
    bad = BadRows(args.skip_bad)
    walk = RowWalk(sources, row_extractor(args), bad, args.quiet)
    batcher = Batcher(builder.add_many, validate, bad, args.batch)
    for source, lineno, row in walk:
        batcher.add(source, lineno, row)
    batcher.flush()
    with storage.output_dir(args.output) as out:
        stats = builder.build(out)
        sizes = storage.file_sizes(out)
    if args.quiet:
        return
    counts = [("documents", stats.docs), ("keys", stats.ngrams), ("fields", stats.fields)]
    if bad.count:
        counts.append(("skipped rows", bad.count))
    print_summary(f"vellum dataset: wrote {args.output}", counts,
                  {n: s for n, s in sizes.items() if n in _FILES},
                  walk.bytes_read, walk.progress.elapsed())


_FILES = ("index.vls", "index.vlf", "records.bin", "records.idx")
