#!/usr/bin/env bash
# The Windows installer under Wine, as a user's machine runs it: installed silently (/S), the installed program run
# once, the Start-menu entries and the uninstaller's entry there; removed silently, the program's files and entries
# gone, the user's working folder (Documentos\Velmora) left as it was.
#
#   tests/windows_install_test.sh <installer.exe>
set -euo pipefail
installer=$(realpath "$1")
export WINEPREFIX
WINEPREFIX=$(mktemp -d)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d" DISPLAY=
trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
wine wineboot --init >/dev/null 2>&1

fail() { echo "windows_install_test: $*" >&2; exit 1; }
unix() { winepath -u "$1" 2>/dev/null; }

wine "$installer" /S
program=$(unix 'C:\Program Files\Velmora')
for file in velmora.exe velmora-export.exe LEEME.txt desinstalar.exe; do
  [ -f "$program/$file" ] || fail "not installed: $file"
done
menu=$(unix 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Velmora')
[ -f "$menu/Velmora.lnk" ] || fail "no Start-menu entry for the window"
[ -f "$menu/Velmora - todos los contribuyentes.lnk" ] || fail "no Start-menu entry for the window of every taxpayer"
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora' /v DisplayName 2>/dev/null |
  grep -q Velmora || fail "no entry among the installed programs"
version=$(wine "$program/velmora-export.exe" --version | tr -d '\r')
[ "${version#velmora-export }" != "$version" ] || fail "the installed velmora-export.exe does not run: $version"

# The user's files stay when the program goes.
documents=$(unix 'C:\users\'"$(whoami)"'\Documents')
mkdir -p "$documents/Velmora/RET-PERC"
echo "del usuario" >"$documents/Velmora/RET-PERC/x.txt"
# The uninstaller copies itself aside and goes on from there, as on Windows: the test waits for Wine's last program.
wine "$program/desinstalar.exe" /S
wineserver -w
[ ! -e "$program/desinstalar.exe" ] || fail "the uninstaller left itself"
[ ! -e "$program/velmora.exe" ] || fail "velmora.exe left after removing the program"
[ ! -e "$menu" ] || fail "Start-menu entries left after removing the program"
if wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora' >/dev/null 2>&1; then
  fail "entry among the installed programs left after removing the program"
fi
[ "$(cat "$documents/Velmora/RET-PERC/x.txt")" = "del usuario" ] || fail "the user's files were touched"
echo "windows_install_test: installed, run and removed; the user's files kept"
