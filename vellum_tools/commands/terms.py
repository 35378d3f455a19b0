"""vellum terms: one whole-term index file (.vlt) with TermBuilder, from
JSONL or CSV rows."""

from __future__ import annotations

import os

from vellum_tools import fields, inputs, options, storage
from vellum_tools.errors import require_api
from vellum_tools.fields import U32_MAX
from vellum_tools.rows import Batcher, BadRows, RowWalk
from vellum_tools.summary import print_summary

EXAMPLES = """\
examples:
  vellum terms docs.jsonl -o docs.vlt
  vellum terms docs.jsonl.gz -o docs.vlt --id doc_id --language english --stopwords

Without --id, a document's id is its row number from 0 across all inputs
(skipped rows take no number): the id `vellum dataset` gives the same rows
when it is run without --rank.
"""


def register(sub) -> None:
    p = sub.add_parser("terms", help="build a term index file",
                       description=__doc__, epilog=EXAMPLES)
    options.add_input_options(p)
    p.add_argument("-o", "--output", required=True, metavar="FILE.vlt")
    p.add_argument("--id", metavar="FIELD", help="integer field holding the document id")
    p.add_argument("--head-boundary", type=options.ranged(0, U32_MAX), default=None,
                   help="head/tail document-id boundary (default: 65536)")
    p.add_argument("--language", default=None, help="analysis language, e.g. english")
    stem = p.add_mutually_exclusive_group()
    stem.add_argument("--stem", dest="stem", action="store_true", default=None,
                      help="Snowball stemming (default: on when a language is given)")
    stem.add_argument("--no-stem", dest="stem", action="store_false")
    p.add_argument("--stopwords", action="store_true", help="drop the language's stop words")
    p.add_argument("--block-cap", type=options.size(), default=None, metavar="SIZE",
                   help="dictionary block byte budget (default: 4096)")
    p.add_argument("--case-sensitive", action="store_true", help="do not fold case")
    options.add_quiet(p)
    p.set_defaults(run=run)


def row_extractor(args):
    text_name, id_name = args.text, args.id
    counter = [0]

    def extract(row, raw):
        text = fields.text_field(row, text_name)
        fields.check_encodable(text, text_name)  # before it takes a row number
        if id_name:
            doc_id = fields.int_field(row, id_name, 0, U32_MAX)
        else:
            doc_id = counter[0]
            if doc_id > U32_MAX:
                raise fields.BadRow("more rows than 32-bit document ids can number")
        counter[0] += 1
        return doc_id, text
    return extract


def validate(doc) -> None:
    fields.check_encodable(doc[1], "text")


def run(args) -> None:
    vellum = require_api("TermBuilder")
    builder = vellum.TermBuilder(head_boundary=args.head_boundary, language=args.language,
                                 stem=args.stem, stopwords=args.stopwords,
                                 block_cap=args.block_cap, case_sensitive=args.case_sensitive)
    sources = inputs.resolve(args.inputs, args.format)
    bad = BadRows(args.skip_bad)
    walk = RowWalk(sources, row_extractor(args), bad, args.quiet)
    batcher = Batcher(builder.add_many, validate, bad, args.batch)
    for source, lineno, doc in walk:
        batcher.add(source, lineno, doc)
    batcher.flush()
    term_count = builder.term_count()
    with storage.output_file(args.output) as out:
        builder.finish(out)
        size = os.path.getsize(out)
    if args.quiet:
        return
    counts = [("documents", batcher.staged), ("terms", term_count)]
    if bad.count:
        counts.append(("skipped rows", bad.count))
    print_summary(f"vellum terms: wrote {args.output}", counts,
                  {os.path.basename(args.output): size}, walk.bytes_read, walk.progress.elapsed())
