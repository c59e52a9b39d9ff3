#!/bin/sh
# Builds the benchmarks without sanitizers (build-bench/, Release) and runs the targets table:
# every case through the table selection screen on Qt's offscreen platform, against a throwaway
# local server with PostgreSQL's default durable settings that the benchmark starts itself, in
# a folder only its owner can enter, with a login role whose password is drawn at random.
#
# Arguments go to the benchmark: --case NAME (repeatable) runs only those cases, --rows N and
# --pairs N make them smaller, --value-mb N sizes the one large value, --existing-server uses
# the server of PGHOST, PGPORT, PGUSER and PGPASSWORD instead. Run with --help for the cases.
# The whole table takes about seven minutes on two cores.
#
# --before REV (first) runs the same cases on the engine of commit REV as well, first, so that
# before and after come from one invocation on one machine: REV is checked out in
# build-bench-before/tree with today's bench/ folder in it (its cases and its measuring), and
# built beside it.
#
# --accessible (before all else) runs the screen as a screen reader's user does: on an X server
# of its own (xvfb-run, Debian's xvfb) with Qt's accessibility bridge on, in a session bus of its
# own (dbus-run-session, with at-spi2-core's accessibility bus).
#
# The engine alone, without the screen: build-bench/bench/append_bench --temporary-cluster
# [--durable].
set -eu
cd "$(dirname "$0")/.."
run=
if [ "${1:-}" = --accessible ]; then
    shift
    command -v xvfb-run >/dev/null || { echo "--accessible needs xvfb-run (apt install xvfb)" >&2; exit 2; }
    export TRP_BENCH_ACCESSIBLE=1
    run="xvfb-run -a dbus-run-session --"
fi
build() {
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRP_SANITIZE=OFF \
          -DTRP_BUILD_TESTS=OFF >/dev/null
    ninja -C "$2" -j"${TRP_JOBS:-2}" screen_bench append_bench >/dev/null
}

if [ "${1:-}" = --before ]; then
    [ $# -ge 2 ] || { echo "--before needs a commit" >&2; exit 2; }
    before=$(git rev-parse --verify "$2^{commit}")
    shift 2
    tree=build-bench-before/tree
    if [ -d "$tree" ]; then
        git -C "$tree" checkout -q --force --detach "$before"
    else
        git worktree add -q --detach "$tree" "$before"
    fi
    rm -rf "$tree/bench"
    cp -r bench "$tree/bench"
    build "$tree" build-bench-before/build
    build . build-bench
    echo "== before: $(git log -1 --format='%h %s' "$before")"
    uptime
    $run build-bench-before/build/bench/screen_bench "$@"
    echo
    echo "== after: $(git log -1 --format='%h %s' HEAD)$(git diff --quiet HEAD || echo ' (with changes)')"
else
    build . build-bench
fi

uptime
$run build-bench/bench/screen_bench "$@"
uptime
