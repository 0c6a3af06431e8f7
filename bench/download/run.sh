#!/bin/bash
# Download benchmark: 200 files of 50 KB to 2 MB served by nginx on loopback, fetched in the same
# run by `nepirika download --jobs 8`, `nepirika download` at its defaults, `curl -Z --parallel-max 8`,
# `aria2c -j 8` and `wget -i`, once with the server uncapped and once capped at 16 MB/s per
# connection (nginx limit_rate). Reports the median wall time and peak memory (GNU time), checks
# that every tool saved every byte, and fetches one large file to show whether memory grows with
# file size.
#
#   bench/download/run.sh [PATH-TO-nepirika] [RUNS] [PATH-TO-ANOTHER-nepirika]
#
# The optional third program (another build, say of an earlier commit) is timed as
# "baseline --jobs 8" in the same rounds, so that two builds can be compared under the same load.
#
# Runs inside a network namespace of its own with loopback only (unshare -n), so nothing leaves
# the machine. Installs nginx, curl, aria2, wget and GNU time with apt-get when they are missing
# (as root).
set -euo pipefail

BIN=${1:-build/src/app/nepirika}
RUNS=${2:-3}
FILES=${BENCH_FILES:-200}
LARGE_MB=${BENCH_LARGE_MB:-256}
BIN=$(readlink -f "$BIN")
BASE=${3:-}
[ -n "$BASE" ] && BASE=$(readlink -f "$BASE")

if [ -z "${NEPIRIKA_BENCH_IN_NETNS:-}" ]; then
    if [ ! -x "$BIN" ]; then
        echo "no nepirika program at $BIN (build it first, or give its path)" >&2
        exit 2
    fi
    missing=()
    [ -x /usr/sbin/nginx ] || missing+=(nginx)
    command -v curl >/dev/null || missing+=(curl)
    command -v aria2c >/dev/null || missing+=(aria2)
    command -v wget >/dev/null || missing+=(wget)
    [ -x /usr/bin/time ] || missing+=(time)
    if [ ${#missing[@]} -gt 0 ] && [ "$(id -u)" = 0 ]; then
        export DEBIAN_FRONTEND=noninteractive
        # The package lists first: a fresh machine has none.
        { apt-get update -q >/dev/null 2>&1 &&
            apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null 2>&1; } ||
            echo "could not install ${missing[*]}; those tools are left out" >&2
    fi
    [ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 2; }
    [ -x /usr/sbin/nginx ] || { echo "nginx is needed" >&2; exit 2; }
    exec unshare -n env NEPIRIKA_BENCH_IN_NETNS=1 bash "$0" "$BIN" "$RUNS" "$BASE"
fi

ip link set lo up
WORK=$(mktemp -d /tmp/nepirika-dlbench.XXXXXX)
cleanup() {
    [ -f "$WORK/nginx/nginx.pid" ] && kill "$(cat "$WORK/nginx/nginx.pid")" 2>/dev/null || true
    sleep 0.2
    rm -rf "$WORK"
}
trap cleanup EXIT

# Incompressible files of random sizes, the same every run.
python3 - "$WORK/files" "$FILES" "$LARGE_MB" <<'PY'
import os, random, sys
root, count, large_mb = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
os.makedirs(os.path.join(root, "set"))
rng = random.Random(20261207)
block = rng.randbytes(4 * 1024 * 1024)
for i in range(count):
    size = rng.randint(50 * 1024, 2 * 1024 * 1024)
    start = rng.randint(0, len(block) - size)
    with open(os.path.join(root, "set", f"file{i:03d}.bin"), "wb") as f:
        f.write(block[start:start + size])
with open(os.path.join(root, "large.bin"), "wb") as f:
    for _ in range(large_mb // 4):
        f.write(block)
PY

# nginx on two ports: 18080 as fast as loopback goes, 18081 capped at 16 MB/s per connection.
FAST=18080
CAPPED=18081
mkdir -p "$WORK/nginx"
cat >"$WORK/nginx/nginx.conf" <<CONF
worker_processes 2;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/error.log;
user root;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 10000;
    default_type application/octet-stream;
    client_body_temp_path $WORK/nginx/body;
    proxy_temp_path $WORK/nginx/proxy;
    fastcgi_temp_path $WORK/nginx/fastcgi;
    uwsgi_temp_path $WORK/nginx/uwsgi;
    scgi_temp_path $WORK/nginx/scgi;
    server { listen 127.0.0.1:$FAST; root $WORK/files; }
    server { listen 127.0.0.1:$CAPPED; root $WORK/files; limit_rate 16m; }
}
CONF
/usr/sbin/nginx -c "$WORK/nginx/nginx.conf" -p "$WORK/nginx"
for _ in $(seq 50); do
    curl -sf -o /dev/null "http://127.0.0.1:$FAST/set/file000.bin" && break
    sleep 0.1
done

urls() { for f in "$WORK"/files/set/*.bin; do echo "http://127.0.0.1:$1/set/$(basename "$f")"; done; }
urls "$FAST" >"$WORK/urls-fast.txt"
urls "$CAPPED" >"$WORK/urls-capped.txt"
TOTAL_BYTES=$(du -cb "$WORK"/files/set/*.bin | tail -1 | cut -f1)

# measure OUTDIR EXPECTED-FILES EXPECTED-BYTES COMMAND...: prints "seconds kilobytes"
measure() {
    local out=$1 files=$2 bytes=$3
    shift 3
    rm -rf "$out" && mkdir -p "$out"
    local log=$WORK/time.log
    (cd "$out" && /usr/bin/time -v "$@" >/dev/null 2>"$log") || true
    local got_files got_bytes
    got_files=$(find "$out" -type f | wc -l)
    got_bytes=$(find "$out" -type f -printf '%s\n' | awk '{s+=$1} END {print s+0}')
    if [ "$got_files" != "$files" ] || [ "$got_bytes" != "$bytes" ]; then
        echo "  ($1 incomplete: $got_files files, $got_bytes bytes)" >&2
    fi
    local wall rss
    wall=$(grep 'Elapsed (wall clock)' "$log" | awk '{print $NF}' |
        awk -F: '{ if (NF == 3) print $1*3600 + $2*60 + $3; else print $1*60 + $2 }')
    rss=$(grep 'Maximum resident set size' "$log" | awk '{print $NF}')
    echo "$wall $rss"
}

# command_for TOOL URL-FILE: the command line of one tool
command_for() {
    local list=$2
    case $1 in
    "nepirika --jobs 8") echo "$BIN download --jobs 8 --dir . -- $(tr '\n' ' ' <"$list")" ;;
    "nepirika (defaults)") echo "$BIN download --dir . -- $(tr '\n' ' ' <"$list")" ;;
    "baseline --jobs 8") echo "$BASE download --jobs 8 --dir . -- $(tr '\n' ' ' <"$list")" ;;
    "curl -Z --parallel-max 8") echo "curl -s -Z --parallel-max 8 --remote-name-all $(tr '\n' ' ' <"$list")" ;;
    "aria2c -j 8") echo "aria2c -q -j 8 --file-allocation=none -i $list" ;;
    "wget -i") echo "wget -q -i $list" ;;
    esac
}

available() {
    case $1 in
    curl*) command -v curl >/dev/null ;;
    aria2c*) command -v aria2c >/dev/null ;;
    wget*) command -v wget >/dev/null ;;
    baseline*) [ -n "$BASE" ] ;;
    *) true ;;
    esac
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

TOOLS=("nepirika --jobs 8" "nepirika (defaults)" "baseline --jobs 8" "curl -Z --parallel-max 8" "aria2c -j 8" "wget -i")
declare -A WALL RSS
# Rounds rather than tool after tool, so that a busy moment of the machine hits every tool alike.
for _ in $(seq "$RUNS"); do
    for speed in fast capped; do
        for tool in "${TOOLS[@]}"; do
            available "$tool" || continue
            # One connection at 16 MB/s takes a quarter of a minute; wget is timed uncapped only.
            [ "$tool" = "wget -i" ] && [ "$speed" = capped ] && continue
            # shellcheck disable=SC2046
            read -r w r < <(measure "$WORK/out" "$FILES" "$TOTAL_BYTES" $(command_for "$tool" "$WORK/urls-$speed.txt"))
            WALL[$tool,$speed]="${WALL[$tool,$speed]:-} $w"
            RSS[$tool,$speed]="${RSS[$tool,$speed]:-} $r"
        done
    done
done

med() { tr ' ' '\n' <<<"$1" | grep . | median; }

echo "$FILES files, $((TOTAL_BYTES / 1024 / 1024)) MiB in all, nginx on loopback, $RUNS runs each, median shown"
printf '| %-26s | %14s | %20s | %14s |\n' "tool" "uncapped (s)" "16 MB/s per conn (s)" "peak RSS (MiB)"
printf '|%s|%s|%s|%s|\n' "----------------------------" "----------------" "----------------------" "----------------"
for tool in "${TOOLS[@]}"; do
    [ -n "${WALL[$tool,fast]:-}" ] || continue
    capped="—"
    [ -n "${WALL[$tool,capped]:-}" ] && capped=$(printf '%.2f' "$(med "${WALL[$tool,capped]}")")
    printf '| %-26s | %14.2f | %20s | %14.1f |\n' "$tool" "$(med "${WALL[$tool,fast]}")" "$capped" \
        "$(awk -v k="$(med "${RSS[$tool,fast]}")" 'BEGIN {print k / 1024}')"
done

# Memory against file size: one large file.
read -r w r < <(measure "$WORK/out-large" 1 $((LARGE_MB / 4 * 4 * 1024 * 1024)) \
    "$BIN" download --dir . "http://127.0.0.1:$FAST/large.bin")
printf '| %-26s | %14.2f | %20s | %14.1f |\n' "nepirika, 1 × ${LARGE_MB} MiB" "$w" "—" \
    "$(awk -v k="$r" 'BEGIN {print k / 1024}')"

if [ -n "${WALL[curl -Z --parallel-max 8,fast]:-}" ]; then
    for speed in fast capped; do
        awk -v n="$(med "${WALL[nepirika --jobs 8,$speed]}")" -v c="$(med "${WALL[curl -Z --parallel-max 8,$speed]}")" \
            -v s="$speed" 'BEGIN { printf "nepirika --jobs 8 / curl -Z --parallel-max 8, %s: %.2f×\n", (s == "fast" ? "uncapped" : "capped"), n / c }'
    done
fi
if [ -n "${WALL[baseline --jobs 8,fast]:-}" ]; then
    for speed in fast capped; do
        awk -v n="$(med "${WALL[nepirika --jobs 8,$speed]}")" -v b="$(med "${WALL[baseline --jobs 8,$speed]}")" \
            -v s="$speed" 'BEGIN { printf "nepirika --jobs 8 / baseline --jobs 8, %s: %.2f×\n", (s == "fast" ? "uncapped" : "capped"), n / b }'
    done
fi
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
