#!/usr/bin/env bash
# The counters as Prometheus takes them: promtool checks the textfile and the
# endpoint's answer, and a real Prometheus server scrapes 'tqbs perf serve'
# while a demo server counts, and sees the commits rise.
# usage: perf_prometheus_test.sh TQBS   (TQ_REGISTRY_ROOT and TQ_SHM_NAMESPACE set)
# Exit 77 (skipped) when prometheus or promtool is missing.
set -euo pipefail
tqbs=$1
source "$(dirname "$0")/bounded_wait.sh"
: "${TQ_REGISTRY_ROOT:?}" "${TQ_SHM_NAMESPACE:?}"
for tool in prometheus promtool; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (Debian: prometheus)"; exit 77; }
done
export TQ_SHM_NAMESPACE="${TQ_SHM_NAMESPACE}$$_"
work=$(mktemp -d)
export TQ_EVENT_LOG="$work/events"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; bounded_wait "$pid" 10 2>/dev/null || true; done
    "$tqbs" perf uninstall >/dev/null 2>&1 || true
    rm -rf /dev/shm/"$TQ_SHM_NAMESPACE"* "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log; do [ -s "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }; done
    exit 1
}

# GET http://127.0.0.1:PORT/PATH with bash alone; the answer, headers
# included, into $work/answer (read whole: no pipe is cut short under
# pipefail); a server that never ends its answer fails it after 10 s.
http_get() {
    local port=$1 path=$2 rc=0
    exec 3<>"/dev/tcp/127.0.0.1/$port" || return 1
    printf 'GET %s HTTP/1.0\r\nHost: 127.0.0.1:%s\r\n\r\n' "$path" "$port" >&3
    timeout 10 tr -d '\r' <&3 >"$work/answer" || rc=$?
    exec 3<&-
    return "$rc"
}
status_line() { head -n 1 "$work/answer"; }
body() { sed '1,/^$/d' "$work/answer"; }
# A port nothing listens on (a listener that takes it meanwhile fails to start
# and is tried again on another).
free_port() {
    local port
    for _ in $(seq 100); do
        port=$((20000 + RANDOM % 40000))
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
    done
    return 1
}

"$tqbs" perf uninstall >/dev/null 2>&1 || true

# Nothing installed: the textfile is written all the same, and says so.
"$tqbs" perf monitor --count 1 --interval 0.1 --prometheus "$work/tq.prom" >/dev/null \
    || fail "monitor --prometheus without an installation"
grep -qx "tessaloquin_up 0" "$work/tq.prom" || fail "not installed, but not up 0: $(cat "$work/tq.prom")"
promtool check metrics <"$work/tq.prom" || fail "promtool: the textfile without an installation"

"$tqbs" perf install >/dev/null || fail "install"
"$tqbs" demo --seconds 25 >"$work/demo.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    grep -q "provides the Tessaloquin counters" "$work/demo.log" && break
    sleep 0.1
done

# The textfile of a live server: every counter, of the right type.
"$tqbs" perf monitor --count 1 --interval 0.5 --prometheus "$work/tq.prom" >/dev/null \
    || fail "monitor --prometheus"
echo "promtool check metrics (textfile):"
promtool check metrics <"$work/tq.prom" || fail "promtool: the textfile"
grep -qx "tessaloquin_up 1" "$work/tq.prom" || fail "the textfile is not up"
[ "$(grep -c '^# TYPE tessaloquin_.*_total counter$' "$work/tq.prom")" -eq 13 ] \
    || fail "not 13 counters of running totals"
[ "$(grep -c '^# TYPE tessaloquin_.* gauge$' "$work/tq.prom")" -eq 10 ] \
    || fail "not 9 raw counts and up as gauges"
grep -qx "# TYPE tessaloquin_waiting_jobs gauge" "$work/tq.prom" \
    || fail "Waiting Jobs/sec is a raw count: a gauge"
grep -q "^# HELP tessaloquin_commits_total .*running total" "$work/tq.prom" \
    || fail "the HELP of a total does not say it is a running total"
! grep -q "since last sample" "$work/tq.prom" || fail "a HELP text says 'since last sample'"

# The endpoint, on a port of its choosing.
"$tqbs" perf serve --listen 127.0.0.1:0 >"$work/serve.log" 2>&1 &
serve=$!
pids+=("$serve")
port=
for _ in $(seq 50); do
    port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/metrics|\1|p' "$work/serve.log")
    [ -n "$port" ] && break
    grep -q "without an HTTP server" "$work/serve.log" && { echo "SKIP: tqbs was built without cpp-httplib"; exit 77; }
    sleep 0.1
done
[ -n "$port" ] || fail "perf serve names no port"
http_get "$port" /metrics || fail "GET /metrics"
[[ $(status_line) == "HTTP/1."[01]" 200 OK" ]] || fail "GET /metrics: $(status_line)"
grep -qix "content-type: text/plain; version=0.0.4; charset=utf-8" "$work/answer" \
    || fail "the Content-Type of the text format 0.0.4"
body >"$work/metrics"
echo "promtool check metrics (endpoint):"
promtool check metrics <"$work/metrics" || fail "promtool: the endpoint's answer"
grep -qx "tessaloquin_up 1" "$work/metrics" || fail "the endpoint is not up"
http_get "$port" / && grep -q '<a href="/metrics">' "$work/answer" || fail "/ does not link /metrics"
http_get "$port" /nothing && [[ $(status_line) == *" 404 "* ]] || fail "an unknown path: $(status_line)"
rc=0; "$tqbs" perf serve --listen "127.0.0.1:$port" 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] && grep -q "cannot listen" "$work/err" || fail "a port in use: $rc"
rc=0; "$tqbs" perf serve --listen nowhere 2>/dev/null || rc=$?
[ "$rc" -eq 2 ] || fail "--listen without a port is a usage error, got $rc"

# A Prometheus server of its own scrapes the endpoint every second.
cat >"$work/prometheus.yml" <<EOF
global:
  scrape_interval: 1s
  evaluation_interval: 1s
scrape_configs:
  - job_name: tessaloquin
    static_configs:
      - targets: ['127.0.0.1:$port']
EOF
promport=
for _ in 1 2 3; do
    promport=$(free_port)
    prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
        --web.listen-address="127.0.0.1:$promport" >"$work/prometheus.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        http_get "$promport" /-/ready 2>/dev/null && [[ $(status_line) == *" 200 "* ]] && break 2
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    promport=
done
[ -n "$promport" ] || fail "prometheus did not start"

# The value of an instant query, or nothing while it has none.
query() {
    http_get "$promport" "/api/v1/query?query=$1" &&
        body | sed -n 's/.*"value":\[[0-9.]*,"\([^"]*\)"\].*/\1/p'
}
first=
for _ in $(seq 100); do
    first=$(query tessaloquin_commits_total)
    [ -n "$first" ] && break
    sleep 0.1
done
[ -n "$first" ] || fail "prometheus has no tessaloquin_commits_total"
later=$first
for _ in $(seq 100); do
    later=$(query tessaloquin_commits_total)
    [ "${later%.*}" -gt "${first%.*}" ] && break
    sleep 0.1
done
echo "prometheus: tessaloquin_commits_total $first, a scrape later $later"
[ "${later%.*}" -gt "${first%.*}" ] || fail "the commits did not rise between scrapes"
[ "$(query 'up%7Bjob%3D%22tessaloquin%22%7D')" = 1 ] || fail "prometheus finds the target down"
[ "$(query tessaloquin_up)" = 1 ] || fail "tessaloquin_up is not 1 in prometheus"
# Prometheus took the TYPE lines: a counter and a gauge.
http_get "$promport" "/api/v1/metadata?metric=tessaloquin_commits_total" &&
    grep -q '"type":"counter"' "$work/answer" || fail "tessaloquin_commits_total is no counter there"
http_get "$promport" "/api/v1/metadata?metric=tessaloquin_waiting_jobs" &&
    grep -q '"type":"gauge"' "$work/answer" || fail "tessaloquin_waiting_jobs is no gauge there"

# SIGTERM stops the endpoint cleanly.
kill -TERM "$serve"
rc=0; bounded_wait "$serve" 10 || rc=$?
[ "$rc" -eq 0 ] || fail "perf serve after SIGTERM: exit $rc"
grep -q "stopped" "$work/serve.log" || fail "perf serve did not say it stopped"
echo "perf prometheus: ok"
