#!/usr/bin/env bash
# The main job: installs what is missing, builds, and writes a real dataset.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON="${PYTHON:-/usr/bin/python3}"
scripts/deps.sh
scripts/build.sh
PYTHONPATH="$PWD/build/python" "$PYTHON" examples/build_dataset.py "${1:-build/example-dataset}"
