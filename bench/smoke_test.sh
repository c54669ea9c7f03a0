#!/usr/bin/env bash
# Smoke test of the benchmark generator: a tiny project must link, convert
# and list without an error, so the benchmark never times a failing run.
#   smoke_test.sh <make_bench> <program dir> <scratch dir>
set -euo pipefail
gen=$1 bin=$2 dir=$3
rm -rf "$dir"
"$gen" 3 "$dir"
cd "$dir"
"$bin/_orvane" $(cat objects.txt) bench.lib bench.lkr /l . /m out.map /o out.cof /q
# Half of the 12 members are pulled in.
imported=$(grep -o 'l0000[0-9]' out.map | sort -u | wc -l)
[ "$imported" -eq 6 ] || { echo "imported $imported members, not 6" >&2; exit 1; }
"$bin/pelmat" out.cof /q
"$bin/cirrow" out.cof /q
"$bin/tessil" /q /c made.lib $(cat members.txt)
"$bin/tessil" /q /t made.lib
cmp made.lib bench.lib
echo "bench smoke: 1 passed, 0 failed"
