# Shared by the project's scripts: installs what is missing and builds.
# Source it; it expects to run as root on Debian (or with sudo available).

set -euo pipefail

PROJECT_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$PROJECT_ROOT/build}"

# What building and testing need, as Debian packages.
BASE_PACKAGES=(cmake make g++ pkg-config libsqlite3-dev sqlite3 libgtest-dev unixodbc-dev libsqliteodbc)

# What the server tests need: the servers, which the test suite starts for
# itself in a private folder, and their ODBC drivers.
SERVER_PACKAGES=(mariadb-server odbc-mariadb postgresql odbc-postgresql)

# Whether a developer opted out of the server tests here; CI never does.
server_tests_opted_out() {
    [ "${EDITDB_SKIP_SERVER_TESTS:-}" = 1 ] && [ "${CI:-}" != true ]
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# ensure_packages PKG...: installs those of PKG that are not installed yet;
# asks apt for nothing when all are there.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build [PRESET]: configures and builds the project in BUILD_DIR.
build() {
    cmake -S "$PROJECT_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$BUILD_DIR" -j "$(nproc)"
}
