"""Small files of every kind the builders write, for the reader tests:
each fixture returns the path to hand to the readers and the texts (or
vectors) it was built from."""

from __future__ import annotations

import random
from pathlib import Path

import vellum

WORDS = ["alpha", "beta", "gamma", "delta", "Epsilon", "zeta", "eta", "theta", "kappa", "mu",
         "café", "naïve", "Straße", "x"]
LANGS = ["en", "de", "fr"]


def random_text(rng: random.Random) -> str:
    return " ".join(rng.choice(WORDS) for _ in range(rng.randrange(6)))


def dataset(tmp: Path, seed: int, n: int = 30):
    rng = random.Random(seed)
    b = vellum.Builder()
    rows = []
    for i in range(n):
        text, lang = random_text(rng), rng.choice(LANGS)
        rows.append((rng.randrange(10), text, f"r{i}".encode(), lang))
        b.add(rows[-1][0], text, rows[-1][2], {"lang": [lang]})
    b.build(str(tmp / "ds"))
    return tmp / "ds"


def ngram_split_set(tmp: Path, seed: int, n: int = 60, cap: int = 700):
    rng = random.Random(seed)
    b = vellum.SplitSetBuilder(byte_cap=cap, name_prefix="p")
    texts = []
    for _ in range(n):
        texts.append(random_text(rng))
        if rng.random() < 0.7:
            b.add_faceted(texts[-1], {"lang": [rng.choice(LANGS)]})
        else:
            b.add(texts[-1])
    b.build(str(tmp / "ss"))
    return tmp / "ss", texts


def term_split_set(tmp: Path, seed: int, n: int = 60, cap: int = 700):
    rng = random.Random(seed)
    b = vellum.TermSplitSetBuilder(byte_cap=cap, name_prefix="t")
    texts = [random_text(rng) for _ in range(n)]
    for t in texts:
        b.add(t)
    b.build(str(tmp / "ts"))
    return tmp / "ts", texts


def term_file(tmp: Path, seed: int, n: int = 40, **options):
    rng = random.Random(seed)
    b = vellum.TermBuilder(**options)
    docs = [(i * 3, random_text(rng)) for i in range(n)]
    b.add_many(docs)
    b.finish(str(tmp / "t.vlt"))
    return tmp / "t.vlt", docs


def vector_file(tmp: Path, seed: int, n: int = 64):
    rng = random.Random(seed)
    b = vellum.VectorBuilder(dim=8, nlist=4, m=2, nbits=4, seed=seed)
    for i in range(n):
        b.add(i, [rng.uniform(-1, 1) for _ in range(8)])
    b.build(str(tmp / "v.vlvi"))
    return tmp / "v.vlvi"


def written_split_set(tmp: Path, seed: int, compact: bool):
    """A store of SplitSetWriter flushes (with deletions), optionally
    compacted, laid out as a split-set directory."""
    rng = random.Random(seed)
    w = vellum.SplitSetWriter(byte_cap=4000, name_prefix="w")
    out = tmp / ("wc" if compact else "wf")
    out.mkdir()
    files, live = {}, {}
    manifest = None
    for _ in range(3):
        for _ in range(20):
            text = random_text(rng)
            live[w.add(text)] = text
        for victim in rng.sample(sorted(live), 3):
            w.delete(victim)
            del live[victim]
        name, body, manifest = w.flush()
        files[name] = body
    if compact:
        name, body, manifest, removed = w.compact(sorted(files.items()))
        files[name] = body
        for r in removed:
            files.pop(r, None)
    for name, body in files.items():
        (out / name).write_bytes(body)
    (out / "index.vlss").write_bytes(manifest)
    return out, live
