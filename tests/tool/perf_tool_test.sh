#!/usr/bin/env bash
# The perf commands end to end: install, a demo server, the monitor without a
# terminal and its Prometheus file, uninstall.
# usage: perf_tool_test.sh TQBS   (TQ_REGISTRY_ROOT and TQ_SHM_NAMESPACE set)
set -euo pipefail
tqbs=$1
: "${TQ_REGISTRY_ROOT:?}" "${TQ_SHM_NAMESPACE:?}"
export TQ_SHM_NAMESPACE="${TQ_SHM_NAMESPACE}$$_"  # runs side by side stay apart
work=$(mktemp -d)
export TQ_EVENT_LOG="$work/events"  # the system log, kept out of syslog
demo=
cleanup() {
    if [ -n "$demo" ]; then kill "$demo" 2>/dev/null || true; wait "$demo" 2>/dev/null || true; fi
    "$tqbs" perf uninstall >/dev/null 2>&1 || true
    rm -rf /dev/shm/"$TQ_SHM_NAMESPACE"*
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$tqbs" perf uninstall >/dev/null 2>&1 || true  # what an aborted run left
rc=0; "$tqbs" perf monitor --count 1 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] && grep -q "not installed" "$work/err" || fail "monitor before install: $rc"
rc=0; "$tqbs" perf monitor --count 0 2>/dev/null || rc=$?
[ "$rc" -eq 2 ] || fail "a count of 0 is a usage error, got $rc"

"$tqbs" perf install >/dev/null || fail "install"
"$tqbs" perf status | grep -q "PrfData_Collect" || fail "status shows no entry points"

"$tqbs" demo --seconds 5 >"$work/demo" 2>&1 &
demo=$!
for _ in $(seq 50); do
    grep -q "provides the Tessaloquin counters" "$work/demo" && break
    kill -0 "$demo" 2>/dev/null || fail "demo ended: $(cat "$work/demo")"
    sleep 0.1
done
rc=0; "$tqbs" demo --seconds 1 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] && grep -q "another server" "$work/err" || fail "second demo: $rc"
grep -q "The instance of Tessaloquin performance counters already exist" "$work/events" \
    || fail "no log entry for the second provider"

# Links planted at the file and where a fixed temporary name would be are
# replaced or left alone, never followed.
echo keep >"$work/victim"
ln -s "$work/victim" "$work/tq.prom"
ln -s "$work/victim" "$work/tq.prom.tmp"
"$tqbs" perf monitor --count 2 --interval 1 --prometheus "$work/tq.prom" >"$work/out" \
    || fail "monitor"
[ "$(cat "$work/victim")" = keep ] && [ ! -L "$work/tq.prom" ] || fail "a planted link was followed"
[ -z "$(find "$work" -name '.tq.prom.*')" ] || fail "temporary file left"
cat "$work/out"
[ "$(wc -l <"$work/out")" -eq 2 ] || fail "not one line per sample"
grep -q "Commits/sec=" "$work/out" || fail "no Commits/sec"
grep -Eq "Commits/sec=([1-9][0-9]*\.[0-9]|0\.[1-9])" "$work/out" || fail "commit rate is 0"
grep -q "^# HELP tessaloquin_commits_total The number of transaction commit" "$work/tq.prom" \
    || fail "no HELP line"
grep -q "^# TYPE tessaloquin_commits_total counter" "$work/tq.prom" || fail "no counter TYPE"
grep -q "^# TYPE tessaloquin_clients gauge" "$work/tq.prom" || fail "no gauge TYPE"
grep -Eq "^tessaloquin_up 1$" "$work/tq.prom" || fail "not up"

rc=0; "$tqbs" perf cleanup 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] && grep -q "provides the counters" "$work/err" || fail "cleanup beside a server: $rc"
kill "$demo"; wait "$demo" || true; demo=
"$tqbs" perf monitor --count 1 --interval 0.1 | grep -q "no provider" || fail "provider gone"
"$tqbs" perf status | grep -q "block: .*(stale" || fail "status does not call the block stale"
"$tqbs" perf cleanup | grep -q "Tessaloquin_Performance" || fail "cleanup removed no block"
"$tqbs" perf status | grep -q "block: *none" || fail "a block after cleanup"

# A monitor keeps working across a cleanup: it follows the next server's block.
"$tqbs" perf monitor --count 8 --interval 0.5 >"$work/across" &
monitor=$!
"$tqbs" demo --seconds 1 >/dev/null 2>&1 || fail "first server"
"$tqbs" perf cleanup >/dev/null || fail "cleanup between servers"
"$tqbs" demo --seconds 4 >/dev/null 2>&1 &
demo=$!
wait "$monitor" || fail "monitor across a cleanup"
tail -n 1 "$work/across" | grep -Eq "Commits/sec=([1-9][0-9]*\.[0-9]|0\.[1-9])" \
    || fail "the monitor did not follow the new block: $(tail -n 1 "$work/across")"
kill "$demo"; wait "$demo" || true; demo=
"$tqbs" perf uninstall >/dev/null || fail "uninstall"
rc=0; "$tqbs" perf status >/dev/null || rc=$?
[ "$rc" -eq 1 ] || fail "status after uninstall: $rc"
echo "perf tool: ok"
