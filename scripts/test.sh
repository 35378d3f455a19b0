#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the C++ suite
# (ctest), the Python suite (pytest), and an install of the abi3 module with
# pip into the other interpreter on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON="${PYTHON:-/usr/bin/python3}"
scripts/deps.sh
scripts/build.sh

echo "== C++ tests"
(cd build && ctest --output-on-failure -j "$(nproc)")

echo "== abi3 module in other interpreters"
for py in python3 /usr/bin/python3; do
  exe=$(command -v "$py" || true)
  [ -n "$exe" ] || continue
  target=$(mktemp -d)
  if "$exe" -m pip --version >/dev/null 2>&1; then
    # What users do: pip builds a wheel through the in-tree backend.
    "$exe" -m pip install --quiet --root-user-action=ignore --no-build-isolation --no-deps --target "$target" .
  else
    cp build/python/vellum.abi3.so "$target/"
  fi
  PYTHONPATH="$target" "$exe" -c "import sys, vellum; assert vellum.tokenize('Hello, World!')[0] == 0x68656c; print(sys.version.split()[0], 'imports', vellum.__file__)"
  if [ -x "$target/bin/vellum" ]; then
    PYTHONPATH="$target" "$target/bin/vellum" dataset --help >/dev/null
    PYTHONPATH="$target" "$exe" -m vellum_tools --help >/dev/null
    echo "  vellum console script and python -m vellum_tools run"
  fi
  rm -rf "$target"
done

echo "== Python tests"
PYTHONPATH="$PWD/build/python" "$PYTHON" -m pytest -q tests/python
