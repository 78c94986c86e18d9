#!/usr/bin/env python3
"""Draws the 3D view's cursors into resources/cursors/: white shapes with a black outline on a
transparent 24 x 24 square (17 x 17 for the crosshair, whose hot spot is its centre (8, 8)). The
others have their hot spot at the top-left pixel, so each draws a small pointer tip there and its
symbol beside it. Pure Python, so it needs nothing installed.

    scripts/make-cursors.py [OUTPUT_DIR]
"""
import math
import os
import struct
import sys
import zlib

SIZE = 24
SUBSAMPLES = 3


def png(width, height, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    raw = b"".join(b"\x00" + bytes(row) for row in rows)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def segment_distance(px, py, ax, ay, bx, by):
    vx, vy = bx - ax, by - ay
    length = vx * vx + vy * vy
    t = 0.0 if length == 0 else max(0.0, min(1.0, ((px - ax) * vx + (py - ay) * vy) / length))
    dx, dy = px - (ax + t * vx), py - (ay + t * vy)
    return math.hypot(dx, dy)


def arc_points(cx, cy, r, start, end, steps=24):
    return [(cx + r * math.cos(math.radians(start + (end - start) * i / steps)),
             cy + r * math.sin(math.radians(start + (end - start) * i / steps))) for i in range(steps + 1)]


def polyline(points):
    return [(points[i], points[i + 1]) for i in range(len(points) - 1)]


def arrow_head(x, y, angle, length=4.0):
    # Two short strokes back from the tip (x, y) pointing along angle (degrees).
    a = math.radians(angle)
    left = (x - length * math.cos(a - 0.6), y - length * math.sin(a - 0.6))
    right = (x - length * math.cos(a + 0.6), y - length * math.sin(a + 0.6))
    return [((x, y), left), ((x, y), right)]


def pointer_tip():
    # A small arrow at the hot spot (0, 0).
    return [((0.5, 0.5), (0.5, 7.0)), ((0.5, 0.5), (5.5, 5.5)), ((0.5, 0.5), (3.0, 8.0))]


def cube(cx, cy, s):
    # A small wire cube: the mark of the "model" variants.
    a = [(cx - s, cy - s / 2), (cx + s / 2, cy - s / 2), (cx + s / 2, cy + s), (cx - s, cy + s)]
    o = s / 2
    b = [(x + o, y - o) for x, y in a]
    strokes = polyline(a + [a[0]]) + polyline(b[:3])
    strokes += [(a[0], b[0]), (a[1], b[1]), (a[2], b[2])]
    return strokes


def symbol(name):
    strokes = []
    if name != "crosshair":
        strokes += pointer_tip()
    if name.startswith("rotate") or name == "tilt":
        points = arc_points(14, 13, 6, -200, 60) if name != "tilt" else arc_points(14, 13, 7, 0, 300)
        strokes += polyline(points)
        end = points[-1]
        angle = math.degrees(math.atan2(end[1] - points[-2][1], end[0] - points[-2][0]))
        strokes += arrow_head(end[0], end[1], angle)
        if name == "tilt":
            strokes += [((12, 13), (16, 13)), ((14, 11), (14, 15))]
    elif name.startswith("pan"):
        cx, cy, r = 14, 13, 7
        strokes += [((cx - r, cy), (cx + r, cy)), ((cx, cy - r), (cx, cy + r))]
        for angle, (x, y) in ((0, (cx + r, cy)), (180, (cx - r, cy)), (90, (cx, cy + r)), (270, (cx, cy - r))):
            strokes += arrow_head(x, y, angle, 3.0)
    elif name.startswith("zoom"):
        strokes += polyline(arc_points(12, 11, 5, 0, 360))
        strokes += [((15.5, 14.5), (21, 20))]
        strokes += [((10, 11), (14, 11)), ((12, 9), (12, 13))]
    elif name == "crosshair":
        strokes += [((8.5, 0.5), (8.5, 6)), ((8.5, 11), (8.5, 16.5)), ((0.5, 8.5), (6, 8.5)), ((11, 8.5), (16.5, 8.5))]
    if name.endswith("_model"):
        strokes += cube(19, 19, 3.0)
    return strokes


def draw(name):
    size = 17 if name == "crosshair" else SIZE
    strokes = symbol(name)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            inner = outer = 0
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    px, py = x + (sx + 0.5) / SUBSAMPLES, y + (sy + 0.5) / SUBSAMPLES
                    d = min(segment_distance(px, py, *a, *b) for a, b in strokes)
                    inner += d <= 0.75
                    outer += d <= 1.75
            n = SUBSAMPLES * SUBSAMPLES
            if outer == 0:
                row += [0, 0, 0, 0]
            else:
                white = round(255 * inner / outer)
                row += [white, white, white, round(255 * outer / n)]
        rows.append(row)
    return png(size, size, rows)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources", "cursors")
    os.makedirs(out, exist_ok=True)
    names = ["cursor", "cursor_rotate", "cursor_rotate_model", "cursor_tilt", "cursor_pan", "cursor_pan_model",
             "cursor_zoom", "cursor_zoom_model", "cursor_crosshair"]
    for name in names:
        kind = name[len("cursor_"):] if name != "cursor" else "default"
        with open(os.path.join(out, name + ".png"), "wb") as f:
            f.write(draw(kind))


if __name__ == "__main__":
    main()
