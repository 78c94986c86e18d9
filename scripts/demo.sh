#!/usr/bin/env bash
# Shows the program to a person without a display of their own: builds quarn and its end-to-end
# test in build/, runs the test on a private Xvfb with Mesa's software renderer (a generated torus
# opened, viewed, measured, transformed, saved, compressed, sliced; the dialogs; a second start)
# and writes the screenshot of every stage into a folder.
#
#   scripts/demo.sh [FOLDER]    # FOLDER defaults to build/demo
set -euo pipefail
QUARN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$QUARN_ROOT/scripts/deps.sh"

quarn_install_missing
QUARN_TARGETS="quarn tst_endtoend" quarn_build "$QUARN_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo

out=${1:-$QUARN_ROOT/build/demo}
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out"/*.png

# Settings of its own, and a news address where nothing listens: the demo leaves no trace.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/config" "$home/cache"

status=0
env QT_QPA_PLATFORM=xcb LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=llvmpipe \
    XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" QUARN_NEWS_BASE_URL=http://127.0.0.1:9 \
    QUARN_ARTEFACT_DIR="$out" \
    "$QUARN_ROOT/scripts/with-display.sh" "$QUARN_ROOT/build/tests/app/tst_endtoend" -silent || status=$?

echo "Screenshots in $out:"
ls "$out"
if [ $status -ne 0 ]; then
    echo "demo: a stage failed (see above); its later screenshots may be missing" >&2
fi
exit $status
