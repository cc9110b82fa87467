#!/usr/bin/env bash
# Fuzzes GIF_LoadImage for a bounded time, starting from the seeds the tests make.
#   run_gif_fuzzer.sh <seed maker> <fuzzer> <seconds> <folder for crashing inputs>
set -euo pipefail
seeder="$1" fuzzer="$2" seconds="$3" findings="$4"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$findings"
"$seeder" "$work/seeds"

# Inputs that crash, leak or hang are kept in $findings for replaying: "$fuzzer" <file>.
"$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$findings/" -print_final_stats=1 "$work/corpus" "$work/seeds"
