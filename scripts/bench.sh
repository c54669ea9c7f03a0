#!/usr/bin/env bash
# Times the programs on synthetic projects of N objects of the
# byte-addressed family (N = 250, 1000, 4000 unless sizes are given), each
# with a library of 4N members, and prints one table per size.
#
#   scripts/bench.sh [N...]        RUNS=5 by default (medians are shown)
#
# Every program's wall time stands next to that of `cat` reading the same
# input files to /dev/null in the same run, and, for the two converters,
# next to `cp` copying one file as large as all that the converter writes.
# Peak memory is the program's maximum resident set. The projects are kept
# in build-bench/data/N and made again only when missing.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
root=$PWD
runs=${RUNS:-5}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(250 1000 4000)

command -v /usr/bin/time >/dev/null 2>&1 || {
  echo "bench.sh needs /usr/bin/time (Debian package 'time')" >&2
  exit 1
}

build=$root/build-bench
cmake -S . -B "$build" -DORVANE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
bin=$build/bin
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Runs a command once; sets lastUs (wall time in microseconds) and lastKb
# (peak resident set). Its output goes to files in $tmp, or to the file
# named by $out when set.
timeOnce() {
  local start end
  # Truncating the last command's output (a listing of megabytes) frees
  # its pages: done here, not inside the next timed command. A program's
  # or cp's own earlier output is replaced inside it, as in use.
  rm -f "$tmp/out" "$tmp/err" "$tmp/mem"
  start=$EPOCHREALTIME
  if ! /usr/bin/time -f %M -o "$tmp/mem" "$@" >"${out:-$tmp/out}" 2>"$tmp/err"; then
    echo "failed: $1 (exit status above)" >&2
    head -5 "$tmp/out" "$tmp/err" >&2
    exit 1
  fi
  end=$EPOCHREALTIME
  lastUs=$((${end/./} - ${start/./}))
  lastKb=$(tail -1 "$tmp/mem")
}

median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
ms() { awk -v us="$1" 'BEGIN { printf "%.1f", us / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# measure NAME BASE -- PROGRAM... : RUNS rounds of BASE then PROGRAM, where
# BASE is a command line in the array named by $2; prints one table row.
measure() {
  local name=$1 baseVar=$2
  shift 2
  local -n base=$baseVar
  local progTimes=() baseTimes=() peak=0 i
  for ((i = 0; i < runs; i++)); do
    # cat copies into a regular file inside the kernel, without reading
    # the bytes: to /dev/null it reads them, as the programs do.
    out=/dev/null timeOnce "${base[@]}"
    baseTimes+=("$lastUs")
    timeOnce "$@"
    progTimes+=("$lastUs")
    [ "$lastKb" -gt "$peak" ] && peak=$lastKb
  done
  local p b
  p=$(median "${progTimes[@]}")
  b=$(median "${baseTimes[@]}")
  printf '%-14s %10s %10s %7s %-9s %8.1f\n' "$name" "$(ms "$p")" "$(ms "$b")" \
    "$(ratio "$p" "$b")" "${baseVar%Cmd}" "$(awk -v k="$peak" 'BEGIN{print k/1024}')"
}

for n in "${sizes[@]}"; do
  data=$build/data/$n
  if [ ! -f "$data/done" ]; then
    rm -rf "$data"
    mkdir -p "$build/data"
    "$build/bench/make_bench" "$n" "$data"
    touch "$data/done"
  fi
  cd "$data"
  mapfile -t objects <objects.txt
  mapfile -t members <members.txt

  linkCmd=("$bin/_orvane" "${objects[@]}" bench.lib bench.lkr /l . /m out.map /o out.cof)
  timeOnce "${linkCmd[@]}" # the converters' input, and a warm cache
  timeOnce "$bin/tessil" /c made.lib "${members[@]}"
  timeOnce "$bin/pelmat" out.cof
  hexBytes=$(stat -c %s out.hex)
  timeOnce "$bin/cirrow" out.cof
  codBytes=$(($(stat -c %s out.cod) + $(stat -c %s out.lst)))
  head -c "$hexBytes" /dev/zero >"$tmp/hex.size"
  head -c "$codBytes" /dev/zero >"$tmp/cod.size"

  catLinkCmd=(cat "${objects[@]}" bench.lib bench.lkr)
  catMembersCmd=(cat "${members[@]}")
  catLibCmd=(cat made.lib)
  catCofCmd=(cat out.cof)
  cpHexCmd=(cp "$tmp/hex.size" "$tmp/copy")
  cpCodCmd=(cp "$tmp/cod.size" "$tmp/copy")

  echo
  echo "N = $n: $n objects, library of ${#members[@]} members" \
    "($(stat -c %s bench.lib) bytes), linked file $(stat -c %s out.cof) bytes," \
    "median of $runs runs"
  printf '%-14s %10s %10s %7s %-9s %8s\n' program "ms" "base ms" ratio base "peak MB"
  measure "_orvane /m" catLinkCmd "${linkCmd[@]}"
  measure "tessil /c" catMembersCmd "$bin/tessil" /c made.lib "${members[@]}"
  measure "tessil /t" catLibCmd "$bin/tessil" /t made.lib
  measure "pelmat" catCofCmd "$bin/pelmat" out.cof
  measure "pelmat" cpHexCmd "$bin/pelmat" out.cof
  measure "cirrow" catCofCmd "$bin/cirrow" out.cof
  measure "cirrow" cpCodCmd "$bin/cirrow" out.cof
  cd "$root"
done
