#!/usr/bin/env bash
# The main job: what a dispatcher runs. Grows with the system; today it starts
# the pieces that exist in the build tree given as $1.
set -euo pipefail
build=${1:-build}
echo "Built artefacts in $build/run:"
ls -1 "$build/run"
