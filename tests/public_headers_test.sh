#!/usr/bin/env bash
# Every public header, alone and through kvbasics.h, compiles without a single
# warning in a user's program built with strict flags, by g++ and by clang++.
# usage: public_headers_test.sh INCLUDE_DIR GENERATED_INCLUDE_DIR
set -euo pipefail
include=$1
generated=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
flags=(-std=c++20 -fsyntax-only -Werror -Wall -Wextra -Wpedantic -Wshadow -Wconversion
       -Wsign-conversion -Wold-style-cast -I"$include" -I"$generated")
compilers=()
for compiler in g++ clang++; do
    command -v "$compiler" >/dev/null && compilers+=("$compiler")
done
[ ${#compilers[@]} -eq 2 ] || echo "note: only ${compilers[*]} found" >&2
for header in "$include"/*.h; do
    name=$(basename "$header")
    printf '#include "%s"\nint main() { return 0; }\n' "$name" >"$work/${name%.h}.cpp"
done
status=0
for compiler in "${compilers[@]}"; do
    for source in "$work"/*.cpp; do
        "$compiler" "${flags[@]}" "$source" || { echo "FAIL: $compiler, $(basename "$source")" >&2; status=1; }
    done
done
[ "$status" -eq 0 ] && echo "public headers: clean with ${compilers[*]}"
exit "$status"
