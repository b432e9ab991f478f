#!/usr/bin/env bash
# How much longer velmora-export.exe takes under Wine than the Linux build, on the same database in the same run:
# `--all --from 200001 --to 222201` (TXT), each run into a fresh folder in /dev/shm, so that the disk stays out of
# the figures. Builds both in Release first, when needed: build-bench/ (Linux) and build-windows-release/ (MinGW-w64,
# scripts/build-windows.sh's packages). Prints each build's median time with the range of its runs, and the ratio.
#
#   bench/wine_ratio.sh [DATABASE] [--runs N]     (DATABASE: build-bench/impuest-xl.mdb unless given)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
database=$top/build-bench/impuest-xl.mdb
runs=3
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    -*) echo "wine_ratio.sh: unknown option $1 (--runs N)" >&2; exit 2 ;;
    *) database=$(readlink -f "$1"); shift ;;
  esac
done
[ -f "$database" ] || { echo "wine_ratio.sh: no database at $database (gunzip ../shared/bench/impuest-xl.mdb.gz)" >&2; exit 2; }

# Quiet while it goes well; what went wrong is shown.
quietly() {
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "wine_ratio.sh: failed: $*" >&2
    exit 1
  fi
  rm -f "$log"
}
quietly cmake -S "$top" -B "$top/build-bench" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_APP=OFF \
  -DVELMORA_BUILD_TESTS=OFF
quietly cmake --build "$top/build-bench" -j2 --target velmora-export
quietly cmake -S "$top" -B "$top/build-windows-release" --toolchain "$top/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_APP=OFF -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF
quietly cmake --build "$top/build-windows-release" -j2 --target velmora-export
linux=$top/build-bench/bin/velmora-export
windows=$top/build-windows-release/bin/velmora-export.exe

export WINEPREFIX=$top/build-windows-release/wine WINEDEBUG=-all DISPLAY=
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
[ -f "$WINEPREFIX/system.reg" ] || wine wineboot --init >/dev/null 2>&1
# The Wine server is started once and kept for every run, as it stays on a machine where Windows programs run.
scratch=
trap 'wineserver -k 2>/dev/null || true; [ -z "$scratch" ] || rm -rf "$scratch"' EXIT
wineserver -p
wine "$windows" --version >/dev/null
scratch=$(mktemp -d /dev/shm/velmora-wine-ratio.XXXXXX)

# One run: its wall time in seconds; the exit status must be one a batch may end with (0, or 1 for a taxpayer
# not found or an export that failed).
timed() {
  local out=$scratch/out start end status=0
  rm -rf "$out"
  start=$(date +%s.%N)
  "$@" >"$scratch/stdout" 2>"$scratch/stderr" || status=$?
  end=$(date +%s.%N)
  if [ "$status" -gt 1 ]; then
    echo "wine_ratio.sh: $* ended with $status:" >&2
    cat "$scratch/stderr" >&2
    exit 1
  fi
  awk -v start="$start" -v end="$end" 'BEGIN { printf "%.3f", end - start }'
}

args=(--all --from 200001 --to 222201 --quiet)
linux_times=() windows_times=()
for ((i = 0; i < runs; i++)); do
  linux_times+=("$(timed "$linux" --db "$database" --out "$scratch/out" "${args[@]}")")
  windows_times+=("$(timed wine "$windows" --db "Z:${database//\//\\}" --out "Z:${scratch//\//\\}\\out" "${args[@]}")")
done

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
range() { printf '%s\n' "$@" | sort -g | awk 'NR==1{lo=$1} {hi=$1} END {printf "%.2f-%.2f", lo, hi}'; }
linux_median=$(median "${linux_times[@]}")
windows_median=$(median "${windows_times[@]}")
echo "velmora-export --all 200001-222201 on $(basename "$database"), $runs runs each, output in /dev/shm"
printf 'Linux:             %7.2f s (%s)\n' "$linux_median" "$(range "${linux_times[@]}")"
printf 'Windows, Wine:     %7.2f s (%s)\n' "$windows_median" "$(range "${windows_times[@]}")"
awk -v w="$windows_median" -v l="$linux_median" 'BEGIN { printf "ratio Wine/Linux:  %7.2f\n", w / l }'
