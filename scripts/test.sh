#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite, then runs the tests of the
# data-side libraries (file readers of untrusted input) again under ASan and UBSan.
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
quarn_build "$QUARN_ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DQUARN_SANITIZE=ON -DQUARN_DATA_ONLY=ON
(cd "$QUARN_ROOT/build-asan" && ctest --output-on-failure --parallel "$jobs") || status=1

exit $status
