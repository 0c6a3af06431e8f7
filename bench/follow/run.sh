#!/bin/bash
# Follow benchmark: a loopback gallery of 200 thumbnails, each linking to a detail page with one
# 4000 x 3000 picture. Times `nepirika harvest --follow 1 --probe --largest` on the index against
# the same 201 pages given as a list (`--probe --largest`), with scripts and with --no-scripts,
# and checks that following gives the 200 full-size pictures and no thumbnail.
#
#   bench/follow/run.sh [PATH-TO-nepirika] [RUNS]
#
# Runs inside a network namespace of its own with loopback only (unshare -n).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
BIN=$(readlink -f "${1:-$root/build/src/app/nepirika}")
RUNS=${2:-3}
out=$root/bench/out/follow

if [ -z "${NEPIRIKA_BENCH_IN_NETNS:-}" ]; then
    [ -x "$BIN" ] || { echo "no nepirika program at $BIN (build it first, or give its path)" >&2; exit 2; }
    rm -rf "$out" && mkdir -p "$out"
    if [ "$(id -u)" = 0 ]; then unshare=(unshare -n); else unshare=(unshare -r -n); fi
    exec "${unshare[@]}" env NEPIRIKA_BENCH_IN_NETNS=1 bash -c 'ip link set lo up && exec "$0" "$@"' \
        "${BASH_SOURCE[0]}" "$BIN" "$RUNS"
fi

port=8093
python3 "$here/gallery.py" "$port" 200 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 50); do curl -sf "http://127.0.0.1:$port/list.txt" -o "$out/list.txt" && break; sleep 0.1; done

export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1
index=http://127.0.0.1:$port/index.html
: >"$out/times.txt"
for run in $(seq "$RUNS"); do
    for scripts in scripts no-scripts; do
        extra=()
        [ "$scripts" = no-scripts ] && extra=(--no-scripts)
        r=$(python3 "$here/measure.py" "$out/follow-$scripts-$run.jsonl" -- \
            "$BIN" harvest --json --probe --largest --follow 1 "${extra[@]}" "$index")
        echo "follow $scripts $run $r" >>"$out/times.txt"
        r=$(python3 "$here/measure.py" "$out/list-$scripts-$run.jsonl" -- \
            sh -c '"$0" harvest --json --probe --largest "$@" <"'"$out/list.txt"'"' "$BIN" "${extra[@]}")
        echo "list $scripts $run $r" >>"$out/times.txt"
    done
done
python3 - "$out" "$RUNS" <<'PY'
import collections, json, os, statistics, sys
folder, runs = sys.argv[1], int(sys.argv[2])
rows = collections.defaultdict(list)
for line in open(os.path.join(folder, "times.txt")):
    how, scripts, run, wall, peak, status = line.split()
    rows[(how, scripts)].append((float(wall), float(peak), int(status)))
print("| pages | mode | wall (median s) | peak memory of the process tree (median MiB) | exit |")
print("|---|---|---:|---:|---|")
for scripts in ("scripts", "no-scripts"):
    for how in ("list", "follow"):
        r = rows[(how, scripts)]
        print("| %s | %s | %.2f | %.0f | %s |" % (how, scripts, statistics.median(x[0] for x in r),
                                                statistics.median(x[1] for x in r), sorted({x[2] for x in r})))
    f = statistics.median(x[0] for x in rows[("follow", scripts)])
    l = statistics.median(x[0] for x in rows[("list", scripts)])
    print("|  | follow / list, %s | %+.1f %% | | |" % (scripts, (f / l - 1) * 100))
for scripts in ("scripts", "no-scripts"):
    for run in range(1, runs + 1):
        full = thumbs = 0
        for line in open(os.path.join(folder, "follow-%s-%d.jsonl" % (scripts, run))):
            r = json.loads(line)
            if r.get("kind") == "image":
                full += "/full/" in r["url"] and r.get("width") == 4000 and r.get("height") == 3000
                thumbs += "/th/" in r["url"]
        print("follow %s run %d: %d full-size pictures, %d thumbnails" % (scripts, run, full, thumbs))
PY
