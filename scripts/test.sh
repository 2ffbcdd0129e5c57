#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in the normal
# build, then the whole suite again built with AddressSanitizer,
# LeakSanitizer and UndefinedBehaviorSanitizer (preset `sanitize`).
source "$(dirname "$0")/common.sh"

ensure_packages "${BASE_PACKAGES[@]}" valgrind
server_tests_opted_out || ensure_packages "${SERVER_PACKAGES[@]}"
build
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"

cd "$PROJECT_ROOT"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j "$(nproc)"
ctest --preset sanitize -j "$(nproc)"
