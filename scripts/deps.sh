# Sourced by run.sh and test.sh: the one list of Debian packages the project needs,
# and the installer that fetches only what is missing.

QUARN_PACKAGES=(
    # toolchain
    g++ cmake ninja-build pkg-config python3
    # the house format, checked by the test script
    clang-format
    # sanitizer and fuzz build (clang with libFuzzer's runtime)
    clang libclang-rt-14-dev
    # the Windows compiler and headers that the context-menu extension's Windows code is checked with
    g++-mingw-w64-x86-64-posix
    # libraries
    qtbase5-dev qtbase5-dev-tools libqt5opengl5-dev libqt5webkit5-dev
    libssl-dev openssl zlib1g-dev libgl-dev libglu1-mesa-dev libx11-dev
    # display tests: virtual X server with Mesa's software renderer
    xvfb xauth libgl1-mesa-dri
    # peers that the tests compare our files with
    admesh assimp-utils gzip
)

quarn_install_missing() {
    local missing=() pkg
    for pkg in "${QUARN_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# quarn_build DIR [cmake args...]: configure once, then build incrementally in parallel; builds
# only the targets named in QUARN_TARGETS when that is set.
quarn_build() {
    local dir=$1
    shift
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$QUARN_ROOT" -B "$dir" -G Ninja "$@"
    elif [ $# -gt 0 ]; then
        # A tree configured before keeps its cache; the options given now still apply.
        cmake "$dir" "$@" >/dev/null
    fi
    cmake --build "$dir" --parallel "$(nproc)" ${QUARN_TARGETS:+--target $QUARN_TARGETS}
}
