# shellcheck shell=bash
# Sourced by the tool's tests: waits that end, so that a hung process fails
# the test in seconds instead of holding up the run.

# bounded_wait PID SECONDS: waits for the background job PID, SECONDS at most.
# Its exit status, or 124 when it still ran and was killed (SIGKILL).
bounded_wait() {
    local pid=$1 tenths=$(($2 * 10))
    # The shell reaps its jobs as they end, so kill -0 fails once PID is done.
    while kill -0 "$pid" 2>/dev/null; do
        if [ "$tenths" -le 0 ]; then
            echo "process $pid still ran after $2 s: killed" >&2
            kill -KILL "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
            return 124
        fi
        sleep 0.1
        tenths=$((tenths - 1))
    done
    wait "$pid"
}
