"""vellum lookup: the documents a remote reader would find: ids whose text
contains every query (substrings by n-gram keys; whole terms, analysed as
the file's own terms, for .vlt files and term split sets), optionally in a
facet category. For a split set, also the splits the manifest's summaries
let a reader skip. A reference reader for checking a build: no ranking."""

from __future__ import annotations

import argparse
import sys

from vellum_tools.reading import native

EXAMPLES = """\
examples:
  vellum lookup out/ "hello wor"
  vellum lookup out/ needle --facet lang=en --records
  vellum lookup set/ needle
  vellum lookup docs.vlt running
"""


def _facet(text: str) -> tuple[str, str]:
    field, sep, category = text.partition("=")
    if not sep or not field:
        raise argparse.ArgumentTypeError(f"invalid facet {text!r}: use FIELD=CATEGORY")
    return field, category


def register(sub) -> None:
    p = sub.add_parser("lookup", help="find the documents matching a query",
                       description=__doc__, epilog=EXAMPLES)
    p.add_argument("path", metavar="PATH")
    p.add_argument("queries", nargs="*", metavar="QUERY")
    p.add_argument("--facet", type=_facet, metavar="FIELD=CATEGORY",
                   help="only documents in this facet category")
    p.add_argument("--records", action="store_true",
                   help="print the matching records of a dataset directory")
    p.set_defaults(run=run)


def run(args) -> None:
    answer = native().lookup(args.path, args.queries, args.facet, args.records)
    for s in answer.get("splits", []):
        if s["skipped"]:
            print(f"{s['split']}: skipped ({s['reason']})")
        else:
            print(f"{s['split']}: {len(s['ids'])} hits")
    print(f"{answer['count']} documents")
    if args.records:
        out = sys.stdout.buffer
        for doc_id, record in zip(answer["ids"], answer["records"]):
            out.write(f"{doc_id}\t".encode() + record + b"\n")
        out.flush()
    else:
        for doc_id in answer["ids"]:
            print(doc_id)
