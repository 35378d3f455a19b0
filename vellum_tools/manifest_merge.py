"""One manifest from the manifests of split sets built over consecutive
shards of a corpus.

Split bodies number their documents locally and their summaries hold no
ids, so shards become one split set by rewriting only the manifest: records
are concatenated in shard order and each shard's id range is shifted by the
documents of the shards before it. The core parses and writes the bytes;
this module only decides what the merged header and records are.
"""

from __future__ import annotations

from vellum_tools.errors import ToolError

FLAG_BLOOM = 0x01
FLAG_FACETS = 0x02
FLAG_TOMBSTONES = 0x08
POLICY_TIERED = 0
MAX_TIER_COUNT = 0xFFFF
MAX_DOCS = 1 << 32  # ids are unsigned 32-bit

# Header fields every shard must share, with the words an error uses.
_AGREE = (("body_kind", "body kind"), ("gram_size", "gram size"),
          ("case_sensitive", "case sensitivity"), ("policy", "policy"),
          ("byte_cap", "byte cap"), ("sortcol", "sort column"))


class MergeError(ToolError):
    """Shard manifests that cannot form one split set."""


def _native():
    try:
        from vellum_tools import _native
    except ImportError as e:
        raise ToolError(f"the vellum_tools native module cannot be imported ({e})") from None
    return _native


def _parse(native, index: int, data: bytes) -> dict:
    try:
        return native.parse_manifest(data)
    except ValueError as e:
        raise MergeError(f"shard {index}: unreadable manifest: {e}") from None


def _check_agreement(index: int, m: dict, first: dict) -> None:
    for key, words in _AGREE:
        if m[key] != first[key]:
            raise MergeError(f"shard {index} disagrees with shard 0 on {words}: "
                             f"{m[key]!r} against {first[key]!r}")
    if (m["flags"] ^ first["flags"]) & FLAG_BLOOM:
        raise MergeError(f"shard {index} disagrees with shard 0 on Bloom summaries: "
                         f"{'on' if m['flags'] & FLAG_BLOOM else 'off'} against "
                         f"{'on' if first['flags'] & FLAG_BLOOM else 'off'}")
    if m["flags"] & FLAG_TOMBSTONES or m["base_count"] != len(m["splits"]):
        raise MergeError(f"shard {index} has delta splits or tombstones; "
                         "only batch-built split sets can be merged")


def _shifted(index: int, m: dict, offset: int) -> tuple[list[dict], int]:
    """The shard's records with global ids, and its document count."""
    out, local = [], 0
    for s in m["splits"]:
        if s["split_flags"] != 0:
            raise MergeError(f"shard {index}: split {s['name']} has split flags "
                             f"{s['split_flags']}; only batch-built splits can be merged")
        if (s["doc_count"] == 0 or s["first_id"] != local
                or s["last_id"] != s["first_id"] + s["doc_count"] - 1):
            raise MergeError(f"shard {index}: split {s['name']} covers ids "
                             f"{s['first_id']}..{s['last_id']} for {s['doc_count']} "
                             f"documents, expected to start at {local}")
        local += s["doc_count"]
        if offset + local > MAX_DOCS:
            raise MergeError(f"the shards hold more than 2^32 documents in all (shard "
                             f"{index} reaches {offset + local}); document ids are 32-bit")
        out.append(dict(s, first_id=s["first_id"] + offset, last_id=s["last_id"] + offset))
    return out, local


def merge_manifests(manifests: list[bytes]) -> tuple[bytes, int]:
    """(merged manifest bytes, total documents) for shard manifests given in
    shard order. Raises MergeError when they disagree."""
    if not manifests:
        raise MergeError("no shard manifests to merge")
    native = _native()
    parsed = [_parse(native, i, data) for i, data in enumerate(manifests)]
    first = parsed[0]
    splits: list[dict] = []
    offset = 0
    facets = 0
    for i, m in enumerate(parsed):
        _check_agreement(i, m, first)
        records, docs = _shifted(i, m, offset)
        splits.extend(records)
        offset += docs
        facets |= m["flags"] & FLAG_FACETS
    # Each shard's cap schedule starts again at split 0, so tiers are per
    # shard: the set has as many tiers as its longest shard has splits.
    tiers = max((s["tier"] for s in splits), default=-1) + 1
    params = {
        "policy": first["policy"], "body_kind": first["body_kind"],
        "gram_size": first["gram_size"], "byte_cap": first["byte_cap"],
        "sortcol": first["sortcol"], "base_count": len(splits),
        "tier_count": min(tiers, MAX_TIER_COUNT) if first["policy"] == POLICY_TIERED else 0,
        "flags": (first["flags"] & ~FLAG_FACETS) | facets,
    }
    return native.write_manifest(splits, params), offset
