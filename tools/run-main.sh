#!/usr/bin/env bash
# The main job: what a dispatcher runs. Until the console exists it starts the
# test push-to-talk server on 127.0.0.1 and runs the engine against it with
# the command-line driver, which logs in as "dispatcher" and prints every
# status change.
#   tools/run-main.sh [build-dir] [lirko_cli options, e.g. --seconds 10]
#
# Stop order: Ctrl-C is for the driver alone. It logs out while the server
# still answers and ends; only then does this script end the server.
set -euo pipefail
build=${1:-build}
shift || true
run=$(cd "$build/run" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ptt-run-XXXXXX")
server_pid=""

# The engine reads its name-ordering table from its working folder; without
# it names are listed unordered.
provide_pinyin_table() {
    if [ -f "$run/pinyin.code" ]; then
        ln -s "$run/pinyin.code" "$work/pinyin.code"
    else
        echo "warning: $run/pinyin.code is missing (build the pinyin_code target);" \
            "names will not be ordered" >&2
    fi
}

# Starts the server with SIGINT ignored (it keeps it so), waits for its ports
# and points the engine's custom.ini at them.
start_server() {
    (
        trap '' INT
        exec "$run/ptt_server" --ports-file "$work/ports"
    ) >"$work/server.log" 2>&1 &
    server_pid=$!
    for _ in $(seq 100); do
        [ -s "$work/ports" ] && break
        if ! kill -0 "$server_pid" 2>/dev/null; then
            echo "ptt_server did not start:" >&2
            cat "$work/server.log" >&2
            return 1
        fi
        sleep 0.05
    done
    local udp tcp
    read -r udp tcp <"$work/ports"
    echo "ptt_server on 127.0.0.1: addressing udp $udp, signalling tcp $tcp"
    printf '[network]\ndns = 127.0.0.1:%s\n' "$udp" >"$work/custom.ini"
}

stop_server() {
    if [ -n "$server_pid" ]; then
        kill -TERM "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
        server_pid=""
    fi
}

# The engine logs every line to standard output as well; keep that in a file
# and show the driver's own lines. Ctrl-C is for the driver (it logs out);
# this script and the rest of the pipeline ignore it and end when the driver
# does. Returns the driver's exit status.
run_driver() {
    cd "$work"
    trap '' INT
    "$run/lirko_cli" --dir "$work" --account dispatcher --password dispatcher-pw "$@" |
        tee "$work/engine.out" | grep --line-buffered '^lirko_cli:'
}

finish() {
    stop_server
    echo "Logs: $work/server.log (server), $work/engine.out and $work/kvptt.log (engine)"
}
trap finish EXIT

provide_pinyin_table
start_server
run_driver "$@"
