#!/usr/bin/env bash
# Installs what is missing, builds in Release, and runs the benchmark:
# the plug-in's call beside the database's own work, and the probe alone.
# Arguments go to the program (--large adds the 1000000-row table; --help).
#
# The generated tables live on a memory file system (BENCH_DATA), so that
# the disk's latency, which is neither the plug-in's work nor the
# database's, does not drown the comparison; they are removed at the end
# unless BENCH_KEEP_DATA=1.
source "$(dirname "$0")/common.sh"

BENCH_BUILD_DIR="${BENCH_BUILD_DIR:-$PROJECT_ROOT/build-release}"
BENCH_DATA="${BENCH_DATA:-/dev/shm/editdb-bench-$(id -u)}"

ensure_packages "${BASE_PACKAGES[@]}"
cmake -S "$PROJECT_ROOT" -B "$BENCH_BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DEDITDB_BUILD_TESTS=OFF >/dev/null
cmake --build "$BENCH_BUILD_DIR" -j "$(nproc)" --target editdb-bench

# Removes only what the benchmark made there, in case BENCH_DATA holds more.
remove_tables() {
    rm -f "$BENCH_DATA"/gzs007-v*.db "$BENCH_DATA"/gzs007-v*.db.partial "$BENCH_DATA"/working-copy.db*
    rmdir "$BENCH_DATA" 2>/dev/null || true
}
[ "${BENCH_KEEP_DATA:-0}" = 1 ] || trap remove_tables EXIT
"$BENCH_BUILD_DIR/bin/editdb-bench" --data "$BENCH_DATA" "$@"
