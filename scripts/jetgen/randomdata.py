"""The random rows of one file: the program's five tables filled with what is easy to get wrong."""
import calendar
import random
import unicodedata

from .jet import MOVEMENT_TABLES, date_value, single
from .writer import write_file


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




def build_file(template, seed, number):
    """A random file: its rows and how they lie, all drawn from the seed and the file's number."""
    rng = random.Random(f"velmora-random-databases/{seed}/{number}")
    return write_file(template, Generator(rng).generate(), rng)
