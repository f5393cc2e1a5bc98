#!/usr/bin/env bash
# Installs what is missing, builds the editor and starts it: ./run.sh [FILE.xml]
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DXE_TESTS=OFF >/dev/null
cmake --build build --target xmleditor
exec build/src/app/xmleditor "$@"
