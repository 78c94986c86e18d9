#!/usr/bin/env bash
# Times the batch program end to end on a generated torus: `quarn --headless -compress` and
# `-decompress`, next to `gzip -6` and `gzip -d` on the same STL file. Prints wall time and peak
# resident memory of each command.
#
#   bench/bench_batch.sh [TRIANGLES] [QUARN]     (defaults: 2000000, build/src/app/quarn)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
triangles=${1:-2000000}
quarn=${2:-$root/build/src/app/quarn}
[ -x "$quarn" ] || { echo "bench_batch: $quarn is not built" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work

# measure LABEL OUTPUT COMMAND...: runs the command with its standard output into OUTPUT.
measure() {
    local label=$1 output=$2
    shift 2
    if ! /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$output" 2>"$work/err"; then
        echo "bench_batch: $label failed" >&2
        cat "$work/err" >&2
        exit 1
    fi
    local seconds kib
    read -r seconds kib <"$work/time"
    awk -v l="$label" -v s="$seconds" -v k="$kib" 'BEGIN { printf "%-26s %8.2f s   peak %8.1f MiB\n", l, s, k / 1024 }'
    echo "$seconds" >"$work/last"
}

python3 "$root/scripts/make-sample-stl.py" "$work/model.stl" "$triangles"
stl_bytes=$(stat -c %s "$work/model.stl")

cd "$work"
measure "quarn -compress" /dev/null "$quarn" --headless -compress model.stl
compress=$(cat last)
measure "gzip -6" model.stl.gz gzip -6 -c model.stl
gzip6=$(cat last)
mv model.stl original.stl
measure "quarn -decompress" /dev/null "$quarn" --headless -decompress model.qrn
decompress=$(cat last)
measure "gzip -d" gunzip.stl gzip -d -c model.stl.gz
gunzip=$(cat last)
cmp -s <(head -c 84 original.stl | tail -c 4) <(head -c 84 model.stl | tail -c 4) ||
    echo "bench_batch: the decompressed facet count differs" >&2

awk -v stl="$stl_bytes" -v qrn="$(stat -c %s model.qrn)" -v gz="$(stat -c %s model.stl.gz)" \
    -v c="$compress" -v g="$gzip6" -v d="$decompress" -v u="$gunzip" 'BEGIN {
    printf "sizes: STL %d, gzip -6 %d, .qrn %d bytes; .qrn / gzip %.3f\n", stl, gz, qrn, qrn / gz
    printf "time: compress / gzip -6 %.2f, decompress / gzip -d %.2f\n", c / g, d / u
}'
