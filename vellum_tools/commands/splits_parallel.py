"""vellum splits --workers/--scheduler: the same split set, built shard by
shard on a Dask cluster and merged by rewriting only the manifest."""

from __future__ import annotations

import os

from vellum_tools import scaleout, shards, storage
from vellum_tools.commands.splits import builder_options
from vellum_tools.errors import ToolError
from vellum_tools.progress import Progress
from vellum_tools.summary import print_summary


def _job(args) -> scaleout.SplitJob:
    if args.rank:
        # Ranks would have to be sorted across all shards before any id is given.
        raise ToolError("--rank cannot be combined with --workers or --scheduler: "
                        "feed the inputs already in rank order")
    return scaleout.SplitJob(terms=args.terms, builder_options=builder_options(args),
                             name_prefix=args.name_prefix, text=args.text,
                             facets=tuple(args.facet), skip_bad=args.skip_bad)


def _output(target: str) -> str:
    return target if storage.is_url(target) else os.path.abspath(storage.local_path(target))


def run_parallel(args) -> None:
    job = _job(args)
    output = _output(args.output)
    client = scaleout.connect(args.workers, args.scheduler)
    try:
        pieces = args.shards or max(1, sum(client.nthreads().values()))
        plan = shards.plan(args.inputs, args.format, pieces)
        with Progress(len(plan), unit="shard", enabled=not args.quiet,
                      description="shards") as progress:
            result = scaleout.build_split_set(client, plan, job, output,
                                              manifest_name=args.manifest_name,
                                              progress=progress)
            elapsed = progress.elapsed()
    finally:
        scaleout.close(client)
    if args.quiet:
        return
    counts: list[tuple[str, object]] = [("shards", len(plan)), ("splits", result.splits), ("documents", result.docs),
              ("split bytes", result.total_bytes)]
    if result.bad_rows:
        counts.append(("skipped rows", result.bad_rows))
    counts.append(("merge ms", round(result.merge_seconds * 1000, 1)))
    manifest = f"{args.manifest_name}.vlss"
    print_summary(f"vellum splits: wrote {args.output}", counts, {manifest: len(result.manifest)},
                  result.bytes_read, elapsed)
