"""An independent reader for the files that ``vellum.Builder`` writes.

It is written from the byte layouts alone and shares no code with the
writers, so the tests can hold the writers to the layouts a remote reader
relies on. Every parser validates as it goes and raises ``FormatViolation``
on the first inconsistency instead of guessing.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass, field
from pathlib import Path

ROARING_NO_RUN_COOKIE = 12346
ROARING_RUN_COOKIE = 12347
ARRAY_CONTAINER_MAX = 4096
BITMAP_CONTAINER_BYTES = 8192

FNV_OFFSET = 0xCBF29CE484222325
FNV_PRIME = 0x100000001B3
MASK64 = (1 << 64) - 1


class FormatViolation(AssertionError):
    """The bytes do not follow the layout."""


def _check(cond: bool, what: str) -> None:
    if not cond:
        raise FormatViolation(what)


def _unpack(fmt: str, data: bytes, offset: int, what: str):
    size = struct.calcsize(fmt)
    _check(0 <= offset and offset + size <= len(data),
           f"{what}: {size} bytes at {offset} run past the end ({len(data)} bytes)")
    return struct.unpack_from(fmt, data, offset)


# --------------------------------------------------------------------------
# Portable Roaring (no-run form only)


def decode_roaring(data: bytes) -> list[int]:
    """Decodes a portable Roaring serialization into its sorted ids.

    Only the form without run containers is accepted: postings are written
    without run optimisation, so a run cookie means the writer went wrong.
    Containers must be canonical (array up to 4096 values, bitmap above),
    non-empty, in ascending key order, and the serialization must span the
    whole buffer.
    """
    (cookie,) = _unpack("<I", data, 0, "roaring cookie")
    _check((cookie & 0xFFFF) != ROARING_RUN_COOKIE,
           "roaring posting uses the run-container form")
    _check(cookie == ROARING_NO_RUN_COOKIE, f"roaring cookie {cookie} is unknown")
    (count,) = _unpack("<I", data, 4, "roaring container count")
    _check(count <= 65536, f"roaring container count {count} exceeds 65536")
    pos = 8
    descr = []
    for _ in range(count):
        key, card_minus_one = _unpack("<HH", data, pos, "roaring descriptive header")
        descr.append((key, card_minus_one + 1))
        pos += 4
    # The no-run form always carries the offset header, whatever the count.
    offsets = list(_unpack(f"<{count}I", data, pos, "roaring offset header"))
    pos += 4 * count

    ids: list[int] = []
    prev_key = -1
    for (key, card), off in zip(descr, offsets):
        _check(key > prev_key, f"roaring keys not ascending ({prev_key} then {key})")
        prev_key = key
        _check(off == pos, f"roaring container offset {off}, expected {pos}")
        base = key << 16
        if card <= ARRAY_CONTAINER_MAX:
            values = _unpack(f"<{card}H", data, pos, "roaring array container")
            pos += 2 * card
            for a, b in zip(values, values[1:]):
                _check(a < b, "roaring array container not strictly ascending")
            ids.extend(base | v for v in values)
        else:
            _check(pos + BITMAP_CONTAINER_BYTES <= len(data),
                   "roaring bitmap container runs past the end")
            words = struct.unpack_from("<1024Q", data, pos)
            pos += BITMAP_CONTAINER_BYTES
            got = 0
            for w_index, word in enumerate(words):
                while word:
                    low = word & -word
                    ids.append(base | (w_index << 6) | (low.bit_length() - 1))
                    word ^= low
                    got += 1
            _check(got == card,
                   f"roaring bitmap container holds {got} ids, header says {card}")
    _check(pos == len(data),
           f"roaring serialization ends at {pos} but the posting is {len(data)} bytes")
    return ids


def roaring_container_kinds(data: bytes) -> list[str]:
    """'array' or 'bitmap' for each container, from the descriptive header."""
    (count,) = struct.unpack_from("<I", data, 4)
    kinds = []
    for i in range(count):
        _, card_minus_one = struct.unpack_from("<HH", data, 8 + 4 * i)
        kinds.append("array" if card_minus_one + 1 <= ARRAY_CONTAINER_MAX else "bitmap")
    return kinds


# --------------------------------------------------------------------------
# VLS n-gram index


@dataclass
class TextIndex:
    version: int
    gram_size: int
    stride: int
    flags: int | None
    # key -> sorted document ids, in dictionary (ascending key) order
    postings: dict[int, list[int]]
    # key -> raw posting bytes
    raw: dict[int, bytes]


def read_text_index(data: bytes) -> TextIndex:
    _check(data[:4] == b"VLSI", f"bad VLS magic {data[:4]!r}")
    version, gram_size, n, stride = _unpack("<HHII", data, 4, "VLS header")
    _check(version in (3, 4), f"VLS version {version}")
    _check(stride != 0, "VLS stride 0 in file")
    flags = None
    header_len = 16
    if version == 4:
        (flags,) = _unpack("<H", data, 16, "VLS flags")
        _check(flags == 1, f"VLS v4 flags {flags}")
        header_len = 18
    blocks = -(-n // stride)
    sparse = list(_unpack(f"<{blocks}Q", data, header_len, "VLS sparse index"))
    dict_start = header_len + 8 * blocks
    posting_start = dict_start + 20 * n
    _check(posting_start <= len(data), "VLS dictionary runs past the end")

    postings: dict[int, list[int]] = {}
    raw: dict[int, bytes] = {}
    keys = []
    expected_offset = posting_start
    for i in range(n):
        key, offset, length = struct.unpack_from("<QQI", data, dict_start + 20 * i)
        _check(not keys or key > keys[-1], f"VLS keys not strictly ascending at entry {i}")
        _check(offset == expected_offset,
               f"VLS posting {i} at {offset}, expected contiguous {expected_offset}")
        _check(offset + length <= len(data), f"VLS posting {i} runs past the end")
        body = data[offset:offset + length]
        raw[key] = body
        postings[key] = decode_roaring(body)
        keys.append(key)
        expected_offset = offset + length
    _check(expected_offset == len(data),
           f"VLS file is {len(data)} bytes, last posting ends at {expected_offset}")
    for b, first in enumerate(sparse):
        _check(first == keys[b * stride], f"VLS sparse entry {b} is not the block's first key")
    return TextIndex(version, gram_size, stride, flags, postings, raw)


# --------------------------------------------------------------------------
# Record store


def read_records(bin_data: bytes, idx_data: bytes) -> list[bytes]:
    _check(idx_data[:4] == b"VLSR", f"bad records.idx magic {idx_data[:4]!r}")
    version, reserved1, n, reserved2 = _unpack("<HHII", idx_data, 4, "records.idx header")
    _check(version == 1, f"records.idx version {version}")
    _check(reserved1 == 0 and reserved2 == 0, "records.idx reserved fields not zero")
    _check(len(idx_data) == 16 + 8 * (n + 1),
           f"records.idx is {len(idx_data)} bytes for {n} records")
    offsets = struct.unpack_from(f"<{n + 1}Q", idx_data, 16)
    _check(offsets[0] == 0, "records.idx offsets[0] is not 0")
    _check(offsets[-1] == len(bin_data),
           f"records.idx ends at {offsets[-1]}, records.bin is {len(bin_data)} bytes")
    for a, b in zip(offsets, offsets[1:]):
        _check(a <= b, "records.idx offsets decrease")
    return [bin_data[a:b] for a, b in zip(offsets, offsets[1:])]


# --------------------------------------------------------------------------
# VLSF facet sidecar


def facet_key(field_name: str, category: str, fold_case: bool = True) -> int:
    if fold_case:
        # str.lower is the full default lowercase mapping, final sigma included.
        field_name = field_name.lower()
        category = category.lower()
    h = FNV_OFFSET
    for b in field_name.encode("utf-8") + b"\x1f" + category.encode("utf-8"):
        h = ((h ^ b) * FNV_PRIME) & MASK64
    return h


@dataclass
class FacetCategory:
    name: str
    key: int
    head: list[int]
    tail: list[int]
    doc_count: int
    head_raw: bytes
    tail_raw: bytes
    name_offset: int


@dataclass
class FacetField:
    name: str
    name_offset: int
    first: int
    categories: list[FacetCategory] = field(default_factory=list)


@dataclass
class FacetSidecar:
    case_sensitive: int
    blob: bytes
    fields: list[FacetField]


def read_facets(data: bytes) -> FacetSidecar:
    _check(data[:4] == b"VLSF", f"bad VLSF magic {data[:4]!r}")
    version, case_sensitive, nfields, ncats, blob_len, reserved = _unpack(
        "<HHIIII", data, 4, "VLSF header")
    _check(version == 1, f"VLSF version {version}")
    _check(case_sensitive in (0, 1), f"VLSF case flag {case_sensitive}")
    _check(reserved == 0, "VLSF reserved header field not zero")
    field_at = 24
    cat_at = field_at + 16 * nfields
    blob_at = cat_at + 36 * ncats
    meta_end = blob_at + blob_len
    _check(meta_end <= len(data), "VLSF meta region runs past the end")
    blob = data[blob_at:meta_end]

    def name(offset: int, length: int, what: str) -> str:
        _check(offset + length <= blob_len, f"{what} name runs past the blob")
        return blob[offset:offset + length].decode("utf-8")

    fields = []
    counts = []
    next_first = 0
    for i in range(nfields):
        off, length, res, first, count = struct.unpack_from("<IHHII", data, field_at + 16 * i)
        _check(res == 0, f"VLSF field {i} reserved not zero")
        _check(first == next_first, f"VLSF field {i} first category {first}, expected {next_first}")
        next_first += count
        fields.append(FacetField(name(off, length, "field"), off, first))
        counts.append(count)
    _check(next_first == ncats, "VLSF field category counts do not add up to K")

    expected_offset = meta_end
    for fld, count in zip(fields, counts):
        prev_key = -1
        for j in range(fld.first, fld.first + count):
            key, head_off, head_len, tail_len, doc_count, name_off, name_len, res = (
                struct.unpack_from("<QQIIIIHH", data, cat_at + 36 * j))
            _check(res == 0, f"VLSF category {j} reserved not zero")
            _check(key >= prev_key, f"VLSF categories of {fld.name!r} not in key order")
            prev_key = key
            _check(head_off == expected_offset,
                   f"VLSF category {j} head at {head_off}, expected contiguous {expected_offset}")
            tail_off = head_off + head_len
            end = tail_off + tail_len
            _check(end <= len(data), f"VLSF category {j} postings run past the end")
            head_raw = data[head_off:tail_off]
            tail_raw = data[tail_off:end]
            fld.categories.append(FacetCategory(
                name(name_off, name_len, "category"), key,
                decode_roaring(head_raw), decode_roaring(tail_raw), doc_count,
                head_raw, tail_raw, name_off))
            expected_offset = end
    _check(expected_offset == len(data),
           f"VLSF file is {len(data)} bytes, last tail ends at {expected_offset}")
    return FacetSidecar(case_sensitive, blob, fields)


# --------------------------------------------------------------------------
# A whole dataset directory


@dataclass
class Dataset:
    index: TextIndex
    facets: FacetSidecar
    records: list[bytes]
    files: dict[str, bytes]


DATASET_FILES = ("index.vls", "index.vlf", "records.bin", "records.idx")


def read_dataset(directory: Path | str) -> Dataset:
    directory = Path(directory)
    files = {name: (directory / name).read_bytes() for name in DATASET_FILES}
    return Dataset(
        read_text_index(files["index.vls"]),
        read_facets(files["index.vlf"]),
        read_records(files["records.bin"], files["records.idx"]),
        files,
    )
