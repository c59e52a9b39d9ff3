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
# The engine alone, without the screen: build-bench/bench/append_bench --temporary-cluster
# [--durable].
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRP_SANITIZE=OFF \
      -DTRP_BUILD_TESTS=OFF >/dev/null
ninja -C build-bench -j"${TRP_JOBS:-2}" screen_bench append_bench >/dev/null

uptime
build-bench/bench/screen_bench "$@"
uptime
