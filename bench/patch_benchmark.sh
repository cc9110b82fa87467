#!/usr/bin/env bash
# Release patches for a 1 GiB incompressible packed file (as compressed game assets are), 1 % of
# it rewritten in one run and 25 bytes inserted near the start, each figure beside its pair from
# the same run:
#   the patch entry (what an update that applies it fetches for the file) against the file's
#     size (target at most 1.5 %), against the whole entry an update fetches today, and against
#     `zstd --patch-from` at the same level on the same pair (the anchor)
#   pack --patch-from: wall time (target at most 2 minutes) and peak memory (resident, which
#     counts the pages of the two mapped files, and anonymous), beside zstd --patch-from's
#   applying the patch against the installed file into a staging file, hashed: time against cp
#     of the new file (target at most 2 x) and against hashing the new file alone (openssl dgst
#     -sha256: the result must be hashed, so that is the floor), peak anonymous memory (RssAnon,
#     target at most 64 MiB)
#   a real launcher update from nginx on loopback (bench/entry_wise_install_benchmark, release 1
#     installed entry-wise first): the body bytes nginx sent for the whole update, counted in its
#     access log, against the file's size (target at most 1.5 %), against the same update of the
#     release packed without patches (the whole entry) and against `zstd --patch-from`; its wall
#     time against that update's (target at most 0.6; the median of three rounds, each round's
#     pair printed), with where each update's time went, from their run-log lines
# Everything lives in one work folder (BENCH_DIR, default /tmp, about 8 GiB), removed at the end.
#   bench/patch_benchmark.sh [build dir, default build]
set -euo pipefail
source "$(dirname "$0")/nginx_setup.sh"
use_bench_program patch_apply_benchmark "${1:-build}"
updater="${1:-build}/bench/entry_wise_install_benchmark"
[ -x "$updater" ] || { echo "build $updater first"; exit 1; }
publish="${1:-build}/launcher-publish"
[ -x "$publish" ] || { echo "build $publish first"; exit 1; }
open_work_folder patch-bench
level=3 # the level launcher-publish makes its patches at (tools/publish/patch_maker.h)

echo "== making the two releases' bundles in $work"
python3 - "$work" <<'PY'
import os, sys
work, size, chunk = sys.argv[1], 1 << 30, 16 << 20
def bundle(version):
    contents = f"{work}/v{version}/Game.app/Contents"
    os.makedirs(f"{contents}/MacOS")
    os.makedirs(f"{contents}/Resources")
    with open(f"{contents}/MacOS/Game", "w") as f:
        # Still running when the launcher checks that it started: a game gone at once counts as
        # one that failed to start, and the update as failed.
        f.write("#!/bin/sh\nsleep 2\n")
    os.chmod(f"{contents}/MacOS/Game", 0o755)
    return f"{contents}/Resources/levels.pak"
old, new = bundle(1), bundle(2)
with open(old, "wb") as f:
    for _ in range(size // chunk):
        f.write(os.urandom(chunk))
run_start, run_end = size * 6 // 10, size * 6 // 10 + size // 100
with open(old, "rb") as a, open(new, "wb") as b:
    b.write(a.read(4096))
    b.write(b"25 bytes inserted here...")
    at = 4096
    while data := a.read(chunk):
        low, high = max(at, run_start), min(at + len(data), run_end)
        if low < high:
            data = data[:low - at] + os.urandom(high - low) + data[high - at:]
        b.write(data)
        at += len(data)
PY
old="$work/v1/Game.app/Contents/Resources/levels.pak"
new="$work/v2/Game.app/Contents/Resources/levels.pak"
file_bytes="$(stat -c %s "$new")"

# sampled <command> [args...]: runs it with its output in $work/out.txt; prints its wall seconds,
# peak resident KiB and peak RssAnon KiB, sampled every 20 ms.
sampled() {
    local start pid anon=0 hwm=0 now
    start="$(date +%s.%N)"
    "$@" > "$work/out.txt" 2> "$work/stderr.txt" &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        now="$(awk '/^RssAnon:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)"
        [ "${now:-0}" -gt "$anon" ] && anon="$now"
        now="$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)"
        [ "${now:-0}" -gt "$hwm" ] && hwm="$now"
        sleep 0.02
    done
    wait "$pid" || { cat "$work/stderr.txt"; return 1; }
    echo "$(echo "$(date +%s.%N) - $start" | bc) $hwm $anon"
}
mib() { echo "$(( $1 / 1024 ))"; }
percent() { echo "scale=2; 100 * $1 / $2" | bc; }

echo "== load: $(cut -d' ' -f1-3 /proc/loadavg)"
read -r s _ < <(measure "$publish" pack "$work/v1/Game.app" --output "$work/v1.zip")
echo "pack of the older release (no patches): $s s"
read -r pack_seconds pack_hwm pack_anon < <(sampled "$publish" pack "$work/v2/Game.app" \
    --output "$work/v2.zip" --patch-from "$work/v1.zip")
sed 's/^/  /' "$work/out.txt"
read -r zstd_seconds zstd_kib _ < <(measure zstd -q -f "-$level" --patch-from "$old" "$new" \
    -o "$work/anchor.zst")
anchor_bytes="$(stat -c %s "$work/anchor.zst")"
rm -f "$work/anchor.zst"

# The patch entry's and the file's entry's sizes, and the patch's span in the archive (local
# header and data: what a range request for it fetches).
read -r patch_bytes patch_span whole_bytes < <(python3 - "$work/v2.zip" <<'PY'
import sys, zipfile
entries = sorted(zipfile.ZipFile(sys.argv[1]).infolist(), key=lambda i: i.header_offset)
patch = next(i for i in entries if i.filename.startswith(".launcher-patches/"))
after = entries[entries.index(patch) + 1].header_offset
whole = next(i for i in entries if i.filename.endswith("/levels.pak"))
print(patch.compress_size, after - patch.header_offset, whole.compress_size)
PY
)
echo "file: $file_bytes bytes, 1 % rewritten in one run, 25 bytes inserted at 4096"
echo "patch entry: $patch_bytes bytes ($patch_span with its header), $(percent "$patch_span" "$file_bytes") % of the file (target <= 1.5 %)"
echo "  whole entry, what an update fetches today: $whole_bytes bytes; the patch is $(percent "$patch_span" "$whole_bytes") % of it"
echo "  zstd -$level --patch-from on the same pair: $anchor_bytes bytes; the patch is $(percent "$patch_bytes" "$anchor_bytes") % of it"
echo "pack --patch-from: $(printf %.1f "$pack_seconds") s (target <= 120 s), peak resident $(mib "$pack_hwm") MiB (mapped files included), peak RssAnon $(mib "$pack_anon") MiB"
echo "  zstd -$level --patch-from alone: $zstd_seconds s, peak resident $(mib "$zstd_kib") MiB"

# The player's installed release 1 and the staged result; cp writes the same file once.
for run in 0 1 2 3; do
    read -r cp_seconds _ < <(measure cp "$new" "$work/copied.pak")
    read -r hash_seconds _ < <(measure openssl dgst -sha256 "$new")
    "$program" "$work/v2.zip" "$work/v1" Game.app/Contents/Resources/levels.pak \
        "$work/staged.pak" > "$work/apply.txt"
    apply_seconds="$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' "$work/apply.txt")"
    apply_anon="$(sed -n 's/.*peak_rss_anon_kib=\([0-9]*\).*/\1/p' "$work/apply.txt")"
    cmp -s "$work/staged.pak" "$new" || { echo "the staged file differs from the new one"; exit 1; }
    rm -f "$work/copied.pak" "$work/staged.pak"
    [ "$run" = 0 ] && continue # the first pair warms the page cache
    echo "apply, run $run: $apply_seconds s vs cp $cp_seconds s, ratio $(echo "scale=2; $apply_seconds / $cp_seconds" | bc) (target <= 2); hashing the file alone $hash_seconds s; peak RssAnon $apply_anon KiB (target <= 65536)"
done

# The launcher's updates against nginx: two players with release 1 installed entry-wise, one
# updated to release 2 with its patch, the other to release 2 packed without patches.
mkdir -p "$work/www"
mv "$work/v1.zip" "$work/v2.zip" "$work/www/"
"$publish" pack "$work/v2/Game.app" --output "$work/www/v2-plain.zip" > /dev/null
rm -rf "$work/v1"
start_nginx "log_format sent '\$uri \$body_bytes_sent'; access_log $work/access.log sent;" ""
# Whole numbers past 2^31 as they are (mawk's %d stops there).
sent_in_all() { awk '{ s += $2 } END { printf "%.0f\n", s }' "$work/access.log"; }
# update <player folder> <archive>: runs the launcher's entry-wise install; prints the bytes
# nginx sent for it and its seconds.
update() {
    local before; before="$(sent_in_all)"
    "$updater" "$base/$2" "$1" Game.zip Game.app 2> "$work/update.txt" > /dev/null || {
        cat "$work/update.txt"; return 1; }
    sleep 1 # nginx logs a request once it has closed it, which may be just after the client ends
    echo "$(( $(sent_in_all) - before )) $(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' "$work/update.txt")"
}
# commit_times <player folder>: the sync (staged files and journal made durable) and the moves of
# the last update's commit, from its run-log line.
commit_times() {
    sed -n 's/.*Update put in place in .* in \([0-9.]*\) s after \([0-9.]*\) s making the staged files and the journal durable$/\2 \1/p' \
        "$1/out.log" | tail -n1
}
# patch_times <player folder>: the last patched entry's phases, from its run-log line.
patch_times() {
    sed -n 's/.* patched in \([0-9.]*\) s (patch fetched in \([0-9.]*\) s, result reserved in \([0-9.]*\) s, made in \([0-9.]*\) s, hashed \([0-9.]*\) s after)$/\2 \3 \4 \5 \1/p' \
        "$1/out.log" | tail -n1
}
# figure <awk expression>: its value with two decimals (a missing figure counts as 0).
figure() { awk "BEGIN { printf \"%.2f\", $1 }"; }
# fresh_player <folder>: release 1 installed into it by the launcher; prints the bytes and seconds.
# Installed, not copied: a copy's files have other inodes, and the launcher hashes files it does
# not recognise again before planning, which would burden one of the two updates alone.
fresh_player() {
    rm -rf "$1" && mkdir -p "$1"
    update "$1" v1.zip
}
# check_updated <player folder>: its file is the new one, byte for byte.
check_updated() {
    cmp -s "$1/Game.app/Contents/Resources/levels.pak" "$new" || {
        echo "the file updated in $1 differs from the new one"; exit 1; }
}
# Memory this machine has not touched for a while costs a lot to touch again (here 4 GiB took from
# 3.4 to 9.5 s, one run after another): this virtual machine hands the memory freed to its host
# within about two seconds, and either update makes a 1 GiB file's pages. So each update starts
# after the same pause, neither inheriting the memory the other just freed; and there are three
# rounds, each with two players freshly installed and the order of the two updates turned in the
# middle one. The ratio is the median of the rounds' own ratios.
settled_update() {
    sync
    sleep 3
    update "$@"
}
ratios=()
for round in 1 2 3; do
    read -r first_sent first_seconds < <(fresh_player "$work/player")
    [ "$round" = 1 ] && echo "first install of release 1: $first_sent bytes sent, $first_seconds s"
    fresh_player "$work/player-plain" > /dev/null
    if [ "$round" = 2 ]; then
        read -r plain_sent plain_seconds < <(settled_update "$work/player-plain" v2-plain.zip)
        read -r patched_sent patched_seconds < <(settled_update "$work/player" v2.zip)
    else
        read -r patched_sent patched_seconds < <(settled_update "$work/player" v2.zip)
        read -r plain_sent plain_seconds < <(settled_update "$work/player-plain" v2-plain.zip)
    fi
    check_updated "$work/player"
    check_updated "$work/player-plain"
    read -r patch_fetch patch_reserve patch_make patch_hash patch_all < <(patch_times "$work/player") ||
        true # no such line: the file came whole
    read -r patched_sync patched_move < <(commit_times "$work/player") || true
    read -r plain_sync plain_move < <(commit_times "$work/player-plain") || true
    if [ "$round" = 1 ]; then
        grep -o 'fetching [0-9]* of .*' "$work/player/out.log" | tail -n1 | sed 's/^/  plan: /'
        echo "update by the launcher, counted at nginx: $patched_sent bytes, $(percent "$patched_sent" "$file_bytes") % of the file (target <= 1.5 %), $patched_seconds s"
        echo "  the same update without patches (whole entry): $plain_sent bytes, $plain_seconds s; the patched update moves $(percent "$patched_sent" "$plain_sent") % of it"
        echo "  zstd -$level --patch-from on the same pair: $anchor_bytes bytes; the update moves $(percent "$patched_sent" "$anchor_bytes") % of it"
    fi
    ratio="$(figure "$patched_seconds / $plain_seconds")"
    ratios+=("$ratio")
    echo "round $round ($([ "$round" = 2 ] && echo "whole entry first" || echo "patched first")): patched $patched_seconds s vs whole entry $plain_seconds s, ratio $ratio"
    echo "  patched update, $patched_seconds s: patch fetched ${patch_fetch:-?} s, result reserved ${patch_reserve:-?} s, made ${patch_make:-?} s, hashed ${patch_hash:-?} s after, staged in all ${patch_all:-?} s; sync ${patched_sync:-?} s, commit ${patched_move:-?} s; planning and the rest $(figure "$patched_seconds - 0${patch_all:-} - 0${patched_sync:-} - 0${patched_move:-}") s"
    echo "  whole-entry update, $plain_seconds s: fetched, hashed and staged $(figure "$plain_seconds - 0${plain_sync:-} - 0${plain_move:-}") s (planning included); sync ${plain_sync:-?} s, commit ${plain_move:-?} s"
done
echo "patched vs whole-entry update: $(printf '%s\n' "${ratios[@]}" | sort -n | sed -n 2p)"
echo "== load: $(cut -d' ' -f1-3 /proc/loadavg)"
