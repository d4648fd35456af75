#!/usr/bin/env bash
# Builds tavro (Release, in build/) and measures the whole model on the upper
# Moselle refined to 100 m cells under the layouts processes x threads:
#   bench/catchment/run.sh [catchment_bench.py options]
# e.g. bench/catchment/run.sh --steps 3 --layouts 1x1,2x2 for a quick check.
# Run it on an otherwise idle machine: the table compares wall times.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh
if ! command -v python3 >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y python3
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target tavro
exec python3 bench/catchment/catchment_bench.py build/app/tavro "$@"
