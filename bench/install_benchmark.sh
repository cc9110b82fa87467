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
cd "$(dirname "$0")/.."
build_dir="${1:-build}"
program="$build_dir/bench/install_benchmark"
[ -x "$program" ] || { echo "build $program first (cmake --build $build_dir --target install_benchmark)"; exit 1; }

work="$(mktemp -d "${BENCH_DIR:-/tmp}/install-bench.XXXXXX")"
chmod 755 "$work" # nginx workers run as an unprivileged user
nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

echo "== making the content in $work"
python3 bench/make_content.py "$work/content"
mkdir -p "$work/www"
(cd "$work/content" && zip -q -r "$work/www/Content.zip" Game.app)
rm -rf "$work/content"
echo "archive: $(du -m "$work/www/Content.zip" | cut -f1) MiB, $(unzip -Z1 "$work/www/Content.zip" | wc -l) entries"

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
cat > "$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $work/tmp;
    proxy_temp_path $work/tmp;
    fastcgi_temp_path $work/tmp;
    uwsgi_temp_path $work/tmp;
    scgi_temp_path $work/tmp;
    server {
        listen 127.0.0.1:$port;
        root $work/www;
    }
}
CONF
mkdir -p "$work/tmp"
/usr/sbin/nginx -c "$work/nginx.conf" -p "$work" -g 'daemon off;' &
nginx_pid=$!
url="http://127.0.0.1:$port/Content.zip"
for _ in $(seq 50); do curl -fsI "$url" >/dev/null 2>&1 && break; sleep 0.1; done

# Wall seconds and peak KiB of one command, from GNU time.
measure() {
    /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || {
        cat "$work/stderr.txt"; return 1; }
    cat "$work/time.txt"
}

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
