#!/usr/bin/env bash
# Installs what is missing, builds in build/ and runs quarn with the given arguments.
set -euo pipefail
QUARN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$QUARN_ROOT/scripts/deps.sh"

quarn_install_missing
QUARN_TARGETS=quarn quarn_build "$QUARN_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo

exe="$QUARN_ROOT/build/src/app/quarn"
if [ ! -x "$exe" ]; then
    echo "quarn was not built: see the build output above." >&2
    exit 1
fi
exec "$exe" "$@"
