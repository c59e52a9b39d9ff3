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
# Extra arguments go to both runs (--rows, --big-rows, --per-row-rows, --insert-rows). To use an
# existing server instead, run build-bench/bench/append_bench with PGHOST, PGPORT, PGUSER and
# PGPASSWORD set.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRP_SANITIZE=OFF \
      -DTRP_BUILD_TESTS=OFF >/dev/null
ninja -C build-bench -j2 append_bench >/dev/null
bench=$(pwd)/build-bench/bench/append_bench

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
dir=$(mktemp -d /tmp/trp-bench-XXXXXX)
as_server() {
    # PostgreSQL refuses to run as root.
    if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
[ "$(id -u)" = 0 ] && chown postgres "$dir"
port=$(( 20000 + $$ % 20000 ))
cleanup() {
    as_server "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    rm -rf "$dir"
}
trap cleanup EXIT
as_server "$bin/initdb" -D "$dir/data" -U bench -A trust -E UTF8 --locale=C.UTF-8 >/dev/null
as_server "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
    -o "-c listen_addresses=127.0.0.1 -p $port -k $dir" start >/dev/null

uptime
echo "== throwaway cluster, default durable settings"
PGHOST=127.0.0.1 PGPORT=$port PGUSER=bench PGPASSWORD= "$bench" "$@"
cleanup
trap - EXIT

echo "== throwaway cluster, fsync=off (reference)"
"$bench" --temporary-cluster "$@"
uptime
