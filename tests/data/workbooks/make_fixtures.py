#!/usr/bin/python3
"""Makes the .xlsx, .ods and delimited-text fixtures with independent programs, and the values an
independent reader finds in each, stored beside it as NAME.expected.json.

Run with Debian's /usr/bin/python3; needs python3-openpyxl, python3-xlrd and
libreoffice-calc-nogui. The tests only read the committed results.

- openpyxl.xlsx: written by openpyxl (shared strings, a hidden and a very hidden sheet, an
  error, booleans, a date, numbers near the limits of the number text rule).
- lo_same.xls / lo_same.xlsx / lo_same.ods: one workbook saved by LibreOffice in the three
  formats (made from openpyxl.xlsx), so that the import gives the same XML for each.
- *.csv / *.tsv / *.txt: hand-written text in several encodings and delimiters.
Expected values: openpyxl (read-only, data only) for .xlsx, xlrd for .xls, LibreOffice's own
conversion of the .ods to .xlsx read by openpyxl for .ods, Python's csv module for text.
"""
import csv
import datetime
import io
import json
import os
import shutil
import subprocess
import tempfile

import openpyxl
import xlrd

HERE = os.path.dirname(os.path.abspath(__file__))
ERRORS = {0x00: "#NULL!", 0x07: "#DIV/0!", 0x0F: "#VALUE!", 0x17: "#REF!", 0x1D: "#NAME?", 0x24: "#NUM!",
          0x2A: "#N/A"}


def make_openpyxl(path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Orders"
    ws.append(["Customer", "Total", "Paid", "Note", "When"])
    ws.append(["Ann", 12.5, True, "first order", datetime.datetime(2024, 1, 31)])
    ws.append(["Bj\u00f6rn \u00c5str\u00f6m", 7, False, "line one\nline two", datetime.datetime(2023, 12, 24, 18, 30)])
    ws.append(["\u5f20\u4f1f", -0.00001, True, "  spaced  ", datetime.date(1999, 1, 1)])
    ws.append(["Dora", 1e20, False, "#N/A", 123456789012345.0])
    ws.append(["Eve", 0.1 + 0.2, None, None, 100])
    ws["D5"].data_type = "e"  # an error value, not text
    # Formulas: openpyxl stores none of their results; LibreOffice computes them when it converts.
    ws["F1"], ws["G1"], ws["H1"], ws["I1"] = "Double", "Shout", "Broken", "Big"
    for r in range(2, 7):
        ws["F%d" % r] = "=B%d*2" % r
        ws["G%d" % r] = '=A%d&"!"' % r
    ws["H2"] = "=1/0"
    ws["I2"] = "=B2>10"
    ws.append([])
    ws.append(["Gap", 1234.5])
    hidden = wb.create_sheet("Hidden")
    hidden.sheet_state = "hidden"
    hidden["A1"] = "secret"
    hidden["C3"] = 3
    very = wb.create_sheet("Very hidden")
    very.sheet_state = "veryHidden"
    very["B2"] = "deep"
    wb.save(path)


def soffice(tmp, src, fmt, out_dir):
    subprocess.run(["soffice", "-env:UserInstallation=file://" + os.path.join(tmp, "profile"), "--headless",
                    "--convert-to", fmt, "--outdir", out_dir, src], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def cell_value(v):
    if v is None:
        return None
    if isinstance(v, bool):
        return ["b", int(v)]
    if isinstance(v, (int, float)):
        return ["n", float(v)]
    if isinstance(v, datetime.datetime):
        return ["n", (v - datetime.datetime(1899, 12, 30)).total_seconds() / 86400]
    if isinstance(v, datetime.date):
        return ["n", float((v - datetime.date(1899, 12, 30)).days)]
    if isinstance(v, str) and v in ERRORS.values():
        return ["e", v]
    return ["s", str(v)]


def expected_openpyxl(path):
    wb = openpyxl.load_workbook(path, read_only=True, data_only=True)
    sheets = []
    for ws in wb.worksheets:
        cells = []
        for r, row in enumerate(ws.iter_rows()):
            for cell in row:
                if getattr(cell, "value", None) is None:
                    continue
                v = cell.value
                if cell.data_type == "e":
                    cells.append([r, cell.column - 1, "e", v])
                else:
                    cells.append([r, cell.column - 1] + cell_value(v))
        sheets.append({"name": ws.title, "hidden": {"visible": 0, "hidden": 1, "veryHidden": 2}[ws.sheet_state],
                       "cells": cells})
    return {"reader": "openpyxl " + openpyxl.__version__, "sheets": sheets}


def expected_xlrd(path):
    book = xlrd.open_workbook(path)
    sheets = []
    for s in book.sheets():
        cells = []
        for r in range(s.nrows):
            for c in range(s.ncols):
                cell = s.cell(r, c)
                if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    continue
                if cell.ctype == xlrd.XL_CELL_TEXT:
                    cells.append([r, c, "s", cell.value])
                elif cell.ctype in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_DATE):
                    cells.append([r, c, "n", float(cell.value)])
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    cells.append([r, c, "b", int(cell.value)])
                elif cell.ctype == xlrd.XL_CELL_ERROR:
                    cells.append([r, c, "e", ERRORS.get(cell.value, "[int] No error value")])
        sheets.append({"name": s.name, "hidden": s.visibility, "cells": cells})
    return {"reader": "xlrd " + xlrd.__VERSION__, "sheets": sheets}


def expected_text(path, delimiter, encoding):
    with open(path, encoding=encoding, newline="") as f:
        rows = list(csv.reader(f, delimiter=delimiter))
    cells = [[r, c, "s", v] for r, row in enumerate(rows) for c, v in enumerate(row) if v != ""]
    name = os.path.splitext(os.path.basename(path))[0]
    return {"reader": "python csv", "delimiter": delimiter, "sheets": [{"name": name, "hidden": 0, "cells": cells}]}


def compact_json(value):
    """One cell a line, so that a change shows as a small diff."""
    out = ['{"reader": %s,' % json.dumps(value["reader"])]
    if "delimiter" in value:
        out.append(' "delimiter": %s,' % json.dumps(value["delimiter"]))
    out.append(' "sheets": [')
    for i, sheet in enumerate(value["sheets"]):
        out.append('  {"name": %s, "hidden": %d, "cells": [' % (json.dumps(sheet["name"], ensure_ascii=False),
                                                                sheet["hidden"]))
        cells = [json.dumps(c, ensure_ascii=False) for c in sheet["cells"]]
        out.append(",\n".join("   " + c for c in cells))
        out.append("  ]}" + ("," if i + 1 < len(value["sheets"]) else ""))
    out.append("]}")
    return "\n".join(out) + "\n"


TEXTS = [
    # name, delimiter, encoding, content
    ("comma_utf8.csv", ",", "utf-8",
     'Customer,Total,Note\r\nAnn,12.5,"first, with comma"\r\n"Bj\u00f6rn ""B"" \u00c5",7,"two\r\nlines"\r\n'
     '\u5f20\u4f1f,-3,\r\n,,only empty before\r\n'),
    ("semicolon_bom.csv", ";", "utf-8-sig", "Customer;Total;Note\nAnn;12,5;\"a;b\"\nCaf\u00e9;7;last\n"),
    ("tab_utf16.tsv", "\t", "utf-16", "Customer\tTotal\tNote\nAnn\t12.5\t\"quoted\ttab\"\n\u00c5sa\t8\tend\n"),
    ("cp1252.txt", ",", "cp1252", "Customer,Total,Note\nCaf\u00e9,3,\u20ac 5\nNa\u00efve,4,\u00bd\n"),
]


def main():
    tmp = tempfile.mkdtemp()
    try:
        src = os.path.join(HERE, "openpyxl.xlsx")
        make_openpyxl(src)
        for fmt, ext in (("xls", "xls"), ("xlsx", "xlsx"), ("ods", "ods")):
            soffice(tmp, src, fmt, tmp)
            shutil.copy(os.path.join(tmp, "openpyxl." + ext), os.path.join(HERE, "lo_same." + ext))
        expected = {"openpyxl.xlsx": expected_openpyxl(src),
                    "lo_same.xlsx": expected_openpyxl(os.path.join(HERE, "lo_same.xlsx")),
                    "lo_same.xls": expected_xlrd(os.path.join(HERE, "lo_same.xls"))}
        # LibreOffice reads its own .ods back and saves it as .xlsx for openpyxl to read.
        ods_dir = os.path.join(tmp, "ods")
        os.makedirs(ods_dir)
        soffice(tmp, os.path.join(HERE, "lo_same.ods"), "xlsx", ods_dir)
        expected["lo_same.ods"] = expected_openpyxl(os.path.join(ods_dir, "lo_same.xlsx"))
        expected["lo_same.ods"]["reader"] += " (of LibreOffice's .xlsx of the .ods)"
        for name, delimiter, encoding, text in TEXTS:
            path = os.path.join(HERE, name)
            with open(path, "w", encoding=encoding, newline="") as f:
                f.write(text)
            expected[name] = expected_text(path, delimiter, encoding)
        for name, value in expected.items():
            with open(os.path.join(HERE, name + ".expected.json"), "w", encoding="utf-8") as f:
                f.write(compact_json(value))
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
