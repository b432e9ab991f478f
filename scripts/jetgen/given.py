"""Rows files (--rows): the rows of each table as a JSON file gives them, checked against the columns."""
import datetime
import decimal
import json
import pathlib
import random

from .jet import (T_BOOL, T_BYTE, T_DATE, T_DOUBLE, T_FLOAT, T_INT, T_LONG, T_MEMO, T_MONEY, T_TEXT, TABLES, TableDef,
                  date_value, single)
from .writer import write_file


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


# What a rows file may say of a row besides its columns, and of the whole file besides its tables.
ROW_MARKS = ("_deleted", "_moved", "_columns", "_compress", "_index_key", "_page")
FILE_MARKS = ("_notes", "_index_shape", "_name_index")


class Given:
    """A rows file read: the rows of each table, and how the file is laid out where the rows file says."""

    def __init__(self, tables, layout):
        self.tables, self.layout = tables, layout


def row_marks(where, raw, tdef, row):
    """Checks the marks of a given row and puts them into `row`; exits naming the row when one is wrong."""
    def fail(message):
        raise SystemExit(f"{where}: {message}")

    for k in ("_deleted", "_moved"):
        if not isinstance(raw.get(k, False), bool):
            fail(f"{k} takes true or false")
        row[k] = raw.get(k, False)
    if row["_deleted"] and row["_moved"]:
        fail("a row is either deleted or moved")
    columns = raw.get("_columns", tdef.max_cols)
    if not isinstance(columns, int) or isinstance(columns, bool) or not 1 <= columns <= tdef.max_cols:
        fail(f"_columns takes the number of the table's first columns the row holds, 1 to {tdef.max_cols}")
    row["_columns"] = columns
    for c in tdef.columns:
        if c.num >= columns and raw.get(c.name) is not None:
            fail(f"a row of its first {columns} columns holds no {c.name}")
    compress = raw.get("_compress", [])
    if not isinstance(compress, list) or any(c not in [t.name for t in tdef.columns if t.type == T_TEXT]
                                             for c in compress):
        fail("_compress takes a list of the table's text columns")
    row["_compress"] = set(compress)
    index_key = raw.get("_index_key", {})
    indexed = {c.name: c for c in tdef.columns if c.type == T_LONG and
               any(tdef.index_column(i) == c.num for i in range(len(tdef.real)))}
    if not isinstance(index_key, dict) or any(k not in indexed for k in index_key) or \
            any(v is not None and not (isinstance(v, int) and not isinstance(v, bool) and -2**31 <= v < 2**31)
                for v in index_key.values()):
        fail(f"_index_key takes an object of indexed Long columns ({', '.join(indexed)}) and the keys their "
             "entries carry")
    if index_key and row["_deleted"]:
        fail("a deleted row has no index entries")
    row["_index_key"] = dict(index_key)
    page = raw.get("_page")
    if page is not None and (not isinstance(page, int) or isinstance(page, bool) or not 0 < page < 1 << 24):
        fail("_page takes the number of the page the row starts")
    row["_page"] = page


def read_rows(path, template):
    """The rows file (see --rows) as a Given: {table: [row dicts as Generator.generate makes them]}, every column
    present, and its layout. Exits with a message naming the row when the file is not right."""
    try:
        given = json.loads(pathlib.Path(path).read_text(encoding="utf-8"))
    except (OSError, UnicodeDecodeError, json.JSONDecodeError) as e:
        raise SystemExit(f"{path}: {e}")
    if not isinstance(given, dict):
        raise SystemExit(f"{path}: not an object of tables")
    unknown = [k for k in given if k not in TABLES and k not in FILE_MARKS]
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
            for k in raw:
                if k.startswith("_") and k not in ROW_MARKS:
                    raise SystemExit(f"{where}: no such mark {k}")
                if not k.startswith("_") and k not in columns:
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
            row_marks(where, raw, tdef, row)
            out.append(row)
        tables[name] = out

    layout = {}
    shape = given.get("_index_shape")
    if shape is not None:
        if not isinstance(shape, dict) or sorted(shape) != ["leaf", "node"] or \
                not all(isinstance(v, int) and not isinstance(v, bool) and v >= 2 for v in shape.values()):
            raise SystemExit(f"{path}: _index_shape takes {{\"leaf\": entries, \"node\": children}}, each 2 or more")
        layout["index_shape"] = (shape["leaf"], shape["node"])
    order = given.get("_name_index")
    if order is not None:
        named = [r["_id"] for r in tables["CMD"] if not r["_deleted"] and r["CMD_Contribuyente"] is not None]
        if not isinstance(order, list) or sorted(order, key=str) != sorted(named, key=str):
            raise SystemExit(f"{path}: _name_index takes every CMD_ID of a row with a name, once each (rows "
                             "deleted or without a name are left out)")
        layout["name_index"] = list(order)
    return Given(tables, layout)


def build_given(template, given, seed):
    """A file of the rows given (a Given), stored in their order; the seed draws only what a scan does not see."""
    rng = random.Random(f"velmora-random-databases/rows/{seed}")
    return write_file(template, given.tables, rng, given=True, layout=given.layout)
