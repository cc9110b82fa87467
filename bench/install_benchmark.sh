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
python3 - "$work/content" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(7)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(5000)]
text = b" ".join(rng.choice(words) for _ in range(1_000_000))  # ~6 MB of word soup
def body(size):
    # Game data mixes what compresses (text, tables) with what does not (textures, audio).
    if rng.random() < 0.55:
        return os.urandom(size)
    start = rng.randrange(0, len(text) - 1)
    out = bytearray()
    while len(out) < size:
        out += text[start:start + size - len(out)]
        start = 0
    return bytes(out)
total = 0
count = 0
while total < 1_400_000_000:
    kind = rng.random()
    if kind < 0.79:
        size = rng.randint(512, 64 * 1024)
    elif kind < 0.99:
        size = rng.randint(64 * 1024, 2 * 1024 * 1024)
    else:
        size = rng.randint(8 * 1024 * 1024, 48 * 1024 * 1024)
    path = os.path.join(root, "Game.app/Contents/Resources", f"pack{count % 40:02d}", f"asset{count:05d}.dat")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(body(size))
    total += size
    count += 1
macos = os.path.join(root, "Game.app/Contents/MacOS")
os.makedirs(macos, exist_ok=True)
with open(os.path.join(macos, "Game"), "w") as f:
    f.write('#!/bin/sh\necho $$ > "$(dirname "$0")/../../../game.pid"\nexec sleep 30\n')
os.chmod(os.path.join(macos, "Game"), 0o755)
print(f"{count + 1} files, {total / 2**20:.0f} MiB")
PY
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
