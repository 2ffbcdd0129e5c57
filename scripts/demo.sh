#!/usr/bin/env bash
# Installs what is missing, builds, and applies the correction to two sample
# databases made from samples/: one where the probe finds another row (the
# target row is reset) and one where it does not (the target row is kept).
source "$(dirname "$0")/common.sh"

ensure_packages "${BASE_PACKAGES[@]}"
build

DEMO_DIR="$BUILD_DIR/demo"
rm -rf "$DEMO_DIR" && mkdir -p "$DEMO_DIR"

show() {
    sqlite3 -header -column "$1" \
        "SELECT GUID, GZS007002, GZS007004, GZS007005, GZS007006, SSSS014 FROM GZS007 ORDER BY GUID"
}

run_demo() {
    local name="$1" db="$DEMO_DIR/$1.db"
    shift
    cat "$@" | sqlite3 "$db"
    echo "== $name: before"
    show "$db"
    echo "== $name: editdb-host $BUILD_DIR/lib/libgzs007fix.so $db"
    local status=0
    "$BUILD_DIR/bin/editdb-host" "$BUILD_DIR/lib/libgzs007fix.so" "$db" || status=$?
    echo "== $name: after (exit status $status)"
    show "$db"
    echo
}

run_demo with-other-row "$PROJECT_ROOT/samples/gzs007.sql"
run_demo without-other-row "$PROJECT_ROOT/samples/gzs007.sql" "$PROJECT_ROOT/samples/without-other-row.sql"
