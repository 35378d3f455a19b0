#!/usr/bin/env bash
# The main job: installs what is missing, builds, and writes a real dataset
# with the `vellum` command from the licence texts that ship with Debian.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON="${PYTHON:-/usr/bin/python3}"
scripts/deps.sh
scripts/build.sh
out="${1:-build/example-dataset}"
mkdir -p build/example
"$PYTHON" examples/licences_jsonl.py build/example/licences.jsonl
PYTHONPATH="$PWD/build/python:$PWD" "$PYTHON" -m vellum_tools dataset \
  build/example/licences.jsonl -o "$out" \
  --rank rank --facet licence --facet family
