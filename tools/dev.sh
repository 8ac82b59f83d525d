#!/usr/bin/env bash
# One entry point for developers and CI.
#   tools/dev.sh run    install missing packages, build what the run needs, start the console
#   tools/dev.sh test   install missing packages, build every variant, run the whole suite
#   tools/dev.sh build  build the main tree only (no installs)
# JOBS=N limits the parallel compiles and tests (and the fuzz build) to N;
# by default every core is used.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}
if ! [[ "$JOBS" =~ ^[1-9][0-9]*$ ]]; then
    echo "JOBS must be a positive number, not \"$JOBS\"" >&2
    exit 2
fi
export JOBS

# The listed Debian packages that are not installed, one a line.
missing_packages() {
    local listed installed
    listed=$(grep -v '^\s*#' tools/debian-packages.txt | grep -v '^\s*$' | sort -u)
    # One query for all; a package dpkg has never heard of is simply absent.
    # shellcheck disable=SC2086
    installed=$(dpkg-query -W -f='${Package} ${Status}\n' $listed 2>/dev/null |
        awk '$NF == "installed" {print $1}' | sort -u)
    comm -23 <(echo "$listed") <(echo "$installed")
}

# Installs only what is missing: a machine that has every package needs no
# root, no network and upgrades nothing.
deps() {
    local missing
    missing=$(missing_packages | tr '\n' ' ')
    [ -n "${missing// /}" ] || return 0
    echo "installing the missing Debian packages: $missing"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    # shellcheck disable=SC2086
    $sudo apt-get install -y -q --no-install-recommends $missing
}

# What the run command starts: the console (with the engine), the test server
# and the engine's name table. The rest of the tree is not needed to run.
RUN_TARGETS=(tarvex lirko ptt_server pinyin_code)

configure() { # dir, extra cmake args...
    local dir=$1
    shift
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@"
}

configure_build() { # dir, extra cmake args...
    configure "$@"
    cmake --build "$1" -j "$JOBS"
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

# Configuring again and building with nothing changed must build nothing: a
# file the configure rewrites would relink the engine and all on it.
check_noop_build() { # dir
    local out
    configure "$1" >/dev/null
    out=$(cmake --build "$1" 2>&1)
    if grep -q 'no work to do' <<<"$out"; then
        echo "no-op build of $1: nothing rebuilt"
        PASSED=$((PASSED + 1))
    else
        echo "no-op build of $1 rebuilt:"
        echo "$out"
        FAILED=$((FAILED + 1))
        return 1
    fi
}

case "${1:-}" in
run)
    deps
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j "$JOBS" --target "${RUN_TARGETS[@]}"
    exec "$ROOT/tools/run-console.sh" "$ROOT/build"
    ;;
build)
    configure_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    ;;
test)
    [ "${SKIP_DEPS:-0}" = 1 ] || deps
    start=$(date +%s)
    configure_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    check_noop_build build
    run_ctest build
    # The same suite with ASan and UBSan: memory faults and undefined behaviour.
    # Line tables are all a sanitizer report needs; full debug info only
    # makes the compiles and links slower.
    configure_build build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG=-g1 \
        -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DPTT_SANITIZE=asan -DPTT_BUILD_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 run_ctest build-asan -LE 'no-asan|style'
    # Threaded tests once more under ThreadSanitizer: only those tests are
    # registered and built there, without debug info (a report names the
    # functions).
    configure build-tsan -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE='-O1 -DNDEBUG' \
        -DCMAKE_CXX_FLAGS_RELEASE='-O1 -DNDEBUG' -DPTT_SANITIZE=tsan -DPTT_BUILD_BENCH=OFF \
        -DPTT_TEST_LABELS=tsan
    cmake --build build-tsan -j "$JOBS" --target ptt_tests
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
