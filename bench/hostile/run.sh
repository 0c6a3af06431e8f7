#!/bin/bash
# The memory of `nepirika harvest` on hostile pages and on real ones: the peak PSS of the whole
# process tree, with scripts and with --no-scripts, all served from 127.0.0.1 inside a network
# namespace with loopback only.
#
#   bench/hostile/run.sh [path-to-nepirika]
#
# Pages: 2,000 inline data: images of 100 KB each, 200,000 links of 1 KB each, and the first
# BENCH_CORPUS_PAGES (20) real pages of ../shared/corpus harvested in one run (--parallel 4).
# Without a path it uses build-bench/src/app/nepirika, building it when needed. Prints a table.
#
#   BENCH_ONLY=pictures bench/hostile/run.sh
#
# instead runs bench_pictures (bench_pictures.cpp): the window's picture view over 12 hostile 48-byte
# PNGs and 3 good pictures, with an empty thumbnail cache and with a damaged cache file for each.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ "${BENCH_ONLY:-}" = pictures ]; then
    build=$root/build-bench
    if [ ! -f "$build/build.ninja" ]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
    fi
    ninja -C "$build" -j2 bench_pictures
    if [ "$(id -u)" = 0 ]; then unshare=(unshare -n); else unshare=(unshare -r -n); fi
    exec "${unshare[@]}" env QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 bash -c \
        'ip link set lo up && "$0" && "$0" --damaged-cache' "$build/bench/hostile/bench_pictures"
fi

if [ "${NEPIRIKA_BENCH_IN_NETNS:-}" != 1 ]; then
    nepirika=${1:-}
    if [ -z "$nepirika" ]; then
        build=$root/build-bench
        if [ ! -f "$build/build.ninja" ]; then
            cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
        fi
        ninja -C "$build" -j2 nepirika
        nepirika=$build/src/app/nepirika
    fi
    nepirika=$(realpath "$nepirika")
    if [ "$(id -u)" = 0 ]; then unshare=(unshare -n); else unshare=(unshare -r -n); fi
    exec "${unshare[@]}" env NEPIRIKA_BENCH_IN_NETNS=1 bash -c 'ip link set lo up && exec "$0" "$@"' \
        "${BASH_SOURCE[0]}" "$nepirika"
fi

exec python3 "$here/hostile.py" --nepirika "$1" \
    --corpus "${NEPIRIKA_CORPUS:-$(cd "$root/.." && pwd)/shared/corpus}" \
    --corpus-pages "${BENCH_CORPUS_PAGES:-20}" --only "${BENCH_ONLY:-}"
