"""The short report each command prints when it has finished."""

from __future__ import annotations


def print_summary(title: str, counts: list[tuple[str, object]],
                  files: dict[str, int] | None = None,
                  input_bytes: int | None = None, seconds: float | None = None) -> None:
    lines = [title]
    width = max([len(k) for k, _ in counts] + [len(n) for n in (files or {})] + [12])
    for key, value in counts:
        lines.append(f"  {key:<{width}}  {value}")
    for name, size in (files or {}).items():
        lines.append(f"  {name:<{width}}  {size} bytes")
    if seconds is not None:
        rate = ""
        if input_bytes is not None and seconds > 0:
            rate = f", {input_bytes / 1e6 / seconds:.1f} MB/s"
        read = f"{input_bytes / 1e6:.1f} MB read in " if input_bytes is not None else ""
        lines.append(f"  {read}{seconds:.2f} s{rate}")
    print("\n".join(lines), flush=True)
