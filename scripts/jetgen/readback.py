"""Reading a written file back: mdbtools as a second reader, the index pages from the file's bytes, and the
program's exports searching the indexes and scanning."""
import datetime
import shutil
import struct
import subprocess

from .jet import (EPOCH, INDEX_BITMAP_START, INDEX_ENTRIES_START, PAGE, SLOT_DELETED, SLOT_STUB, T_BOOL, T_BYTE,
                  T_DATE, T_DOUBLE, T_FLOAT, T_INT, T_LONG, T_MONEY, TABLES, TableDef, Template, date_parts,
                  decode_row, map_pages, page_rows, u16, u32)
from .writer import long_key


NULL_MARK = "\x02"


def exported_value(col, v):
    """A value as mdb-export prints it (dates as %Y-%m-%d %H:%M:%S, Null as NULL_MARK)."""
    if col.type == T_BOOL:
        return "1" if v else "0"
    if v is None or v == "":
        # mdb-export prints an empty text as it prints Null.
        return NULL_MARK
    if col.type in (T_BYTE, T_INT, T_LONG):
        return str(v)
    if col.type == T_MONEY:
        return ("-" if v < 0 else "") + f"{abs(v) // 10000}.{abs(v) % 10000:04d}"
    if col.type == T_FLOAT:
        return "%.8g" % v
    if col.type == T_DOUBLE:
        return "%.16g" % v
    if col.type == T_DATE:
        # mdbtools leaves the date empty (its fields zero) outside 1899-12-30 .. about 4637, and rounds the time of
        # day to the second.
        if not 0.0 <= v <= 1e6:
            return "1900-01-00 00:00:00"
        day = int(v)
        secs = int((v - day) * 86400.0 + 0.5)
        d = datetime.date.fromordinal(day + EPOCH)
        return "%04d-%02d-%02d %02d:%02d:%02d" % (d.year, d.month, d.day, secs // 3600, secs // 60 % 60, secs % 60)
    return v


def mdb_export_rows(path, table):
    out = subprocess.run(
        ["mdb-export", "-H", "-Q", "-d", "\x1f", "-R", "\x1e\n", "-0", NULL_MARK, "-D", "%Y-%m-%d %H:%M:%S",
         "-T", "%Y-%m-%d %H:%M:%S", str(path), table],
        capture_output=True, check=True).stdout.decode("utf-8")
    rows = out.split("\x1e\n")
    if rows[-1] != "":
        raise ValueError(f"mdb-export {table}: output does not end with a row")
    return [r.split("\x1f") for r in rows[:-1]]


def verify_with_mdbtools(path, built, numref_chars=20):
    """Differences between what mdb-export reads and what was written, as texts (none when all is well).
    `numref_chars`: the size CMD_NumRef was given."""
    problems = []
    for name in TABLES:
        tdef = built.tdefs[name]
        want = [[exported_value(c, row.get(c.name)) for c in tdef.columns] for row in built.stored[name]]
        try:
            got = mdb_export_rows(path, name)
        except (subprocess.CalledProcessError, ValueError, UnicodeDecodeError) as e:
            problems.append(f"{name}: mdb-export failed: {e}")
            continue
        if len(got) != len(want):
            problems.append(f"{name}: mdb-export reads {len(got)} rows, {len(want)} were written")
        for n, (g, w) in enumerate(zip(got, want)):
            if g != w:
                cols = [c.name for c, a, b in zip(tdef.columns, g, w) if a != b] or ["column count"]
                problems.append(f"{name}: row {n + 1} differs in {', '.join(cols)}: read {g!r}, written {w!r}")
                break
    schema = subprocess.run(["mdb-schema", str(path)], capture_output=True).stdout.decode("utf-8", "replace")
    if f"[CMD_NumRef]\t\t\tText ({numref_chars})" not in schema:
        problems.append(f"mdb-schema does not show CMD_NumRef as Text ({numref_chars})")
    # The indexes libmdb lists (mdb_read_indices), as its PostgreSQL schema names them.
    schema = subprocess.run(["mdb-schema", "--indexes", str(path), "postgres"],
                            capture_output=True).stdout.decode("utf-8", "replace")
    for table, key, foreign in (("cmd", "cmd_id", None), ("form_cp01", "cp01_id", "cmd_id"),
                                ("form_sid3", "sid_id", "cp01_id"), ("percepciones", "per_id", "sid_id"),
                                ("retenciones", "per_id", "sid_id")):
        wanted = [f'ALTER TABLE "{table}" ADD CONSTRAINT "{table}_pkey" PRIMARY KEY ("{key}");']
        if foreign:
            wanted.append(f'CREATE INDEX "{table}_{foreign}_idx" ON "{table}" ("{foreign}");')
        problems += [f"mdb-schema does not list: {w}" for w in wanted if w not in schema]
    return problems


def index_entries(page):
    """The entries of an index page, whole: the shared prefix is taken from the first."""
    prefix = u16(page, 0x18)
    out, last, first = [], 0, None
    for i in range(INDEX_ENTRIES_START - INDEX_BITMAP_START):
        byte = page[INDEX_BITMAP_START + i]
        for j in range(8):
            if byte >> j & 1:
                end = i * 8 + j
                raw = bytes(page[INDEX_ENTRIES_START + last:INDEX_ENTRIES_START + end])
                if first is None:
                    first = raw
                    out.append(raw)
                else:
                    out.append(first[:prefix] + raw)
                last = end
    return out


def long_of_key(key):
    """The Long an index key holds."""
    v = int.from_bytes(key[1:5], "big") ^ 0x80000000
    return v - (1 << 32) if v >= 1 << 31 else v


def check_indexes(path, unusual=None, tails=None):
    """Reads the indexes of a written file back from its bytes: every tree well formed (node entries the last entry
    under their child, leaves chained in order, entries in order), one entry for each row the table holds, with the
    row's key, and a search of each key of a Long index, done as the program does it, finding exactly its rows.
    `unusual` gives the keys that are not the row's value (Built.unusual_keys): without them a text index's keys are
    not checked, and it is taken to leave out the rows whose value is Null. `tails`, a dict, gets for each Long index
    the keys whose search goes through a node's tail page, each with the number of tail pages it goes through."""
    unusual = unusual or {}
    db = Template(path, any_password=True)
    pages = db.pages
    problems = []
    parsed = {}

    def index_entries_at(pg):
        if pg not in parsed:
            parsed[pg] = index_entries(pages[pg])
        return parsed[pg]

    for name in TABLES:
        tdef = TableDef(db.table_pages[name], pages[db.table_pages[name]])
        # The rows a scan meets, where the index must point: a moved row through its stub.
        scanned, stubs = set(), {}
        for pg in map_pages(pages, db.map_row(tdef.used_map)):
            page = pages[pg]
            if page[0] != 0x01 or u32(page, 4) != tdef.page:
                problems.append(f"{name}: page {pg} of its map is not one of its data pages")
                continue
            for slot, (raw, start, end) in enumerate(page_rows(page)):
                if raw & 0xC000 == SLOT_STUB:
                    stubs[pg << 8 | slot] = page[start + 1] | page[start + 2] << 8 | page[start + 3] << 16
                    stubs[pg << 8 | slot] = stubs[pg << 8 | slot] << 8 | page[start]
                elif raw & 0xC000 != SLOT_DELETED:
                    scanned.add(pg << 8 | slot)
        if len(scanned) != u32(pages[tdef.page], 16):
            problems.append(f"{name}: {len(scanned)} rows, the definition says {u32(pages[tdef.page], 16)}")
        for i in range(len(tdef.real)):
            col = next(c for c in tdef.columns if c.num == tdef.index_column(i))
            label = f"{name}.{col.name} index"
            try:
                leaves = []

                def walk(pg, depth):
                    page = pages[pg]
                    if u32(page, 4) != tdef.page or page[0] not in (3, 4) or depth > 10:
                        raise ValueError(f"page {pg} is not one of its index pages")
                    entries = index_entries_at(pg)
                    if page[0] == 4:
                        leaves.append(pg)
                        return entries
                    tail = u32(page, 20)
                    children = [u32(e[-4:][::-1], 0) for e in entries] + ([tail] if tail else [])
                    under = []
                    for k, child in enumerate(children):
                        sub = walk(child, depth + 1)
                        if not sub:
                            raise ValueError(f"node page {pg} leads to an empty page")
                        if k < len(entries) and entries[k][:-4] != sub[-1]:
                            raise ValueError(f"node page {pg}: entry {k} is not the last entry under page {child}")
                        under += sub
                    return under

                root = tdef.index_root(i)
                tree = walk(root, 0)
                chain, pg, prev = [], leaves[0], 0
                while pg:
                    page = pages[pg]
                    if page[0] != 4 or u32(page, 12) != prev:
                        raise ValueError(f"leaf {pg} is not chained to the leaf before it")
                    chain += index_entries_at(pg)
                    prev, pg = pg, u32(page, 16)
                if chain != tree:
                    raise ValueError("the chain of leaves and the tree hold different entries")
                if any(a >= b for a, b in zip(tree, tree[1:])):
                    raise ValueError("entries out of order")
                given = unusual.get((name, col.name), {})

                def wanted(where):
                    """The key the entry of the row at `where` carries; None for a row the index leaves out, True for
                    a text key not given."""
                    page = pages[where >> 8]
                    _, start, end = page_rows(page)[where & 0xFF]
                    values = decode_row(tdef, page, start, end)
                    if values[tdef.columns[0].name] in given:
                        return given[values[tdef.columns[0].name]]
                    if col.type == T_LONG:
                        return long_key(values[col.name])
                    return None if values[col.name] is None else True

                pointed = set()
                for e in tree:
                    key, pointer = e[:-4], int.from_bytes(e[-4:], "big")
                    where = stubs.get(pointer, pointer)
                    if where not in scanned or pointer in pointed:
                        raise ValueError(f"an entry points at page {pointer >> 8} slot {pointer & 0xFF}, "
                                         "which is no row or another entry's")
                    pointed.add(pointer)
                    if wanted(where) not in (key, True):
                        raise ValueError(f"the entry for page {where >> 8} slot {where & 0xFF} has another key")
                entered = sum(wanted(where) is not None for where in scanned)
                if len(pointed) != entered:
                    raise ValueError(f"{len(pointed)} entries for {entered} rows")
                if col.type != T_LONG:
                    continue
                # The program's search: down the nodes to the first entry not below the key, or the tail; then
                # along the leaves.
                by_key = {}
                for e in tree:
                    by_key.setdefault(e[:-4], []).append(e)
                for key in list(by_key) + [long_key(v) for v in (-5, 0, 10**6, 2**31 - 1)]:
                    want = by_key.get(key, [])
                    pg, through_tail = root, 0
                    while pages[pg][0] == 3:
                        entries = index_entries_at(pg)
                        down = next((e for e in entries if e[:-8] >= key), None)
                        through_tail += not down and u32(pages[pg], 20) != 0
                        pg = u32(down[-4:][::-1], 0) if down else (u32(pages[pg], 20) or
                                                                    u32(entries[-1][-4:][::-1], 0))
                    if through_tail and want and tails is not None:
                        tails.setdefault(f"{name}.{col.name}", []).append((long_of_key(key), through_tail))
                    found = []
                    while pg:
                        more = [e for e in index_entries_at(pg) if e[:-4] >= key]
                        found += [e for e in more if e[:-4] == key]
                        if any(e[:-4] > key for e in more):
                            break
                        pg = u32(pages[pg], 16)
                    if found != want:
                        raise ValueError(f"a search of key {key.hex()} finds {len(found)} rows, not {len(want)}")
            except (ValueError, IndexError, struct.error) as e:
                problems.append(f"{label}: {e}")
    return problems


def without_index_roots(data, tdefs):
    """The file with every index root taken away (first page 0): the program then scans the tables."""
    b = bytearray(data)
    for tdef in tdefs.values():
        page = tdef.page * PAGE
        n_cols, n_ridx = u16(b, page + 45), u32(b, page + 51)
        o = page + 63 + 12 * n_ridx + 25 * n_cols
        for _ in range(n_cols):
            o += 2 + u16(b, o)
        for i in range(n_ridx):
            struct.pack_into("<I", b, o + 52 * i + 38, 0)
    return bytes(b)


def export_all(program, db, out):
    if out.exists():
        shutil.rmtree(out)
    run = subprocess.run([program, "--db", str(db), "--out", str(out), "--all", "--from", "200001", "--to", "222201",
                          "--format", "txt", "--check", "--quiet"], capture_output=True)
    files = {p.name: p.read_bytes() for p in sorted(out.iterdir())} if out.exists() else {}
    stdout = run.stdout.decode("utf-8", "replace").replace(str(out), "OUT")
    return run.returncode, stdout, run.stderr.decode("utf-8", "replace"), files


def verify_with_program(program, path, built, scratch):
    """Problems met exporting every taxpayer with `program`, searching the indexes and scanning; the number of
    movements exported."""
    problems = []
    code, stdout, stderr, files = export_all(program, path, scratch / "indexed")
    for text in (stdout, stderr):
        if "damaged" in text:
            problems.append("velmora-export: " + next(l for l in text.splitlines() if "damaged" in l))
    # A search meets rows of equal keys in index order, by page and slot, a scan in storage order, a moved row at
    # its stub in both: the same order. So the same exports are expected but from files with index entries whose
    # keys are not their rows' values (a search misses the row its entry misnames; the name index orders the
    # taxpayers as it says).
    compared = not built.unusual_keys
    if compared:
        plain = scratch / "scanned.mdb"
        plain.write_bytes(without_index_roots(built.data, built.tdefs))
        code2, stdout2, _, files2 = export_all(program, plain, scratch / "scanned")
        stdout2 = stdout2.replace(str(plain), str(path))
        if (code, stdout, files) != (code2, stdout2, files2):
            detail = "exit status" if code != code2 else "standard output" if stdout != stdout2 else "files"
            problems.append(f"velmora-export: searching the indexes and scanning give different exports ({detail})")
    # The count of movements from the summary line, for the report.
    moved = 0
    for line in stderr.splitlines():
        if "· movimientos:" in line:
            moved = int(line.split("· movimientos:")[1].split("·")[0].strip() or 0)
    return problems, moved, len(files), compared


def json_dump(built):
    def value(col, v):
        if v is None or col.type not in (T_DATE, T_MONEY):
            return v
        if col.type == T_MONEY:
            return v / 10000
        parts = date_parts(v)
        return "%04d-%02d-%02dT%02d:%02d:%02d" % parts if parts else v
    return {name: [{c.name: value(c, row.get(c.name)) for c in built.tdefs[name].columns}
                   for row in built.scans[name]] for name in TABLES}
