#!/usr/bin/env bash
# Drives the real window under Xvfb on a big database, as a user would, and takes screenshots:
#   1. the TXT export cancelled with Cancelar: no file, no temporary file;
#   2. a window put over the main window during an export and taken away: the main window draws itself again;
#   3. the same export over an existing file: the question, then Cancelar: the old file as it was;
#   4. the export left to finish: the completion box, and the file.
#
# Usage: scripts/check-window-export.sh [program] [database] [taxpayer] [screenshot folder]
# Defaults: build-test/bin/velmora, build-test/impuest-xl.mdb (unpacked as ../shared/bench/README.md says), 30-00000001-7 (480,000 movements over 200001-222201),
# /tmp/velmora-window-check. The export should last well over half a second: a slower build (the thread sanitizer's)
# gives more time. Needs Xvfb, xdotool, xmessage (x11-utils) and ImageMagick's import.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
velmora=$(realpath "${1:-$top/build-test/bin/velmora}")
database=$(realpath "${2:-$top/build-test/impuest-xl.mdb}")
taxpayer=${3:-30-00000001-7}
shots=${4:-/tmp/velmora-window-check}
mkdir -p "$shots"
rm -f "$shots"/*.png

program=$(mktemp -d)
display_number=$((90 + RANDOM % 9))
cleanup() {
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null
    [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$program"
}
trap cleanup EXIT

cp "$velmora" "$program/velmora"
cp "$database" "$program/Impuest.mdb"
Xvfb ":$display_number" -screen 0 800x600x24 -nolisten tcp &
xvfb=$!
export DISPLAY=":$display_number"
sleep 1
"$program/velmora" &
app=$!
window=$(timeout 60 xdotool search --sync --name "O.R.V. - Velmora" | head -1)
sleep 1

shot() { import -window root "$shots/$1.png" && echo "$(date +%T.%N | cut -c1-12) screenshot $1"; }
# A click at a point of the main window, in pixels from its top left corner (the layout in twips, 15 a pixel).
click_at() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
export_txt() { click_at 272 370; }
cancel() {
    local dialog
    dialog=$(timeout 30 xdotool search --sync --name "Generando archivo" | head -1)
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    # Cancelar sits at the bottom right of the progress window.
    xdotool mousemove --window "$dialog" $((WIDTH - 50)) $((HEIGHT - 22)) click 1
    echo "$(date +%T.%N | cut -c1-12) Cancelar pressed"
}
# Waits for a message box (any top-level window titled Velmora but the main one).
await_box() { while [ "$(xdotool search --onlyvisible --name '^Velmora$' | wc -l)" -eq 0 ]; do sleep 0.05; done; }
answer_box() {
    xdotool key Return
    sleep 0.3
}

click_at 200 80
xdotool type --delay 20 "$taxpayer"
click_at 332 159  # Todo
folder="$program/RET-PERC"
file="$folder/RET-PERC-IB-${taxpayer//-/}-200001-222201.txt"

echo "== 1. Cancelar, no file before"
export_txt
echo "$(date +%T.%N | cut -c1-12) export started"
sleep 0.55
shot 1a-progress
cancel
await_box
shot 1b-cancelled-box
ls -A "$folder"
[ -z "$(ls -A "$folder")" ] && echo "no file left" || echo "FILES LEFT"
answer_box

echo "== 2. A window over the main window during an export"
xmessage -geometry 300x150+40+40 "covering the main window" &
cover=$!
sleep 0.5
export_txt
sleep 0.1
shot 2a-covered
kill "$cover"
sleep 0.2
shot 2b-uncovered
cancel
await_box
answer_box

echo "== 3. Cancelar over an existing file"
printf 'kept\r\n' >"$file"
export_txt
await_box
shot 3a-question
answer_box
sleep 0.4
shot 3b-progress
cancel
await_box
shot 3c-cancelled-box
ls -A "$folder"
[ "$(cat "$file")" = $'kept\r' ] && echo "old file kept" || echo "OLD FILE CHANGED"
answer_box

echo "== 4. Left to finish"
rm -f "$file"
start=$(date +%s.%N)
export_txt
sleep 0.6
shot 4a-progress
await_box
echo "completion box after $(echo "$(date +%s.%N) - $start" | bc) s"
shot 4b-completed-box
echo "lines written: $(wc -l <"$file")"
answer_box
shot 4c-after
