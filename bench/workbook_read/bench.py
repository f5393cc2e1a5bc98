#!/usr/bin/python3
"""Reading a large .xlsx: xlsdump against openpyxl and SheetJS, and against the floor of inflating
the parts that hold the cells (the sheet, and the shared strings if any) plus libxml2's streaming
parse of them. Run by hand, never as a test.

usage: bench.py XLSDUMP [--rounds N] [--sheetjs DIR]
  XLSDUMP   a release build's tools/xlsdump/xlsdump
  --sheetjs a folder outside the checkout where `npm install xlsx` was run (skipped without it)

The workbooks (65,000 rows x 10 columns of numbers and mostly distinct strings) are made once in
/tmp/xe-bench-xlsx: by openpyxl in write-only mode (inline strings) and the same re-saved by
LibreOffice (shared strings). Each command runs in alternating rounds; the table gives medians
of wall time and the largest resident size seen.
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys
import time

WORK = "/tmp/xe-bench-xlsx"
ROWS, COLS = 65000, 10


def make_books():
    src = os.path.join(WORK, "openpyxl.xlsx")
    lo = os.path.join(WORK, "lo", "openpyxl.xlsx")
    if os.path.exists(src) and os.path.exists(lo):
        return src, lo
    os.makedirs(os.path.join(WORK, "lo"), exist_ok=True)
    subprocess.run(["/usr/bin/python3", "-c", f"""
import openpyxl, random
random.seed(7)
wb = openpyxl.Workbook(write_only=True)
ws = wb.create_sheet("Data")
for r in range({ROWS}):
    row = []
    for c in range({COLS}):
        if c % 2 == 0:
            row.append(random.random() * 10 ** random.randint(-3, 8))
        elif c == 9 and r % 4 == 0:
            row.append("repeated text " + str(r % 100))
        else:
            row.append("text %d of row %d, column %d" % (random.randint(0, 10 ** 9), r, c))
    ws.append(row)
wb.save({src!r})
"""], check=True)
    subprocess.run(["soffice", "-env:UserInstallation=file://" + WORK + "/profile", "--headless", "--convert-to",
                    "xlsx", "--outdir", os.path.join(WORK, "lo"), src], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return src, lo


def run(cmd):
    start = time.perf_counter()
    with open(os.devnull, "wb") as null:
        p = subprocess.Popen(cmd, stdout=null, shell=isinstance(cmd, str))
        _, status, usage = os.wait4(p.pid, 0)
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit("failed: %s" % cmd)
    return elapsed, usage.ru_maxrss * 1024


OPENPYXL = """
import openpyxl, sys
wb = openpyxl.load_workbook(sys.argv[1], read_only=True)
n = 0
for ws in wb.worksheets:
    for row in ws.iter_rows(values_only=True):
        for v in row:
            n += v is not None
print(n)
"""

SHEETJS = """
const XLSX = require(process.argv[2] + '/node_modules/xlsx');
const wb = XLSX.readFile(process.argv[1]);
let n = 0;
for (const name of wb.SheetNames) n += Object.keys(wb.Sheets[name]).length;
console.log(n);
"""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("xlsdump")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--sheetjs")
    args = ap.parse_args()
    books = make_books()
    for book in books:
        # The floor reads the parts that hold cells: the sheet, and the shared strings if any.
        names = subprocess.run(["unzip", "-Z1", book], capture_output=True, text=True, check=True).stdout.split()
        parts = [p for p in ("xl/sharedStrings.xml", "xl/worksheets/sheet1.xml") if p in names]
        part = os.path.join(WORK, os.path.basename(os.path.dirname(book)) + "-sheet1.xml")
        subprocess.run("unzip -p '%s' xl/worksheets/sheet1.xml > '%s'" % (book, part), shell=True, check=True)
        unzipped = []
        for p in parts:
            unzipped.append(os.path.join(WORK, os.path.basename(os.path.dirname(book)) + "-" + os.path.basename(p)))
            subprocess.run("unzip -p '%s' %s > '%s'" % (book, p, unzipped[-1]), shell=True, check=True)
        cmds = {
            "xlsdump": [args.xlsdump, book],
            "openpyxl read-only": ["/usr/bin/python3", "-c", OPENPYXL, book],
            "inflate (unzip -p)": "unzip -p '%s' %s" % (book, " ".join(parts)),
            "xmllint --stream": " && ".join("xmllint --stream --noout '%s'" % u for u in unzipped),
        }
        if args.sheetjs:
            cmds["SheetJS readFile"] = ["node", "-e", SHEETJS, book, args.sheetjs]
        times = {k: [] for k in cmds}
        rss = {k: 0 for k in cmds}
        for _ in range(args.rounds):
            for name, cmd in cmds.items():
                t, m = run(cmd)
                times[name].append(t)
                rss[name] = max(rss[name], m)
        med = {k: statistics.median(v) for k, v in times.items()}
        floor = med["inflate (unzip -p)"] + med["xmllint --stream"]
        print("\n%s: %.1f MB file, %.1f MB sheet part, %s, %d rounds" %
              (book, os.path.getsize(book) / 1e6, os.path.getsize(part) / 1e6,
               " + ".join("%s %.1f MB" % (os.path.basename(p), os.path.getsize(u) / 1e6)
                          for p, u in zip(parts, unzipped)), args.rounds))
        print("| reader | median s | peak RSS MB |")
        print("|---|---|---|")
        for name in cmds:
            print("| %s | %.2f | %.0f |" % (name, med[name], rss[name] / 1e6))
        print("| floor (inflate + xmllint) | %.2f | |" % floor)
        print("xlsdump: %.1fx faster than openpyxl, %.2fx the floor, peak RSS %.2fx the sheet part" %
              (med["openpyxl read-only"] / med["xlsdump"], med["xlsdump"] / floor,
               rss["xlsdump"] / os.path.getsize(part)))


if __name__ == "__main__":
    main()
