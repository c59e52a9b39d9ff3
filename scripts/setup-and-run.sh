#!/usr/bin/env bash
# Installs what is missing on Debian 12, builds a Release binary in build-release/ and starts
# Tessaline Row Porter with the arguments given here, for example:
#   scripts/setup-and-run.sh --demo
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/install-missing.sh

install_missing "${BUILD_AND_RUN_PACKAGES[@]}"

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTRP_SANITIZE=OFF -DTRP_BUILD_TESTS=OFF -DTRP_BUILD_BENCH=OFF
cmake --build build-release

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "Note: no graphical display found (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
fi
exec build-release/src/tessaline-row-porter "$@"
