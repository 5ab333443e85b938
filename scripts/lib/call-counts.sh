#!/usr/bin/env bash
# Counts the instructions, loads and stores per operation of the paths in
# bench/call_counts.cpp and of their peers, under callgrind (valgrind), and
# prints them as a markdown table. The counts do not depend on the machine's
# load, so they show where a time ratio comes from: the work a call must do.
#   scripts/lib/call-counts.sh PROGRAM
set -euo pipefail
if [ $# -ne 1 ]; then
    echo "usage: $0 PROGRAM (build/bench/bench/call_counts)" >&2
    exit 2
fi
program=$1
if ! command -v valgrind >/dev/null 2>&1; then
    echo "call counts: valgrind is not installed (Debian: valgrind)" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Only the case functions are counted (with everything they call); the
# program's own setup is not.
valgrind --tool=callgrind --cache-sim=yes --collect-atstart=no \
    --toggle-collect='*::Count*' --callgrind-out-file="$work/out" \
    "$program" >"$work/cases" 2>"$work/log" ||
    { cat "$work/log" >&2; exit 1; }
callgrind_annotate --inclusive=yes --threshold=100 "$work/out" >"$work/inclusive"
callgrind_annotate --threshold=100 "$work/out" >"$work/self"

python3 - "$work/cases" "$work/inclusive" "$work/self" <<'PY'
import re, sys

cases = [l.split() for l in open(sys.argv[1]) if l.startswith("case ")]
tokens = [l.split() for l in open(sys.argv[1]) if l.startswith("tokens ")]
# Ir, Dr and Dw of each case function, from callgrind_annotate's lines
# "  1,234 (x%)  5,678 (y%)  9,012 (z%) ... file:function [object]": with
# what it calls (inclusive), and of its own code alone, which for the inline
# paths (the appends, MemFile::Write) is the code of the calls themselves.
def counts_of(annotated):
    counts = {}
    number = r"([\d,]+)(?: \([^)]*\))?"
    pattern = re.compile(r"^\s*" + r"\s+".join([number] * 3) + r".*::(Count\w+)\(\)")
    for line in open(annotated):
        m = pattern.match(line)
        if m and m.group(4) not in counts:
            counts[m.group(4)] = [int(m.group(i).replace(",", "")) for i in (1, 2, 3)]
    return counts

inclusive, own = counts_of(sys.argv[2]), counts_of(sys.argv[3])
rows = {}
print("| path | side | instructions / op | loads / op | stores / op "
      "| inline: instructions, loads, stores / op | instructions, ours / side |")
print("|---|---|---:|---:|---:|---|---:|")
for _, path, side, function, operations, inlined in cases:
    if function not in inclusive:
        sys.exit(f"call counts: no count for {function}")
    per = [c / int(operations) for c in inclusive[function]]
    mine = [c / int(operations) for c in own.get(function, [0, 0, 0])]
    rows[(path, side)] = per
    ours = rows.get((path, "ours"))
    ratio = f"{ours[0] / per[0]:.2f}" if ours and side != "ours" else "—"
    # Only where the calls are inline: elsewhere the case's own code is its loop.
    inline = f"{mine[0]:.1f}, {mine[1]:.1f}, {mine[2]:.1f}" if inlined == "1" else "—"
    print(f"| {path} | {side} | {per[0]:.1f} | {per[1]:.1f} | {per[2]:.1f} | {inline} | {ratio} |")
for _, path, count, sequences in tokens:
    ours, lz4 = rows.get((path, "ours")), rows.get((path, "lz4"))
    if ours and lz4:
        print(f"\n{path}: our stream has {count} tokens, {ours[0] / int(count):.1f} instructions "
              f"per token; LZ4's has {sequences} sequences, "
              f"{lz4[0] / int(sequences):.1f} instructions per sequence.")
print("\nUnder valgrind memcpy runs without AVX-512 and `rep movsb` counts one load and"
      " store per byte, so the memcpy row and the vector's growth copies count more"
      " loads and stores than the processor makes; the inline columns are exact.")
PY
