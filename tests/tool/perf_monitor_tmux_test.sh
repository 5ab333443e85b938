#!/usr/bin/env bash
# The monitor's live screen in a real terminal: tmux runs it at 80x24, first
# waiting for a server, then while a demo server counts; the captured screen
# holds the title, the provider line and every selected row, with all counters
# and with --counters; a smaller window cuts the rows with a "... N more" line;
# the scrollback stays empty; the last screen stays when the monitor ends, at
# its count or by Ctrl-C.
# usage: perf_monitor_tmux_test.sh TQBS   (TQ_REGISTRY_ROOT and TQ_SHM_NAMESPACE set)
# Exit 77 (skipped) when tmux is missing.
set -euo pipefail
tqbs=$1
source "$(dirname "$0")/bounded_wait.sh"
: "${TQ_REGISTRY_ROOT:?}" "${TQ_SHM_NAMESPACE:?}"
command -v tmux >/dev/null || { echo "SKIP: tmux is not installed (Debian: tmux)"; exit 77; }
export TQ_SHM_NAMESPACE="${TQ_SHM_NAMESPACE}$$_"
work=$(mktemp -d)
export TQ_EVENT_LOG="$work/events"
socket="$work/tmux"
demo=
cleanup() {
    tmux -S "$socket" kill-server 2>/dev/null || true
    if [ -n "$demo" ]; then kill "$demo" 2>/dev/null || true; bounded_wait "$demo" 10 2>/dev/null || true; fi
    "$tqbs" perf uninstall >/dev/null 2>&1 || true
    rm -rf /dev/shm/"$TQ_SHM_NAMESPACE"* "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/screen" ] && { echo "--- the screen:" >&2; cat "$work/screen" >&2; }
    exit 1
}
screen() { tmux -S "$socket" capture-pane -p -t "$1" >"$work/screen"; }
# Starts the monitor in a detached session NAME of 80x24 with ARGS.
start() {
    local name=$1
    shift
    local command
    printf -v command '%q ' env TQ_REGISTRY_ROOT="$TQ_REGISTRY_ROOT" \
        TQ_SHM_NAMESPACE="$TQ_SHM_NAMESPACE" TQ_EVENT_LOG="$TQ_EVENT_LOG" LANG=C.UTF-8 \
        "$tqbs" perf monitor --interval 0.3 "$@"
    tmux -S "$socket" new-session -d -s "$name" -x 80 -y 24 "$command; echo exit \$?; sleep 60"
}
# Waits until the screen of NAME shows rates for the counters: a second sample.
await_rates() {
    for _ in $(seq 50); do
        screen "$1"
        grep -Eq '^  Commits/sec +[0-9]+\.[0-9] /s$' "$work/screen" && return 0
        sleep 0.1
    done
    fail "$1: no rates on the screen"
}
# check_screen NAME ROW...: title, provider and these rows; nothing else.
check_screen() {
    local name=$1
    shift
    sed -n 1p "$work/screen" | grep -q "^Tessaloquin performance counters  sample [0-9]*" \
        || fail "$name: no title"
    sed -n 2p "$work/screen" | grep -q "^provider: running (pid $demo) " || fail "$name: no provider line"
    for row in "$@"; do
        grep -Eq "^  $row +(-?[0-9]+|[0-9]+\.[0-9] /s)$" "$work/screen" || fail "$name: no row '$row'"
    done
    [ "$(grep -c '^  [A-Za-z]' "$work/screen")" -eq $# ] || fail "$name: not $# rows"
}
pane() { tmux -S "$socket" display -p -t "$1" "$2"; }

"$tqbs" perf uninstall >/dev/null 2>&1 || true
"$tqbs" perf install >/dev/null || fail "install"
# The installed names, as the screen shows them (perf list's fixed-width column).
mapfile -t names < <("$tqbs" perf list | grep -E '^[0-9]+ ' | cut -c6-31 | sed 's/ *$//')
[ "${#names[@]}" -eq 22 ] || fail "perf list names ${#names[@]} counters, not 22"

# Started before the server, the monitor says what it waits for, then shows
# every counter: title, provider and 22 rows fill the 24 lines exactly.
start all
for _ in $(seq 50); do
    screen all
    grep -q "^  no provider: waiting for a Tessaloquin server" "$work/screen" && break
    sleep 0.1
done
grep -q "^  no provider: waiting" "$work/screen" || fail "all: does not wait for a server"
"$tqbs" demo --seconds 30 >"$work/demo" 2>&1 &
demo=$!
await_rates all
check_screen all "${names[@]}"

# A window of 10 lines keeps the title and the provider, 7 rows and a line
# that counts the 15 cut; back at 24 lines, every row again.
tmux -S "$socket" resize-window -t all -x 80 -y 10
for _ in $(seq 30); do
    screen all
    grep -q "more$" "$work/screen" && break
    sleep 0.1
done
[ "$(wc -l <"$work/screen")" -eq 10 ] || fail "not 10 lines in a window of 10"
grep -Eq '^  (…|\.\.\.) 15 more$' "$work/screen" || fail "no line counting the 15 rows cut"
sed -n 1p "$work/screen" | grep -q "^Tessaloquin performance counters" || fail "small: no title"
sed -n 2p "$work/screen" | grep -q "^provider: running" || fail "small: no provider line"
tmux -S "$socket" resize-window -t all -x 80 -y 24
for _ in $(seq 30); do
    screen all
    grep -q "^  ${names[21]}" "$work/screen" && break
    sleep 0.1
done
check_screen all "${names[@]}"
# Ctrl-C ends it with its last screen (its title scrolled off by the exit line).
tmux -S "$socket" send-keys -t all C-c
for _ in $(seq 30); do
    tmux -S "$socket" capture-pane -p -S - -t all >"$work/screen"
    grep -q "^exit " "$work/screen" && break
    sleep 0.1
done
grep -qx "exit 0" "$work/screen" || fail "all: Ctrl-C did not end the monitor with 0"
grep -q "^Tessaloquin performance counters  sample [0-9]*, every" "$work/screen" \
    && grep -q "^  ${names[21]}" "$work/screen" || fail "all: the last screen did not stay"

# Chosen counters, by short, metric and installed names, in the order given.
start some --counters 'commits,tessaloquin_clients,Waiting Jobs/sec' --count 12
await_rates some
check_screen some "Commits/sec" "Clients" "Waiting Jobs/sec"
grep -A2 "^  Commits/sec" "$work/screen" | tail -n 1 | grep -q "^  Waiting Jobs/sec" \
    || fail "some: not in the order given"

# When the monitor ends, its last screen stays on the normal screen, and the
# twelve screens before it left nothing in the scrollback.
for _ in $(seq 60); do
    [ "$(pane some '#{alternate_on}')" = 0 ] && break
    sleep 0.1
done
screen some
grep -q "sample 12 of 12" "$work/screen" || fail "some: the last screen did not stay"
grep -Eq '^  Clients +[0-9]+$' "$work/screen" || fail "some: the last screen lost its rows"
[ "$(pane some '#{history_size}')" = 0 ] || fail "some: the scrollback holds lines"
echo "perf monitor in tmux: ok"
