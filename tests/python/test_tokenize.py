"""tokenize end to end, and re-entrant calls into a builder."""

import pytest

import vellum


def test_hello_world_keys():
    assert vellum.tokenize("Hello, World!") == [
        0x68656C, 0x656C6C, 0x6C6C6F, 0x776F72, 0x6F726C, 0x726C64]


@pytest.mark.parametrize("text,gram_size,expected", [
    ("café", 3, [0x636166, 0x02D04A2D96CF1A1B]),
    ("a b", 1, [0x61, 0x62]),
    ("ab", 2, [0x6100000062]),
    ("e-mail", 3, vellum.tokenize("email")),
    ("a\u0301bc", 3, [0x616263]),
    ("aaaa aaa", 3, [0x616161]),
    ("?! ... \t\n", 3, []),
    ("anything", 0, []),
    ("ab", 3, []),
    # Lowercase mappings new in Unicode 16.0.
    ("\u1C89", 1, [0x1C8A]),
    ("\uA7DC", 1, [0x019B]),
    # Only the first code point of a multi-code-point mapping is kept.
    ("\u0130", 1, [0x69]),
    # No final-sigma rule in keys.
    ("ΟΔΟΣ", 1, [0x3BF, 0x3B4, 0x3C3]),
])
def test_keys(text, gram_size, expected):
    assert vellum.tokenize(text, gram_size) == expected


def test_keyword_arguments_and_large_gram_size():
    assert vellum.tokenize(gram_size=2, text="ab") == [0x6100000062]
    # Longer than any word: no keys, and no attempt to allocate for it.
    assert vellum.tokenize("abc", 2**64 - 1) == []


def test_bad_arguments():
    with pytest.raises(TypeError, match="argument 'text'"):
        vellum.tokenize(b"abc")
    with pytest.raises(OverflowError):
        vellum.tokenize("abc", -1)
    with pytest.raises(OverflowError):
        vellum.tokenize("abc", 2**64)
    with pytest.raises(TypeError, match="argument 'gram_size'"):
        vellum.tokenize("abc", 3.0)
    with pytest.raises(UnicodeEncodeError):
        vellum.tokenize("a\ud800b")
    with pytest.raises(TypeError, match=r"tokenize\(\)"):
        vellum.tokenize()
    with pytest.raises(TypeError):
        vellum.tokenize("a", 3, 4)


def test_reentrant_calls_are_refused():
    builder = vellum.Builder()
    seen = []

    class Reenters:
        def __init__(self, call):
            self.call = call

        def __index__(self):
            try:
                self.call()
            except RuntimeError as e:
                seen.append(str(e))
            return 1

    builder.add(Reenters(lambda: builder.add(1, "x", b"")), "t", b"")
    builder.add(Reenters(lambda: builder.build("/nonexistent-never-created")), "t", b"")
    assert seen == ["Already borrowed", "Already mutably borrowed"]
