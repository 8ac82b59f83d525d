#!/usr/bin/env bash
# Fails when the tree does not configure with one of its optional parts
# (console, tests, benchmarks) turned off. Each configure runs in a scratch
# folder that is removed afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/ptt-options-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
status=0
for option in PTT_BUILD_CONSOLE PTT_BUILD_TESTS PTT_BUILD_BENCH; do
    if cmake -S "$root" -B "$scratch/$option" -G Ninja "-D$option=OFF" >"$scratch/$option.log" 2>&1; then
        echo "$option=OFF: configures"
    else
        echo "$option=OFF: does not configure"
        cat "$scratch/$option.log"
        status=1
    fi
done
exit $status
