#!/usr/bin/env bash
# Makes the Debian package from a build folder, installs it with dpkg, builds
# and runs examples/consumer against it (pkg-config and find_package, with
# nothing but the system's own paths), runs the installed tool, and removes
# the package again.
# usage: check-package.sh BUILD_DIR   (as root; skips otherwise)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
build=$(cd "$1" && pwd)
if [ "$(id -u)" -ne 0 ]; then
    echo "package: skipped (dpkg -i needs root)"
    exit 0
fi
out="$repo_root/build/package"
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/tessaloquin-basics_*.deb)
echo "package: $(basename "$deb")"
dpkg-deb -f "$deb" Depends
trap 'dpkg -r tessaloquin-basics >/dev/null 2>&1 || true' EXIT
dpkg -i "$deb" >/dev/null
for file in /usr/lib/TQ110Tbs90x64.so /usr/lib/TessaloquinPerformanceCounters.ini \
    /usr/include/kvbasics/kvbasics.h /usr/lib/pkgconfig/tqbasics.pc \
    /usr/lib/cmake/TessaloquinBasics/TessaloquinBasicsConfig.cmake /usr/bin/tqbs \
    /usr/share/man/man1/tqbs.1 /usr/share/bash-completion/completions/tqbs; do
    [ -e "$file" ] || { echo "package: $file missing" >&2; exit 1; }
done
/usr/bin/tqbs info | head -3
c++ -std=c++20 -Wall -Wextra -o "$out/consumer-pkgconfig" "$repo_root/examples/consumer/main.cpp" \
    $(pkg-config --cflags --libs tqbasics)
"$out/consumer-pkgconfig" >/dev/null
# shellcheck disable=SC2046
cmake -S "$repo_root/examples/consumer" -B "$out/cmake" $(generator_args) >/dev/null
cmake --build "$out/cmake" >/dev/null
"$out/cmake/consumer" >/dev/null
dpkg -r tessaloquin-basics >/dev/null
trap - EXIT
[ ! -e /usr/lib/TQ110Tbs90x64.so ] || { echo "package: not removed" >&2; exit 1; }
echo "package: installed with dpkg, examples/consumer built against it, removed again"
