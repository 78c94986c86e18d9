#!/usr/bin/env bash
# Slices a generated torus with bench_slice (contour merging on) and, on the same STL file and
# layer height, with PrusaSlicer (SLA export) and Slic3r (SVG export); prints wall time and peak
# memory of each and the time ratios. Installs prusa-slicer and slic3r when they are missing.
# Also checks Slic3r's contours against the mesh: the net layer areas times the layer height
# add up to the mesh volume.
#
# With --damaged it runs bench_slice alone on the torus and on copies of it with 30 % and 50 % of
# its facets removed at random (each facet dropped with that chance, seeds 30 and 50; REMOVED and
# SEED in the environment change them), and prints tracing time and slicing peak against those of
# the intact torus.
#
#   bench/bench_slice.sh [--damaged] [TRIANGLES] [LAYER_HEIGHT] [BENCH_SLICE]
#   (defaults: 1000000, 0.05, build/bench/bench_slice)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
damaged=0
if [ "${1:-}" = "--damaged" ]; then
    damaged=1
    shift
fi
triangles=${1:-1000000}
height=${2:-0.05}
ours=${3:-$root/build/bench/bench_slice}
[ -x "$ours" ] || { echo "bench_slice: $ours is not built" >&2; exit 1; }

if [ $damaged = 1 ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    python3 "$root/scripts/make-sample-stl.py" "$work/torus-0.stl" "$triangles"
    for percent in ${REMOVED:-30 50}; do
        # Binary STL records stand alone (50 bytes, corners by value), so dropping some leaves a
        # valid file whose remaining neighbours still share bit-identical corners.
        python3 - "$work/torus-0.stl" "$work/torus-$percent.stl" "$percent" "${SEED:-$percent}" <<'EOF_DAMAGE'
import random
import struct
import sys

source, target, percent, seed = sys.argv[1], sys.argv[2], float(sys.argv[3]), int(sys.argv[4])
data = open(source, "rb").read()
count = struct.unpack_from("<I", data, 80)[0]
chance = random.Random(seed)
kept = [data[84 + 50 * i:134 + 50 * i] for i in range(count) if chance.random() >= percent / 100.0]
with open(target, "wb") as out:
    out.write(data[:80] + struct.pack("<I", len(kept)) + b"".join(kept))
EOF_DAMAGE
    done
    echo "== torus of $triangles triangles, layer height $height mm, facets removed at random"
    printf "%-9s %9s %10s %9s %13s %9s\n" removed facets tracing /intact "slicing peak" /mesh
    intact=""
    for percent in 0 ${REMOVED:-30 50}; do
        "$ours" "$work/torus-$percent.stl" "$height" "$work/torus-$percent.slc" --merge >"$work/log" 2>/dev/null ||
            { echo "bench_slice: failed on $percent % removed" >&2; exit 1; }
        tracing=$(awk '$1 == "tracing" { print $2 }' "$work/log")
        [ -n "$intact" ] || intact=$tracing
        awk -v p="$percent" -v t="$tracing" -v i="$intact" '
            $1 == "facets" { facets = $2 }
            $1 == "slicing" && $2 == "peak" { peak = $3; sub(/\)/, "", $NF); ratio = $NF }
            END { printf "%7s %% %9d %8.3f s %9.2f %9.1f MiB %9s\n", p, facets, t, t / i, peak, ratio }' "$work/log"
    done
    exit 0
fi

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
