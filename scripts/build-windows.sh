#!/usr/bin/env bash
# Cross-builds the program's core (every folder below the windows) and the command line, velmora-export.exe, with
# their tests, with MinGW-w64 into build-windows/, then runs the tests under Wine through CTest. Installs the Debian
# packages it misses first (with apt-get, as root or through sudo).
#
#   scripts/build-windows.sh [--no-tests] [-jN]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-windows"
run_tests=1
jobs=2
for argument in "$@"; do
  case "$argument" in
    --no-tests) run_tests=0 ;;
    -j*) jobs=${argument#-j} ;;
    *) echo "build-windows.sh: unknown argument $argument (--no-tests, -jN)" >&2; exit 2 ;;
  esac
done

# The compiler with POSIX threads, Wine to run 64-bit programs (wine64), GoogleTest's sources to build it with the
# same compiler, the JSON headers the reader's tests compare dumps with, and CLI11's headers for the command line.
packages=(cmake make g++-mingw-w64-x86-64-posix wine wine64 googletest nlohmann-json3-dev libcli11-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$top" -B "$build" --toolchain "$top/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORA_WERROR=ON -DVELMORA_TOP_LAYER=export -DVELMORA_BUILD_APP=OFF -DVELMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs"
[ "$run_tests" -eq 1 ] || exit 0

# Wine, quiet and without windows or prompts, in a prefix of the build's own, made once before the tests so that
# they do not race to make it.
export WINEPREFIX="$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d" DISPLAY=
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Making the Wine prefix $WINEPREFIX"
  wine wineboot --init >/dev/null 2>&1
fi

# A small disk of its own, where a write fails for want of room as on a full disk: only where this user may mount
# one (root, outside a container that forbids it); the test that needs it says so when it is missing.
small_disk="$build/small-disk"
mkdir -p "$small_disk"
mounted=0
if [ "$(id -u)" -eq 0 ] && ! mountpoint -q "$small_disk" && mount -t tmpfs -o size=256k velmora-small-disk "$small_disk" 2>/dev/null; then
  mounted=1
fi
finish() {
  [ "$mounted" -eq 1 ] && umount "$small_disk" || true
  # The Wine server of this prefix stays a few seconds after its last program; it is ended now.
  wineserver -k 2>/dev/null || true
}
trap finish EXIT

(cd "$build" && ctest --output-on-failure -j"$jobs")
