#!/usr/bin/env bash
# The database servers of the server provider tests, private to one test run.
#
#   test-servers.sh start STATE   start a MariaDB server and a PostgreSQL cluster
#   test-servers.sh stop STATE    stop them and remove everything start made
#
# Both live in one new folder under $TMPDIR (or /tmp): data directories,
# sockets and logs. Neither listens on a network port: MariaDB runs with
# --skip-networking, PostgreSQL with an empty listen_addresses; clients
# reach them through Unix sockets only. As root, PostgreSQL runs as the
# postgres user (it refuses root) and MariaDB as root; otherwise both run
# as the calling user.
#
# STATE records, as KEY=VALUE lines, the sockets and clients the tests use,
# and what stop needs. CTest runs start as a fixture setup and stop as its
# cleanup, which runs whether the tests passed or not; should the run be cut
# short before its cleanup, a watcher started with the servers stops them
# once the process that ran start (ctest) is gone.
#
# A missing server program fails start with the package to install. A
# developer may opt out locally with EDITDB_SKIP_SERVER_TESTS=1: the server
# tests then report themselves skipped. CI=true ignores the opt-out.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"  # server_tests_opted_out

COMMAND="${1:?usage: test-servers.sh start|stop STATE}"
STATE="${2:?usage: test-servers.sh start|stop STATE}"
SCRIPT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")"
POSTGRES_PORT=5432  # names the socket file only: nothing listens on TCP
POSTGRES_USER=editdb

say() { echo "test-servers: $*" >&2; }

state_get() { [ -f "$STATE" ] && sed -n "s/^$1=//p" "$STATE" | tail -n 1 || true; }
state_put() { echo "$1=$2" >>"$STATE"; }

# A process that still runs (a zombie no longer does).
alive() {
    case "$1" in '' | *[!0-9]*) return 1 ;; esac
    local state
    state="$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)"
    [ -n "$state" ] && [ "$state" != Z ]
}

# stop_process PID SIGNAL: signals PID and waits up to 30 s, then kills it.
stop_process() {
    local pid="$1" signal="$2" i
    alive "$pid" || return 0
    kill "-$signal" "$pid" 2>/dev/null || true
    for i in $(seq 300); do alive "$pid" || return 0; sleep 0.1; done
    say "process $pid did not stop in 30 s; killing it"
    kill -KILL "$pid" 2>/dev/null || true
}

stop() {
    [ -f "$STATE" ] || return 0
    local root watcher
    root="$(state_get ROOT)"
    watcher="$(state_get WATCHER_PID)"
    [ -n "$watcher" ] && [ "$watcher" != "$$" ] && kill "$watcher" 2>/dev/null || true
    stop_process "$(state_get MARIADB_PID)" TERM
    # SIGINT is PostgreSQL's fast shutdown: sessions are ended, not waited for.
    stop_process "$(state_get POSTGRES_PID)" INT
    case "$root" in
    */editdb-servers.*)
        # Debian registers psqlODBC with CommLog=1, so each connection of the
        # run left a small log in /tmp whatever its connection string said.
        [ -d "$root" ] && find /tmp -maxdepth 1 -name 'psqlodbc_*.log' -user "$(id -u)" -newer "$root" -delete 2>/dev/null
        rm -rf "$root"
        ;;
    esac
    rm -f "$STATE"
}

fail() {
    say "$*"
    say "the server tests cannot run. Install what is missing (scripts/test.sh does), or opt out locally with EDITDB_SKIP_SERVER_TESTS=1"
    stop
    exit 1
}

# find_program NAME DIR...: the first executable NAME on PATH or in DIR.
find_program() {
    local name="$1" dir
    shift
    command -v "$name" 2>/dev/null && return 0
    for dir in "$@"; do [ -x "$dir/$name" ] && echo "$dir/$name" && return 0; done
    return 1
}

# wait_until SECONDS COMMAND...: polls COMMAND every 0.1 s.
wait_until() {
    local tries=$(($1 * 10)) i
    shift
    for i in $(seq "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}

start_watcher() {
    setsid bash "$SCRIPT" watch "$STATE" "$PPID" </dev/null >/dev/null 2>&1 &
    state_put WATCHER_PID "$!"
}

start_mariadb() {
    local dir="$ROOT/mariadb" as_root=() client admin
    local install_db mariadbd
    install_db="$(find_program mariadb-install-db /usr/bin)" || fail "mariadb-install-db not found (Debian package mariadb-server)"
    mariadbd="$(find_program mariadbd /usr/sbin)" || fail "mariadbd not found (Debian package mariadb-server)"
    client="$(find_program mariadb /usr/bin)" || fail "the mariadb client not found (Debian package mariadb-client)"
    admin="$(find_program mariadb-admin /usr/bin)" || fail "mariadb-admin not found (Debian package mariadb-client)"
    [ "$(id -u)" -eq 0 ] && as_root=(--user=root)
    # A small redo log keeps the data directory at a few tens of megabytes.
    local options=(--datadir="$dir/data" --innodb-log-file-size=8M "${as_root[@]}")
    mkdir -p "$dir"
    "$install_db" --no-defaults "${options[@]}" --auth-root-authentication-method=normal --skip-test-db \
        >"$dir/install.log" 2>&1 || fail "mariadb-install-db failed: $(tail -n 20 "$dir/install.log")"
    setsid "$mariadbd" --no-defaults "${options[@]}" --socket="$dir/mariadb.sock" --skip-networking \
        --pid-file="$dir/mariadbd.pid" --log-error="$dir/error.log" </dev/null >/dev/null 2>&1 &
    state_put MARIADB_PID "$!"
    wait_until 60 "$admin" --no-defaults --socket="$dir/mariadb.sock" --user=root ping ||
        fail "mariadbd did not start: $(tail -n 20 "$dir/error.log" 2>/dev/null)"
    state_put MARIADB_SOCKET "$dir/mariadb.sock"
    state_put MARIADB_CLIENT "$client"
}

start_postgres() {
    local dir="$ROOT/postgresql" bin as_server=()
    bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)"
    [ -n "$bin" ] && [ -x "$bin/initdb" ] && [ -x "$bin/postgres" ] && [ -x "$bin/psql" ] ||
        fail "PostgreSQL's server programs not found under /usr/lib/postgresql (Debian package postgresql)"
    mkdir -p "$dir"
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres: "$dir" || fail "cannot hand $dir to the postgres user"
        as_server=(runuser -u postgres --)
    fi
    "${as_server[@]}" "$bin/initdb" --pgdata="$dir/data" --username="$POSTGRES_USER" --auth=trust \
        --encoding=UTF8 --locale=C --no-sync >"$ROOT/initdb.log" 2>&1 ||
        fail "initdb failed: $(tail -n 20 "$ROOT/initdb.log")"
    setsid "${as_server[@]}" "$bin/postgres" -D "$dir/data" -k "$dir" -p "$POSTGRES_PORT" \
        -c listen_addresses= -c fsync=off -c logging_collector=off </dev/null >"$ROOT/postgres.log" 2>&1 &
    wait_until 60 "$bin/pg_isready" --host="$dir" --port="$POSTGRES_PORT" --username="$POSTGRES_USER" ||
        fail "postgres did not start: $(tail -n 20 "$ROOT/postgres.log")"
    # The postmaster's own pid, whatever runuser did to start it.
    state_put POSTGRES_PID "$(head -n 1 "$dir/data/postmaster.pid")"
    state_put POSTGRES_SOCKET_DIR "$dir"
    state_put POSTGRES_PORT "$POSTGRES_PORT"
    state_put POSTGRES_USER "$POSTGRES_USER"
    state_put PSQL "$bin/psql"
}

start() {
    stop  # what an interrupted run may have left
    mkdir -p "$(dirname "$STATE")"
    if server_tests_opted_out; then
        state_put SKIPPED "EDITDB_SKIP_SERVER_TESTS=1: the MariaDB and PostgreSQL tests do not run here"
        say "EDITDB_SKIP_SERVER_TESTS=1: no servers started; their tests are skipped"
        return 0
    fi
    [ "${EDITDB_SKIP_SERVER_TESTS:-}" = 1 ] && say "EDITDB_SKIP_SERVER_TESTS is ignored when CI=true"
    ROOT="$(mktemp -d "${TMPDIR:-/tmp}/editdb-servers.XXXXXX")"
    chmod 755 "$ROOT"  # the postgres user must reach its own folder inside
    state_put ROOT "$ROOT"
    start_watcher
    local began=$SECONDS
    start_mariadb
    start_postgres
    say "MariaDB and PostgreSQL running under $ROOT (started in $((SECONDS - began)) s)"
}

# Run detached by start: waits for the process that ran start to end.
watch() {
    local owner="$1"
    while alive "$owner" && [ -f "$STATE" ]; do sleep 2; done
    stop
}

case "$COMMAND" in
start) start ;;
stop) stop ;;
watch) watch "${3:?}" ;;
*) echo "usage: test-servers.sh start|stop STATE" >&2; exit 2 ;;
esac
