#!/usr/bin/env python3
"""Compares every cell xlsdump reads from the fixtures of tests/data/workbooks with the values an
independent reader found in them (NAME.expected.json beside each fixture).

usage: check_fixtures.py XLSDUMP FIXTURE_DIR
"""
import glob
import json
import math
import os
import subprocess
import sys

FORMULA_KINDS = {8, 9, 10, 11, 12}


def same_number(text, expected):
    value = float(text)
    return value == expected or math.isclose(value, expected, rel_tol=1e-14, abs_tol=1e-300)


def check(xlsdump, path, expected):
    args = [xlsdump]
    if "delimiter" in expected:
        args += ["--delimiter", expected["delimiter"]]
    env = dict(os.environ, LC_ALL="C")
    dump = json.loads(subprocess.run(args + [path], check=True, capture_output=True, env=env).stdout)
    faults = []
    if len(dump["sheets"]) != len(expected["sheets"]):
        faults.append("%d sheets, expected %d" % (len(dump["sheets"]), len(expected["sheets"])))
    for got, want in zip(dump["sheets"], expected["sheets"]):
        where = "%s sheet %s" % (os.path.basename(path), want["name"])
        if got["name"] != want["name"] or (got["hidden"] != 0) != (want["hidden"] != 0):
            faults.append("%s: name/hidden %r/%r" % (where, got["name"], got["hidden"]))
        cells = {(c[0], c[1]): c for c in got["cells"]}
        for r, c, kind, value in want["cells"]:
            cell = cells.pop((r, c), None)
            if cell is None:
                faults.append("%s: no cell at %d,%d (%r)" % (where, r, c, value))
                continue
            text, variant = cell[3], cell[4]
            ok = {"s": lambda: variant == value and text == value,
                  "n": lambda: same_number(variant, value) and same_number(text, value),
                  "b": lambda: variant == str(value),
                  "e": lambda: variant == value and text == value}[kind]()
            if not ok:
                faults.append("%s: cell %d,%d is %r, expected %s %r" % (where, r, c, cell, kind, value))
        for cell in cells.values():
            # Blank cells, and formulas whose writer stored no result, hold no value to compare.
            uncached = cell[2] in FORMULA_KINDS and cell[4] in ("0", "") and "openpyxl" in os.path.basename(path)
            if cell[2] != 1 and not uncached:
                faults.append("%s: unexpected cell %r" % (where, cell))
    return faults


def main():
    xlsdump, folder = sys.argv[1], sys.argv[2]
    faults, count = [], 0
    for expected_path in sorted(glob.glob(os.path.join(folder, "*.expected.json"))):
        with open(expected_path, encoding="utf-8") as f:
            expected = json.load(f)
        faults += check(xlsdump, expected_path[: -len(".expected.json")], expected)
        count += 1
    for fault in faults:
        print(fault)
    print("%d fixtures, %d faults" % (count, len(faults)))
    return 1 if faults or count == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
