#!/usr/bin/python3
# Writes the import benchmark's workbook with xlwt (Debian python3-xlwt): a header row of ten
# columns and ROWS data rows of numbers and short texts, reproducibly.
import sys
import xlwt

rows = int(sys.argv[2]) if len(sys.argv) > 2 else 65000
book = xlwt.Workbook()
sheet = book.add_sheet("Data")
headers = ["F%d" % c for c in range(10)]
for c, h in enumerate(headers):
    sheet.write(0, c, h)
for r in range(1, rows + 1):
    for c in range(10):
        sheet.write(r, c, r * 10 + c if c % 2 == 0 else "text %d-%d" % (r % 977, c))
book.save(sys.argv[1])
