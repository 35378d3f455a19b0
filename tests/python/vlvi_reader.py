"""An independent, strict reader of VLVI vector index files.

Written from the byte layout alone: a 48-byte header, the optional rotation
matrix, the coarse centroids, the PQ codebooks, a directory of (u64 offset,
u32 count) entries and the inverted lists (u32 ids, then one byte per code).
It raises ``VlviViolation`` on the first thing a well-formed file cannot
hold: a wrong magic or version, unknown flags, non-zero reserved bytes, a
list that does not start where the previous one ended, counts that do not
sum to the header's total, codes at or above 2**nbits, or trailing bytes.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass, field

HEADER = struct.Struct("<4sHBBIIIB3sQ16s")
DIRECTORY_ENTRY = struct.Struct("<QI")
MAGIC = b"VLVI"
VERSION = 1


class VlviViolation(AssertionError):
    """The bytes do not follow the VLVI layout."""


def _check(cond: bool, what: str) -> None:
    if not cond:
        raise VlviViolation(what)


@dataclass
class VlviFile:
    metric: int
    rotated: bool
    dim: int
    nlist: int
    m: int
    nbits: int
    n: int
    rotation: list[float] | None = None
    centroids: list[float] = field(default_factory=list)
    codebooks: list[float] = field(default_factory=list)
    offsets: list[int] = field(default_factory=list)
    ids: list[list[int]] = field(default_factory=list)
    codes: list[bytes] = field(default_factory=list)
    data_start: int = 0

    def list_vectors(self, c: int) -> list[tuple[int, bytes]]:
        """(id, m code bytes) pairs of list c, in file order."""
        m = self.m
        return [(i, self.codes[c][k * m:(k + 1) * m]) for k, i in enumerate(self.ids[c])]


class _Cursor:
    def __init__(self, data: bytes):
        self.data = data
        self.pos = 0

    def take(self, size: int, what: str) -> bytes:
        _check(self.pos + size <= len(self.data),
               f"{what}: {size} bytes at {self.pos} run past the end ({len(self.data)})")
        chunk = self.data[self.pos:self.pos + size]
        self.pos += size
        return chunk

    def floats(self, count: int, what: str) -> list[float]:
        return list(struct.unpack(f"<{count}f", self.take(4 * count, what)))


def read_vlvi(data: bytes) -> VlviFile:
    cur = _Cursor(bytes(data))
    (magic, version, metric, rotated, dim, nlist, m, nbits, reserved_a, n,
     reserved_b) = HEADER.unpack(cur.take(HEADER.size, "header"))
    _check(magic == MAGIC, f"magic {magic!r}")
    _check(version == VERSION, f"version {version}")
    _check(metric in (0, 1), f"metric {metric}")
    _check(rotated in (0, 1), f"rotation flag {rotated}")
    _check(1 <= nbits <= 8, f"nbits {nbits}")
    _check(reserved_a == b"\0" * 3, "reserved bytes 21..23 are not zero")
    _check(reserved_b == b"\0" * 16, "reserved bytes 32..47 are not zero")
    _check(dim > 0 and m > 0 and dim % m == 0, f"dim {dim} and m {m}")
    f = VlviFile(metric, bool(rotated), dim, nlist, m, nbits, n)
    ksub = 1 << nbits
    if rotated:
        f.rotation = cur.floats(dim * dim, "rotation")
    f.centroids = cur.floats(nlist * dim, "centroids")
    f.codebooks = cur.floats(ksub * dim, "codebooks")
    counts = []
    for c in range(nlist):
        offset, count = DIRECTORY_ENTRY.unpack(cur.take(DIRECTORY_ENTRY.size, f"directory {c}"))
        f.offsets.append(offset)
        counts.append(count)
    f.data_start = cur.pos
    for c in range(nlist):
        _check(f.offsets[c] == cur.pos, f"list {c} starts at {f.offsets[c]}, expected {cur.pos}")
        f.ids.append(list(struct.unpack(f"<{counts[c]}I", cur.take(4 * counts[c], f"list {c} ids"))))
        codes = cur.take(m * counts[c], f"list {c} codes")
        _check(all(b < ksub for b in codes), f"list {c} has a code >= 2**{nbits}")
        f.codes.append(codes)
    _check(sum(counts) == n, f"list counts add up to {sum(counts)}, header says {n}")
    _check(cur.pos == len(cur.data), f"{len(cur.data) - cur.pos} trailing bytes")
    return f


def read_vlvi_file(path) -> VlviFile:
    with open(path, "rb") as fh:
        return read_vlvi(fh.read())
