"""vellum inspect: what a file, a dataset directory or a split set holds:
header fields, documents, keys or terms, size by region, the distribution
of posting lengths, and for a split set one row per split."""

from __future__ import annotations

import json

from vellum_tools.reading import native
from vellum_tools.sizes import format_size

EXAMPLES = """\
examples:
  vellum inspect out/
  vellum inspect set/index.vlss
  vellum inspect vectors.vlvi --json
"""


def register(sub) -> None:
    p = sub.add_parser("inspect", help="show what a file, dataset or split set holds",
                       description=__doc__, epilog=EXAMPLES)
    p.add_argument("path", metavar="PATH")
    p.add_argument("--json", action="store_true", help="print one JSON document instead")
    p.set_defaults(run=run)


def run(args) -> None:
    report = native().inspect(args.path)
    if args.json:
        print(json.dumps(report, indent=2))
    else:
        print("\n".join(render(report)))


def render(r: dict) -> list[str]:
    if r["kind"] == "dataset":
        lines = [f"dataset: {r['documents']:,} documents, {format_size(r['size'])}"]
        for f in r["files"]:
            lines += ["", *render(f)]
        return lines
    if r["kind"] == "split set":
        return _split_set(r)
    return _file(r)


def _file(r: dict) -> list[str]:
    lines = [f"{r['file']}: {r['kind']}, {format_size(r['size'])}"]
    header = r.get("header", {})
    if header:
        lines.append("  header: " + ", ".join(f"{k} {_word(v)}" for k, v in header.items()))
    for key in ("documents", "records", "keys", "terms", "blocks", "memberships", "vectors", "lists",
                "subquantizers", "rotation", "empty_lists", "largest_list"):
        if key in r:
            lines.append(f"  {key.replace('_', ' '):<14}{_word(r[key])}")
    for f in r.get("fields", []):
        lines.append(f"  field {f['name']!r}: {f['categories']:,} categories, "
                     f"{f['memberships']:,} memberships")
    if r.get("regions"):
        lines.append("  size by region:")
        for g in r["regions"]:
            lines.append(f"    {g['name']:<18}{format_size(g['bytes']):>12}")
    postings = r.get("postings")
    if postings:
        lines.append(f"  postings: {postings['count']:,}, {format_size(postings['bytes'])}, "
                     f"{postings['total_ids']:,} ids in all")
        lines.append("  postings by number of ids:")
        for row in postings["distribution"]:
            span = str(row["min"]) if row["min"] == row["max"] else f"{row['min']}-{row['max']}"
            lines.append(f"    {span:>21}  {row['postings']:,}")
    return lines


def _split_set(r: dict) -> list[str]:
    h = r["header"]
    lines = [f"{r['file']}: split set of {len(r['splits'])} splits, {r['documents']:,} documents, "
             f"{format_size(r['size'])} ({r['tombstones']:,} deleted)",
             "  header: " + ", ".join(f"{k} {_word(v)}" for k, v in h.items()),
             f"  {'split':<24}{'tier':>5}{'first id':>11}{'last id':>11}{'docs':>9}"
             f"{'size':>12}  {'bits/key':>8}  summary"]
    for s in r["splits"]:
        per_key = s.get("bloom_bits_per_key")
        lines.append(f"  {s['name']:<24}{s['tier']:>5}{s['first_id']:>11}{s['last_id']:>11}"
                     f"{s['doc_count']:>9}{format_size(s['size_bytes']):>12}  "
                     f"{'-' if per_key is None else f'{per_key:.1f}':>8}  "
                     f"{', '.join(s['summary']) or '-'}")
    return lines


def _word(v) -> str:
    if isinstance(v, bool):
        return "yes" if v else "no"
    if v is None:
        return "none"
    if isinstance(v, int):
        return f"{v:,}"
    if isinstance(v, dict):
        return " ".join(f"{k}={_word(x)}" for k, x in v.items())
    return str(v)
