#!/usr/bin/env bash
# The fault campaign: installs what is missing, builds the test suite in build-test/ as
# scripts/test.sh does, and runs the `append` command RUNS times, each run drawn from the next
# seed across paths, routes, servers (Debian's 15, the matrix's 10 and 18), faults, moments and
# endings, and checked for what a user relies on. A line per run, a table by dimension at the
# end; the exit code is 1 when a run broke a promise, which is printed with the command that
# replays it. Go on from where an earlier sitting stopped by starting at its next seed:
#   scripts/campaign.sh --runs 300 --seed 1000
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/install-missing.sh

install_missing "${BUILD_AND_RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
install_postgres_releases
TRP_POSTGRES_RELEASES=$(postgres_release_cache)
export TRP_POSTGRES_RELEASES

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTRP_SANITIZE=ON -DTRP_BUILD_TESTS=ON \
    -DTRP_WERROR=ON >/dev/null
cmake --build build-test ${TRP_JOBS:+--parallel "$TRP_JOBS"} --target campaign_runner >/dev/null
export QT_QPA_PLATFORM=offscreen
exec build-test/tests/campaign_runner --program build-test/src/tessaline-row-porter "$@"
