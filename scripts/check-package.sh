#!/usr/bin/env bash
# Builds the Debian package from a Release build without tests, installs the project into a
# scratch root and checks what a user gets: the package holds what is installed and names its
# libraries, the menu entry and the icon are sound, every program answers --help, --version and
# bad usage, and every manual page renders without a warning.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
build=${XE_PACKAGE_BUILD_DIR:-build-package}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DXE_TESTS=OFF >/dev/null
cmake --build "$build"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/*.deb)
deb=${debs[0]}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null

failures=0
fail() {
  echo "check-package: $*" >&2
  failures=$((failures + 1))
}

version=$(dpkg-deb -f "$deb" Version)
[[ -n $version ]] || fail "$deb has no version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6widgets6 libxml2 libxslt1.1 libzip4; do
  [[ $depends == *"$lib"* ]] || fail "the package does not depend on $lib: Depends: $depends"
done
if ! diff <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\.||' | sort) \
  <(cd "$root" && find . ! -type d | sed 's|^\.||' | sort); then
  fail "the package and the install differ (< package, > install)"
fi

desktop=$root/usr/share/applications/xmleditor.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate refuses $desktop"
grep -qx 'MimeType=application/xml;text/xml;' "$desktop" || fail "$desktop does not open XML files"
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[[ -x $root/usr/bin/$exec_program ]] || fail "$desktop starts '$exec_program', which is not installed"
icon=$root/usr/share/icons/hicolor/scalable/apps/$(sed -n 's/^Icon=//p' "$desktop").svg
xmllint --noout "$icon" || fail "the icon $icon is not well-formed"

# No display: the editor must answer before it starts Qt.
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }
programs=()
for program in "$root"/usr/bin/*; do programs+=("$(basename "$program")"); done
((${#programs[@]} == 5)) || fail "expected 5 programs, installed: ${programs[*]}"
for name in "${programs[@]}"; do
  program=$root/usr/bin/$name
  help=$(run "$program" --help) || fail "$name --help exits $?"
  [[ $help == "usage: $name "* ]] || fail "$name --help prints: $help"
  out=$(run "$program" --version) || fail "$name --version exits $?"
  [[ $out == "$name $version" ]] || fail "$name --version prints '$out', the package is $version"
  if [[ $name != xmleditor ]]; then # the editor leaves other options to Qt
    status=0
    err=$(run "$program" --no-such-option 2>&1 >/dev/null) || status=$?
    ((status == 2)) || fail "$name --no-such-option exits $status"
    [[ -n $err && $err != *$'\n'* ]] || fail "$name --no-such-option hints in other than one line: $err"
  fi

  page=$root/usr/share/man/man1/$name.1.gz
  if [[ ! -f $page ]]; then
    fail "$name has no manual page"
    continue
  fi
  warnings=$(MANWIDTH=80 man --warnings=w -l -Tutf8 "$page" 2>&1 >/dev/null) || fail "man -l $page fails"
  [[ -z $warnings ]] || fail "man -l $page warns: $warnings"
done
pages=$(find "$root/usr/share/man/man1" -name '*.1.gz' | wc -l)
((pages == ${#programs[@]})) || fail "$pages manual pages for ${#programs[@]} programs"

((failures == 0)) || exit 1
echo "check-package: $(basename "$deb") and its install are sound ($((SECONDS - start)) s)"
