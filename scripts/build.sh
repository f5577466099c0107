#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh [--target TARGET] [DIR] [extra cmake args...]
# With --target, only TARGET and what it needs (scripts/run.sh builds the program, flashutil).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
targets=()
if [ "${1:-}" = "--target" ]; then
  targets=(--target "$2")
  shift 2
fi
dir=${1:-$root/build}
shift || true
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" "${targets[@]}" -j"$(nproc)"
