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

# Leaks that belong to SDL's D-Bus connection and Mesa are not ours; every other one fails a test.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan_suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:suppressions=$PWD/tests/tsan_suppressions.txt"

source scripts/with-display.sh
start_virtual_display
export LIBGL_ALWAYS_SOFTWARE=1

ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"
