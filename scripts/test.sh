#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test twice: in a normal build and in
# an AddressSanitizer + UndefinedBehaviorSanitizer build. Then builds the program twice
# more, in other folders, times and umasks, and checks that the template, a release and
# its package come out the same (scripts/check-reproducible.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

echo "== build (warnings on) =="
bash scripts/build.sh "$root/build"
echo "== build (address + undefined sanitizers) =="
bash scripts/build.sh "$root/build-asan" -DFLASH_SANITIZE=ON -DFLASH_BENCHMARKS=OFF

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== tests (sanitizers) =="
ctest --test-dir "$root/build-asan" --output-on-failure -j2 --timeout 600
echo "== tests =="
ctest --test-dir "$root/build" --output-on-failure -j2 --timeout 900
echo "== reproducible build =="
bash "$root/scripts/check-reproducible.sh"
