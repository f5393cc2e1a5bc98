#!/usr/bin/env bash
# Every build type configures with g++ and clang++-14, tests on and off, on a clean tree; the
# optimized builds, whose warnings differ from the test build's, also compile without a warning
# (the GUI layers are left out there: they are compiled, and their tests run, by test.sh).
#   scripts/check-builds.sh [WORKDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-build-check}
rm -rf "$work"
mkdir -p "$work"
for cxx in g++ clang++-14; do
  for type in Debug Release RelWithDebInfo; do
    for tests in ON OFF; do
      dir=$work/$cxx-$type-tests$tests
      if ! CXX=$cxx cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=$type -DXE_TESTS=$tests >"$dir.log" 2>&1; then
        cat "$dir.log"
        echo "configure failed: $cxx $type tests $tests" >&2
        exit 1
      fi
    done
  done
  dir=$work/$cxx-Release-werror
  CXX=$cxx cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DXE_TESTS=ON -DXE_GUI=OFF -DXE_WERROR=ON >/dev/null
  cmake --build "$dir" -j "$(nproc)"
done
rm -rf "$work"
mkdir -p "$work"
echo "check-builds: every configuration configured; optimized builds compiled without warnings"
