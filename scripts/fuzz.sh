#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) and runs one or all of them for a given time.
#
# Usage: scripts/fuzz.sh [TARGET|all] [SECONDS]
#   TARGET   one of the targets below, or all (the default)
#   SECONDS  run time of each target (default 60)
# Environment:
#   QUARN_FUZZ_BUILD  build folder (default build-asan: the sanitizer build that test.sh makes);
#                     configured with clang, ASan, UBSan and QUARN_FUZZ when it does not exist
#   QUARN_FUZZ_JOBS   how many targets run at once (default 1), one process each
#   QUARN_FUZZ_NICE   nice level of the runs (default 0)
#   QUARN_FUZZ_ARGS   further libFuzzer options
# Each target gets a memory limit of 2 GB and a time limit of 10 s per input. Under
# BUILD/fuzz-out/TARGET/ are the grown corpus (corpus/), the log and any finding (crash-*,
# timeout-*, oom-*, leak-*, kept across runs); replay one with BUILD/fuzz/TARGET FILE. Exits
# non-zero when a target reports a finding.
set -euo pipefail
QUARN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

TARGETS=(fuzz_stl fuzz_stl_large fuzz_ply_mesh fuzz_ply_stream fuzz_qrn_plain fuzz_qrn_gzip fuzz_qrn_sealed
    fuzz_cipher_stream fuzz_value_streams fuzz_slice_streams)

target=${1:-all}
seconds=${2:-60}
build=${QUARN_FUZZ_BUILD:-$QUARN_ROOT/build-asan}
jobs=${QUARN_FUZZ_JOBS:-1}
niceness=${QUARN_FUZZ_NICE:-0}
read -r -a extra <<<"${QUARN_FUZZ_ARGS:-}"

if [ "$target" = all ]; then
    selected=("${TARGETS[@]}")
else
    case " ${TARGETS[*]} " in
    *" $target "*) selected=("$target") ;;
    *)
        echo "fuzz.sh: unknown target '$target'; one of: all ${TARGETS[*]}" >&2
        exit 2
        ;;
    esac
fi
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "fuzz.sh: SECONDS must be a positive whole number" >&2
    exit 2
fi

dictionary() {
    case $1 in
    fuzz_stl*) echo stl ;;
    fuzz_ply_*) echo ply ;;
    fuzz_qrn_*) echo qrn ;;
    fuzz_cipher_stream) echo cipher ;;
    fuzz_value_streams) echo values ;;
    fuzz_slice_streams) echo slices ;;
    esac
}

# Build: reuse the folder when it is a fuzz build, configure it when it does not exist.
if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$QUARN_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DQUARN_SANITIZE=ON -DQUARN_DATA_ONLY=ON -DQUARN_FUZZ=ON
elif ! grep -q '^QUARN_FUZZ:BOOL=ON' "$build/CMakeCache.txt"; then
    echo "fuzz.sh: $build is not a fuzz build; remove it or set QUARN_FUZZ_BUILD" >&2
    exit 2
fi
cmake --build "$build" --parallel "$(nproc)" --target fuzz_all

# Seeds: the tests' fixtures, made afresh for every run (they are small) in a folder of its own,
# so that runs of different targets may overlap.
out="$build/fuzz-out"
mkdir -p "$out"
scratch=$(mktemp -d "$out/seeds.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
seeds="$scratch/seeds"
fixtures=()
if command -v python3 >/dev/null && command -v openssl >/dev/null &&
    python3 "$QUARN_ROOT/tests/geom/formats/make_qrn_fixtures.py" "$scratch/qrn" --openssl "$(command -v openssl)" >/dev/null; then
    fixtures=("$scratch/qrn")
fi
"$build/fuzz/fuzz_seeds" "$seeds" "${fixtures[@]}"

# The seed folder of a target: the large STL target starts from the STL seeds.
seedset() {
    case $1 in
    fuzz_stl_large) echo "$seeds/fuzz_stl" ;;
    *) echo "$seeds/$1" ;;
    esac
}

run_one() {
    local name=$1 dir="$out/$1"
    mkdir -p "$dir/corpus" "$(seedset "$name")"
    local rc=0
    nice -n "$niceness" "$build/fuzz/$name" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -dict="$QUARN_ROOT/fuzz/dict/$(dictionary "$name").dict" -artifact_prefix="$dir/" -print_final_stats=1 \
        "${extra[@]}" "$dir/corpus" "$(seedset "$name")" >"$dir/log" 2>&1 || rc=$?
    local runs rate
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log" | tail -1)
    if [ "$rc" -eq 0 ]; then
        printf '%-20s ok       %ss, %s runs, %s exec/s\n' "$name" "$seconds" "${runs:-?}" "${rate:-?}"
    else
        printf '%-20s FINDING  exit %s, log %s\n' "$name" "$rc" "$dir/log"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|broken contract|.* returned a broken mesh|artifact_prefix)' "$dir/log" |
            head -n 8 | sed 's/^/    /'
    fi
    return "$rc"
}

echo "== Fuzzing ${selected[*]} for ${seconds}s each, $jobs at a time ($build)"
failed=0
running=0
for name in "${selected[@]}"; do
    if [ "$running" -ge "$jobs" ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
    run_one "$name" &
    running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
exit $failed
