#!/usr/bin/env bash
# Links the bundled example with the installed toolchain (on PATH): makes
# its objects, library and sources, then links them into examples/out/.
# When the driver and both converters are installed it goes all the way to
# the HEX, COD and listing files with one driver command.
#
#   EXAMPLE_OUT   directory for the results (default: examples/out)
#   MAKE_EXAMPLE  the generator (default: found beside the installed linker)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${EXAMPLE_OUT:-$here/out}

linker=$(command -v _orvane) || {
  echo "run.sh: the linker _orvane is not on PATH" >&2
  exit 1
}
make_example=${MAKE_EXAMPLE:-$(dirname "$linker")/../libexec/orvane/make_example}

mkdir -p "$out"
cp "$here/example.lkr" "$out/"
cd "$out"
"$make_example" .

inputs=(main.o util.o libdelay.lib example.lkr /l . /m example.map /o example.cof)
if command -v orvane >/dev/null && command -v cirrow >/dev/null &&
  command -v pelmat >/dev/null; then
  echo "+ orvane ${inputs[*]}"
  orvane "${inputs[@]}"
else
  echo "+ _orvane ${inputs[*]}"
  _orvane "${inputs[@]}"
fi

echo
echo "Results in $out:"
ls -l
