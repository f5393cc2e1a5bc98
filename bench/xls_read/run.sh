#!/bin/sh
# Speed and peak memory of reading large workbooks: xlsdump (Release build) against xlrd reading
# every cell value and catdoc's xls2csv. Not a test; run by hand:
#   bench/xls_read/run.sh [WORKDIR]
# XE_BENCH_RUNS sets the runs per tool (default 5); XE_BENCH_TURNS=1 makes the tools take turns.
# Targets: at least 5x faster than xlrd and 1.5x faster than xls2csv, peak RSS at most the file size
# plus 64 bytes per cell. The touch column is the machine's floor: the time to write as much fresh
# memory as xlsdump's peak RSS holds beyond the program itself. xls_warm_read (warm_read.cpp, built
# with -DXE_BENCH=ON) shows the other side: read again in one process, with the memory of the first
# read used again, a workbook takes the reader's work without the page faults.
# Needs Debian's /usr/bin/python3 with python3-xlwt and python3-xlrd, gnumeric (ssconvert),
# catdoc (xls2csv) and /usr/bin/time. The workbooks are generated reproducibly (fixed seed) into
# WORKDIR (default /tmp/xe-bench-xls) and reused when present.
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WORK=${1:-/tmp/xe-bench-xls}
BUILD=${XE_BENCH_BUILD:-$ROOT/build-bench-xls-read}
RUNS=${XE_BENCH_RUNS:-5}
mkdir -p "$WORK"

# XE_BENCH_XLSDUMP times a given xlsdump binary (another checkout's, say) instead of building one.
XLSDUMP=${XE_BENCH_XLSDUMP:-}
if [ -z "$XLSDUMP" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DXE_GUI=OFF -DXE_TESTS=OFF >/dev/null
  cmake --build "$BUILD" --target xlsdump -j2 >/dev/null
  XLSDUMP=$BUILD/tools/xlsdump/xlsdump
fi

# Bumped whenever the workbooks generated below change, so that stale ones are made again. The
# stamp is written once they are all made, so a run cut short has them all made again.
GENERATION=2
if [ "$(cat "$WORK/generation" 2>/dev/null)" != "$GENERATION" ]; then
  rm -f "$WORK"/*.xls "$WORK/generation"
fi

/usr/bin/python3 - "$WORK" <<'PY'
import os, random, subprocess, sys
import xlwt

work = sys.argv[1]

def save(wb, name):
    wb.save(os.path.join(work, name))

def make(name, build):
    # Each workbook has a generator of its own, so each comes out the same whichever are made.
    if not os.path.exists(os.path.join(work, name)):
        save(build(random.Random("20261208-" + name)), name)

def text(rng, i, letters):
    return "s%07d-%s" % (i, "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(letters)))

def numbers(sheets, rows, cols):
    def build(rng):
        wb = xlwt.Workbook()
        for s in range(sheets):
            ws = wb.add_sheet("N%d" % s)
            for r in range(rows):
                row = ws.row(r)
                for c in range(cols):
                    row.write(c, rng.randint(0, 10**6) if c % 2 else rng.random() * 10**rng.randint(-3, 9))
                if r % 1000 == 0:
                    ws.flush_row_data()
        return wb
    return build

def strings(sheets, rows, cols):
    # Texts of 39 characters, so that the BIFF8 workbook comes to about the 35 MiB of the strings
    # file the targets were set against; mostly distinct, one in twenty repeats an earlier text.
    def build(rng):
        wb = xlwt.Workbook()
        texts = []
        for s in range(sheets):
            ws = wb.add_sheet("S%d" % s)
            for r in range(rows):
                row = ws.row(r)
                for c in range(cols):
                    if texts and rng.random() < 0.05:
                        row.write(c, texts[rng.randrange(len(texts))])
                    else:
                        texts.append(text(rng, len(texts), 30))
                        row.write(c, texts[-1])
                if r % 1000 == 0:
                    ws.flush_row_data()
        return wb
    return build

def mixed(rows, cols):
    def build(rng):
        wb = xlwt.Workbook()
        ws = wb.add_sheet("Mixed")
        style = xlwt.easyxf("font: bold on")
        i = 0
        for r in range(rows):
            row = ws.row(r)
            for c in range(cols):
                k = (r + c) % 4
                if k == 0:
                    row.write(c, rng.random() * 1000)
                elif k == 1:
                    row.write(c, text(rng, i, 8)); i += 1
                elif k == 2:
                    row.write(c, rng.random() < 0.5)
                else:
                    row.write(c, None, style)  # blank
            if r % 1000 == 0:
                ws.flush_row_data()
        return wb
    return build

make("numbers8.xls", numbers(1, 65000, 20))
make("strings8.xls", strings(1, 65000, 10))
make("mixed8.xls", mixed(65000, 10))
# BIFF5 versions: gnumeric's BIFF5 sheets hold 16,384 rows, so four sheets of 16,250.
make("numbers4x.xls", numbers(4, 16250, 20))
make("strings4x.xls", strings(4, 16250, 10))
for src, dst in (("numbers4x.xls", "numbers5.xls"), ("strings4x.xls", "strings5.xls")):
    if not os.path.exists(os.path.join(work, dst)):
        subprocess.run(["ssconvert", "-T", "Gnumeric_Excel:excel_biff7", os.path.join(work, src),
                        os.path.join(work, dst)], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
PY
echo "$GENERATION" >"$WORK/generation"

cat > "$WORK/xlrd_all.py" <<'PY'
import sys, xlrd
try:
    book = xlrd.open_workbook(sys.argv[1], on_demand=False)
except UnicodeDecodeError:
    book = xlrd.open_workbook(sys.argv[1], encoding_override="cp1252")
n = 0
for sh in book.sheets():
    for r in range(sh.nrows):
        n += len(sh.row_values(r))
print(sum(sh.nrows * sh.ncols for sh in book.sheets()))
PY

/usr/bin/python3 - "$WORK" "$XLSDUMP" "$RUNS" <<'PY'
import os, statistics, subprocess, sys, time

work, xlsdump, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
files = ["numbers8.xls", "strings8.xls", "mixed8.xls", "numbers5.xls", "strings5.xls"]

def run(cmd, check=True):
    out = os.path.join(work, "time.out")
    t0 = time.perf_counter()
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", out] + cmd, check=check,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - t0, int(open(out).read().split()[-1])

def measure(cmds):
    # By default each tool makes all its runs in a row. With XE_BENCH_TURNS=1 the tools take
    # turns, one run each per round: a slow spell of the machine then falls on all of them, and
    # no tool runs right after itself, with the memory it just gave back still at hand.
    results = [[] for _ in cmds]
    if os.environ.get("XE_BENCH_TURNS") == "1":
        for _ in range(runs):
            for cmd, result in zip(cmds, results):
                result.append(run(cmd))
    else:
        for cmd, result in zip(cmds, results):
            result.extend(run(cmd) for _ in range(runs))
    return [(statistics.median(t for t, _ in r), max(m for _, m in r)) for r in results]

# Fresh memory as large as what xlsdump's peak adds to the program's own pages (its RSS for
# --help), every page of it written (the bytearray is zeroed, and one byte a page is written in
# case it was not): on a machine whose page faults are dear this alone takes much of the time the
# targets allow, and no one-thread reader that holds as much can be faster.
TOUCH = """import sys, time
n = int(sys.argv[1]) * 1024
t = time.perf_counter()
b = bytearray(n)
b[::4096] = b"\\1" * len(range(0, n, 4096))
print(time.perf_counter() - t)
"""

def touch(kib):
    return statistics.median(float(subprocess.run(["/usr/bin/python3", "-c", TOUCH, str(kib)], check=True,
                                                  capture_output=True, text=True).stdout) for _ in range(runs))

_, program_kib = run([xlsdump, "--help"], check=False) # an older xlsdump may know no --help

def cell_count(path):
    # Counted by the xlrd script in a process of its own: a book read here would leave this
    # process holding its memory while the tools are timed.
    return int(subprocess.run(["/usr/bin/python3", os.path.join(work, "xlrd_all.py"), path],
                              check=True, capture_output=True, text=True).stdout)

print("%-14s %9s %9s | %8s %8s %8s | %8s %8s | %9s %9s %9s | %8s %s" % (
    "file", "size KiB", "cells", "xlsdump", "xlrd", "xls2csv", "x xlrd", "x csv",
    "RSS KiB", "limit KiB", "xlrd KiB", "touch", "targets"))
for name in files:
    path = os.path.join(work, name)
    size = os.path.getsize(path)
    cells = cell_count(path)
    (t_dump, m_dump), (t_xlrd, m_xlrd), (t_csv, m_csv) = measure(
        [[xlsdump, path], ["/usr/bin/python3", os.path.join(work, "xlrd_all.py"), path], ["xls2csv", path]])
    limit = (size + 64 * cells) // 1024
    ok = t_xlrd / t_dump >= 5 and t_csv / t_dump >= 1.5 and m_dump <= limit
    print("%-14s %9d %9d | %7.3fs %7.3fs %7.3fs | %7.1fx %7.1fx | %9d %9d %9d | %7.3fs %s" % (
        name, size // 1024, cells, t_dump, t_xlrd, t_csv, t_xlrd / t_dump, t_csv / t_dump,
        m_dump, limit, m_xlrd, touch(m_dump - program_kib), "met" if ok else "MISSED"))
PY
