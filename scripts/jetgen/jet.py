"""The Jet 4 file as the generator reads and writes it: the header and its masked password, table definitions taken
apart and put together again, data pages and their row slots, page maps, stored values, and the template every file
starts from."""
import datetime
import pathlib
import struct


PAGE = 4096
PASSWORD = "Kb7731R28"
TABLES = ("CMD", "Form_Cp01", "Form_Sid3", "Percepciones", "retenciones")
MOVEMENT_TABLES = ("Percepciones", "retenciones")

# Jet column types.
T_BOOL, T_BYTE, T_INT, T_LONG, T_MONEY, T_FLOAT, T_DOUBLE, T_DATE, T_TEXT, T_MEMO = 1, 2, 3, 4, 5, 6, 7, 8, 10, 12

# Row slot flags on a data page: a deleted row keeps its bytes; a row that grew leaves a stub pointing at its new
# place, which is flagged as such.
SLOT_DELETED = 0xC000
SLOT_STUB = 0x4000
SLOT_MOVED = 0x8000

INDEX_ENTRIES_START = 0x1E0
INDEX_BITMAP_START = 0x1B
INDEX_SPACE = PAGE - INDEX_ENTRIES_START  # 3,616 bytes of entries, which the bitmap covers
MAP_ROW = 69  # a page map row: its type byte, then 68 bytes
MAP_PAGE_BITS = (PAGE - 4) * 8  # pages one 0x05 map page covers
EPOCH = datetime.date(1899, 12, 30).toordinal()
HEADER_KEY = bytes([0xC7, 0xDA, 0x39, 0x6B])


def u16(b, o):
    return struct.unpack_from("<H", b, o)[0]


def u32(b, o):
    return struct.unpack_from("<I", b, o)[0]


# ----------------------------------------------------------------------------------------------------------------
# The header page


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 0xFF
        s[i], s[j] = s[j], s[i]
    out = bytearray(data)
    i = j = 0
    for n in range(len(out)):
        i = (i + 1) & 0xFF
        j = (j + s[i]) & 0xFF
        s[i], s[j] = s[j], s[i]
        out[n] ^= s[(s[i] + s[j]) & 0xFF]
    return out


def header_password(page0):
    """The password a Jet 4 header holds, and its creation date."""
    plain = rc4(HEADER_KEY, page0[0x18:0x18 + 128])
    created = struct.unpack_from("<d", plain, 0x72 - 0x18)[0]
    mask = struct.pack("<I", int(created) & 0xFFFFFFFF)
    pwd = bytes(plain[0x42 - 0x18 + i] ^ mask[i % 4] for i in range(40))
    units = pwd.decode("utf-16le")
    return units.split("\0", 1)[0], created


def set_header(page0, created, password=PASSWORD):
    """Gives the header a creation date and a database password (the program's unless given; "" for none), masked
    with the date."""
    plain = rc4(HEADER_KEY, page0[0x18:0x18 + 128])
    struct.pack_into("<d", plain, 0x72 - 0x18, created)
    mask = struct.pack("<I", int(created) & 0xFFFFFFFF)
    pwd = password.encode("utf-16le").ljust(40, b"\0")
    for i in range(40):
        plain[0x42 - 0x18 + i] = pwd[i] ^ mask[i % 4]
    page0[0x18:0x18 + 128] = rc4(HEADER_KEY, plain)


# ----------------------------------------------------------------------------------------------------------------
# Table definitions


class Column:
    def __init__(self, raw, name):
        self.raw = bytearray(raw)
        self.name = name

    type = property(lambda self: self.raw[0])
    num = property(lambda self: u16(self.raw, 5))
    var = property(lambda self: u16(self.raw, 7))
    fixed = property(lambda self: bool(self.raw[15] & 0x01))
    fixed_offset = property(lambda self: u16(self.raw, 21))
    length = property(lambda self: u16(self.raw, 23))

    def set_length(self, n):
        struct.pack_into("<H", self.raw, 23, n)


class TableDef:
    """A Jet 4 table definition page taken apart, to be patched and put together again."""

    def __init__(self, page_no, b):
        if b[0] != 0x02 or u32(b, 4) != 0:
            raise SystemExit(f"template: page {page_no} is not a one-page table definition")
        self.page = page_no
        self.head = bytearray(b[:63])
        n_cols, n_idx, n_ridx = u16(b, 45), u32(b, 47), u32(b, 51)
        o = 63
        self.counts = [bytearray(b[o + 12 * i:o + 12 * i + 12]) for i in range(n_ridx)]
        o += 12 * n_ridx
        raws = [b[o + 25 * i:o + 25 * i + 25] for i in range(n_cols)]
        o += 25 * n_cols
        names = []
        for _ in range(n_cols):
            n = u16(b, o)
            names.append(bytes(b[o + 2:o + 2 + n]).decode("utf-16le"))
            o += 2 + n
        self.columns = sorted((Column(r, n) for r, n in zip(raws, names)), key=lambda c: c.num)
        self.order = names  # the order the definition lists them in
        self.real = [bytearray(b[o + 52 * i:o + 52 * i + 52]) for i in range(n_ridx)]
        o += 52 * n_ridx
        self.logical = [bytearray(b[o + 28 * i:o + 28 * i + 28]) for i in range(n_idx)]
        o += 28 * n_idx
        self.index_names = []
        for _ in range(n_idx):
            n = u16(b, o)
            self.index_names.append(bytes(b[o + 2:o + 2 + n]).decode("utf-16le"))
            o += 2 + n
        self.var_maps = []
        while u16(b, o) != 0xFFFF:
            self.var_maps.append(bytearray(b[o:o + 10]))
            o += 10
        o += 2
        if o != u32(b, 8):
            raise SystemExit(f"template: table definition on page {page_no} has an unexpected length")

    def column(self, name):
        return next(c for c in self.columns if c.name == name)

    max_cols = property(lambda self: u16(self.head, 41))
    var_count = property(lambda self: u16(self.head, 43))
    used_map = property(lambda self: u32(self.head, 55))
    free_map = property(lambda self: u32(self.head, 59))

    def index_column(self, i):
        return u16(self.real[i], 4)

    def index_map(self, i):
        return u32(self.real[i], 34)

    def index_root(self, i):
        return u32(self.real[i], 38)

    def drop_index_on(self, column_num):
        """Removes the index whose first column is `column_num`, its physical and logical entries and its name."""
        i = next(k for k in range(len(self.real)) if self.index_column(k) == column_num)
        del self.real[i]
        del self.counts[i]
        for k in reversed(range(len(self.logical))):
            if u32(self.logical[k], 8) == i:
                del self.logical[k]
                del self.index_names[k]
        for entry in self.logical:
            if u32(entry, 8) > i:
                struct.pack_into("<I", entry, 8, u32(entry, 8) - 1)
        # Logical index numbers stay dense: 0, 1, ...
        for n, entry in enumerate(sorted(self.logical, key=lambda e: u32(e, 4))):
            struct.pack_into("<I", entry, 4, n)

    def repoint_index(self, column_num, column, name, ignore_nulls):
        """Makes the index whose first column is `column_num` an index on `column` named `name`, which leaves out rows
        whose value is Null when `ignore_nulls`."""
        i = next(k for k in range(len(self.real)) if self.index_column(k) == column_num)
        struct.pack_into("<H", self.real[i], 4, column.num)
        if ignore_nulls:
            self.real[i][46] |= 0x02
        for k, entry in enumerate(self.logical):
            if u32(entry, 8) == i:
                self.index_names[k] = name
        return i

    def to_page(self):
        columns = sorted(self.columns, key=lambda c: self.order.index(c.name))
        body = bytearray(self.head)
        struct.pack_into("<H", body, 45, len(columns))
        struct.pack_into("<I", body, 47, len(self.logical))
        struct.pack_into("<I", body, 51, len(self.real))
        for c in self.counts:
            body += c
        for c in columns:
            body += c.raw
        for c in columns:
            name = c.name.encode("utf-16le")
            body += struct.pack("<H", len(name)) + name
        for r in self.real:
            body += r
        for entry in self.logical:
            body += entry
        for name in self.index_names:
            raw = name.encode("utf-16le")
            body += struct.pack("<H", len(raw)) + raw
        for m in self.var_maps:
            body += m
        body += b"\xff\xff"
        struct.pack_into("<I", body, 8, len(body))
        struct.pack_into("<H", body, 2, PAGE - len(body) - 8)
        if len(body) > PAGE:
            raise SystemExit("table definition does not fit its page")
        return bytes(body) + bytes(PAGE - len(body))


def page_rows(page):
    """The slots of a data page: (flags and offset, start, end)."""
    out = []
    for r in range(u16(page, 12)):
        raw = u16(page, 14 + 2 * r)
        end = PAGE if r == 0 else u16(page, 14 + 2 * (r - 1)) & 0x1FFF
        out.append((raw, raw & 0x1FFF, end))
    return out


def row_at(pages, pointer):
    page = pages[pointer >> 8]
    raw, start, end = page_rows(page)[pointer & 0xFF]
    return start, end


def map_pages(pages, row):
    """The pages a page map row lists."""
    if row[0] == 0:
        start = u32(row, 1)
        return [start + i for i in range((len(row) - 5) * 8) if row[5 + i // 8] >> (i % 8) & 1]
    found = []
    for k in range((len(row) - 1) // 4):
        mp = u32(row, 1 + 4 * k)
        if mp:
            bits = pages[mp][4:]
            found += [k * MAP_PAGE_BITS + i for i in range(MAP_PAGE_BITS) if bits[i // 8] >> (i % 8) & 1]
    return found


def decode_row(tdef, page, start, end):
    """The values of a row, by column name: numbers and texts as stored, enough for the catalog."""
    row = page[start:end]
    n_cols = u16(row, 0)
    mask_len = (n_cols + 7) // 8
    mask = row[len(row) - mask_len:]
    n_var = u16(row, len(row) - mask_len - 2)
    var_at = lambda i: u16(row, len(row) - mask_len - 4 - 2 * i)
    values = {}
    for c in tdef.columns:
        # A row written before later columns were added holds only the first ones.
        present = c.num < n_cols and mask[c.num // 8] >> (c.num % 8) & 1
        if c.type == T_BOOL:
            values[c.name] = bool(present)
            continue
        if not present:
            values[c.name] = None
            continue
        if c.fixed:
            data = row[2 + c.fixed_offset:2 + c.fixed_offset + c.length]
        elif c.var < n_var:
            data = row[var_at(c.var):var_at(c.var + 1)]
        else:
            values[c.name] = None
            continue
        if c.type == T_LONG:
            values[c.name] = struct.unpack("<i", data)[0]
        elif c.type == T_INT:
            values[c.name] = struct.unpack("<h", data)[0]
        elif c.type == T_TEXT:
            values[c.name] = decode_text(bytes(data))
        else:
            values[c.name] = bytes(data)
    return values


def decode_text(b):
    if b[:2] == b"\xff\xfe":
        out, compressed, i = [], True, 2
        while i < len(b):
            if b[i] == 0:
                compressed = not compressed
                i += 1
            elif compressed:
                out.append(chr(b[i]))
                i += 1
            else:
                out.append(b[i:i + 2].decode("utf-16le"))
                i += 2
        return "".join(out)
    return b.decode("utf-16le")


class Template:
    """The empty database every file starts from."""

    def __init__(self, path, any_password=False):
        """`any_password`: for a file written here, which may hold another password than the program's."""
        data = pathlib.Path(path).read_bytes()
        if len(data) % PAGE or data[4:19] != b"Standard Jet DB" or data[0x14] != 1:
            raise SystemExit(f"{path}: not a Jet 4 database")
        self.pages = [data[i:i + PAGE] for i in range(0, len(data), PAGE)]
        password, _ = header_password(self.pages[0])
        if password != PASSWORD and not any_password:
            raise SystemExit(f"{path}: the template does not hold the program's password")
        catalog = TableDef(2, self.pages[2])
        found = {}
        for pg in map_pages(self.pages, self.map_row(catalog.used_map)):
            page = self.pages[pg]
            if page[0] != 0x01 or u32(page, 4) != 2:
                continue
            for raw, start, end in page_rows(page):
                if raw & 0x4000:
                    continue
                row = decode_row(catalog, page, start, end)
                if row.get("Type") == 1 and not (row.get("Flags") or 0) & 0x80000002 and row.get("Name") in TABLES:
                    found[row["Name"]] = row["Id"] & 0xFFFFFF
        if sorted(found) != sorted(TABLES):
            raise SystemExit(f"{path}: the template lacks some of the tables {', '.join(TABLES)}")
        self.table_pages = found

    def map_row(self, pointer):
        start, end = row_at(self.pages, pointer)
        return self.pages[pointer >> 8][start:end]


# ----------------------------------------------------------------------------------------------------------------
# Values


def date_value(y, m, d, hh=0, mi=0, ss=0):
    """Jet's date: days since 1899-12-30, the time of day as the fraction, whose sign follows the day's."""
    days = datetime.date(y, m, d).toordinal() - EPOCH
    frac = (hh * 3600 + mi * 60 + ss) / 86400.0
    return days + frac if days >= 0 else days - frac


def date_parts(v):
    """(y, m, d, hh, mi, ss) of a date within Jet's range 100..9999, else None."""
    if not (-657434.0 <= v < 2958466.0):
        return None
    day = int(v)
    secs = int(round(abs(v - day) * 86400.0))
    if secs >= 86400:
        return None
    d = datetime.date.fromordinal(day + EPOCH)
    return d.year, d.month, d.day, secs // 3600, secs // 60 % 60, secs % 60


def encode_text(s):
    """Jet 4 text with Unicode compression on: one byte a character after FF FE when every character allows it."""
    if 3 <= len(s) <= 1024 and all(1 <= ord(c) <= 0xFF for c in s):
        return b"\xff\xfe" + s.encode("latin-1")
    return s.encode("utf-16le")


def encode_mixed_text(s):
    """Jet 4's compressed form for any text: one byte a character where the character allows it, UTF-16 for the
    others, a zero byte switching between the two. Access writes texts it can compress only in part this way."""
    out, compressed = bytearray(b"\xff\xfe"), True
    for c in s:
        one = 1 <= ord(c) <= 0xFF
        if one != compressed:
            out.append(0)
            compressed = one
        if one:
            out.append(ord(c))
        else:
            units = c.encode("utf-16le")
            if 0 in units[::2]:
                raise ValueError(f"{c!r} cannot be stored in the compressed form: a unit's first byte is zero")
            out += units
    return bytes(out)


def single(v):
    return struct.unpack("<f", struct.pack("<f", v))[0]
