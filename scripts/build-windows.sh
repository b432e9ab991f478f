#!/usr/bin/env bash
# Cross-builds the program for Windows with MinGW-w64 into build-windows/: its core, the command line
# (velmora-export.exe) and the window (velmora.exe), with their tests, then runs the tests under Wine through CTest,
# the window's driver on a display of Xvfb's. Installs the Debian packages it misses first (scripts/install-deps.sh
# --windows: with apt-get, as root or through sudo).
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

"$top/scripts/install-deps.sh" --windows

cmake -S "$top" -B "$build" --toolchain "$top/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORA_WERROR=ON -DVELMORA_TOP_LAYER=export -DVELMORA_BUILD_APP=ON -DVELMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs"
[ "$run_tests" -eq 1 ] || exit 0

# Wine, quiet and without windows or prompts, in a prefix of the build's own, made once before the tests so that
# they do not race to make it.
export WINEPREFIX="$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d" DISPLAY=
for prefix in "$WINEPREFIX" "$WINEPREFIX-window"; do
  if [ ! -f "$prefix/system.reg" ]; then
    echo "Making the Wine prefix $prefix"
    WINEPREFIX=$prefix wine wineboot --init >/dev/null 2>&1
    # Xvfb runs no window manager: Wine then places and frames its windows itself, as Windows does, instead of
    # waiting for a manager to answer each window shown or hidden.
    WINEPREFIX=$prefix wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    # Its desktop, started without a display, ends with its server, before a test starts another.
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  fi
done

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
  WINEPREFIX=$WINEPREFIX-window wineserver -k 2>/dev/null || true
}
trap finish EXIT

# The window's driver (window_driver_test, in the prefix wine-window) shows its windows on a screen of Xvfb's; the
# other suites run without one.
(cd "$build" && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"$jobs")
