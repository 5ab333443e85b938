#!/usr/bin/env bash
# The manual page renders without a warning of groff, and the tag of every
# list item (the line after .TP or .TQ) closes its brackets on its own line:
# what is left open there spills into the item's text.
# usage: man_test.sh PAGE   (exit 77 without groff)
set -euo pipefail
page=$1
command -v groff >/dev/null 2>&1 || { echo "man_test: no groff" >&2; exit 77; }
warnings=$(groff -ww -man -z "$page" 2>&1)
[ -z "$warnings" ] || { echo "man_test: groff warns: $warnings" >&2; exit 1; }
awk 'tag {
         line = $0
         if (gsub(/\[/, "", line) != gsub(/\]/, "", line)) {
             print "man_test: " FILENAME ":" FNR ": a tag that wraps: " $0
             broken = 1
         }
     }
     { tag = /^\.T[PQ]/ }
     END { exit broken }' "$page" >&2
echo "man_test: $page renders cleanly"
