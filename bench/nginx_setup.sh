# Sourced by the benchmark scripts: the benchmark program to run, one work folder for the run,
# the benchmark content zipped into it, and nginx serving it on a free loopback port. All of it,
# nginx included, goes away when the script exits.
#   use_bench_program <name> <build dir>
#                                    moves to the project's top folder; $program is
#                                    <build dir>/bench/<name>, which must have been built
#   open_work_folder <name>          $work: a fresh folder in BENCH_DIR (default /tmp)
#   make_content_archive             $work/content (bench/make_content.py), zipped to
#                                    $work/www/Content.zip
#   start_nginx <http> <server>      nginx serving $work/www, with these extra lines in its http
#                                    and server blocks; $base is its address once it answers
#   measure <command> [args...]      wall seconds, peak KiB, user and system CPU seconds

use_bench_program() {
    cd "$(dirname "$0")/.."
    program="$2/bench/$1"
    [ -x "$program" ] || { echo "build $program first (cmake --build $2 --target $1)"; exit 1; }
}

nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    rm -rf "$work"
}

open_work_folder() {
    work="$(mktemp -d "${BENCH_DIR:-/tmp}/$1.XXXXXX")"
    chmod 755 "$work" # nginx workers run as an unprivileged user
    trap cleanup EXIT
}

make_content_archive() {
    echo "== making the content in $work"
    python3 bench/make_content.py "$work/content"
    mkdir -p "$work/www"
    (cd "$work/content" && zip -q -r "$work/www/Content.zip" Game.app)
}

start_nginx() {
    local port
    port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    mkdir -p "$work/tmp"
    cat > "$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 64; }
http {
    $1
    sendfile on;
    client_body_temp_path $work/tmp;
    proxy_temp_path $work/tmp;
    fastcgi_temp_path $work/tmp;
    uwsgi_temp_path $work/tmp;
    scgi_temp_path $work/tmp;
    server {
        listen 127.0.0.1:$port;
        root $work/www;
        $2
    }
}
CONF
    /usr/sbin/nginx -c "$work/nginx.conf" -p "$work" -g 'daemon off;' &
    nginx_pid=$!
    base="http://127.0.0.1:$port"
    for _ in $(seq 50); do curl -fsI "$base/Content.zip" >/dev/null 2>&1 && break; sleep 0.1; done
}

measure() {
    /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || {
        cat "$work/stderr.txt"; return 1; }
    cat "$work/time.txt"
}
