#!/usr/bin/env bash
# Entry-wise installs of the ~1 GiB benchmark content (bench/make_content.py) from nginx on
# loopback, each figure beside its pair from the same run:
#   first install            vs  curl -o + unzip -q               (target: at most 0.5 of it)
#   first install at 40 MB/s vs  curl -o alone at that rate       (target: at most 1.1 x)
#   update, ~2 % of bytes changed: bytes sent vs the changed entries' compressed size + 1 % of
#     the archive; time vs the first install                      (target: at most 0.05)
#   the commit of the first install (every entry put in place), from the run log
#   peak disk during the update vs installed game + changed entries
#   peak disk use vs archive + unpacked size; peak memory         (target: under 64 MiB)
# and with 4 connections (contentTransferConnections), the same run:
#   first install, time until the game starts vs curl -o alone    (target: at most 1.2 x)
#   2 % update vs curl -o alone                                    (target: at most 0.06)
#   first install with nginx limit_rate 10m per connection vs curl -o at that limit
#                                                                  (target: at most 0.3)
#   peak memory                                                    (target: at most 64 MiB)
# Everything lives in one work folder (BENCH_DIR, default /tmp), removed at the end.
#   bench/entry_wise_benchmark.sh [build dir, default build]
set -euo pipefail
source "$(dirname "$0")/nginx_setup.sh"
use_bench_program entry_wise_install_benchmark "${1:-build}"
open_work_folder entry-wise-bench
make_content_archive
# The update: ~2 % of the bytes rewritten, those entries replaced in a copy of the archive.
python3 - "$work/content" "$work/changed.txt" <<'PY'
import os, random, sys
root, listing = sys.argv[1], sys.argv[2]
files = sorted(os.path.relpath(os.path.join(d, n), root)
               for d, _, names in os.walk(root) for n in names if n.endswith(".dat"))
total = sum(os.path.getsize(os.path.join(root, f)) for f in files)
rng = random.Random(11)
rng.shuffle(files)
changed, size = [], 0
for f in files:
    if size >= total * 0.02:
        break
    path = os.path.join(root, f)
    length = os.path.getsize(path)
    if length > total * 0.005:
        continue  # many files, not one big one
    with open(path, "wb") as out:
        out.write(os.urandom(length))
    changed.append(f)
    size += length
open(listing, "w").write("\n".join(changed) + "\n")
print(f"update: {len(changed)} files changed, {size / 2**20:.1f} MiB of {total / 2**20:.0f} MiB")
PY
cp "$work/www/Content.zip" "$work/www/Update.zip"
(cd "$work/content" && zip -q "$work/www/Update.zip" -@ < "$work/changed.txt")
unpacked_kib="$(du -sk "$work/content" | cut -f1)"
rm -rf "$work/content"
archive_bytes="$(stat -c %s "$work/www/Content.zip")"
echo "archive: $((archive_bytes / 1048576)) MiB, $(unzip -Z1 "$work/www/Content.zip" | wc -l) entries, unpacked $((unpacked_kib / 1024)) MiB"

start_nginx "log_format sent '\$uri \$body_bytes_sent'; access_log $work/access.log sent;" \
    "location /slow/ { alias $work/www/; limit_rate 40000000; }
     location /capped/ { alias $work/www/; limit_rate 10m; }"

# Body bytes nginx sent for a path so far.
sent_for() { awk -v p="$1" '$1 == p { s += $2 } END { print s + 0 }' "$work/access.log"; }

# Largest size in KiB that folder reached while pid ran.
watch_disk() {
    local folder="$1" peak=0 now
    while [ ! -f "$work/done" ]; do
        # Files come and go under du's feet: take its total, whatever else it says.
        now="$(du -sk "$folder" 2>/dev/null | cut -f1 | head -n1 || true)"
        [ "${now:-0}" -gt "$peak" ] && peak="$now"
        sleep 0.2
    done
    echo "$peak" > "$work/disk.txt"
}

stop_game() {
    local pid; pid="$(cat "$1/game.pid" 2>/dev/null || true)"
    for _ in $(seq 50); do [ -n "$pid" ] && break; sleep 0.1; pid="$(cat "$1/game.pid" 2>/dev/null || true)"; done
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
}

# entry_wise <url path> <folder> [connections]: one install, its seconds (to_game: until the
# game started), peak memory and peak disk.
entry_wise() {
    rm -f "$work/done"
    watch_disk "$2" & local watcher=$!
    read -r seconds kib _ < <(measure "$program" "$base$1" "$2" Content.zip Game.app "${3:-1}")
    to_game="$(grep -o 'seconds_to_game=[0-9.]*' "$work/stderr.txt" | cut -d= -f2)"
    touch "$work/done"; wait "$watcher"
    disk_kib="$(cat "$work/disk.txt")"
    memory_mib=$((kib / 1024))
    stop_game "$2"
}

echo "== load: $(cut -d' ' -f1-3 /proc/loadavg)"
mkdir -p "$work/ours"
entry_wise /Content.zip "$work/ours"
first_seconds="$seconds"
first_to_game="$to_game"
echo "first install:      $seconds s, $memory_mib MiB peak memory, $((disk_kib / 1024)) MiB peak disk"
echo "  one connection, until the game starts: $first_to_game s"
commit_line() { grep -oE '(Update|First install) put in place in .*' "$work/ours/out.log" | tail -n1; }
echo "  commit of the whole release: $(commit_line)"
mkdir -p "$work/pair"
read -r s1 k1 _ < <(measure curl -s -o "$work/pair/Content.zip" "$base/Content.zip")
read -r s2 k2 _ < <(measure unzip -q -o "$work/pair/Content.zip" -d "$work/pair")
pair_disk="$(du -sk "$work/pair" | cut -f1)"
rm -rf "$work/pair"
pair_seconds="$(echo "$s1 + $s2" | bc)"
echo "  pair curl + unzip: $pair_seconds s (curl $s1 s, unzip $s2 s), $((pair_disk / 1024)) MiB disk; ratio $(echo "scale=2; $first_seconds / $pair_seconds" | bc) (target <= 0.5)"

installed_kib="$(du -sk "$work/ours" | cut -f1)"
before="$(sent_for /Update.zip)"
entry_wise /Update.zip "$work/ours"
update_sent=$(( $(sent_for /Update.zip) - before ))
changed_compressed="$(python3 - "$work/www/Update.zip" "$work/changed.txt" <<'PY'
import sys, zipfile
names = set("Game.app/" + line.strip() if not line.startswith("Game.app/") else line.strip()
            for line in open(sys.argv[2]) if line.strip())
print(sum(i.compress_size for i in zipfile.ZipFile(sys.argv[1]).infolist() if i.filename in names))
PY
)"
allowed=$(( changed_compressed + archive_bytes / 100 ))
echo "update (~2 %):      $seconds s, $memory_mib MiB peak memory; sent $((update_sent / 1024)) KiB vs changed compressed $((changed_compressed / 1024)) KiB + 1 % = $((allowed / 1024)) KiB"
echo "  time vs first install: $(echo "scale=3; $seconds / $first_seconds" | bc) (target <= 0.05)"
echo "  commit of the update: $(commit_line)"
changed_unpacked="$(python3 - "$work/www/Update.zip" "$work/changed.txt" <<'PY'
import sys, zipfile
names = set("Game.app/" + line.strip() if not line.startswith("Game.app/") else line.strip()
            for line in open(sys.argv[2]) if line.strip())
print(sum(i.file_size for i in zipfile.ZipFile(sys.argv[1]).infolist() if i.filename in names))
PY
)"
echo "  peak disk during the update: $((disk_kib / 1024)) MiB vs installed game $((installed_kib / 1024)) MiB + changed entries $((changed_unpacked / 1048576)) MiB = $(( (installed_kib + changed_unpacked / 1024) / 1024 )) MiB"

rm -rf "$work/ours" && mkdir -p "$work/ours"
entry_wise /slow/Content.zip "$work/ours"
slow_seconds="$seconds"
rm -rf "$work/ours"
read -r s3 _ < <(measure curl -s -o "$work/slow.zip" "$base/slow/Content.zip")
rm -f "$work/slow.zip"
echo "first at 40 MB/s:   $slow_seconds s, $memory_mib MiB peak memory; curl -o alone $s3 s; ratio $(echo "scale=2; $slow_seconds / $s3" | bc) (target <= 1.1)"

ratio() { echo "scale=3; $1 / $2" | bc | sed 's/^\./0./'; }
echo "== 4 connections; load: $(cut -d' ' -f1-3 /proc/loadavg)"
mkdir -p "$work/ours"
entry_wise /Content.zip "$work/ours" 4
echo "first install, 4 connections: $to_game s until the game starts, $seconds s in all, $memory_mib MiB peak memory; curl -o alone $s1 s; one connection $first_to_game s"
echo "time to play vs curl -o: $(ratio "$to_game" "$s1")"
echo "peak memory, 4 connections: $memory_mib MiB (target <= 64)"
entry_wise /Update.zip "$work/ours" 4
echo "update (~2 %), 4 connections: $seconds s; curl -o alone $s1 s"
echo "2 % update vs curl -o: $(ratio "$seconds" "$s1")"
rm -rf "$work/ours" && mkdir -p "$work/ours"
entry_wise /capped/Content.zip "$work/ours" 4
capped_seconds="$seconds"
rm -rf "$work/ours"
read -r s4 _ < <(measure curl -s -o "$work/capped.zip" "$base/capped/Content.zip")
rm -f "$work/capped.zip"
echo "first at 10 MB/s per connection, 4 connections: $capped_seconds s ($to_game s until the game starts); curl -o at that limit $s4 s"
echo "capped, 4 connections vs curl -o capped: $(ratio "$capped_seconds" "$s4")"
echo "== load: $(cut -d' ' -f1-3 /proc/loadavg)"
