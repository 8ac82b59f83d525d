#!/usr/bin/env bash
# The main job: what a dispatcher runs. Until the console exists it starts the
# test push-to-talk server on 127.0.0.1 and runs the engine against it with
# the command-line driver, which logs in as "dispatcher" and prints every
# status change; Ctrl-C logs out and ends both.
#   tools/run-main.sh [build-dir] [lirko_cli options, e.g. --seconds 10]
set -euo pipefail
build=${1:-build}
shift || true
run=$(cd "$build/run" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ptt-run-XXXXXX")
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    echo "Logs: $work/server.log (server), $work/engine.out and $work/kvptt.log (engine)"
}
trap cleanup EXIT

"$run/ptt_server" --ports-file "$work/ports" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
    [ -s "$work/ports" ] && break
    sleep 0.05
done
read -r udp tcp <"$work/ports"
echo "ptt_server on 127.0.0.1: addressing udp $udp, signalling tcp $tcp"
printf '[network]\ndns = 127.0.0.1:%s\n' "$udp" >"$work/custom.ini"

# The engine logs every line to standard output as well; keep that in a file
# and show the driver's own lines. Ctrl-C is for the driver (it logs out);
# the rest of the pipeline ignores it and ends when the driver does.
cd "$work"
trap '' INT
"$run/lirko_cli" --dir "$work" --account dispatcher --password dispatcher-pw "$@" |
    tee "$work/engine.out" | grep --line-buffered '^lirko_cli:'
