#!/usr/bin/env bash
# Compiles the Windows road of the context-menu extension (shellext/*.cpp with _WIN32 set, and its
# version resource) against the MinGW-w64 compiler's Windows headers and the toolkit's headers as
# installed here, syntax only. The Linux build compiles the same sources against our stand-in
# layer, which cannot tell when the real headers would refuse a call, a constant or an include
# order. Warnings count as failures: nothing else shows them.
#
# Usage: scripts/check-windows-shellext.sh
# Needs Debian's g++-mingw-w64-x86-64-posix (scripts/deps.sh installs it). Takes a few seconds;
# writes nothing into the tree. Exits non-zero when a unit does not compile.
set -euo pipefail
QUARN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

cxx=x86_64-w64-mingw32-g++-posix
windres=x86_64-w64-mingw32-windres
for tool in "$cxx" "$windres" pkg-config qmake; do
    if ! command -v "$tool" >/dev/null; then
        echo "check-windows-shellext.sh: $tool is missing (scripts/deps.sh lists its package)" >&2
        exit 2
    fi
done

# The toolkit's headers are the Linux ones: with _WIN32 set by the compiler they take their Windows
# branches (Q_OS_WIN, exports as dllimport). The mkspec folder is the one the toolkit's CMake
# package puts on a Windows build's include path.
qt_headers=$(pkg-config --variable=includedir Qt5Core)
qt_mkspec="$(qmake -query QT_HOST_DATA)/mkspecs/win32-g++"
includes=(-I"$QUARN_ROOT")
for dir in "$qt_headers" "$qt_headers/QtCore" "$qt_headers/QtGui" "$qt_mkspec"; do
    includes+=(-isystem "$dir")
done

# The definitions that the CMake build gives every target (taken from CMakeLists.txt, so that the
# two stay in step), those of the toolkit's Core and Gui packages, and the extension's own.
defines=(-DUNICODE -D_UNICODE -DQT_CORE_LIB -DQT_GUI_LIB -DQUARNEXT_VERSION=\"0.0.0\")
# shellcheck disable=SC2013 # one definition a word
for definition in $(sed -n 's/^add_compile_definitions(\(.*\))$/\1/p' "$QUARN_ROOT/CMakeLists.txt"); do
    defines+=(-D"$definition")
done

flags=(-std=c++17 -fsyntax-only -Wall -Wextra -Werror "${defines[@]}" "${includes[@]}")

# A guard against a silent pass: the toolkit's headers must see Windows here.
probe='#include <QtCore/qglobal.h>
#if !defined(Q_OS_WIN) || !defined(Q_CC_MINGW)
#error "the toolkit headers did not take their Windows branch"
#endif'
status=0
if ! "$cxx" "${flags[@]}" -x c++ - <<<"$probe"; then
    echo "FAIL  the toolkit's headers under MinGW-w64" >&2
    exit 1
fi

shopt -s nullglob
units=("$QUARN_ROOT"/shellext/*.cpp)
if [ ${#units[@]} -eq 0 ]; then
    echo "check-windows-shellext.sh: no sources in shellext/" >&2
    exit 1
fi
for unit in "${units[@]}"; do
    name=${unit#"$QUARN_ROOT"/}
    if "$cxx" "${flags[@]}" "$unit"; then
        echo "ok    $name"
    else
        echo "FAIL  $name" >&2
        status=1
    fi
done

# The version resource goes through the resource compiler (and its preprocessor) as on Windows.
resource_out=$(mktemp)
trap 'rm -f "$resource_out"' EXIT
version=(-DQUARNEXT_VERSION_MAJOR=0 -DQUARNEXT_VERSION_MINOR=0 -DQUARNEXT_VERSION_PATCH=0
    '-DQUARNEXT_VERSION_TEXT=\"0.0.0.0\"')
if "$windres" "${version[@]}" -O res -i "$QUARN_ROOT/shellext/quarnext.rc" -o "$resource_out"; then
    echo "ok    shellext/quarnext.rc"
else
    echo "FAIL  shellext/quarnext.rc" >&2
    status=1
fi

exit $status
