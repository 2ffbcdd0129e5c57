#!/usr/bin/env bash
# Installs the build tree into a fresh prefix, builds the consumer in this
# folder against it with find_package, and runs the consumer and the
# installed host program on real SQLite files.
#   check.sh BUILD_DIR SOURCE_DIR CXX_COMPILER
set -euo pipefail
build_dir="$1" source_dir="$2" cxx="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

fail() { echo "FAILED: $*" >&2; exit 1; }

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
cmake -S "$source_dir/tests/install" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/build" >/dev/null

plugin="$(find "$prefix" -name libgzs007fix.so)"
host="$prefix/bin/editdb-host"

# Everything the installed programs load comes from the installed tree.
for binary in "$work/build/consumer" "$host" "$plugin"; do
    resolved="$(ldd "$binary" | awk '/libdataaccess/ { print $3 }')"
    case "$resolved" in
        "$prefix"/*) ;;
        *) fail "$binary loads libdataaccess from '$resolved', not from $prefix" ;;
    esac
done

sqlite3 "$work/consumer.db" < "$source_dir/samples/gzs007.sql"
out="$("$work/build/consumer" "$work/consumer.db")"
expected=$'statements 3, rows changed 4\nrefused: no such column: nope'
[ "$out" = "$expected" ] || fail "consumer printed: $out"
target="$(sqlite3 "$work/consumer.db" "SELECT GZS007006 || ',' || SSSS014 FROM GZS007 WHERE GUID='A520000000000000GZU011011_013'")"
[ "$target" = "0,-1" ] || fail "consumer left the target row as $target"

sqlite3 "$work/host.db" < "$source_dir/samples/gzs007.sql"
before="$(sqlite3 "$work/host.db" 'SELECT * FROM GZS007')"
out="$("$host" --dry-run "$plugin" "$work/host.db")" || fail "installed host exited $?: $out"
grep -qx 'outcome     dry run, rolled back: would have changed 4 rows; the database is unchanged' <<<"$out" \
    || fail "installed host printed: $out"
[ "$(sqlite3 "$work/host.db" 'SELECT * FROM GZS007')" = "$before" ] || fail "the dry run changed the table"
echo "installed tree: consumer and host ran from $prefix"
