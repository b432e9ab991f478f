#!/usr/bin/env python3
"""The test-database generator's files read back by two readers, each of which must give exactly the rows written.

    tests/generator_roundtrip_test.py JET_ROWS

Random files of a few fixed seeds, a small bench file (--bench, written page by page as its rows come), and every rows
file of tests/data (*.json) written again from its rows with the command its notes give, which must give the
committed file byte for byte. Each file is then read
  - by mdbtools (mdb-export, mdb-schema), as the generator's --verify reads it, and its index pages from its bytes;
  - by the program's own reader, through JET_ROWS (tests/tools/jet_rows.cpp): every table's rows in scan order, and
    for every key of every index the reader can search, the rows the index gives, in index order;
and what the rows files are there for is checked in the bytes (a name index, tail pages, maps of several bitmap
pages, texts switching to UTF-16, rows of fewer columns, moved rows, index keys that are not their rows' values), so
that a generator that quietly stopped writing one of them fails here. The exit status is 1 when anything differs.
"""
import json
import math
import pathlib
import shlex
import struct
import subprocess
import sys
import tempfile

TESTS = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(TESTS.parent / "scripts"))

from jetgen.bench import BenchFile  # noqa: E402
from jetgen.cli import default_template  # noqa: E402
from jetgen.given import build_given, read_rows  # noqa: E402
from jetgen.jet import (PAGE, T_BOOL, T_LONG, T_MONEY, TABLES, TableDef, Template, encode_mixed_text,  # noqa: E402
                        map_pages, row_at, u32)
from jetgen.randomdata import build_file  # noqa: E402
from jetgen.readback import check_indexes, long_of_key, verify_with_mdbtools  # noqa: E402
from jetgen.sparse import expand, write_pages  # noqa: E402
from jetgen.writer import long_key  # noqa: E402

# Seeds and numbers of random files: among them files with moved and deleted rows, node pages and memos.
RANDOM_FILES = [(8, n) for n in range(6)] + [(31, n) for n in range(3)]
# A bench file's movements, taxpayers and seed: enough rows for node pages over the movements' indexes and a
# Form_Sid3.CP01_ID index sorted at the end, over several forms.
BENCH_FILE = (4000, 7, 3)
# Keys no row holds, searched too: a search must find nothing for them.
ABSENT_KEYS = (-2**31, -5, 0, 2**31 - 1)


def expected_value(col, v):
    """A value as the program's reader gives it (see jet_rows)."""
    if col.type == T_BOOL:
        return -1 if v else 0
    if v is None:
        return None
    if col.type == T_MONEY:
        return float(v) / 10000.0
    return v


def same(a, b):
    """Equality to the bit for doubles (0.0 and -0.0 differ), of a type for the rest."""
    if isinstance(a, float) or isinstance(b, float):
        if not (isinstance(a, float) and isinstance(b, float)):
            return False
        return struct.pack("<d", a) == struct.pack("<d", b) or (math.isnan(a) and math.isnan(b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return type(a) is type(b) and a == b


def row_difference(what, got, want):
    """A line naming the first row and columns that differ, or None."""
    for n, (g, w) in enumerate(zip(got, want)):
        if not same(g, w):
            if g is None or w is None:
                return f"{what}: row {n + 1} is {g!r}, {w!r} was written"
            cols = [c for c in w if c not in g or not same(g[c], w[c])] or ["columns"]
            return (f"{what}: row {n + 1} differs in {', '.join(cols)}: read "
                    f"{[g.get(c) for c in cols]!r}, written {[w[c] for c in cols]!r}")
    if len(got) != len(want):
        return f"{what}: {len(got)} rows read, {len(want)} written"
    return None


def searched_columns(built, name):
    """The columns of `name` whose index the program's reader searches: one Long column each."""
    tdef = built.tdefs[name]
    return [c.name for c in tdef.columns if c.type == T_LONG and (name, c.name) in built.index_order]


def read_with_program(jet_rows, path, built, password=None):
    """Differences between what the program's reader reads of `path`, opened with `password` (the program's unless
    given), and what was written."""
    keys = set(ABSENT_KEYS)
    for name in TABLES:
        for col in searched_columns(built, name):
            keys |= {r[col] for r in built.scans[name] if r[col] is not None}
    for (name, col), given in built.unusual_keys.items():
        if built.tdefs[name].column(col).type == T_LONG:
            keys |= {long_of_key(k) for k in given.values() if k is not None and k != b"\x00"}
    keys = sorted(keys)
    opened = [] if password is None else ["--password", password]
    run = subprocess.run([jet_rows, str(path)] + opened + ["--seek"] + [str(k) for k in keys], capture_output=True)
    if run.returncode != 0:
        return [f"jet_rows: exit status {run.returncode}: {run.stderr.decode('utf-8', 'replace').strip()}"]
    got = json.loads(run.stdout)
    problems = []
    for name in TABLES:
        tdef = built.tdefs[name]
        rows = {r["_id"]: {c.name: expected_value(c, r.get(c.name)) for c in tdef.columns} for r in built.scans[name]}
        want = [rows[r["_id"]] for r in built.scans[name]]
        problem = row_difference(f"{name} scanned", got.get(name, []), want)
        if problem:
            problems.append(problem)
        searched = got.get("_seeks", {}).get(name, {})
        if sorted(searched) != sorted(searched_columns(built, name)):
            problems.append(f"{name}: the reader searches the indexes of {sorted(searched)}, "
                            f"not of {sorted(searched_columns(built, name))}")
            continue
        for col in searched:
            entries = built.index_order[(name, col)]
            for key in keys:
                want = [rows[rid] for k, rid in entries if k == long_key(key)]
                problem = row_difference(f"{name}.{col} searched for {key}", searched[col].get(str(key), []), want)
                if problem:
                    problems.append(problem)
                    break
    return problems


def read_back(jet_rows, path, built, numref_chars=20, password=None):
    return (verify_with_mdbtools(path, built, numref_chars) + check_indexes(path, built.unusual_keys) +
            read_with_program(jet_rows, path, built, password))


# ----------------------------------------------------------------------------------------------------------------
# What each rows file holds, seen in the bytes


def stored_rows(db, name):
    """(flags, row bytes) of every slot of the table's data pages, in scan order."""
    tdef = TableDef(db.table_pages[name], db.pages[db.table_pages[name]])
    out = []
    for pg in map_pages(db.pages, db.map_row(tdef.used_map)):
        page = db.pages[pg]
        if page[0] != 1 or u32(page, 4) != tdef.page:
            continue
        for r in range(struct.unpack_from("<H", page, 12)[0]):
            raw = struct.unpack_from("<H", page, 14 + 2 * r)[0]
            end = PAGE if r == 0 else struct.unpack_from("<H", page, 12 + 2 * r)[0] & 0x1FFF
            out.append((raw & 0xC000, page[raw & 0x1FFF:end]))
    return out


def holds_what_it_says(name, given, built, db):
    """Problems with what the rows file `name` is there for, looked for in the file `db`."""
    problems = []
    tables, layout = given.tables, given.layout
    moved = {t for t in TABLES if any(r["_moved"] for r in tables[t])}
    for t in moved:
        if sum(flags == 0x4000 for flags, _ in stored_rows(db, t)) != sum(r["_moved"] for r in tables[t]):
            problems.append(f"{t}: not a stub for each moved row")
    for t in TABLES:
        counts = sorted(struct.unpack_from("<H", data, 0)[0] for flags, data in stored_rows(db, t) if flags != 0x4000)
        want = sorted(r["_columns"] for r in tables[t])
        if counts != want:
            problems.append(f"{t}: rows hold {counts} columns, not {want}")
        for r in tables[t]:
            for col in r["_compress"]:
                v = r[col]
                if v and any(ord(c) > 0xFF for c in v) and any(1 <= ord(c) <= 0xFF for c in v):
                    if encode_mixed_text(v) not in b"".join(data for _, data in stored_rows(db, t)):
                        problems.append(f"{t}: {v!r} is not stored compressed")
    if "name_index" in layout:
        order = [rid for _, rid in built.index_order.get(("CMD", "CMD_Contribuyente"), [])]
        if order != layout["name_index"]:
            problems.append(f"the name index gives {order}, not {layout['name_index']}")
    if "index_shape" in layout:
        tails = {}
        check_indexes_of(db, built, tails)
        # Every index with more entries than a leaf holds has node pages, and keys past a node's last entry.
        lacking = [f"{t}.{c}" for t in TABLES for c in searched_columns(built, t)
                   if len(built.index_order[(t, c)]) > layout["index_shape"][0] and f"{t}.{c}" not in tails]
        if lacking:
            problems.append(f"no key found through a tail page in {', '.join(lacking)}")
    if any(r["_page"] for t in TABLES for r in tables[t]):
        for t in TABLES:
            if not any(r["_page"] for r in tables[t]):
                continue
            tdef = TableDef(db.table_pages[t], db.pages[db.table_pages[t]])
            start, end = row_at(db.pages, tdef.used_map)
            row = db.pages[tdef.used_map >> 8][start:end]
            bitmaps = [u32(row, 1 + 4 * k) for k in range((len(row) - 1) // 4)]
            far = max(r["_page"] for r in tables[t] if r["_page"])
            if row[0] != 1 or sum(map(bool, bitmaps)) < 2 or not bitmaps[far // ((PAGE - 4) * 8)]:
                problems.append(f"{t}: its page map does not name a bitmap page for each stretch of its pages")
    if any(r["_index_key"] for t in TABLES for r in tables[t]) and not built.unusual_keys:
        problems.append("no index entry carries another key than its row's value")
    return problems


def check_indexes_of(db, built, tails):
    """check_indexes on the bytes of `db` (a Template), filling `tails`."""
    with tempfile.NamedTemporaryFile(suffix=".mdb") as f:
        f.write(b"".join(db.pages))
        f.flush()
        check_indexes(f.name, built.unusual_keys, tails)


def written_with(json_path):
    """The files a rows file's notes say were written from it: the --out, --seed and --password of each command."""
    notes = json.loads(json_path.read_text(encoding="utf-8")).get("_notes", [])
    written = []
    for line in (n for n in notes if n.startswith("Written with:")):
        args = shlex.split(line.split(":", 1)[1])
        option = lambda name, default: args[args.index(name) + 1] if name in args else default  # noqa: E731
        written.append((TESTS.parent / option("--out", ""), int(option("--seed", 0)), option("--password", None)))
    if not written:
        sys.exit(f"{json_path}: no note says how its file was written (Written with: ...)")
    return written


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    jet_rows = sys.argv[1]
    template = Template(default_template())
    results = []
    with tempfile.TemporaryDirectory(prefix="generator-roundtrip-") as tmp:
        tmp = pathlib.Path(tmp)
        for seed, number in RANDOM_FILES:
            built = build_file(template, seed, number)
            path = tmp / f"random-{seed}-{number:04d}.mdb"
            path.write_bytes(built.data)
            results.append((path.name, read_back(jet_rows, path, built)))
        movements, taxpayers, seed = BENCH_FILE
        path = tmp / f"bench-{movements}.mdb"
        bench = BenchFile(template, movements, taxpayers, seed, keep=True)
        built = bench.write(path)
        problems = bench.check_rows() + read_back(jet_rows, path, built, numref_chars=13)
        if not built.stats["node pages"]:
            problems.append("no index node pages: make the bench file bigger")
        results.append((path.name, problems))
        stats = [build_file(template, s, n).stats for s, n in RANDOM_FILES]
        if not all(any(s[k] for s in stats) for k in ("moved", "deleted", "node pages")):
            results.append(("random files", ["no file with moved or deleted rows or node pages: choose other seeds"]))

        for json_path in sorted((TESTS / "data").glob("*.json")):
            for committed, seed, password in written_with(json_path):
                given = read_rows(json_path, template)
                if password is not None:
                    given.layout["password"] = password
                built = build_given(template, given, seed)
                problems = []
                if committed.suffix == ".pages":
                    written = tmp / committed.name
                    write_pages(written, built.data, PAGE)
                    path = tmp / committed.with_suffix(".mdb").name
                    expand(committed, path)
                else:
                    written = path = committed
                if committed.read_bytes() != (written.read_bytes() if written != committed else built.data):
                    problems.append(f"{committed.name} is not what its rows file and seed {seed} write")
                # A file without a password opens with any, as Jet opens it.
                problems += read_back(jet_rows, path, built, password=password or None)
                problems += holds_what_it_says(json_path.name, given, built, Template(path, any_password=True))
                results.append((committed.name, problems))

    failed = 0
    for name, problems in results:
        print(f"{name}: {'FAILED' if problems else 'ok'}")
        for p in problems:
            print("  " + p)
        failed += bool(problems)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
