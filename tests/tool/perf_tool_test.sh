#!/usr/bin/env bash
# The perf commands end to end: install, list, status, a demo server, the
# monitor without a terminal in its formats and its Prometheus file, uninstall;
# blocks of another account or that others may write; a damaged installation.
# usage: perf_tool_test.sh TQBS   (TQ_REGISTRY_ROOT and TQ_SHM_NAMESPACE set)
set -euo pipefail
tqbs=$1
source "$(dirname "$0")/bounded_wait.sh"
: "${TQ_REGISTRY_ROOT:?}" "${TQ_SHM_NAMESPACE:?}"
export TQ_SHM_NAMESPACE="${TQ_SHM_NAMESPACE}$$_"  # runs side by side stay apart
work=$(mktemp -d)
export TQ_EVENT_LOG="$work/events"  # the system log, kept out of syslog
demo=
cleanup() {
    if [ -n "$demo" ]; then kill "$demo" 2>/dev/null || true; bounded_wait "$demo" 10 2>/dev/null || true; fi
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
rc=0; "$tqbs" perf monitor --format xml 2>/dev/null || rc=$?
[ "$rc" -eq 2 ] || fail "an unknown format is a usage error, got $rc"
rc=0; "$tqbs" perf monitor --counters commits,bogus 2>"$work/err" || rc=$?
[ "$rc" -eq 2 ] && grep -q "no counter 'bogus'" "$work/err" && grep -q "^  waiting_jobs " "$work/err" \
    || fail "an unknown counter is a usage error that lists the names: $rc"
rc=0; "$tqbs" perf status --json >"$work/status" || rc=$?
[ "$rc" -eq 1 ] && [ "$(cat "$work/status")" = '{"installed":false}' ] || fail "status --json: $rc"
rc=0; "$tqbs" demo --seconds 1 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] && grep -q "not installed; run 'tqbs perf install' first" "$work/err" \
    || fail "demo before install: $rc"
# Without an installation the textfile is written all the same, with up 0,
# and the table says why it has no values. A textfile that cannot be written
# (no such directory, a directory in its place) ends the monitor.
"$tqbs" perf monitor --count 1 --interval 0.1 --format table --prometheus "$work/none.prom" \
    >"$work/out" || fail "monitor --prometheus without an installation"
grep -qx "tessaloquin_up 0" "$work/none.prom" || fail "not installed, yet not up 0"
grep -q "^[0-9:]*  not installed: waiting for 'tqbs perf install'$" "$work/out" \
    || fail "the table does not say why it has no values: $(cat "$work/out")"
for file in "$work/no/tq.prom" "$work"; do
    rc=0; "$tqbs" perf monitor --count 1 --interval 0.1 --prometheus "$file" >/dev/null \
        2>"$work/err" || rc=$?
    [ "$rc" -eq 1 ] && grep -q "cannot write" "$work/err" || fail "--prometheus $file: $rc"
done

# The counters with the library's texts, then with the installed ones: type,
# scale and detail level of each ("Waiting Jobs/sec" is a raw count); as JSON,
# with the index of each installed name.
list_checks() {  # list_checks SOURCE INSTALLED
    "$tqbs" perf list >"$work/list" || fail "perf list"
    grep -q "$1" "$work/list" || fail "perf list does not say where its texts come from"
    [ "$(grep -cE '^1[0-2][0-9] ' "$work/list")" -eq 22 ] || fail "perf list: not 22 counters"
    grep -Eq '^102  Commits/sec +rate +-1  novice  commit +tessaloquin_commits_total$' "$work/list" \
        || fail "perf list: Commits/sec"
    grep -Eq '^119  Waiting Jobs/sec +raw count +1  novice  wait +tessaloquin_waiting_jobs$' \
        "$work/list" || fail "perf list: Waiting Jobs/sec"
    grep -q "^     The number of transaction commit requests since last sample.$" "$work/list" \
        || fail "perf list: no help text"
    "$tqbs" perf list --json >"$work/list.json" || fail "perf list --json"
    local index=null commits
    [ "$2" = false ] || index='[0-9]+'
    commits='\{"id":102,"name":"Commits/sec","help":"The number of transaction commit requests '
    commits+='since last sample\.","type":"rate","counter_type":[0-9]+,"scale":-1,"detail":"novice",'
    commits+="\"name_index\":$index,\"metric\":\"tessaloquin_commits_total\","
    commits+='"field":"commits_per_second","column":"commit"\},'
    head -n 1 "$work/list.json" | grep -qx "{\"installed\":$2,\"counters\":\[" \
        && [ "$(grep -cE "^\{\"id\":1[0-2][0-9],.*,\"name_index\":$index," "$work/list.json")" -eq 22 ] \
        && grep -Eqx "$commits" "$work/list.json" && [ "$(tail -n 1 "$work/list.json")" = "]}" ] \
        || fail "perf list --json: $(cat "$work/list.json")"
}
list_checks "of the library: the counters are not installed" false

# A registry store that cannot be written: the installation fails and names
# where the counter texts must lie.
touch "$work/file"
rc=0; TQ_REGISTRY_ROOT="$work/file" "$tqbs" perf install 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] && grep -q "must lie in /.*, and the registry store must be writable" "$work/err" \
    || fail "install into a file: $rc $(cat "$work/err")"
"$tqbs" perf install >/dev/null || fail "install"
rc=0; "$tqbs" perf install 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] && grep -q "already installed" "$work/err" || fail "a second install: $rc"
"$tqbs" perf status | grep -q "PrfData_Collect" || fail "status shows no entry points"
"$tqbs" perf cleanup | grep -qx "nothing to remove" || fail "cleanup before any server"
list_checks "as installed" true

"$tqbs" demo --seconds 20 >"$work/demo" 2>&1 &
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
grep -q "^# HELP tessaloquin_commits_total Transaction commit requests, a running total" \
    "$work/tq.prom" || fail "no HELP line"
grep -q "^# TYPE tessaloquin_commits_total counter" "$work/tq.prom" || fail "no counter TYPE"
grep -q "^# TYPE tessaloquin_clients gauge" "$work/tq.prom" || fail "no gauge TYPE"
grep -Eq "^tessaloquin_up 1$" "$work/tq.prom" || fail "not up"

# status --json names the running server and what one collection gave.
"$tqbs" perf status --json >"$work/status" || fail "status --json"
python3 - "$work/status" "$demo" <<'PY' || fail "status --json: $(cat "$work/status")"
import json, sys
status = json.load(open(sys.argv[1]))
assert status["installed"] and not status["disabled"]
assert status["entry_points"]["collect"] == "PrfData_Collect"
assert status["names"]["items"] == 23 == status["help_texts"]["items"]
assert status["provider"] == {"state": "running", "pid": int(sys.argv[2]),
                              "text": "running (pid %s)" % sys.argv[2]}
assert status["block"]["state"] == "live"
assert status["collection"] == {"state": "ok", "objects": 1, "counters": 22, "bytes": 1128}
PY

# The formats off a terminal, with chosen counters. A table as vmstat prints
# it: fixed-width columns, the header again after 20 lines, rates with a
# decimal and raw counts whole.
"$tqbs" perf monitor --count 22 --interval 0.1 --format table \
    --counters commits,clients,waiting_jobs >"$work/table" || fail "monitor --format table"
[ "$(grep -c '^time      commit  client    wait$' "$work/table")" -eq 2 ] \
    && [ "$(sed -n 22p "$work/table")" = "$(head -n 1 "$work/table")" ] \
    || fail "the table's header is not repeated after 20 lines: $(cat "$work/table")"
[ "$(grep -cE '^[0-9:]{8} +[0-9]+\.[0-9] +-?[0-9]+ +[0-9]+$' "$work/table")" -eq 22 ] \
    || fail "not 22 table lines of a rate and two raw counts: $(cat "$work/table")"
[ "$(awk '{ print length }' "$work/table" | sort -u | wc -l)" -eq 1 ] || fail "columns not aligned"
"$tqbs" perf monitor --count 2 --interval 0.2 --format csv --counters Clients,commits_total \
    >"$work/csv" || fail "monitor --format csv"
[ "$(head -n 1 "$work/csv")" = "time,state,clients,commits_per_second" ] || fail "csv header"
[ "$(grep -cE '^[0-9T:+-]+,ok,-?[0-9]+,[0-9]+\.[0-9]{2}$' "$work/csv")" -eq 2 ] \
    || fail "not two csv lines: $(cat "$work/csv")"
"$tqbs" perf monitor --count 2 --interval 0.2 --format json >"$work/json" || fail "--format json"
python3 - "$work/json" "$demo" <<'PY' || fail "monitor --format json: $(cat "$work/json")"
import json, sys
lines = open(sys.argv[1]).read().splitlines()
assert len(lines) == 2
for line in lines:
    sample = json.loads(line)
    assert sample["state"] == "ok" and sample["provider_pid"] == int(sys.argv[2])
    assert len(sample) == 3 + 22
    assert isinstance(sample["waiting_jobs"], int) and sample["commits_per_second"] > 0
PY

rc=0; "$tqbs" perf cleanup 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] && grep -q "provides the counters" "$work/err" || fail "cleanup beside a server: $rc"
kill "$demo"; bounded_wait "$demo" 10 || true; demo=
"$tqbs" perf monitor --count 1 --interval 0.1 --format csv | grep -q "^[^,]*,no provider,,," \
    || fail "provider gone"
"$tqbs" perf status | grep -q "block: .*(stale" || fail "status does not call the block stale"
"$tqbs" perf cleanup | grep -q "Tessaloquin_Performance" || fail "cleanup removed no block"
"$tqbs" perf status | grep -q "block: *none" || fail "a block after cleanup"

# A monitor keeps working across a cleanup: it follows the next server's block.
"$tqbs" perf monitor --count 8 --interval 0.5 >"$work/across" &
monitor=$!
"$tqbs" demo --seconds 1 >/dev/null 2>&1 || fail "first server"
"$tqbs" perf cleanup >/dev/null || fail "cleanup between servers"
"$tqbs" demo >"$work/demo" 2>&1 &  # until stopped
demo=$!
bounded_wait "$monitor" 30 || fail "monitor across a cleanup"
tail -n 1 "$work/across" | grep -Eq "Commits/sec=([1-9][0-9]*\.[0-9]|0\.[1-9])" \
    || fail "the monitor did not follow the new block: $(tail -n 1 "$work/across")"
# Uninstalled beside a server, which is noted; SIGTERM ends the server.
"$tqbs" perf uninstall | grep -q "^note: a server still provides them: running (pid $demo)" \
    || fail "uninstall beside a server"
kill "$demo"; bounded_wait "$demo" 10 || fail "demo after SIGTERM"; demo=
grep -q "until stopped" "$work/demo" && grep -q "^demo: stopped after" "$work/demo" \
    || fail "demo until stopped: $(cat "$work/demo")"
rc=0; "$tqbs" perf status >/dev/null || rc=$?
[ "$rc" -eq 1 ] || fail "status after uninstall: $rc"

# Another account's machine-wide block is read, its provider unseen (root
# alone gives the block away); one that others may write is refused, and
# named; cleanup removes it.
block=/dev/shm/"$TQ_SHM_NAMESPACE"Tessaloquin_Performance
"$tqbs" perf install >/dev/null || fail "install again"
if [ "$(id -u)" -eq 0 ]; then
    chown 65534 "$block"
    "$tqbs" perf status >"$work/status"
    grep -q "^  provider: *another account's (its provider is not visible" "$work/status" \
        && grep -q "^  block: *$block belongs to uid 65534 .*(another account's)$" "$work/status" \
        || fail "status of another account's block: $(cat "$work/status")"
    chown 0 "$block"
else
    echo "skipped: another account's block (needs root)"
fi
chmod 666 "$block"
"$tqbs" perf status | grep -q "^  refused: .*mode 0666 (others may write it" \
    || fail "status shows no refused block"
"$tqbs" perf status --json | grep -q '"block":null,"refused":\[".*mode 0666"\]' \
    || fail "status --json shows no refused block"
"$tqbs" perf cleanup | grep -q "Tessaloquin_Performance" || fail "cleanup of a refused block"

# A damaged installation, as an administrator may leave it in the store (a
# value is the file "\x01NAME": "TQRV", the type, the bytes); mended at the end.
key="$TQ_REGISTRY_ROOT/SYSTEM/CurrentControlSet/Services/Tessaloquin/Performance"
cp -a "$key" "$work/key"
value="$key/"$'\x01'
store() { printf "TQRV$2\\0\\0\\0$3" >"$value$1"; }  # store NAME TYPE BYTES, as escapes
# Disabled: a person is told, an exporter writes up 0 with the reason, and a
# server does not provide the counters.
store "Disable Performance Counters" '\004' '\001\0\0\0'
"$tqbs" perf status | grep -q "collection: *no data (the counters are disabled)" \
    || fail "status of disabled counters"
rc=0; "$tqbs" perf monitor --count 1 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] && grep -q "are disabled" "$work/err" || fail "monitor of disabled counters: $rc"
"$tqbs" perf monitor --count 1 --interval 0.1 --format json --prometheus "$work/off.prom" \
    | grep -q '"state":"disabled","reason":"disabled: ' || fail "monitor --format json, disabled"
grep -qx "tessaloquin_up 0" "$work/off.prom" || fail "disabled, yet not up 0"
rc=0; "$tqbs" demo --seconds 1 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] && grep -q "disabled in their installation" "$work/err" || fail "demo, disabled: $rc"
store "Disable Performance Counters" '\004' '\0\0\0\0'
# A library that is not there (a name that JSON must escape), one without the
# entry point named, and no entry point at all.
cp "${value}Library" "$work/library"
store Library '\001' '/nowhere/\"tq\tlib\".so\0'
"$tqbs" perf status | grep -q "collection: *impossible: cannot load /nowhere/\"tq" \
    || fail "status of a missing library"
"$tqbs" perf status --json >"$work/status"
grep -Fq '"library":"/nowhere/\"tq\u0009lib\".so",' "$work/status" \
    && grep -Fq '"collection":{"state":"impossible","error":"cannot load /nowhere/\"tq\u0009' \
        "$work/status" || fail "status --json of a missing library: $(cat "$work/status")"
rc=0; "$tqbs" perf monitor --count 1 --interval 0.1 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] && grep -q "cannot load /nowhere/" "$work/err" || fail "monitor, no library: $rc"
mv "$work/library" "${value}Library"
store Collect '\001' 'NoCollect\0'
"$tqbs" perf status | grep -q "collection: *impossible: the library has no entry point NoCollect" \
    || fail "status of a missing entry point"
store Open '\001' '\0'
"$tqbs" perf status | grep -q "collection: *impossible: the installation names no library or no entry" \
    || fail "status without an Open entry point"
# A counter's name missing from the texts: it is named by its index.
index=$("$tqbs" perf list --json | sed -n 's/^{"id":102,.*"name_index":\([0-9]*\),.*/\1/p')
[ -n "$index" ] || fail "perf list --json names no index for Commits/sec"
rm "$TQ_REGISTRY_ROOT/SOFTWARE/Microsoft/Windows NT/CurrentVersion/Perflib/009/Counter/"$'\x01'"$index"
"$tqbs" perf list | grep -Eq "^102  #$index +rate " || fail "perf list without a counter's name"
# Half-way, without its texts: every command says how to mend it.
rm "${value}First Counter"
for command in "status --json" status install uninstall; do
    rc=0; "$tqbs" perf $command >"$work/out" 2>"$work/err" || rc=$?
    [ "$rc" -eq 1 ] && grep -q "an earlier installation stopped half-way" "$work/err" \
        || fail "perf $command, half-way: $rc $(cat "$work/err")"
    [ "$command" != "status --json" ] || grep -qx '{"installed":false,"half_installed":true}' \
        "$work/out" || fail "status --json, half-way: $(cat "$work/out")"
done
rm -r "$key"
mv "$work/key" "$key"
"$tqbs" perf uninstall >/dev/null || fail "uninstall of the mended installation"
echo "perf tool: ok"
