#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
source "$(dirname "$0")/common.sh"

ensure_packages "${BASE_PACKAGES[@]}"
server_tests_opted_out || ensure_packages "${SERVER_PACKAGES[@]}"
build
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
