"""vellum plot: a picture of a build: the split sizes against their caps
for a split set, or the posting-length distribution of an index (a
dataset's index.vls, a .vls or a .vlt file)."""

from __future__ import annotations

from vellum_tools.errors import ToolError, require
from vellum_tools.reading import native

EXAMPLES = """\
examples:
  vellum plot set/ -o splits.png
  vellum plot out/ -o postings.png
"""


def register(sub) -> None:
    p = sub.add_parser("plot", help="draw split sizes or posting lengths as a PNG",
                       description=__doc__, epilog=EXAMPLES)
    p.add_argument("path", metavar="PATH")
    p.add_argument("-o", "--output", required=True, metavar="FILE.png")
    p.set_defaults(run=run)


def run(args) -> None:
    matplotlib = require("matplotlib", "python3-matplotlib")
    matplotlib.use("Agg")
    pyplot = require("matplotlib.pyplot", "python3-matplotlib")
    report = native().inspect(args.path)
    fig, ax = pyplot.subplots(figsize=(9, 4.5))
    try:
        if report["kind"] == "split set":
            _split_sizes(ax, report)
        else:
            _postings(ax, _index_of(report))
        fig.tight_layout()
        fig.savefig(args.output, format="png")
    finally:
        pyplot.close(fig)
    print(f"wrote {args.output}")


def _index_of(report: dict) -> dict:
    if report["kind"] == "dataset":
        report = next(f for f in report["files"] if "postings" in f)
    if "postings" not in report:
        raise ToolError(f"a {report['kind']} has no postings to plot")
    return report


def _split_sizes(ax, r: dict) -> None:
    splits = r["splits"]
    cap = r["header"]["byte_cap"]
    xs = range(len(splits))
    ax.bar(xs, [s["size_bytes"] for s in splits], color="tab:blue", label="split size")
    if cap:
        ax.axhline(cap, color="tab:red", linestyle="--", label=f"byte cap ({cap:,} B)")
    ax.set_xlabel("split (manifest order)")
    ax.set_ylabel("bytes")
    ax.set_title(f"{r['file']}: {len(splits)} splits, {r['documents']:,} documents")
    ax.legend()


def _postings(ax, r: dict) -> None:
    rows = r["postings"]["distribution"]
    labels = [str(x["min"]) if x["min"] == x["max"] else f"{x['min']}-{x['max']}" for x in rows]
    ax.bar(range(len(rows)), [x["postings"] for x in rows], color="tab:green")
    ax.set_xticks(range(len(rows)), labels, rotation=45, ha="right")
    ax.set_yscale("log")
    ax.set_xlabel("ids per posting")
    ax.set_ylabel("postings")
    ax.set_title(f"{r['file']}: {r['postings']['count']:,} postings")
