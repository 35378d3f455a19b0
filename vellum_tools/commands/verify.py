"""vellum verify: the full check of a file, a dataset directory or a split
set (directory or .vlss manifest), as a remote reader would see it."""

from __future__ import annotations

from vellum_tools.reading import describe_problem, native

EXAMPLES = """\
examples:
  vellum verify out/            a dataset directory
  vellum verify set/            a split set (or set/index.vlss)
  vellum verify docs.vlt

Prints "ok" and exits 0 when everything is sound; otherwise prints every
problem found, one per line (file, region, byte offset, what is wrong),
and exits 1.
"""


def register(sub) -> None:
    p = sub.add_parser("verify", help="check files, datasets and split sets",
                       description=__doc__, epilog=EXAMPLES)
    p.add_argument("path", metavar="PATH")
    p.set_defaults(run=run)


def run(args) -> int:
    problems = native().verify(args.path)
    if not problems:
        print("ok")
        return 0
    for p in problems:
        print(describe_problem(p))
    return 1
