"""An independent reader for ``VLTI`` term index files and their FST router.

Written from the byte layouts alone, sharing no code with the writers, and
strict: every parser raises ``FormatViolation`` on the first inconsistency
(a bad checksum, a target outside the image, non-canonical packing, a gap
or a trailing byte). Two ways in:

* ``read_term_index(data)`` decodes and checks a whole file.
* ``RemoteTermIndex(path)`` looks terms up the way a reader fetching byte
  ranges does: header, router, the one dict block the router names, the
  record's tail length and head, then its tail.

Run as a script, ``term_reader.py FILE.vlt EXPECTED.tsv [BLOCK_BUDGET]``
checks a file against lines ``HEXTERM<TAB>id,id,...`` and exits non-zero
with the reason when they disagree.
"""

from __future__ import annotations

import struct
import sys
from dataclasses import dataclass
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from dataset_reader import FormatViolation, _check, decode_roaring  # noqa: E402

COMMON_INPUTS = b"te/oasripcnw.hlm-du012g=:bf3y5&_4v9678k%?xCDASFIBEjPTzRNM+LOqHG"
FST_HEADER = 16
FST_FOOTER = 20
VLT_HEADER = 40
MASK64 = (1 << 64) - 1


def _crc32c(data: bytes) -> int:
    table = _crc32c.table
    c = 0xFFFFFFFF
    for b in data:
        c = (c >> 8) ^ table[(c ^ b) & 0xFF]
    return c ^ 0xFFFFFFFF


def _make_crc_table() -> list[int]:
    out = []
    for b in range(256):
        c = b
        for _ in range(8):
            c = (c >> 1) ^ (0x82F63B78 if c & 1 else 0)
        out.append(c)
    return out


_crc32c.table = _make_crc_table()


def masked_crc32c(data: bytes) -> int:
    c = _crc32c(data)
    return ((((c << 17) | (c >> 15)) & 0xFFFFFFFF) + 0xA282EAD8) & 0xFFFFFFFF


def _fewest_bytes(v: int) -> int:
    return max(1, (v.bit_length() + 7) // 8)


@dataclass
class _Node:
    final: bool
    final_output: int
    start: int
    edges: list  # (input, output, target), ascending input


class FstMap:
    """An FST map image (version 3, type 0), checked on construction."""

    def __init__(self, data: bytes):
        self.data = bytes(data)
        d = self.data
        _check(len(d) >= FST_HEADER + FST_FOOTER, "fst image shorter than header and footer")
        version, kind = struct.unpack_from("<QQ", d, 0)
        _check(version == 3, f"fst version {version}")
        _check(kind == 0, f"fst type {kind}")
        self.nodes_end = len(d) - FST_FOOTER
        self.key_count, self.root, crc = struct.unpack_from("<QQI", d, self.nodes_end)
        _check(crc == masked_crc32c(d[:-4]), "fst checksum mismatch")
        _check(self.root == 0 or FST_HEADER <= self.root < self.nodes_end, "fst root address")
        self._cache: dict[int, _Node] = {}

    def _byte(self, pos: int) -> int:
        _check(FST_HEADER <= pos < self.nodes_end, f"fst byte {pos} outside the node region")
        return self.data[pos]

    def _packed(self, pos: int, n: int) -> int:
        _check(FST_HEADER <= pos and pos + n <= self.nodes_end, "fst packed field outside the nodes")
        return int.from_bytes(self.data[pos:pos + n], "little")

    @staticmethod
    def _back(end: int, n: int) -> int:
        _check(end - n >= FST_HEADER, "fst node runs into the header")
        return end - n

    @staticmethod
    def _target(start: int, delta: int) -> int:
        if delta == 0:
            return 0
        _check(delta <= start - FST_HEADER, "fst transition target before the node region")
        return start - delta

    def _input(self, p: int, rank: int) -> tuple[int, int]:
        if rank:
            _check(rank <= len(COMMON_INPUTS), "fst common-input rank out of range")
            return COMMON_INPUTS[rank - 1], p
        p = self._back(p, 1)
        b = self._byte(p)
        _check(b not in COMMON_INPUTS, "fst input byte stored although it has a common rank")
        return b, p

    def node(self, addr: int) -> _Node:
        if addr == 0:
            return _Node(True, 0, 0, [])
        if addr not in self._cache:
            state = self._byte(addr)
            kind = state >> 6
            if kind == 3:
                n = self._next_chained(addr, state)
            elif kind == 2:
                n = self._single(addr, state)
            else:
                n = self._general(addr, state)
            self._cache[addr] = n
        return self._cache[addr]

    def _next_chained(self, addr: int, state: int) -> _Node:
        inp, p = self._input(addr, state & 0x3F)
        _check(p > FST_HEADER, "fst next-chained node without a node before it")
        return _Node(False, 0, p, [(inp, 0, p - 1)])

    def _single(self, addr: int, state: int) -> _Node:
        inp, p = self._input(addr, state & 0x3F)
        p = self._back(p, 1)
        sizes = self._byte(p)
        ds, os_ = sizes >> 4, sizes & 0x0F
        _check(1 <= ds <= 8 and os_ <= 8, "fst single-transition pack sizes")
        start = self._back(p, ds + os_)
        out = self._packed(start, os_) if os_ else 0
        delta = self._packed(start + os_, ds)
        _check(os_ == 0 or (out != 0 and _fewest_bytes(out) == os_), "fst output not packed tightly")
        _check(_fewest_bytes(delta) == ds, "fst delta not packed tightly")
        return _Node(False, 0, start, [(inp, out, self._target(start, delta))])

    def _general(self, addr: int, state: int) -> _Node:
        final = bool(state & 0x40)
        p = addr
        count = state & 0x3F
        if count == 0:
            p = self._back(p, 1)
            c = self._byte(p)
            _check(c in (0, 1) or c > 63, "fst count byte holds a count the state byte fits")
            count = 256 if c == 1 else c
        p = self._back(p, 1)
        sizes = self._byte(p)
        ds, os_ = sizes >> 4, sizes & 0x0F
        _check(ds <= 8 and os_ <= 8, "fst general pack sizes")
        _check((count == 0) == (ds == 0), "fst delta size disagrees with the transition count")
        index = None
        if count > 32:
            p = self._back(p, 256)
            index = self.data[p:p + 256]
        inputs = p = self._back(p, count)
        deltas = p = self._back(p, count * ds)
        start = self._back(p, (count + (1 if final else 0)) * os_)
        final_output = self._packed(start, os_) if final and os_ else 0
        first_out = start + (os_ if final else 0)
        edges = []
        for j in range(count):
            back = count - 1 - j
            inp = self._byte(inputs + back)
            out = self._packed(first_out + back * os_, os_) if os_ else 0
            delta = self._packed(deltas + back * ds, ds)
            _check(not edges or inp > edges[-1][0], "fst transitions not in ascending input order")
            edges.append((inp, out, self._target(start, delta)))
        _check(os_ == 0 or final_output or any(e[1] for e in edges),
               "fst general node stores outputs that are all zero")
        if index is not None:
            expect = bytearray([255]) * 256
            for j, e in enumerate(edges):
                expect[e[0]] = j
            _check(bytes(index) == bytes(expect), "fst transition index disagrees with the inputs")
        return _Node(final, final_output, start, edges)

    def get(self, key: bytes) -> int | None:
        addr, total = self.root, 0
        for b in key:
            match = [e for e in self.node(addr).edges if e[0] == b]
            if not match:
                return None
            total += match[0][1]
            addr = match[0][2]
        n = self.node(addr)
        return (total + n.final_output) & MASK64 if n.final else None

    def entries(self) -> list[tuple[bytes, int]]:
        """Every (key, value) in key order; checks that the reachable nodes
        tile the node region and that the count matches the footer."""
        out: list[tuple[bytes, int]] = []
        spans: dict[int, int] = {}
        stack = [(self.root, 0, b"")]
        while stack:
            addr, total, key = stack.pop()
            n = self.node(addr)
            if addr:
                _check(spans.setdefault(n.start, addr) == addr, "fst nodes overlap")
            _check(n.final or n.edges or (addr == self.root and key == b""),
                   "fst non-final node without transitions")
            if n.final:
                value = total + n.final_output
                _check(value <= MASK64, "fst output sum overflows 64 bits")
                out.append((key, value))
            for inp, o, target in reversed(n.edges):
                stack.append((target, total + o, key + bytes([inp])))
        _check(len(out) == self.key_count, "fst key count disagrees with the entries")
        nxt = FST_HEADER
        for start in sorted(spans):
            _check(start == nxt, "fst bytes between nodes belong to no reachable node")
            nxt = spans[start] + 1
        _check(nxt == self.nodes_end, "fst node region does not end at the last node")
        return out

    def lower_bound(self, probe: bytes) -> tuple[bytes, int] | None:
        """The first entry whose key is >= probe."""
        def smallest(addr, total, key):
            while True:
                n = self.node(addr)
                if n.final:
                    return key, total + n.final_output
                if not n.edges:
                    return None
                inp, o, addr = n.edges[0]
                total += o
                key += bytes([inp])

        # Follow the probe as far as it goes, remembering at each depth the
        # first transition above the probe's byte: the deepest such one
        # leads to the answer when the probe leaves the map.
        probe = bytes(probe)
        addr, total = self.root, 0
        fallback = None
        for depth, b in enumerate(probe):
            edges = self.node(addr).edges
            above = next((e for e in edges if e[0] > b), None)
            if above is not None:
                fallback = (depth, above, total)
            same = next((e for e in edges if e[0] == b), None)
            if same is None:
                break
            total += same[1]
            addr = same[2]
        else:
            return smallest(addr, total, probe)
        if fallback is None:
            return None
        depth, (inp, o, target), total = fallback
        return smallest(target, total + o, probe[:depth] + bytes([inp]))


# ---- VLTI ----

@dataclass
class TermHeader:
    flags: int
    term_count: int
    head_boundary: int
    router_len: int
    dict_len: int
    block_cap: int
    language_code: int

    @property
    def dict_start(self) -> int:
        return VLT_HEADER + self.router_len

    @property
    def postings_start(self) -> int:
        return VLT_HEADER + self.router_len + self.dict_len


def parse_header(data: bytes) -> TermHeader:
    _check(len(data) >= VLT_HEADER, "vlt header truncated")
    _check(data[:4] == b"VLTI", "vlt magic")
    version, flags, tc, hb, rl, dl, cap, lang = struct.unpack_from("<HHIIQQIB", data, 4)
    _check(version == 2, f"vlt version {version}")
    _check(data[37:40] == b"\0\0\0", "vlt reserved bytes not zero")
    _check(flags & ~7 == 0, "vlt unknown flag bits")
    _check(lang <= 18, "vlt language code out of range")
    _check(bool(flags & 3) == bool(lang), "vlt flags disagree with language code")
    return TermHeader(flags, tc, hb, rl, dl, cap, lang)


@dataclass
class DictEntry:
    term: bytes
    record_offset: int
    head_len: int


def _varint(block: bytes, pos: int) -> tuple[int, int]:
    v = shift = 0
    while True:
        _check(pos < len(block), "vlt entry truncated")
        _check(shift < 64, "vlt varint too long")
        b = block[pos]
        pos += 1
        v |= (b & 0x7F) << shift
        if not b & 0x80:
            _check(b != 0 or shift == 0, "vlt varint not minimal")
            return v, pos
        shift += 7


def _varint_len(v: int) -> int:
    return max(1, (v.bit_length() + 6) // 7)


def iter_block(block: bytes):
    """Yields a dict block's entries in order, checking the front coding."""
    _check(len(block) > 0, "vlt empty dict block")
    pos, prev = 0, None
    while pos < len(block):
        prefix, pos = _varint(block, pos)
        suffix, pos = _varint(block, pos)
        _check(pos + suffix <= len(block), "vlt suffix runs past the block")
        if prev is None:
            _check(prefix == 0, "vlt first entry of a block has a prefix")
            term = block[pos:pos + suffix]
        else:
            _check(prefix <= len(prev.term), "vlt prefix longer than the previous term")
            term = prev.term[:prefix] + block[pos:pos + suffix]
        pos += suffix
        delta, pos = _varint(block, pos)
        head_len, pos = _varint(block, pos)
        if prev is not None:
            shared = 0
            while shared < min(len(prev.term), len(term)) and prev.term[shared] == term[shared]:
                shared += 1
            _check(prefix == shared, "vlt prefix is not the whole shared prefix")
            _check(term > prev.term, "vlt terms not ascending in block")
        entry = DictEntry(term, delta if prev is None else prev.record_offset + delta, head_len)
        yield entry
        prev = entry


@dataclass
class TermIndex:
    header: TermHeader
    blocks: list  # (offset, length, entry count)
    terms: dict   # term bytes -> (head ids, tail ids)


def read_term_index(data: bytes, budget: int = 0) -> TermIndex:
    """Decodes and checks a whole file. ``budget`` is the block budget the
    writer used when it does not fit the header's 32 bits."""
    h = parse_header(data)
    budget = budget or h.block_cap
    _check(budget & 0xFFFFFFFF == h.block_cap, "vlt block_cap field")
    _check(h.postings_start <= len(data), "vlt router and dict run past the file")
    routes = FstMap(data[VLT_HEADER:h.dict_start]).entries()
    postings = data[h.postings_start:]
    blocks, terms = [], {}
    next_block = next_record = 0
    last = None  # (entry, block length) of the previous block's last entry
    for key, value in routes:
        off, length = value >> 24, value & 0xFFFFFF
        _check(off == next_block, "vlt dict blocks not contiguous")
        _check(0 < length and off + length <= h.dict_len, "vlt block out of the dict region")
        next_block += length
        entries = list(iter_block(data[h.dict_start + off:h.dict_start + off + length]))
        _check(entries[-1].term == key, "vlt router key is not the block's last term")
        _check(len(entries) == 1 or length <= budget, "vlt block over budget")
        if last is not None:
            _check(entries[0].term > last[0].term, "vlt terms not ascending across blocks")
            _check_sealing(last[0], entries[0], last[1], budget)
        for e in entries:
            _check(e.record_offset == next_record, "vlt posting records not contiguous")
            _check(e.record_offset + 4 <= len(postings), "vlt record runs past the file")
            (tail_len,) = struct.unpack_from("<I", postings, e.record_offset)
            head_at = e.record_offset + 4
            tail_at = head_at + e.head_len
            _check(tail_at + tail_len <= len(postings), "vlt record runs past the file")
            head = decode_roaring(postings[head_at:tail_at])
            tail = decode_roaring(postings[tail_at:tail_at + tail_len])
            _check(all(i < h.head_boundary for i in head), "vlt head id at or above the boundary")
            _check(all(i >= h.head_boundary for i in tail), "vlt tail id below the boundary")
            terms[e.term] = (head, tail)
            next_record = tail_at + tail_len
        blocks.append((off, length, len(entries)))
        last = (entries[-1], length)
    _check(next_block == h.dict_len, "vlt dict_len is not the sum of the blocks")
    _check(next_record == len(postings), "vlt file does not end at the last record")
    _check(len(terms) == h.term_count, "vlt term_count")
    return TermIndex(h, blocks, terms)


def _check_sealing(last: DictEntry, nxt: DictEntry, block_len: int, budget: int) -> None:
    p = 0
    while p < min(len(last.term), len(nxt.term)) and last.term[p] == nxt.term[p]:
        p += 1
    suffix = len(nxt.term) - p
    size = (_varint_len(p) + _varint_len(suffix) + suffix
            + _varint_len(nxt.record_offset - last.record_offset) + _varint_len(nxt.head_len))
    _check(block_len + size > budget, "vlt block sealed although the next entry fitted")


class RemoteTermIndex:
    """Term lookups through byte-range reads of a file, counted in
    ``fetches``: the header and router once, then per found term the
    block, the record's first 4 + head_len bytes and the tail."""

    def __init__(self, path):
        self._file = open(path, "rb")
        self.fetches = 0
        self.header = parse_header(self._fetch(0, VLT_HEADER))
        self.router = FstMap(self._fetch(VLT_HEADER, self.header.router_len))

    def close(self) -> None:
        self._file.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _fetch(self, offset: int, length: int) -> bytes:
        self._file.seek(offset)
        data = self._file.read(length)
        _check(len(data) == length, f"range {offset}+{length} runs past the file")
        self.fetches += 1
        return data

    def lookup(self, term: bytes | str):
        """(head ids, tail ids) of the term, or None when it is absent."""
        if isinstance(term, str):
            term = term.encode()
        route = self.router.lower_bound(term)
        if route is None:
            return None
        off, length = route[1] >> 24, route[1] & 0xFFFFFF
        _check(off + length <= self.header.dict_len, "vlt router names a range outside the dict")
        for e in iter_block(self._fetch(self.header.dict_start + off, length)):
            if e.term < term:
                continue
            if e.term != term:
                return None
            at = self.header.postings_start + e.record_offset
            first = self._fetch(at, 4 + e.head_len)
            (tail_len,) = struct.unpack_from("<I", first, 0)
            head = decode_roaring(first[4:])
            tail = decode_roaring(self._fetch(at + 4 + e.head_len, tail_len))
            return head, tail
        raise FormatViolation("vlt router key is not in its block")


def _verify(vlt_path: str, expected_path: str, budget: int) -> None:
    expected = {}
    for line in Path(expected_path).read_text().splitlines():
        hex_term, _, ids = line.partition("\t")
        expected[bytes.fromhex(hex_term)] = [int(i) for i in ids.split(",") if i]
    index = read_term_index(Path(vlt_path).read_bytes(), budget)
    got = {t: head + tail for t, (head, tail) in index.terms.items()}
    _check(got == expected, "decoded terms differ from the expected ones")
    with RemoteTermIndex(vlt_path) as remote:
        for term, ids in expected.items():
            before = remote.fetches
            hit = remote.lookup(term)
            _check(hit is not None and hit[0] + hit[1] == ids, f"remote lookup of {term!r}")
            _check(remote.fetches - before == 3, "remote lookup took other than three fetches")
        probe = max(expected, default=b"") + b"\xff"
        _check(remote.lookup(probe) is None, "remote lookup found an absent term")


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: term_reader.py FILE.vlt EXPECTED.tsv [BLOCK_BUDGET]")
    try:
        _verify(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) == 4 else 0)
    except FormatViolation as e:
        sys.exit(f"term_reader: {e}")
    print(f"term_reader: {sys.argv[1]} ok")
