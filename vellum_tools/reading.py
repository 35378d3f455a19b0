"""The validating readers of vellum_tools._native, for the reading
commands: the native module or a one-line explanation of its absence."""

from __future__ import annotations

from vellum_tools.errors import ToolError


def native():
    try:
        from vellum_tools import _native  # type: ignore[attr-defined]
    except ImportError as e:
        raise ToolError(f"the readers need vellum_tools._native, which cannot be imported ({e}); "
                        "build it with the vellum module") from None
    if not hasattr(_native, "verify"):
        raise ToolError("the installed vellum_tools._native has no readers; rebuild it")
    return _native


def describe_problem(p: dict) -> str:
    """One line: file, region, offset, what is wrong."""
    return f"{p['file']}: {p['region']} at byte {p['offset']}: {p['what']}"
