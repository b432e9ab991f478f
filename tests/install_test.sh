#!/usr/bin/env bash
# The install tree in a temporary prefix: every file in its place, valid for the desktop's tools, and the installed
# velmora-export working where the working-folder rule says.
# Usage: install_test.sh <cmake> <build folder> <version> <demo database>
set -euo pipefail
cmake=$1 build=$2 version=$3 demo=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$tmp/usr" >/dev/null
expected='usr/bin/velmora
usr/bin/velmora-export
usr/share/applications/org.velmora.Velmora.Todos.desktop
usr/share/applications/org.velmora.Velmora.desktop
usr/share/doc/velmora/changelog.gz
usr/share/doc/velmora/copyright
usr/share/icons/hicolor/scalable/apps/org.velmora.Velmora.Todos.svg
usr/share/icons/hicolor/scalable/apps/org.velmora.Velmora.svg
usr/share/man/man1/velmora-export.1.gz
usr/share/man/man1/velmora.1.gz
usr/share/metainfo/org.velmora.Velmora.metainfo.xml'
actual=$(cd "$tmp" && find usr ! -type d | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "the install tree holds"$'\n'"$actual"$'\n'"instead of"$'\n'"$expected"

for entry in org.velmora.Velmora org.velmora.Velmora.Todos; do
  desktop-file-validate "$tmp/usr/share/applications/$entry.desktop"
  icon=$(sed -n 's/^Icon=//p' "$tmp/usr/share/applications/$entry.desktop")
  [ -f "$tmp/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "$entry.desktop names a missing icon"
done
appstreamcli validate --no-net --strict "$tmp/usr/share/metainfo/org.velmora.Velmora.metainfo.xml" >/dev/null
# The manual page is made from the help, which names every option.
[ "$(zcat "$tmp/usr/share/man/man1/velmora-export.1.gz" | grep -c -F '\fB\-\-dir\fR')" -gt 0 ] ||
  fail "the manual page lacks --dir"

bin=$tmp/usr/bin
[ "$("$bin/velmora-export" --version)" = "velmora-export $version" ] || fail "velmora-export --version"
[ "$(QT_QPA_PLATFORM=offscreen "$bin/velmora" --version 2>/dev/null)" = "velmora $version" ] ||
  fail "velmora --version"

# What the build tree's executable writes for the demo database, to compare with.
range=(--all --from 200001 --to 222201 --quiet)
"$build/bin/velmora-export" --db "$demo" --out "$tmp/expected" "${range[@]}" >/dev/null 2>&1

# --dir names the working folder.
mkdir "$tmp/named"
cp "$demo" "$tmp/named/Impuest.mdb"
HOME=$tmp/nobody "$bin/velmora-export" --dir "$tmp/named" "${range[@]}" >"$tmp/out" 2>&1 || fail "--dir: $(cat "$tmp/out")"
diff -r "$tmp/expected" "$tmp/named/RET-PERC" >/dev/null || fail "--dir wrote other files"
[ ! -e "$tmp/nobody" ] || fail "--dir created the home folder"

# Without it an installed program works in ~/Velmora, created at first start; with no database there it says so.
mkdir "$tmp/home"
status=0
HOME=$tmp/home "$bin/velmora-export" "${range[@]}" >"$tmp/out" 2>&1 || status=$?
[ "$status" = 3 ] && [ -d "$tmp/home/Velmora" ] || fail "first start: status $status, $(ls "$tmp/home")"
cp "$demo" "$tmp/home/Velmora/Impuest.mdb"
HOME=$tmp/home "$bin/velmora-export" "${range[@]}" >"$tmp/out" 2>&1 || fail "home: $(cat "$tmp/out")"
diff -r "$tmp/expected" "$tmp/home/Velmora/RET-PERC" >/dev/null || fail "the home folder got other files"

# A copy run from a folder that holds Impuest.mdb works there, as the build tree's does.
mkdir "$tmp/portable"
cp "$bin/velmora-export" "$tmp/portable/"
cp "$demo" "$tmp/portable/Impuest.mdb"
HOME=$tmp/nobody "$tmp/portable/velmora-export" "${range[@]}" >"$tmp/out" 2>&1 || fail "beside: $(cat "$tmp/out")"
diff -r "$tmp/expected" "$tmp/portable/RET-PERC" >/dev/null || fail "beside the executable: other files"
[ ! -e "$tmp/nobody" ] || fail "a copy beside Impuest.mdb created the home folder"
echo "install_test: every file installed; --dir, the home folder and the executable's folder work"
