#!/usr/bin/env bash
# Installs what is missing on Debian 12, builds the test suite in build-test/ (Debug, with
# AddressSanitizer and UndefinedBehaviorSanitizer, every compiler warning an error) and runs it;
# the exit code is ctest's.
# Every test program starts its own throwaway PostgreSQL server on a free port, so a system
# cluster on port 5432 neither helps nor disturbs. The suite also builds the Debian package (in
# build-test/package-build/, without sanitizers) and checks it. TRP_JOBS limits the build's
# parallelism.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/install-missing.sh

install_missing "${BUILD_AND_RUN_PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTRP_SANITIZE=ON -DTRP_BUILD_TESTS=ON \
    -DTRP_WERROR=ON
cmake --build build-test ${TRP_JOBS:+--parallel "$TRP_JOBS"}

cd build-test
export QT_QPA_PLATFORM=offscreen
exec ctest --output-on-failure
