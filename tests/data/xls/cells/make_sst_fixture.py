#!/usr/bin/python3
"""Makes sst_xlwt.xls, a BIFF8 workbook written by python3-xlwt whose shared string table spans
several CONTINUE records (8-bit and 16-bit strings, one long string switching width inside a
CONTINUE, repeated strings), and sst_xlwt.txt, the table as python3-xlrd reads it: one string
per line, UTF-8, in table order. Run with Debian's /usr/bin/python3 from this folder."""
import xlrd
import xlwt

book = xlwt.Workbook(encoding="utf-8")
sheet = book.add_sheet("Strings")
texts = []
for i in range(2500):
    if i % 5 == 0:
        texts.append("Zeile %d \u00e4\u00f6\u00fc" % i)          # 8-bit, above 127
    elif i % 5 == 1:
        texts.append("\u0421\u0442\u0440\u043e\u043a\u0430 %d" % i)  # 16-bit
    elif i % 5 == 2:
        texts.append("\u6587\u5b57\u5217%d" % i)
    else:
        texts.append("plain text number %d" % i)
# A long string that starts 8-bit and is cut by a record boundary, and a long 16-bit one.
texts.append("x" * 9000)
texts.append("\u0416" * 6000 + "tail")
texts.append("")
rows = texts + texts[:300]  # repeats reuse the entries
for r, t in enumerate(rows):
    sheet.write(r % 60000, r // 60000, t)
book.save("sst_xlwt.xls")

table = xlrd.open_workbook("sst_xlwt.xls", on_demand=True)._sharedstrings
with open("sst_xlwt.txt", "w", encoding="utf-8", newline="\n") as f:
    for s in table:
        f.write(s + "\n")
print(len(table), "strings")
