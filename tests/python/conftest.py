"""Makes the freshly built extension importable for the Python tests.

The module is looked up in VELLUM_MODULE_DIR when set, otherwise in the CMake
build tree's python/ directory of this checkout.
"""

import os
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
MODULE_DIR = Path(os.environ.get("VELLUM_MODULE_DIR", REPO / "build" / "python"))

for path in (str(MODULE_DIR), str(Path(__file__).resolve().parent)):
    if path not in sys.path:
        sys.path.insert(0, path)
