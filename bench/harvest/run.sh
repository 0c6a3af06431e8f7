#!/bin/bash
# The harvest benchmark: `nepirika harvest` against Debian's chromium driven by playwright-core, on
# a generated page of 100,000 links and 20,000 images and on the saved pages of ../shared/corpus,
# all served from 127.0.0.1 inside a network namespace with loopback only.
#
#   bench/harvest/run.sh [path-to-nepirika]
#
# Without a path it uses build-bench/src/app/nepirika, configuring (Release) and building it when
# needed. Writes bench/out/harvest-results.md and prints the table.
# Environment: BENCH_REPS (3), BENCH_SETS (real,big,plain,tiny), BENCH_PEER_BLOCK (flag|route|none),
# BENCH_INCLUDE_TIMEOUT=1 (also time the pages that never finish loading), BENCH_LIMIT=N (first N
# pages only), BENCH_PEER_ONLY=1 (no ネピリカ, the peer alone), BENCH_NO_PEER=1 (ネピリカ alone,
# no chromium or playwright needed), NEPIRIKA_CORPUS (the corpus folder),
# BENCH_PARALLEL (1,2,4,8: the numbers of pages at a time to time), BENCH_NO_SCRIPTS=0 (leave out the
# --no-scripts runs and the peer with JavaScript off), BENCH_SCRIPTS=0 (only the runs without scripts).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ "${NEPIRIKA_BENCH_IN_NETNS:-}" != 1 ]; then
    nepirika=${1:-}
    if [ "${BENCH_PEER_ONLY:-}" = 1 ]; then
        nepirika=
    elif [ -z "$nepirika" ]; then
        build=$root/build-bench
        if [ ! -f "$build/build.ninja" ]; then
            cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
        fi
        ninja -C "$build" -j2 nepirika
        nepirika=$build/src/app/nepirika
    fi
    if [ -n "$nepirika" ]; then
        nepirika=$(realpath "$nepirika")
        [ -x "$nepirika" ] || { echo "run.sh: $nepirika is not an executable" >&2; exit 2; }
    fi

    # The peer: Debian's chromium and playwright-core at the version package.json pins.
    if [ "${BENCH_NO_PEER:-}" != 1 ]; then
        if [ ! -x /usr/lib/chromium/chromium ]; then
            if [ "$(id -u)" = 0 ]; then apt-get install -y chromium; else sudo apt-get install -y chromium; fi
        fi
        want=$(sed -n 's/.*"playwright-core": *"\([^"]*\)".*/\1/p' "$here/package.json")
        have=$(sed -n 's/^ *"version": *"\([^"]*\)".*/\1/p' "$here/node_modules/playwright-core/package.json" 2>/dev/null | head -n1 || true)
        if [ "$have" != "$want" ]; then
            (cd "$here" && npm install --no-audit --no-fund)
        fi
    fi

    # Loopback only: the saved pages name hosts off this machine, and nothing may reach them.
    if [ "$(id -u)" = 0 ]; then unshare=(unshare -n); else unshare=(unshare -r -n); fi
    exec "${unshare[@]}" env NEPIRIKA_BENCH_IN_NETNS=1 bash -c 'ip link set lo up && exec "$0" "$@"' \
        "${BASH_SOURCE[0]}" "$nepirika"
fi

args=(--reps "${BENCH_REPS:-3}" --sets "${BENCH_SETS:-real,big,plain,tiny}"
      --peer-block "${BENCH_PEER_BLOCK:-flag}" --out "$root/bench/out"
      --corpus "${NEPIRIKA_CORPUS:-$(cd "$root/.." && pwd)/shared/corpus}")
[ -n "${1:-}" ] && args+=(--nepirika "$1")
[ "${BENCH_INCLUDE_TIMEOUT:-}" = 1 ] && args+=(--include-timeout)
[ "${BENCH_NO_PEER:-}" = 1 ] && args+=(--no-peer)
[ -n "${BENCH_LIMIT:-}" ] && args+=(--limit "$BENCH_LIMIT")
args+=(--parallel "${BENCH_PARALLEL:-1,2,4,8}" --no-scripts-too "${BENCH_NO_SCRIPTS:-1}"
      --scripts "${BENCH_SCRIPTS:-1}")
exec python3 "$here/bench.py" "${args[@]}"
