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
