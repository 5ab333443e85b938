#!/usr/bin/env bash
# Builds and runs examples/consumer against an installed library, once through
# pkg-config and once through find_package.
set -euo pipefail
prefix=$1
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
out="$repo_root/build/consumer"
rm -rf "$out"
mkdir -p "$out"

# The installed tool finds the library beside it by its run path, and the
# module loader finds the library in its own directory.
if [ -x "$prefix/bin/tqbs" ]; then
    described=$(env -u LD_LIBRARY_PATH "$prefix/bin/tqbs" module describe TQ110Tbs90x64)
    grep -qx "path: */.*/lib/TQ110Tbs90x64.so" <<<"$described"
    grep -qx "module: *TQ110Tbs90x64" <<<"$described"
    grep -qx "description: *Tessaloquin Basic Algorithms" <<<"$described"
fi

export LD_LIBRARY_PATH="$prefix/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

# shellcheck disable=SC2046
c++ -std=c++20 -Wall -Wextra -o "$out/consumer-pkgconfig" "$repo_root/examples/consumer/main.cpp" \
    $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs tqbasics)
"$out/consumer-pkgconfig"

# shellcheck disable=SC2046
cmake -S "$repo_root/examples/consumer" -B "$out/cmake" $(generator_args) \
    -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$out/cmake" >/dev/null
"$out/cmake/consumer"
