"""vellum ingest / delete / compact: the streaming lifecycle of a split set
on a store (a directory or a storage URL), with SplitSetWriter."""

from __future__ import annotations

import argparse
import os
import sys

from vellum_tools import fields, inputs, options, storage
from vellum_tools.errors import ToolError, require_api
from vellum_tools.lifecycle import ResumeParams, SplitSet
from vellum_tools.rows import BadRows, RowWalk
from vellum_tools.store import open_store
from vellum_tools.summary import print_summary

LIFECYCLE = """
Each flush stores the new split (fully written and synced) before it
replaces the manifest, and a compaction deletes the splits it merged only
after that. If a run is stopped at any point, running the same command
again resumes: an interrupted ingest continues after the last rows that
reached the store. One writer at a time: a second one is refused.
"""

INGEST_EXAMPLES = """\
examples:
  vellum ingest store/ new-docs.jsonl
  vellum ingest store/ docs.jsonl.zst --flush-bytes 64MiB --name-prefix corpus
  vellum ingest file:///srv/sets/docs docs.csv --text body
""" + LIFECYCLE

DELETE_EXAMPLES = """\
examples:
  vellum delete store/ 17 42
  vellum delete store/ --from ids.txt
""" + LIFECYCLE

COMPACT_EXAMPLES = """\
examples:
  vellum compact store/
""" + LIFECYCLE

# Constructor arguments of a new split set; the manifest fixes them after.
_CREATE = (("byte_cap", 33554432), ("policy", "stable_key"), ("tier_count", 0),
           ("sortcol", None), ("case_sensitive", False))
_RESUME = ("gram_size", "stride", "name_prefix", "bloom_bits_per_key")


def register(sub) -> None:
    p = sub.add_parser("ingest", help="add documents to a split set on a store",
                       description=__doc__, epilog=INGEST_EXAMPLES)
    p.add_argument("store", metavar="STORE")
    options.add_input_options(p)
    p.add_argument("--flush-bytes", type=options.size(), default=32 << 20, metavar="SIZE",
                   help="flush a delta split when the memtable estimate passes this "
                        "(default: 32MiB)")
    p.add_argument("--again", action="store_true",
                   help="ingest inputs that were already ingested completely once more")
    _writer_options(p)
    p.set_defaults(run=run_ingest)

    p = sub.add_parser("delete", help="delete documents of a split set on a store",
                       description=__doc__, epilog=DELETE_EXAMPLES)
    p.add_argument("store", metavar="STORE")
    p.add_argument("ids", nargs="*", type=options.ranged(0, options.U32_MAX), metavar="ID")
    p.add_argument("--from", dest="id_file", metavar="FILE",
                   help="file with one document id per line")
    _writer_options(p, create=False)
    p.set_defaults(run=run_delete)

    p = sub.add_parser("compact", help="merge the delta splits of a split set on a store",
                       description=__doc__, epilog=COMPACT_EXAMPLES)
    p.add_argument("store", metavar="STORE")
    _writer_options(p, create=False)
    p.set_defaults(run=run_compact)


def _writer_options(p: argparse.ArgumentParser, create: bool = True) -> None:
    p.add_argument("--manifest-name", default="index", metavar="NAME")
    p.add_argument("--break-lock", action="store_true",
                   help="remove the lock a crashed writer left on a remote store")
    g = p.add_argument_group("writer parameters (kept in the store once it exists)")
    g.add_argument("--gram-size", type=options.ranged(0, options.U16_MAX))
    g.add_argument("--stride", type=options.ranged(0, options.U32_MAX))
    g.add_argument("--name-prefix", metavar="PREFIX")
    g.add_argument("--bloom-bits-per-key", type=options.ranged(0, options.U32_MAX))
    if create:
        g = p.add_argument_group("new split sets only (the manifest fixes them)")
        g.add_argument("--byte-cap", type=options.size(), metavar="SIZE")
        g.add_argument("--policy")
        g.add_argument("--tier-count", type=options.ranged(0, options.U16_MAX))
        g.add_argument("--sortcol", type=options.sortcol, metavar="NAME[,NUM[,FLAG]]")
        g.add_argument("--case-sensitive", action="store_true", default=None)
    options.add_quiet(p)


def _open(args, store) -> SplitSet:
    vellum = require_api("SplitSetWriter")
    explicit = {n for n in _RESUME if getattr(args, n) is not None}
    defaults = ResumeParams()
    params = ResumeParams(**{n: getattr(args, n) if n in explicit else getattr(defaults, n)
                             for n in _RESUME})
    create = {n: getattr(args, n, None) for n, _ in _CREATE}
    given = [n for n, v in create.items() if v is not None]
    create = {n: d if create[n] is None else create[n] for n, d in _CREATE}
    ss = SplitSet(store, args.manifest_name)
    ss.open(vellum, params, explicit, create)
    if ss.resumed and given:
        flags = ", ".join("--" + n.replace("_", "-") for n in given)
        raise ToolError(f"{flags}: only for a new split set; {args.store} has a manifest "
                        "that fixes them")
    if ss.recovered and not args.quiet:
        print(f"vellum: recovered from an interrupted run: removed {', '.join(ss.recovered)}",
              file=sys.stderr)
    return ss


def _ingest_plan(args, ss: SplitSet, sources) -> tuple[list, int]:
    # Inputs are known by where they are and their size.
    key = [[s.name if storage.is_url(s.name) else os.path.abspath(storage.local_path(s.name)),
            s.size] for s in sources]
    done = ss.state.ingest
    if done is None or done.get("inputs") != key:
        if done is not None and not done.get("complete") and not args.quiet:
            print(f"vellum: an earlier ingest of other inputs stopped after row {done['rows']}; "
                  "it is not resumed", file=sys.stderr)
        return key, 0
    if done.get("complete"):
        if not args.again:
            raise ToolError(f"these inputs were ingested into {args.store} completely "
                            "already; pass --again to add their documents once more")
        return key, 0
    if not args.quiet:
        print(f"vellum: resuming an interrupted ingest after row {done['rows']}",
              file=sys.stderr)
    return key, done["rows"]


def run_ingest(args) -> None:
    if "-" in args.inputs:
        raise ToolError("ingest reads its inputs twice (check, then ingest) and resumes "
                        "by position: give files, not standard input")
    require_api("SplitSetWriter")  # before the store is created or locked
    sources = inputs.resolve(args.inputs, args.format)
    text_name = args.text

    def extract(row, raw):
        text = fields.text_field(row, text_name)
        fields.check_encodable(text, text_name)
        return text

    store = open_store(args.store)
    with store.lock(args.break_lock):
        ss = _open(args, store)
        key, skip = _ingest_plan(args, ss, sources)
        if not args.skip_bad:  # find bad rows before the first flush writes anything
            for _ in RowWalk(sources, extract, BadRows(False), True, skip_rows=skip):
                pass
        bad = BadRows(args.skip_bad)
        walk = RowWalk(sources, extract, bad, args.quiet, skip_rows=skip)
        w, flush_bytes = ss.writer, args.flush_bytes
        added = splits = 0
        first_id = None
        next_check = 1
        for _, _, text in walk:
            doc_id = w.add(text)
            if first_id is None:
                first_id = doc_id
            added += 1
            next_check -= 1
            if next_check:
                continue
            size = w.memtable_bytes()
            if size >= flush_bytes:
                ss.commit(w.flush(), {"inputs": key, "rows": walk.rows_seen, "complete": False})
                splits += 1
                next_check = 1
            else:
                next_check = _docs_until_check(size, w.memtable_doc_count(), flush_bytes)
        result = w.flush()
        final = {"inputs": key, "rows": walk.rows_seen, "complete": True}
        if result is None:
            ss.record_ingest(final)
        else:
            ss.commit(result, final)
            splits += 1
    if not args.quiet:
        counts = [("documents", added), ("splits written", splits),
                  ("documents in set", w.doc_count())]
        if added and first_id is not None:
            counts.insert(1, ("ids", f"{first_id}..{first_id + added - 1}"))
        if skip:
            counts.append(("rows resumed after", skip))
        if bad.count:
            counts.append(("skipped rows", bad.count))
        print_summary(f"vellum ingest: {args.store}", counts, None,
                      walk.bytes_read, walk.progress.elapsed())


def _docs_until_check(size: int, docs: int, flush_bytes: int) -> int:
    """How many more documents to add before asking for the memtable size
    again: half the documents expected to fill it, so the flush comes close
    to the threshold while the estimate (not free to compute) is asked for
    a few times per split only."""
    per_doc = max(1.0, size / max(1, docs))
    return max(1, min(4096, int((flush_bytes - size) / per_doc / 2)))


def _read_ids(args) -> list[int]:
    ids = list(args.ids)
    if args.id_file:
        check = options.ranged(0, options.U32_MAX)
        with open(args.id_file, encoding="utf-8") as f:
            for lineno, line in enumerate(f, 1):
                line = line.strip()
                if not line or line.startswith("#"):
                    continue
                try:
                    ids.append(check(line))
                except argparse.ArgumentTypeError as e:
                    raise ToolError(f"{args.id_file}:{lineno}: {e}; nothing was deleted") from None
    if not ids:
        raise ToolError("no document ids given")
    return ids


def run_delete(args) -> None:
    require_api("SplitSetWriter")
    ids = _read_ids(args)
    store = open_store(args.store, must_exist=True)
    with store.lock(args.break_lock):
        ss = _open(args, store)
        if not ss.resumed:
            raise ToolError(f"{args.store} holds no split set (no {ss.manifest_file})")
        for doc_id in ids:
            ss.writer.delete(doc_id)
        result = ss.writer.flush()
        ss.commit(result, ss.state.ingest)
    if not args.quiet:
        print_summary(f"vellum delete: {args.store}",
                      [("ids deleted", len(set(ids))), ("split", result[0])])


def run_compact(args) -> None:
    require_api("SplitSetWriter")
    store = open_store(args.store, must_exist=True)
    with store.lock(args.break_lock):
        ss = _open(args, store)
        if not ss.resumed:
            raise ToolError(f"{args.store} holds no split set (no {ss.manifest_file})")
        names = list(ss.state.live)
        if not names:
            if not args.quiet:
                print(f"vellum compact: {args.store}: no delta splits, nothing to do")
            return
        parts = []
        for name in names:
            data = store.read(name)
            if data is None:
                raise ToolError(f"{args.store}: the manifest names {name}, which is missing")
            parts.append((name, data))
        result = ss.writer.compact(parts)
        ss.commit(result, ss.state.ingest, removed=result[3])
    if not args.quiet:
        print_summary(f"vellum compact: {args.store}",
                      [("splits merged", len(names)), ("new split", result[0]),
                       ("new split bytes", len(result[1])), ("removed", len(result[3]))])
