#!/usr/bin/env bash
# Prints the reliability summary of a scripts/test run from the files it left
# in DIR: fuzz.txt (scripts/fuzz lines), heap-failures.txt (lines
# "heap-failure FAMILY N operations M injected failures" from the sweep) and
# valgrind.txt (scripts/valgrind's verdict) and coverage.txt (the coverage
# build's lines for basics/ and tools/).
set -euo pipefail
dir=$1

if [ -s "$dir/fuzz.txt" ]; then
    awk '$1 == "fuzz" { targets++; executions += $3 }
         END { printf "fuzzing: %d targets, %d executions in all\n", targets, executions }' \
        "$dir/fuzz.txt"
    sed -n 's/^fuzz /  /p' "$dir/fuzz.txt"
else
    echo "fuzzing: not run"
fi

if [ -s "$dir/heap-failures.txt" ]; then
    # One line per test and family: the counts add up.
    awk '$1 == "heap-failure" { operations[$2] += $3; failures[$2] += $5 }
         END {
             for (f in operations) { ops += operations[f]; total += failures[f] }
             printf "heap-failure injection: %d allocation failures injected over %d operations\n", total, ops
             for (f in operations)
                 printf "  %-14s %4d operations %6d injected failures\n", f, operations[f], failures[f] | "sort"
         }' "$dir/heap-failures.txt"
else
    echo "heap-failure injection: no counts reported"
fi

if [ -s "$dir/valgrind.txt" ]; then
    tail -n 1 "$dir/valgrind.txt"
else
    echo "valgrind: not run"
fi

if [ -s "$dir/coverage.txt" ]; then
    cat "$dir/coverage.txt"
else
    echo "coverage: not measured"
fi
