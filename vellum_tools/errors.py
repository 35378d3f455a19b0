"""The one error type the commands raise for conditions a user can fix.

The entry point prints it as one line and exits with status 1; it never
shows a traceback for it.
"""


class ToolError(Exception):
    """A failure explained in one line (bad input, missing library, ...)."""


def require(module: str, debian_package: str):
    """Imports an optional library or explains which package provides it."""
    import importlib

    try:
        return importlib.import_module(module)
    except ImportError:
        raise ToolError(f"this needs the Python module '{module}': "
                        f"apt-get install {debian_package}") from None


def require_api(*names: str):
    """Returns the vellum module after checking that it has `names`."""
    try:
        import vellum
    except ImportError as e:
        raise ToolError(f"the vellum module cannot be imported ({e}); "
                        "install it with: python3 -m pip install --no-build-isolation .") from None
    missing = [n for n in names if not hasattr(vellum, n)]
    if missing:
        raise ToolError(f"the installed vellum module has no {', '.join(missing)}; "
                        "this command needs a newer build of vellum")
    return vellum
