#!/usr/bin/env bash
# Makes the Windows installer and the portable zip from the Windows build (scripts/build-windows.sh builds it first,
# without its tests): build-windows/velmora-setup-<version>.exe, with Debian's nsis, and
# build-windows/velmora-<version>-windows-x64.zip, whose velmora.exe works on the Impuest.mdb beside it.
#
#   scripts/package-windows.sh [--no-build]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-windows"
[ "${1:-}" = "--no-build" ] || "$top/scripts/build-windows.sh" --no-tests

"$top/scripts/install-deps.sh" --windows-package

version=$(sed -n 's/^project(Velmora VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
stage="$build/package"
rm -rf "$stage"
mkdir -p "$stage/velmora-$version"
cp "$build/bin/velmora.exe" "$build/bin/velmora-export.exe" "$top/winapp/velmora.ico" "$stage/velmora-$version/"
# The build keeps its debugging information; what is shipped does without it.
x86_64-w64-mingw32-strip "$stage/velmora-$version/velmora.exe" "$stage/velmora-$version/velmora-export.exe"
# Windows reads a text file's lines ended by CR LF.
sed 's/$/\r/' "$top/packaging/windows/LEEME.txt" >"$stage/velmora-$version/LEEME.txt"

makensis -V2 -DVERSION="$version" -DBUILD="$stage/velmora-$version" \
  -DOUTFILE="$build/velmora-setup-$version.exe" "$top/packaging/windows/velmora.nsi"
rm -f "$build/velmora-$version-windows-x64.zip"
(cd "$stage" && zip -q -X -r "$build/velmora-$version-windows-x64.zip" "velmora-$version")
echo "$build/velmora-setup-$version.exe"
echo "$build/velmora-$version-windows-x64.zip"
