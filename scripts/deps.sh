#!/usr/bin/env bash
# Installs the Debian packages vellum needs to build, test and benchmark,
# skipping those already present. Safe to run repeatedly.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libroaring-dev              # Roaring bitmaps
  libstemmer-dev              # Snowball stemmers for term analysis
  python3-dev                 # interpreter headers (limited API)
  python3-pytest python3-numpy python3-pip
  libgtest-dev libbenchmark-dev
  libicu-dev                  # only for the test that cross-checks our Unicode tables
  python3-faiss libopenblas0-pthread  # interoperability tests and the training benchmark
  python3-hypothesis          # property tests
  clang libclang-rt-14-dev    # libFuzzer targets
  python3-build               # python3 -m build (sdist, wheel)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
