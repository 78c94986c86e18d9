#!/usr/bin/env bash
# Slices a generated torus with bench_slice (contour merging on) and, on the same STL file and
# layer height, with PrusaSlicer (SLA export) and Slic3r (SVG export); prints wall time and peak
# memory of each and the time ratios. Installs prusa-slicer and slic3r when they are missing.
# Also checks Slic3r's contours against the mesh: the net layer areas times the layer height
# add up to the mesh volume.
#
#   bench/bench_slice.sh [TRIANGLES] [LAYER_HEIGHT] [BENCH_SLICE]
#   (defaults: 1000000, 0.05, build/bench/bench_slice)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
triangles=${1:-1000000}
height=${2:-0.05}
ours=${3:-$root/build/bench/bench_slice}
[ -x "$ours" ] || { echo "bench_slice: $ours is not built" >&2; exit 1; }

missing=()
command -v prusa-slicer >/dev/null || missing+=(prusa-slicer)
command -v slic3r >/dev/null || missing+=(slic3r)
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work HOME=$work

# measure LABEL COMMAND...: runs the command with its output in a log; prints time and peak memory.
measure() {
    local label=$1
    shift
    if ! /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/$label.log" 2>&1; then
        echo "bench_slice: $label failed" >&2
        tail -n 20 "$work/$label.log" >&2
        exit 1
    fi
    local seconds kib
    read -r seconds kib <"$work/time"
    awk -v l="$label" -v s="$seconds" -v k="$kib" 'BEGIN { printf "%-14s %8.2f s   peak %8.1f MiB\n", l, s, k / 1024 }'
    echo "$seconds" >"$work/$label.seconds"
}

python3 "$root/scripts/make-sample-stl.py" "$work/model.stl" "$triangles"
echo "== $triangles triangles, layer height $height mm"

measure quarn "$ours" "$work/model.stl" "$height" "$work/model.slc" --merge
measure prusa-slicer prusa-slicer --printer-technology SLA --export-sla --layer-height "$height" \
    --bed-shape 0x0,150x0,150x150,0x150 --display-width 150 --display-height 150 \
    --supports-enable=0 --pad-enable=0 -o "$work/model.sl1" "$work/model.stl"
measure slic3r slic3r --export-svg --layer-height "$height" --first-layer-height "$height" \
    -o "$work/model.svg" "$work/model.stl"
echo "-- bench_slice's own figures"
cat "$work/quarn.log"

# Net area of each Slic3r layer (contours count positive, holes negative) times the layer height,
# against the mesh volume that bench_slice printed.
python3 - "$work/model.svg" "$height" "$work/quarn.log" <<'EOF'
import re
import sys

svg, height, log = open(sys.argv[1]).read(), float(sys.argv[2]), open(sys.argv[3]).read()
mesh = float(re.search(r"mesh volume ([-0-9.e+]+)", log).group(1))
total = 0.0
for polygon in re.finditer(r'<polygon[^>]*points="([^"]*)"[^>]*>', svg):
    tag = polygon.group(0)
    xy = [float(v) for v in re.split(r"[ ,]+", polygon.group(1).strip())]
    pts = list(zip(xy[0::2], xy[1::2]))
    area = 0.0
    for i in range(len(pts)):
        x0, y0 = pts[i - 1]
        x1, y1 = pts[i]
        area += x0 * y1 - x1 * y0
    area = abs(area) / 2.0
    total += -area if 'hole' in tag else area
volume = total * height
print("slic3r layer volume %.6f   mesh volume %.6f   relative difference %.2e"
      % (volume, mesh, abs(volume - mesh) / abs(mesh)))
EOF

awk -v q="$(cat "$work/quarn.seconds")" -v p="$(cat "$work/prusa-slicer.seconds")" \
    -v s="$(cat "$work/slic3r.seconds")" 'BEGIN {
    printf "time: quarn / prusa-slicer %.2f, quarn / slic3r %.2f\n", q / p, q / s
}'
