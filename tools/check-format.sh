#!/usr/bin/env bash
# Fails when any of our own C/C++ files is not clang-formatted.
set -euo pipefail
fmt=${1:-clang-format}
cd "$(git rev-parse --show-toplevel 2>/dev/null || pwd)"
mapfile -t files < <(git ls-files -- 'engine/*.c' 'engine/*.cpp' 'engine/*.h' 'tests/*.cpp' \
    'tests/*.h' 'tools/*.cpp' 'tools/*.h' 'bench/*.cpp' 'livevideo/*.cpp' 'livevideo/*.h' \
    'console/*.cpp' 'console/*.h' | grep -v '/generated/' || true)
[ ${#files[@]} -eq 0 ] && exit 0
"$fmt" --dry-run -Werror "${files[@]}"
