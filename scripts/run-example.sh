#!/usr/bin/env bash
# Installs what is missing, builds Tavro and runs the example catchment under
# two MPI processes; its output lands in examples/run/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)" --target tavro
examples/run-example.sh build/app/tavro
