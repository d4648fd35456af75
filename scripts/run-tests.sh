#!/usr/bin/env bash
# Installs what is missing, builds Tavro and runs every test (unit, MPI with
# 1 and 3 processes, and the program itself).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${TAVRO_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release ${TAVRO_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" -j "$(nproc)" --output-on-failure
