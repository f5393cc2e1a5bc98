#!/usr/bin/python3
"""Makes the reader's corpus of real workbooks with independent programs and stores, beside each
file, the cell values an independent reader (xlrd) finds in it.

Run with Debian's /usr/bin/python3 (python3-xlwt, python3-xlrd, python3-uno, libreoffice-calc,
gnumeric). The outputs are committed; tests never run this script.

Expected-value files (NAME.expected.tsv), one line each:
  sheet <TAB> name <TAB> hidden
  cell <TAB> row <TAB> col <TAB> xlrd type <TAB> value
xlrd types: 1 text, 2 number, 3 date (a number), 4 boolean (0/1), 5 error (its text), 6 blank,
and 7: text of which xlrd read only the start (it does not follow a BIFF5 LABEL into the
CONTINUE records gnumeric writes for long texts; the reader does), compared as a prefix.
(xlrd also miscounts formula string results holding characters beyond U+FFFF, so the corpus
has none of those.)
Texts escape backslash, tab, newline and carriage return as \\, \t, \n, \r.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

import xlrd
import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
LONG = "".join(chr(ord("a") + i % 26) for i in range(9000))  # crosses CONTINUE records
UNICODE = "Ελληνικά 中文 😀 Grüße"
PASSWORD = "corpus"


def escape(s):
    return s.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def write_expected(xls, expected_name=None):
    try:
        book = xlrd.open_workbook(os.path.join(HERE, xls), formatting_info=True)
    except UnicodeDecodeError:
        # gnumeric's BIFF5 files declare code page 1200 but store 8-bit strings.
        book = xlrd.open_workbook(os.path.join(HERE, xls), formatting_info=True, encoding_override="cp1252")
    lines = []
    for sh in book.sheets():
        lines.append("sheet\t%s\t%d" % (escape(sh.name), sh.visibility))
        for r in range(sh.nrows):
            for c in range(sh.ncols):
                t = sh.cell_type(r, c)
                v = sh.cell_value(r, c)
                if t == xlrd.XL_CELL_EMPTY:
                    continue
                if t == xlrd.XL_CELL_TEXT:
                    if book.biff_version < 80 and len(v) >= 2072:
                        t = 7
                    v = escape(v)
                elif t in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_DATE):
                    v = repr(float(v))
                elif t == xlrd.XL_CELL_BOOLEAN:
                    v = str(int(v))
                elif t == xlrd.XL_CELL_ERROR:
                    v = xlrd.error_text_from_code[v]
                else:
                    v = ""
                lines.append("cell\t%d\t%d\t%d\t%s" % (r, c, t, v))
    name = expected_name or xls
    with open(os.path.join(HERE, name.rsplit(".", 1)[0] + ".expected.tsv"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def make_xlwt():
    wb = xlwt.Workbook(encoding="utf-8")
    s = wb.add_sheet("Values")
    row = 0
    for v in [0, 1, -1, 100, 3.14159, 1e20, 1e-5, 123456789012, 0.1 + 0.2, -2.5e-300, 12841 / 100]:
        s.write(row, 0, v)
        row += 1
    s.write(0, 1, "plain")
    s.write(1, 1, UNICODE)
    s.write(2, 1, LONG)
    s.write(3, 1, "tab\tand\nnewline")
    s.write(4, 1, True)
    s.write(5, 1, False)
    s.write(6, 1, xlwt.Formula("A1+A2"))
    s.write(7, 1, xlwt.Formula('"x"&"y"'))
    s.write(8, 1)  # blank with a format
    s.write(8, 2)
    s.write(8, 3)
    for c in range(4, 12):
        s.write(20, c, c * 1000)  # MULRK
    # Errors written by code (xlwt maps some texts to one code).
    for i, code in enumerate([0x00, 0x07, 0x0F, 0x17, 0x1D, 0x24, 0x2A]):
        s.row(30 + i).set_cell_error(0, code)
    s2 = wb.add_sheet("Strings")
    for r in range(400):  # enough shared strings for CONTINUE records
        s2.write(r, 0, "string number %d %s" % (r, UNICODE if r % 7 == 0 else ""))
        s2.write(r, 1, "repeated")
    s3 = wb.add_sheet("Hidden")
    s3.write(0, 0, "hidden sheet")
    s3.visibility = 1
    wb.save(os.path.join(HERE, "xlwt_biff8.xls"))


def ssconvert(src, dst, fmt):
    subprocess.run(["ssconvert", "-T", fmt, os.path.join(HERE, src), os.path.join(HERE, dst)], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_libreoffice():
    import uno
    from com.sun.star.awt import Rectangle
    from com.sun.star.beans import PropertyValue
    from com.sun.star.table import CellAddress, CellRangeAddress

    def pv(name, value):
        p = PropertyValue()
        p.Name = name
        p.Value = value
        return p

    profile = tempfile.mkdtemp(prefix="xe-corpus-lo-")
    pipe = "xe_corpus_%d" % os.getpid()
    proc = subprocess.Popen(["soffice", "--headless", "--invisible", "--norestore", "--nologo",
                             "-env:UserInstallation=file://" + profile,
                             "--accept=pipe,name=%s;urp;" % pipe],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        ctx = None
        for _ in range(120):
            try:
                ctx = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
                break
            except Exception:
                time.sleep(0.5)
        if ctx is None:
            sys.exit("LibreOffice did not start")
        desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
        doc = desktop.loadComponentFromURL("private:factory/scalc", "_blank", 0, (pv("Hidden", True),))
        sheets = doc.Sheets
        s = sheets.getByIndex(0)
        s.Name = "Formulas"
        values = [1.5, 2, -7, 1e15, 0.001]
        for r, v in enumerate(values):
            s.getCellByPosition(0, r).setValue(v)
        formulas = ["=A1*2", '="ab"&"cd"', "=1<2", "=1/0", "=NA()", '=""', "=SUM(A1:A5)", "=A2>5",
                    "=SQRT(-1)", '=LEN("' + UNICODE + '")', "=UNKNOWNFN()", '="Ελληνικά 中文"']
        for r, f in enumerate(formulas):
            s.getCellByPosition(1, r).setFormula(f)
        s.getCellByPosition(2, 0).setString(UNICODE)
        s.getCellByPosition(2, 1).setString(LONG[:5000])
        s.getCellByPosition(2, 2).setString("line one\nline two")
        addr = CellAddress()
        addr.Sheet, addr.Column, addr.Row = 0, 2, 0
        s.Annotations.insertNew(addr, "a comment on C1")
        addr.Column, addr.Row = 0, 3
        s.Annotations.insertNew(addr, "second comment")

        sheets.insertNewByName("Chart", 1)
        c = sheets.getByIndex(1)
        for r in range(6):
            c.getCellByPosition(0, r).setString("item %d" % r)
            c.getCellByPosition(1, r).setValue(r * r)
        rect = Rectangle()
        rect.X, rect.Y, rect.Width, rect.Height = 3000, 500, 9000, 6000
        rng = CellRangeAddress()
        rng.Sheet, rng.StartColumn, rng.StartRow, rng.EndColumn, rng.EndRow = 1, 0, 0, 1, 5
        c.Charts.addNewByName("Squares", rect, (rng,), False, True)
        c.getCellByPosition(0, 10).setString("after the chart")
        c.getCellByPosition(1, 10).setValue(99)

        sheets.insertNewByName("Secret", 2)
        h = sheets.getByIndex(2)
        h.getCellByPosition(0, 0).setString("in a hidden sheet")
        h.getCellByPosition(1, 1).setValue(42)
        h.IsVisible = False

        sheets.insertNewByName("Last", 3)
        sheets.getByIndex(3).getCellByPosition(3, 7).setValue(7)

        out = "file://" + os.path.join(HERE, "lo_biff8.xls")
        doc.storeToURL(out, (pv("FilterName", "MS Excel 97"),))
        out = "file://" + os.path.join(HERE, "lo_encrypted.xls")
        doc.storeToURL(out, (pv("FilterName", "MS Excel 97"), pv("Password", PASSWORD)))
        doc.close(True)
        try:
            desktop.terminate()
        except Exception:
            pass
    finally:
        try:
            proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
        shutil.rmtree(profile, ignore_errors=True)


def main():
    make_xlwt()
    ssconvert("xlwt_biff8.xls", "gnumeric_biff5.xls", "Gnumeric_Excel:excel_biff7")
    ssconvert("xlwt_biff8.xls", "gnumeric_biff8.xls", "Gnumeric_Excel:excel_biff8")
    make_libreoffice()
    ssconvert("lo_biff8.xls", "lo_to_biff5.xls", "Gnumeric_Excel:excel_biff7")
    for name in ["xlwt_biff8.xls", "gnumeric_biff5.xls", "gnumeric_biff8.xls", "lo_biff8.xls", "lo_to_biff5.xls"]:
        write_expected(name)
    # xlrd cannot read the encrypted file: it holds what the unencrypted save holds.
    shutil.copy(os.path.join(HERE, "lo_biff8.expected.tsv"), os.path.join(HERE, "lo_encrypted.expected.tsv"))


if __name__ == "__main__":
    main()
