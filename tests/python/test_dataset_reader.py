"""The reader used by the dataset tests must refuse malformed bytes, or those
tests would pass on broken files. Inputs here are assembled by hand."""

import struct

import pytest

from dataset_reader import FormatViolation, decode_roaring, read_records, read_text_index


def roaring(containers):
    """No-run serialization of [(key, 'array'|'bitmap', values)]."""
    head = struct.pack("<II", 12346, len(containers))
    bodies = []
    for key, kind, values in containers:
        head += struct.pack("<HH", key, len(values) - 1)
        if kind == "array":
            bodies.append(struct.pack(f"<{len(values)}H", *values))
        else:
            words = [0] * 1024
            for v in values:
                words[v >> 6] |= 1 << (v & 63)
            bodies.append(struct.pack("<1024Q", *words))
    offset = len(head) + 4 * len(containers)
    for body in bodies:
        head += struct.pack("<I", offset)
        offset += len(body)
    return head + b"".join(bodies)


def test_roaring_round_trip():
    assert decode_roaring(struct.pack("<II", 12346, 0)) == []
    ids = [1, 5, 65536 + 7] + [2 * 65536 + v for v in range(0, 10000, 2)]
    data = roaring([(0, "array", [1, 5]), (1, "array", [7]),
                    (2, "bitmap", list(range(0, 10000, 2)))])
    assert decode_roaring(data) == ids


@pytest.mark.parametrize("mutate", [
    # the run form: cookie 12347 with the container count in the high half
    lambda d: struct.pack("<I", 12347 | (0 << 16)) + d[4:],
    lambda d: d[:-1],                                        # truncated
    lambda d: d + b"\x00",                                   # trailing byte
    lambda d: d[:12] + struct.pack("<I", 15) + d[16:],       # wrong offset
    lambda d: d[:8] + struct.pack("<HH", 0, 2) + d[12:],     # wrong cardinality
])
def test_roaring_rejects(mutate):
    good = roaring([(0, "array", [1, 2])])
    decode_roaring(good)
    with pytest.raises(FormatViolation):
        decode_roaring(mutate(good))


def test_roaring_rejects_unordered():
    with pytest.raises(FormatViolation):
        decode_roaring(roaring([(0, "array", [2, 1])]))
    with pytest.raises(FormatViolation):
        decode_roaring(roaring([(1, "array", [1]), (0, "array", [1])]))
    # A bitmap container whose bits disagree with its cardinality.
    bad = bytearray(roaring([(0, "bitmap", list(range(5000)))]))
    bad[-1] = 0x80
    with pytest.raises(FormatViolation):
        decode_roaring(bytes(bad))


def vls(entries, stride=512, gap=0, tail=b""):
    n = len(entries)
    blocks = -(-n // stride)
    out = b"VLSI" + struct.pack("<HHII", 3, 3, n, stride)
    out += b"".join(struct.pack("<Q", entries[b * stride][0]) for b in range(blocks))
    offset = 16 + 8 * blocks + 20 * n
    for key, body in entries:
        out += struct.pack("<QQI", key, offset, len(body))
        offset += len(body) + gap
    return out + (b"\x00" * gap).join(body for _, body in entries) + tail


def test_text_index_validation():
    one, two = roaring([(0, "array", [0])]), roaring([(0, "array", [0, 3])])
    index = read_text_index(vls([(1, one), (2, two), (3, one)], stride=2))
    assert index.postings == {1: [0], 2: [0, 3], 3: [0]}
    for bad in (vls([(1, one), (2, two)], gap=1),
                vls([(1, one)], tail=b"\x00"),
                vls([(2, one), (1, one)]),
                vls([(1, one), (1, one)])):
        with pytest.raises(FormatViolation):
            read_text_index(bad)


def test_records_validation():
    idx = b"VLSR" + struct.pack("<HHII", 1, 0, 2, 0) + struct.pack("<3Q", 0, 3, 5)
    assert read_records(b"abcde", idx) == [b"abc", b"de"]
    with pytest.raises(FormatViolation):
        read_records(b"abcdef", idx)
    with pytest.raises(FormatViolation):
        read_records(b"abcde", idx[:-8])
