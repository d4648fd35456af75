#!/usr/bin/env bash
# Installs what building and testing Tavro needs on a Debian machine
# (only what is missing; apt-get needs root or sudo).
set -euo pipefail
packages=(build-essential cmake mpich libmpich-dev googletest libgtest-dev libbenchmark-dev
          libxml2-utils clang-format gdal-bin)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi
