#!/bin/bash
# Download benchmark: 200 files of 1 KB to 4 MB (sizes spread evenly on a log scale, about 100 MB in
# all) served by nginx on loopback, fetched in the same run by `nepirika download --jobs 8` (with its
# durable record of the batch, as a person runs it), the same with --no-record, `nepirika download`
# at its defaults, `curl -Z --parallel-max 8`, `aria2c -j 8` and `wget -i`, once with the server
# uncapped and once capped at 16 MB/s per connection (nginx limit_rate); then 1,000 files of 1 KB.
# Reports the median wall time and peak memory (GNU time), checks that every tool saved every byte,
# and fetches one large file to show whether memory grows with file size.
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
SMALL=${BENCH_SMALL_FILES:-1000}
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
python3 - "$WORK/files" "$FILES" "$LARGE_MB" "$SMALL" <<'PY'
import math, os, random, sys
root, count, large_mb, small = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
os.makedirs(os.path.join(root, "set"))
os.makedirs(os.path.join(root, "small"))
rng = random.Random(20261207)
block = rng.randbytes(4 * 1024 * 1024)
for i in range(count):
    size = int(math.exp(rng.uniform(math.log(1024), math.log(4 * 1024 * 1024))))
    start = rng.randint(0, len(block) - size)
    with open(os.path.join(root, "set", f"file{i:03d}.bin"), "wb") as f:
        f.write(block[start:start + size])
for i in range(small):
    with open(os.path.join(root, "small", f"s{i:04d}.bin"), "wb") as f:
        f.write(block[i * 1024:(i + 1) * 1024])
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

urls() { for f in "$WORK"/files/$2/*.bin; do echo "http://127.0.0.1:$1/$2/$(basename "$f")"; done; }
urls "$FAST" set >"$WORK/urls-fast.txt"
urls "$CAPPED" set >"$WORK/urls-capped.txt"
urls "$FAST" small >"$WORK/urls-small.txt"
TOTAL_BYTES=$(du -cb "$WORK"/files/set/*.bin | tail -1 | cut -f1)
SMALL_BYTES=$((SMALL * 1024))
# The records of the batches go to a data folder of the bench's own.
export XDG_DATA_HOME=$WORK/data

# measure OUTDIR EXPECTED-FILES EXPECTED-BYTES COMMAND...: prints "seconds kilobytes"
measure() {
    local out=$1 files=$2 bytes=$3
    shift 3
    rm -rf "$out" && mkdir -p "$out"
    local log=$WORK/time.log
    # Wall time to the microsecond (GNU time gives hundredths only); memory from GNU time.
    sync
    local t0 t1
    t0=$(date +%s%N)
    (cd "$out" && /usr/bin/time -v "$@" >/dev/null 2>"$log") || true
    t1=$(date +%s%N)
    local got_files got_bytes
    got_files=$(find "$out" -type f | wc -l)
    got_bytes=$(find "$out" -type f -printf '%s\n' | awk '{s+=$1} END {print s+0}')
    if [ "$got_files" != "$files" ] || [ "$got_bytes" != "$bytes" ]; then
        echo "  ($1 incomplete: $got_files files, $got_bytes bytes)" >&2
    fi
    local wall rss
    wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')
    rss=$(grep 'Maximum resident set size' "$log" | awk '{print $NF}')
    echo "$wall $rss"
}

# command_for TOOL URL-FILE: the command line of one tool
command_for() {
    local list=$2
    case $1 in
    "nepirika --jobs 8") echo "$BIN download --jobs 8 --dir . -- $(tr '\n' ' ' <"$list")" ;;
    "nepirika --jobs 8 --no-record") echo "$BIN download --jobs 8 --no-record --dir . -- $(tr '\n' ' ' <"$list")" ;;
    "nepirika (defaults)") echo "$BIN download --dir . -- $(tr '\n' ' ' <"$list")" ;;
    "baseline --jobs 8") echo "$BASE download --jobs 8 --dir . -- $(tr '\n' ' ' <"$list")" ;;
    "curl -Z --parallel-max 8") echo "curl -s -Z --parallel-max 8 --remote-name-all $(tr '\n' ' ' <"$list")" ;;
    "aria2c -j 8") echo "aria2c -q -j 8 --file-allocation=none -i $list" ;;
    "wget -i") echo "wget -q -i $list" ;;
    esac
}

available() {
    # BENCH_QUICK=1 leaves out the slow tools (aria2c, wget) and the defaults' run.
    if [ -n "${BENCH_QUICK:-}" ]; then
        case $1 in aria2c* | wget* | "nepirika (defaults)") return 1 ;; esac
    fi
    case $1 in
    curl*) command -v curl >/dev/null ;;
    aria2c*) command -v aria2c >/dev/null ;;
    wget*) command -v wget >/dev/null ;;
    baseline*) [ -n "$BASE" ] ;;
    *) true ;;
    esac
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

TOOLS=("nepirika --jobs 8" "nepirika --jobs 8 --no-record" "nepirika (defaults)" "baseline --jobs 8" "curl -Z --parallel-max 8" "aria2c -j 8" "wget -i")
declare -A WALL RSS
# Rounds rather than tool after tool, so that a busy moment of the machine hits every tool alike.
for _ in $(seq "$RUNS"); do
    for speed in fast capped small; do
        for tool in "${TOOLS[@]}"; do
            available "$tool" || continue
            # One connection at 16 MB/s takes a quarter of a minute; wget is timed uncapped only.
            [ "$tool" = "wget -i" ] && [ "$speed" = capped ] && continue
            files=$FILES bytes=$TOTAL_BYTES
            [ "$speed" = small ] && files=$SMALL bytes=$SMALL_BYTES
            # shellcheck disable=SC2046
            read -r w r < <(measure "$WORK/out" "$files" "$bytes" $(command_for "$tool" "$WORK/urls-$speed.txt"))
            WALL[$tool,$speed]="${WALL[$tool,$speed]:-} $w"
            RSS[$tool,$speed]="${RSS[$tool,$speed]:-} $r"
        done
    done
done

med() { tr ' ' '\n' <<<"$1" | grep . | median; }

echo "$FILES files, $((TOTAL_BYTES / 1024 / 1024)) MiB in all, nginx on loopback, $RUNS runs each, median shown"
printf '| %-30s | %12s | %20s | %14s | %14s |\n' "tool" "uncapped (s)" "16 MB/s per conn (s)" "$SMALL × 1 KB (s)" "peak RSS (MiB)"
printf '|%s|%s|%s|%s|%s|\n' "--------------------------------" "--------------" "----------------------" "----------------" "----------------"
for tool in "${TOOLS[@]}"; do
    [ -n "${WALL[$tool,fast]:-}" ] || continue
    capped="—" small="—"
    [ -n "${WALL[$tool,capped]:-}" ] && capped=$(printf '%.3f' "$(med "${WALL[$tool,capped]}")")
    [ -n "${WALL[$tool,small]:-}" ] && small=$(printf '%.3f' "$(med "${WALL[$tool,small]}")")
    peak=$(tr ' ' '\n' <<<"${RSS[$tool,fast]} ${RSS[$tool,capped]:-} ${RSS[$tool,small]:-}" | grep . | sort -n | tail -1)
    printf '| %-30s | %12.3f | %20s | %14s | %14.1f |\n' "$tool" "$(med "${WALL[$tool,fast]}")" "$capped" "$small" \
        "$(awk -v k="$peak" 'BEGIN {print k / 1024}')"
done

# Memory against file size: one large file.
read -r w r < <(measure "$WORK/out-large" 1 $((LARGE_MB / 4 * 4 * 1024 * 1024)) \
    "$BIN" download --dir . "http://127.0.0.1:$FAST/large.bin")
printf '| %-26s | %14.2f | %20s | %14.1f |\n' "nepirika, 1 × ${LARGE_MB} MiB" "$w" "—" \
    "$(awk -v k="$r" 'BEGIN {print k / 1024}')"

if [ -n "${WALL[curl -Z --parallel-max 8,fast]:-}" ]; then
    for speed in fast capped small; do
        awk -v n="$(med "${WALL[nepirika --jobs 8,$speed]}")" -v c="$(med "${WALL[curl -Z --parallel-max 8,$speed]}")" \
            -v s="$speed" 'BEGIN { printf "nepirika --jobs 8 / curl -Z --parallel-max 8, %s: %.2f×\n", s, n / c }'
    done
fi
for speed in fast small; do
    awk -v n="$(med "${WALL[nepirika --jobs 8,$speed]}")" -v o="$(med "${WALL[nepirika --jobs 8 --no-record,$speed]}")" \
        -v s="$speed" 'BEGIN { printf "record on / record off, %s: %.3f×\n", s, n / o }'
done
if [ -n "${WALL[baseline --jobs 8,fast]:-}" ]; then
    for speed in fast capped; do
        awk -v n="$(med "${WALL[nepirika --jobs 8,$speed]}")" -v b="$(med "${WALL[baseline --jobs 8,$speed]}")" \
            -v s="$speed" 'BEGIN { printf "nepirika --jobs 8 / baseline --jobs 8, %s: %.2f×\n", s, n / b }'
    done
fi
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
