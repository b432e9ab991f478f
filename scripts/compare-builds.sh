#!/usr/bin/env bash
# Compares what two builds of velmora-export write for the same databases, file for file.
#
#   scripts/compare-builds.sh [-j N] OLD_EXPORT NEW_EXPORT FILE...
#
# For each database, each executable exports every taxpayer over 200001-222201 six times: --format txt,
# --format csv with --dialect 0, 1 and 2, --format xls and --format xlsx, each with --check --quiet --replace into a
# fresh output folder. The two runs of a format must agree on
#   - the exit status;
#   - the standard output, the output folder's path put as <OUT> (both runs write to the same path, one after the
#     other, so the path never differs anyway);
#   - the files written: the same names, the same bytes for txt, csv and xls; for xlsx the same worksheet and
#     shared strings parts (the package's other parts hold the time it was written);
#   - standard error, where only lines the new build prints and the old does not count: timings differ, and the
#     summary line that ends it is left out.
#
# An executable whose name ends in .exe is the Windows build, run under Wine (in the prefix VELMORA_WINEPREFIX, by
# default build-windows/wine beside it, as scripts/build-windows.sh makes it), its database and output folder named
# as Windows names them (Z:\...). Its outputs are read as Linux's: CR LF line ends as LF, the paths of the database
# and the output folder in the form given to the Linux build, "<OUT>\" as "<OUT>/". Formats it does not write
# (xlsx) are left out, and the Linux build's advice to choose XLSX for a range too long for an .XLS reads as the
# Windows build's, which does not offer it. Its .XLS workbooks are compared byte for byte when they are the same, and otherwise by what
# libfreexl reads of them on Linux (the compound file of Windows's structured storage is laid out differently from
# libgsf's, around the same stream): tests/tools/xls_cells, found beside the Linux build's executable
# (../tests/xls_cells) or named by VELMORA_XLS_CELLS. The summary says how many were compared which way.
# One line is printed for each difference (database, format, what differs and, for a text, the first line that
# differs), then a summary. The exit status is 0 when everything is identical, 1 when something differs, 2 for a
# wrong invocation.
#
# -j N compares N databases at once (1 unless given); the formats of one database always run one after the other.
# VELMORA_COMPARE_TIMEOUT (seconds, 300 unless set) bounds each run: a run that takes longer counts as exit status
# 124.
set -uo pipefail

readonly RANGE=(--all --from 200001 --to 222201 --check --quiet --replace)
readonly RUNS=("txt:--format txt" "csv0:--format csv --dialect 0" "csv1:--format csv --dialect 1"
  "csv2:--format csv --dialect 2" "xls:--format xls" "xlsx:--format xlsx")

usage() {
  echo "usage: $0 [-j N] OLD_EXPORT NEW_EXPORT FILE..." >&2
  exit 2
}

# A text cut short for a report line, its tabs and CRs made visible.
shown() {
  local text=${1:0:200}
  [[ ${#1} -gt 200 ]] && text+="…"
  text=${text//$'\t'/'\t'}
  text=${text//$'\r'/'\r'}
  printf '%s' "$text"
}

# The first byte where two files differ, as cmp counts them; past the end of the shorter one if one is the other's
# beginning.
differing_byte() {
  cmp "$1" "$2" 2>&1 | sed -n 's/.*differ: byte \([0-9]*\).*/\1/p;s/.*EOF on .* after byte \([0-9]*\).*/\1/p'
}

# The first line where two files differ, as "line N: old «…», new «…»".
first_line_difference() {
  local n=0 a b ra rb
  exec 3<"$1" 4<"$2"
  while :; do
    ((n++))
    # A last line without its line end is a line too.
    IFS= read -r a <&3 || [[ -n $a ]] || ra=1
    IFS= read -r b <&4 || [[ -n $b ]] || rb=1
    if [[ -n ${ra:-} && -n ${rb:-} ]]; then
      # Same lines: the bytes differ elsewhere (a line end).
      printf 'byte %s' "$(differing_byte "$1" "$2")"
      break
    fi
    if [[ -n ${ra:-} || -n ${rb:-} || "$a" != "$b" ]]; then
      [[ -n ${ra:-} ]] && a="(no line)" || a="«$(shown "$a")»"
      [[ -n ${rb:-} ]] && b="(no line)" || b="«$(shown "$b")»"
      printf 'line %d: old %s, new %s' "$n" "$a" "$b"
      break
    fi
  done
  exec 3<&- 4<&-
}

# Where two files of long lines (XML) first differ: the byte, and the text around it in each.
first_byte_difference() {
  local at from
  at=$(differing_byte "$1" "$2")
  at=${at:-0}
  from=$((at > 40 ? at - 40 : 1))
  printf 'byte %s: old «%s», new «%s»' "$at" "$(shown "$(tail -c +"$from" "$1" | head -c 100)")" \
    "$(shown "$(tail -c +"$from" "$2" | head -c 100)")"
}

# Whether an executable is the Windows build.
is_windows() { [[ $1 == *.exe ]]; }

# A Linux path as Wine's drive Z: names it.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# Runs one executable: the Windows build under Wine, its --db and --out named as Windows names them.
run_export() {
  local exe=$1 db=$2 out=$3
  shift 3
  if is_windows "$exe"; then
    WINEPREFIX=$wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d" DISPLAY= \
      timeout --kill-after=5 "${VELMORA_COMPARE_TIMEOUT:-300}" wine "$exe" --db "$(windows_path "$db")" \
      --out "$(windows_path "$out")" "$@"
  else
    timeout --kill-after=5 "${VELMORA_COMPARE_TIMEOUT:-300}" "$exe" --db "$db" --out "$out" "$@"
  fi
}

# A text the Windows build wrote, read as Linux's: LF line ends, the database's and the output folder's paths in the
# Linux form.
as_linux_text() {
  local file=$1 db=$2 out=$3
  sed_literal() { printf '%s' "$1" | sed 's/[][\\|.*^$]/\\&/g'; }
  sed -i -e 's/\r$//' -e "s|$(sed_literal "$(windows_path "$out")")\\\\|$(sed_literal "$out")/|g" \
    -e "s|$(sed_literal "$(windows_path "$out")")|$(sed_literal "$out")|g" \
    -e "s|$(sed_literal "$(windows_path "$db")")|$(sed_literal "$db")|g" "$file"
}

# The Linux build's words where they name what only it offers: its advice, for a range an .XLS cannot hold, to
# choose XLSX too.
without_xlsx() {
  sed -i 's/ Elija un rango más corto, o el formato TXT, CSV o XLSX\./ Elija un rango más corto, o el formato TXT o CSV./' "$1"
}

# The worksheet and shared strings parts of an xlsx package, one name a line.
xlsx_parts() {
  unzip -Z1 "$1" 2>/dev/null | grep -E '^xl/(worksheets/[^/]+\.xml|sharedStrings\.xml)$' | LC_ALL=C sort
}

# Compares one database with both executables; prints a line for each difference.
compare_database() {
  local old=$1 new=$2 scratch=$3 db=$4
  local work status_old status_new run label side exe args out differences=0
  work=$(mktemp -d "$scratch/db.XXXXXX") || {
    echo "$db: cannot make a scratch folder"
    return
  }
  report() {
    echo "$db [$label] $*"
    differences=$((differences + 1))
  }
  for run in "${RUNS[@]}"; do
    label=${run%%:*}
    read -r -a args <<<"${run#*:}"
    # The Windows build writes no .xlsx: only the formats both write are compared.
    if [[ $label == xlsx ]] && { is_windows "$old" || is_windows "$new"; }; then continue; fi
    for side in old new; do
      [[ $side == old ]] && exe=$old || exe=$new
      out="$work/out"
      rm -rf "$out"
      run_export "$exe" "$db" "$out" "${RANGE[@]}" "${args[@]}" >"$work/$side.stdout" 2>"$work/$side.stderr"
      printf -v "status_$side" '%d' $?
      if is_windows "$exe"; then
        as_linux_text "$work/$side.stdout" "$db" "$out"
        as_linux_text "$work/$side.stderr" "$db" "$out"
      elif is_windows "$old" || is_windows "$new"; then
        without_xlsx "$work/$side.stdout"
      fi
      # The output folder's path as a placeholder; the folder kept aside for the comparison.
      sed -i "s|$(printf '%s' "$out" | sed 's/[][\\|.*^$]/\\&/g')|<OUT>|g" "$work/$side.stdout"
      rm -rf "${work:?}/$side"
      if [[ -d $out ]]; then mv "$out" "$work/$side"; else mkdir "$work/$side"; fi
    done

    [[ $status_old == "$status_new" ]] || report "exit status: old $status_old, new $status_new"
    cmp -s "$work/old.stdout" "$work/new.stdout" ||
      report "stdout $(first_line_difference "$work/old.stdout" "$work/new.stdout")"

    # Standard error: the lines the new build adds, the summary line (counts, written 1.000, and the time taken)
    # left out.
    local summary='^[^:]+: [0-9.]+( · [^:]+: -?[0-9.]+)+ · [^:]+: [0-9.,]+ s$'
    grep -Ev "$summary" "$work/old.stderr" >"$work/old.errors"
    grep -Ev "$summary" "$work/new.stderr" >"$work/new.errors"
    if ! cmp -s "$work/old.errors" "$work/new.errors"; then
      local added
      added=$(grep -vxF -f "$work/old.errors" "$work/new.errors" | head -n 1)
      [[ -z $added ]] || report "stderr: new prints «$(shown "$added")»"
    fi

    # The files written.
    if [[ $label != xlsx ]] && diff -rq "$work/old" "$work/new" >/dev/null 2>&1; then
      if [[ $label == xls ]]; then
        ls -A "$work/new" | sed "s|^|$db |" >>"$scratch/xls-bytes"
      fi
      continue
    fi
    local name
    while IFS= read -r name; do
      report "file $name: only old writes it"
    done < <(LC_ALL=C comm -23 <(LC_ALL=C ls -A "$work/old") <(LC_ALL=C ls -A "$work/new"))
    while IFS= read -r name; do
      report "file $name: only new writes it"
    done < <(LC_ALL=C comm -13 <(LC_ALL=C ls -A "$work/old") <(LC_ALL=C ls -A "$work/new"))
    while IFS= read -r name; do
      local a="$work/old/$name" b="$work/new/$name"
      if [[ $name == *.xlsx ]]; then
        if ! unzip -tqq "$b" >/dev/null 2>&1; then
          unzip -tqq "$a" >/dev/null 2>&1 && report "file $name: the new one is no readable zip"
          continue
        fi
        if [[ "$(xlsx_parts "$a")" != "$(xlsx_parts "$b")" ]]; then
          report "file $name: worksheet parts differ: old $(xlsx_parts "$a" | tr '\n' ' ')," \
            "new $(xlsx_parts "$b" | tr '\n' ' ')"
          continue
        fi
        local part
        while IFS= read -r part; do
          unzip -p "$a" "$part" >"$work/old.part"
          unzip -p "$b" "$part" >"$work/new.part"
          cmp -s "$work/old.part" "$work/new.part" ||
            report "file $name: $part differs at $(first_byte_difference "$work/old.part" "$work/new.part")"
        done < <(xlsx_parts "$a")
      elif [[ $name == *.XLS ]] && cmp -s "$a" "$b"; then
        echo "$db $name" >>"$scratch/xls-bytes"
      elif ! cmp -s "$a" "$b"; then
        if [[ $name == *.XLS ]] && { is_windows "$old" || is_windows "$new"; }; then
          # Two compound files around the same workbook: what libfreexl reads of each.
          if "$xls_cells" "$a" >"$work/old.cells" 2>&1 && "$xls_cells" "$b" >"$work/new.cells" 2>&1 &&
            cmp -s "$work/old.cells" "$work/new.cells"; then
            echo "$db $name" >>"$scratch/xls-cells"
          else
            report "file $name: the cells differ at $(first_line_difference "$work/old.cells" "$work/new.cells")"
          fi
        elif [[ $name == *.XLS ]]; then
          report "file $name differs from byte $(differing_byte "$a" "$b") (old $(stat -c %s "$a") bytes," \
            "new $(stat -c %s "$b") bytes)"
        else
          report "file $name differs at $(first_line_difference "$a" "$b")"
        fi
      fi
    done < <(LC_ALL=C comm -12 <(LC_ALL=C ls -A "$work/old") <(LC_ALL=C ls -A "$work/new"))
  done
  rm -rf "$work"
  ((differences == 0)) || echo "$db" >>"$scratch/differing"
}

if [[ ${1:-} == --one ]]; then
  [[ $# -eq 5 ]] || usage
  wineprefix=${VELMORA_WINEPREFIX:-} xls_cells=${VELMORA_XLS_CELLS:-}
  compare_database "$2" "$3" "$4" "$5"
  exit 0
fi

jobs=1
while getopts "j:h" option; do
  case $option in
    j) [[ $OPTARG =~ ^[1-9][0-9]*$ ]] || usage; jobs=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[[ $# -ge 3 ]] || usage
# The executables as absolute paths (a bare name is looked for in PATH): the workers run this script again.
executable() {
  local path
  if path=$(command -v -- "$1") && path=$(readlink -f -- "$path") && [[ -f $path && -x $path ]]; then
    printf '%s' "$path"
  else
    echo "$0: $1 is not an executable" >&2
    return 2
  fi
}
old=$(executable "$1") || exit 2
new=$(executable "$2") || exit 2
shift 2
for db in "$@"; do
  [[ -f $db ]] || { echo "$0: $db is not a file" >&2; exit 2; }
done
for tool in unzip cmp diff timeout; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 2; }
done
# The Windows build's Wine prefix, and what reads its workbooks' cells.
export VELMORA_WINEPREFIX VELMORA_XLS_CELLS
for exe in "$old" "$new"; do
  is_windows "$exe" || continue
  command -v wine >/dev/null || { echo "$0: wine is needed to run $exe" >&2; exit 2; }
  VELMORA_WINEPREFIX=${VELMORA_WINEPREFIX:-$(dirname "$(dirname "$exe")")/wine}
done
for exe in "$old" "$new"; do
  if ! is_windows "$exe" && [[ -z ${VELMORA_XLS_CELLS:-} ]]; then
    VELMORA_XLS_CELLS=$(dirname "$(dirname "$exe")")/tests/xls_cells
  fi
done
if { is_windows "$old" || is_windows "$new"; } && [[ ! -x ${VELMORA_XLS_CELLS:-} ]]; then
  echo "$0: no xls_cells at ${VELMORA_XLS_CELLS:-}: build the Linux build's tests, or name it in VELMORA_XLS_CELLS" >&2
  exit 2
fi
self=$(readlink -f "$0")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/compare-builds.XXXXXX") || exit 2
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/differing" "$scratch/xls-bytes" "$scratch/xls-cells"
started=$SECONDS
printf '%s\0' "$@" | xargs -0 -n 1 -P "$jobs" bash "$self" --one "$old" "$new" "$scratch" | tee "$scratch/report"
workers=${PIPESTATUS[1]}
differences=$(wc -l <"$scratch/report")
databases=$(sort -u "$scratch/differing" | wc -l)
if ((workers != 0)); then
  echo "compare-builds: a comparison did not run to its end (status $workers)"
  differences=$((differences + 1))
fi
runs=${#RUNS[@]}
if is_windows "$old" || is_windows "$new"; then
  runs=$((runs - 1))
  wineserver_of() { WINEPREFIX=$VELMORA_WINEPREFIX wineserver -k 2>/dev/null || true; }
  wineserver_of
fi
echo "compare-builds: $# databases, $runs runs each, $((SECONDS - started)) s:" \
  "$( ((differences == 0)) && echo "identical" || echo "$differences differences in $databases databases")"
if [[ -s $scratch/xls-cells ]] || [[ -s $scratch/xls-bytes ]]; then
  echo "compare-builds: .XLS workbooks: $(wc -l <"$scratch/xls-bytes") the same byte for byte," \
    "$(wc -l <"$scratch/xls-cells") the same in every cell libfreexl reads (their compound files differ)"
fi
((differences == 0))
