"""Command-line tools for vellum: build every kind of vellum file from
common inputs (JSONL, CSV, NumPy arrays, FAISS indexes) and run the
streaming ingest lifecycle of a split set on a store.

The tools use the public ``vellum`` module only; ``vellum_tools._native``
holds the few core functions the tools need beyond it.
"""

import pkgutil

# The native part may sit in another directory of the path (a build tree
# next to these sources), so the package spans every vellum_tools folder.
__path__ = pkgutil.extend_path(__path__, __name__)

__version__ = "0.1.0"
