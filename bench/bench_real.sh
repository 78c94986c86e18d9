#!/usr/bin/env bash
# Times the batch program end to end on real and generated meshes: `quarn --headless -compress`
# beside `gzip -6`, and `-decompress` beside `gzip -d`, on the same STL file, runs interleaved,
# medians printed. Every input is timed with all cores, pinned to 2 cores and to 1 core (taskset),
# and with all cores while as many busy loops as cores run.
#
#   bench/bench_real.sh [-h] [-w] [-r RUNS] [-i "INPUTS"] [-c "MODES"] [-b BUILD] [-q QUARN] [-p OTHER]
#
#   INPUTS  of torus shuffled bunny2 bunny3 torus10m (default: torus shuffled bunny2 bunny3)
#           torus: generated torus of 1 M triangles; shuffled: the same with shuffled facets;
#           bunny2 / bunny3: the bunny of the npm package stl-models subdivided twice (1.1 M) and
#           three times (4.4 M) by Loop's scheme; torus10m: a torus of 10 M triangles
#   MODES   of all 2 1 loaded (default: all 2 1 loaded)
#   RUNS    runs per figure (default 5); BUILD the build tree (default build); QUARN the program
#           (default BUILD/src/app/quarn); OTHER a second build of the program (an older one),
#           timed in the same runs (the variants take turns at going first), its row marked "*", and
#           its outputs compared byte for byte with those of QUARN: the STL files, and the .qrn
#           files once inflated (their deflate streams may differ between builds)
#   -w      also times QUARN with the stripper's degree heap on the compressing thread (its worker
#           thread off: QUARN_STRIP_HEAP_WORKER=0) in the same runs, its row marked "/nw", and
#           checks that it writes the same bytes (the .qrn files as they are)
#
# The inputs are made once into BUILD/bench-data; the bunny is installed there with npm when it is
# missing. Nothing is written into the source tree.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=5
inputs="torus shuffled bunny2 bunny3"
modes="all 2 1 loaded"
build=$root/build
quarn=
other=
heap_alone=
while getopts "hwr:i:c:b:q:p:" option; do
    case $option in
    w) heap_alone=1 ;;
    r) runs=$OPTARG ;;
    i) inputs=$OPTARG ;;
    c) modes=$OPTARG ;;
    b) build=$(cd "$OPTARG" && pwd) ;;
    q) quarn=$OPTARG ;;
    p) other=$OPTARG ;;
    h) sed -n '2,24p' "$0"; exit 0 ;;
    *) sed -n '2,24p' "$0" >&2; exit 2 ;;
    esac
done
quarn=${quarn:-$build/src/app/quarn}
meshgen=$build/bench/bench_meshgen
[ -x "$quarn" ] || { echo "bench_real: $quarn is not built" >&2; exit 1; }
[ -x "$meshgen" ] || { echo "bench_real: $meshgen is not built" >&2; exit 1; }
[ -z "$other" ] || [ -x "$other" ] || { echo "bench_real: $other is not a program" >&2; exit 1; }
# The timed variants: a program, the arguments of env(1) that run it, and the mark of its rows.
worker_switch=QUARN_STRIP_HEAP_WORKER
programs=("$quarn") && environments=("-u $worker_switch") && marks=("")
if [ -n "$other" ]; then
    programs+=("$other") && environments+=("-u $worker_switch") && marks+=("*")
fi
if [ -n "$heap_alone" ]; then
    programs+=("$quarn") && environments+=("$worker_switch=0") && marks+=("/nw")
fi

data=$build/bench-data
mkdir -p "$data"

# input_file NAME: makes the input when it is missing and prints its path.
input_file() {
    local name=$1 file=$data/$1.stl
    if [ ! -s "$file" ]; then
        case $name in
        torus) "$meshgen" torus 1000000 "$file" >&2 ;;
        shuffled) "$meshgen" shuffled 1000000 "$file" >&2 ;;
        torus10m) "$meshgen" torus 10000000 "$file" >&2 ;;
        bunny2 | bunny3)
            local bunny=$data/npm/node_modules/stl-models/objects/bunny.bin.stl
            if [ ! -s "$bunny" ]; then
                npm install --prefix "$data/npm" --no-save --no-audit --no-fund --ignore-scripts \
                    stl-models@0.12.0 >&2
            fi
            "$meshgen" loop "${name#bunny}" "$bunny" "$file" >&2
            ;;
        *) echo "bench_real: unknown input $name" >&2; exit 2 ;;
        esac
    fi
    echo "$file"
}

work=$(mktemp -d)
load_pids=()
stop_load() {
    local pid
    for pid in "${load_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    load_pids=()
}
trap 'stop_load; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work

# timed OUTPUT COMMAND...: runs the command from $work/run with its standard output into OUTPUT
# and appends "seconds kib" to $work/times.
timed() {
    local output=$1
    shift
    if ! (cd "$work/run" && /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$output" 2>"$work/err"); then
        echo "bench_real: $* failed" >&2
        cat "$work/err" >&2
        exit 1
    fi
    cat "$work/time"
}

median() {
    sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

printf "%-9s %-9s %9s %9s %7s %9s %9s %7s %9s %9s %8s\n" input cores "compr s" "gzip-6 s" ratio \
    "decomp s" "gzip-d s" ratio "c B/tri" "d B/tri" "qrn/gz"
for name in $inputs; do
    file=$(input_file "$name")
    triangles=$(od -An -tu4 -j80 -N4 "$file" | tr -d ' ')
    for mode in $modes; do
        pin=()
        case $mode in
        all) ;;
        2) pin=(taskset -c 0,1) ;;
        1) pin=(taskset -c 0) ;;
        loaded)
            for _ in $(seq "$(nproc)"); do
                (while :; do :; done) &
                load_pids+=($!)
            done
            ;;
        *) echo "bench_real: unknown mode $mode" >&2; exit 2 ;;
        esac
        : >"$work/g" && : >"$work/u"
        for p in "${!programs[@]}"; do : >"$work/c$p" && : >"$work/d$p"; done
        for run in $(seq "$runs"); do
            rm -rf "$work/run" && mkdir "$work/run"
            ln -s "$file" "$work/run/model.stl"
            timed model.stl.gz "${pin[@]}" gzip -6 -c model.stl >>"$work/g"
            timed gunzip.stl "${pin[@]}" gzip -d -c model.stl.gz >>"$work/u"
            cmp -s "$file" "$work/run/gunzip.stl" || { echo "bench_real: gzip -d differs" >&2; exit 1; }
            # note: the program timed first in a run measured slower (the disk still writing what
            # gzip wrote), so the variants take turns at going first.
            order=()
            for k in "${!programs[@]}"; do order+=($(((run - 1 + k) % ${#programs[@]}))); done
            for p in "${order[@]}"; do
                rm -f "$work/run/model.stl" "$work/run/model.qrn"
                ln -s "$file" "$work/run/model.stl"
                # shellcheck disable=SC2086 # the env arguments are words
                timed /dev/null "${pin[@]}" env ${environments[$p]} "${programs[$p]}" --headless \
                    -compress model.stl >>"$work/c$p"
                rm "$work/run/model.stl"
                # shellcheck disable=SC2086
                timed /dev/null "${pin[@]}" env ${environments[$p]} "${programs[$p]}" --headless \
                    -decompress model.qrn >>"$work/d$p"
                [ "$(od -An -tu4 -j80 -N4 "$work/run/model.stl" | tr -d ' ')" = "$triangles" ] ||
                    { echo "bench_real: the decompressed facet count differs" >&2; exit 1; }
                mv "$work/run/model.qrn" "$work/run/out$p.qrn" && mv "$work/run/model.stl" "$work/run/out$p.stl"
            done
            # Every variant against QUARN's own: the same program must write the same bytes.
            for p in "${!programs[@]}"; do
                [ "$p" != 0 ] || continue
                if [ "${programs[$p]}" = "${programs[0]}" ]; then
                    cmp -s "$work/run/out$p.qrn" "$work/run/out0.qrn" &&
                        cmp -s "$work/run/out$p.stl" "$work/run/out0.stl" ||
                        { echo "bench_real: the outputs with and without the heap worker differ" >&2; exit 1; }
                else
                    cmp -s <(gzip -dc "$work/run/out$p.qrn") <(gzip -dc "$work/run/out0.qrn") &&
                        cmp -s "$work/run/out$p.stl" "$work/run/out0.stl" ||
                        { echo "bench_real: the two programs' outputs differ" >&2; exit 1; }
                fi
            done
        done
        stop_load
        g=$(cut -d' ' -f1 "$work/g" | median) && u=$(cut -d' ' -f1 "$work/u" | median)
        for p in "${!programs[@]}"; do
            c=$(cut -d' ' -f1 "$work/c$p" | median) && d=$(cut -d' ' -f1 "$work/d$p" | median)
            cm=$(cut -d' ' -f2 "$work/c$p" | median) && dm=$(cut -d' ' -f2 "$work/d$p" | median)
            label=$mode${marks[$p]}
            awk -v n="$name" -v m="$label" -v t="$triangles" -v c="$c" -v g="$g" -v d="$d" -v u="$u" \
                -v cm="$cm" -v dm="$dm" -v q="$(stat -c %s "$work/run/out$p.qrn")" \
                -v z="$(stat -c %s "$work/run/model.stl.gz")" 'BEGIN {
                printf "%-9s %-9s %9.2f %9.2f %7.2f %9.2f %9.2f %7.2f %9.1f %9.1f %8.3f\n", n, m, c, g, c / g,
                    d, u, d / u, cm * 1024 / t, dm * 1024 / t, q / z
            }'
        done
    done
done
