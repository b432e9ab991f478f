#!/usr/bin/env python3
"""Writes random small Impuest.mdb databases, to compare two builds of the program file for file.

    scripts/random-databases.py --seed N --count K --out DIR [--first I] [--json]
                                [--verify] [--export VELMORA_EXPORT] [--template FILE]
    scripts/random-databases.py --rows ROWS.json --out FILE.mdb [--seed N] [--json]
                                [--verify] [--export VELMORA_EXPORT] [--template FILE]

writes DIR/random-<N>-<i>.mdb for i = I .. I+K-1 (i with four digits at least). The same seed and number always give
the same bytes. Each file is a Jet 4 database (the format Access 2000-2003 writes) with the program's password
(Kb7731R28, masked in the header with the file's own creation date) and the five tables it reads, CMD, Form_Cp01,
Form_Sid3, Percepciones and retenciones, as ../shared/fixtures/README.md describes them, CMD_NumRef being Text(20) so
that 14-character references fit.

The file starts from ../shared/fixtures/impuest-empty.mdb (--template): its header, its system tables and catalog,
and the definitions of the five tables are kept; the rows, the data pages, the long value (memo) pages, the index
pages and the page maps of the five tables are written here, and the definitions patched (row counts, last
autonumbers, key counts, the size of CMD_NumRef). The header gets a creation date of its own, which masks the
password. Every table keeps its primary key index and its Long foreign key index (Form_Cp01.Cmd_ID,
Form_Sid3.CP01_ID, Percepciones.Sid_ID, retenciones.Sid_ID), written as real Jet 4 B-trees: leaf pages (0x04) and,
when the entries need more than one leaf or a file draws small pages, node pages (0x03) with their tail pages; leaf
entries share their prefix on most pages. The text index on CMD_NumRef is left out (its keys would need Jet's
"General" sort order, and the program searches Long keys only).

The data aims at what is easy to get wrong: taxpayers sharing a name exactly or up to case and accents, sharing a
reference, references of 12, 13 and 14 characters or with a leading blank, Null names and references; forms of
missing taxpayers or with a Null Cmd_ID; declarations of missing forms, with equal ordering keys and mixed
operations, Sid_Orden 9 against 11, one-digit months, Null parts of the key, years 1999 to 2030; movements of missing
declarations, Null fields, texts with accents, ’ and €, quotes, separators, TAB, CR and LF, amounts on rounding ties
and near 21474836.48, dates with a time of day and far outside the usual years. Rows are stored in a random order,
some are deleted (their slot flagged, their bytes left) and, in about a third of the files, some moved as rows that
grew when edited (a stub where they were, the row further on).

--verify reads every file back: mdbtools' mdb-export must give each row, in the order a table scan meets them, as it
was meant, and mdb-schema must list the indexes; then the index pages are read again from the file's bytes: every
tree well formed, one entry for each row with the row's key, and a search of each key, done as the program does it,
finding exactly its rows. --export VELMORA_EXPORT (which implies --verify) also exports every taxpayer of each file
in TXT with that executable and checks that no table is reported damaged; for a file without moved rows it exports
again from a copy whose index roots are taken away (the program then scans the tables instead of searching their
indexes) and checks that both exports are the same, so that a wrong index shows as missing, extra or reordered
movements. (A moved row is met where its stub is in a search and where it lies in a scan, which may change the
order of rows of equal keys and so which of two equal declarations is taken.)

--json writes beside each file the rows it holds, as the fixtures' dumps do (tables in storage order, dates as ISO
texts, Null as null). The exit status is 1 when a file fails a check.

--rows ROWS.json writes one file, FILE.mdb, holding exactly the rows ROWS.json gives instead of random ones: an object
with the five tables, each a list of rows in the order they were added, a row an object of column values (null for Null,
numbers, texts; dates as ISO texts such as "2020-01-15T00:00:00", or Jet's day number; Currency as a number of units, or
a text of one when a double cannot hold it exactly). A column not given is Null (a Yes/No column No); the primary key
(the AutoNumber: CMD_ID, CP01_ID, Sid_ID, Per_ID) must be given, once in its table. "_deleted": true stores the row as
deleted (its slot flagged, its bytes left); "_moved": true stores it as a row that grew when edited: a stub where it was
added, the row itself after the table's last row (moved rows in the order they are given). A top-level "_notes" list of
texts is for the reader and ignored. The rows fill each table's data pages in that order, one page after the other, and
a table's pages keep their order in the file, so a scan meets the rows as given, moved rows last and deleted ones not at
all. The indexes are real, as in a random file. --seed N (0) draws only what does not change the rows a scan meets: the
shape of the index trees (small pages with node pages at times), how the tables' pages interleave in the file, whether a
page map lists its pages inline or through map pages, and the creation date in the header; the same rows and seed always
give the same bytes. --json then writes FILE.json, the rows as a scan meets them.
"""
import argparse
import calendar
import datetime
import decimal
import json
import pathlib
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unicodedata

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


def set_header(page0, created):
    """Gives the header a creation date and the program's password, masked with it."""
    plain = rc4(HEADER_KEY, page0[0x18:0x18 + 128])
    struct.pack_into("<d", plain, 0x72 - 0x18, created)
    mask = struct.pack("<I", int(created) & 0xFFFFFFFF)
    pwd = PASSWORD.encode("utf-16le").ljust(40, b"\0")
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
        present = mask[c.num // 8] >> (c.num % 8) & 1
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

    def __init__(self, path):
        data = pathlib.Path(path).read_bytes()
        if len(data) % PAGE or data[4:19] != b"Standard Jet DB" or data[0x14] != 1:
            raise SystemExit(f"{path}: not a Jet 4 database")
        self.pages = [data[i:i + PAGE] for i in range(0, len(data), PAGE)]
        password, _ = header_password(self.pages[0])
        if password != PASSWORD:
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


def single(v):
    return struct.unpack("<f", struct.pack("<f", v))[0]


# ----------------------------------------------------------------------------------------------------------------
# The data of one file


PEOPLE = [
    "Peña Núñez, José María", "Muñoz, María Ángeles", "Gómez, Raúl", "Gómez Ibarra, Raúl Andrés",
    "Fernández, Inés", "Suárez, Ángel", "Sánchez Ibáñez, Lucía", "Olmos, Begoña", "Ruiz Díaz, Ramón",
    "Córdoba de la Peña, Azucena Ñusta", "O'Brien, Patricio", "D’Alessandro, Renée", "Müller, Jürgen",
    "Güemes, Martín Miguel", "Álvarez, Érica", "Peña", "Pérez, Juan", "Zoë Čapek", "Nuñez; Hnos.",
]
FIRMS = [
    "Ñandubay Agropecuaria S.A.", "Cooperativa Agrícola La Unión Ltda.", "Mayorista Ñuñoa S.A.",
    'Coop. "La Unión" Ltda.', "Distribuidora D’Alessandro & Cía. € S.R.L.", "Transportes Güemes, Hnos.; y Cía.",
    "Ferretería Centro S.A.", "Supermercados del Oeste S.A.", "Compañía Ñandú S.A.", "Agropecuaria El Ombú S.R.L.",
    "Distribuidora Norte, S.R.L.; Sucursal 2", "Barra/Inversa\\ S.A.", "Café & Té S.H.", "Œuvre — “Française” S.A.",
    "Banco de la Nación Argentina", "A.F.I.P. / D.G.I.", "=SUMA(A1)", "+54 Telecom S.A.", "-5 Grados S.R.L.",
    "100% Algodón S.A.", "Año Nuevo S.A.", "ÑANDÚ S.A.", "Ñandú S.A.", "Nandu S.A.",
]
ODD_TEXTS = [
    "Tab\tDentro", "Línea\r\nNueva", "Solo\nLF", "Solo\rCR", "Coma, punto. y; coma", 'Comillas "dobles"',
    "O'Brien", "Barra/Inversa\\", "  Blancos  ", " ", "", "D’Alessandro €", "Œuvre — “citas”", "Zoë Čapek",
    "ÁÉÍÓÚ ÑÜ áéíóú ñü", "a|b", "1.234,56", "0001", "x", "ß und ÿ", "Ü", "¿Qué? ¡Sí!", "º ª °", "½ ¼ ¾",
]
AMOUNT_TIES = [
    0.125, 0.375, 0.005, 0.015, 0.025, 0.045, 1.005, 2.675, 1.115, 0.285, 10.235, 1234.565, 0.5, 1.5, 2.5,
    0.995, 1.999, 12.345, 99.99, 0.07, 19.99, 37.04, 0.1 + 0.2, 5.0, 0.0, 1e-7, 0.0049, 0.001,
]
AMOUNT_LARGE = [
    21474836.47, 21474836.48, 21474836.475, 21474836.46, 21474836.485, 2147483647.0, 2147483648.0, 1e15,
    123456789012.34, 9999999999.99, 10050970.06, 92233720368547.58, 9.223372036854775e16, 9.2233720368547758e16,
    1e17, 1e300,
]
RATES = [0.03, 0.03, 0.03, 0.025, 0.035, 0.0175, 0.015, 0.0, 1.0, 3.5, 0.1, 0.333333, 0.0299999]


def cuit(rng, prefix=None, valid=True):
    prefix = prefix or rng.choice([20, 20, 23, 24, 27, 27, 30, 30, 30, 33, 34])
    check = 10
    while check == 10:
        # No check digit makes 10 right: such numbers are not given.
        body = f"{prefix:02d}{rng.randrange(10**8):08d}"
        s = sum(int(a) * w for a, w in zip(body, (5, 4, 3, 2, 7, 6, 5, 4, 3, 2)))
        check = (11 - s % 11) % 11
    if not valid:
        check = (check + rng.randrange(1, 10)) % 10
    return f"{body[:2]}-{body[2:]}-{check}"


def strip_accents(s):
    return "".join(c for c in unicodedata.normalize("NFD", s) if not unicodedata.combining(c))


class Generator:
    """Draws the rows of one file."""

    def __init__(self, rng):
        self.rng = rng
        # How often a field the export needs is Null: never in some files, in one taxpayer's export or a few in
        # most (a Null there stops that taxpayer's export).
        self.null_rate = rng.choice([0.0, 0.0, 0.0, 0.0005, 0.001, 0.002, 0.004, 0.01])
        self.odd_rate = rng.choice([0.02, 0.05, 0.1, 0.2])

    def null(self, rate=None):
        return self.rng.random() < (self.null_rate if rate is None else rate)

    def weighted(self, pairs):
        total = sum(w for _, w in pairs)
        x = self.rng.random() * total
        for v, w in pairs:
            x -= w
            if x < 0:
                return v
        return pairs[-1][0]

    def text(self, base, limit, odd=None):
        rng = self.rng
        s = base
        if rng.random() < (self.odd_rate if odd is None else odd):
            s = rng.choice(ODD_TEXTS) if rng.random() < 0.5 else self.variant(s) + rng.choice(ODD_TEXTS)
        return s[:limit]

    def variant(self, s):
        """The same name as another, or one differing in case, accents or blanks."""
        rng = self.rng
        kind = rng.random()
        if kind < 0.4:
            return s
        if kind < 0.55:
            return s.upper()
        if kind < 0.65:
            return s.lower()
        if kind < 0.8:
            return strip_accents(s)
        if kind < 0.9:
            return strip_accents(s).upper()
        return rng.choice([" ", "  ", ""]) + s + rng.choice([" ", "", "  "])

    def name(self):
        rng = self.rng
        s = rng.choice(PEOPLE) if rng.random() < 0.55 else rng.choice(FIRMS)
        if rng.random() < 0.3:
            s = self.variant(s)
        if rng.random() < 0.15:
            s += f" {rng.randrange(1, 100)}"
        return self.text(s, 100)

    def amount(self, exporting=True):
        rng = self.rng
        if exporting and self.null():
            return None
        k = rng.random()
        if k < 0.3:
            v = rng.choice(AMOUNT_TIES)
        elif k < 0.305:
            # About 2^31 hundredths, and far more: some more hundredths than 64 bits hold.
            v = rng.choice(AMOUNT_LARGE)
        elif k < 0.7:
            v = round(rng.uniform(0, 20000), 2)
        elif k < 0.85:
            v = round(rng.uniform(0, 500), 3)
        elif k < 0.95:
            v = round(rng.expovariate(1 / 50000), rng.choice([0, 1, 2, 4]))
        else:
            v = rng.choice([-0.0, 1e-12, 7.0 / 3, 2.0 / 3, 0.30000000000000004, 1.0000000000000002])
        if rng.random() < 0.12:
            v = -v
        return v

    def date(self, y, m, exporting=True, far=0.03):
        rng = self.rng
        if exporting and self.null():
            return None
        k = rng.random()
        if k < far:
            return self.far_date()
        if y is None or not (100 <= y <= 9999) or m is None or not (1 <= m <= 12):
            y, m = rng.randint(1999, 2030), rng.randint(1, 12)
        d = rng.randint(1, calendar.monthrange(y, m)[1])
        t = rng.random()
        if t < 0.75:
            return date_value(y, m, d)
        if t < 0.85:
            return date_value(y, m, d, rng.choice([12, 23, 0]), rng.choice([0, 59, 30]), rng.choice([0, 59, 1]))
        return date_value(y, m, d, rng.randrange(24), rng.randrange(60), rng.randrange(60))

    def far_date(self):
        rng = self.rng
        k = rng.random()
        if k < 0.45:
            # Within Jet's range, far from today.
            y = rng.choice([100, 101, 999, 1000, 1582, 1752, 1899, 1900, 1901, 1969, 1970, 2038, 2079, 2100, 4000,
                            4637, 4638, 9998, 9999])
            m = rng.randint(1, 12)
            d = rng.randint(1, calendar.monthrange(y, m)[1])
            if rng.random() < 0.3:
                return date_value(y, m, d, rng.randrange(24), rng.randrange(60), rng.randrange(60))
            return date_value(y, m, d)
        if k < 0.65:
            return rng.choice([date_value(1899, 12, 30), date_value(1899, 12, 31), date_value(1899, 12, 29),
                               date_value(1899, 12, 30, 12), date_value(1899, 12, 29, 6), date_value(1900, 1, 1),
                               date_value(1900, 2, 28), date_value(1900, 3, 1), date_value(100, 1, 1),
                               date_value(9999, 12, 31, 23, 59, 59)])
        # Outside Jet's range: numbers Access itself would refuse, but the bytes allow.
        return rng.choice([2958466.0, 2958466.5, 3000000.25, 1e7, 36e6, -657435.0, -657434.5, -700000.0,
                           -1e7, 2958465.999999, 1e6, 1e6 + 0.5, 999999.75])

    def generate(self):
        """The rows of the five tables: dicts of column values with '_id', '_deleted' and '_moved'."""
        rng = self.rng
        cmd, forms, sids = [], [], []
        movements = {t: [] for t in MOVEMENT_TABLES}

        n_tax = self.weighted([(0, 3), (1, 8), (2, 10), (3, 10), (4, 9), (5, 8), (6, 7), (8, 7), (10, 6), (12, 5),
                               (15, 4), (18, 3), (20, 2), (25, 2)])
        if n_tax and rng.random() < 0.5:
            n_tax = rng.randint(max(1, n_tax - 2), min(25, n_tax + 2))

        # Taxpayers. References: mostly CUITs, and the lengths and blanks the list and the lookup cut on.
        names_drawn, refs_drawn = [], []
        for _ in range(n_tax):
            k = rng.random()
            if refs_drawn and k < 0.08:
                ref = rng.choice(refs_drawn)
            elif k < 0.78:
                ref = cuit(rng)
            elif k < 0.82:
                ref = cuit(rng, valid=False)
            elif k < 0.85:
                ref = f"{rng.choice([20, 27, 30])}-{rng.randrange(10**7):07d}-{rng.randrange(10)}"
            elif k < 0.88:
                ref = f"{rng.choice([20, 27, 30])}-{rng.randrange(10**9):09d}-{rng.randrange(10)}"
            elif k < 0.91:
                ref = " " + cuit(rng)
            elif k < 0.93:
                ref = cuit(rng) + rng.choice(["x", " ", "X"])
            elif k < 0.94:
                ref = cuit(rng)[:12]
            elif k < 0.95:
                ref = cuit(rng).replace("-", "")
            elif k < 0.97:
                ref = rng.choice(["", " ", "20-12345678", "ABC-123", "20-12345678-3-99999"])
            else:
                ref = None
            if ref is not None:
                refs_drawn.append(ref)
            k = rng.random()
            if names_drawn and k < 0.25:
                name = self.variant(rng.choice(names_drawn))[:100]
            elif k < 0.93:
                name = self.name()
            elif k < 0.96:
                name = None
            else:
                name = rng.choice(["", " ", "A" * 100, "Ñ" * 100, "z"])
            if name is not None:
                names_drawn.append(name)
            y = rng.randint(1995, 2024)
            memo = None
            if rng.random() < 0.15:
                memo = self.text(rng.choice(["Sin observaciones.", "Contribuyente de prueba principal.",
                                             "Nota: revisar €.", "ver\r\nlínea 2", "x"]), 65535)
                if rng.random() < 0.15:
                    memo = (memo + " ") * rng.randint(10, 120)
                if rng.random() < 0.05:
                    memo = ("Observación larga ’ " * rng.randint(5, 60))
                # One long value page holds it.
                memo = memo[:1900]
            cmd.append({
                "CMD_NumRef": ref,
                "CMD_Contribuyente": name,
                "CMD_Domicilio": None if rng.random() < 0.1 else self.text(
                    rng.choice(["Av. Colón 1234, 3º B", "Calle 17 Nº 452", "Bv. San Juan 99", "Ruta 9 km 12,5",
                                "9 de Julio 1.001 - Of. 4"]), 100),
                "CMD_Localidad": None if rng.random() < 0.1 else rng.choice(
                    ["Córdoba", "Río Cuarto", "San Martín de los Andes", "Villa Carlos Paz", "Rosario", "CABA"]),
                "CMD_CodPostal": None if rng.random() < 0.1 else rng.choice(["5000", "X5000ABC", "1425", "5800", ""]),
                "CMD_FechaAlta": None if rng.random() < 0.1 else self.date(y, rng.randint(1, 12), False),
                "CMD_Activo": rng.random() < 0.85,
                "CMD_Observaciones": memo,
            })
        self.number(cmd, "CMD_ID")
        cmd_ids = [r["_id"] for r in cmd]
        top_cmd = max(cmd_ids, default=0)

        # Forms: zero to three a taxpayer, deleted taxpayers included (their forms stay as orphans); a few of
        # taxpayers that never existed or with a Null Cmd_ID.
        for owner in cmd_ids:
            for _ in range(self.weighted([(0, 12), (1, 55), (2, 23), (3, 10)])):
                forms.append({"Cmd_ID": owner})
        for _ in range(self.weighted([(0, 6), (1, 3), (2, 1)])):
            forms.append({"Cmd_ID": rng.choice([None, top_cmd + rng.randint(1, 5), 0, -1, 2147483647,
                                                top_cmd + 100])})
        rng.shuffle(forms)
        for f in forms:
            f["CP01_IngBrut"] = None if rng.random() < 0.05 else self.text(rng.choice(
                [f"{rng.randrange(900, 999)}-{rng.randrange(10**6):06d}-{rng.randrange(10)}", f"{rng.randrange(10**7)}",
                 f"IB;{rng.randint(1999, 2030)}/{rng.randrange(10**4):04d}", "90.123.456/7"]), 20)
            f["CP01_FechaInscripcion"] = None if rng.random() < 0.1 else self.date(rng.randint(1990, 2020),
                                                                                   rng.randint(1, 12), False)
            f["CP01_Actividad"] = None if rng.random() < 0.1 else self.text(
                rng.choice(["Comercio al por menor", "Servicios", f"Actividad {rng.randrange(1, 30)}"]), 100)
            f["CP01_Regimen"] = self.weighted([(1, 45), (2, 45), (None, 5), (0, 3), (255, 2)])
        self.number(forms, "CP01_ID")
        form_ids = [f["_id"] for f in forms]
        top_form = max(form_ids, default=0)

        # Declarations: a random set of periods for each form, with the traps of the ordering key.
        for fid in form_ids:
            n = self.weighted([(0, 8), (1, 10), (2, 10), (3, 10), (5, 10), (8, 9), (12, 8), (18, 5), (25, 3),
                               (40, 2)])
            if n and rng.random() < 0.5:
                n = rng.randint(max(0, n - 3), min(40, n + 3))
            made = []
            while len(made) < n:
                made += self.declarations(fid, n - len(made))
            sids += made[:n]
        for _ in range(self.weighted([(0, 5), (1, 3), (2, 2)])):
            extra = self.declarations(rng.choice([None, top_form + rng.randint(1, 4), 0]), 1)
            sids += extra[:1]
        order = list(range(len(sids)))
        rng.shuffle(order)
        sids = [sids[i] for i in order]
        self.number(sids, "Sid_ID")
        sid_ids = [s["_id"] for s in sids]
        top_sid = max(sid_ids, default=0)

        # Movements of each declaration, deleted ones included; a few of declarations that never existed.
        for table in MOVEMENT_TABLES:
            rows = movements[table]
            for s in sids:
                n = self.weighted([(0, 25), (1, 25), (2, 18), (3, 12), (4, 8), (5, 5), (6, 3), (8, 4)])
                for _ in range(n):
                    rows.append(self.movement(s["_id"], s))
            for _ in range(self.weighted([(0, 5), (1, 3), (3, 2)])):
                rows.append(self.movement(rng.choice([None, top_sid + rng.randint(1, 9), 0]), None))
            rng.shuffle(rows)
            self.number(rows, "Per_ID")

        tables = {"CMD": cmd, "Form_Cp01": forms, "Form_Sid3": sids}
        tables.update(movements)
        return tables

    def number(self, rows, id_column):
        """Autonumbers in the order the rows were drawn, with the gaps of abandoned rows; some rows deleted."""
        rng = self.rng
        next_id = 1
        delete_rate = rng.choice([0.0, 0.0, 0.02, 0.05, 0.1])
        for r in rows:
            if rng.random() < 0.03:
                next_id += rng.randint(1, 3)
            r[id_column] = next_id
            r["_id"] = next_id
            r["_deleted"] = rng.random() < delete_rate
            r["_moved"] = False
            next_id += 1

    def declarations(self, fid, room):
        """One declaration of form `fid`, or a group that shares the ordering key in ways the program must sort."""
        rng = self.rng
        year = self.weighted([(None, 2), (1999, 4), (2000, 4)] + [(y, 6) for y in range(2001, 2026)] +
                             [(y, 2) for y in range(2026, 2031)])
        month = rng.randint(1, 12)
        if rng.random() < 0.05:
            month_text = None
        elif rng.random() < 0.12:
            month_text = str(month)
        elif rng.random() < 0.01:
            month_text = ""
        else:
            month_text = f"{month:02d}"
        year_text = None if year is None else (str(year) if rng.random() > 0.005 else "")

        def one(tramite=1, orden=1, op=0, descr=None):
            if rng.random() < 0.02:
                tramite = rng.choice([None, 0, 10, 99])
            if rng.random() < 0.02:
                orden = rng.choice([None, 0, 100, 9, 11])
            return {
                "CP01_ID": fid,
                "Sid_Año": year_text,
                "Sid_Mes": month_text,
                "Sid_Tramite": tramite,
                "Sid_Orden": orden,
                "Sid_Tramite_Descrip": None if rng.random() < 0.05 else self.text(
                    descr or rng.choice(["Original", "Original", "Rectificativa", "Anulada"]), 50),
                "Sid_operacion": op,
                "Sid_FechaPresentacion": None if rng.random() < 0.2 else self.date(year, month, False),
                "Sid_ImpDeterminado": None if rng.random() < 0.05 else self.money(),
                "_period": (year, month),
            }

        k = rng.random()
        if k < 0.55 or room < 2:
            return [one(1, 1, self.weighted([(0, 70), (1, 15), (2, 8), (None, 4), (3, 1), (-1, 1)]))]
        if k < 0.7:
            # An original then its rectificativa, which may be void.
            return [one(1, 1, 0, "Original"), one(2, 1, self.weighted([(1, 80), (2, 20)]), "Rectificativa")]
        if k < 0.8:
            # Orden 9 and 11: 9 wins as text, 11 as a number.
            return [one(1, 9, rng.choice([0, 1]), "Orden Nueve"), one(1, 11, rng.choice([0, 1]), "Orden Once")]
        # Several declarations with the same key, operations mixed, in any order.
        tramite, orden = rng.choice([(1, 1), (2, 1), (1, 2), (2, 3)])
        ops = [rng.choice([0, 1, 2, 2, None]) for _ in range(rng.randint(2, min(4, room)))]
        return [one(tramite, orden, op, "Clave Repetida") for op in ops]

    def money(self):
        rng = self.rng
        k = rng.random()
        if k < 0.1:
            return rng.choice([1250, 50, 26750, -1250, 0, 214748364800, 9223372036854775807, -9223372036854775808])
        return rng.randrange(-10**7, 10**11) if rng.random() < 0.2 else rng.randrange(0, 10**9, 100)

    def movement(self, sid, decl):
        rng = self.rng
        y, m = decl["_period"] if decl else (None, None)
        if y is None:
            y = rng.randint(1999, 2030)
        per_year = None if rng.random() < 0.02 else (y if rng.random() < 0.95 else rng.randint(1999, 2030))
        per_month = None if rng.random() < 0.02 else (m if rng.random() < 0.95 else rng.randint(1, 12))
        agent = rng.choice(FIRMS + PEOPLE) if rng.random() < 0.8 else rng.choice(ODD_TEXTS)
        if rng.random() < 0.2:
            agent = self.variant(agent)
        if rng.random() < 0.1:
            agent = rng.choice(["  ", "   "]) + agent + rng.choice([" ", "  ", ""])
        return {
            "Sid_ID": sid,
            "Per_Fecha": self.date(y, m, far=0.01),
            "Per_Año": per_year,
            "Per_Mes": per_month,
            "Per_CUIT": None if self.null() else self.weighted([
                (cuit(rng, rng.choice([30, 30, 33, 20, 27])), 80), (cuit(rng, valid=False), 8),
                (cuit(rng)[:12], 3), (cuit(rng).replace("-", ""), 3), ("", 2), (" ", 1), ("30-5O123456-7", 1),
                (cuit(rng)[:7], 2)]),
            "Per_NumAgenteRet": None if rng.random() < max(self.null_rate, 0.01) else self.text(rng.choice([
                str(rng.randrange(1, 1000)), f"901-{rng.randrange(10**6):06d}-{rng.randrange(10)}", "901;123,456.7",
                "0", "  12 ", "A/B-123", "9" * 20, "IB 45.678"]), 20),
            "Per_Responsable": None if self.null() else self.text(agent, 100),
            "Per_Letra": self.weighted([("A", 60), ("B", 15), ("C", 10), ("M", 3), ("", 2), (None, 5), ("ñ", 1),
                                        ("€", 1)]),
            "Per_Concepto": None if self.null() else self.text(rng.choice([
                f"{rng.randrange(1, 10):04d}-{rng.randrange(10**8):08d}", "A-0001,0002;3.4",
                f"Extracto {rng.randint(1, 12):02d}/{y}", 'Fact. "B" 12', f"C-{rng.randrange(100)}", "0001-00001234"]),
                50),
            "Per_Monto": self.amount(),
            "Per_Monto1": self.amount(),
            "Per_Alicuota": None if rng.random() < 0.03 else single(rng.choice(RATES)),
        }


# ----------------------------------------------------------------------------------------------------------------
# Pages


class Page:
    """A page to write: its number is given once every page of the file is known."""

    def __init__(self, kind):
        self.kind = kind
        self.num = None


class DataPage(Page):
    def __init__(self, owner, kind="data"):
        super().__init__(kind)
        self.owner = owner  # a table definition page, or None for a long value page
        self.slots = []  # [bytearray, flags, the row it holds]
        self.used = 0

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
        n = tdef.max_cols
        mask = bytearray((n + 7) // 8)
        fixed = bytearray(self.fixed_size)
        var = [b""] * tdef.var_count
        lval = []
        for c in tdef.columns:
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
                data = encode_text(v)
            elif c.type == T_MEMO:
                stored = encode_text(v) if len(v) <= 1024 else v.encode("utf-16le")
                if len(stored) <= 64:
                    data = struct.pack("<II", len(stored) | 0x80000000, 0) + bytes(4) + stored
                else:
                    data = struct.pack("<II", len(stored) | 0x40000000, 0) + bytes(4)
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

        def place(data, flags, row=None):
            nonlocal page
            if len(data) + 2 > PAGE - 14:
                raise ValueError("row too long for a page")
            # A slot is one byte in an index entry: 255 rows a page at most.
            if page is None or page.room() < len(data) + 2 or len(page.slots) >= 255 or \
                    (page.slots and PAGE - page.room() + len(data) + 2 > fill):
                page = DataPage(self.tdef.page)
                self.pages.append(page)
            return RowPointer(page, page.add(data, flags, row))

        def write(row, flags):
            data, memos = self.encode(row)
            where = place(data, flags, row)
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
                stub = place(bytes(4) + data[4:] if len(data) >= 4 else bytes(4), SLOT_STUB)
                pointers[row["_id"]] = stub
                pending.append([float("inf") if moved_last else self.rng.randint(0, 12), row, stub])
            else:
                where = write(row, SLOT_DELETED if row["_deleted"] else 0)
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
        """Puts a memo on a long value page, as one row of it."""
        if len(stored) + 2 > PAGE - 14:
            raise ValueError(f"a memo of {len(stored)} bytes: more than one long value page holds")
        page = self.lval_pages[-1] if self.lval_pages else None
        if page is None or page.room() < len(stored) + 2:
            page = DataPage(None, "lval")
            self.lval_pages.append(page)
        return RowPointer(page, page.add(stored))

    def apply_patches(self):
        for where, offset, target in self.patches:
            data = where.page.slots[where.slot][0]
            if offset == 0:
                # A stub: the row's slot, then its page.
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

    def __init__(self, tdef, rng, root_page_num):
        self.tdef = tdef
        self.rng = rng
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


# ----------------------------------------------------------------------------------------------------------------
# One file


class Built:
    """A file's bytes, and the rows each table holds in the order a scan meets them."""

    def __init__(self, data, tdefs, scans, stats):
        self.data, self.tdefs, self.scans, self.stats = data, tdefs, scans, stats


def build_file(template, seed, number):
    """A random file: its rows and how they lie, all drawn from the seed and the file's number."""
    rng = random.Random(f"velmora-random-databases/{seed}/{number}")
    return write_file(template, Generator(rng).generate(), rng)


def build_given(template, tables, seed):
    """A file of the rows given (as read_rows returns them), stored in their order; the seed draws only what a scan
    does not see."""
    rng = random.Random(f"velmora-random-databases/rows/{seed}")
    return write_file(template, tables, rng, given=True)


def write_file(template, tables, rng, given=False):
    """Writes `tables` (the rows of each table: dicts of column values with '_id', '_deleted' and '_moved') into a
    copy of the template. A random file draws which rows moved, the order rows were added in and how full its data
    pages are; `given` rows keep their order and marks, fill each page, and moved ones land after the table's last
    row."""
    pages = [bytearray(p) for p in template.pages]
    tdefs = {name: TableDef(pg, template.pages[pg]) for name, pg in template.table_pages.items()}

    # CMD_NumRef holds 20 characters; its text index is left out, its root page freed.
    cmd = tdefs["CMD"]
    numref = cmd.column("CMD_NumRef")
    numref.set_length(40)
    dropped = [i for i in range(len(cmd.real)) if cmd.index_column(i) == numref.num]
    freed_pages = [cmd.index_root(i) for i in dropped]
    freed_maps = [cmd.index_map(i) for i in dropped]
    cmd.drop_index_on(numref.num)

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
        writers[name] = writer
        live[name] = [r for r in rows if not r["_deleted"]]
        built = []
        for i in range(len(tdef.real)):
            col = next(c for c in tdef.columns if c.num == tdef.index_column(i))
            entries = [(long_key(r[col.name]), pointers[r["_id"]]) for r in live[name]]
            iw = IndexWriter(tdef, rng, tdef.index_root(i))
            iw.build(sorted(entries, key=lambda e: e[0]))
            built.append((i, iw, entries))
        indexes[name] = built

    # Number the new pages: the tables' pages interleaved as if rows had been added to all of them over time, or,
    # now and then in a random file, every page anywhere. (Given rows keep each table's pages in order, so that a
    # scan meets them as they were given.)
    queues = []
    for name in TABLES:
        queues += [list(writers[name].pages), list(writers[name].lval_pages)]
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

    for name in TABLES:
        writers[name].apply_patches()
        for _, iw, entries in indexes[name]:
            # Index entries sort by their bytes: the key, then the row's page and slot.
            iw.fill(sorted(entries, key=lambda e: (e[0], e[1].value())))

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
    if any(p is None for p in new_pages):
        raise SystemExit("internal error: a page was numbered but not written")

    # The database's own map on page 1 marks the pages that are free: the freed ones and those past the end.
    gmap = bytearray(MAP_ROW)
    if total <= (MAP_ROW - 5) * 8:
        for p in set(freed_pages) | set(range(total, (MAP_ROW - 5) * 8)):
            gmap[5 + p // 8] |= 1 << (p % 8)
    else:
        gmap[0] = 1
        struct.pack_into("<I", gmap, 1, total)
        bits = bytearray(PAGE - 4)
        for p in set(freed_pages) | set(range(total + 1, MAP_PAGE_BITS)):
            bits[p // 8] |= 1 << (p % 8)
        new_pages.append(b"\x05\x01\x00\x00" + bytes(bits))
        total += 1
    _, start, end = page_rows(pages[1])[0]
    pages[1][start:end] = gmap

    # The creation date masks the password: now and then one after 2079, whose day number needs three bytes.
    set_header(pages[0], date_value(rng.randint(1999, 2030) if rng.random() < 0.95 else rng.randint(2080, 2200),
                                    rng.randint(1, 12), rng.randint(1, 28),
                                    rng.randrange(24), rng.randrange(60), rng.randrange(60)))
    data = b"".join(bytes(p) for p in pages) + b"".join(new_pages)

    scans = {}
    for name in TABLES:
        scans[name] = [row for p in sorted(writers[name].pages, key=lambda p: p.num)
                       for _, flags, row in p.slots if row is not None and flags in (0, SLOT_MOVED)]
    stats = {name: (len(live[name]), len(writers[name].pages),
                    max((1 + len(iw.pages) for _, iw, _ in indexes[name]), default=0)) for name in TABLES}
    stats["pages"] = total
    stats["moved"] = sum(r["_moved"] for name in TABLES for r in tables[name])
    stats["deleted"] = sum(r["_deleted"] for name in TABLES for r in tables[name])
    stats["node pages"] = sum(not p.leaf for name in TABLES for _, iw, _ in indexes[name] for p in iw.all_pages())
    return Built(data, tdefs, scans, stats)


# ----------------------------------------------------------------------------------------------------------------
# Reading back


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


def verify_with_mdbtools(path, built):
    """Differences between what mdb-export reads and what was written, as texts (none when all is well)."""
    problems = []
    for name in TABLES:
        tdef = built.tdefs[name]
        want = [[exported_value(c, row.get(c.name)) for c in tdef.columns] for row in built.scans[name]]
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
    if "[CMD_NumRef]\t\t\tText (20)" not in schema:
        problems.append("mdb-schema does not show CMD_NumRef as Text (20)")
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


def check_indexes(path):
    """Reads the indexes of a written file back from its bytes: every tree well formed (node entries the last entry
    under their child, leaves chained in order, entries in order), one entry for each row the table holds, with the
    row's key, and a search of each key, done as the program does it, finding exactly its rows."""
    db = Template(path)
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
                pointed = set()
                for e in tree:
                    key, pointer = e[:-4], int.from_bytes(e[-4:], "big")
                    where = stubs.get(pointer, pointer)
                    if where not in scanned or pointer in pointed:
                        raise ValueError(f"an entry points at page {pointer >> 8} slot {pointer & 0xFF}, "
                                         "which is no row or another entry's")
                    pointed.add(pointer)
                    page = pages[where >> 8]
                    _, start, end = page_rows(page)[where & 0xFF]
                    if long_key(decode_row(tdef, page, start, end)[col.name]) != key:
                        raise ValueError(f"the entry for page {where >> 8} slot {where & 0xFF} has another key")
                if len(pointed) != len(scanned):
                    raise ValueError(f"{len(pointed)} entries for {len(scanned)} rows")
                # The program's search: down the nodes to the first entry not below the key, or the tail; then
                # along the leaves.
                by_key = {}
                for e in tree:
                    by_key.setdefault(e[:-4], []).append(e)
                for key in list(by_key) + [long_key(v) for v in (-5, 0, 10**6, 2**31 - 1)]:
                    want = by_key.get(key, [])
                    pg = root
                    while pages[pg][0] == 3:
                        entries = index_entries_at(pg)
                        down = next((e for e in entries if e[:-8] >= key), None)
                        pg = u32(down[-4:][::-1], 0) if down else (u32(pages[pg], 20) or
                                                                    u32(entries[-1][-4:][::-1], 0))
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
    # A search meets rows of equal keys in index order, by page and slot, a scan in storage order: the same order,
    # but for a moved row, which the index knows by its stub. So the same exports are expected only from files
    # without moved rows (a declaration lookup then picks another row among equal keys).
    compared = not built.stats["moved"]
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


# ----------------------------------------------------------------------------------------------------------------
# Given rows


PRIMARY_KEYS = {"CMD": "CMD_ID", "Form_Cp01": "CP01_ID", "Form_Sid3": "Sid_ID", "Percepciones": "Per_ID",
                "retenciones": "Per_ID"}
INTEGER_RANGES = {T_BYTE: (0, 255), T_INT: (-2**15, 2**15 - 1), T_LONG: (-2**31, 2**31 - 1)}


def given_value(col, v):
    """A column value of a rows file as the writer stores it; raises ValueError when the column cannot hold it."""
    if col.type == T_BOOL:
        if v is None or isinstance(v, bool):
            return bool(v)
        raise ValueError("a Yes/No column takes true, false or null")
    if v is None:
        return None
    number = isinstance(v, (int, float)) and not isinstance(v, bool)
    if col.type in INTEGER_RANGES:
        low, high = INTEGER_RANGES[col.type]
        if not isinstance(v, int) or isinstance(v, bool) or not low <= v <= high:
            raise ValueError(f"takes a whole number from {low} to {high}")
        return v
    if col.type == T_MONEY:
        # A number, or a text of one for the amounts a double does not hold exactly (past 2^53 ten-thousandths).
        try:
            units = decimal.Decimal(v if isinstance(v, (int, str)) and not isinstance(v, bool) else
                                    repr(float(v)) if number else "x") * 10000
        except decimal.InvalidOperation:
            raise ValueError("a Currency column takes a number, or a text of one") from None
        if not units.is_finite():
            raise ValueError("a Currency column takes a finite number")
        if units != units.to_integral_value():
            raise ValueError("Currency holds four decimals at most")
        if not -2**63 <= units < 2**63:
            raise ValueError("too large for Currency")
        return int(units)
    if col.type in (T_FLOAT, T_DOUBLE):
        if not number:
            raise ValueError("takes a number")
        return single(float(v)) if col.type == T_FLOAT else float(v)
    if col.type == T_DATE:
        if number:
            return float(v)  # Jet's own day number, for dates no ISO text gives
        if not isinstance(v, str):
            raise ValueError("a date takes an ISO text such as 2020-01-15T00:00:00")
        try:
            t = datetime.datetime.fromisoformat(v)
        except ValueError:
            raise ValueError("a date takes an ISO text such as 2020-01-15T00:00:00") from None
        if t.tzinfo or t.microsecond:
            raise ValueError("a date takes no time zone and whole seconds")
        return date_value(t.year, t.month, t.day, t.hour, t.minute, t.second)
    if col.type in (T_TEXT, T_MEMO):
        if not isinstance(v, str):
            raise ValueError("takes a text")
        return v
    raise ValueError(f"type {col.type} is not written")


def read_rows(path, template):
    """The tables of a rows file (see --rows): {table: [row dicts as Generator.generate makes them]}, every column
    present. Exits with a message naming the row when the file is not right."""
    try:
        given = json.loads(pathlib.Path(path).read_text(encoding="utf-8"))
    except (OSError, UnicodeDecodeError, json.JSONDecodeError) as e:
        raise SystemExit(f"{path}: {e}")
    if not isinstance(given, dict):
        raise SystemExit(f"{path}: not an object of tables")
    unknown = [k for k in given if k not in TABLES and k != "_notes"]
    if unknown:
        raise SystemExit(f"{path}: no such table: {', '.join(unknown)}")
    notes = given.get("_notes", [])
    if not isinstance(notes, list) or not all(isinstance(n, str) for n in notes):
        raise SystemExit(f"{path}: _notes is not a list of texts")
    tables = {}
    for name in TABLES:
        tdef = TableDef(template.table_pages[name], template.pages[template.table_pages[name]])
        columns = {c.name: c for c in tdef.columns}
        key = PRIMARY_KEYS[name]
        rows = given.get(name, [])
        if not isinstance(rows, list):
            raise SystemExit(f"{path}: {name} is not a list of rows")
        out, seen = [], set()
        for n, raw in enumerate(rows, 1):
            where = f"{path}: {name} row {n}"
            if not isinstance(raw, dict):
                raise SystemExit(f"{where}: not an object")
            row = {}
            for k, v in raw.items():
                if k in ("_deleted", "_moved"):
                    if not isinstance(v, bool):
                        raise SystemExit(f"{where}: {k} takes true or false")
                elif k not in columns:
                    raise SystemExit(f"{where}: {name} has no column {k}")
            for c in tdef.columns:
                try:
                    row[c.name] = given_value(c, raw.get(c.name))
                except ValueError as e:
                    raise SystemExit(f"{where}: {c.name} {raw.get(c.name)!r}: {e}")
            if row[key] is None:
                raise SystemExit(f"{where}: the primary key {key} is not given")
            if row[key] in seen:
                raise SystemExit(f"{where}: {key} {row[key]} is given twice")
            seen.add(row[key])
            row["_id"] = row[key]
            row["_deleted"] = raw.get("_deleted", False)
            row["_moved"] = raw.get("_moved", False)
            if row["_deleted"] and row["_moved"]:
                raise SystemExit(f"{where}: a row is either deleted or moved")
            out.append(row)
        tables[name] = out
    return tables


def default_template():
    here = pathlib.Path(__file__).resolve().parent
    return here.parent.parent / "shared" / "fixtures" / "impuest-empty.mdb"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, help="required for random files; with --rows, the layout's (0)")
    parser.add_argument("--count", type=int, help="how many random files")
    parser.add_argument("--rows", type=pathlib.Path,
                        help="a JSON file of the rows to write, into the one file --out names, instead of random ones")
    parser.add_argument("--out", required=True, type=pathlib.Path,
                        help="the folder of the random files, or with --rows the file")
    parser.add_argument("--first", type=int, help="number of the first file (0)")
    parser.add_argument("--template", type=pathlib.Path, default=default_template())
    parser.add_argument("--json", action="store_true", help="write the rows of each file beside it")
    parser.add_argument("--verify", action="store_true", help="read every file back with mdb-export")
    parser.add_argument("--export", help="a velmora-export executable to export every file with (implies --verify)")
    args = parser.parse_args()
    if args.rows:
        if args.count is not None or args.first is not None:
            parser.error("--count and --first make random files: not with --rows")
        if args.seed is None:
            args.seed = 0
        if args.json and args.out.with_suffix(".json").resolve() == args.rows.resolve():
            parser.error("--json would write over the --rows file")
    elif args.seed is None or args.count is None:
        parser.error("the following arguments are required: --seed, --count (or --rows)")
    if args.first is None:
        args.first = 0
    args.verify = args.verify or bool(args.export)
    if args.verify and not (shutil.which("mdb-export") and shutil.which("mdb-schema")):
        sys.exit("--verify needs mdbtools' mdb-export and mdb-schema")
    if args.export and not shutil.which(args.export):
        sys.exit(f"{args.export}: not an executable")

    template = Template(args.template)
    if args.rows:
        given = read_rows(args.rows, template)
        count = 1
        args.out.parent.mkdir(parents=True, exist_ok=True)
    else:
        count = args.count
        args.out.mkdir(parents=True, exist_ok=True)
    failed = exported = compared = 0
    started = time.monotonic()
    build_time = 0.0
    with tempfile.TemporaryDirectory(prefix="random-databases-") as tmp:
        for number in range(args.first, args.first + count):
            t0 = time.monotonic()
            if args.rows:
                try:
                    built = build_given(template, given, args.seed)
                except ValueError as e:
                    sys.exit(f"{args.rows}: {e}")
                path = args.out
            else:
                built = build_file(template, args.seed, number)
                path = args.out / f"random-{args.seed}-{number:04d}.mdb"
            path.write_bytes(built.data)
            if args.json:
                path.with_suffix(".json").write_text(json.dumps(json_dump(built), ensure_ascii=False) + "\n")
            build_time += time.monotonic() - t0
            if not args.verify:
                continue
            problems = verify_with_mdbtools(path, built) + check_indexes(path)
            moved = files = 0
            if args.export:
                more, moved, files, same = verify_with_program(args.export, path, built, pathlib.Path(tmp))
                problems += more
                exported += moved
                compared += same
            rows = " ".join(f"{n}={built.stats[n][0]}" for n in TABLES)
            print(f"{path.name}: {built.stats['pages']} pages, {rows}, {built.stats['deleted']} deleted, "
                  f"{built.stats['moved']} moved, {built.stats['node pages']} index node pages"
                  + (f"; exported {moved} movements in {files} files" if args.export else "")
                  + ("" if not problems else ": FAILED"))
            for p in problems:
                print("  " + p)
            failed += bool(problems)
    elapsed = time.monotonic() - started
    if args.verify:
        print(f"{count} files, {failed} failed"
              + (f", {exported} movements exported, {compared} files exported both searching and scanning"
                 if args.export else "")
              + f"; {build_time / max(count, 1):.3f} s a file to write, {elapsed:.1f} s in all")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
