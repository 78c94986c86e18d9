#!/usr/bin/env bash
# Installs what is missing, checks the format of every source and the Windows code of the
# context-menu extension against the MinGW-w64 headers, builds (warnings are errors) and runs the
# whole test suite, builds the data-side libraries (file readers of untrusted input) with clang
# under ASan and UBSan, has clang check every other unit's syntax, runs the data-side tests again
# under the sanitizers, and gives every fuzz target a short run.
set -euo pipefail
QUARN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$QUARN_ROOT/scripts/deps.sh"

quarn_install_missing

jobs=$(nproc)
status=0

echo "== Format of every C++ source (clang-format, .clang-format)"
(cd "$QUARN_ROOT" && git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror) || status=1

echo "== The context-menu extension's Windows code against the MinGW-w64 headers (syntax only)"
"$QUARN_ROOT/scripts/check-windows-shellext.sh" || status=1

echo "== Build and test (build/)"
# note: -g1 instead of -g: the same optimised code, with line tables for backtraces but without
# the variable information that makes up most of the compiler's and linker's work here.
quarn_build "$QUARN_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
    -DQUARN_WERROR=ON
(cd "$QUARN_ROOT/build" && ctest --output-on-failure --parallel "$jobs") || status=1

echo "== Data-side build under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/, clang)"
# One clang build serves the tests and the fuzz targets; a folder configured before that (by gcc,
# without QUARN_FUZZ) is made afresh.
asan="$QUARN_ROOT/build-asan"
if [ -f "$asan/CMakeCache.txt" ] && ! grep -q '^QUARN_FUZZ:BOOL=ON' "$asan/CMakeCache.txt"; then
    rm -rf "$asan"
fi
# Line tables (-g1) are all that the sanitizers' reports need.
CC=clang CXX=clang++ quarn_build "$asan" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DQUARN_SANITIZE=ON \
    -DQUARN_DATA_ONLY=ON -DQUARN_FUZZ=ON -DQUARN_WERROR=ON

echo "== Every other unit with clang, syntax only (the units of build/ that build-asan/ has not compiled)"
# note: on two cores this pass takes about 45 s; building the rest with clang under the sanitizers
# would add about 70 s (code generation and linking that gcc's build has done already), and a
# syntax pass over every unit, the data side's again included, about 80 s.
python3 "$QUARN_ROOT/scripts/check-clang-syntax.py" "$QUARN_ROOT/build" --skip-units-of "$asan" --jobs "$jobs" ||
    status=1

echo "== Data-side tests under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)"
# The fuzz pass keeps two cores busy for its whole run; with four or more it runs beside these
# tests on two of them, else after them.
fuzz() {
    QUARN_FUZZ_BUILD="$asan" QUARN_FUZZ_JOBS=2 "$QUARN_ROOT/scripts/fuzz.sh" all 30
}
fuzz_log="$asan/fuzz-pass.log"
fuzz_pid=""
if [ "$jobs" -ge 4 ]; then
    echo "== Short fuzz pass started beside the tests: output in $fuzz_log"
    fuzz >"$fuzz_log" 2>&1 &
    fuzz_pid=$!
    (cd "$asan" && ctest --output-on-failure --parallel $((jobs - 2))) || status=1
else
    (cd "$asan" && ctest --output-on-failure --parallel "$jobs") || status=1
fi

echo "== Short fuzz pass: every reader's fuzz target for 30 s, two at a time (build-asan/)"
if [ -n "$fuzz_pid" ]; then
    wait "$fuzz_pid" || status=1
    cat "$fuzz_log"
else
    fuzz || status=1
fi

exit $status
