#!/usr/bin/env bash
# Installs what is missing, builds the launcher bundle and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build build -j"$(nproc)" --target launcher
source scripts/with-display.sh
start_virtual_display
echo "demo: starting build/Launcher.app"
status=0
build/Launcher.app/Contents/MacOS/launcher || status=$?
echo "demo: the launcher ended with status $status (its run log: \$XDG_DATA_HOME or ~/.local/share, Quillmere/Driftmoor/out.log)"
