# Shared by the run commands (sourced): the test push-to-talk server and the
# engine's name table. The caller sets run (the build's run folder) and work
# (the run's own folder) first.

# Starts the server with SIGINT ignored (it keeps it so: Ctrl-C is for the
# client, which logs out first), waits for its ports and points the engine's
# custom.ini at them. Sets server_pid.
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
    if [ -n "${server_pid:-}" ]; then
        kill -TERM "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
        server_pid=""
    fi
}

# The engine reads its name-ordering table from its working folder; without
# it names are listed unordered.
provide_pinyin_table() {
    if [ -f "$run/pinyin.code" ]; then
        ln -sf "$run/pinyin.code" "$work/pinyin.code"
    else
        echo "warning: $run/pinyin.code is missing (build the pinyin_code target);" \
            "names will not be ordered" >&2
    fi
}

# A TCP port on 127.0.0.1 that nothing listens on now.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits up to $2 seconds until something accepts on 127.0.0.1:$1.
await_port() {
    local port=$1 seconds=$2
    for _ in $(seq $((seconds * 20))); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

# Keeps the newest $2 screenshots (shot-*.png, by time of last change) in the
# folder $1; latest.png and any other file stay.
prune_shots() { # folder keep
    find "$1" -maxdepth 1 -type f -name 'shot-*.png' -printf '%T@ %p\n' | sort -rn -k1,1 |
        tail -n +$(($2 + 1)) | cut -d' ' -f2- | xargs -r -d '\n' rm -f --
}
