"""Bench files (--bench): big databases shaped like years of use, written page by page as their rows are drawn.

A bench file holds N movements among T taxpayers. Taxpayer 1 (30-00000001-7) is the heavy one: two forms declaring
every month of 2019-2025 and 40 % of the movements, spread evenly over its declarations. The others have one form or
two, each declaring most months from a first one in 2019 or 2020 to 2025-12, and share the rest of the movements
with exponentially distributed counts. 5 % of declarations are filed again: an op-0 original without movements, then
an op-1 rectificativa (Tramite 2) holding them. Rows go in month by month across all taxpayers, each declaration
followed by its movements, so a taxpayer's rows lie all over the file, as years of use leave them.

Nothing holds all the rows: a data page is written once full, an index leaf once the next one starts. The rows come
in the order of every index but one (Form_Sid3.CP01_ID, whose entries are kept as numbers and sorted at the end), so
those trees are built as the rows come; the node pages, which are few, and the page maps follow at the end."""
import array
import bisect
import calendar
import math
import os
import random
import struct

from .jet import (INDEX_BITMAP_START, INDEX_ENTRIES_START, INDEX_SPACE, MAP_PAGE_BITS, MAP_ROW, PAGE, T_BOOL,
                  T_BYTE, T_DATE, T_DOUBLE, T_FLOAT, T_INT, T_LONG, T_MONEY, TABLES, TableDef, date_value, decode_text,
                  encode_text, page_rows, set_header, single, u32)
from .randomdata import cuit
from .writer import Built, TableWriter, long_key, map_row

# Jet 4 refuses to grow a file past 2 GB.
LIMIT_BYTES = 2 ** 31
LIMIT_PAGES = LIMIT_BYTES // PAGE

MONTHS = [(y, m) for y in range(2019, 2026) for m in range(1, 13)]
HEAVY_SHARE = 0.4
HEAVY_REFERENCE = "30-00000001-7"
HEAVY_NAME = "Grandes Superficies del Interior S.A."
REFILED = 0.05
SKIPPED = 0.03

# Prices rose month by month, faster in some years: amounts of the same kind grow about fortyfold over the seven
# years. The largest stays below 21,474,836.48, which the program's TXT line cannot hold.
MONTHLY_RISE = {2019: 1.035, 2020: 1.028, 2021: 1.035, 2022: 1.055, 2023: 1.08, 2024: 1.06, 2025: 1.025}
AMOUNT_RANGE = (150.0, 200000.0)
RATES = [single(r) for r in (0.01, 0.015, 0.02, 0.025, 0.03, 0.035, 0.04, 0.05)]

SURNAMES = [
    "González", "Rodríguez", "Gómez", "Fernández", "López", "Díaz", "Martínez", "Pérez", "García", "Sánchez",
    "Romero", "Sosa", "Álvarez", "Torres", "Ruiz", "Ramírez", "Flores", "Benítez", "Acosta", "Medina", "Herrera",
    "Suárez", "Aguirre", "Giménez", "Gutiérrez", "Pereyra", "Rojas", "Molina", "Castro", "Ortiz", "Silva", "Núñez",
    "Luna", "Juárez", "Cabrera", "Ríos", "Morales", "Godoy", "Moreno", "Ferreyra", "Domínguez", "Carrizo",
    "Peralta", "Castillo", "Ledesma", "Quiroga", "Vega", "Vera", "Muñoz", "Ojeda", "Ponce", "Villalba", "Cardozo",
    "Navarro", "Coronel", "Vázquez", "Ramos", "Figueroa", "Córdoba", "Lucero", "Páez", "Maldonado", "Ibáñez",
    "Chávez", "Mendoza", "Arias", "Sáenz", "Ávila", "Bustos", "Zárate", "Ocampo", "Peña",
]
MEN = [
    "Juan", "José", "Carlos", "Jorge", "Luis", "Miguel", "Martín", "Sebastián", "Andrés", "Raúl", "Hernán", "Matías",
    "Nicolás", "Ramón", "Julián", "Tomás", "Germán", "Agustín", "Fabián", "Joaquín", "Iván", "Óscar", "Darío",
    "Rubén", "Néstor", "Héctor", "Facundo", "Gastón", "Cristián", "Ezequiel",
]
WOMEN = [
    "María", "Ana", "Lucía", "Valeria", "Mariana", "Sofía", "Florencia", "Inés", "Mónica", "Silvia", "Verónica",
    "Begoña", "Belén", "Ángeles", "Noelia", "Mercedes", "Graciela", "Natalia", "Julieta", "Rocío", "Soledad",
    "Celeste", "Martina", "Agustina", "Débora", "Paula", "Romina", "Araceli", "Mirta", "Elena",
]
TRADES = [
    "Ferretería", "Distribuidora", "Panificadora", "Transportes", "Agropecuaria", "Constructora", "Farmacia",
    "Librería", "Inmobiliaria", "Metalúrgica", "Frigorífico", "Lácteos", "Bodega", "Estudio Contable", "Veterinaria",
    "Óptica", "Maderera", "Textil", "Servicios Informáticos", "Corralón", "Autoservicio", "Droguería", "Almacén",
    "Molinos", "Aserradero", "Vivero", "Imprenta", "Mueblería",
]
PLACES = [
    "del Sur", "La Pampa", "Río Cuarto", "Los Andes", "San Martín", "El Ombú", "Güemes", "Ñandú", "La Unión",
    "del Litoral", "Patagónica", "Cañada Verde", "del Centro", "Norte", "Belgrano", "Cuyo", "Santa Fe", "Tucumán",
    "Córdoba", "del Plata", "Los Álamos", "El Trébol", "San Jerónimo", "Mar Chiquita", "Alta Gracia", "Villa María",
    "Paraná", "Sierras Chicas", "Valle Fértil", "Ñuñoa",
]
FIRM_FORMS = ["S.A.", "S.A.", "S.R.L.", "S.R.L.", "S.A.S.", "Hnos.", "S.H."]
STREETS = [
    "San Martín", "Belgrano", "Rivadavia", "Av. Colón", "Sarmiento", "Mitre", "Moreno", "Güemes", "Av. Pueyrredón",
    "Ituzaingó", "Jujuy", "Caseros", "Entre Ríos", "9 de Julio", "25 de Mayo", "Bv. San Juan", "Av. Vélez Sarsfield",
    "Tucumán", "Lavalle", "Independencia", "Maipú", "Chacabuco", "Deán Funes", "Obispo Trejo", "Bv. Oroño",
    "Av. Almafuerte", "Juan B. Justo", "Perú", "Córdoba",
]
TOWNS = [
    ("Córdoba", "5000"), ("Río Cuarto", "5800"), ("Villa María", "5900"), ("Rosario", "2000"), ("Santa Fe", "3000"),
    ("Paraná", "3100"), ("Mendoza", "5500"), ("San Juan", "5400"), ("Salta", "4400"),
    ("San Miguel de Tucumán", "4000"), ("Neuquén", "8300"), ("La Plata", "1900"), ("Mar del Plata", "7600"),
    ("Bahía Blanca", "8000"), ("Resistencia", "3500"), ("Posadas", "3300"), ("Santa Rosa", "6300"),
    ("San Luis", "5700"), ("Villa Carlos Paz", "5152"), ("Alta Gracia", "5186"),
    ("Ciudad Autónoma de Buenos Aires", "C1425"), ("Río Gallegos", "9400"), ("San Fernando del Valle", "4700"),
]
ACTIVITIES = [
    "Venta al por mayor de productos lácteos", "Cultivo de cereales", "Venta al por menor de artículos de ferretería",
    "Servicios informáticos", "Servicios de transporte de carga", "Elaboración de productos de panadería",
    "Construcción de edificios residenciales", "Servicios de asesoramiento contable", "Cría de ganado bovino",
    "Venta al por menor de productos farmacéuticos", "Reparación de vehículos automotores", "Fabricación de muebles",
    "Venta al por menor en supermercados", "Servicios de alojamiento en hoteles", "Expendio de comidas y bebidas",
    "Venta de materiales de construcción", "Servicios inmobiliarios", "Elaboración de vinos",
]
# Collecting agents: (name, kind, weight). Banks and payment platforms withhold on bank accounts, their movements go
# to retenciones with an "Extracto" voucher and no letter; the others collect on invoices, two in three perceptions.
AGENTS = [
    ("Banco de la Provincia del Litoral S.A.", "bank", 14), ("Banco Cooperativo Pampeano Ltdo.", "bank", 9),
    ("Banco de Inversión y Comercio S.A.", "bank", 6), ("Banco Regional del Noroeste S.A.", "bank", 3),
    ("Banco Municipal de Córdoba", "bank", 2), ("Caja de Crédito Cuyana Coop. Ltda.", "bank", 1),
    ("Plataforma de Pagos Electrónicos S.R.L.", "bank", 6), ("Billetera Virtual Andina S.A.", "bank", 2),
    ("Supermercados del Oeste S.A.", "shop", 10), ("Distribuidora Mediterránea S.A.", "shop", 8),
    ("Telefonía Móvil del Sur S.A.", "shop", 6), ("Energía Regional del Centro S.A.", "shop", 6),
    ("Combustibles Andinos S.A.", "shop", 5), ("Ferretería Centro S.A.", "shop", 5),
    ("Agroinsumos Cañada Verde S.R.L.", "shop", 4), ("Frigorífico La Unión S.A.", "shop", 3),
    ("Mayorista Ñandú S.A.", "shop", 3), ("Cementera del Cerro S.A.", "shop", 3),
    ("Logística Río Segundo S.R.L.", "shop", 3), ("Cooperativa Eléctrica de Oncativo Ltda.", "shop", 3),
    ("Droguería del Sur S.A.", "shop", 2), ("Servicios Petroleros Patagónicos S.A.", "shop", 2),
    ("Autopartes Güemes S.A.", "shop", 2), ("Papelera del Plata, S.A.", "shop", 2),
    ("Compañía Ñandubay de Seguros S.A.", "shop", 2), ("Lácteos Sierras Chicas S.R.L.", "shop", 2),
    ("Transportes Güemes, Hnos. y Cía.", "shop", 1), ("Acopio y Cereales El Ombú S.A.", "shop", 1),
    ("Gas Natural Cuyano S.A.", "shop", 2), ("Aguas del Valle S.A.P.E.M.", "shop", 1),
    ("Neumáticos Córdoba S.R.L.", "shop", 1), ("Materiales Eléctricos Paraná S.A.", "shop", 1),
    ("Editorial Académica Ibáñez S.A.", "shop", 1), ("Óptica Belgrano S.H.", "shop", 1),
]
LETTERS = [("A", 50), ("B", 17), ("C", 17), ("M", 16)]

# Row bytes for values struct packs directly: the column type's format.
FORMATS = {T_BYTE: "B", T_INT: "h", T_LONG: "i", T_MONEY: "q", T_FLOAT: "f", T_DOUBLE: "d", T_DATE: "d"}
FLAG = 0x7F << 64  # a Long key's flag byte, above the key and the row pointer of an index entry


class TooBig(Exception):
    """The file reached the pages a Jet 4 file may have."""


# ----------------------------------------------------------------------------------------------------------------
# Rows


class RowFormat:
    """A table's row bytes from its fixed values (by column number, Null as 0), its variable values already encoded
    (b"" for Null) and its null mask: what TableWriter.encode writes for a whole row, done with one struct each."""

    def __init__(self, tdef):
        fixed = sorted((c for c in tdef.columns if c.fixed and c.type != T_BOOL), key=lambda c: c.fixed_offset)
        fmt, at = "<H", 0
        for c in fixed:
            if c.fixed_offset < at:
                raise SystemExit(f"template: fixed columns of {tdef.page} overlap")
            fmt += f"{c.fixed_offset - at}x" if c.fixed_offset > at else ""
            fmt += FORMATS[c.type]
            at = c.fixed_offset + c.length
        self.head = struct.Struct(fmt)
        self.fixed_names = [c.name for c in fixed]
        self.var_names = [c.name for c in sorted((c for c in tdef.columns if not c.fixed), key=lambda c: c.var)]
        if sorted(c.var for c in tdef.columns if not c.fixed) != list(range(tdef.var_count)):
            raise SystemExit("template: variable columns out of step")
        self.n_cols = tdef.max_cols
        self.n_var = tdef.var_count
        self.tail = struct.Struct(f"<{self.n_var + 2}H")
        self.columns = {c.name: c for c in tdef.columns}

    def mask(self, nulls=()):
        """The null mask of a row whose columns `nulls` are Null (every Yes/No column No)."""
        m = bytearray((self.n_cols + 7) // 8)
        for c in self.columns.values():
            if c.type != T_BOOL and c.name not in nulls:
                m[c.num // 8] |= 1 << (c.num % 8)
        return bytes(m)

    def encode(self, fixed, var, mask):
        head = self.head.pack(self.n_cols, *fixed)
        offsets = [len(head)]
        for v in var:
            offsets.append(offsets[-1] + len(v))
        offsets.reverse()
        return b"".join((head, *var, self.tail.pack(*offsets, self.n_var), mask))


def text(s):
    return b"" if s is None else encode_text(s)


# ----------------------------------------------------------------------------------------------------------------
# Pages


class PageFile:
    """The file being written: pages numbered as they are started, each written once done."""

    def __init__(self, path, pages):
        self.f = open(path, "wb")
        # The template's pages, kept to be patched and written last; an index root among them is written there.
        self.pages = pages
        self.next = len(pages)

    def allocate(self):
        if self.next >= LIMIT_PAGES:
            raise TooBig(self.next)
        n = self.next
        self.next += 1
        return n

    def write(self, num, data):
        if num < len(self.pages):
            self.pages[num] = bytearray(data)
            return
        self.f.seek(num * PAGE)
        self.f.write(data)

    def close(self):
        self.f.close()


class DataPages:
    """A table's data pages, filled one after the other with its rows."""

    def __init__(self, out, owner):
        self.out, self.owner = out, owner
        self.numbers = array.array("I")
        self.rows = []
        self.used = 0
        self.num = None
        self.last_room = 0

    def add(self, data):
        """Puts a row on the table's last page, or a new one; returns its row pointer (page << 8 | slot)."""
        n = len(self.rows)
        if self.num is None or PAGE - 14 - 2 * n - self.used < len(data) + 2 or n >= 255:
            self.flush()
            self.num = self.out.allocate()
            self.numbers.append(self.num)
            n = 0
        self.rows.append(data)
        self.used += len(data)
        return self.num << 8 | n

    def flush(self):
        if self.num is None:
            return
        b = bytearray(PAGE)
        n = len(self.rows)
        room = PAGE - 14 - 2 * n - self.used
        struct.pack_into("<BBHI", b, 0, 0x01, 0x01, room, self.owner)
        struct.pack_into("<H", b, 12, n)
        end, starts = PAGE, []
        for data in self.rows:
            start = end - len(data)
            b[start:end] = data
            starts.append(start)
            end = start
        struct.pack_into(f"<{n}H", b, 14, *starts)
        self.out.write(self.num, b)
        self.last_room = room
        self.rows, self.used, self.num = [], 0, None


def key_prefix(a, b):
    """The bytes two Long keys (0x7F, then the number as four bytes) share at their start, as common_prefix counts
    them: a prefix of one byte is none."""
    x = a ^ b
    n = 5 if x == 0 else 1 + (32 - x.bit_length()) // 8
    return 0 if n < 2 else n


def index_page(kind, owner, prev, nxt, tail, raw):
    """An index page of `raw` entries (key and what follows as bytes, all with the same flag byte), the first whole
    and the others without the prefix the first and last share."""
    b = bytearray(PAGE)
    b[0], b[1] = kind, 0x01
    prefix = 0
    if raw:
        first, last = raw[0], raw[-1]
        while prefix < 5 and first[prefix] == last[prefix]:
            prefix += 1
        prefix = 0 if prefix < 2 else prefix
    struct.pack_into("<IIIIIH", b, 4, owner, 0, prev, nxt, tail, prefix)
    body = raw[0] + b"".join(e[prefix:] for e in raw[1:]) if raw else b""
    if len(body) > INDEX_SPACE:
        raise ValueError("index page overfull")
    b[INDEX_ENTRIES_START:INDEX_ENTRIES_START + len(body)] = body
    bits, pos = 0, 0
    for n, e in enumerate(raw):
        pos += len(e) - (prefix if n else 0)
        bits |= 1 << pos
    b[INDEX_BITMAP_START:INDEX_ENTRIES_START] = bits.to_bytes(INDEX_ENTRIES_START - INDEX_BITMAP_START, "little")
    struct.pack_into("<H", b, 2, PAGE - INDEX_ENTRIES_START - len(body))
    return b


class IndexStream:
    """An index B-tree over a Long column built from its entries in order (key, then row pointer): leaves of as many
    entries as fit, shared prefixes left out, each written once the next one starts; node pages at the end, each
    listing its children but the last, which its tail page names, as the package's other trees are."""

    def __init__(self, out, owner, root):
        self.out, self.owner, self.root = out, owner, root
        self.leaf = []  # entries of the leaf being filled: key << 32 | pointer, the key with its sign bit flipped
        self.first = 0
        self.pending = None  # the last leaf closed: [entries, number, number of the leaf before]
        self.leaves = []  # (last entry, number) of every leaf closed
        self.numbers = []
        self.last = -1
        self.count = self.distinct = 0
        self.node_pages = 0

    def add(self, value, pointer):
        k = (value & 0xFFFFFFFF) ^ 0x80000000
        e = k << 32 | pointer
        if e <= self.last:
            raise ValueError("index entries out of order")
        if k != self.last >> 32:
            self.distinct += 1
        self.last = e
        self.count += 1
        leaf = self.leaf
        if leaf:
            n = len(leaf) + 1
            if 9 * n - key_prefix(self.first, k) * (n - 1) > INDEX_SPACE:
                self.close_leaf(self.out.allocate())
                leaf = self.leaf
        if not leaf:
            self.first = k
        leaf.append(e)

    def close_leaf(self, num):
        prev = 0
        if self.pending:
            entries, pnum, pprev = self.pending
            self.write_leaf(entries, pnum, pprev, num)
            prev = pnum
        self.pending = [self.leaf, num, prev]
        self.leaves.append((self.leaf[-1], num))
        self.leaf = []

    def write_leaf(self, entries, num, prev, nxt):
        raw = [(FLAG | e).to_bytes(9, "big") for e in entries]
        self.out.write(num, index_page(0x04, self.owner, prev, nxt, 0, raw))
        self.numbers.append(num)

    def finish(self):
        """Writes the last leaf and the node pages; the root is the template's root page."""
        if not self.pending:
            self.write_leaf(self.leaf, self.root, 0, 0)
            return
        self.close_leaf(self.out.allocate())
        entries, num, prev = self.pending
        self.write_leaf(entries, num, prev, 0)
        # Levels of node pages up to one: (last entry under it, number) of each page of the level below.
        level, nodes, links = self.leaves, [], {}
        while len(level) > 1:
            groups, group = [], []
            for child in level:
                if group and 13 * len(group) - key_prefix(group[0][0] >> 32, group[-1][0] >> 32) * (len(group) - 1) \
                        > INDEX_SPACE:
                    groups.append(group)
                    group = []
                group.append(child)
            if len(group) == 1 and groups:
                # A node of one child is no node: it takes the last child of the one before.
                group.insert(0, groups[-1].pop())
            groups.append(group)
            numbers = [self.root] if len(groups) == 1 else [self.out.allocate() for _ in groups]
            up = []
            for group, num in zip(groups, numbers):
                nodes.append((num, group))
                if level is not self.leaves:
                    for (_, a), (_, b) in zip(group, group[1:]):
                        links.setdefault(a, [0, 0])[1] = b
                        links.setdefault(b, [0, 0])[0] = a
                up.append((group[-1][0], num))
            level = up
        for num, group in nodes:
            entries = group[:-1] if len(group) > 1 else group
            raw = [(FLAG | e).to_bytes(9, "big") + child.to_bytes(4, "big") for e, child in entries]
            prev, nxt = links.get(num, (0, 0))
            tail = group[-1][1] if len(group) > 1 else 0
            self.out.write(num, index_page(0x03, self.owner, prev, nxt, tail, raw))
            self.numbers.append(num)
        self.node_pages = len(nodes)


# ----------------------------------------------------------------------------------------------------------------
# The data


def price_index():
    """The price level of each month of MONTHS, 1 in 2019-01."""
    out, level = [], 1.0
    for y, m in MONTHS:
        out.append(level)
        level *= MONTHLY_RISE[y]
    return out


class Plan:
    """Who declares what: the taxpayers, their forms, and for each form its first month, the months it skips and
    those it files again, and how many movements each declaration holds."""

    def __init__(self, rng, movements, taxpayers):
        self.rng = rng
        used = {HEAVY_REFERENCE}
        self.taxpayers = [self.heavy_taxpayer()]
        for _ in range(taxpayers - 1):
            self.taxpayers.append(self.taxpayer(used))
        # Forms: (taxpayer, first month, months skipped, months filed again), as bit masks over MONTHS.
        self.forms = []
        for n, _ in enumerate(self.taxpayers, 1):
            count = 2 if n == 1 or rng.random() < 1 / 3 else 1
            for _ in range(count):
                first = 0 if n == 1 or rng.random() < 0.25 else rng.randrange(24)
                skipped = 0 if n == 1 else sum(1 << k for k in range(first + 1, len(MONTHS))
                                                if rng.random() < SKIPPED)
                refiled = sum(1 << k for k in range(first, len(MONTHS)) if not skipped >> k & 1 and
                              rng.random() < REFILED)
                self.forms.append((n, first, skipped, refiled))
        # The movements of each declaration that holds them, in the order they are written: the heavy taxpayer's
        # share spread evenly, the others' drawn from an exponential and scaled to make up the rest exactly.
        heavy = round(movements * HEAVY_SHARE)
        declared = [[f for f, (n, first, skipped, _) in enumerate(self.forms)
                     if k >= first and not skipped >> k & 1] for k in range(len(MONTHS))]
        self.declared = declared
        heavy_count = sum(self.forms[f][0] == 1 for fs in declared for f in fs)
        weights = array.array("d", (rng.expovariate(1.0) for fs in declared for f in fs if self.forms[f][0] != 1))
        if not weights and movements - heavy:
            raise ValueError("no taxpayer but the heavy one to hold the other movements")
        self.counts = array.array("I")
        scale = (movements - heavy) / max(math.fsum(weights), 1e-300)
        done_heavy = done_other = 0
        running, w = 0.0, iter(weights)
        other_total = movements - heavy
        given_other = 0
        for fs in declared:
            for f in fs:
                if self.forms[f][0] == 1:
                    c = heavy // heavy_count + (done_heavy < heavy % heavy_count)
                    done_heavy += 1
                else:
                    # Rounded as they add up, so that the counts sum to the share exactly.
                    running += next(w)
                    done_other += 1
                    upto = other_total if done_other == len(weights) else min(int(running * scale), other_total)
                    c = upto - given_other
                    given_other = upto
                self.counts.append(c)
        self.declarations = len(self.counts) + sum(bin(r).count("1") for _, _, _, r in self.forms)

    def heavy_taxpayer(self):
        return {"CMD_NumRef": HEAVY_REFERENCE, "CMD_Contribuyente": HEAVY_NAME, **self.address(),
                "CMD_FechaAlta": date_value(2016, 1, 19)}

    def address(self):
        rng = self.rng
        town, code = rng.choice(TOWNS)
        return {"CMD_Domicilio": f"{rng.choice(STREETS)} {rng.randrange(100, 4000)}", "CMD_Localidad": town,
                "CMD_CodPostal": code}

    def taxpayer(self, used):
        rng = self.rng
        if rng.random() < 0.55:
            woman = rng.random() < 0.5
            given = rng.sample(WOMEN if woman else MEN, rng.choice([1, 1, 2]))
            name = f"{rng.choice(SURNAMES)}{' ' + rng.choice(SURNAMES) if rng.random() < 0.15 else ''}, " \
                   f"{' '.join(given)}"
            prefix = 23 if rng.random() < 0.05 else 27 if woman else 20
        else:
            name = f"{rng.choice(TRADES)} {rng.choice(PLACES)} {rng.choice(FIRM_FORMS)}"
            prefix = 33 if rng.random() < 0.1 else 30
        ref = cuit(rng, prefix)
        while ref in used:
            ref = cuit(rng, prefix)
        used.add(ref)
        return {"CMD_NumRef": ref, "CMD_Contribuyente": name, **self.address(),
                "CMD_FechaAlta": date_value(rng.randint(2010, 2018), rng.randint(1, 12), rng.randint(1, 28))}


class Agent:
    def __init__(self, rng, number, name, kind, used):
        ref = cuit(rng, 33 if "Coop" in name or "Caja" in name else 30)
        while ref in used:
            ref = cuit(rng, 30)
        used.add(ref)
        self.bank = kind == "bank"
        # Agents' registration numbers: 900-NNNNNN-D for banks, 901-NNNNNN-D or a plain number for the others.
        if self.bank:
            body = f"900{number:06d}"
        else:
            body = f"901{rng.randrange(10**6):06d}" if rng.random() < 0.7 else str(rng.randrange(1000, 10**7))
        if len(body) == 9:
            check = sum(int(d) * w for d, w in zip(body, (4, 3, 2, 7, 6, 5, 4, 3, 2))) % 10
            body = f"{body[:3]}-{body[3:]}-{check}"
        self.values = (ref, body, name)
        encoded = [encode_text(v) for v in self.values]
        self.var = encoded
        self.lengths = [len(v) for v in encoded]


# ----------------------------------------------------------------------------------------------------------------
# The file


def estimate_bytes(movements, declarations, taxpayers):
    """About the size of a bench file: the movements' rows and index entries, the declarations', the rest."""
    return int(movements * 153.5 + declarations * 88.0 + taxpayers * 260.0 + 400_000)


def movements_that_fit(declarations, taxpayers):
    return int((LIMIT_BYTES * 0.995 - declarations * 88.0 - taxpayers * 260.0 - 400_000) / 153.5)


class BenchFile:
    """Writes one bench file; `keep` keeps every row (as a dict) for reading the file back."""

    def __init__(self, template, movements, taxpayers, seed, keep=False):
        self.template = template
        self.movements, self.taxpayers, self.seed, self.keep = movements, taxpayers, seed, keep
        self.rng = random.Random(f"velmora-bench-databases/{seed}/{movements}/{taxpayers}")
        self.plan = Plan(self.rng, movements, taxpayers)
        self.written = 0  # movements written so far

    def estimate(self):
        return estimate_bytes(self.movements, self.plan.declarations, self.taxpayers)

    def fits(self):
        return movements_that_fit(self.plan.declarations, self.taxpayers)

    def write(self, path, progress=None):
        """Writes the file to `path` (through `path`.part, renamed when whole); returns a Built whose rows are there
        only when kept."""
        template, rng, plan = self.template, self.rng, self.plan
        pages = [bytearray(p) for p in template.pages]
        tdefs = {name: TableDef(pg, template.pages[pg]) for name, pg in template.table_pages.items()}
        cmd = tdefs["CMD"]
        numref = cmd.column("CMD_NumRef")
        if numref.length != 26:
            raise SystemExit("template: CMD_NumRef is not Text(13)")
        # The text index on CMD_NumRef is left out, as in the package's other files: its root page is freed.
        dropped = [i for i in range(len(cmd.real)) if cmd.index_column(i) == numref.num]
        freed_pages = [cmd.index_root(i) for i in dropped]
        freed_maps = [cmd.index_map(i) for i in dropped]
        cmd.drop_index_on(numref.num)

        part = f"{path}.part"
        out = PageFile(part, pages)
        try:
            built = self.write_rows(out, tdefs, progress)
            data_pages, indexes = built
            total = self.finish(out, pages, tdefs, data_pages, indexes, freed_pages, freed_maps)
        except BaseException:
            out.close()
            os.unlink(part)
            raise
        out.close()
        os.replace(part, path)
        self.path, self.tdefs = path, tdefs
        return self.built(path, tdefs, data_pages, indexes, total)

    def write_rows(self, out, tdefs, progress):
        rng, plan, keep = self.rng, self.plan, self.keep
        data = {name: DataPages(out, tdefs[name].page) for name in TABLES}
        streams = {}
        for name in TABLES:
            tdef = tdefs[name]
            for i in range(len(tdef.real)):
                col = next(c for c in tdef.columns if c.num == tdef.index_column(i))
                streams[(name, col.name)] = IndexStream(out, tdef.page, tdef.index_root(i))
        self.rows = {name: [] for name in TABLES}
        self.pointers = {name: [] for name in TABLES}

        def put(name, row, columns):
            pointer = data[name].add(row)
            for col, value in columns:
                streams[(name, col)].add(value, pointer)
            if keep:
                self.pointers[name].append(pointer)
            return pointer

        # Taxpayers and their forms, before the first declaration.
        writers = {name: TableWriter(tdefs[name], rng) for name in ("CMD", "Form_Cp01")}
        for n, t in enumerate(plan.taxpayers, 1):
            row = dict(t, CMD_ID=n, CMD_Activo=True, CMD_Observaciones=None, _id=n)
            put("CMD", writers["CMD"].encode(row)[0], [("CMD_ID", n)])
            if keep:
                self.rows["CMD"].append(row)
        for fid, (n, first, _, _) in enumerate(plan.forms, 1):
            y, m = MONTHS[max(first - rng.randint(1, 11), 0)] if first else (2018, rng.randint(1, 12))
            row = {"CP01_ID": fid, "Cmd_ID": n, "_id": fid,
                   "CP01_IngBrut": f"9{rng.randrange(10, 20)}-{rng.randrange(10**6):06d}-{rng.randrange(10)}",
                   "CP01_FechaInscripcion": date_value(y, m, rng.randint(1, 28)),
                   "CP01_Actividad": rng.choice(ACTIVITIES), "CP01_Regimen": 1}
            put("Form_Cp01", writers["Form_Cp01"].encode(row)[0], [("CP01_ID", fid), ("Cmd_ID", n)])
            if keep:
                self.rows["Form_Cp01"].append(row)

        used = {t["CMD_NumRef"] for t in plan.taxpayers}
        agents = [Agent(rng, k, name, kind, used) for k, (name, kind, _) in enumerate(AGENTS, 1)]
        cumulative, total = [], 0
        for _, _, w in AGENTS:
            total += w
            cumulative.append(total)
        cumulative = [c / total for c in cumulative]
        letters, total = [], 0
        for letter, w in LETTERS:
            total += w
            letters.append((total / sum(w for _, w in LETTERS), text(letter)))

        sid_format = RowFormat(tdefs["Form_Sid3"])
        sid_fixed = ["Sid_ID", "CP01_ID", "Sid_Tramite", "Sid_Orden", "Sid_operacion", "Sid_FechaPresentacion",
                     "Sid_ImpDeterminado"]
        mov_format = RowFormat(tdefs["Percepciones"])
        if RowFormat(tdefs["retenciones"]).head.format != mov_format.head.format:
            raise SystemExit("template: the movement tables differ")
        mov_fixed = ["Per_ID", "Sid_ID", "Per_Fecha", "Per_Año", "Per_Mes", "Per_Monto", "Per_Monto1", "Per_Alicuota"]
        mov_var = ["Per_CUIT", "Per_NumAgenteRet", "Per_Responsable", "Per_Letra", "Per_Concepto"]
        for fmt, want_fixed, want_var in ((sid_format, sid_fixed, ["Sid_Año", "Sid_Mes", "Sid_Tramite_Descrip"]),
                                          (mov_format, mov_fixed, mov_var)):
            if fmt.fixed_names != want_fixed or fmt.var_names != want_var:
                raise SystemExit("template: the declarations' or movements' columns are not where they were")
        sid_mask = sid_format.mask()
        full_mask, no_letter_mask = mov_format.mask(), mov_format.mask(("Per_Letra",))
        head, tail = mov_format.head.pack, mov_format.tail.pack
        n_cols, n_var = mov_format.n_cols, mov_format.n_var
        start = mov_format.head.size  # where the variable columns start, after the column count and fixed ones
        original, rectification = text("Original"), text("Rectificativa 1")
        levels = price_index()
        low, span = math.log(AMOUNT_RANGE[0]), math.log(AMOUNT_RANGE[1] / AMOUNT_RANGE[0])
        rnd, exp = rng.random, math.exp
        sid_id = 0
        per_id = {"Percepciones": 0, "retenciones": 0}
        tables = ("Percepciones", "retenciones")
        pages = {t: data[t] for t in tables}
        pk = {t: streams[(t, "Per_ID")] for t in tables}
        fk = {t: streams[(t, "Sid_ID")] for t in tables}
        sid_pk = streams[("Form_Sid3", "Sid_ID")]
        by_form = array.array("Q")  # Form_Sid3.CP01_ID entries, sorted at the end
        count_at = 0
        written = 0

        for k, (y, m) in enumerate(MONTHS):
            level = levels[k]
            first_day = date_value(y, m, 1)
            days = calendar.monthrange(y, m)[1]
            year_text, month_text = text(str(y)), text(f"{m:02d}")
            statement = text(f"Extracto {m:02d}/{y}")
            ny, nm = (y + 1, 1) if m == 12 else (y, m + 1)
            filed = date_value(ny, nm, 1)
            for f in plan.declared[k]:
                owner, _, _, refiled = plan.forms[f]
                count = plan.counts[count_at]
                count_at += 1
                again = refiled >> k & 1
                for filing in ((0, 1) if again else (1,)):
                    sid_id += 1
                    holds = filing == 1
                    tramite, op = (2, 1) if again and holds else (1, 0)
                    day = rng.randint(5, 20) if tramite == 1 else rng.randint(21, 27)
                    amount = round(exp(low + span * rnd()) * level * (40 if owner == 1 else 1), 2)
                    fixed = (sid_id, f + 1, tramite, 1, op, filed + day - 1, round(amount * 100) * 100)
                    descr = rectification if tramite == 2 else original
                    pointer = data["Form_Sid3"].add(sid_format.encode(fixed, (year_text, month_text, descr),
                                                                      sid_mask))
                    sid_pk.add(sid_id, pointer)
                    by_form.append(((f + 1) ^ 0x80000000) << 32 | pointer)
                    if keep:
                        self.pointers["Form_Sid3"].append(pointer)
                        self.rows["Form_Sid3"].append(dict(zip(sid_fixed, fixed), _id=sid_id, **{
                            "Sid_Año": str(y), "Sid_Mes": f"{m:02d}",
                            "Sid_Tramite_Descrip": "Rectificativa 1" if tramite == 2 else "Original"}))
                    if not holds:
                        continue
                    for _ in range(count):
                        agent = agents[bisect.bisect_right(cumulative, rnd())]
                        if agent.bank:
                            table, letter, mask, voucher = "retenciones", b"", no_letter_mask, statement
                        else:
                            table = "Percepciones" if rnd() < 2 / 3 else "retenciones"
                            r = rnd()
                            letter = next(t for t in letters if r < t[0])[1]
                            mask = full_mask
                            voucher = b"\xff\xfe%04d-%08d" % (int(rnd() * 12) + 1, int(rnd() * 1e8))
                        alicuota = RATES[int(rnd() * len(RATES))]
                        amount = round(exp(low + span * rnd()) * level, 2)
                        amount1 = round(amount * alicuota, 2)
                        date = first_day + int(rnd() * days)
                        per_id[table] += 1
                        n = per_id[table]
                        cuit_b, number_b, name_b = agent.var
                        o1, o2, o3 = agent.lengths
                        a = start + o1
                        b = a + o2
                        c = b + o3
                        d = c + len(letter)
                        e = d + len(voucher)
                        row = b"".join((head(n_cols, n, sid_id, date, y, m, amount, amount1, alicuota),
                                        cuit_b, number_b, name_b, letter, voucher,
                                        tail(e, d, c, b, a, start, n_var), mask))
                        pointer = pages[table].add(row)
                        pk[table].add(n, pointer)
                        fk[table].add(sid_id, pointer)
                        if keep:
                            self.pointers[table].append(pointer)
                            self.rows[table].append({
                                "_id": n, "Per_ID": n, "Sid_ID": sid_id, "Per_Fecha": date, "Per_Año": y,
                                "Per_Mes": m, "Per_CUIT": agent.values[0], "Per_NumAgenteRet": agent.values[1],
                                "Per_Responsable": agent.values[2],
                                "Per_Letra": decode_text(letter) if letter else None,
                                "Per_Concepto": decode_text(voucher),
                                "Per_Monto": amount, "Per_Monto1": amount1, "Per_Alicuota": alicuota})
                    written += count
                    self.written = written
            if progress:
                progress(y, m, written, out.next)
        if count_at != len(plan.counts):
            raise SystemExit("internal error: declarations out of step")
        for name in TABLES:
            data[name].flush()
        # The one index whose entries did not come in order.
        stream = streams[("Form_Sid3", "CP01_ID")]
        for e in sorted(by_form):
            stream.add((e >> 32) ^ 0x80000000, e & 0xFFFFFFFF)
        del by_form
        for s in streams.values():
            s.finish()
        self.ids = {"CMD": len(plan.taxpayers), "Form_Cp01": len(plan.forms), "Form_Sid3": sid_id, **per_id}
        return data, streams

    def finish(self, out, pages, tdefs, data, streams, freed_pages, freed_maps):
        """The page maps, the patched definitions, the database's own map and the header; returns the page count."""
        rng = self.rng
        map_rows, made_pages = {}, []

        def set_map(pointer, numbers):
            row, made = map_row(numbers)
            map_rows[pointer] = (row, made)
            made_pages.extend(made)

        for name in TABLES:
            tdef = tdefs[name]
            set_map(tdef.used_map, list(data[name].numbers))
            last = data[name].numbers[-1:] if data[name].last_room > 400 else []
            set_map(tdef.free_map, list(last))
            for i in range(len(tdef.real)):
                col = next(c for c in tdef.columns if c.num == tdef.index_column(i))
                set_map(tdef.index_map(i), streams[(name, col.name)].numbers)
            for vm in tdef.var_maps:
                set_map(u32(vm, 2), [])
                set_map(u32(vm, 6), [])
        for pointer in freed_maps:
            set_map(pointer, [])
        for p in made_pages:
            p.num = out.allocate()
            out.write(p.num, b"\x05\x01\x00\x00" + bytes(p.bits))

        for name in TABLES:
            tdef = tdefs[name]
            struct.pack_into("<I", tdef.head, 16, self.ids[name])
            struct.pack_into("<I", tdef.head, 20, self.ids[name])
            for i in range(len(tdef.real)):
                col = next(c for c in tdef.columns if c.num == tdef.index_column(i))
                struct.pack_into("<I", tdef.counts[i], 4, streams[(name, col.name)].distinct)
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

        # The database's own map on page 1 marks the free pages: the freed ones and those past the end, through map
        # pages added at the end, each for the next 32,736 pages.
        total = out.next
        count = 1
        while total + count > count * MAP_PAGE_BITS:
            count += 1
        if count > (MAP_ROW - 1) // 4 or total + count > LIMIT_PAGES:
            raise TooBig(total + count)
        gmap = bytearray(MAP_ROW)
        gmap[0] = 1
        for k in range(count):
            num = out.allocate()
            struct.pack_into("<I", gmap, 1 + 4 * k, num)
            bits = bytearray(PAGE - 4)
            for p in freed_pages:
                if k * MAP_PAGE_BITS <= p < (k + 1) * MAP_PAGE_BITS:
                    bits[(p % MAP_PAGE_BITS) // 8] |= 1 << (p % 8)
            for p in range(max(total + count, k * MAP_PAGE_BITS), (k + 1) * MAP_PAGE_BITS):
                bits[(p % MAP_PAGE_BITS) // 8] |= 1 << (p % 8)
            out.write(num, b"\x05\x01\x00\x00" + bytes(bits))
        _, start, end = page_rows(pages[1])[0]
        pages[1][start:end] = gmap

        # Created at the end of 2018, before the first declaration; the date masks the password.
        set_header(pages[0], date_value(2018, 12, rng.randint(1, 28), rng.randrange(8, 20), rng.randrange(60),
                                        rng.randrange(60)))
        for n, p in enumerate(pages):
            out.f.seek(n * PAGE)
            out.f.write(p)
        return out.next

    def check_rows(self):
        """Kept rows whose bytes in the file are not what the package's general row writer makes of them: the
        declarations and movements are put together here by hand, for speed."""
        with open(self.path, "rb") as f:
            file = f.read()
        problems = []
        for name in TABLES:
            writer = TableWriter(self.tdefs[name], None)
            for row, pointer in zip(self.rows[name], self.pointers[name]):
                page = file[(pointer >> 8) * PAGE:((pointer >> 8) + 1) * PAGE]
                _, start, end = page_rows(page)[pointer & 0xFF]
                if page[start:end] != writer.encode(row)[0]:
                    problems.append(f"{name}: row {row['_id']} is not stored as the row writer writes it")
                    break
        return problems

    def built(self, path, tdefs, data, streams, total):
        """What was written, for the report and for reading back: the rows only when kept."""
        stats = {name: (self.ids[name], len(data[name].numbers),
                        max(len(streams[(name, c.name)].numbers) for c in tdefs[name].columns
                            if (name, c.name) in streams)) for name in TABLES}
        stats.update(pages=total, moved=0, deleted=0,
                     **{"node pages": sum(s.node_pages for s in streams.values())})
        if not self.keep:
            return Built(None, tdefs, {}, stats)
        index_order = {}
        for (name, col), _ in streams.items():
            order = sorted((long_key(r[col]), p, r["_id"]) for r, p in zip(self.rows[name], self.pointers[name]))
            index_order[(name, col)] = [(k, rid) for k, _, rid in order]
        with open(path, "rb") as f:
            data_bytes = f.read()
        return Built(data_bytes, tdefs, self.rows, stats, {}, index_order)
