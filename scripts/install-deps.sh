#!/usr/bin/env bash
# Installs the Debian packages a build needs, once: packages already present are left alone.
#
#   scripts/install-deps.sh                     the Linux build, its tests and the Debian package
#   scripts/install-deps.sh --with-fuzz         the same, and the fuzz target's compiler
#   scripts/install-deps.sh --windows           the Windows build and its tests under Wine (scripts/build-windows.sh)
#   scripts/install-deps.sh --windows-package   the Windows installer and zip (scripts/package-windows.sh)
set -euo pipefail

linux=(
  build-essential cmake pkg-config python3 clang-format
  qt6-base-dev libgl-dev qt6-translations-l10n
  mdbtools libglib2.0-dev
  libgsf-1-dev libxlsxwriter-dev libcli11-dev
  libfreexl-dev libgtest-dev nlohmann-json3-dev
  # The Unicode data scripts/make-text-folding.py makes the order of text's tables from.
  unicode-data
  # The manual page and the package (cpack needs file and dpkg-shlibdeps), and the tools that check them.
  help2man file dpkg-dev lintian desktop-file-utils appstream
)
# The compiler with POSIX threads, Wine to run 64-bit programs (wine64), GoogleTest's sources to build it with the
# same compiler, the JSON headers the reader's tests compare dumps with, CLI11's headers for the command line, and
# Xvfb (with xauth, for xvfb-run) for the window's driver.
windows=(cmake make g++-mingw-w64-x86-64-posix wine wine64 googletest nlohmann-json3-dev libcli11-dev xvfb xauth)

case "${1:-}" in
  "") packages=("${linux[@]}") ;;
  --with-fuzz) packages=("${linux[@]}" clang libclang-rt-14-dev) ;;
  --windows) packages=("${windows[@]}") ;;
  --windows-package) packages=(nsis zip binutils-mingw-w64-x86-64) ;;  # strip for the executables shipped
  *) echo "install-deps.sh: unknown argument $1 (--with-fuzz, --windows, --windows-package)" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
