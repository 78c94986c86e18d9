#!/usr/bin/env python3
"""Draws the program's icon, resources/images/icon.png: a subdivided triangle (a tiny mesh) with
its middle facet filled, on a rounded teal square. Pure Python, so it needs nothing installed.

    scripts/make-icon.py [OUTPUT.png] [SIZE] [--palette] [--background RRGGBB]

--palette writes an 8-bit palette image (with a transparency table where pixels are not opaque);
small sizes have few enough colours to need no reduction. --background lays the icon on an opaque
colour. The context-menu pictures of the explorer extension are made with

    scripts/make-icon.py shellext/images/quarn.png 16 --palette
    scripts/make-icon.py shellext/images/quarn_noalpha.png 13 --palette --background FFFFFF
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
    half_stroke = max(1.6 * s, 0.6)  # lines stay visible at menu sizes
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


def rgba_rows(size, pixels):
    stride = 1 + 4 * size
    return [[tuple(pixels[y * stride + 1 + 4 * x:y * stride + 5 + 4 * x]) for x in range(size)] for y in range(size)]


def on_background(size, pixels, background):
    rows = []
    for row in rgba_rows(size, pixels):
        out = bytearray([0])
        for r, g, b, a in row:
            out += bytes(round((c * a + k * (255 - a)) / 255) for c, k in zip((r, g, b), background)) + b"\xff"
        rows.append(bytes(out))
    return b"".join(rows)


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(size, pixels):
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b"")


def palette_png(size, pixels):
    rows = rgba_rows(size, pixels)
    colours = sorted({pixel for row in rows for pixel in row}, key=lambda c: c[3])  # transparent first
    if len(colours) > 256:
        sys.exit(f"{len(colours)} colours do not fit a palette; use a smaller size")
    index = {colour: i for i, colour in enumerate(colours)}
    data = b"".join(bytes([0] + [index[pixel] for pixel in row]) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 3, 0, 0, 0)  # 8-bit palette
    chunks = chunk(b"IHDR", header) + chunk(b"PLTE", b"".join(bytes(c[:3]) for c in colours))
    alphas = [c[3] for c in colours if c[3] < 255]
    if alphas:
        chunks += chunk(b"tRNS", bytes(alphas))
    return b"\x89PNG\r\n\x1a\n" + chunks + chunk(b"IDAT", zlib.compress(data, 9)) + chunk(b"IEND", b"")


if __name__ == "__main__":
    arguments = sys.argv[1:]
    palette = "--palette" in arguments
    background = None
    if "--background" in arguments:
        at = arguments.index("--background")
        background = tuple(bytes.fromhex(arguments[at + 1]))
        del arguments[at:at + 2]
    arguments = [a for a in arguments if a != "--palette"]
    output = arguments[0] if len(arguments) > 0 else "resources/images/icon.png"
    size = int(arguments[1]) if len(arguments) > 1 else SIZE
    pixels = draw(size)
    if background:
        pixels = on_background(size, pixels, background)
    with open(output, "wb") as f:
        f.write(palette_png(size, pixels) if palette else png(size, pixels))
