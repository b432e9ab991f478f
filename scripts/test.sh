#!/usr/bin/env bash
# Builds and runs every test: a normal build, then one with the address and undefined-behaviour sanitizers; then the
# suites that run exports, the window's on a worker thread among them, with the thread sanitizer; then the Windows
# build with its suites under Wine, and its installer installed, run and removed under Wine.
#
#   scripts/test.sh [--no-windows]     (--no-windows: the Linux builds alone, for a quicker turn)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
windows=1
for argument in "$@"; do
  case "$argument" in
    --no-windows) windows=0 ;;
    *) echo "test.sh: unknown argument $argument (--no-windows)" >&2; exit 2 ;;
  esac
done
"$top/scripts/install-deps.sh"
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S "$top" -B "$top/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=ON >/dev/null
cmake --build "$top/build-test" -j"$jobs"
(cd "$top/build-test" && ctest --output-on-failure -j"$jobs")
# The tests that read the shared material say so when it is not beside the checkout; their words, once each.
grep -ho "skipped: .* of the shared test material is not beside the checkout.*" \
  "$top/build-test/Testing/Temporary/LastTest.log" | sort -u || true

cmake -S "$top" -B "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DVELMORA_WERROR=ON -DVELMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-asan" -j"$jobs"
# LeakSanitizer is on; the suppressions file names what libraries may keep for the life of the process.
(cd "$top/build-asan" && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions="$top/tests/lsan.supp" \
  ctest --output-on-failure -j"$jobs")

# Qt is not instrumented: the suppressions file says which of its calls are left out, and why.
cmake -S "$top" -B "$top/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SANITIZE_THREAD=ON -DVELMORA_WERROR=ON -DVELMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-tsan" -j"$jobs" --target export_test gui_test batch_window_test
(cd "$top/build-tsan" && TSAN_OPTIONS=suppressions="$top/tests/tsan.supp" \
  ctest --output-on-failure -j"$jobs" -R '^(export_test|gui_test|batch_window_test)$')

if [ "$windows" -eq 1 ]; then
  "$top/scripts/build-windows.sh" -j"$jobs"
  "$top/scripts/package-windows.sh" --no-build
  "$top/tests/windows_install_test.sh" "$top"/build-windows/velmora-setup-*.exe
fi
