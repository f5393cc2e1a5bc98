#!/usr/bin/python3
"""Makes the small .xls fixtures with independent programs (LibreOffice, gnumeric, xlwt).

Run from anywhere with Debian's /usr/bin/python3; needs libreoffice-calc-nogui, python3-uno,
gnumeric and python3-xlwt. The tests only read the committed results.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROWS = [("Name", "Value", "Note"), ("alpha", 1, "first"), ("beta", 2.5, "second"), ("gamma", -3, "third")]
# Files saved with a password; "VelvetSweatshop" is the format's default password.
PASSWORDS = (("secret", "lo_password_secret.xls"), ("VelvetSweatshop", "lo_password_velvet.xls"))


def write_csv(path):
    with open(path, "w", encoding="utf-8") as f:
        for row in ROWS:
            f.write(",".join(str(v) for v in row) + "\n")


def lo_profile(tmp):
    return "-env:UserInstallation=file://" + os.path.join(tmp, "profile")


def make_libreoffice_plain(tmp, csv):
    subprocess.run(["soffice", lo_profile(tmp), "--headless", "--convert-to", "xls:MS Excel 97",
                    "--outdir", tmp, csv], check=True, stdout=subprocess.DEVNULL)
    shutil.copy(os.path.join(tmp, "table.xls"), os.path.join(HERE, "lo_biff8.xls"))


def make_libreoffice_password(tmp):
    import uno
    from com.sun.star.beans import PropertyValue

    pipe = "xe_fixtures_%d" % os.getpid()
    office = subprocess.Popen(["soffice", lo_profile(tmp), "--headless", "--invisible", "--nologo",
                               "--norestore", "--accept=pipe,name=%s;urp;" % pipe])
    try:
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        for _ in range(120):
            try:
                ctx = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
                break
            except Exception:
                time.sleep(0.5)
        else:
            sys.exit("LibreOffice did not start")
        desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)

        def prop(name, value):
            p = PropertyValue()
            p.Name, p.Value = name, value
            return p

        doc = desktop.loadComponentFromURL("private:factory/scalc", "_blank", 0, (prop("Hidden", True),))
        sheet = doc.Sheets.getByIndex(0)
        for r, row in enumerate(ROWS):
            for c, value in enumerate(row):
                cell = sheet.getCellByPosition(c, r)
                if isinstance(value, str):
                    cell.setString(value)
                else:
                    cell.setValue(value)
        for password, name in PASSWORDS:
            url = uno.systemPathToFileUrl(os.path.join(HERE, name))
            doc.storeToURL(url, (prop("FilterName", "MS Excel 97"), prop("Password", password)))
        doc.close(True)
        try:
            desktop.terminate()
        except Exception:
            pass
    finally:
        try:
            office.wait(timeout=30)
        except subprocess.TimeoutExpired:
            office.kill()


def make_gnumeric(tmp, csv):
    for exporter, name in (("excel_biff7", "gnumeric_biff7.xls"), ("excel_biff8", "gnumeric_biff8.xls"),
                           ("excel_dsf", "gnumeric_dsf.xls")):
        subprocess.run(["ssconvert", "-T", "Gnumeric_Excel:" + exporter, csv, os.path.join(HERE, name)],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_xlwt():
    import xlwt

    book = xlwt.Workbook()
    sheet = book.add_sheet("Data")
    for r, row in enumerate(ROWS):
        for c, value in enumerate(row):
            sheet.write(r, c, value)
    book.save(os.path.join(HERE, "xlwt_biff8.xls"))


def write_stream_list():
    """Names, sizes and CRC-32 of the workbook streams as python3-xlrd reads them, as an
    independent check of the compound-file reader."""
    import zlib
    import xlrd.compdoc

    lines = []
    for name in sorted(os.listdir(HERE)):
        if not name.endswith(".xls"):
            continue
        with open(os.path.join(HERE, name), "rb") as f:
            doc = xlrd.compdoc.CompDoc(f.read(), logfile=open(os.devnull, "w"))
        for stream in ("Workbook", "Book"):
            data = doc.get_named_stream(stream)
            if data is not None:
                lines.append("%s %s %d %08x\n" % (name, stream, len(data), zlib.crc32(data) & 0xFFFFFFFF))
    with open(os.path.join(HERE, "streams.txt"), "w") as f:
        f.writelines(lines)


def main():
    with tempfile.TemporaryDirectory() as tmp:
        csv = os.path.join(tmp, "table.csv")
        write_csv(csv)
        make_libreoffice_plain(tmp, csv)
        make_libreoffice_password(tmp)
        make_gnumeric(tmp, csv)
        make_xlwt()
    write_stream_list()


if __name__ == "__main__":
    main()
