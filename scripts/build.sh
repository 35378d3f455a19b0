#!/usr/bin/env bash
# Configures and builds everything (core library, extension, tests,
# benchmarks) into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON="${PYTHON:-/usr/bin/python3}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPYTHON="$PYTHON" >/dev/null
cmake --build build -j "$(nproc)"
