#!/usr/bin/env bash
# The console's run command without a display, stopped as a user stops it:
# it starts its own X server and drives the test page; once the page says
# it is online, SIGINT goes to the run command's whole process group, as
# Ctrl-C does. The console must close through its own close path (the page
# logs out: the server's record holds the Logout) and the run must end with
# nothing left: none of the processes it recorded, nothing in the sessions
# they lead (the web engine's helpers, nginx), no X server lock.
#   run_console_stop_test.sh RUN_SCRIPT BUILD_DIR
set -euo pipefail
script=$1
build=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-run-test-XXXXXX")
group=""

# What the run recorded ("PID NAME" lines), once known.
pids_file=""

cleanup() {
    if [ -n "$group" ]; then
        kill -KILL -- "-$group" 2>/dev/null || true
    fi
    if [ -n "$pids_file" ] && [ -f "$pids_file" ]; then
        while read -r pid _; do
            kill -KILL -- "-$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null || true
        done <"$pids_file"
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    echo "--- run command output"
    tail -n 60 "$tmp/out" || true
    for f in "$tmp"/tarvex-run-*/server.log "$tmp"/tarvex-run-*/tarvex.out; do
        [ -f "$f" ] && { echo "--- $f"; tail -n 40 "$f"; }
    done
    exit 1
}

running() {
    local state
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
    [ "$state" != Z ]
}

await() {
    local seconds=$1
    shift
    for _ in $(seq $((seconds * 10))); do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}

online() {
    grep -q 'status online' "$tmp/out"
}

ended() {
    ! running "$group"
}

# A group of its own with SIGINT at its default, as in a terminal; no
# display, so the run starts its X server and drives the page.
TMPDIR=$tmp setsid env -u DISPLAY --default-signal=INT "$script" "$build" >"$tmp/out" 2>&1 &
group=$!
# The web engine's first start and the login's addressing wait (about 5 s).
await 180 online || fail "the page was not online within 180 s"
work=$(echo "$tmp"/tarvex-run-*)
[ -d "$work" ] || fail "no run folder under $tmp"
pids_file=$work/pids
for name in tarvex ptt_server Xvfb; do
    grep -q " $name\$" "$pids_file" || fail "the run recorded no $name"
done
display=$(head -n 1 "$work/display")

kill -INT -- "-$group"
await 60 ended || fail "the run command still runs 60 s after SIGINT"
rc=0
wait "$group" || rc=$?
group=""

leaders=$(awk '{print $1}' "$pids_file" | tr '\n' ' ')
for pid in $leaders; do
    running "$pid" && fail "$(grep "^$pid " "$pids_file") still runs after the run command"
done
# Each helper leads a session of its own: nothing may be left in them.
# (An ended process that nobody has reaped yet, state Z, has ended.)
left=$(ps -eo pid=,ppid=,sid=,stat=,args= | awk -v s="$leaders" \
    'BEGIN { n = split(s, a, " "); for (i = 1; i <= n; i++) m[a[i]] = 1 }
     ($3 in m) && $4 !~ /^Z/ { print }')
[ -z "$left" ] || fail "left in the run's sessions (pid ppid session state command):
$left
recorded: $(cat "$pids_file")"
[ ! -e "/tmp/.X$display-lock" ] || fail "the X server's lock /tmp/.X$display-lock is left"
grep -q 'ptt.rr.Logout' "$work/server.log" || fail "the server never received Logout"
grep -q 'call closeMainwindowX' "$work/qtlog.txt" || fail "the page was not asked to close"
[ "$rc" -eq 0 ] || fail "the run command exited $rc"
if compgen -G "$tmp/xvfb-run.*" >/dev/null; then
    fail "an xvfb-run folder is left: $(echo "$tmp"/xvfb-run.*)"
fi
echo "PASS: the page closed and logged out; the run ended with nothing left; exit 0"
