#!/usr/bin/env python3
"""Reads a CSV and a JSON export of calvoro_cli_export.t back with Python's csv and json
modules and compares every value with what the table holds. Prints each difference; the exit
status is 1 when there is one."""
import base64
import csv
import json
import sys

NULL = None
# id, s, d, b, big, dt, f: the exact values, as the server holds them
ROWS = [
    (1, "plain", "12.5000000000", b"\x00\x01\x02\xff\x00", "18446744073709551615",
     "2024-03-01 18:30:05.123456", 0.1),
    (2, "", NULL, b"", NULL, NULL, NULL),
    (3, NULL, "-0.0000000001", NULL, "9007199254740993", "1000-01-01 00:00:00.000000", -1.5e-7),
    (4, 'say "hi", a,b\r\nnext\tline\\ \U0001F600', "99999999999999999999.9999999999", b"\x00", "0",
     "9999-12-31 23:59:59.999999", 1e300),
]
COLUMNS = ["id", "s", "d", "b", "big", "dt", "f"]
errors = []


def check(where, got, expected):
    if type(got) is not type(expected) or got != expected:
        errors.append(f"{where}: {got!r} instead of {expected!r}")


def read_csv(path):
    # The export's NULL marker is \N here: the csv module reads "" and an empty field alike.
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    check("csv header", rows[0], COLUMNS)
    check("csv row count", len(rows) - 1, len(ROWS))
    for got, expected in zip(rows[1:], ROWS):
        for name, g, e in zip(COLUMNS, got, expected):
            where = f"csv row {expected[0]} {name}"
            if e is NULL:
                check(where, g, "\\N")
            elif isinstance(e, bytes):
                check(where, g[:2], "0x")
                check(where, bytes.fromhex(g[2:]), e)
            elif isinstance(e, float):
                check(where, float(g), e)
            else:
                check(where, g, str(e))


def read_json(path):
    with open(path, encoding="utf-8") as f:
        rows = json.load(f)
    check("json row count", len(rows), len(ROWS))
    for got, expected in zip(rows, ROWS):
        check(f"json row {expected[0]} keys", list(got.keys()), COLUMNS)
        for name, e in zip(COLUMNS, expected):
            g = got.get(name)
            where = f"json row {expected[0]} {name}"
            if isinstance(e, bytes):
                check(where, base64.b64decode(g, validate=True), e)
            elif name == "big" and e is not NULL and int(e) < 2**53:
                check(where, g, int(e))  # small enough to be a number
            else:
                check(where, g, e)


read_csv(sys.argv[1])
read_json(sys.argv[2])
for e in errors:
    print(e)
sys.exit(1 if errors else 0)
