#!/usr/bin/env bash
# Runs the commands of the README's guide to applying a correction safely
# on the sample database and compares what the program prints with what the
# README shows, the times aside (they differ from run to run).
#   readme_guide_check.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build_dir="$1" source_dir="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
ln -s "$build_dir" build

fail() { echo "FAILED: $*" >&2; exit 1; }

# The guide's examples, in order: each fenced block that starts with "$ ".
awk -v dir="$work" '
    /^```$/ && inBlock { inBlock = 0; close(file); next }
    /^```$/ { pending = 1; next }
    pending && /^\$ / { inBlock = 1; file = sprintf("%s/example-%d", dir, ++n) }
    { pending = 0 }
    inBlock { print > file }
' "$source_dir/README.md"

sample() {
    rm -f gzs007.db
    sqlite3 gzs007.db < "$source_dir/samples/gzs007.sql"
}
# What the guide does before each example: a fresh sample for the dry run,
# the same database for the transaction, and a fresh one with a guarding
# trigger for the failure.
setups=(sample : "sample; sqlite3 gzs007.db \"CREATE TRIGGER keep_target BEFORE UPDATE OF GZS007006 ON GZS007 BEGIN SELECT RAISE(ABORT, 'GZS007006 is locked'); END;\"")

masked() { sed -E 's/ +[0-9]+\.[0-9]{3} m?s  / TIME  /'; }

count=0
for example in example-*; do
    command="$(head -1 "$example" | cut -c3-)"
    case "$command" in build/bin/editdb-host\ *) ;; *) continue ;; esac
    eval "${setups[$count]}"
    count=$((count + 1))
    status=0
    actual="$(eval "$command" 2>&1)" || status=$?
    expected="$(tail -n +2 "$example")"
    [ "$(masked <<<"$actual")" = "$(masked <<<"$expected")" ] \
        || fail "$example ($command, exit $status) prints:"$'\n'"$actual"$'\n'"but the README shows:"$'\n'"$expected"
done
[ "$count" -eq ${#setups[@]} ] || fail "found $count editdb-host examples in the README, expected ${#setups[@]}"
echo "the README's $count examples print what it shows"
