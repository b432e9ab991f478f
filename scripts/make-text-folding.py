#!/usr/bin/env python3
"""Writes runtime/TextFoldingTables.inc, the tables of runtime/TextFolding.cpp, and runtime/UpperCaseTable.inc, the
table of runtime/UpperCase.cpp, from the Unicode Character Database that Debian's package unicode-data installs under
/usr/share/unicode (Unicode 15.0 on Debian 12, the version of GLib 2.74, whose folding the program's order of text
and whose upper case its files have always followed).

    scripts/make-text-folding.py [--ucd /usr/share/unicode] [--out runtime/TextFoldingTables.inc]
                                 [--upper-out runtime/UpperCaseTable.inc]

What a code point folds to:
  - its CaseFolding.txt mapping of status C or F (the full folding: "ß" to "ss"), where it has one;
  - otherwise, for an uppercase or titlecase letter (Lu, Lt), its simple lowercase mapping of UnicodeData.txt;
  - otherwise itself.
What a folded code point is without its accents: its full canonical decomposition (Hangul syllables by their
algorithm, which the C++ code applies itself) less every mark (Mn, Mc, Me). Canonical reordering only ever moves
characters of a nonzero combining class, which are all marks and all dropped, so each code point can be taken
alone; the script checks that this holds for the data it reads.

What a code point is in upper case, one character for one (g_unichar_toupper's rule): for a lowercase or titlecase
letter (Ll, Lt), its simple uppercase mapping of UnicodeData.txt where it has one; otherwise itself. A letter whose
capital is several characters ("ß" to "SS") has no simple mapping and stays as it is; a character of another kind
with an uppercase mapping (a combining mark, a circled letter, a small Roman numeral) stays as well.

The output is two C++ fragments of sorted tables; rerun the script and commit its output when the data change.
"""

import argparse
import pathlib
import subprocess
import sys

HANGUL_FIRST, HANGUL_LAST = 0xAC00, 0xD7A3


def read_unicode_data(path):
    """Code point -> (category, combining class, canonical decomposition, simple lowercase, simple uppercase)."""
    points = {}
    first = None
    for line in path.read_text(encoding="utf-8").splitlines():
        fields = line.split(";")
        code = int(fields[0], 16)
        name, category, combining = fields[1], fields[2], int(fields[3])
        decomposition = fields[5]
        canonical = [] if not decomposition or decomposition.startswith("<") else \
            [int(x, 16) for x in decomposition.split()]
        upper = int(fields[12], 16) if fields[12] else None
        lower = int(fields[13], 16) if fields[13] else None
        if name.endswith(", First>"):
            first = code
            continue
        if name.endswith(", Last>"):
            for c in range(first, code + 1):
                points[c] = (category, combining, [], None, None)
            continue
        points[code] = (category, combining, canonical, lower, upper)
    return points


def read_case_folding(path):
    folding = {}
    for line in path.read_text(encoding="utf-8").splitlines():
        line = line.split("#")[0].strip()
        if not line:
            continue
        code, status, mapping = [field.strip() for field in line.split(";")[:3]]
        if status in ("C", "F"):
            folding[int(code, 16)] = [int(x, 16) for x in mapping.split()]
    return folding


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--ucd", default="/usr/share/unicode")
    runtime = pathlib.Path(__file__).resolve().parent.parent / "runtime"
    parser.add_argument("--out", default=str(runtime / "TextFoldingTables.inc"))
    parser.add_argument("--upper-out", default=str(runtime / "UpperCaseTable.inc"))
    args = parser.parse_args()
    ucd = pathlib.Path(args.ucd)
    if not (ucd / "UnicodeData.txt").exists():
        sys.exit(f"{ucd}/UnicodeData.txt is missing: install Debian's package unicode-data "
                 "(scripts/install-deps.sh does)")
    points = read_unicode_data(ucd / "UnicodeData.txt")
    folding = read_case_folding(ucd / "CaseFolding.txt")
    version = (ucd / "CaseFolding.txt").read_text(encoding="utf-8").splitlines()[0].lstrip("# ")

    def is_mark(c):
        return c in points and points[c][0] in ("Mn", "Mc", "Me")

    def fold(c):
        if c in folding:
            return folding[c]
        if c in points and points[c][0] in ("Lu", "Lt") and points[c][3] is not None:
            return [points[c][3]]
        return [c]

    def decompose(c):
        if c in points and points[c][2]:
            return [d for part in points[c][2] for d in decompose(part)]
        return [c]

    for c, (category, combining, *_) in points.items():
        if combining != 0 and not is_mark(c):
            sys.exit(f"U+{c:04X} has combining class {combining} but is no mark: each code point cannot be taken alone")

    folds = {c: fold(c) for c in range(0x110000) if fold(c) != [c]}
    # What a folded text's code points become without accents; Hangul syllables are left to the algorithm.
    plain = {}
    for c in range(0x110000):
        if is_mark(c) or HANGUL_FIRST <= c <= HANGUL_LAST:
            continue
        stripped = [d for d in decompose(c) if not is_mark(d)]
        if stripped != [c]:
            plain[c] = stripped
    marks = []
    for c in range(0x110000):
        if is_mark(c):
            if marks and marks[-1][1] == c - 1:
                marks[-1][1] = c
            else:
                marks.append([c, c])

    def table(name, mapping):
        pool, entries, where = [], [], {}
        for c in sorted(mapping):
            target = tuple(mapping[c])
            if target not in where:
                where[target] = len(pool)
                pool.extend(target)
            entries.append((c, where[target], len(target)))
        lines = [f"constexpr char32_t {name}Pool[] = {{"]
        lines += wrap([f"0x{c:X}," for c in pool])
        lines.append("};")
        lines.append(f"constexpr Mapping {name}[] = {{")
        lines += wrap([f"{{0x{c:X}, {offset}, {length}}}," for c, offset, length in entries])
        lines.append("};")
        return lines

    def wrap(items):
        lines, line = [], "   "
        for item in items:
            if len(line) + 1 + len(item) > 120:
                lines.append(line)
                line = "   "
            line += " " + item
        if line.strip():
            lines.append(line)
        return lines

    out = [
        f"// Written by scripts/make-text-folding.py from the Unicode Character Database ({version}); do not edit.",
        "// Included by runtime/TextFolding.cpp only.",
        "",
        "// A code point's case folding, where it is not the code point itself.",
    ]
    out += table("kFold", folds)
    out += ["", "// A folded code point without its accents, where it is not the code point itself (marks and Hangul "
            "syllables", "// aside)."]
    out += table("kPlain", plain)
    out += ["", "// The marks (Mn, Mc, Me), first and last code point of each run.", "constexpr MarkRun kMarks[] = {"]
    out += wrap([f"{{0x{a:X}, 0x{b:X}}}," for a, b in marks])
    out.append("};")
    pathlib.Path(args.out).write_text("\n".join(out) + "\n", encoding="utf-8")
    print(f"{args.out}: {len(folds)} foldings, {len(plain)} decompositions, {len(marks)} runs of marks ({version})")

    uppers = {c: point[4] for c, point in sorted(points.items())
              if point[0] in ("Ll", "Lt") and point[4] is not None and point[4] != c}
    out = [
        f"// Written by scripts/make-text-folding.py from the Unicode Character Database ({version}); do not edit.",
        "// Included by runtime/UpperCase.cpp only.",
        "",
        "// A lowercase or titlecase letter's simple uppercase mapping, where it has one: the code point and its capital.",
        "constexpr UpperCase kUpper[] = {",
    ]
    out += wrap([f"{{0x{c:X}, 0x{u:X}}}," for c, u in uppers.items()])
    out.append("};")
    pathlib.Path(args.upper_out).write_text("\n".join(out) + "\n", encoding="utf-8")
    print(f"{args.upper_out}: {len(uppers)} capitals ({version})")


if __name__ == "__main__":
    main()
