#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh             the normal build (build/)
#   scripts/test.sh asan|ubsan|tsan   the same tests under a sanitizer (build-<name>/)
set -euo pipefail
cd "$(dirname "$0")/.."

preset="${1:-default}"
scripts/install-deps.sh

cmake --preset "$preset" >/dev/null
build_dir="build"
[ "$preset" = "default" ] || build_dir="build-$preset"
cmake --build "$build_dir" -j"$(nproc)"

source scripts/with-display.sh
start_virtual_display
export LIBGL_ALWAYS_SOFTWARE=1

ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"
