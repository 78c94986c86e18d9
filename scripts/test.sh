#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite, then runs the tests of the
# data-side libraries (file readers of untrusted input) again under ASan and UBSan, and gives
# every fuzz target a short run.
set -euo pipefail
QUARN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$QUARN_ROOT/scripts/deps.sh"

quarn_install_missing

jobs=$(nproc)
status=0

echo "== Build and test (build/)"
quarn_build "$QUARN_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd "$QUARN_ROOT/build" && ctest --output-on-failure --parallel "$jobs") || status=1

echo "== Data-side tests under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)"
# One clang build serves the tests and the fuzz targets; a folder configured before that (by gcc,
# without QUARN_FUZZ) is made afresh.
asan="$QUARN_ROOT/build-asan"
if [ -f "$asan/CMakeCache.txt" ] && ! grep -q '^QUARN_FUZZ:BOOL=ON' "$asan/CMakeCache.txt"; then
    rm -rf "$asan"
fi
CC=clang CXX=clang++ quarn_build "$asan" -DCMAKE_BUILD_TYPE=Debug -DQUARN_SANITIZE=ON -DQUARN_DATA_ONLY=ON \
    -DQUARN_FUZZ=ON
(cd "$asan" && ctest --output-on-failure --parallel "$jobs") || status=1

echo "== Short fuzz pass: every reader's fuzz target for 30 s, two at a time (build-asan/)"
QUARN_FUZZ_BUILD="$asan" QUARN_FUZZ_JOBS=2 "$QUARN_ROOT/scripts/fuzz.sh" all 30 || status=1

exit $status
