#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time.
#   fuzz/run.sh [seconds per target, default 30] [build dir, default build-fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_PER_TARGET=${1:-30}
DIR=${2:-build-fuzz}
cmake -S "$ROOT/fuzz" -B "$DIR" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$DIR" -j "${JOBS:-$(nproc)}"
for target in etpacket; do
    # A scratch corpus seeded from the committed seeds; findings land in $DIR.
    corpus="$DIR/corpus-$target"
    rm -rf "$corpus"
    mkdir -p "$corpus"
    cp "$ROOT/fuzz/seeds/$target/"* "$corpus/"
    "$DIR/fuzz_$target" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1 \
        -artifact_prefix="$DIR/" "$corpus"
done
