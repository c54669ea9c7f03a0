#!/usr/bin/env bash
# Builds everything and runs every test under ctest.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build in build-san/
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

dir=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-san
  flags+=(-DORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
jobs=$(nproc)
cmake -S . -B "$dir" "${flags[@]}"
cmake --build "$dir" -j"$jobs"
ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600
