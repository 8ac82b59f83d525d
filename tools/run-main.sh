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
# shellcheck source=tools/run-common.sh
. "$(dirname "$0")/run-common.sh"

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
