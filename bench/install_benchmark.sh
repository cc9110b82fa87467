#!/usr/bin/env bash
# Installs a ~1 GiB content archive (a few thousand files of mixed sizes, Deflate) served by
# nginx on loopback, twice each way, and compares:
#   ours: install_benchmark (performToFileCurlAndExecute: download, unpack, delete, start)
#   checked: the same with the archive's SHA-256 checked while it arrives, as a launcher with
#         releaseSigningPublicKey installs (target: at most 5 % slower than ours)
#   pair: curl -o, then Info-ZIP unzip -q, of the same archive
# Prints wall time and peak resident memory of each run. Everything it makes lives in one work
# folder (BENCH_DIR, default /tmp) and is removed at the end, nginx included.
#   bench/install_benchmark.sh [build dir, default build]
set -euo pipefail
source "$(dirname "$0")/nginx_setup.sh"
use_bench_program install_benchmark "${1:-build}"
open_work_folder install-bench
make_content_archive
rm -rf "$work/content"
echo "archive: $(du -m "$work/www/Content.zip" | cut -f1) MiB, $(unzip -Z1 "$work/www/Content.zip" | wc -l) entries"

start_nginx "access_log off;" ""
url="$base/Content.zip"

# install_with <label> [sha256]: one install by install_benchmark; prints and returns its seconds.
install_with() {
    local label="$1"; shift
    rm -rf "$work/ours" && mkdir -p "$work/ours"
    local user system
    read -r seconds kib user system < <(measure "$program" "$url" "$work/ours" Content.zip Game.app "$@")
    local pid; pid="$(cat "$work/ours/game.pid" 2>/dev/null || true)"
    for _ in $(seq 50); do [ -n "$pid" ] && break; sleep 0.1; pid="$(cat "$work/ours/game.pid" 2>/dev/null || true)"; done
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    # CPU time tells the check's own cost apart from a busy machine's waiting.
    cpu="$(echo "$user + $system" | bc)"
    echo "$label $seconds s  (CPU $cpu s)  $((kib / 1024)) MiB peak"
}

run_ours() {
    install_with "ours   "
    ours_total="$(echo "${ours_total:-0} + $seconds" | bc)"
    ours_cpu="$(echo "${ours_cpu:-0} + $cpu" | bc)"
}

run_checked() {
    install_with "checked" "$archive_sha256"
    checked_total="$(echo "${checked_total:-0} + $seconds" | bc)"
    checked_cpu="$(echo "${checked_cpu:-0} + $cpu" | bc)"
}

run_pair() {
    rm -rf "$work/pair" && mkdir -p "$work/pair"
    read -r s1 k1 _ _ < <(measure curl -s -o "$work/pair/Content.zip" "$url")
    read -r s2 k2 _ _ < <(measure unzip -q -o "$work/pair/Content.zip" -d "$work/pair")
    rm -f "$work/pair/Content.zip"
    local peak=$(( k1 > k2 ? k1 : k2 ))
    echo "pair  $(echo "$s1 + $s2" | bc) s  (curl $s1 s, unzip $s2 s)  $((peak / 1024)) MiB peak"
    pair_total="$(echo "${pair_total:-0} + $s1 + $s2" | bc)"
}

archive_sha256="$(sha256sum "$work/www/Content.zip" | cut -c1-64)"
echo "== installing from $url (load: $(cut -d' ' -f1-3 /proc/loadavg))"
for round in 1 2 3; do
    run_ours
    run_checked
    run_pair
done
rm -rf "$work/ours" "$work/pair"
echo "== total ours ${ours_total} s, pair ${pair_total} s, ratio $(echo "scale=2; $ours_total / $pair_total" | bc)"
echo "== with the archive check: checked ${checked_total} s, ours ${ours_total} s, ratio $(echo "scale=3; $checked_total / $ours_total" | bc); CPU checked ${checked_cpu} s, ours ${ours_cpu} s, ratio $(echo "scale=3; $checked_cpu / $ours_cpu" | bc) (load: $(cut -d' ' -f1-3 /proc/loadavg))"
