#!/bin/bash
# Probe benchmark: 1,000 generated images (JPEG, PNG, WebP and GIF; one in ten 20 to 40 MB) served
# by nginx on loopback, shown by one page. Times `nepirika harvest --no-scripts --json` on that page
# with and without --probe, checks every image's facts against what was generated, and reads from
# nginx's log how many bytes each image cost.
#
#   bench/probe/run.sh [PATH-TO-nepirika] [RUNS]
#
# Runs inside a network namespace of its own with loopback only (unshare -n), so nothing leaves
# the machine. Installs nginx with apt-get when it is missing (as root). Environment: BENCH_IMAGES
# (1000).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
BIN=$(readlink -f "${1:-$root/build/src/app/nepirika}")
RUNS=${2:-3}
IMAGES=${BENCH_IMAGES:-1000}
out=$root/bench/out/probe

if [ -z "${NEPIRIKA_BENCH_IN_NETNS:-}" ]; then
    [ -x "$BIN" ] || { echo "no nepirika program at $BIN (build it first, or give its path)" >&2; exit 2; }
    if [ ! -x /usr/sbin/nginx ] && [ "$(id -u)" = 0 ]; then
        export DEBIAN_FRONTEND=noninteractive
        { apt-get update -q >/dev/null 2>&1 && apt-get install -y -q --no-install-recommends nginx >/dev/null 2>&1; } ||
            true
    fi
    [ -x /usr/sbin/nginx ] || { echo "nginx is needed (apt-get install nginx)" >&2; exit 2; }
    rm -rf "$out" && mkdir -p "$out"
    python3 "$here/generate.py" "$out/www" "$IMAGES"
    if [ "$(id -u)" = 0 ]; then unshare=(unshare -n); else unshare=(unshare -r -n); fi
    exec "${unshare[@]}" env NEPIRIKA_BENCH_IN_NETNS=1 bash -c 'ip link set lo up && exec "$0" "$@"' \
        "${BASH_SOURCE[0]}" "$BIN" "$RUNS"
fi

port=8087
cat >"$out/nginx.conf" <<CONF
worker_processes 2;
pid $out/nginx.pid;
error_log $out/error.log;
events { worker_connections 1024; }
http {
    log_format probe '\$uri \$status \$body_bytes_sent \$msec \$request_time \$connection \$connection_requests';
    access_log $out/access.log probe;
    types { image/jpeg jpg; image/png png; image/webp webp; image/gif gif; text/html html; }
    server {
        listen 127.0.0.1:$port;
        root $out/www;
        client_body_temp_path $out/tmp;
        keepalive_requests 100000;
    }
}
CONF
mkdir -p "$out/tmp"
/usr/sbin/nginx -c "$out/nginx.conf"
trap '/usr/sbin/nginx -c "$out/nginx.conf" -s stop 2>/dev/null || true' EXIT
sleep 0.3

page=http://127.0.0.1:$port/index.html
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1
for run in $(seq "$RUNS"); do
    for mode in plain probe; do
        args=(harvest --no-scripts --json)
        [ "$mode" = probe ] && args+=(--probe)
        : >"$out/access.log"
        start=$(date +%s%N)
        "$BIN" "${args[@]}" "$page" >"$out/$mode-$run.jsonl" 2>"$out/$mode-$run.err"
        end=$(date +%s%N)
        sleep 0.3 # nginx writes its log lines as each request ends
        cp "$out/access.log" "$out/$mode-$run.log"
        echo "$mode $run $(((end - start) / 1000000))" >>"$out/times.txt"
    done
done
python3 "$here/measure.py" "$out" "$RUNS"
