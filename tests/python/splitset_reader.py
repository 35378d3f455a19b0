"""An independent reader for split sets written by ``vellum.SplitSetBuilder``.

Written from the byte layouts of the ``VLSS`` manifest and the split
summaries, sharing no code with the writers; split bodies and facet sidecars
are decoded by ``dataset_reader``. Like that reader it is strict: anything a
writer should never produce (a gap between names, a non-zero reserved byte,
bytes after the last summary, a TLV kind out of order) raises
``FormatViolation``.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass, field
from pathlib import Path

from dataset_reader import (
    FacetSidecar, FormatViolation, TextIndex, _check, _unpack, read_facets, read_text_index)
from term_reader import TermIndex, read_term_index

HEADER = struct.Struct("<4sHHBBHIIIQQIHHBH13s")
RECORD = struct.Struct("<IHHIIIHHQQQII")
assert HEADER.size == 64 and RECORD.size == 56

FLAG_BLOOM = 0x01
FLAG_FACETS = 0x02
FLAG_TOMBSTONES = 0x08
FLAG_CASE_SENSITIVE = 0x10
KNOWN_FLAGS = FLAG_BLOOM | FLAG_FACETS | FLAG_TOMBSTONES | FLAG_CASE_SENSITIVE

TLV_BLOOM = 1
TLV_FACET_PRESENCE = 2
TLV_TOMBSTONES = 4

MASK64 = (1 << 64) - 1
LN2 = 0.6931471805599453

__all__ = ["FormatViolation", "Manifest", "SplitRecord", "Bloom", "SplitSet",
           "read_manifest", "read_summary", "read_bloom", "read_presence",
           "bloom_bits", "bloom_probes", "read_split_set"]


# --------------------------------------------------------------------------
# Manifest


@dataclass
class SplitRecord:
    name: str
    tier: int
    doc_count: int
    first_id: int
    last_id: int
    split_flags: int
    size_bytes: int
    epoch: int
    summary: bytes


@dataclass
class Manifest:
    version: int
    flags: int
    policy: int
    body_kind: int
    tier_count: int
    base_count: int
    byte_cap: int
    gram_size: int
    sortcol: tuple[str, int, bool] | None
    splits: list[SplitRecord]


def read_manifest(data: bytes) -> Manifest:
    (magic, version, flags, policy, body_kind, tier_count, split_count, base_count,
     strings_len, summary_len, byte_cap, sort_off, sort_len, sort_num, sort_flag,
     gram_size, reserved) = _unpack(HEADER.format, data, 0, "VLSS header")
    _check(magic == b"VLSS", f"bad VLSS magic {magic!r}")
    _check(version == 1, f"VLSS version {version}")
    _check(flags & ~KNOWN_FLAGS == 0, f"VLSS unknown flag bits {flags:#x}")
    _check(policy in (0, 1), f"VLSS policy {policy}")
    _check(body_kind in (0, 1), f"VLSS body kind {body_kind}")
    _check(base_count <= split_count, "VLSS base_count above split_count")
    _check(reserved == bytes(13), "VLSS reserved header bytes not zero")
    strings_at = 64 + 56 * split_count
    summaries_at = strings_at + strings_len
    _check(summaries_at + summary_len == len(data),
           f"VLSS is {len(data)} bytes, layout says {summaries_at + summary_len}")
    strings = data[strings_at:summaries_at]
    summaries = data[summaries_at:]

    splits = []
    name_at = summary_at = 0
    for i in range(split_count):
        (name_off, name_len, tier, doc_count, first_id, last_id, split_flags, res1,
         size_bytes, epoch, sum_off, sum_len, res2) = RECORD.unpack_from(data, 64 + 56 * i)
        _check(res1 == 0 and res2 == 0, f"VLSS record {i} reserved fields not zero")
        # Names follow each other in record order, with nothing between.
        _check(name_off == name_at, f"VLSS name {i} at {name_off}, expected {name_at}")
        name_at += name_len
        _check(name_at <= strings_len, f"VLSS name {i} runs past the string blob")
        if sum_len == 0:
            _check(sum_off == 0, f"VLSS empty summary {i} has offset {sum_off}")
            summary = b""
        else:
            _check(sum_off == summary_at, f"VLSS summary {i} at {sum_off}, expected {summary_at}")
            summary_at += sum_len
            _check(summary_at <= summary_len, f"VLSS summary {i} runs past the blob")
            summary = summaries[sum_off:summary_at]
        splits.append(SplitRecord(strings[name_off:name_at].decode("utf-8"), tier, doc_count,
                                  first_id, last_id, split_flags, size_bytes, epoch, summary))
    _check(summary_at == summary_len, "VLSS summary blob holds bytes no split points at")
    sortcol = None
    if sort_len:
        _check(sort_off == name_at, "VLSS sort-column name does not follow the split names")
        _check(sort_flag in (0, 1), f"VLSS sort flag {sort_flag}")
        sortcol = (strings[sort_off:sort_off + sort_len].decode("utf-8"), sort_num, bool(sort_flag))
        name_at += sort_len
    else:
        _check(sort_off == 0 and sort_num == 0 and sort_flag == 0,
               "VLSS sort-column fields set without a name")
    _check(name_at == strings_len, "VLSS string blob holds unused bytes")
    return Manifest(version, flags, policy, body_kind, tier_count, base_count, byte_cap,
                    gram_size, sortcol, splits)


# --------------------------------------------------------------------------
# Summaries


def read_summary(data: bytes) -> list[tuple[int, bytes]]:
    """The (kind, payload) entries; kinds known, each once, in writing order."""
    entries = []
    pos = 0
    while pos < len(data):
        kind, length = _unpack("<BI", data, pos, "TLV header")
        pos += 5
        _check(pos + length <= len(data), f"TLV of kind {kind} runs past the summary")
        entries.append((kind, data[pos:pos + length]))
        pos += length
    kinds = [k for k, _ in entries]
    _check(all(k in (TLV_BLOOM, TLV_FACET_PRESENCE, TLV_TOMBSTONES) for k in kinds),
           f"unknown TLV kind in {kinds}")
    _check(kinds == sorted(set(kinds)), f"TLV kinds {kinds} repeated or out of order")
    return entries


def bloom_bits(key_count: int, bits_per_key: int) -> int:
    m = bits_per_key * max(key_count, 1)
    m = 64 if m <= 64 else -(-m // 8) * 8
    return min(m, 0xFFFFFFF8)


def bloom_probes(bits_per_key: int) -> int:
    x = bits_per_key * LN2
    k = int(x + 0.5)  # half away from zero; x is never negative
    return min(max(k, 1), 16)


def _splitmix(v: int) -> int:
    v ^= v >> 30
    v = (v * 0xBF58476D1CE4E5B9) & MASK64
    v ^= v >> 27
    v = (v * 0x94D049BB133111EB) & MASK64
    return v ^ (v >> 31)


@dataclass
class Bloom:
    probes: int
    bits: int
    array: bytes

    def may_contain(self, key: int) -> bool:
        h = _splitmix(key)
        g = _splitmix(key ^ 0x9E3779B97F4A7C15) | 1
        for _ in range(self.probes):
            p = h % self.bits
            if not (self.array[p >> 3] >> (p & 7)) & 1:
                return False
            h = (h + g) & MASK64
        return True


def read_bloom(payload: bytes) -> Bloom:
    k, m = _unpack("<II", payload, 0, "Bloom header")
    _check(1 <= k <= 16, f"Bloom probes {k}")
    _check(m >= 64 and m % 8 == 0, f"Bloom bit count {m}")
    _check(len(payload) == 8 + m // 8, f"Bloom payload {len(payload)} bytes for {m} bits")
    return Bloom(k, m, payload[8:])


def read_presence(payload: bytes) -> list[int]:
    (n,) = _unpack("<I", payload, 0, "facet presence count")
    _check(len(payload) == 4 + 8 * n, f"facet presence of {n} keys is {len(payload)} bytes")
    keys = list(struct.unpack_from(f"<{n}Q", payload, 4))
    _check(all(a < b for a, b in zip(keys, keys[1:])), "facet presence keys not strictly ascending")
    return keys


# --------------------------------------------------------------------------
# A split-set directory


@dataclass
class Split:
    record: SplitRecord
    body: TextIndex | TermIndex
    summary: dict[int, bytes]
    sidecar: FacetSidecar | None


@dataclass
class SplitSet:
    manifest: Manifest
    splits: list[Split]
    files: dict[str, bytes] = field(default_factory=dict)


def read_split_set(directory: Path | str, manifest_name: str = "index") -> SplitSet:
    """Reads the manifest and every file it implies; the directory must hold
    nothing else. Checks what holds for every batch-built set: dense
    contiguous id ranges from 0, body sizes, a sidecar exactly for splits
    with a facet-presence entry. Bodies are n-gram (.vls) or term (.vlt)
    indexes as the manifest's body kind says."""
    directory = Path(directory)
    files = {p.name: p.read_bytes() for p in directory.iterdir()}
    manifest = read_manifest(files[f"{manifest_name}.vlss"])
    extension, read_body = {0: (".vls", read_text_index), 1: (".vlt", read_term_index)}[
        manifest.body_kind]
    expected_files = {f"{manifest_name}.vlss"}
    splits = []
    next_id = 0
    for rec in manifest.splits:
        _check(rec.first_id == next_id, f"{rec.name} starts at {rec.first_id}, expected {next_id}")
        _check(rec.doc_count >= 1 and rec.last_id == rec.first_id + rec.doc_count - 1,
               f"{rec.name}: ids {rec.first_id}..{rec.last_id} for {rec.doc_count} documents")
        next_id = rec.last_id + 1
        _check(rec.name.endswith(extension) and rec.name in files, f"split file {rec.name} missing")
        body = files[rec.name]
        _check(rec.size_bytes == len(body), f"{rec.name}: size_bytes {rec.size_bytes} != {len(body)}")
        expected_files.add(rec.name)
        summary = dict(read_summary(rec.summary))
        sidecar = None
        if TLV_FACET_PRESENCE in summary:
            side_name = rec.name[:-4] + ".vlf"
            _check(side_name in files, f"sidecar {side_name} missing")
            sidecar = read_facets(files[side_name])
            expected_files.add(side_name)
        splits.append(Split(rec, read_body(body), summary, sidecar))
    _check(set(files) == expected_files,
           f"unexpected files {sorted(set(files) - expected_files)}")
    return SplitSet(manifest, splits, files)
