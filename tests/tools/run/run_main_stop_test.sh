#!/usr/bin/env bash
# Starts the run command in a process group of its own, as a terminal does,
# waits until the driver is online and sends SIGINT to the whole group, as
# Ctrl-C does. The driver must log out while the server still answers (the
# server's record holds the Logout), then the script ends the server: nothing
# of the group is left running. The engine must also find its name table.
#   run_main_stop_test.sh RUN_SCRIPT BUILD_DIR
set -euo pipefail
# shellcheck source=wait_lib.sh
source "$(dirname "$0")/wait_lib.sh"
script=$1
build=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/ptt-run-test-XXXXXX")
group=""

cleanup() {
    if [ -n "$group" ]; then
        kill -KILL -- "-$group" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    echo "--- run command output"
    cat "$tmp/out" || true
    for f in "$tmp"/ptt-run-*/server.log; do
        [ -f "$f" ] && { echo "--- $f"; cat "$f"; }
    done
    exit 1
}


online() {
    grep -q '^lirko_cli: status 3 (online)' "$tmp/out"
}

ended() {
    ! running "$group"
}

# setsid makes the script the leader of a new group; SIGINT back at its
# default, as in a terminal (a background job of this script ignores it).
TMPDIR=$tmp setsid env --default-signal=INT "$script" "$build" >"$tmp/out" 2>&1 &
group=$!
await 60 online || fail "the driver was not online within 60 s"
server=$(pgrep -g "$group" -x ptt_server) || fail "no ptt_server in the group"
driver=$(pgrep -g "$group" -x lirko_cli) || fail "no lirko_cli in the group"

kill -INT -- "-$group"
await 30 ended || fail "the run command still runs 30 s after SIGINT"
rc=0
wait "$group" || rc=$?
left=$(pgrep -g "$group" || true)
group=""
for pid in $server $driver $left; do
    if running "$pid"; then
        kill -KILL "$pid" 2>/dev/null || true
        fail "process $pid ($(cat "/proc/$pid/comm" 2>/dev/null)) still runs after the run command"
    fi
done

work=$(echo "$tmp"/ptt-run-*)
[ -d "$work" ] || fail "no run folder under $tmp"
grep -q 'ptt.rr.Logout' "$work/server.log" || fail "the server never received Logout"
grep -q '^lirko_cli: logged out' "$tmp/out" || fail "the driver did not report the logout"
[ "$rc" -eq 0 ] || fail "the run command exited $rc"
# The engine logs "open :./pinyin.code error" when the table is missing.
if grep -q 'pinyin\.code error' "$work/engine.out"; then
    fail "the engine could not open pinyin.code: $(grep 'pinyin\.code error' "$work/engine.out")"
fi
echo "PASS: Logout reached the server; driver and server ended; exit 0"
