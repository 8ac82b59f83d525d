#!/usr/bin/env bash
# xvfb-run.sh WIDTH HEIGHT COMMAND...: runs COMMAND on a private Xvfb screen of
# WIDTHxHEIGHT, so console tests run side by side and see the desktop size
# they expect. Xvfb picks a free display and reports it through -displayfd.
set -euo pipefail
width=$1
height=$2
shift 2
dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 "${width}x${height}x24" -nolisten tcp 3>"$dir/display" \
    2>"$dir/xvfb.log" &
pid=$!
cleanup() {
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    rm -rf "$dir"
}
trap cleanup EXIT
for _ in $(seq 200); do
    [ -s "$dir/display" ] && break
    kill -0 "$pid" 2>/dev/null || { cat "$dir/xvfb.log" >&2; exit 1; }
    sleep 0.05
done
display=$(head -n 1 "$dir/display")
[ -n "$display" ] || { echo "Xvfb did not start" >&2; exit 1; }
# No GLX: on a screen with no GPU, Qt would load Mesa's software driver, which
# leaks a buffer and is unloaded before LeakSanitizer can name it. The widgets
# and the web engine draw in software either way.
DISPLAY=":$display" QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=none "$@"
