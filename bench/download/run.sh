#!/bin/bash
# Download benchmark: 200 files of 50 KB to 2 MB served on loopback, fetched by `nepirika download`
# and, where installed, by `wget -i` and `aria2c -j 8 -i` in the same run. Reports wall time and
# peak memory (GNU time), checks that every tool saved every byte, and fetches one large file to
# show whether memory grows with file size.
#
#   bench/download/run.sh [PATH-TO-nepirika] [RUNS]
#
# Runs inside a network namespace of its own with loopback only (unshare -n), so nothing leaves
# the machine. Installs wget, aria2 and GNU time with apt-get when they are missing (as root).
set -euo pipefail

BIN=${1:-build/src/app/nepirika}
RUNS=${2:-3}
FILES=${BENCH_FILES:-200}
LARGE_MB=${BENCH_LARGE_MB:-256}
BIN=$(readlink -f "$BIN")

if [ -z "${NEPIRIKA_BENCH_IN_NETNS:-}" ]; then
    if [ ! -x "$BIN" ]; then
        echo "no nepirika program at $BIN (build it first, or give its path)" >&2
        exit 2
    fi
    missing=()
    command -v wget >/dev/null || missing+=(wget)
    command -v aria2c >/dev/null || missing+=(aria2)
    [ -x /usr/bin/time ] || missing+=(time)
    if [ ${#missing[@]} -gt 0 ] && [ "$(id -u)" = 0 ]; then
        apt-get install -y -q "${missing[@]}" >/dev/null 2>&1 ||
            { apt-get update -q >/dev/null 2>&1 && apt-get install -y -q "${missing[@]}" >/dev/null 2>&1; } ||
            echo "could not install ${missing[*]}; those tools are left out" >&2
    fi
    [ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 2; }
    exec unshare -n env NEPIRIKA_BENCH_IN_NETNS=1 bash "$0" "$BIN" "$RUNS"
fi

ip link set lo up
WORK=$(mktemp -d /tmp/nepirika-dlbench.XXXXXX)
SERVER_PID=
cleanup() {
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null || true
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

PORT=18080
python3 -m http.server "$PORT" --bind 127.0.0.1 --directory "$WORK/files" >/dev/null 2>&1 &
SERVER_PID=$!
for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $PORT), 1).close()" 2>/dev/null && break
    sleep 0.1
done

URLS=$WORK/urls.txt
for f in "$WORK"/files/set/*.bin; do echo "http://127.0.0.1:$PORT/set/$(basename "$f")"; done >"$URLS"
TOTAL_BYTES=$(du -cb "$WORK"/files/set/*.bin | tail -1 | cut -f1)

# measure NAME OUTDIR EXPECTED-FILES EXPECTED-BYTES COMMAND...: prints "seconds kilobytes"
measure() {
    local out=$2 files=$3 bytes=$4
    shift 4
    rm -rf "$out" && mkdir -p "$out"
    local log=$WORK/time.log
    (cd "$out" && /usr/bin/time -v "$@" >/dev/null 2>"$log") || true
    local got_files got_bytes
    got_files=$(find "$out" -type f | wc -l)
    got_bytes=$(find "$out" -type f -printf '%s\n' | awk '{s+=$1} END {print s+0}')
    if [ "$got_files" != "$files" ] || [ "$got_bytes" != "$bytes" ]; then
        echo "  (incomplete: $got_files files, $got_bytes bytes)" >&2
    fi
    local wall rss
    wall=$(grep 'Elapsed (wall clock)' "$log" | awk '{print $NF}' |
        awk -F: '{ if (NF == 3) print $1*3600 + $2*60 + $3; else print $1*60 + $2 }')
    rss=$(grep 'Maximum resident set size' "$log" | awk '{print $NF}')
    echo "$wall $rss"
}

declare -A TOOLS
TOOLS[nepirika]="$BIN download --dir . -- $(tr '\n' ' ' <"$URLS")"
command -v wget >/dev/null && TOOLS[wget]="wget -q -i $URLS"
command -v aria2c >/dev/null && TOOLS[aria2c]="aria2c -q -j 8 --file-allocation=none -i $URLS"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

echo "$FILES files, $((TOTAL_BYTES / 1024 / 1024)) MiB in all, $RUNS runs each, median shown"
printf '| %-22s | %9s | %13s |\n' "tool" "wall (s)" "peak RSS (MiB)"
printf '|%s|%s|%s|\n' "------------------------" "-----------" "---------------"
for tool in nepirika aria2c wget; do
    [ -n "${TOOLS[$tool]:-}" ] || continue
    walls=() rsss=()
    for _ in $(seq "$RUNS"); do
        # shellcheck disable=SC2086
        read -r w r < <(measure "$tool" "$WORK/out-$tool" "$FILES" "$TOTAL_BYTES" ${TOOLS[$tool]})
        walls+=("$w") rsss+=("$r")
    done
    wall=$(printf '%s\n' "${walls[@]}" | median)
    rss=$(printf '%s\n' "${rsss[@]}" | median)
    label=$tool
    [ "$tool" = aria2c ] && label="aria2c -j 8"
    [ "$tool" = wget ] && label="wget -i"
    printf '| %-22s | %9.2f | %13.1f |\n' "$label" "$wall" "$(awk -v k="$rss" 'BEGIN {print k / 1024}')"
done

# Memory against file size: one large file.
read -r w r < <(measure large "$WORK/out-large" 1 $((LARGE_MB / 4 * 4 * 1024 * 1024)) \
    "$BIN" download --dir . "http://127.0.0.1:$PORT/large.bin")
printf '| %-22s | %9.2f | %13.1f |\n' "nepirika, 1 × ${LARGE_MB} MiB" "$w" "$(awk -v k="$r" 'BEGIN {print k / 1024}')"
