#!/usr/bin/env bash
# Sets up a Debian 12 machine for ネピリカ, builds it, then starts the window (run) or runs every
# test (test). A second run skips what is already installed and built.
#   scripts/quickstart.sh run [ADDRESS...]
#   scripts/quickstart.sh test [ctest arguments...]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${NEPIRIKA_BUILD_DIR:-$here/build}"
mode="${1:-}"
[ $# -gt 0 ] && shift

case "$mode" in
run | test) ;;
*)
    echo "usage: $0 run [ADDRESS...] | test [ctest arguments...]" >&2
    exit 2
    ;;
esac

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-webengine-dev libqt6webenginecore6-bin libgl-dev
    qt6-translations-l10n fonts-ipafont-gothic zlib1g-dev openssl
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}" >&2
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${NEPIRIKA_CMAKE_ARGS:-}
fi
cmake --build "$build" -j "$(nproc)"

if [ "$mode" = run ]; then
    exec "$build/src/app/nepirika" "$@"
fi

# Tests: no display, and as root the browser engine needs its sandbox off.
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
cd "$build"
exec ctest --output-on-failure --timeout 600 -j 2 "$@"
