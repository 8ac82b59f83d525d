#!/usr/bin/env bash
# One entry point for developers and CI.
#   tools/dev.sh run    install packages, build, start the system
#   tools/dev.sh test   install packages, build every variant, run the whole suite
#   tools/dev.sh build  build the main tree only (no installs)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=$(nproc)

deps() {
    local pkgs
    pkgs=$(grep -v '^\s*#' tools/debian-packages.txt | grep -v '^\s*$' | tr '\n' ' ')
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    # shellcheck disable=SC2086
    $sudo apt-get install -y -q --no-install-recommends $pkgs
}

configure_build() { # dir, extra cmake args...
    local dir=$1
    shift
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$JOBS"
}

PASSED=0
FAILED=0
run_ctest() { # dir, extra ctest args...
    local dir=$1
    shift
    local log rc=0
    log=$(mktemp)
    (cd "$dir" && ctest -j "$JOBS" --output-on-failure --timeout 600 "$@") 2>&1 | tee "$log" ||
        rc=$?
    # "100% tests passed, 0 tests failed out of 12"
    local line total failed
    line=$(grep -E 'tests failed out of [0-9]+' "$log" | tail -n 1 || true)
    if [ -n "$line" ]; then
        total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
        failed=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
        PASSED=$((PASSED + total - failed))
        FAILED=$((FAILED + failed))
    fi
    rm -f "$log"
    return $rc
}

case "${1:-}" in
run)
    deps
    configure_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    exec "$ROOT/tools/run-main.sh" "$ROOT/build"
    ;;
build)
    configure_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    ;;
test)
    [ "${SKIP_DEPS:-0}" = 1 ] || deps
    start=$(date +%s)
    configure_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    run_ctest build
    # The same suite with ASan and UBSan: memory faults and undefined behaviour.
    configure_build build-asan -DCMAKE_BUILD_TYPE=Debug -DPTT_SANITIZE=asan \
        -DPTT_BUILD_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 run_ctest build-asan -LE 'no-asan|style'
    # Threaded tests once more under ThreadSanitizer.
    configure_build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPTT_SANITIZE=tsan \
        -DPTT_BUILD_BENCH=OFF
    TSAN_OPTIONS=halt_on_error=1 run_ctest build-tsan -L tsan
    # The network-facing readers under libFuzzer for a bounded time.
    fuzz/run.sh 30 build-fuzz
    echo "whole suite finished in $(($(date +%s) - start)) s"
    echo "suite: $PASSED passed, $FAILED failed"
    ;;
*)
    echo "usage: tools/dev.sh run|test|build" >&2
    exit 2
    ;;
esac
