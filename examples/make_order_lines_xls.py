#!/usr/bin/python3
# Writes order-lines.xls, the workbook of the import example, with xlwt (Debian python3-xlwt):
# a header row naming the template's elements, then one row per order line.
import os
import xlwt

book = xlwt.Workbook()
sheet = book.add_sheet("Lines")
rows = [
    ("sku", "title", "quantity", "price", "gift"),
    ("BK-2231", "The Long Tide", 2, 14.5, True),
    ("BK-0097", "Maps of Nowhere", 1, 9.99, False),
    ("ST-0410", "Pencil, HB", 10, 1.25, False),
    ("ST-0522", "Ruled notebook A5", 4, 3.8, True),
]
for r, values in enumerate(rows):
    for c, value in enumerate(values):
        sheet.write(r, c, value)
book.save(os.path.join(os.path.dirname(os.path.abspath(__file__)), "order-lines.xls"))
