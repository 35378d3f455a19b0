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

echo "== short fuzz runs of the split-set writer"
if command -v clang++ >/dev/null && command -v clang >/dev/null; then
  cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DVELLUM_FUZZ=ON -DVELLUM_TESTS=OFF -DVELLUM_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j2 --target resume_fuzz compact_fuzz >/dev/null
  for t in resume compact; do
    work=$(mktemp -d)
    build-fuzz/${t}_fuzz -max_total_time=20 "$work" "fuzz/corpus/${t}_fuzz" 2>&1 | tail -1
    rm -rf "$work"
  done
else
  echo "clang not found: fuzz runs skipped"
fi
