"""The `vellum` command: argument parsing, and the one place where failures
become a one-line message and an exit status."""

from __future__ import annotations

import argparse
import sys

from vellum_tools.errors import ToolError

# Modules of vellum_tools.commands; each registers its own subcommands
# (contents: `inspect`; lifecycle: ingest, delete, compact).
COMMANDS = ("dataset", "splits", "terms", "vectors", "lifecycle", "contents", "verify", "lookup",
            "plot")

DESCRIPTION = "Build vellum files from common inputs."
EPILOG = """\
examples:
  vellum dataset docs.jsonl -o out/ --rank score --facet lang
  vellum splits docs.jsonl.zst -o set/ --byte-cap 32MiB
  vellum ingest store/ more.jsonl && vellum compact store/

Run `vellum COMMAND --help` for its options and examples.
"""


def parser() -> argparse.ArgumentParser:
    import importlib

    p = argparse.ArgumentParser(prog="vellum", description=DESCRIPTION, epilog=EPILOG,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="command", metavar="COMMAND", required=True)
    original = sub.add_parser

    def add_parser(name, **kw):
        kw.setdefault("formatter_class", argparse.RawDescriptionHelpFormatter)
        return original(name, **kw)
    sub.add_parser = add_parser  # type: ignore[method-assign,assignment]
    for name in COMMANDS:
        importlib.import_module(f"vellum_tools.commands.{name}").register(sub)
    return p


def main(argv: list[str] | None = None) -> int:
    args = parser().parse_args(argv)
    try:
        # A command may return its own exit status (verify: 1 for problems).
        status = args.run(args)
    except ToolError as e:
        return _fail(args, str(e))
    except BrokenPipeError:
        return _reader_gone()
    except (OSError, ValueError, TypeError, OverflowError) as e:
        # What the module raises: its message is the explanation.
        return _fail(args, _describe(e))
    except KeyboardInterrupt:
        print("vellum: interrupted", file=sys.stderr)
        return 130
    return status or 0


def _reader_gone() -> int:
    # The reading end of a pipe closed early (`vellum inspect … | head`):
    # nothing is wrong with the command, so stop quietly, and point stdout
    # at /dev/null so the interpreter's final flush cannot fail again.
    import os

    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)
    return 141


def _describe(e: Exception) -> str:
    if isinstance(e, OSError) and e.strerror and e.filename:
        return f"{e.filename}: {e.strerror}"
    return str(e) or type(e).__name__


def _fail(args, message: str) -> int:
    try:
        sys.stdout.flush()
    except OSError:
        pass
    print(f"vellum {args.command}: error: {message}", file=sys.stderr)
    return 1
