#!/bin/sh
# Builds the append benchmark without sanitizers and runs it against a throwaway local
# PostgreSQL cluster (started by the benchmark itself in a temporary directory). That cluster runs
# with fsync=off, synchronous_commit=off and full_page_writes=off, so the figures measure the
# engine and the server's work, not the disk; the COPY pipe it is compared with runs against the
# same cluster. Extra arguments go to the benchmark (--rows, --big-rows, --per-row-rows,
# --insert-rows); to use an existing server instead, run build-bench/bench/append_bench with
# PGHOST/PGPORT/PGUSER/PGPASSWORD set.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRP_SANITIZE=OFF \
      -DTRP_BUILD_TESTS=OFF >/dev/null
ninja -C build-bench -j2 append_bench >/dev/null
uptime
exec ./build-bench/bench/append_bench --temporary-cluster "$@"
