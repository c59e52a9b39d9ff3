#!/usr/bin/env bash
# Installs what is missing on Debian 12, builds the test suite in build-test/ (Debug, with
# AddressSanitizer and UndefinedBehaviorSanitizer, every compiler warning an error) and runs it;
# the exit code is ctest's. Every test program starts its own throwaway PostgreSQL server on a
# free port, so a system cluster on port 5432 neither helps nor disturbs. The suite also builds
# the Debian package (in build-test/package-build/, without sanitizers) and checks it. TRP_JOBS
# limits the build's parallelism.
#
# ctest shows a test program's own output only when it fails. So that a long program is not a
# long silence, the programs (and the package build) also append to a file what they are at
# and what they skipped; this script shows those lines as they come, and lists the skipped
# tests with their reasons at the end.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/install-missing.sh

install_missing "${BUILD_AND_RUN_PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTRP_SANITIZE=ON -DTRP_BUILD_TESTS=ON \
    -DTRP_WERROR=ON
cmake --build build-test ${TRP_JOBS:+--parallel "$TRP_JOBS"}

progress_folder=$(mktemp -d)
follower=
trap '[[ -z "$follower" ]] || kill "$follower" 2>/dev/null; rm -rf "$progress_folder"' EXIT
export TRP_TEST_PROGRESS="$progress_folder/progress"
: >"$TRP_TEST_PROGRESS"

# Prints the progress file's lines as they are written, indented under ctest's own, until the
# file "stop" appears beside it (then what is left is printed too) or this script is gone.
follow_progress() {
    local line pending="" stopping
    while kill -0 "$$" 2>/dev/null; do
        [[ -e "$progress_folder/stop" ]] && stopping=1 || stopping=
        while IFS= read -r line; do
            printf '        %s\n' "$pending$line"
            pending=
        done
        # A line being written as the file was read is completed by the next pass.
        pending+=$line
        [[ -z "$stopping" ]] || break
        sleep 0.2
    done <"$TRP_TEST_PROGRESS"
}
follow_progress &
follower=$!

status=0
(cd build-test && QT_QPA_PLATFORM=offscreen ctest --output-on-failure) || status=$?
touch "$progress_folder/stop"
wait "$follower" || true
follower=

mapfile -t skipped < <(sed -n 's/^\([^ ]*\) skipped /\1 /p' "$TRP_TEST_PROGRESS")
if ((${#skipped[@]} > 0)); then
    echo "Skipped tests (${#skipped[@]}), each with its program and the reason:"
    printf '    %s\n' "${skipped[@]}"
else
    echo "No test was skipped."
fi
exit "$status"
