#!/usr/bin/env bash
# Sets up a Debian 12 machine for ネピリカ, builds it, then starts the window (run) or runs every
# test (test). A second run skips what is already installed and built.
#   scripts/quickstart.sh run [ADDRESS...]
#   scripts/quickstart.sh test [ctest arguments...]
#   scripts/quickstart.sh sanitize [ctest arguments...]   (AddressSanitizer + UBSan build, whole suite)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mode="${1:-}"
[ $# -gt 0 ] && shift

case "$mode" in
run | test)
    build="${NEPIRIKA_BUILD_DIR:-$here/build}"
    cmake_args="-DCMAKE_BUILD_TYPE=RelWithDebInfo ${NEPIRIKA_CMAKE_ARGS:-}"
    ;;
sanitize)
    build="${NEPIRIKA_BUILD_DIR:-$here/build-asan}"
    cmake_args="-DCMAKE_BUILD_TYPE=Debug -DNEPIRIKA_SANITIZE=ON ${NEPIRIKA_CMAKE_ARGS:-}"
    ;;
*)
    echo "usage: $0 run [ADDRESS...] | test [ctest arguments...] | sanitize [ctest arguments...]" >&2
    exit 2
    ;;
esac

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-webengine-dev libqt6webenginecore6-bin libgl-dev libqt6sql6-sqlite libsqlite3-dev
    qt6-translations-l10n fonts-ipafont-gothic zlib1g-dev libcurl4-openssl-dev openssl
    desktop-file-utils appstream
    dosfstools fusefat
)
# shellcheck source=scripts/ensure-packages.sh
. "$here/scripts/ensure-packages.sh"
ensure_packages "${packages[@]}"

if [ ! -f "$build/build.ninja" ]; then
    launcher=""
    command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
    # shellcheck disable=SC2086
    cmake -S "$here" -B "$build" -G Ninja $launcher $cmake_args
fi
cmake --build "$build" -j "$(nproc)"

if [ "$mode" = run ]; then
    # The browser engine's sandbox cannot run as root. The window does not turn it off by itself
    # (it shows third parties' pages); run as root from here, it is turned off on purpose.
    if [ "$(id -u)" -eq 0 ] && [ -z "${QTWEBENGINE_DISABLE_SANDBOX:-}" ]; then
        echo "Running as root: the browser engine's sandbox is turned off (QTWEBENGINE_DISABLE_SANDBOX=1)." >&2
        export QTWEBENGINE_DISABLE_SANDBOX=1
    fi
    exec "$build/src/app/nepirika" "$@"
fi

# Tests: no display, and as root the browser engine needs its sandbox off.
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
cd "$build"
# A test that fails is run once more before it counts as failed: Qt WebEngine 6.4 can abort
# while a web view is destroyed (its compositor thread calls into the half-destroyed view), a
# rare crash inside the engine that no code of ours can prevent. The output shows every failure.
if [ "$mode" = test ]; then
    exec ctest --output-on-failure --timeout 600 -j 2 --repeat until-pass:2 "$@"
fi

# Sanitizer run: the first report stops the process that made it; every process's reports, the
# programs that the tests start included, are written under asan-reports/ and make the run fail.
# Qt WebEngine's own library trips the new/delete size check and leaks at exit by design.
reports="$build/asan-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:new_delete_type_mismatch=0:detect_leaks=0:log_path=$reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
status=0
ctest --output-on-failure --timeout 900 -j 2 --repeat until-pass:2 "$@" || status=$?
if compgen -G "$reports/*" >/dev/null; then
    echo "Sanitizer reports:" >&2
    for f in "$reports"/*; do
        echo "== $f" >&2
        cat "$f" >&2
    done
    status=1
fi
exit $status
