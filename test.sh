#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs every test; then runs the suites without windows once more over pooled memory, and
# those that start threads under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
build=${XE_TEST_BUILD_DIR:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DXE_SANITIZE=ON >/dev/null
cmake --build "$build"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
(cd "$build" && ctest --output-on-failure -j "$(nproc)")
# AddressSanitizer makes the reader allocate every string and trie block on its own; the pooled
# memory that a normal build uses is tested by a second build under UndefinedBehaviorSanitizer
# alone (the suites that need no window).
pooled=${XE_TEST_POOLED_BUILD_DIR:-build-test-pooled}
cmake -S . -B "$pooled" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DXE_SANITIZE=ON -DXE_SANITIZERS=undefined \
  -DXE_GUI=OFF >/dev/null
cmake --build "$pooled"
(cd "$pooled" && ctest --output-on-failure -j "$(nproc)")
# Threads: chunk memory is mapped and faulted in ahead on one, a large SST is interned on one
# while the cells are read, and xlsdump writes large sheets on two.
threads=${XE_TEST_THREADS_BUILD_DIR:-build-test-threads}
cmake -S . -B "$threads" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DXE_SANITIZE=ON -DXE_SANITIZERS=thread \
  -DXE_GUI=OFF >/dev/null
cmake --build "$threads" --target xls_cells_tests xls_reader_test
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1}
"$threads/tests/xls/cells/xls_cells_tests"
"$threads/tests/xls/reader/xls_reader_test" --gtest_filter='CorpusDump.*:Cells.LargeTable*'
# The Debian package: built from a Release build of its own, installed into a scratch root and
# checked as a user gets it.
scripts/check-package.sh
