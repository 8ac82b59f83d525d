#!/usr/bin/env bash
# The console against the test push-to-talk server, as a dispatcher runs it:
#   tools/run-console.sh [build-dir]
# Starts ptt_server, a web server for the test page and an RTMP server (nginx)
# with a test stream published by ffmpeg, all on 127.0.0.1; writes custom.ini,
# config.ini and py.res into a fresh folder and starts tarvex there, with the
# test dispatcher's account on its command line. The page's buttons log in,
# join, talk, open the video wall on the test stream and start a video call
# (pushing "console", pulling the test stream). With a
# display the window shows there; without one it runs under xvfb-run, a
# screenshot is saved every few seconds, and the calls the console makes into
# the page are printed as they reach qtlog.txt. Ctrl-C stops everything and
# names the logs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# Inside xvfb-run: the console, the screenshots and the page's calls.
if [ "${1:-}" = "--inside" ]; then
    work=$2
    shift 2
    cd "$work"
    mkdir -p shots
    "$@" >"$work/tarvex.out" 2>&1 &
    console=$!
    (
        n=0
        while kill -0 "$console" 2>/dev/null; do
            sleep 4
            n=$((n + 1))
            ffmpeg -loglevel error -y -f x11grab -video_size 1920x1080 -i "$DISPLAY" \
                -frames:v 1 "shots/shot-$(printf %03d $n).png" </dev/null >/dev/null 2>&1 &&
                cp "shots/shot-$(printf %03d $n).png" shots/latest.png || true
        done
    ) &
    shooter=$!
    trap 'kill "$console" 2>/dev/null || true' INT TERM
    wait "$console" || true
    kill "$shooter" 2>/dev/null || true
    wait "$shooter" 2>/dev/null || true
    exit 0
fi

build=${1:-build}
run=$(cd "$build/run" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-run-XXXXXX")
server_pid=""
http_pid=""
follow_pid=""
nginx_pid=""
stream_pid=""
page_query=""
# shellcheck source=tools/run-common.sh
. "$root/tools/run-common.sh"

# The test page from a folder of its own, on a free port.
serve_page() {
    mkdir -p "$work/www"
    cp "$root/tests/fixtures/console/dispatcher.html" "$work/www/"
    python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work/www" \
        >"$work/http.log" 2>&1 &
    http_pid=$!
    local port=""
    for _ in $(seq 100); do
        port=$(sed -nE 's/.*port ([0-9]+).*/\1/p' "$work/http.log" | head -n 1)
        [ -n "$port" ] && break
        sleep 0.05
    done
    if [ -z "$port" ]; then
        echo "the page server did not start:" >&2
        cat "$work/http.log" >&2
        return 1
    fi
    page="http://127.0.0.1:$port/dispatcher.html$page_query"
    echo "test page: $page"
}

write_settings() {
    printf '[Qt]\nqtlog=1\n\n[network]\nurl=%s\n' "$page" >"$work/config.ini"
    if [ -f "$run/py.res" ]; then
        cp "$run/py.res" "$work/py.res"
    else
        echo "warning: $run/py.res is missing; names sort by code point" >&2
    fi
    provide_pinyin_table
}

# nginx's RTMP module on a free port and a test stream ("test": a moving test
# picture with a tone) published into it. Without nginx's module or ffmpeg
# the console runs without video.
start_rtmp() {
    if [ ! -f /usr/lib/nginx/modules/ngx_rtmp_module.so ] || ! command -v ffmpeg >/dev/null; then
        echo "no nginx RTMP module or ffmpeg: the video buttons have no server" >&2
        return 0
    fi
    local rtmp_port stat_port
    rtmp_port=$(free_port)
    stat_port=$(free_port)
    "$root/tools/rtmp-server.sh" "$work/rtmp" "$rtmp_port" "$stat_port" \
        >"$work/nginx.log" 2>&1 &
    nginx_pid=$!
    if ! await_port "$rtmp_port" 10; then
        echo "nginx did not start:" >&2
        cat "$work/nginx.log" >&2
        return 1
    fi
    local base="rtmp://127.0.0.1:$rtmp_port/live"
    ffmpeg -hide_banner -loglevel warning -re \
        -f lavfi -i "testsrc2=s=640x360:r=25" -f lavfi -i "sine=frequency=440:sample_rate=44100" \
        -c:v libx264 -preset ultrafast -tune zerolatency -g 25 -pix_fmt yuv420p \
        -c:a aac -b:a 64k -f flv "$base/test" </dev/null >"$work/ffmpeg.log" 2>&1 &
    stream_pid=$!
    page_query="?rtmp=$base"
    echo "RTMP server: $base (test stream $base/test, clients on" \
        "http://127.0.0.1:$stat_port/stat)"
}

finish() {
    [ -n "$follow_pid" ] && kill "$follow_pid" 2>/dev/null
    [ -n "$http_pid" ] && kill "$http_pid" 2>/dev/null
    [ -n "$stream_pid" ] && { kill "$stream_pid" 2>/dev/null || true; }
    if [ -n "$nginx_pid" ]; then
        kill -TERM "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
    stop_server
    echo
    echo "Logs in $work:"
    echo "  qtlog.txt (console), kvptt.log (engine), server.log (ptt_server), tarvex.out"
    [ -n "$nginx_pid" ] &&
        echo "  nginx.log (RTMP server), ffmpeg.log (test stream); video: $run/log/kvvideo.log"
    [ -d "$work/shots" ] && echo "  screenshots: $work/shots (latest.png)"
    return 0
}
trap finish EXIT

start_server
start_rtmp
serve_page
write_settings

export QT_QPA_PLATFORM=xcb
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
if ! ls /dev/snd/pcmC*p >/dev/null 2>&1; then
    echo "no sound card: the engine plays and records nothing (LIRKO_AUDIO=null)"
    export LIRKO_AUDIO=null
    # The video calls write the sound they play into files there instead.
    mkdir -p "$work/video-sound"
    export VISTREL_TEST_DIR="$work/video-sound"
fi

# The page's calls as they reach qtlog.txt.
touch "$work/qtlog.txt"
tail -n +1 -F "$work/qtlog.txt" 2>/dev/null | grep --line-buffered -E 'call |channel ' &
follow_pid=$!

console=("$run/tarvex" dispatcher dispatcher-pw)
if [ -n "${DISPLAY:-}" ]; then
    echo "console on $DISPLAY; close its window or press Ctrl-C to stop"
    cd "$work"
    "${console[@]}" >"$work/tarvex.out" 2>&1 || true
else
    echo "no display: the console runs under xvfb-run; screenshots in $work/shots"
    xvfb-run -a -s "-screen 0 1920x1080x24" "$root/tools/run-console.sh" --inside "$work" \
        "${console[@]}" || true
fi
