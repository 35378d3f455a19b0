"""Taking the fields a command needs out of one parsed row, with the checks
that let a bad row be reported by file and line instead of failing a whole
batch inside the module.

JSON rows carry typed values; CSV/TSV rows carry strings, so numbers are
parsed from text there and a facet cell is one category.
"""

from __future__ import annotations

import json

from vellum_tools.inputs import BadRow

I64_MIN, I64_MAX = -(1 << 63), (1 << 63) - 1
U32_MAX = (1 << 32) - 1
_MISSING = object()


def text_field(row: dict, name: str) -> str:
    value = row.get(name, _MISSING)
    if type(value) is str:
        return value
    if value is _MISSING:
        raise BadRow(f"missing field '{name}'")
    raise BadRow(f"field '{name}' must be a string, got {_kind(value)}")


def int_field(row: dict, name: str, low: int, high: int) -> int:
    value = row.get(name, _MISSING)
    if value is _MISSING:
        raise BadRow(f"missing field '{name}'")
    if type(value) is str:
        try:
            value = int(value.strip())
        except ValueError:
            raise BadRow(f"field '{name}' must be an integer, got {value!r}") from None
    elif type(value) is not int:
        raise BadRow(f"field '{name}' must be an integer, got {_kind(value)}")
    if not low <= value <= high:
        raise BadRow(f"field '{name}' is {value}, outside {low}..{high}")
    return value


def record_field(row: dict, name: str) -> bytes:
    """A string field as UTF-8; any other JSON value as compact JSON."""
    value = row.get(name, _MISSING)
    if value is _MISSING:
        raise BadRow(f"missing field '{name}'")
    if type(value) is str:
        return _utf8(value, name)
    return json.dumps(value, separators=(",", ":"), ensure_ascii=False).encode("utf-8", "replace")


def facet_values(row: dict, name: str) -> list[str] | None:
    """The categories of one facet field, None when the row has none."""
    value = row.get(name)
    if value is None or value == "":
        return None
    if type(value) is str:
        return [value]
    if type(value) is list and all(type(v) is str for v in value):
        return value
    raise BadRow(f"facet field '{name}' must be a string or a list of strings, got {_kind(value)}")


def facets_of(row: dict, names: list[str]) -> dict[str, list[str]] | None:
    facets = None
    for name in names:
        values = facet_values(row, name)
        if values is not None:
            if facets is None:
                facets = {}
            facets[name] = values
    return facets


def check_encodable(text: str, what: str) -> None:
    """Strings must be valid UTF-8 once encoded (JSON can carry lone
    surrogates, which the module refuses)."""
    _utf8(text, what)


def _utf8(text: str, what: str) -> bytes:
    try:
        return text.encode("utf-8")
    except UnicodeEncodeError:
        raise BadRow(f"field '{what}' holds a lone surrogate, not valid Unicode text") from None


def _kind(value) -> str:
    if value is None:
        return "null"
    return {bool: "a boolean", int: "a number", float: "a number", str: "a string",
            list: "a list", dict: "an object"}.get(type(value), type(value).__name__)
