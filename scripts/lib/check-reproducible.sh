#!/usr/bin/env bash
# Two builds of one commit in different folders give byte-identical modules,
# and configuring a build again rebuilds nothing.
# usage: check-reproducible.sh   (from the repository root)
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$repo_root"
sums=()
for dir in build/repro-a build/repro-b/nested; do
    rm -rf "$dir"
    configure_and_build "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_BUILD_TESTS=OFF \
        -DTQ_BUILD_TOOLS=OFF >/dev/null
    sums+=("$(sha256sum "$dir/basics/TQ110Tbs90x64.so" | cut -d' ' -f1)")
done
if [ "${sums[0]}" != "${sums[1]}" ]; then
    echo "reproducible: FAILED, the two modules differ (${sums[0]} / ${sums[1]})" >&2
    exit 1
fi
# shellcheck disable=SC2046
cmake -S "$repo_root" -B build/repro-a $(generator_args) >/dev/null
if cmake --build build/repro-a 2>&1 | grep -Eq "Building|Linking"; then
    echo "reproducible: FAILED, configuring again rebuilds the library" >&2
    exit 1
fi
echo "reproducible: two builds in different folders give one module (sha256 ${sums[0]:0:16}...), configuring again rebuilds nothing"
rm -rf build/repro-a build/repro-b
