"""The term reader against the reference FST images, which were built by
another implementation of the map format: its FST half is checked without
any vellum code. Its VLTI half is exercised by the C++ suite
(TermReaderPythonTest), which writes files for it to verify."""

import bisect
import random
from pathlib import Path

import pytest

from term_reader import FormatViolation, FstMap

REPO = Path(__file__).resolve().parents[2]
CANDIDATES = [REPO.parent / "shared/testdata/fst", REPO.parent.parent / "shared/testdata/fst"]
VECTORS = next((p for p in CANDIDATES if p.is_dir()), None)
NAMES = sorted(p.stem for p in VECTORS.glob("*.keys")) if VECTORS else []
# Pure-Python walking is slow; the largest images are left to the C++ reader.
SMALL = [n for n in NAMES if (VECTORS / f"{n}.fst").stat().st_size < 100_000]


def load(name):
    entries = []
    for line in (VECTORS / f"{name}.keys").read_text().splitlines():
        key, value = line.split("\t")
        entries.append((bytes.fromhex(key), int(value)))
    return entries, (VECTORS / f"{name}.fst").read_bytes()


@pytest.mark.skipif(not SMALL, reason="no FST vectors beside the checkout")
@pytest.mark.parametrize("name", SMALL)
def test_reference_images_read_back_exactly(name):
    entries, image = load(name)
    fst = FstMap(image)
    assert fst.entries() == entries
    keys = [k for k, _ in entries]
    rng = random.Random(name)
    for key, value in rng.sample(entries, min(len(entries), 200)):
        assert fst.get(key) == value
        for probe in (key, key[:-1], key + bytes([rng.randrange(256)])):
            i = bisect.bisect_left(keys, probe)
            assert fst.lower_bound(probe) == (entries[i] if i < len(entries) else None)


@pytest.mark.skipif(not SMALL, reason="no FST vectors beside the checkout")
def test_corrupted_images_are_refused():
    _, image = load("words_10")
    for pos in (0, 8, 20, len(image) - 12, len(image) - 1):
        bad = bytearray(image)
        bad[pos] ^= 0x01
        with pytest.raises(FormatViolation):
            FstMap(bytes(bad)).entries()
    with pytest.raises(FormatViolation):
        FstMap(image[:-1])
