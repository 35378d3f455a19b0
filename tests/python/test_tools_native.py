"""vellum_tools._native: a module of its own, built with the same binding
layer, that leaves the public module's attributes alone."""

import subprocess

import pytest

from vellum_cli import PYTHON, env


def test_native_module_is_separate_from_vellum():
    code = ("import vellum; before = list(vellum.__all__); d = set(dir(vellum));"
            "import vellum_tools._native as n;"
            "assert list(vellum.__all__) == before and set(dir(vellum)) == d;"
            "assert n.limited_api() == 0x030B0000;"
            "assert n.limited_api.__text_signature__ == '()';"
            "print(n.__name__)")
    result = subprocess.run([PYTHON, "-c", code], capture_output=True, text=True, env=env())
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "vellum_tools._native"


def test_native_functions_bind_arguments_like_the_module():
    native = pytest.importorskip("vellum_tools._native")
    with pytest.raises(TypeError, match=r"limited_api\(\) takes"):
        native.limited_api(1)


needs_builder = pytest.mark.skipif(not hasattr(__import__("vellum"), "SplitSetBuilder"),
                                   reason="vellum.SplitSetBuilder is not built yet")


@needs_builder
def test_parse_manifest_agrees_with_the_independent_reader(tmp_path):
    import vellum

    from splitset_reader import read_manifest
    native = pytest.importorskip("vellum_tools._native")
    b = vellum.SplitSetBuilder(byte_cap=300, name_prefix="p", sortcol=("rank", 2, True))
    for text in ["alpha beta", "gamma delta", "epsilon"]:
        b.add(text)
    b.add_faceted("x y", {"lang": ["en"]})
    b.build(str(tmp_path))
    data = (tmp_path / "index.vlss").read_bytes()
    parsed = native.parse_manifest(data)
    ref = read_manifest(data)
    for key in ("version", "flags", "policy", "body_kind", "tier_count", "base_count",
                "byte_cap", "gram_size", "sortcol"):
        assert parsed[key] == getattr(ref, key), key
    assert len(parsed["splits"]) == len(ref.splits) > 1
    for ours, theirs in zip(parsed["splits"], ref.splits):
        assert ours == {k: getattr(theirs, k) for k in ours}
    header = {k: parsed[k] for k in ("flags", "policy", "body_kind", "tier_count",
                                     "base_count", "byte_cap", "gram_size", "sortcol")}
    assert native.write_manifest(parsed["splits"], header) == data


def test_manifest_functions_refuse_bad_input():
    native = pytest.importorskip("vellum_tools._native")
    if not hasattr(native, "parse_manifest"):
        pytest.skip("native part built without manifest functions")
    with pytest.raises(ValueError, match="malformed index: short VLSS header"):
        native.parse_manifest(b"VLSS")
    with pytest.raises(ValueError, match=r"bad magic \[88, 88, 88, 88\]"):
        native.parse_manifest(b"XXXX" + bytes(60))
    with pytest.raises(OSError, match="VLSS base_count 2 exceeds split count 1"):
        native.write_manifest([{"name": "a.vls"}], {"base_count": 2})
    with pytest.raises(TypeError, match="unknown split key 'nmae'"):
        native.write_manifest([{"nmae": "a.vls"}], {})
    with pytest.raises(TypeError, match="needs a 'name'"):
        native.write_manifest([{"doc_count": 1}], {})
    with pytest.raises(OverflowError):
        native.write_manifest([{"name": "a", "tier": 70000}], {})
    empty = native.write_manifest([], {})
    assert len(empty) == 64 and native.parse_manifest(empty)["splits"] == []
