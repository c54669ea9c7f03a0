#!/usr/bin/env bash
# Builds and installs the toolchain, then runs the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

prefix=${PREFIX:-$PWD/install}
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF
cmake --build build-release -j"$(nproc)"
cmake --install build-release --prefix "$prefix"
export PATH="$prefix/bin:$PATH"

if [ -x examples/run.sh ]; then
  examples/run.sh
else
  echo "Installed the toolchain in $prefix/bin."
fi
