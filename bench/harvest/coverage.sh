#!/bin/bash
# What a change of the harvest brings from the corpus's real pages, and what it costs: two builds of
# `nepirika harvest` on the same pages, all served from 127.0.0.1 inside a network namespace with
# loopback only (see coverage.py).
#
#   bench/harvest/coverage.sh BEFORE-nepirika AFTER-nepirika
#
# Environment: BENCH_REPS (3), BENCH_LIMIT=N (first N pages only), NEPIRIKA_CORPUS (the corpus folder).
# Writes bench/out/harvest-coverage.md.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
[ $# = 2 ] || { echo "usage: $0 BEFORE-nepirika AFTER-nepirika" >&2; exit 2; }
before=$(realpath "$1")
after=$(realpath "$2")
for exe in "$before" "$after"; do
    [ -x "$exe" ] || { echo "coverage.sh: $exe is not an executable" >&2; exit 2; }
done

if [ "${NEPIRIKA_BENCH_IN_NETNS:-}" != 1 ]; then
    # Loopback only: the saved pages name hosts off this machine, and nothing may reach them.
    if [ "$(id -u)" = 0 ]; then unshare=(unshare -n); else unshare=(unshare -r -n); fi
    exec "${unshare[@]}" env NEPIRIKA_BENCH_IN_NETNS=1 bash -c 'ip link set lo up && exec "$0" "$@"' \
        "${BASH_SOURCE[0]}" "$before" "$after"
fi

args=(--before "$before" --after "$after" --reps "${BENCH_REPS:-3}" --out "$root/bench/out"
      --corpus "${NEPIRIKA_CORPUS:-$(cd "$root/.." && pwd)/shared/corpus}")
[ -n "${BENCH_LIMIT:-}" ] && args+=(--limit "$BENCH_LIMIT")
exec python3 "$here/coverage.py" "${args[@]}"
