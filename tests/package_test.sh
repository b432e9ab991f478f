#!/usr/bin/env bash
# The Debian package: named as Debian names it, with the libraries dpkg-shlibdeps found among its dependencies,
# holding what the install tree holds, and without a lintian error.
# Usage: package_test.sh <cmake> <cpack> <build folder> <version>
set -euo pipefail
cmake=$1 cpack=$2 build=$3 version=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

"$cpack" -G DEB -B "$tmp" --config "$build/CPackConfig.cmake" >"$tmp/cpack.log" 2>&1 || fail "$(cat "$tmp/cpack.log")"
deb=$tmp/velmora_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb") in: $(ls "$tmp")"

depends=$(dpkg-deb --field "$deb" Depends)
for library in libqt6widgets6 libxlsxwriter qt6-qpa-plugins; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

"$cmake" --install "$build" --prefix "$tmp/root/usr" >/dev/null
installed=$(cd "$tmp/root" && find usr ! -type d | LC_ALL=C sort)
packaged=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | LC_ALL=C sort)
[ "$packaged" = "$installed" ] || fail "the package holds"$'\n'"$packaged"$'\n'"the install tree"$'\n'"$installed"

# Warnings and notes are allowed; an error fails. Lintian tells root it would rather not run as root.
lintian --fail-on error "$deb" 2> >(grep -v 'root privileges' >&2) || fail "lintian found an error"
echo "package_test: $(basename "$deb") holds the install tree; lintian reports no error"
