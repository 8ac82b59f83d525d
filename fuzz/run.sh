#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time, two at
# a time (the CI machine has two cores):
#   fuzz/run.sh [seconds per target, default 30] [build dir, default build-fuzz]
# Each run starts from the committed seeds (fuzz/seeds/<target>) with the
# target's dictionary (fuzz/dicts/<target>.dict) when it has one; a finding
# is written to the build dir and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_PER_TARGET=${1:-30}
DIR=${2:-build-fuzz}
TARGETS=(etpacket voice voicefile settings messages pageargs)
PARALLEL=2
cmake -S "$ROOT/fuzz" -B "$DIR" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$DIR" -j "${JOBS:-$(nproc)}"
DIR=$(cd "$DIR" && pwd)
# The settings target saves custom.ini on every run: on a memory file system
# its fsync costs nothing.
scratch="$DIR/fuzz-tmp"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    scratch=$(mktemp -d /dev/shm/ptt-fuzz.XXXXXX)
fi
mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT

run_target() {
    local target=$1
    # A scratch corpus seeded from the committed seeds; findings land in $DIR.
    local corpus="$DIR/corpus-$target"
    rm -rf "$corpus"
    mkdir -p "$corpus"
    cp "$ROOT/fuzz/seeds/$target/"* "$corpus/"
    local dict=()
    if [ -f "$ROOT/fuzz/dicts/$target.dict" ]; then
        dict=(-dict="$ROOT/fuzz/dicts/$target.dict")
    fi
    TMPDIR="$scratch" "$DIR/fuzz_$target" -max_total_time="$SECONDS_PER_TARGET" -timeout=30 \
        -print_final_stats=1 -artifact_prefix="$DIR/$target-" "${dict[@]}" "$corpus" \
        >"$DIR/fuzz-$target.log" 2>&1
}

failed=0
pids=()
names=()
finish_one() {
    local pid=${pids[0]} name=${names[0]}
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
    if wait "$pid"; then
        echo "fuzz_$name: $(grep -E '^stat::number_of_executed_units' "$DIR/fuzz-$name.log" | awk '{print $2}') runs, clean"
    else
        echo "fuzz_$name FAILED; its log:" >&2
        tail -n 60 "$DIR/fuzz-$name.log" >&2
        failed=1
    fi
}
for target in "${TARGETS[@]}"; do
    if [ "${#pids[@]}" -ge "$PARALLEL" ]; then
        finish_one
    fi
    run_target "$target" &
    pids+=($!)
    names+=("$target")
done
while [ "${#pids[@]}" -gt 0 ]; do
    finish_one
done
exit "$failed"
