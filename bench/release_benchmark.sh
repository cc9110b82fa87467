#!/usr/bin/env bash
# launcher-publish release on the benchmark content (bench/make_content.py: ~1.4 GB of files,
# ~1 GiB packed), each figure beside its pair from the same run:
#   release of the newest of four versions (each ~2 % of its files changed from the one before,
#     a few big files by a slice only, so that they get patches) with patches from one older
#     release, and from three, against pack alone of the same bundle (no patches)
#   what release prints that players will fetch: new players, players of each older release
# The release is signed and checked as a studio would run it (lint, verify of every archive).
# Everything lives in one work folder (BENCH_DIR, default /tmp, about 8 GiB), removed at the end.
#   bench/release_benchmark.sh [build dir, default build]
set -euo pipefail
source "$(dirname "$0")/nginx_setup.sh"
publish="${1:-build}/launcher-publish"
[ -x "$publish" ] || { echo "build $publish first"; exit 1; }
bundle="${1:-build}/Launcher.app"
[ -d "$bundle" ] || { echo "build $bundle first"; exit 1; }
cd "$(dirname "$0")/.."
open_work_folder release-bench
echo "== making the content in $work"
python3 bench/make_content.py "$work/content"

# next_version <n>: ~2 % of the files' bytes rewritten, seeded by n; a file of 1 MiB or more only
# has a slice rewritten in its middle, as a changed level pack would.
next_version() {
    python3 - "$work/content" "$1" <<'PY'
import os, random, sys
root, seed = sys.argv[1], int(sys.argv[2])
files = sorted(os.path.join(d, n) for d, _, names in os.walk(root) for n in names
               if n.endswith(".dat"))
total = sum(os.path.getsize(f) for f in files)
rng = random.Random(seed)
rng.shuffle(files)
size = 0
for path in files:
    if size >= total * 0.02:
        break
    length = os.path.getsize(path)
    if length >= 1 << 20:
        with open(path, "r+b") as f:
            f.seek(length // 2)
            f.write(os.urandom(length // 100))
    else:
        with open(path, "wb") as f:
            f.write(os.urandom(length))
    size += length
PY
}

"$publish" keygen --output "$work/release.pem" > "$work/key.txt"
"$publish" launcher --bundle "$bundle" --output-folder "$work/studio" --name Game \
    --endpoint http://127.0.0.1:9/LatestVersion.ini --company Bench --app-folder Game \
    --launcher-version 1.0 --public-key "$(head -n1 "$work/key.txt")" > /dev/null
# describe <version> <older archive>...: the release description of version.
describe() {
    local version="$1"; shift
    {
        printf '[game]\nname = Game\nversion = %s\nprefix =\nbundle = content/Game.app\n' "$version"
        printf '[server]\nbase_url = http://127.0.0.1:9/\n'
        printf '[signing]\nkey = release.pem\nexpires_in = 7d\nserial = 1\n'
        printf '[launcher]\nversion = 1.0\ninstaller = studio/Game.zip\n'
        printf '[release]\noutput = out/%s-%s\n[patches]\n' "$version" "$#"
        for older in "$@"; do printf 'from = %s\n' "$older"; done
    } > "$work/release.ini"
}
for n in 1 2 3; do
    "$publish" pack "$work/content/Game.app" --output "$work/older-$n.zip" > /dev/null
    next_version "$n"
done
echo "== load: $(cut -d' ' -f1-3 /proc/loadavg)"
read -r pack_seconds pack_kib _ < <(measure "$publish" pack "$work/content/Game.app" \
    --output "$work/plain.zip")
echo "pack alone (no patches): $pack_seconds s, peak $((pack_kib / 1024)) MiB, $(stat -c %s "$work/plain.zip") bytes"
for olders in "older-3.zip" "older-1.zip older-2.zip older-3.zip"; do
    # shellcheck disable=SC2086 # the list is meant to split
    describe 4 $olders
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$publish" release "$work/release.ini" \
        > "$work/release.txt" 2> /dev/null || { cat "$work/release.txt"; exit 1; }
    read -r seconds kib < "$work/time.txt"
    count="$(wc -w <<< "$olders")"
    echo "release with patches from $count older release(s): $seconds s, peak $((kib / 1024)) MiB; pack alone $pack_seconds s, ratio $(awk "BEGIN { printf \"%.2f\", $seconds / $pack_seconds }")"
    sed -n '/^what players will fetch:/,/^release written/p' "$work/release.txt" | sed '$d' |
        sed 's/^/  /'
    rm -rf "$work/out"
done
echo "== load: $(cut -d' ' -f1-3 /proc/loadavg)"
