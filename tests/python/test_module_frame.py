"""The Python surface of Builder, BuildStats and tokenize: registration,
signatures, argument conversion and the exceptions wrong arguments raise.
Key values of tokenize are covered in test_tokenize.py."""

import inspect
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import vellum
from dataset_reader import read_dataset


def staged_count(builder, tmp_path, name="probe"):
    """How many records a builder holds, observed through a build."""
    return builder.build(str(tmp_path / name)).docs


# --------------------------------------------------------------------------
# Registration and introspection


def test_module_attributes():
    assert vellum.__all__[:2] == ["Builder", "BuildStats"]
    assert "tokenize" in vellum.__all__
    assert len(vellum.__all__) == len(set(vellum.__all__))
    for name in vellum.__all__:
        assert hasattr(vellum, name)
    assert vellum.__doc__ in ("", None)
    assert not hasattr(vellum, "__version__")


@pytest.mark.parametrize("obj,signature", [
    (vellum.Builder, "(gram_size=3, head_boundary=65536)"),
    (vellum.Builder().add, "(rank, text, record, facets=None)"),
    (vellum.Builder().add_many, "(rows)"),
    (vellum.Builder().build, "(out_dir)"),
    (vellum.tokenize, "(text, gram_size=3)"),
])
def test_signatures(obj, signature):
    sig = inspect.signature(obj)
    assert str(sig) == signature
    # Every parameter may be given by position or by keyword.
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in sig.parameters.values())


@pytest.mark.parametrize("method,text_signature", [
    (vellum.Builder.add, "($self, rank, text, record, facets=None)"),
    (vellum.Builder.add_many, "($self, rows)"),
    (vellum.Builder.build, "($self, out_dir)"),
])
def test_method_text_signatures(method, text_signature):
    assert method.__text_signature__ == text_signature


def test_docstrings():
    assert vellum.Builder.__doc__.startswith(
        "Accumulates records, then writes a complete vellum dataset.")
    assert vellum.BuildStats.__doc__ == (
        "Summary of a completed build, returned by [`Builder::build`].")
    assert vellum.BuildStats.docs.__doc__ == "Number of records written."
    assert vellum.BuildStats.ngrams.__doc__ == (
        "Number of distinct n-gram keys in the text index.")
    assert vellum.BuildStats.fields.__doc__ == "Number of facet fields written."
    for fn in (vellum.Builder.add, vellum.Builder.add_many, vellum.Builder.build,
               vellum.tokenize):
        # The signature line is consumed by introspection, text remains.
        assert fn.__text_signature__ is not None
        assert fn.__doc__


def test_second_initialisation_fails(tmp_path):
    script = textwrap.dedent("""
        import importlib.util, sys
        import vellum
        path = vellum.__file__
        del sys.modules["vellum"]
        spec = importlib.util.spec_from_file_location("vellum", path)
        try:
            importlib.util.module_from_spec(spec)
        except ImportError as e:
            print("ImportError", e)
        else:
            print("loaded twice")
    """)
    env_path = ":".join(p for p in sys.path if p)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         env={"PYTHONPATH": env_path}, check=True).stdout
    assert out.startswith("ImportError"), out


# --------------------------------------------------------------------------
# BuildStats


def test_build_stats_is_an_immutable_record(tmp_path):
    with pytest.raises(TypeError):
        vellum.BuildStats()
    with pytest.raises(TypeError):
        vellum.BuildStats(docs=1, ngrams=2, fields=3)
    stats = vellum.Builder().build(str(tmp_path))
    assert repr(stats) == "BuildStats(docs=0, ngrams=0, fields=0)"
    for name in ("docs", "ngrams", "fields"):
        assert type(getattr(stats, name)) is int
        with pytest.raises(AttributeError):
            setattr(stats, name, 5)
        with pytest.raises(AttributeError):
            delattr(stats, name)
    assert repr(stats) == "BuildStats(docs=0, ngrams=0, fields=0)"


# --------------------------------------------------------------------------
# Builder construction


def test_constructor_integer_ranges(tmp_path):
    with pytest.raises(OverflowError):
        vellum.Builder(gram_size=-1)
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
        vellum.Builder(gram_size=70000)
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
        vellum.Builder(head_boundary=2**40)
    with pytest.raises(OverflowError):
        vellum.Builder(head_boundary=-65536)
    with pytest.raises(ValueError, match="^head_boundary must be a multiple of 65536, got 100000$"):
        vellum.Builder(head_boundary=100000)
    with pytest.raises(ValueError, match="^head_boundary must be a multiple of 65536, got 1$"):
        vellum.Builder(0, 1)
    with pytest.raises(TypeError, match="argument 'gram_size'"):
        vellum.Builder(gram_size=3.0)
    with pytest.raises(TypeError, match="argument 'head_boundary'"):
        vellum.Builder(head_boundary="65536")
    # Range ends and index-protocol objects are accepted.
    vellum.Builder(gram_size=65535, head_boundary=2**32 - 65536)
    vellum.Builder(np.uint16(2), np.int64(131072))


def test_constructor_binding_errors():
    with pytest.raises(TypeError, match="colour"):
        vellum.Builder(colour=1)
    with pytest.raises(TypeError):
        vellum.Builder(3, 65536, 1)
    with pytest.raises(TypeError, match="gram_size"):
        vellum.Builder(3, gram_size=3)


# --------------------------------------------------------------------------
# Builder.add


def test_add_binding_errors():
    b = vellum.Builder()
    cases = [
        (lambda: b.add(1), "text"),
        (lambda: b.add(1, "t", b"", None, 5), None),
        (lambda: b.add(1, "t", b"", colour=1), "colour"),
        (lambda: b.add(1, "t", b"", rank=2), "rank"),
        (lambda: b.add(text="t", record=b""), "rank"),
    ]
    for call, name in cases:
        with pytest.raises(TypeError) as info:
            call()
        assert "Builder.add()" in str(info.value)
        if name:
            assert name in str(info.value)


def test_add_conversion_errors(tmp_path):
    b = vellum.Builder()
    with pytest.raises(TypeError, match=r"^argument 'record': Can't extract `str` to `Vec`$"):
        b.add(1, "t", "record")
    with pytest.raises(OverflowError):
        b.add(1, "t", [300])
    with pytest.raises(OverflowError):
        b.add(1, "t", [-1])
    with pytest.raises(TypeError, match="^argument 'record'"):
        b.add(1, "t", 5)
    with pytest.raises(TypeError, match="^argument 'record'"):
        b.add(1, "t", ["a"])
    with pytest.raises(TypeError, match="^argument 'text'"):
        b.add(1, b"text", b"")
    with pytest.raises(TypeError, match="^argument 'text'"):
        b.add(1, None, b"")
    with pytest.raises(UnicodeEncodeError):
        b.add(1, "lone \ud800 surrogate", b"")
    with pytest.raises(TypeError, match="^argument 'rank'"):
        b.add(1.5, "t", b"")
    with pytest.raises(TypeError, match="^argument 'rank'"):
        b.add("1", "t", b"")
    with pytest.raises(OverflowError):
        b.add(2**63, "t", b"")
    with pytest.raises(OverflowError):
        b.add(-(2**63) - 1, "t", b"")
    # Conversion runs in parameter order: a bad rank wins over a bad record.
    with pytest.raises(TypeError, match="^argument 'rank'"):
        b.add(1.5, "t", "record")
    assert staged_count(b, tmp_path) == 0


def test_add_facets_conversion_errors(tmp_path):
    b = vellum.Builder()
    bad = [
        ([("f", ["c"])], TypeError, "^argument 'facets'"),
        ({1: ["c"]}, TypeError, "^argument 'facets'"),
        ({"f": "c"}, TypeError, r"^argument 'facets': Can't extract `str` to `Vec`$"),
        ({"f": [1]}, TypeError, "^argument 'facets'"),
        ({"f": [b"c"]}, TypeError, "^argument 'facets'"),
        ({"f": None}, TypeError, "^argument 'facets'"),
        ({"f": ["\udc80"]}, UnicodeEncodeError, None),
        ({"\udc80": ["c"]}, UnicodeEncodeError, None),
    ]
    for facets, exc, match in bad:
        with pytest.raises(exc, match=match):
            b.add(1, "t", b"", facets)
    assert staged_count(b, tmp_path) == 0


def test_add_accepted_argument_forms(tmp_path):
    class Index:
        def __index__(self):
            return -7

    rows = [
        (np.int64(3), "numpy rank", bytearray(b"ba"), {"f": ("a", "b")}),
        (Index(), "index protocol", [0, 255], None),
        (True, "bool is an int", (1, 2), {}),
        (2**63 - 1, "max", b"", {"f": []}),
        (-(2**63), "min", memoryview(b"mv").tobytes(), None),
    ]
    b = vellum.Builder()
    for rank, text, record, facets in rows:
        b.add(rank=rank, text=text, record=record, facets=facets)
    ds_dir = tmp_path / "ds"
    b.build(str(ds_dir))
    ds = read_dataset(ds_dir)
    assert ds.records == [b"", b"ba", b"\x01\x02", b"\x00\xff", b"mv"]
    cats = {c.name: c.head for c in ds.facets.fields[0].categories}
    assert cats == {"a": [1], "b": [1]}


# --------------------------------------------------------------------------
# Builder.add_many


def test_add_many_rejects_whole_batch(tmp_path):
    b = vellum.Builder()
    good = (1, "good", b"g", None)
    with pytest.raises(ValueError) as info:
        b.add_many([(1, "t", b"")])
    assert "4" in str(info.value) and "3" in str(info.value)
    with pytest.raises(ValueError):
        b.add_many([good, (1, "t", b"", None, 5)])
    with pytest.raises(TypeError):
        b.add_many([good, [1, "t", b"", None]])
    with pytest.raises(TypeError, match="^argument 'rows': Can't extract `str` to `Vec`$"):
        b.add_many("rows")
    with pytest.raises(TypeError, match="^argument 'rows'"):
        b.add_many(5)
    with pytest.raises(TypeError, match="^argument 'rows'"):
        b.add_many(row for row in [good])
    with pytest.raises(TypeError):
        b.add_many([good, (1, "t", "str record", None)])
    with pytest.raises(OverflowError):
        b.add_many([good, (1, "t", [256], None)])
    with pytest.raises(UnicodeEncodeError):
        b.add_many([good, (1, "\ud800", b"", None)])
    with pytest.raises(TypeError):
        b.add_many([good, (1, "t", b"", {"f": "c"})])
    with pytest.raises(TypeError, match=r"Builder\.add_many\(\)"):
        b.add_many()
    # Nothing from the failed calls was staged.
    assert staged_count(b, tmp_path) == 0
    b.add_many(rows=[good])
    assert staged_count(b, tmp_path, "after") == 1


# --------------------------------------------------------------------------
# Builder.build


def test_build_argument_errors(tmp_path):
    b = vellum.Builder()
    with pytest.raises(TypeError, match="^argument 'out_dir'"):
        b.build(tmp_path)  # a Path is not a str
    with pytest.raises(TypeError, match="^argument 'out_dir'"):
        b.build(b"/tmp/x")
    with pytest.raises(TypeError, match=r"Builder\.build\(\)"):
        b.build()
    with pytest.raises(UnicodeEncodeError):
        b.build(str(tmp_path / "\ud800"))
    assert b.build(out_dir=str(tmp_path / "kw")).docs == 0


# --------------------------------------------------------------------------
# tokenize surface


def test_tokenize_surface():
    assert vellum.tokenize(text="ab", gram_size=np.uint8(2)) == [0x6100000062]
    keys = vellum.tokenize("Hello, World!")
    assert type(keys) is list and all(type(k) is int for k in keys)
    with pytest.raises(TypeError, match="^argument 'text'"):
        vellum.tokenize(None)
    with pytest.raises(TypeError, match="colour"):
        vellum.tokenize("a", colour=1)


FINAL_ORDER = ["Builder", "BuildStats", "VectorBuilder", "VectorBuildStats", "tokenize",
               "write_vlvi_from_faiss", "write_term_index", "TermBuilder", "SplitSetBuilder",
               "TermSplitSetBuilder", "SplitSetBuildStats", "SplitSetWriter"]


def test_registration_order_is_the_final_order():
    # Classes still to come are missing, but what is there is in its place.
    assert vellum.__all__ == [n for n in FINAL_ORDER if n in vellum.__all__]
    assert {"Builder", "BuildStats", "VectorBuildStats", "tokenize",
            "SplitSetBuildStats"} <= set(vellum.__all__)
    assert set(vellum.__all__) <= set(FINAL_ORDER)


@pytest.mark.parametrize("cls,doc,fields", [
    (vellum.VectorBuildStats,
     "Summary of a completed vector-index build, returned by [`VectorBuilder::build`].",
     ["vectors", "dim", "nlist", "m", "nbits"]),
    (vellum.SplitSetBuildStats,
     "Summary of a completed split-set build, returned by [`SplitSetBuilder::build`].",
     ["splits", "docs", "total_bytes"]),
])
def test_other_statistics_classes(cls, doc, fields):
    assert cls.__doc__ == doc
    assert cls.__module__ == "vellum"
    for name in fields:
        assert getattr(cls, name).__doc__
    with pytest.raises(TypeError):
        cls()
