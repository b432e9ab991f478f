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




def build_given(template, tables, seed):
    """A file of the rows given (as read_rows returns them), stored in their order; the seed draws only what a scan
    does not see."""
    rng = random.Random(f"velmora-random-databases/rows/{seed}")
    return write_file(template, tables, rng, given=True)
