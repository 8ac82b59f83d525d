#!/usr/bin/env bash
# The run command's screenshots: the newest 20 by time stay, with latest.png
# and anything else in the folder; the counter in the names may pass a power
# of ten (newest by name would then keep the wrong ones).
#   prune_shots_test.sh RUN_COMMON_SCRIPT
set -euo pipefail
# shellcheck source=tools/run-common.sh
. "$1"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/prune-test-XXXXXX")
trap 'rm -rf "$tmp"' EXIT

fail() {
    echo "FAIL: $*"
    ls -l --time-style=+%s "$tmp"/* || true
    exit 1
}

# 25 shots numbered 99990 to 100014, one second apart, oldest first;
# latest.png older than all of them; a file of another name.
base=1700000000
for i in $(seq 0 24); do
    touch -d "@$((base + 10 + i))" "$tmp/shot-$((99990 + i)).png"
done
touch -d "@$base" "$tmp/latest.png" "$tmp/notes.txt"

prune_shots "$tmp" 20
left=$(cd "$tmp" && find . -name 'shot-*.png' | sed 's|^\./shot-||; s|\.png$||' | sort -n | tr '\n' ' ')
want=$(seq 99995 100014 | tr '\n' ' ')
[ "$left" = "$want" ] || fail "kept shots $left; want $want"
[ -f "$tmp/latest.png" ] || fail "latest.png was removed"
[ -f "$tmp/notes.txt" ] || fail "another file was removed"

# Fewer than the limit: nothing goes.
prune_shots "$tmp" 30
[ "$(find "$tmp" -name 'shot-*.png' | wc -l)" -eq 20 ] || fail "a folder under the limit lost files"
echo "PASS: the newest 20 shots, latest.png and other files kept"
