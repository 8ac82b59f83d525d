# Shared by the run-command tests (sourced).

# True while pid is running (a zombie has ended).
running() {
    local state
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
    [ "$state" != Z ]
}

# Polls a condition every 0.1 s for at most $1 seconds.
await() {
    local seconds=$1
    shift
    for _ in $(seq $((seconds * 10))); do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}
