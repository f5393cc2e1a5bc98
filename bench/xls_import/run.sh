#!/usr/bin/env bash
# Times the spreadsheet import of 65,000 rows x 10 columns with a ten-element template through
# xlsimport, side by side with libxml2 parsing the XML file the import wrote (xmllint --noout).
# Needs python3-xlwt and libxml2-utils. Usage: bench/xls_import/run.sh [ROWS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
rows=${1:-65000}
build=$top/build-bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DXE_TESTS=OFF -DXE_GUI=OFF >/dev/null
cmake --build "$build" --target xlsimport >/dev/null

/usr/bin/python3 "$here/make_workbook.py" "$work/book.xls" "$rows"
{
  echo "<row>"
  for c in 0 1 2 3 4 5 6 7 8 9; do echo "  <F$c/>"; done
  echo "</row>"
} >"$work/template.xml"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
time_of() { # command... -> seconds
  local s e
  s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N)
  echo "$e - $s" | bc -l
}

imp=() parse=()
for i in 1 2 3 4 5; do
  imp+=("$(time_of "$build/tools/xlsimport/xlsimport" --template "$work/template.xml" --workbook "$work/book.xls" -o "$work/out.xml")")
  parse+=("$(time_of xmllint --noout "$work/out.xml")")
done
ti=$(printf '%s\n' "${imp[@]}" | median)
tp=$(printf '%s\n' "${parse[@]}" | median)
printf 'workbook %s bytes, output %s bytes, %s rows\n' "$(stat -c %s "$work/book.xls")" "$(stat -c %s "$work/out.xml")" "$rows"
printf 'xlsimport median %.3f s; libxml2 parse (xmllint --noout) median %.3f s; ratio %.2f (target <= 3)\n' \
  "$ti" "$tp" "$(echo "$ti / $tp" | bc -l)"
