"""Writes rows into a copy of the template: data pages, long value pages, the index B-trees (leaf, node and tail
pages) and the page maps, then the patched definitions and the header."""
import struct
import unicodedata

from .jet import (INDEX_BITMAP_START, INDEX_ENTRIES_START, INDEX_SPACE, MAP_PAGE_BITS, MAP_ROW, PAGE, PASSWORD,
                  SLOT_DELETED, SLOT_MOVED, SLOT_STUB, T_BOOL, T_BYTE, T_DATE, T_DOUBLE, T_FLOAT, T_INT, T_LONG,
                  T_MEMO, T_MONEY, T_TEXT, TABLES, TableDef, date_value, encode_mixed_text, encode_text, page_rows,
                  set_header, u32)


class Page:
    """A page to write: its number is given once every page of the file is known."""

    def __init__(self, kind):
        self.kind = kind
        self.num = None


# The longest row a long value page holds: the page less its header and one slot.
LONG_VALUE_ROOM = PAGE - 14 - 2


class DataPage(Page):
    def __init__(self, owner, kind="data"):
        super().__init__(kind)
        self.owner = owner  # a table definition page, or None for a long value page
        self.slots = []  # [bytearray, flags, the row it holds]
        self.used = 0
        self.start = None  # the page number a rows file asks for

    def room(self):
        return PAGE - 14 - 2 * len(self.slots) - self.used

    def add(self, data, flags=0, row=None):
        self.slots.append([bytearray(data), flags, row])
        self.used += len(data)
        return len(self.slots) - 1

    def to_bytes(self):
        b = bytearray(PAGE)
        b[0], b[1] = 0x01, 0x01
        struct.pack_into("<H", b, 2, self.room())
        if self.owner is None:
            b[4:8] = b"LVAL"
        else:
            struct.pack_into("<I", b, 4, self.owner)
        struct.pack_into("<H", b, 12, len(self.slots))
        end = PAGE
        for i, (data, flags, _) in enumerate(self.slots):
            start = end - len(data)
            b[start:end] = data
            struct.pack_into("<H", b, 14 + 2 * i, start | flags)
            end = start
        return bytes(b)


class RowPointer:
    """Where a row lies: a page object and a slot, made a number once pages are numbered."""

    def __init__(self, page, slot):
        self.page, self.slot = page, slot

    def value(self):
        return self.page.num << 8 | self.slot


class TableWriter:
    """Turns a table's rows into row bytes on data pages."""

    def __init__(self, tdef, rng):
        self.tdef = tdef
        self.rng = rng
        fixed = [c for c in tdef.columns if c.fixed and c.type != T_BOOL]
        self.fixed_size = max((c.fixed_offset + c.length for c in fixed), default=0)
        self.pages = []
        self.lval_pages = []
        # Pointers written once pages are numbered: (where, offset in that row, RowPointer), offset 0 for a stub.
        self.patches = []

    def encode(self, row):
        tdef = self.tdef
        # A row written before columns were added holds only the first ones, by number: the fixed ones among them
        # and as many variable ones.
        n = row.get("_columns", tdef.max_cols)
        held = [c for c in tdef.columns if c.num < n]
        mask = bytearray((n + 7) // 8)
        if n == tdef.max_cols:
            fixed = bytearray(self.fixed_size)
            var = [b""] * tdef.var_count
        else:
            fixed = bytearray(max((c.fixed_offset + c.length for c in held if c.fixed and c.type != T_BOOL),
                                  default=0))
            var = [b""] * sum(not c.fixed for c in held)
        lval = []
        for c in held:
            v = row.get(c.name)
            if c.type == T_BOOL:
                if v:
                    mask[c.num // 8] |= 1 << (c.num % 8)
                continue
            if v is None:
                continue
            mask[c.num // 8] |= 1 << (c.num % 8)
            if c.type == T_BYTE:
                data = struct.pack("<B", v)
            elif c.type == T_INT:
                data = struct.pack("<h", v)
            elif c.type == T_LONG:
                data = struct.pack("<i", v)
            elif c.type == T_MONEY:
                data = struct.pack("<q", v)
            elif c.type == T_FLOAT:
                data = struct.pack("<f", v)
            elif c.type in (T_DOUBLE, T_DATE):
                data = struct.pack("<d", v)
            elif c.type == T_TEXT:
                if len(v.encode("utf-16le")) > c.length:
                    raise ValueError(f"{c.name}: {v!r} is longer than the column")
                data = encode_mixed_text(v) if c.name in row.get("_compress", ()) else encode_text(v)
            elif c.type == T_MEMO:
                stored = encode_text(v) if len(v) <= 1024 else v.encode("utf-16le")
                if len(stored) <= 64:
                    data = struct.pack("<II", len(stored) | 0x80000000, 0) + bytes(4) + stored
                else:
                    # On one long value page when one holds it, else on a chain of them.
                    one_page = len(stored) <= LONG_VALUE_ROOM
                    data = struct.pack("<II", len(stored) | (0x40000000 if one_page else 0), 0) + bytes(4)
                    lval.append((c.var, stored))
            else:
                raise ValueError(f"{c.name}: type {c.type} is not written")
            if c.fixed:
                fixed[c.fixed_offset:c.fixed_offset + len(data)] = data
            else:
                var[c.var] = data
        out = bytearray(struct.pack("<H", n)) + fixed
        offsets = []
        for data in var:
            offsets.append(len(out))
            out += data
        offsets.append(len(out))
        # The offsets run backwards from the end: the end of the last column first.
        for o in reversed(offsets):
            out += struct.pack("<H", o)
        out += struct.pack("<H", len(var)) + mask
        memo_at = {}
        for k, stored in lval:
            memo_at[k] = (offsets[k] + 4, stored)
        return out, memo_at

    def store(self, rows, fill, moved_last=False):
        """Writes the rows on pages in the order given; returns {id: pointer the indexes use}. A moved row lands a
        few rows after its stub, or, with `moved_last`, after the last row."""
        pointers = {}
        pending = []  # moved rows waiting for their new place: (countdown, row, stub pointer)
        page = None

        def place(data, flags, row=None, start=None):
            nonlocal page
            if len(data) + 2 > PAGE - 14:
                raise ValueError("row too long for a page")
            # A slot is one byte in an index entry: 255 rows a page at most.
            if page is None or page.room() < len(data) + 2 or len(page.slots) >= 255 or \
                    (page.slots and PAGE - page.room() + len(data) + 2 > fill) or start is not None:
                page = DataPage(self.tdef.page)
                page.start = start
                self.pages.append(page)
            return RowPointer(page, page.add(data, flags, row))

        def write(row, flags, start=None):
            data, memos = self.encode(row)
            where = place(data, flags, row, start)
            for offset, stored in memos.values():
                self.patches.append((where, offset, self.long_value(stored)))
            return where

        for row in rows:
            if row["_moved"]:
                # The row as first written, shorter, whose place became a stub pointing at the row.
                older = dict(row)
                for k, v in older.items():
                    if isinstance(v, str) and not k.startswith("_") and len(v) > 1:
                        older[k] = v[:len(v) // 2]
                data, _ = self.encode(older)
                stub = place(bytes(4) + data[4:] if len(data) >= 4 else bytes(4), SLOT_STUB, row, row.get("_page"))
                pointers[row["_id"]] = stub
                pending.append([float("inf") if moved_last else self.rng.randint(0, 12), row, stub])
            else:
                where = write(row, SLOT_DELETED if row["_deleted"] else 0, row.get("_page"))
                if not row["_deleted"]:
                    pointers[row["_id"]] = where
            for p in list(pending):
                p[0] -= 1
                if p[0] < 0:
                    pending.remove(p)
                    target = write(p[1], SLOT_MOVED)
                    self.patches.append((p[2], 0, target))
        for _, row, stub in pending:
            target = write(row, SLOT_MOVED)
            self.patches.append((stub, 0, target))
        return pointers

    def long_value(self, stored):
        """Puts a memo on long value pages: one row of one page when a page holds it, else a chain of rows, each
        starting with the place of the next (zero after the last), the first pointed at by the memo."""
        if len(stored) <= LONG_VALUE_ROOM:
            return self.long_value_row(stored)
        size = LONG_VALUE_ROOM - 4
        pieces = [self.long_value_row(bytes(4) + stored[i:i + size]) for i in range(0, len(stored), size)]
        for piece, following in zip(pieces, pieces[1:]):
            self.patches.append((piece, 0, following))
        return pieces[0]

    def long_value_row(self, data):
        page = self.lval_pages[-1] if self.lval_pages else None
        if page is None or page.room() < len(data) + 2:
            page = DataPage(None, "lval")
            self.lval_pages.append(page)
        return RowPointer(page, page.add(data))

    def apply_patches(self):
        for where, offset, target in self.patches:
            data = where.page.slots[where.slot][0]
            if offset == 0:
                # A stub, or the head of a long value row in a chain: the slot of the row it points at, then its
                # page.
                v = target.value()
                data[0:4] = bytes([v & 0xFF]) + (v >> 8).to_bytes(3, "little")
            else:
                struct.pack_into("<I", data, offset, target.value())


class IndexPage(Page):
    def __init__(self, leaf):
        super().__init__("leaf" if leaf else "node")
        self.leaf = leaf
        self.entries = []  # leaves: (key, pointer); nodes: child pages
        self.tail = None
        self.prev = self.next = None
        self.compress = True

    def last(self):
        """The last leaf entry under this page."""
        if self.leaf:
            return self.entries[-1]
        return (self.tail or self.entries[-1]).last()


def long_key(v):
    """An ascending index key of a Long: a flag byte, then the number big-endian with its sign bit flipped."""
    if v is None:
        return b"\x00"
    return b"\x7f" + struct.pack(">I", (v & 0xFFFFFFFF) ^ 0x80000000)


def common_prefix(a, b):
    n = 0
    while n < min(len(a), len(b)) and a[n] == b[n]:
        n += 1
    # A prefix of one byte is not written: the page then holds every entry whole.
    return 0 if n < 2 else n


def entries_size(keys, extra, compress):
    """The bytes a page's entries take: the first whole, the others without the prefix of the first and last keys
    (`extra`: the bytes after the key, 4 on leaves, 8 on nodes)."""
    prefix = common_prefix(keys[0], keys[-1]) if compress else 0
    return sum(len(k) + extra for k in keys) - prefix * (len(keys) - 1)


class IndexWriter:
    """A Jet 4 B-tree over one Long column, bulk-loaded."""

    def __init__(self, tdef, rng, root_page_num, shape=None):
        self.tdef = tdef
        self.rng = rng
        self.shape = shape  # (entries a leaf, children a node) a rows file asks for
        self.root_num = root_page_num
        self.pages = []
        self.root = None

    def build(self, entries):
        """Shapes the tree for `entries`, (key bytes, RowPointer) in key order. The shape depends only on the keys
        (a row pointer always takes four bytes), so it is drawn before pages are numbered; fill() then puts the
        entries in their final order, equal keys by page and slot."""
        rng = self.rng
        # Small pages now and then, so that even a small file has node pages, tails and keys across leaves.
        leaf_cap = rng.choice([10**6, 10**6, 10**6, rng.randint(2, 40)])
        node_cap = rng.choice([10**6, 10**6, rng.randint(2, 8)])
        compress = rng.choice([True, True, True, False])
        if self.shape:
            leaf_cap, node_cap = self.shape
        leaves = []
        current, total = [], 0
        for e in entries:
            if current:
                # The entries' bytes with this one added: the first whole, the others without the prefix they share
                # with it (the common prefix of the first and last keys, which sort between them).
                n = len(current) + 1
                prefix = common_prefix(current[0][0], e[0]) if compress else 0
                if n > leaf_cap or total + len(e[0]) + 4 * n - prefix * (n - 1) > INDEX_SPACE:
                    leaves.append(current)
                    current, total = [], 0
            current.append(e)
            total += len(e[0])
        leaves.append(current)
        level = []
        for group in leaves:
            p = IndexPage(True)
            p.entries = group
            p.compress = compress
            level.append(p)
        for a, b in zip(level, level[1:]):
            a.next, b.prev = b, a
        self.pages += level
        while len(level) > 1:
            parents = []
            group = []
            level_compress = compress and rng.random() < 0.7
            for child in level:
                # Entries for every child but the last, which is the tail: with `child` added, those of `group`.
                if group and (len(group) + 1 > max(node_cap, 2) or
                              entries_size([c.last()[0] for c in group], 8, level_compress) > INDEX_SPACE):
                    parents.append(group)
                    group = []
                group.append(child)
            if len(group) == 1 and parents:
                # A node of one child is no node: give it the last child of the one before.
                group.insert(0, parents[-1].pop())
            parents.append(group)
            up = []
            for group in parents:
                p = IndexPage(False)
                p.compress = level_compress
                p.entries = group[:-1]
                p.tail = group[-1]
                for a, b in zip(group, group[1:]):
                    if not a.leaf:
                        a.next, b.prev = b, a
                up.append(p)
            self.pages += up
            level = up
        self.root = level[0]
        self.root.num = self.root_num
        self.pages.remove(self.root)

    def page_bytes(self, p):
        b = bytearray(PAGE)
        b[0] = 0x04 if p.leaf else 0x03
        b[1] = 0x01
        struct.pack_into("<I", b, 4, self.tdef.page)
        struct.pack_into("<I", b, 12, p.prev.num if p.prev else 0)
        struct.pack_into("<I", b, 16, p.next.num if p.next else 0)
        struct.pack_into("<I", b, 20, p.tail.num if (not p.leaf and p.tail and p.entries) else 0)
        if p.leaf:
            raw = [(k, ptr.value().to_bytes(4, "big")) for k, ptr in p.entries]
        else:
            raw = []
            children = p.entries if p.entries else [p.tail]
            for child in children:
                k, ptr = child.last()
                raw.append((k, ptr.value().to_bytes(4, "big") + child.num.to_bytes(4, "big")))
        prefix = common_prefix(raw[0][0], raw[-1][0]) if (raw and p.compress) else 0
        struct.pack_into("<H", b, 24, prefix)
        pos = 0
        for n, (k, rest) in enumerate(raw):
            entry = k + rest if n == 0 else k[prefix:] + rest
            b[INDEX_ENTRIES_START + pos:INDEX_ENTRIES_START + pos + len(entry)] = entry
            pos += len(entry)
            b[INDEX_BITMAP_START + pos // 8] |= 1 << (pos % 8)
        if pos > INDEX_SPACE:
            raise ValueError("index page overfull")
        struct.pack_into("<H", b, 2, PAGE - INDEX_ENTRIES_START - pos)
        return bytes(b)

    def fill(self, ordered):
        p = self.root
        while not p.leaf:
            p = p.entries[0] if p.entries else p.tail
        i = 0
        while p:
            n = len(p.entries)
            if [k for k, _ in p.entries] != [k for k, _ in ordered[i:i + n]]:
                raise SystemExit("internal error: index keys out of step")
            p.entries = ordered[i:i + n]
            i += n
            p = p.next
        if i != len(ordered):
            raise SystemExit("internal error: index entries lost")

    def all_pages(self):
        return [self.root] + self.pages


def map_row(pages, prefer_pages=False):
    """A page map row listing `pages` (numbers): inline with a start page when they fit in 512 pages, else through
    0x05 map pages, returned for the caller to number; the row gets their numbers when it is written."""
    pages = sorted(set(pages))
    row = bytearray(MAP_ROW)
    if not prefer_pages and (not pages or pages[-1] - (pages[0] & ~7) < (MAP_ROW - 5) * 8):
        start = pages[0] & ~7 if pages else 0
        row[0] = 0
        struct.pack_into("<I", row, 1, start)
        for p in pages:
            row[5 + (p - start) // 8] |= 1 << ((p - start) % 8)
        return row, []
    row[0] = 1
    made = []
    by_map = {}
    for p in pages:
        by_map.setdefault(p // MAP_PAGE_BITS, []).append(p % MAP_PAGE_BITS)
    for k in sorted(by_map):
        if k >= (MAP_ROW - 1) // 4:
            raise ValueError("file too large for a page map")
        mp = Page("map")
        bits = bytearray(PAGE - 4)
        for i in by_map[k]:
            bits[i // 8] |= 1 << (i % 8)
        mp.bits = bits
        mp.slot = k
        made.append(mp)
    return row, made




class Built:
    """A file's bytes, and the rows each table holds in the order a scan meets them."""

    def __init__(self, data, tdefs, scans, stats, unusual_keys=None, index_order=None, stored=None):
        self.data, self.tdefs, self.scans, self.stats = data, tdefs, scans, stats
        # The rows in the order of their slots, a moved row where it lies.
        self.stored = stored if stored is not None else scans
        # {(table, column): [(key bytes, row id)]}: each index's entries in their order.
        self.index_order = index_order or {}
        # {(table, column): {row id: key bytes, or None for no entry}} for the index entries whose key is not the
        # row's value.
        self.unusual_keys = unusual_keys or {}



def name_key(rank, name):
    """The key of the rank-th name (from 1) of the name index: keys sort by rank, whatever the text, and vary in
    length with it, as text keys do. Nothing reads a text key for its meaning: a reader only walks the leaves."""
    folded = unicodedata.normalize("NFD", name.upper()).encode("ascii", "ignore")
    return b"\x7f" + rank.to_bytes(2, "big") + bytes(c for c in folded if 0x20 < c < 0x7F)[:20] + b"\x00"


def write_file(template, tables, rng, given=False, layout=None):
    """Writes `tables` (the rows of each table: dicts of column values with '_id', '_deleted' and '_moved') into a
    copy of the template. A random file draws which rows moved, the order rows were added in and how full its data
    pages are; `given` rows keep their order and marks, fill each page, and moved ones land after the table's last
    row. `layout` holds what a rows file says of the whole file: "index_shape" (entries a leaf, children a node) and
    "name_index" (the CMD_IDs in the order of an index on CMD_Contribuyente), "password" (the database password, ""
    for none; the program's unless given)."""
    layout = layout or {}
    pages = [bytearray(p) for p in template.pages]
    tdefs = {name: TableDef(pg, template.pages[pg]) for name, pg in template.table_pages.items()}

    # CMD_NumRef holds 20 characters. Its text index is left out, its root page freed, unless the rows file asks
    # for an index on the names: that one takes its place.
    cmd = tdefs["CMD"]
    numref = cmd.column("CMD_NumRef")
    numref.set_length(40)
    name_order = layout.get("name_index")
    if name_order is None:
        dropped = [i for i in range(len(cmd.real)) if cmd.index_column(i) == numref.num]
        freed_pages = [cmd.index_root(i) for i in dropped]
        freed_maps = [cmd.index_map(i) for i in dropped]
        cmd.drop_index_on(numref.num)
    else:
        freed_pages, freed_maps = [], []
        cmd.repoint_index(numref.num, cmd.column("CMD_Contribuyente"), "CMD_Contribuyente", ignore_nulls=True)
        if len(name_order) >= 1 << 16:
            raise ValueError("the name index takes 65,535 names at most")
    # The keys of index entries that are not the row's own value, by table and column, then by row: a rows file's
    # "_index_key", and every key of the name index (None for a row it leaves out), for reading the indexes back.
    unusual = {}
    owners = {}  # by table, the row each row pointer is the place of

    writers, indexes, live = {}, {}, {}
    # In some files, some rows grew when edited and moved to a later place.
    moves = not given and rng.random() < 0.35
    for name in TABLES:
        tdef, rows = tdefs[name], tables[name]
        if given:
            order, fill = list(rows), PAGE
        else:
            move_rate = rng.choice([0.0, 0.02, 0.05, 0.1]) if moves else 0.0
            for r in rows:
                r["_moved"] = not r["_deleted"] and rng.random() < move_rate
            # The order rows were added in: mostly random, at times backwards or in shuffled runs.
            order = list(rows)
            mode = rng.random()
            if mode < 0.7:
                rng.shuffle(order)
            elif mode < 0.8:
                order.reverse()
            elif mode < 0.9:
                size = rng.randint(2, 9)
                runs = [order[i:i + size] for i in range(0, len(order), size)]
                rng.shuffle(runs)
                order = [r for run in runs for r in run]
            fill = PAGE if rng.random() < 0.6 else rng.randint(600, PAGE)
        writer = TableWriter(tdef, rng)
        pointers = writer.store(order, fill, moved_last=given)
        owners[name] = {id(p): i for i, p in pointers.items()}
        writers[name] = writer
        live[name] = [r for r in rows if not r["_deleted"]]
        built = []
        for i in range(len(tdef.real)):
            col = next(c for c in tdef.columns if c.num == tdef.index_column(i))
            if col.type == T_LONG:
                entries = []
                for r in live[name]:
                    key = r.get("_index_key", {}).get(col.name, r[col.name])
                    entries.append((long_key(key), pointers[r["_id"]]))
                    if key != r[col.name]:
                        unusual.setdefault((name, col.name), {})[r["_id"]] = long_key(key)
            else:
                by_id = {r["_id"]: r for r in live[name]}
                entries = [(name_key(rank, by_id[i][col.name]), pointers[i]) for rank, i in enumerate(name_order, 1)]
                keys = {i: e[0] for i, e in zip(name_order, entries)}
                unusual[(name, col.name)] = {r["_id"]: keys.get(r["_id"]) for r in live[name]}
            iw = IndexWriter(tdef, rng, tdef.index_root(i), layout.get("index_shape"))
            iw.build(sorted(entries, key=lambda e: e[0]))
            built.append((i, iw, entries))
        indexes[name] = built

    # Number the new pages: the tables' pages interleaved as if rows had been added to all of them over time, or,
    # now and then in a random file, every page anywhere. (Given rows keep each table's pages in order, so that a
    # scan meets them as they were given.)
    # A table's data pages from the first one a rows file places ("_page") on lie where it says, after the others.
    queues, placed = [], []
    for name in TABLES:
        data_pages = writers[name].pages
        first = next((k for k, p in enumerate(data_pages) if p.start is not None), len(data_pages))
        placed.append((name, data_pages[first:]))
        queues += [list(data_pages[:first]), list(writers[name].lval_pages)]
        queues += [list(iw.pages) for _, iw, _ in indexes[name]]
    queues = [q for q in queues if q]
    if not given and rng.random() < 0.2:
        flat = [p for q in queues for p in q]
        rng.shuffle(flat)
        queues = [flat] if flat else []
    next_num = len(pages)
    while queues:
        q = rng.choices(queues, weights=[len(x) for x in queues])[0]
        q.pop(0).num = next_num
        next_num += 1
        queues = [x for x in queues if x]
    taken = {}
    for name, far in placed:
        for k, p in enumerate(far):
            p.num = p.start if p.start is not None else far[k - 1].num + 1
            if k and p.num <= far[k - 1].num:
                raise ValueError(f"{name}: page {p.num} comes after page {far[k - 1].num}: its pages must rise")
            if p.num < next_num or p.num in taken:
                raise ValueError(f"{name}: page {p.num} is taken (by {taken.get(p.num, 'the pages before')})")
            taken[p.num] = name
    # The pages skipped to reach them stay empty, as pages a file freed are.
    gaps = set(range(next_num, max(taken) + 1)) - set(taken) if taken else set()
    next_num = max(taken) + 1 if taken else next_num

    index_order = {}
    for name in TABLES:
        writers[name].apply_patches()
        for i, iw, entries in indexes[name]:
            # Index entries sort by their bytes: the key, then the row's page and slot.
            ordered = sorted(entries, key=lambda e: (e[0], e[1].value()))
            iw.fill(ordered)
            col = next(c for c in tdefs[name].columns if c.num == tdefs[name].index_column(i))
            index_order[(name, col.name)] = [(k, owners[name][id(p)]) for k, p in ordered]

    # Page maps: a table's data pages and those with room, the pages of each index, the long value pages of the
    # memo column.
    map_rows, map_pages_made = {}, []

    def set_map(pointer, numbers, prefer_pages=False):
        row, made = map_row(numbers, prefer_pages)
        map_rows[pointer] = (row, made)
        map_pages_made.extend(made)

    for name in TABLES:
        tdef, writer = tdefs[name], writers[name]
        set_map(tdef.used_map, [p.num for p in writer.pages], rng.random() < 0.3)
        roomy = [p.num for p in writer.pages if p.room() > 400]
        set_map(tdef.free_map, [n for n in roomy if n - min(roomy) < 500] if roomy else [])
        for i, iw, _ in indexes[name]:
            set_map(tdef.index_map(i), [p.num for p in iw.all_pages()])
        for vm in tdef.var_maps:
            lval = [p.num for p in writer.lval_pages]
            set_map(u32(vm, 2), lval)
            set_map(u32(vm, 6), lval[-1:])
    for pointer in freed_maps:
        set_map(pointer, [])
    for p in map_pages_made:
        p.num = next_num
        next_num += 1
    total = next_num

    for name in TABLES:
        tdef, rows = tdefs[name], tables[name]
        struct.pack_into("<I", tdef.head, 16, len(live[name]))
        # The last autonumber given, to a row since deleted or not.
        struct.pack_into("<I", tdef.head, 20, max((r["_id"] for r in rows), default=0))
        for i, iw, entries in indexes[name]:
            # How many different keys the index holds.
            struct.pack_into("<I", tdef.counts[i], 4, len({e[0] for e in entries}))
        pages[tdef.page] = bytearray(tdef.to_page())

    for pointer, (row, made) in map_rows.items():
        for mp in made:
            struct.pack_into("<I", row, 1 + 4 * mp.slot, mp.num)
        pg, slot = pointer >> 8, pointer & 0xFF
        _, start, end = page_rows(pages[pg])[slot]
        if end - start != MAP_ROW:
            raise SystemExit("template: a page map row of an unexpected size")
        pages[pg][start:end] = row
    for pg in freed_pages:
        pages[pg] = bytearray(PAGE)

    new_pages = [None] * (total - len(pages))

    def put(num, data):
        if num < len(pages):
            pages[num] = bytearray(data)
        else:
            new_pages[num - len(pages)] = data

    for name in TABLES:
        for p in writers[name].pages + writers[name].lval_pages:
            put(p.num, p.to_bytes())
        for _, iw, _ in indexes[name]:
            for p in iw.all_pages():
                put(p.num, iw.page_bytes(p))
    for p in map_pages_made:
        put(p.num, b"\x05\x01\x00\x00" + bytes(p.bits))
    for num in gaps:
        put(num, bytes(PAGE))
    if any(p is None for p in new_pages):
        raise SystemExit("internal error: a page was numbered but not written")

    # The database's own map on page 1 marks the pages that are free: the freed and skipped ones and those past the
    # end. Past 512 pages it is a map of map pages, added at the end, each for the next 32,736 pages.
    gmap = bytearray(MAP_ROW)
    free = set(freed_pages) | gaps
    if total <= (MAP_ROW - 5) * 8:
        for p in free | set(range(total, (MAP_ROW - 5) * 8)):
            gmap[5 + p // 8] |= 1 << (p % 8)
    else:
        gmap[0] = 1
        count = 1
        while total + count > count * MAP_PAGE_BITS:
            count += 1
        if count > (MAP_ROW - 1) // 4:
            raise ValueError("file too large for a page map")
        free |= set(range(total + count, count * MAP_PAGE_BITS))
        for k in range(count):
            struct.pack_into("<I", gmap, 1 + 4 * k, total + k)
            bits = bytearray(PAGE - 4)
            for p in free:
                if k * MAP_PAGE_BITS <= p < (k + 1) * MAP_PAGE_BITS:
                    bits[(p % MAP_PAGE_BITS) // 8] |= 1 << (p % 8)
            new_pages.append(b"\x05\x01\x00\x00" + bytes(bits))
        total += count
    _, start, end = page_rows(pages[1])[0]
    pages[1][start:end] = gmap

    # The creation date masks the password: now and then one after 2079, whose day number needs three bytes.
    set_header(pages[0], date_value(rng.randint(1999, 2030) if rng.random() < 0.95 else rng.randint(2080, 2200),
                                    rng.randint(1, 12), rng.randint(1, 28),
                                    rng.randrange(24), rng.randrange(60), rng.randrange(60)),
               layout.get("password", PASSWORD))
    data = b"".join(bytes(p) for p in pages) + b"".join(new_pages)

    # A scan meets a moved row at its stub, as Jet orders a table's rows; mdbtools meets it where it lies.
    scans, stored = {}, {}
    for name in TABLES:
        slots = [(flags, row) for p in sorted(writers[name].pages, key=lambda p: p.num) for _, flags, row in p.slots]
        scans[name] = [row for flags, row in slots if row is not None and flags in (0, SLOT_STUB)]
        stored[name] = [row for flags, row in slots if row is not None and flags in (0, SLOT_MOVED)]
    stats = {name: (len(live[name]), len(writers[name].pages),
                    max((1 + len(iw.pages) for _, iw, _ in indexes[name]), default=0)) for name in TABLES}
    stats["pages"] = total
    stats["moved"] = sum(r["_moved"] for name in TABLES for r in tables[name])
    stats["deleted"] = sum(r["_deleted"] for name in TABLES for r in tables[name])
    stats["node pages"] = sum(not p.leaf for name in TABLES for _, iw, _ in indexes[name] for p in iw.all_pages())
    return Built(data, tdefs, scans, stats, unusual, index_order, stored)
