#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan+UBSan) in build-fuzz/ and
# fuzzes each one for a while, starting from the seeds under fuzz/corpus/.
#   scripts/fuzz.sh [seconds per target] [targets run at once] [target...]
# Fails when any target finds a crash, a sanitizer report, a leak or a hang;
# the input is then kept under build-fuzz/fuzz/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
parallel=${2:-4}
shift $(($# < 2 ? $# : 2))

# Debian's clang ships libFuzzer in its compiler-rt package.
missing=()
command -v clang++ >/dev/null 2>&1 || missing+=(clang)
if ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a \
  >/dev/null 2>&1; then
  missing+=(libclang-rt-dev)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

dir=build-fuzz
cmake -S . -B "$dir" -DORVANE_FUZZ=ON -DORVANE_TESTS=OFF \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j"$(nproc)"

# Each target and the seed corpus it starts from.
declare -A seeds=(
  [coff_reader]=objects
  [library_reader]=libraries
  [linker_command_file]=command_files
  [linker_object]=objects
  [linker_library]=libraries
  [hex_converter]=linked
  [cod_converter]=linked
  [librarian_list]=libraries
  [librarian_extract]=libraries
)
# And the dictionary of tokens that helps its mutations.
declare -A dicts=(
  [coff_reader]=coff [library_reader]=library
  [linker_command_file]=command_file [linker_object]=coff
  [linker_library]=library [hex_converter]=coff [cod_converter]=coff
  [librarian_list]=library [librarian_extract]=library
)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in coff_reader library_reader linker_command_file linker_object \
    linker_library hex_converter cod_converter librarian_list \
    librarian_extract; do
    [ -x "$dir/fuzz/bin/$t" ] && targets+=("$t")
  done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

run_target() {
  local t=$1
  # Absolute: the targets run each input inside a work directory of their
  # own, and a crash is written down while it is there.
  local corpus="$PWD/$dir/fuzz/corpus/$t" artifacts="$PWD/$dir/fuzz/artifacts/$t"
  local log="$dir/fuzz/$t.log"
  mkdir -p "$corpus" "$artifacts"
  local flags=(-timeout=60 -rss_limit_mb=4096 -report_slow_units=60
    -print_final_stats=1 -print_funcs=0 -artifact_prefix="$artifacts/"
    -dict="fuzz/dictionaries/${dicts[$t]}.dict")
  local status=0
  "$dir/fuzz/bin/$t" -max_total_time="$seconds" \
    "${flags[@]}" "$corpus" "fuzz/corpus/${seeds[$t]}" >"$log" 2>&1 ||
    status=$?
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  # Every input kept (the seeds and each that reached new code) once more,
  # from a fresh start.
  if [ "$status" -eq 0 ]; then
    "$dir/fuzz/bin/$t" -runs=0 "${flags[@]}" "$corpus" \
      "fuzz/corpus/${seeds[$t]}" >>"$log" 2>&1 || status=$?
  fi
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$artifacts")" ]; then
    echo "FAIL $t (exit $status, ${runs:-?} runs): see $log"
    tail -n 40 "$log"
    return 1
  fi
  echo "ok   $t: ${runs:-?} runs in ${seconds}s ($(( ${runs:-0} / seconds ))/s), $(ls "$corpus" | wc -l) inputs kept and checked for leaks"
}

failed=0
pids=()
names=()
for t in "${targets[@]}"; do
  run_target "$t" &
  pids+=($!)
  names+=("$t")
  if [ ${#pids[@]} -ge "$parallel" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for pid in "${pids[@]}"; do
  wait "$pid" || failed=1
done
if [ "$failed" -ne 0 ]; then
  echo "fuzzing found faults"
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets, no faults"
