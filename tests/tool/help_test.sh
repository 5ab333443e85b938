#!/usr/bin/env bash
# Every command and subcommand of the tool answers --help (and 'tqbs help ...')
# with its usage on standard output and exit code 0; a missing or unknown
# command is a usage error (2) with the usage on standard error.
# usage: help_test.sh TQBS
set -euo pipefail
tqbs=$1
errfile=$(mktemp)
trap 'rm -f "$errfile"' EXIT
fail() { echo "help_test: $*" >&2; exit 1; }

expect() {  # expect CODE ARGS...: exit code and where the usage went
    local code=$1
    shift
    local out err rc=0
    out=$("$tqbs" "$@" 2>"$errfile") || rc=$?
    err=$(cat "$errfile")
    [ "$rc" -eq "$code" ] || fail "tqbs $*: exit code $rc, not $code"
    if [ "$code" -eq 0 ]; then
        grep -q '^usage: tqbs' <<<"$out" || fail "tqbs $*: no usage on standard output"
    else
        grep -q 'usage: tqbs' <<<"$err" || grep -q "^tqbs" <<<"$err" ||
            fail "tqbs $*: no message on standard error"
    fi
}

expect 0 --help
expect 0 -h
expect 0 help
expect 2
expect 2 no-such-command
for command in info error demo; do
    expect 0 "$command" --help
    expect 0 help "$command"
done
for group in "perf install uninstall status monitor" "registry get set delete list" \
             "module describe path"; do
    read -r name subs <<<"$group"
    expect 0 "$name" --help
    expect 2 "$name"
    expect 2 "$name" no-such-command
    for sub in $subs; do
        expect 0 "$name" "$sub" --help
        expect 0 help "$name" "$sub"
    done
done
# Bad arguments are usage errors too.
expect 2 info extra
expect 2 error
expect 2 demo --seconds x
expect 2 demo 5
expect 2 perf install extra
expect 2 perf status extra
expect 2 perf list --jsn
expect 2 perf monitor --count
expect 2 perf monitor --interval 0.01
expect 2 perf monitor --prometheus ''
expect 2 perf monitor --counters commits,,clients
expect 2 perf monitor 5
expect 2 perf serve 127.0.0.1:9833
for listen in '::1:9833' '[]:9833' '[::1]:65536'; do  # v6 in brackets; ports to 65535
    expect 2 perf serve --listen "$listen"
done
echo "help_test: all commands answer --help"
