#!/usr/bin/env bash
# Measures what the tests cover: builds BUILD_DIR with gcov instrumentation,
# runs every test in it and reports the lines and branches covered in the
# library (basics/) and in the tool (tools/), throw branches and branches the
# compiler made unreachable left out. One summary line each goes to stdout and,
# when SUMMARY_FILE is given, to it as well; below them the ten files with the
# most lines left uncovered; the HTML report to BUILD_DIR/coverage/index.html.
#   scripts/lib/coverage.sh BUILD_DIR [SUMMARY_FILE]
set -euo pipefail
source "$(dirname "$0")/common.sh"
if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [SUMMARY_FILE]" >&2
    exit 2
fi
build=$(realpath -m "$1")
summary_file=${2:+$(realpath -m "$2")}
if ! command -v gcovr >/dev/null 2>&1; then
    echo "coverage: gcovr is not installed (Debian: gcovr)" >&2
    exit 1
fi

# The programs keep gcov's __gcov_dump: the test program's forked children end
# with _exit and write their counts with it (tests/support/child_process.cpp).
configure_and_build "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS="--coverage -fprofile-update=atomic" \
    -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic" \
    -DCMAKE_SHARED_LINKER_FLAGS=--coverage -DCMAKE_MODULE_LINKER_FLAGS=--coverage \
    -DCMAKE_EXE_LINKER_FLAGS="--coverage -Wl,--undefined=__gcov_dump"
# Only this run's counts: those of an earlier run would add up with them.
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" --output-on-failure -j "$jobs"

report=$build/coverage
rm -rf "$report"
mkdir -p "$report"
cd "$repo_root"
# The build directory is the only place searched (other builds lie beside it),
# less CMake's compiler checks and the tool's own copy of a library source
# (whose branches would be counted twice, and as the tool runs them). One gcov
# at a time: parallel ones write their .gcov files under the same names in one
# folder and trip over each other. A
# bound, so that a stuck gcovr cannot stall the run. The counters are updated
# atomically (tests count from several threads at once), and a line gcov still
# writes wrongly is passed over rather than failing the run.
timeout 600 gcovr --root "$repo_root" --object-directory "$build" --filter basics/ --filter tools/ \
    --exclude-directories '.*/CMakeFiles/[0-9.]+$' --exclude-directories '.*/tqbs\.dir/__/basics.*' \
    --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors \
    --html-details "$report/index.html" --html-title "Tessaloquin basics: test coverage" \
    --json-summary "$report/summary.json" "$build" >/dev/null

python3 - "$report/summary.json" "$report/summary.txt" <<'PY'
import json, sys

files = json.load(open(sys.argv[1]))["files"]

def percent(covered, total):
    return f"{100.0 * covered / total:.1f}%" if total else "n/a"

lines = []
for part in ("basics/", "tools/"):
    mine = [f for f in files if f["filename"].startswith(part)]
    line = [sum(f[k] for f in mine) for k in ("line_covered", "line_total")]
    branch = [sum(f[k] for f in mine) for k in ("branch_covered", "branch_total")]
    lines.append(f"coverage {part:8} lines {percent(*line):>6} ({line[0]} of {line[1]}), "
                 f"branches {percent(*branch):>6} ({branch[0]} of {branch[1]})")
open(sys.argv[2], "w").write("".join(l + "\n" for l in lines))
print("\n".join(lines))
print("the ten files with the most uncovered lines:")
for f in sorted(files, key=lambda f: f["line_covered"] - f["line_total"])[:10]:
    print(f"  {f['line_total'] - f['line_covered']:5} of {f['line_total']:5} lines uncovered"
          f"  {f['filename']}")
PY
if [ -n "$summary_file" ]; then cp "$report/summary.txt" "$summary_file"; fi
echo "coverage report: $report/index.html"
