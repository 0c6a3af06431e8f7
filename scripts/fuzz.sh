#!/usr/bin/env bash
# Builds the libFuzzer targets of the core (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz and runs each for SECONDS (default 60) on a copy of its seed corpus from tests/fuzz/corpus.
# Fails when any target crashes or finds an input that breaks one of its rules; the input is kept
# under build-fuzz/fuzz-artifacts/TARGET/ (run the target with that file to see it again).
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# TARGET: localfilename addressinput resultfilter addressimport contentdecoder displayaddress
#         responsename resultexport headervalues imagefacts downloadrecord legacycharset
#         thumbnailcache cookiefile (default: all)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${NEPIRIKA_FUZZ_BUILD_DIR:-$here/build-fuzz}"
seconds="${1:-60}"
[ $# -gt 0 ] && shift
case "$seconds" in
'' | *[!0-9]*)
    echo "usage: $0 [SECONDS] [TARGET...]" >&2
    exit 2
    ;;
esac
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
    targets=(localfilename addressinput resultfilter addressimport contentdecoder displayaddress responsename
        resultexport headervalues imagefacts downloadrecord legacycharset thumbnailcache cookiefile)

packages=(cmake ninja-build clang libclang-rt-14-dev qt6-base-dev zlib1g-dev)
# shellcheck source=scripts/ensure-packages.sh
. "$here/scripts/ensure-packages.sh"
ensure_packages "${packages[@]}"

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
        -DNEPIRIKA_FUZZ=ON ${NEPIRIKA_CMAKE_ARGS:-}
fi
cmake --build "$build" -j "${NEPIRIKA_JOBS:-$(nproc)}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
failed=()
for target in "${targets[@]}"; do
    binary="$build/tests/fuzz/fuzz_$target"
    seeds="$here/tests/fuzz/corpus/$target"
    if [ ! -x "$binary" ] || [ ! -d "$seeds" ]; then
        echo "no fuzz target $target" >&2
        exit 2
    fi
    # The fuzzer adds what it finds to its corpus; the copy keeps the repository's seeds as they are.
    work="$build/fuzz-corpus/$target"
    artifacts="$build/fuzz-artifacts/$target"
    rm -rf "$work" "$artifacts"
    mkdir -p "$work" "$artifacts"
    cp -a "$seeds/." "$work/"
    log="$build/fuzz-logs/$target.log"
    mkdir -p "$(dirname "$log")"
    echo "== fuzz_$target for ${seconds}s" >&2
    if ! "$binary" -max_total_time="$seconds" -max_len=4096 -timeout=30 -rss_limit_mb=2048 \
        -print_final_stats=1 -dict="$here/tests/fuzz/urls.dict" -artifact_prefix="$artifacts/" "$work" \
        2>&1 | tee "$log" >&2; then
        echo "== fuzz_$target FAILED: see $artifacts/" >&2
        failed+=("$target")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    # What each fault was, at the end where a truncated log still shows it: the rule broken (or the
    # sanitizer's report) and the input, also in hexadecimal.
    for target in "${failed[@]}"; do
        echo "== fuzz_$target:" >&2
        grep -E -A3 '^BROKEN:|^==[0-9]+== ?ERROR|runtime error:|^SUMMARY:' "$build/fuzz-logs/$target.log" |
            head -n 12 >&2 || true
        for input in "$build/fuzz-artifacts/$target"/*; do
            [ -f "$input" ] || continue
            echo "-- $input" >&2
            head -c 512 "$input" | od -A d -t x1 | head -n 34 >&2
        done
    done
    echo "Fuzzing found faults in: ${failed[*]}" >&2
    exit 1
fi
echo "Fuzzing found nothing in ${seconds}s per target." >&2
