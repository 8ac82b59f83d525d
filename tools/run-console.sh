#!/usr/bin/env bash
# The console against the test push-to-talk server, as a dispatcher runs it:
#   tools/run-console.sh [build-dir]
# Starts ptt_server, a web server for the test page and an RTMP server (nginx)
# with a test stream published by ffmpeg, all on 127.0.0.1; writes custom.ini,
# config.ini and py.res into a fresh folder and starts tarvex there, with the
# test dispatcher's account on its command line.
#
# With a display the window shows there and the page's buttons are pressed
# by hand. Without one the console runs on an X server of its own (Xvfb,
# 1920x1080), the page is driven through its steps (log in, join, a talk of
# a few seconds, the member list, the video wall; then it stays up), a
# screenshot is saved every few seconds (the newest 20 and latest.png are
# kept) and the calls the console makes into the page are printed as they
# reach qtlog.txt.
#
# Stop order: Ctrl-C (or SIGTERM) is for this script alone; everything it
# starts runs in a session of its own, out of the terminal's reach. The
# script asks the console to close (SIGTERM: the page's close call, which
# logs out, then the console's teardown), waits for it, then stops the page
# driver, the web, RTMP and push-to-talk servers, and the X server last.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/run-common.sh
. "$root/tools/run-common.sh"

# Started by the run below, in a session of its own: a screenshot of the
# X server every few seconds into WORK/shots until stopped.
if [ "${1:-}" = "--shoot" ]; then
    shots=$2/shots
    mkdir -p "$shots"
    n=0
    while :; do
        sleep 4
        n=$((n + 1))
        shot="$shots/shot-$(printf %05d $n).png"
        if ffmpeg -loglevel error -y -f x11grab -video_size 1920x1080 -i "$DISPLAY" \
            -frames:v 1 "$shot" </dev/null >/dev/null 2>&1; then
            cp "$shot" "$shots/latest.png.part" && mv -f "$shots/latest.png.part" "$shots/latest.png"
        fi
        prune_shots "$shots" 20
    done
fi

build=${1:-build}
run=$(cd "$build/run" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-run-XXXXXX")
server_pid=""
http_pid=""
follow_pid=""
nginx_pid=""
stream_pid=""
xvfb_pid=""
shooter_pid=""
driver_pid=""
console_pid=""
stop_at=""
page_query=""

# Every process the run starts, "PID NAME" a line: what a test checks is gone.
record_pid() { # pid name
    echo "$1 $2" >>"$work/pids"
}

# The test page from a folder of its own, on a free port.
serve_page() {
    mkdir -p "$work/www"
    cp "$root/tests/fixtures/console/dispatcher.html" "$work/www/"
    # The driver's steps ("<n> <button> [down|up]" lines); empty until then.
    : >"$work/www/drive"
    setsid python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work/www" \
        >"$work/http.log" 2>&1 &
    http_pid=$!
    record_pid "$http_pid" http.server
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
    setsid "$root/tools/rtmp-server.sh" "$work/rtmp" "$rtmp_port" "$stat_port" \
        >"$work/nginx.log" 2>&1 &
    nginx_pid=$!
    record_pid "$nginx_pid" nginx
    if ! await_port "$rtmp_port" 10; then
        echo "nginx did not start:" >&2
        cat "$work/nginx.log" >&2
        return 1
    fi
    local base="rtmp://127.0.0.1:$rtmp_port/live"
    setsid ffmpeg -hide_banner -loglevel warning -re \
        -f lavfi -i "testsrc2=s=640x360:r=25" -f lavfi -i "sine=frequency=440:sample_rate=44100" \
        -c:v libx264 -preset ultrafast -tune zerolatency -g 25 -pix_fmt yuv420p \
        -c:a aac -b:a 64k -f flv "$base/test" </dev/null >"$work/ffmpeg.log" 2>&1 &
    stream_pid=$!
    record_pid "$stream_pid" ffmpeg
    page_query="?rtmp=$base"
    echo "RTMP server: $base (test stream $base/test, clients on" \
        "http://127.0.0.1:$stat_port/stat)"
}

# An X server of our own, in a session of its own: Ctrl-C must not end it
# before the console has logged out (the console would lose its display).
# It names its display through -displayfd; clients need the cookie in
# $work/xauth, as with xvfb-run.
start_x() {
    local cookie display=""
    cookie=$(mcookie)
    (umask 077 && : >"$work/xauth")
    # The server takes every cookie in its file, whatever display it names.
    xauth -q -f "$work/xauth" add :0 . "$cookie"
    setsid Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -auth "$work/xauth" \
        3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    record_pid "$xvfb_pid" Xvfb
    for _ in $(seq 200); do
        display=$(head -n 1 "$work/display" 2>/dev/null || true)
        [ -n "$display" ] && break
        if ! kill -0 "$xvfb_pid" 2>/dev/null; then
            echo "Xvfb did not start:" >&2
            cat "$work/xvfb.log" >&2
            return 1
        fi
        sleep 0.05
    done
    [ -n "$display" ] || {
        echo "Xvfb named no display" >&2
        return 1
    }
    xauth -q -f "$work/xauth" add ":$display" . "$cookie"
    export DISPLAY=":$display" XAUTHORITY="$work/xauth"
    echo "X server: $DISPLAY (Xvfb 1920x1080)"
}

# Waits until qtlog.txt holds text (fixed string), for up to $2 seconds.
await_log() { # text seconds
    for _ in $(seq $(($2 * 5))); do
        grep -qF -- "$1" "$work/qtlog.txt" 2>/dev/null && return 0
        sleep 0.2
    done
    echo "driver: no \"$1\" in qtlog.txt within $2 s; the drive stops here"
    return 1
}

# The page's scripted steps, each once the one before has shown its effect
# in the page's calls. The page reads its "drive" file every 100 ms.
drive_page() {
    local n=0
    press() {
        n=$((n + 1))
        echo "$n $*" >>"$work/www/drive"
        echo "driver: $*"
    }
    await_log "channel ready" 120 || return 0
    press login
    # About 5 s: a login while disconnected makes its first connection
    # attempt one retry interval later.
    await_log "status online" 60 || return 0
    press join
    await_log 'call onCurrentGroupX ["2001"' 30 || return 0
    press talk down
    await_log "call onStartSpeakX" 30 || return 0
    sleep 4 # the talk
    press talk up
    await_log "call onStopSpeakX" 30 || return 0
    press members
    await_log "call GetMemberList->" 30 || return 0
    press wall
    await_log "call startUpvideo->" 30 || return 0
    echo "driver: done; the console stays up until Ctrl-C"
}

# True while pid runs (a child that ended but is not yet reaped has ended).
running() {
    local state
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
    [ "$state" != Z ]
}

# Ends a helper and whatever it started (it leads a session of its own).
stop_group() { # pid
    [ -n "$1" ] || return 0
    kill -TERM -- "-$1" 2>/dev/null || kill -TERM "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

on_signal() {
    if [ -z "$console_pid" ]; then
        exit 130
    fi
    if [ -z "$stop_at" ]; then
        echo
        echo "closing the console (the page logs out), then the servers"
        stop_at=$(date +%s)
        kill -TERM "$console_pid" 2>/dev/null || true
    fi
}

# Asks the console to close (the page's close call logs out), gives it 20 s,
# then kills it; and whatever of the web engine stayed behind.
stop_console() {
    [ -n "$console_pid" ] || return 0
    if running "$console_pid"; then
        [ -n "$stop_at" ] || kill -TERM "$console_pid" 2>/dev/null || true
        stop_at=${stop_at:-$(date +%s)}
        await_end
    fi
    wait "$console_pid" 2>/dev/null || true
    # The web engine's helpers (in the console's session, some in groups of
    # their own) end once they see the console gone; what is left after 5 s
    # is killed.
    local left
    for _ in $(seq 25); do
        left=$(session_members "$console_pid")
        [ -z "$left" ] && return 0
        sleep 0.2 || true
    done
    # shellcheck disable=SC2086
    kill -KILL $left 2>/dev/null || true
}

# The processes of the session that pid leads (ended ones not yet reaped
# left out).
session_members() { # pid
    ps -eo pid=,sid=,stat= | awk -v s="$1" '$2 == s && $3 !~ /^Z/ { print $1 }' | tr '\n' ' '
}

# Until the console ends; once asked to close it has 20 s.
await_end() {
    while running "$console_pid"; do
        if [ -n "$stop_at" ] && [ $(($(date +%s) - stop_at)) -ge 20 ]; then
            echo "the console did not close within 20 s: killed" >&2
            kill -KILL "$console_pid" 2>/dev/null || true
        fi
        # Ctrl-C ends this sleep too; the loop goes on.
        sleep 0.2 || true
    done
}

finish() {
    trap '' INT TERM
    stop_console
    [ -n "$driver_pid" ] && { kill "$driver_pid" 2>/dev/null || true; }
    [ -n "$shooter_pid" ] && stop_group "$shooter_pid"
    if [ -n "$follow_pid" ]; then
        # The page's last calls (its close call, the logout) still show.
        sleep 0.5 || true
        kill "$follow_pid" 2>/dev/null || true
    fi
    stop_group "$http_pid"
    stop_group "$stream_pid"
    stop_group "$nginx_pid"
    stop_server
    # The X server goes last: the console needed it to the end.
    stop_group "$xvfb_pid"
    echo
    echo "Logs in $work:"
    echo "  qtlog.txt (console), kvptt.log (engine), server.log (ptt_server), tarvex.out"
    [ -n "$nginx_pid" ] &&
        echo "  nginx.log (RTMP server), ffmpeg.log (test stream); video: $run/log/kvvideo.log"
    [ -d "$work/shots" ] && echo "  screenshots: $work/shots (latest.png)"
    return 0
}
trap finish EXIT
trap on_signal INT TERM

start_server
record_pid "$server_pid" ptt_server
start_rtmp
headless=0
if [ -z "${DISPLAY:-}" ]; then
    headless=1
    page_query="${page_query:-?}${page_query:+&}drive=1"
fi
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
[ "$headless" = 1 ] && start_x

# The page's calls as they reach qtlog.txt.
touch "$work/qtlog.txt"
tail -n +1 -F "$work/qtlog.txt" 2>/dev/null > >(grep --line-buffered -E 'call |channel |status ') &
follow_pid=$!
record_pid "$follow_pid" tail

cd "$work"
setsid "$run/tarvex" dispatcher dispatcher-pw >"$work/tarvex.out" 2>&1 &
console_pid=$!
record_pid "$console_pid" tarvex
if [ "$headless" = 1 ]; then
    echo "no display: the console runs on $DISPLAY and the page is driven through its steps;" \
        "screenshots in $work/shots; Ctrl-C stops everything"
    setsid "$root/tools/run-console.sh" --shoot "$work" &
    shooter_pid=$!
    record_pid "$shooter_pid" screenshots
    drive_page &
    driver_pid=$!
    record_pid "$driver_pid" driver
else
    echo "console on $DISPLAY; press the page's buttons; close its window or press Ctrl-C to stop"
fi

await_end
