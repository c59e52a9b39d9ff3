#!/bin/sh
# Builds the append benchmark without sanitizers and runs it twice:
#
# 1. Against a throwaway local cluster with PostgreSQL's default, durable settings (fsync and
#    synchronous_commit on), where every commit waits for the disk as on a real server. These are
#    the figures the targets are read from.
# 2. Against a throwaway cluster with fsync=off, synchronous_commit=off and full_page_writes=off
#    (the one the test suite uses), for reference: commits cost almost nothing there, which
#    flatters the one-INSERT-per-row path.
#
# The benchmark starts each throwaway cluster itself (--temporary-cluster), in a folder only its
# owner can enter, with a login role whose password is drawn at random.
#
# Extra arguments go to both runs (--rows, --big-rows, --per-row-rows, --insert-rows). To use an
# existing server instead, run build-bench/bench/append_bench with PGHOST, PGPORT, PGUSER and
# PGPASSWORD set.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRP_SANITIZE=OFF \
      -DTRP_BUILD_TESTS=OFF >/dev/null
ninja -C build-bench -j2 append_bench >/dev/null
bench=$(pwd)/build-bench/bench/append_bench

uptime
echo "== throwaway cluster, default durable settings"
"$bench" --temporary-cluster --durable "$@"

echo "== throwaway cluster, fsync=off (reference)"
"$bench" --temporary-cluster "$@"
uptime
