"""TermBuilder and write_term_index, checked through the independent term
index reader: every term of random corpora is looked up the way a remote
reader does (header, router, one dict block, head, tail) and must carry
exactly its document ids; the whole file is also decoded strictly, so no
term may be missing or extra.

Expected terms come from a model of the analysis over word pools whose
words are made only of letters and digits and whose separators hold none,
folded one character at a time, with the stop words of each pool listed
here and stems from the Snowball library itself (through ctypes).
"""

import ctypes
import ctypes.util
import inspect
import random
from pathlib import Path

import pytest

import vellum
from term_reader import RemoteTermIndex, read_term_index

# ---- the model of the analysis ----

POOLS = {  # language: (words, the pool's words that are stop words once folded)
    "english": ("The the and of a Cats cat running RUNS house houses quickly naïve ÉCOLE 42 x1 "
                "İstanbul with is", {"the", "and", "of", "a", "with", "is"}),
    "french": ("Le le et de la maison MAISONS chat chats mangeait mangé été très",
               {"le", "et", "de", "la", "été"}),
    "german": ("Der der und die das Haus Häuser Katze katzen laufen Straße über",
               {"der", "und", "die", "das", "über"}),
    "russian": ("И и в не Дом дома кот коты бежать бегу", {"и", "в", "не"}),
    "greek": ("ΚΑΙ και το του σπίτι σπίτια γάτα ειτε ΟΥΜΕ δρόμος", {"και", "το", "του"}),
    "turkish": ("ve bir bu ev evler Kedi kediler ıslak İstanbul", {"ve", "bu"}),
}
SEPARATORS = [" ", ", ", ". ", "\n", " — ", "«", "»", "'", "-", "  ", "!?"]


class _Snowball:
    def __init__(self):
        name = ctypes.util.find_library("stemmer")
        if name is None:
            pytest.skip("libstemmer not found")
        lib = ctypes.CDLL(name)
        lib.sb_stemmer_new.restype = ctypes.c_void_p
        lib.sb_stemmer_new.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        lib.sb_stemmer_stem.restype = ctypes.c_void_p
        lib.sb_stemmer_stem.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.sb_stemmer_length.restype = ctypes.c_int
        lib.sb_stemmer_length.argtypes = [ctypes.c_void_p]
        self.lib, self.stemmers = lib, {}

    def stem(self, language, word):
        s = self.stemmers.get(language)
        if s is None:
            s = self.stemmers[language] = self.lib.sb_stemmer_new(language.encode(), b"UTF_8")
        b = word.encode()
        p = self.lib.sb_stemmer_stem(s, b, len(b))
        return ctypes.string_at(p, self.lib.sb_stemmer_length(s)).decode()


@pytest.fixture(scope="module")
def snowball():
    return _Snowball()


def model_terms(words, language, stem, stopwords, case_sensitive, snowball):
    out = []
    stops = POOLS[language][1] if language else set()
    for w in words:
        run = w if case_sensitive else "".join(c.lower() for c in w)
        if stopwords and run in stops:
            continue
        out.append(snowball.stem(language, run) if stem else run)
    return out


def random_corpus(rng, language, n_docs, max_id):
    pool = POOLS[language or "english"][0].split()
    docs = []
    for _ in range(n_docs):
        words = [rng.choice(pool) for _ in range(rng.randrange(0, 9))]
        text = rng.choice(["", " "])
        for w in words:
            text += w + rng.choice(SEPARATORS)
        docs.append((rng.randrange(max_id), text, words))
    return docs


def expected_postings(docs, language, stem, stopwords, case_sensitive, snowball):
    exp = {}
    for doc_id, _, words in docs:
        for t in model_terms(words, language, stem, stopwords, case_sensitive, snowball):
            exp.setdefault(t.encode(), set()).add(doc_id)
    return exp


def check_file(path, expected, head_boundary, block_cap=4096, lookups=None):
    """Every expected term has exactly its ids, and no other term is there;
    `lookups` terms (all when None) are also found by range reads."""
    data = Path(path).read_bytes()
    whole = read_term_index(data, block_cap)
    assert set(whole.terms) == set(expected)
    assert whole.header.head_boundary == head_boundary
    with RemoteTermIndex(path) as reader:
        for term, ids in list(expected.items())[:lookups]:
            found = reader.lookup(term)
            assert found is not None, term
            head, tail = found
            assert head == sorted(i for i in ids if i < head_boundary), term
            assert tail == sorted(i for i in ids if i >= head_boundary), term
        for absent in (b"\x00", b"zzzzzz", b"\xff"):
            if absent not in expected:
                assert reader.lookup(absent) is None
    return whole


def build(path, docs, batch=500, **kwargs):
    b = vellum.TermBuilder(**kwargs)
    for i in range(0, len(docs), batch):
        b.add_many([(d, t) for d, t, _ in docs[i:i + batch]])
    count = b.term_count()
    b.finish(str(path))
    return count


# ---- random corpora through the reader ----

SETTINGS = [  # language, stem, stopwords, case_sensitive
    (None, None, False, False),
    (None, None, False, True),
    ("english", None, True, False),
    ("en", False, True, True),
    ("french", None, False, False),
    ("de", True, True, False),
    ("russian", None, True, False),
    ("greek", None, False, False),  # some words stem to the empty term
    ("tr", True, False, True),
]


@pytest.mark.parametrize("language,stem,stopwords,case_sensitive", SETTINGS)
def test_every_term_is_found_with_exactly_its_ids(tmp_path, snowball, language, stem,
                                                  stopwords, case_sensitive):
    rng = random.Random(f"{language}{stem}{stopwords}{case_sensitive}")
    name = language and vellum_name(language)
    docs = random_corpus(rng, name, 1500, 150000)
    applied_stem = stem if stem is not None else language is not None
    exp = expected_postings(docs, name, applied_stem, stopwords, case_sensitive, snowball)
    path = tmp_path / "t.vlt"
    count = build(path, docs, language=language, stem=stem, stopwords=stopwords,
                  case_sensitive=case_sensitive)
    assert count == len(exp)
    h = check_file(path, exp, 65536).header
    assert h.flags == (applied_stem | stopwords << 1 | case_sensitive << 2)


def vellum_name(language):
    return {"en": "english", "de": "german", "tr": "turkish"}.get(language, language)


@pytest.mark.parametrize("block_cap", [1, 4096, 1 << 20])
@pytest.mark.parametrize("head_boundary", [0, 65536])
def test_block_caps_and_head_boundaries(tmp_path, snowball, block_cap, head_boundary):
    rng = random.Random(block_cap * 3 + head_boundary)
    docs = random_corpus(rng, "english", 1200, 200000)
    # Numbered words give a vocabulary large enough for many blocks.
    docs += [(rng.randrange(200000), f"w{rng.randrange(3000)} v{i % 97}", None)
             for i in range(1500)]
    exp = expected_postings(docs[:1200], "english", True, False, False, snowball)
    for d, text, _ in docs[1200:]:
        for t in text.split():
            exp.setdefault(snowball.stem("english", t).encode(), set()).add(d)
    path = tmp_path / "t.vlt"
    build(path, docs, language="en", head_boundary=head_boundary, block_cap=block_cap)
    # Range lookups decode their whole block: sample them in megabyte blocks.
    whole = check_file(path, exp, head_boundary, block_cap, 300 if block_cap > 4096 else None)
    assert whole.header.block_cap == block_cap
    if block_cap == 1:
        assert all(n == 1 for _, _, n in whole.blocks)
    if block_cap == 1 << 20:
        assert len(whole.blocks) == 1
    if head_boundary == 0:
        assert all(head == [] for head, _ in whole.terms.values())


def test_more_than_65536_documents(tmp_path):
    rng = random.Random(65537)
    n = 140000
    exp = {}
    docs = []
    for d in range(n):
        words = ["every", f"r{rng.randrange(20000)}"]
        if d % 3 == 0:
            words.append("third")
        if rng.random() < 0.001:
            words.append("rare")
        docs.append((d, " ".join(words)))
        for w in words:
            exp.setdefault(w.encode(), set()).add(d)
    rng.shuffle(docs)  # ids need not arrive in order
    b = vellum.TermBuilder(head_boundary=65536)
    for i in range(0, n, 20000):
        b.add_many(docs[i:i + 20000])
    assert b.term_count() == len(exp)
    b.finish(str(tmp_path / "big.vlt"))
    with RemoteTermIndex(tmp_path / "big.vlt") as reader:
        for term in (b"every", b"third", b"rare", b"r0", b"r19999"):
            head, tail = reader.lookup(term)
            assert head + tail == sorted(exp[term]), term
            assert head == [i for i in sorted(exp[term]) if i < 65536]
    whole = read_term_index((tmp_path / "big.vlt").read_bytes())
    assert len(whole.terms) == len(exp)
    for term, (head, tail) in whole.terms.items():
        assert head + tail == sorted(exp[term])


# ---- edge cases ----

def test_red_apple_red_car(tmp_path):
    b = vellum.TermBuilder()
    b.add_many([(5, "Red apple"), (2, "red car")])
    b.add_many([(5, "Red apple")])  # the same document again changes nothing
    assert b.term_count() == 3
    b.finish(str(tmp_path / "t.vlt"))
    whole = read_term_index((tmp_path / "t.vlt").read_bytes())
    assert whole.terms == {b"apple": ([5], []), b"car": ([2], []), b"red": ([2, 5], [])}


def test_empty_builder_and_exact_path(tmp_path):
    b = vellum.TermBuilder()
    path = tmp_path / "new" / "dirs" / "index"
    b.finish(str(path))
    assert [p.name for p in path.parent.iterdir()] == ["index"]
    whole = read_term_index(path.read_bytes())
    assert whole.header.term_count == 0 and whole.header.dict_len == 0
    assert whole.header.head_boundary == 65536 and whole.header.block_cap == 4096


def test_finished_builder(tmp_path):
    b = vellum.TermBuilder()
    b.add_many([(1, "one")])
    path = tmp_path / "t.vlt"
    b.finish(str(path))
    before = path.read_bytes()
    assert b.term_count() == 0
    with pytest.raises(ValueError, match="^TermBuilder already finished$"):
        b.finish(str(path))
    with pytest.raises(ValueError, match="^TermBuilder already finished$"):
        b.add_many([(2, "two")])
    assert path.read_bytes() == before


def test_bad_path_conversion_leaves_builder_usable(tmp_path):
    b = vellum.TermBuilder()
    b.add_many([(1, "one")])
    with pytest.raises(TypeError, match="argument 'path'"):
        b.finish(b"t.vlt")
    b.finish(str(tmp_path / "t.vlt"))


def test_failed_write_keeps_postings_for_a_retry(tmp_path):
    docs = [(9, "alpha beta"), (70001, "beta gamma"), (3, "Delta")]
    ref = vellum.TermBuilder(language="en", stopwords=True)
    ref.add_many(docs)
    ref.finish(str(tmp_path / "ref.vlt"))

    (tmp_path / "plain").write_text("a file, not a directory")
    b = vellum.TermBuilder(language="en", stopwords=True)
    b.add_many(docs)
    for bad in (tmp_path / "plain" / "sub" / "t.vlt", tmp_path, Path("/dev/full")):
        with pytest.raises(OSError, match=r"\(os error \d+\)$"):
            b.finish(str(bad))
        assert b.term_count() == 4
    b.finish(str(tmp_path / "retry.vlt"))
    assert (tmp_path / "retry.vlt").read_bytes() == (tmp_path / "ref.vlt").read_bytes()
    with pytest.raises(ValueError, match="already finished"):
        b.finish(str(tmp_path / "again.vlt"))


def test_add_many_conversion_is_all_or_nothing():
    b = vellum.TermBuilder()
    b.add_many([(1, "kept")])
    with pytest.raises(ValueError, match="expected tuple of length 2, but got tuple of length 3"):
        b.add_many([(2, "new"), (3, "x", "y")])
    with pytest.raises(TypeError, match="^argument 'docs': "):
        b.add_many([(2, "new"), (3, b"bytes")])
    with pytest.raises(TypeError, match="^argument 'docs': "):
        b.add_many([(2, "new"), [3, "list"]])
    with pytest.raises(OverflowError):
        b.add_many([(2, "new"), (2**32, "big")])
    with pytest.raises(OverflowError):
        b.add_many([(2, "new"), (-1, "negative")])
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
        b.add_many("text")
    with pytest.raises(UnicodeEncodeError):
        b.add_many([(2, "new"), (3, "\ud800")])
    assert b.term_count() == 1
    b.add_many(((2, "new"), (2**32 - 1, "top")))  # tuples are sequences too
    assert b.term_count() == 3


def test_construction():
    with pytest.raises(ValueError, match=r"^stemming and stop-word removal require a language "
                       r"\(pass language=\.\.\.\)$"):
        vellum.TermBuilder(stopwords=True)
    with pytest.raises(ValueError, match="require a language"):
        vellum.TermBuilder(stem=True)
    with pytest.raises(ValueError) as e:
        vellum.TermBuilder(language="xx")
    assert str(e.value) == ('unknown stemmer language "xx"; use a Snowball name or ISO-639-1 '
                            'code (e.g. "english"/"en", "french"/"fr")')
    with pytest.raises(TypeError, match="argument 'stem'"):
        vellum.TermBuilder(language="en", stem=1)
    with pytest.raises(OverflowError):
        vellum.TermBuilder(head_boundary=2**32)
    with pytest.raises(OverflowError):
        vellum.TermBuilder(block_cap=-1)
    vellum.TermBuilder(head_boundary=100000)  # no multiple-of-65536 check here
    with pytest.raises(TypeError):
        vellum.TermBuilder(gram_size=3)


@pytest.mark.parametrize("kwargs,flags,code", [
    (dict(language="english", stopwords=True), 3, 1),
    (dict(case_sensitive=True), 4, 0),
    (dict(language="fr", stem=False), 0, 0),
    (dict(language="fr"), 1, 7),
    (dict(language=" TR ", stem=False, stopwords=True), 2, 18),
])
def test_header_flags_and_language_code(tmp_path, kwargs, flags, code):
    b = vellum.TermBuilder(**kwargs)
    b.add_many([(1, "word")])
    b.finish(str(tmp_path / "t.vlt"))
    h = read_term_index((tmp_path / "t.vlt").read_bytes()).header
    assert (h.flags, h.language_code) == (flags, code)


def test_block_cap_zero_and_large(tmp_path):
    for cap, recorded in ((0, 4096), (None, 4096), (2**32, 0), (2**32 + 5, 5)):
        b = vellum.TermBuilder(block_cap=cap)
        b.add_many([(i, f"t{i}") for i in range(300)])
        b.finish(str(tmp_path / "t.vlt"))
        data = (tmp_path / "t.vlt").read_bytes()
        budget = cap if cap else 4096
        whole = read_term_index(data, budget)
        assert whole.header.block_cap == recorded
        assert len(whole.terms) == 300


def test_empty_stem_is_the_empty_term(tmp_path):
    b = vellum.TermBuilder(language="el", block_cap=1)
    b.add_many([(1, "ειτε δρόμος"), (4, "ΟΥΜΕ")])
    b.finish(str(tmp_path / "t.vlt"))
    with RemoteTermIndex(tmp_path / "t.vlt") as reader:
        assert reader.lookup(b"") == ([1, 4], [])
    whole = read_term_index((tmp_path / "t.vlt").read_bytes(), 1)
    assert list(whole.terms)[0] == b""


def test_write_term_index(tmp_path):
    path = tmp_path / "made" / "t.vlt"
    assert vellum.write_term_index(str(path), [(7, "The Cats"), (70000, "cats")]) is None
    whole = read_term_index(path.read_bytes())
    assert whole.terms == {b"the": ([7], []), b"cats": ([7], [70000])}
    h = whole.header
    assert (h.flags, h.language_code, h.head_boundary, h.block_cap) == (0, 0, 65536, 4096)
    vellum.write_term_index(str(path), [(7, "x")], head_boundary=0)
    assert read_term_index(path.read_bytes()).terms == {b"x": ([], [7])}
    vellum.write_term_index(path=str(path), docs=[], head_boundary=None)
    assert read_term_index(path.read_bytes()).header.term_count == 0
    with pytest.raises(OSError):
        vellum.write_term_index("/dev/full", [(1, "x")])
    with pytest.raises(ValueError, match="expected tuple of length 2"):
        vellum.write_term_index(str(path), [(1,)])


def test_signatures_and_docs():
    assert str(inspect.signature(vellum.TermBuilder)) == (
        "(head_boundary=None, language=None, stem=None, stopwords=False, block_cap=None, "
        "case_sensitive=False)")
    assert vellum.TermBuilder.__doc__.startswith(
        "A streaming `VLTI` term-index builder for corpora too large to hold in memory.")
    assert str(inspect.signature(vellum.TermBuilder.add_many)) == "(self, /, docs)"
    assert str(inspect.signature(vellum.TermBuilder.finish)) == "(self, /, path)"
    assert str(inspect.signature(vellum.TermBuilder.term_count)) == "(self, /)"
    assert vellum.TermBuilder.term_count.__doc__ == "Distinct terms accumulated so far."
    assert vellum.TermBuilder.finish.__doc__ == (
        "Writes the accumulated index to `path`, consuming the builder.")
    assert vellum.TermBuilder.add_many.__doc__ == (
        "Adds a batch of `(doc_id, text)` documents; the text is tokenized and discarded.")
    assert str(inspect.signature(vellum.write_term_index)) == "(path, docs, head_boundary=None)"
    assert vellum.write_term_index.__doc__.startswith("Builds an `VLTI` term-level inverted index")
    names = vellum.__all__
    assert names.index("tokenize") < names.index("write_term_index") < names.index("TermBuilder")
