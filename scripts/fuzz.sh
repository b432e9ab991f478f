#!/usr/bin/env bash
# Builds the fuzz target with clang and runs it for a bounded time, seeded with the tests' databases and the files
# that once broke the reader (tests/regressions). A finding (a crash, a sanitizer report, a hang, a leak) fails the
# run, and its input is copied into tests/regressions, where the robustness test reads it from then on: commit it
# with the fix.
#
# Usage: scripts/fuzz.sh [seconds]   (60 unless given)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
"$top/scripts/install-deps.sh" --with-fuzz
jobs=$(nproc)

build="$top/build-fuzz"
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON \
  -DVELMORA_BUILD_APP=OFF -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target open_and_read_fuzzer

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus" "$work/seeds" "$work/findings"
cp "$top"/tests/data/*.mdb "$top"/demo/Impuest.mdb "$top"/tests/regressions/*.mdb "$work/seeds/"
# The shared fixtures, when they are beside the checkout, add files Access itself wrote.
for shared in "$top"/../shared/fixtures "$top"/../shared/fixtures/access; do
  if [ -d "$shared" ]; then
    for file in "$shared"/*.mdb; do cp "$file" "$work/seeds/$(basename "$(dirname "$file")")-$(basename "$file")"; done
  fi
done

status=0
(cd "$work" && "$build/fuzz/open_and_read_fuzzer" -dict="$top/fuzz/jet.dict" -max_total_time="$seconds" \
  -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/findings/" \
  "$work/corpus" "$work/seeds") || status=$?

found=0
for finding in "$work"/findings/*; do
  [ -e "$finding" ] || continue
  name="fuzz-$(sha1sum "$finding" | cut -c1-12).mdb"
  cp "$finding" "$top/tests/regressions/$name"
  echo "fuzz.sh: $(basename "$finding") kept as tests/regressions/$name" >&2
  found=1
done
if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
  echo "fuzz.sh: the fuzzer found a defect (exit status $status); see above" >&2
  exit 1
fi
echo "fuzz.sh: nothing found in $seconds s"
