#!/usr/bin/env bash
# Installs what is missing, builds everything once with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every test, then checks that the other build types a user or
# packager makes configure and build (scripts/check-builds.sh).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
build=${XE_TEST_BUILD_DIR:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DXE_SANITIZE=ON -DXE_WERROR=ON >/dev/null
cmake --build "$build"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
(cd "$build" && ctest --output-on-failure -j "$(nproc)")
scripts/check-builds.sh "${XE_CHECK_BUILDS_DIR:-build-check}"
