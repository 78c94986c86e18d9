#!/usr/bin/env python3
"""Draws the program's icon, resources/images/icon.png: a subdivided triangle (a tiny mesh) with
its middle facet filled, on a rounded teal square. Pure Python, so it needs nothing installed.

    scripts/make-icon.py [OUTPUT.png] [SIZE]
"""
import struct
import sys
import zlib

SIZE = 64
SUBSAMPLES = 4  # per axis, for smooth edges


def inside_rounded_square(x, y, size, radius):
    cx = min(max(x, radius), size - radius)
    cy = min(max(y, radius), size - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius and 0 <= x <= size and 0 <= y <= size


def inside_triangle(p, a, b, c):
    def side(u, v, w):
        return (v[0] - u[0]) * (w[1] - u[1]) - (v[1] - u[1]) * (w[0] - u[0])
    d1, d2, d3 = side(a, b, p), side(b, c, p), side(c, a, p)
    return (d1 >= 0 and d2 >= 0 and d3 >= 0) or (d1 <= 0 and d2 <= 0 and d3 <= 0)


def distance_to_segment(p, a, b):
    vx, vy = b[0] - a[0], b[1] - a[1]
    t = ((p[0] - a[0]) * vx + (p[1] - a[1]) * vy) / (vx * vx + vy * vy)
    t = min(max(t, 0.0), 1.0)
    dx, dy = p[0] - (a[0] + t * vx), p[1] - (a[1] + t * vy)
    return (dx * dx + dy * dy) ** 0.5


def mix(c0, c1, t):
    return tuple(c0[i] + (c1[i] - c0[i]) * t for i in range(3))


def draw(size):
    s = size / 64.0
    top, right, left = (32 * s, 9 * s), (56 * s, 51 * s), (8 * s, 51 * s)
    mid = lambda u, v: ((u[0] + v[0]) / 2, (u[1] + v[1]) / 2)
    m_tr, m_rl, m_lt = mid(top, right), mid(right, left), mid(left, top)
    edges = [(top, right), (right, left), (left, top), (m_tr, m_rl), (m_rl, m_lt), (m_lt, m_tr)]
    half_stroke = 1.6 * s
    rows = []
    for py in range(size):
        row = bytearray([0])  # PNG filter type: none
        for px in range(size):
            r = g = b = a = 0.0
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    p = (px + (sx + 0.5) / SUBSAMPLES, py + (sy + 0.5) / SUBSAMPLES)
                    if not inside_rounded_square(p[0], p[1], size, 12 * s):
                        continue
                    colour = mix((0.12, 0.50, 0.58), (0.04, 0.22, 0.30), p[1] / size)
                    if inside_triangle(p, m_tr, m_rl, m_lt):
                        colour = (0.95, 0.65, 0.25)
                    if min(distance_to_segment(p, u, v) for u, v in edges) <= half_stroke:
                        colour = (1.0, 1.0, 1.0)
                    r, g, b, a = r + colour[0], g + colour[1], b + colour[2], a + 1.0
            n = SUBSAMPLES * SUBSAMPLES
            if a > 0:
                row += bytes([round(255 * r / a), round(255 * g / a), round(255 * b / a), round(255 * a / n)])
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return b"".join(rows)


def png(size, pixels):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b"")


if __name__ == "__main__":
    output = sys.argv[1] if len(sys.argv) > 1 else "resources/images/icon.png"
    size = int(sys.argv[2]) if len(sys.argv) > 2 else SIZE
    with open(output, "wb") as f:
        f.write(png(size, draw(size)))
