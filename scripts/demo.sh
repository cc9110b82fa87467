#!/usr/bin/env bash
# The launcher's main job, start to finish: installs what is missing, builds, then publishes
# releases of the sample game with launcher-publish into a folder that nginx serves on loopback,
# and runs a copy of the launcher bundle against it four times:
#   1. release 1.0 is out: the installer window shows the progress and the game 1.0 starts;
#   2. release 1.1 is out: the update installs and 1.1 starts;
#   3. nothing new, from a manifest server that answers late: the splash shows, then 1.1 starts;
#   4. "-u -s": the running game is stopped and the data folder is gone.
# Then it prints what each run did. Screenshots of what the player saw (the installer window
# about half way on the first install, the update's window, the game after each install, the splash while the manifest is late) stay in
# build/demo/ for anyone without a display. Everything happens under a temporary HOME, XDG_DATA_HOME and
# TMPDIR; the real display is used when there is one, Xvfb otherwise. Every process it started
# (nginx, the games, Xvfb) is stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build build -j"$(nproc)" --target launcher launcher-publish sample_game

# Not the name in the shipped config: uninstall mode stops programs by this name, and a demo on a
# shared machine must not stop anybody else's "Drift Moor".
readonly GAME_NAME="Drift Moor Demo"
GAME_SECONDS=4 # how long each game shows its window
readonly PUBLISH="$PWD/build/launcher-publish"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/launcher-demo.XXXXXX")"
readonly WORK
readonly RELEASES="$WORK/releases"
readonly BUNDLE="$WORK/Applications/$GAME_NAME.app"
readonly LAUNCHER="$BUNDLE/Contents/MacOS/launcher"
readonly DATA_FOLDER="$WORK/data/Quillmere/Driftmoor"
readonly GAME_RECORD="$WORK/game-starts.txt"
readonly SHOTS="$PWD/build/demo"
readonly ARCHIVE_RATE_BYTES=65536 # nginx holds archive transfers to this: the installer shows for seconds
readonly MANIFEST_DELAY=3 # seconds the late manifest server holds its answer
NGINX_PID=""
LATE_PID=""
LATE_PORT=""
PORT=""

# shellcheck source=scripts/with-display.sh
source scripts/with-display.sh

# The games run in sessions of their own and outlive the launcher: find them by where their
# executables lie.
stop_started_programs() {
    local exe target pid
    for exe in /proc/[0-9]*/exe; do
        target="$(readlink "$exe" 2>/dev/null)" || continue
        case "$target" in
        "$WORK"/*)
            pid="${exe#/proc/}"
            kill "${pid%/exe}" 2>/dev/null || true
            ;;
        esac
    done
}

stop_nginx() {
    if [ -n "$NGINX_PID" ]; then
        kill "$NGINX_PID" 2>/dev/null || true
        wait "$NGINX_PID" 2>/dev/null || true
        NGINX_PID=""
    fi
}

clean_up() {
    stop_started_programs
    stop_nginx
    if [ -n "$LATE_PID" ]; then
        kill "$LATE_PID" 2>/dev/null || true
        wait "$LATE_PID" 2>/dev/null || true
    fi
    stop_virtual_display
    rm -rf "$WORK"
}
trap clean_up EXIT

# One foreground process: started as root, nginx hands its workers to "nobody", who cannot read
# this private folder; without a master the invoking user serves it.
write_nginx_config() {
    mkdir -p "$WORK/nginx"
    cat >"$WORK/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
pid "$WORK/nginx/nginx.pid";
error_log "$WORK/nginx/error.log" warn;
events { worker_connections 64; }
http {
    types { application/zip zip; text/plain ini; }
    access_log "$WORK/nginx/access.log";
    client_body_temp_path "$WORK/nginx/client_body";
    proxy_temp_path "$WORK/nginx/proxy";
    fastcgi_temp_path "$WORK/nginx/fastcgi";
    uwsgi_temp_path "$WORK/nginx/uwsgi";
    scgi_temp_path "$WORK/nginx/scgi";
    server {
        listen 127.0.0.1:$1;
        root "$RELEASES";
        # slow enough for the installer window to be up for a few seconds, percentage climbing
        location ~ \.zip\$ { limit_rate ${ARCHIVE_RATE_BYTES}; }
    }
}
EOF
}

# Tries random high ports until nginx holds one.
start_nginx() {
    local attempt port
    for attempt in 1 2 3 4 5 6 7 8 9 10; do
        port=$((20000 + RANDOM % 40000))
        write_nginx_config "$port"
        /usr/sbin/nginx -p "$WORK/nginx/" -c "$WORK/nginx/nginx.conf" -e "$WORK/nginx/error.log" \
            </dev/null >/dev/null 2>&1 &
        NGINX_PID=$!
        for _ in $(seq 1 50); do
            if ! kill -0 "$NGINX_PID" 2>/dev/null; then
                break
            fi
            if curl -s -o /dev/null "http://127.0.0.1:$port/"; then
                PORT="$port"
                return 0
            fi
            sleep 0.1
        done
        stop_nginx
    done
    echo "demo: nginx did not start (attempt $attempt):" >&2
    cat "$WORK/nginx/error.log" >&2
    return 1
}

url() {
    echo "http://127.0.0.1:$PORT/$1"
}

# The same releases folder from a server that answers only after MANIFEST_DELAY seconds; nginx
# cannot hold an answer back, python3's http.server can. Sets LATE_PORT.
start_late_server() {
    scripts/late_manifest_server.py "$RELEASES" "$MANIFEST_DELAY" "$WORK/late.port" \
        </dev/null >/dev/null 2>&1 &
    LATE_PID=$!
    for _ in $(seq 1 50); do
        if [ -s "$WORK/late.port" ]; then
            LATE_PORT="$(cat "$WORK/late.port")"
            return 0
        fi
        sleep 0.1
    done
    echo "demo: the late manifest server did not start" >&2
    return 1
}

# The whole screen as the player sees it, into build/demo/<name>.png.
shoot() {
    import -window root "$SHOTS/$1.png" 2>/dev/null || true
}

# Waits (at most 20 s) for the installer window (a window of the installer's size), then for
# half the time the archive takes at the rate nginx holds it to, and takes a screenshot: the
# window then shows about half way.
shoot_installer_half_way() {
    local size="$1" name="$2" window_size="$3"
    for _ in $(seq 1 400); do
        if xwininfo -root -tree 2>/dev/null | grep -q " ${window_size}+"; then
            sleep "$(awk -v bytes="$size" -v rate="$ARCHIVE_RATE_BYTES" 'BEGIN { print bytes / rate / 2 }')"
            shoot "$name"
            return 0
        fi
        sleep 0.05
    done
}

# While the manifest is late: a screenshot once a window of the splash's size is up.
shoot_splash_if_shown() {
    local size="$1"
    for _ in $(seq 1 $((MANIFEST_DELAY * 20))); do
        if xwininfo -root -tree 2>/dev/null | grep -q " ${size}+"; then
            shoot splash
            return 0
        fi
        sleep 0.05
    done
}

# Waits a moment for the game's window to draw, then takes a screenshot of it.
shoot_game() {
    sleep 1.5
    shoot "$1"
}

# Sets the string value that follows <key>$1</key> in the plist file $3.
set_plist_string() {
    local key="$1" value="$2" file="$3"
    awk -v key="<key>$key</key>" -v value="$value" '
        pending { sub(/<string>.*<\/string>/, "<string>" value "</string>"); pending = 0 }
        index($0, key) { pending = 1 }
        { print }' "$file" >"$file.new"
    mv "$file.new" "$file"
}

plist_integer() {
    awk -v key="<key>$1</key>" '
        pending { sub(/.*<integer>/, ""); sub(/<\/integer>.*/, ""); print; exit }
        index($0, key) { pending = 1 }' "$2"
}

plist_string() {
    awk -v key="<key>$1</key>" '
        pending { sub(/.*<string>/, ""); sub(/<\/string>.*/, ""); print; exit }
        index($0, key) { pending = 1 }' "$2"
}

# Every release is signed with the demo's own key, and its launcher checks them.
publish_release() {
    local version="$1" launcher_version="$2"
    SERIAL=$((${SERIAL:-0} + 1))
    "$PUBLISH" bundle --executable build/sample_game --name "$GAME_NAME" --version "$version" \
        --output-folder "$WORK/staging/$version" >/dev/null
    "$PUBLISH" pack "$WORK/staging/$version/$GAME_NAME.app" \
        --output "$RELEASES/game-$version.zip" >/dev/null
    "$PUBLISH" manifest --application-version "$version" \
        --application-url "$(url "game-$version.zip")" --executable-prefix "" \
        --launcher-version "$launcher_version" --launcher-url "$(url launcher.zip)" \
        --application-archive "$RELEASES/game-$version.zip" \
        --launcher-archive "$RELEASES/launcher.zip" --serial "$SERIAL" \
        --sign-with "$WORK/release.pem" --output "$RELEASES/LatestVersion.ini" >/dev/null
    "$PUBLISH" lint "$(url LatestVersion.ini)" >/dev/null
    "$PUBLISH" verify --public-key "$PUBLIC_KEY" "$RELEASES/LatestVersion.ini" \
        "$RELEASES/game-$version.zip" >/dev/null
    echo "demo: published $GAME_NAME $version ($(stat -c %s "$RELEASES/game-$version.zip") bytes)"
}

archive_size() {
    stat -c %s "$RELEASES/game-$1.zip"
}

prepare_launcher() {
    mkdir -p "$(dirname "$BUNDLE")" "$WORK/home" "$WORK/data" "$WORK/tmp"
    PUBLIC_KEY="$("$PUBLISH" keygen --output "$WORK/release.pem")"
    "$PUBLISH" launcher --bundle build/Launcher.app --output-folder "$(dirname "$BUNDLE")" \
        --name "$GAME_NAME" --endpoint "$(url LatestVersion.ini)" --company Quillmere \
        --app-folder Driftmoor --launcher-version 1.0 --public-key "$PUBLIC_KEY" \
        --installer "$RELEASES/launcher.zip" >/dev/null
}

game_starts() {
    if [ -f "$GAME_RECORD" ]; then
        wc -l <"$GAME_RECORD"
    else
        echo 0
    fi
}

# Waits (at most 15 s) for the count-th game start and prints its record line.
wait_for_game_start() {
    local count="$1"
    for _ in $(seq 1 150); do
        if [ "$(game_starts)" -ge "$count" ]; then
            sed -n "${count}p" "$GAME_RECORD"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Waits (at most 20 s) until the game of that record line has closed its window.
wait_for_game_end() {
    local pid="${1##* }"
    for _ in $(seq 1 200); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
}

# The uninstaller does not wait for the game it stops; a stopped game is gone once it has been
# reaped (a zombie still answers kill -0).
ends_within_5_seconds() {
    local pid="$1" state
    for _ in $(seq 1 50); do
        # the state follows the command name, which may hold blanks and parentheses
        state="$(sed -E 's/.*\) ([A-Z]).*/\1/' "/proc/$pid/stat" 2>/dev/null)" || return 0
        [ -n "$state" ] && [ "$state" != "Z" ] || return 0
        sleep 0.1
    done
    return 1
}

log_size() {
    stat -c %s "$1" 2>/dev/null || echo 0
}

# The messages that show the road taken, time stamps cut off.
road_lines() {
    sed -E 's/^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}://' |
        grep -E 'comparing|Current appVersion|Starting content installer|performToFileCurlAndExecute start|CurrentVersion.ini loaded|Config loaded from Info.plist|Stopping application|Error|failed|not found|Can.t load' ||
        true
}

road_of() {
    local lines="$1"
    case "$lines" in
    *"Config loaded from Info.plist"*) echo "uninstall" ;;
    *"Error getting or parsing"*) echo "manifest failure" ;;
    *"Starting content installer"*) echo "update" ;;
    *"performToFileCurlAndExecute start"*) echo "first install" ;;
    *"comparing latest endpoint version"*) echo "start game" ;;
    *) echo "unknown" ;;
    esac
}

REPORT=""

# run_launcher <step> <what it shows> <log file> [arguments...]: runs the launcher under the
# temporary folders and adds its part to the report.
run_launcher() {
    local step="$1" title="$2" log="$3"
    shift 3
    local before status=0
    before="$(log_size "$log")"
    echo "demo: step $step: $title"
    env HOME="$WORK/home" XDG_DATA_HOME="$WORK/data" TMPDIR="$WORK/tmp/" \
        SAMPLE_GAME_RECORD="$GAME_RECORD" SAMPLE_GAME_SECONDS="$GAME_SECONDS" \
        "$LAUNCHER" "$@" >/dev/null 2>&1 || status=$?
    local lines
    lines="$(tail -c +"$((before + 1))" "$log" 2>/dev/null | road_lines)"
    REPORT+="run $step: launcher${*:+ $*}"$'\n'
    REPORT+="  road: $(road_of "$lines"), exit status $status"$'\n'
    REPORT+="$(sed 's/^/    out.log: /' <<<"$lines")"$'\n'
}

installed_version() {
    grep ApplicationVersion "$DATA_FOLDER/CurrentVersion.ini" 2>/dev/null || echo "nothing"
}

add_outcome() {
    REPORT+="  $1"$'\n'
}

main() {
    start_virtual_display
    trap clean_up EXIT # start_virtual_display may have set its own; ours stops Xvfb too
    local screen="the real display $DISPLAY"
    [ -z "$VIRTUAL_DISPLAY_PID" ] || screen="Xvfb on $DISPLAY"
    export LIBGL_ALWAYS_SOFTWARE="${LIBGL_ALWAYS_SOFTWARE:-1}"
    mkdir -p "$RELEASES"
    rm -rf "$SHOTS"
    mkdir -p "$SHOTS"
    start_nginx
    echo "demo: nginx serves $RELEASES on 127.0.0.1:$PORT; windows on $screen"
    prepare_launcher
    local launcher_version log="$DATA_FOLDER/out.log" game
    launcher_version="$(plist_string launcherVersion "$BUNDLE/Contents/Resources/config.plist")"

    local config="$BUNDLE/Contents/Resources/config.plist" splash_size installer_size shooter
    splash_size="$(plist_integer launcherImageWidth "$config")x$(plist_integer launcherImageHeight "$config")"
    installer_size="$(plist_integer contentInstallerImageWidth "$config")x$(plist_integer contentInstallerImageHeight "$config")"

    publish_release 1.0 "$launcher_version"
    shoot_installer_half_way "$(archive_size 1.0)" installer-1.0-half-way "$installer_size" &
    shooter=$!
    run_launcher 1 "first run: install 1.0" "$log"
    game="$(wait_for_game_start 1)" || game="none"
    add_outcome "game started: $game; installed: $(installed_version)"
    shoot_game game-1.0
    wait "$shooter"
    wait_for_game_end "$game"

    publish_release 1.1 "$launcher_version"
    # The update fetches only the entries that changed: its window is up for a moment only.
    shoot_installer_half_way 0 installer-1.1 "$installer_size" &
    shooter=$!
    run_launcher 2 "second run: update to 1.1" "$log"
    game="$(wait_for_game_start 2)" || game="none"
    add_outcome "game started: $game; installed: $(installed_version)"
    shoot_game game-1.1
    wait "$shooter"
    wait_for_game_end "$game"

    # This game stays up until the uninstaller stops it (or half a minute has passed).
    GAME_SECONDS=30
    start_late_server
    set_plist_string latestVersionEndpoint "http://127.0.0.1:$LATE_PORT/LatestVersion.ini" "$config"
    shoot_splash_if_shown "$splash_size" &
    shooter=$!
    run_launcher 3 "third run: the manifest answers after $MANIFEST_DELAY s, then 1.1 starts" "$log"
    game="$(wait_for_game_start 3)" || game="none"
    add_outcome "game started: $game"
    wait "$shooter"
    sleep 3 # let the window be seen

    # Uninstall mode deletes the log with the data folder: a hard link keeps what it wrote.
    ln "$log" "$WORK/uninstall-out.log"
    run_launcher 4 "uninstall with -u -s" "$WORK/uninstall-out.log" -u -s
    if [ -e "$DATA_FOLDER" ]; then
        add_outcome "data folder: still there"
    else
        add_outcome "data folder: gone"
    fi
    if ends_within_5_seconds "${game##* }"; then
        add_outcome "game $game: stopped"
    else
        add_outcome "game $game: still running"
    fi

    echo
    echo "demo report (nginx on 127.0.0.1:$PORT, temporary HOME, XDG_DATA_HOME and TMPDIR under $WORK)"
    printf '%s' "$REPORT"
    echo "screenshots in $SHOTS:"
    local shot
    for shot in installer-1.0-half-way game-1.0 installer-1.1 game-1.1 splash; do
        if [ -f "$SHOTS/$shot.png" ]; then
            echo "  $shot.png"
        else
            echo "  $shot.png: not taken (no such window was seen)"
        fi
    done
    echo "archives served: $(grep -c '\.zip HTTP' "$WORK/nginx/access.log") (user agent $(grep -o '"libcurl-agent/[^"]*"' "$WORK/nginx/access.log" | sort -u | tr '\n' ' '))"
}

main
