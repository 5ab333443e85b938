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
    # Its manual page and bash completion.
    test -s "$prefix/share/man/man1/tqbs.1"
    test -s "$prefix/share/bash-completion/completions/tqbs"
    bash -c "source '$prefix/share/bash-completion/completions/tqbs'; complete -p tqbs" >/dev/null
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

# The examples, built as one CMake project against the installed library.
# shellcheck disable=SC2046
cmake -S "$repo_root/examples" -B "$out/examples" $(generator_args) \
    -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$out/examples" >/dev/null
for example in rbtree_index memfile_checksum error_text; do
    echo "-- example $example"
    "$out/examples/$example"
done

# The statistics example beside the installed monitor, on a private registry
# store and shared-memory namespace.
if [ -x "$prefix/bin/tqbs" ]; then
    echo "-- example statistics_server with tqbs perf monitor"
    work=$(mktemp -d)
    server=
    finish() {
        if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi
        rm -rf /dev/shm/"$TQ_SHM_NAMESPACE"*
        rm -rf "$work"
    }
    trap finish EXIT
    export TQ_REGISTRY_ROOT=$work/registry TQ_SHM_NAMESPACE=tqexample$$_
    "$prefix/bin/tqbs" perf install >/dev/null
    "$out/examples/statistics_server" 4 >"$work/server.log" 2>&1 &
    server=$!
    sleep 0.5
    "$prefix/bin/tqbs" perf monitor --interval 1 --count 2 | tee "$work/monitor.log"
    wait "$server"
    server=
    cat "$work/server.log"
    # The monitor saw the server: some sample shows commits at a nonzero rate.
    grep -Eq 'Commits/sec[^0-9]*[1-9]' "$work/monitor.log" || {
        echo "the monitor did not see the example server's commits" >&2
        exit 1
    }
    "$prefix/bin/tqbs" perf uninstall >/dev/null
fi
