#!/usr/bin/env python3
"""Draws every picture of resources/images: the program's icon and the pictograms of the menus,
toolbars and panels. Each picture is a list of filled shapes painted in order and sampled 4 x 4
times per pixel for smooth edges. Pure Python, so it needs nothing installed.

    scripts/make-images.py [OUTPUT_DIR]                # default: resources/images
    scripts/make-images.py --shellext [OUTPUT_DIR]     # default: shellext/images

--shellext draws the two context-menu pictures of the explorer extension instead: the icon at 16
pixels (quarn.png) and at 13 pixels laid on opaque white (quarn_noalpha.png), both as 8-bit palette
images with a transparency table where pixels are not opaque.
"""
import math
import os
import struct
import sys
import zlib

SUBSAMPLES = 4  # per axis, for smooth edges

# Colours (red, green, blue, alpha), one palette for all pictograms.
INK = (0.15, 0.17, 0.20, 1.0)
WHITE = (1.0, 1.0, 1.0, 1.0)
ORANGE = (1.0, 0.67, 0.0, 1.0)
ORANGE_DARK = (0.80, 0.45, 0.0, 1.0)
TEAL = (0.12, 0.50, 0.58, 1.0)
BLUE = (0.20, 0.45, 0.85, 1.0)
BLUE_LIGHT = (0.60, 0.78, 1.0, 1.0)
RED = (0.85, 0.15, 0.15, 1.0)
GREEN = (0.15, 0.62, 0.20, 1.0)
AXIS_BLUE = (0.15, 0.35, 0.90, 1.0)
GREY = (0.62, 0.64, 0.68, 1.0)
GREY_LIGHT = (0.86, 0.87, 0.89, 1.0)
YELLOW = (0.98, 0.80, 0.30, 1.0)
YELLOW_DARK = (0.80, 0.58, 0.10, 1.0)
ICE = (0.70, 0.88, 1.0, 0.75)
ICE_EDGE = (0.30, 0.55, 0.80, 1.0)
AXIS_COLOURS = {"x": RED, "y": GREEN, "z": AXIS_BLUE}


# ---- shapes: each is a predicate of a point (x, y) in the picture's own units ----

def polygon(*points):
    def inside(p):
        crossings = False
        for i in range(len(points)):
            (x0, y0), (x1, y1) = points[i], points[(i + 1) % len(points)]
            if (y0 > p[1]) != (y1 > p[1]) and p[0] < x0 + (p[1] - y0) * (x1 - x0) / (y1 - y0):
                crossings = not crossings
        return crossings
    return inside


def rect(x0, y0, x1, y1):
    return lambda p: x0 <= p[0] <= x1 and y0 <= p[1] <= y1


def rounded_rect(x0, y0, x1, y1, radius):
    def inside(p):
        cx = min(max(p[0], x0 + radius), x1 - radius)
        cy = min(max(p[1], y0 + radius), y1 - radius)
        return (p[0] - cx) ** 2 + (p[1] - cy) ** 2 <= radius * radius and x0 <= p[0] <= x1 and y0 <= p[1] <= y1
    return inside


def disc(cx, cy, r):
    return lambda p: (p[0] - cx) ** 2 + (p[1] - cy) ** 2 <= r * r


def ring(cx, cy, r, width, start=0.0, end=360.0):
    """Annulus of the given stroke width; angles in degrees, counter-clockwise from +x, y down."""
    def inside(p):
        d = math.hypot(p[0] - cx, p[1] - cy)
        if abs(d - r) > width / 2:
            return False
        angle = math.degrees(math.atan2(cy - p[1], p[0] - cx)) % 360.0
        return (angle - start) % 360.0 <= (end - start) % 360.0 or end - start >= 360.0
    return inside


def distance_to_segment(p, a, b):
    vx, vy = b[0] - a[0], b[1] - a[1]
    length2 = vx * vx + vy * vy
    t = 0.0 if length2 == 0 else min(max(((p[0] - a[0]) * vx + (p[1] - a[1]) * vy) / length2, 0.0), 1.0)
    return math.hypot(p[0] - (a[0] + t * vx), p[1] - (a[1] + t * vy))


def lines(width, *points, closed=False):
    """A polyline stroked with round joins."""
    pairs = list(zip(points, points[1:])) + ([(points[-1], points[0])] if closed else [])
    return lambda p: min(distance_to_segment(p, a, b) for a, b in pairs) <= width / 2


def dashed(width, a, b, dash):
    length = math.hypot(b[0] - a[0], b[1] - a[1])
    def inside(p):
        vx, vy = (b[0] - a[0]) / length, (b[1] - a[1]) / length
        t = (p[0] - a[0]) * vx + (p[1] - a[1]) * vy
        return int(t // dash) % 2 == 0 and distance_to_segment(p, a, b) <= width / 2
    return inside


def union(*shapes):
    return lambda p: any(s(p) for s in shapes)


def minus(shape, hole):
    return lambda p: shape(p) and not hole(p)


def arrow_head(tip, direction, length, half_width):
    dx, dy = direction
    norm = math.hypot(dx, dy)
    dx, dy = dx / norm, dy / norm
    bx, by = tip[0] - dx * length, tip[1] - dy * length
    return polygon(tip, (bx - dy * half_width, by + dx * half_width), (bx + dy * half_width, by - dx * half_width))


# ---- rendering ----

def render(width, height, layers, scale):
    """layers: (shape, colour) pairs painted in order over a transparent background; scale maps
    pixels to the units of the shapes."""
    rows = []
    n = SUBSAMPLES * SUBSAMPLES
    for py in range(height):
        row = bytearray([0])  # PNG filter type: none
        for px in range(width):
            r = g = b = a = 0.0
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    p = ((px + (sx + 0.5) / SUBSAMPLES) * scale, (py + (sy + 0.5) / SUBSAMPLES) * scale)
                    cr = cg = cb = ca = 0.0
                    for shape, colour in layers:
                        if shape(p):
                            if callable(colour):
                                colour = colour(p)
                            alpha = colour[3]
                            cr = colour[0] * alpha + cr * (1 - alpha)
                            cg = colour[1] * alpha + cg * (1 - alpha)
                            cb = colour[2] * alpha + cb * (1 - alpha)
                            ca = alpha + ca * (1 - alpha)
                    # (cr, cg, cb) are premultiplied by ca.
                    r, g, b, a = r + cr, g + cg, b + cb, a + ca
            if a > 0:
                row += bytes([round(255 * r / a), round(255 * g / a), round(255 * b / a), round(255 * a / n)])
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(width, height, pixels):
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9))
            + chunk(b"IEND", b""))


def rgba_rows(width, height, pixels):
    stride = 1 + 4 * width
    return [[tuple(pixels[y * stride + 1 + 4 * x:y * stride + 5 + 4 * x]) for x in range(width)]
            for y in range(height)]


def on_background(width, height, pixels, background):
    """The pixels laid on an opaque colour (red, green, blue bytes)."""
    rows = []
    for row in rgba_rows(width, height, pixels):
        out = bytearray([0])
        for r, g, b, a in row:
            out += bytes(round((c * a + k * (255 - a)) / 255) for c, k in zip((r, g, b), background)) + b"\xff"
        rows.append(bytes(out))
    return b"".join(rows)


def palette_png(width, height, pixels):
    """An 8-bit palette image, with a transparency table where pixels are not opaque; small pictures
    have few enough colours to need no reduction."""
    rows = rgba_rows(width, height, pixels)
    colours = sorted({pixel for row in rows for pixel in row}, key=lambda c: c[3])  # transparent first
    if len(colours) > 256:
        sys.exit(f"{len(colours)} colours do not fit a palette; use a smaller size")
    index = {colour: i for i, colour in enumerate(colours)}
    data = b"".join(bytes([0] + [index[pixel] for pixel in row]) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0)  # 8-bit palette
    chunks = chunk(b"IHDR", header) + chunk(b"PLTE", b"".join(bytes(c[:3]) for c in colours))
    alphas = [c[3] for c in colours if c[3] < 255]
    if alphas:
        chunks += chunk(b"tRNS", bytes(alphas))
    return b"\x89PNG\r\n\x1a\n" + chunks + chunk(b"IDAT", zlib.compress(data, 9)) + chunk(b"IEND", b"")


def mix(c0, c1, t):
    return tuple(c0[i] + (c1[i] - c0[i]) * t for i in range(3)) + (1.0,)


# ---- the pictures; pictograms are drawn in a 16 x 16 unit square ----

def icon(size=64):
    """The program's icon, drawn in pixels of a square of the given size: a subdivided triangle with
    its middle facet filled, on a rounded teal square."""
    s = size / 64.0
    top, right, left = (32 * s, 9 * s), (56 * s, 51 * s), (8 * s, 51 * s)
    mid = lambda u, v: ((u[0] + v[0]) / 2, (u[1] + v[1]) / 2)
    m_tr, m_rl, m_lt = mid(top, right), mid(right, left), mid(left, top)
    stroke = 2 * max(1.6 * s, 0.6)  # lines stay visible at menu sizes
    return size, [
        (rounded_rect(0, 0, size, size, 12 * s),
         lambda p: mix((0.12, 0.50, 0.58), (0.04, 0.22, 0.30), p[1] / size)),
        (polygon(m_tr, m_rl, m_lt), (0.95, 0.65, 0.25, 1.0)),
        (lines(stroke, top, right, left, closed=True), WHITE),
        (lines(stroke, m_tr, m_rl, m_lt, closed=True), WHITE),
    ]


# Corners of a cube in a simple oblique projection: front square and its back copy.
CUBE_FRONT = [(2.5, 6.0), (10.5, 6.0), (10.5, 14.0), (2.5, 14.0)]
CUBE_BACK = [(x + 3.5, y - 3.5) for x, y in CUBE_FRONT]
CUBE_TOP = [CUBE_FRONT[0], CUBE_FRONT[1], CUBE_BACK[1], CUBE_BACK[0]]
CUBE_SIDE = [CUBE_FRONT[1], CUBE_BACK[1], CUBE_BACK[2], CUBE_FRONT[2]]


def cube_outline(width=1.0):
    return union(lines(width, *CUBE_FRONT, closed=True), lines(width, *CUBE_TOP, closed=True),
                 lines(width, *CUBE_SIDE, closed=True))


def view(front, top, side):
    return 16, [
        (polygon(*CUBE_FRONT), front),
        (polygon(*CUBE_TOP), top),
        (polygon(*CUBE_SIDE), side),
        (cube_outline(), INK),
    ]


def magnifier(inner):
    return 16, [
        (disc(6.5, 6.5, 4.6), (0.85, 0.93, 1.0, 1.0)),
        (ring(6.5, 6.5, 4.6, 1.6), INK),
        (lines(2.6, (10.0, 10.0), (14.2, 14.2)), INK),
    ] + inner


# Pyramid: apex, left base corner, right base corner, hidden back corner.
APEX, BASE_L, BASE_R, BASE_M, BASE_B = (8.0, 1.5), (1.5, 13.0), (14.5, 13.0), (9.0, 14.5), (7.0, 10.0)


def pyramid(filled, hidden):
    layers = []
    if filled:
        layers.append((polygon(APEX, BASE_L, BASE_M), GREY_LIGHT))
        layers.append((polygon(APEX, BASE_M, BASE_R), GREY))
    if hidden == "dashed":
        layers += [(dashed(0.9, BASE_B, APEX, 1.5), INK), (dashed(0.9, BASE_B, BASE_L, 1.5), INK),
                   (dashed(0.9, BASE_B, BASE_R, 1.5), INK)]
    elif hidden == "solid":
        layers.append((lines(0.9, BASE_L, BASE_B, BASE_R), INK))
        layers.append((lines(0.9, BASE_B, APEX), INK))
    layers.append((lines(1.2, APEX, BASE_L, BASE_M, BASE_R, APEX, BASE_M), INK))
    return 16, layers


def letter(name, cx, cy, size, width):
    h = size / 2
    if name == "x":
        return union(lines(width, (cx - h * 0.8, cy - h), (cx + h * 0.8, cy + h)),
                     lines(width, (cx + h * 0.8, cy - h), (cx - h * 0.8, cy + h)))
    if name == "y":
        return union(lines(width, (cx - h * 0.8, cy - h), (cx, cy)),
                     lines(width, (cx + h * 0.8, cy - h), (cx, cy), (cx, cy + h)))
    return lines(width, (cx - h * 0.8, cy - h), (cx + h * 0.8, cy - h), (cx - h * 0.8, cy + h),
                 (cx + h * 0.8, cy + h))


def axis(name):
    colour = AXIS_COLOURS[name]
    return 16, [(rounded_rect(0.5, 0.5, 15.5, 15.5, 3), colour), (letter(name, 8, 8, 9, 2.0), WHITE)]


def axis_rotate(name):
    colour = AXIS_COLOURS[name]
    return 16, [
        (ring(8, 8, 6.0, 1.8, 120, 60), colour),
        (arrow_head((11.6, 1.4), (-1.0, -0.9), 4.0, 2.6), colour),
        (letter(name, 8, 8.3, 5.6, 1.6), INK),
    ]


def vertical_arrow(up):
    tip, base = (8, 1.5), (8, 14.5)
    if not up:
        tip, base = base, tip
    direction = (0, -1) if up else (0, 1)
    return 16, [(arrow_head(tip, direction, 7.5, 6.0), BLUE), (lines(3.6, base, (8, 8)), BLUE)]


def clip(plane):
    layers = [(polygon(*CUBE_FRONT), GREY_LIGHT), (polygon(*CUBE_TOP), WHITE), (polygon(*CUBE_SIDE), GREY)]
    if plane is not None:
        y = 9.0 if plane == "top" else 11.0
        cut = [(1.0, y + 1.0), (11.5, y + 1.0), (15.0, y - 2.5), (4.5, y - 2.5)]
        side = rect(0, 0, 16, y - 1.5) if plane == "top" else rect(0, y + 1.0, 16, 16)
        cube = union(polygon(*CUBE_FRONT), polygon(*CUBE_TOP), polygon(*CUBE_SIDE))
        # The part that the plane cuts away fades out.
        layers.append((lambda p: side(p) and cube(p), (1.0, 1.0, 1.0, 0.65)))
        layers.append((polygon(*cut), (0.85, 0.15, 0.15, 0.55)))
        layers.append((lines(0.9, *cut, closed=True), RED))
    layers.append((cube_outline(0.9), INK))
    return 16, layers


# 5 x 7 capitals for the branding strip; '#' marks a set cell.
GLYPHS = {
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "V": ["#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."],
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "N": ["#...#", "##..#", "#.#.#", "#.#.#", "#..##", "#...#", "#...#"],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
}


def text(string, x0, y0, cell):
    cells = []
    for i, ch in enumerate(string):
        for row, bits in enumerate(GLYPHS.get(ch, [])):
            for col, bit in enumerate(bits):
                if bit == "#":
                    x, y = x0 + (i * 6 + col) * cell, y0 + row * cell
                    cells.append((x, y))
    return lambda p: any(x <= p[0] < x + cell and y <= p[1] < y + cell for x, y in cells)


def branding():
    """The news toolbar's strip, 164 x 16 pixels."""
    top, right, left = (8, 2), (14, 14), (2, 14)
    return (164, 16), [
        (rounded_rect(0, 0, 164, 16, 4), lambda p: mix((0.12, 0.50, 0.58), (0.04, 0.22, 0.30), p[1] / 16)),
        (lines(1.3, top, right, left, closed=True), WHITE),
        (polygon((11, 8), (8, 14), (5, 8)), ORANGE),
        (text("ORVAN NEWS", 22, 4, 1.25), WHITE),
    ]


PICTURES = {
    "icon.png": icon,
    "qt-logo.png": lambda: (16, [
        (rounded_rect(0.5, 0.5, 15.5, 15.5, 3.5), GREEN),
        (ring(7.5, 7.5, 4.0, 2.0), WHITE),
        (lines(2.0, (9.5, 9.5), (12.5, 12.5)), WHITE)]),
    "open.png": lambda: (16, [
        (polygon((1, 3), (6, 3), (7.5, 4.5), (14, 4.5), (14, 13.5), (1, 13.5)), YELLOW_DARK),
        (polygon((3, 7), (15.5, 7), (13.5, 13.5), (1, 13.5)), YELLOW),
        (lines(0.8, (3, 7), (15.5, 7), (13.5, 13.5), (1, 13.5), closed=True), YELLOW_DARK)]),
    "save.png": lambda: (16, [
        (polygon((1.5, 1.5), (12.5, 1.5), (14.5, 3.5), (14.5, 14.5), (1.5, 14.5)), BLUE),
        (rect(4, 1.5, 11, 6), GREY_LIGHT),
        (rect(8.5, 2.3, 10, 5.2), BLUE),
        (rect(3.5, 8.5, 12.5, 14.5), WHITE),
        (union(rect(5, 10, 11, 10.7), rect(5, 12, 11, 12.7)), GREY)]),
    "isometric.png": lambda: view(BLUE_LIGHT, WHITE, BLUE),
    "topdown.png": lambda: view(GREY_LIGHT, ORANGE, GREY_LIGHT),
    "frontview.png": lambda: view(ORANGE, GREY_LIGHT, GREY_LIGHT),
    "sideview.png": lambda: view(GREY_LIGHT, GREY_LIGHT, ORANGE),
    "perspective.png": lambda: (16, [
        (polygon((6, 2), (10, 2), (15, 14), (1, 14)), GREY_LIGHT),
        (union(lines(1.0, (6, 2), (1, 14)), lines(1.0, (10, 2), (15, 14)), lines(1.0, (8, 2), (8, 14)),
               lines(1.0, (6, 2), (10, 2)), lines(1.0, (4.75, 5), (11.25, 5)),
               lines(1.0, (3.3, 8.5), (12.7, 8.5)), lines(1.0, (1, 14), (15, 14))), INK)]),
    "zoomin.png": lambda: magnifier([(union(lines(1.5, (4.3, 6.5), (8.7, 6.5)),
                                            lines(1.5, (6.5, 4.3), (6.5, 8.7))), INK)]),
    "zoomout.png": lambda: magnifier([(lines(1.5, (4.3, 6.5), (8.7, 6.5)), INK)]),
    "zoom_to_all.png": lambda: magnifier([(rect(4.6, 4.6, 8.4, 8.4), ORANGE)]),
    "pyramid_line.png": lambda: pyramid(False, "solid"),
    "pyramid_hidden_line.png": lambda: pyramid(True, "dashed"),
    "pyramid_wireframe.png": lambda: (16, [
        (lines(0.9, BASE_L, BASE_B, BASE_R), INK), (lines(0.9, BASE_B, APEX), INK),
        (lines(0.9, APEX, BASE_L, BASE_M, BASE_R, APEX, BASE_M), INK),
        (union(disc(*APEX, 1.1), disc(*BASE_L, 1.1), disc(*BASE_R, 1.1), disc(*BASE_M, 1.1),
               disc(*BASE_B, 1.1)), BLUE)]),
    "ice_cube.png": lambda: (16, [
        (polygon(*CUBE_FRONT), ICE), (polygon(*CUBE_TOP), (0.85, 0.95, 1.0, 0.8)),
        (polygon(*CUBE_SIDE), (0.50, 0.75, 0.95, 0.8)),
        (lines(0.8, CUBE_BACK[3], CUBE_BACK[0]), ICE_EDGE), (lines(0.8, CUBE_BACK[3], CUBE_BACK[2]), ICE_EDGE),
        (lines(0.8, CUBE_BACK[3], CUBE_FRONT[3]), ICE_EDGE), (cube_outline(0.9), ICE_EDGE),
        (lines(1.0, (4, 8), (5.5, 8)), WHITE)]),
    "quarn.png": lambda: (16, [
        (polygon((8, 4), (13, 12), (3, 12)), ORANGE),
        (lines(1.0, (8, 4), (13, 12), (3, 12), closed=True), ORANGE_DARK),
        (union(rect(0.5, 1, 2, 15), rect(14, 1, 15.5, 15)), TEAL),
        (arrow_head((5.3, 8), (1, 0), 2.6, 2.2), TEAL), (lines(1.2, (2, 8), (3.5, 8)), TEAL),
        (arrow_head((10.7, 8), (-1, 0), 2.6, 2.2), TEAL), (lines(1.2, (12.5, 8), (14, 8)), TEAL)]),
    "logo-branding.png": branding,
    "ruler.png": lambda: (16, [
        (polygon((1, 11), (11, 1), (15, 5), (5, 15)), YELLOW),
        (lines(0.8, (1, 11), (11, 1), (15, 5), (5, 15), closed=True), YELLOW_DARK),
        (union(*[lines(0.8, (1 + 2 * i + 0.5 * 0, 11 - 2 * i), (1 + 2 * i + (2.4 if i % 2 else 1.5),
                                                                   11 - 2 * i + (2.4 if i % 2 else 1.5)))
                 for i in range(1, 5)]), INK)]),
    "info.png": lambda: (16, [
        (disc(8, 8, 7.2), BLUE),
        (union(disc(8, 4.4, 1.2), rect(7, 6.6, 9, 12.3)), WHITE)]),
    "slices.png": lambda: (16, [
        (polygon((1, 13), (11, 13), (15, 10), (5, 10)), ORANGE_DARK),
        (polygon((1, 9), (11, 9), (15, 6), (5, 6)), ORANGE),
        (polygon((1, 5), (11, 5), (15, 2), (5, 2)), YELLOW),
        (union(lines(0.7, (1, 13), (11, 13), (15, 10), (5, 10), closed=True),
               lines(0.7, (1, 9), (11, 9), (15, 6), (5, 6), closed=True),
               lines(0.7, (1, 5), (11, 5), (15, 2), (5, 2), closed=True)), INK)]),
    "clip_none.png": lambda: clip(None),
    "clip_top.png": lambda: clip("top"),
    "clip_bottom.png": lambda: clip("bottom"),
    "origin.png": lambda: (16, [
        (lines(1.4, (4, 12), (14.5, 12)), RED), (arrow_head((15.5, 12), (1, 0), 3, 2), RED),
        (lines(1.4, (4, 12), (4, 1.5)), AXIS_BLUE), (arrow_head((4, 0.5), (0, -1), 3, 2), AXIS_BLUE),
        (lines(1.4, (4, 12), (10, 6)), GREEN), (arrow_head((11, 5), (1, -1), 3, 2), GREEN),
        (disc(4, 12, 2.4), INK), (disc(4, 12, 1.1), WHITE)]),
    "x_axis.png": lambda: axis("x"),
    "y_axis.png": lambda: axis("y"),
    "z_axis.png": lambda: axis("z"),
    "x_axis_rotate.png": lambda: axis_rotate("x"),
    "y_axis_rotate.png": lambda: axis_rotate("y"),
    "z_axis_rotate.png": lambda: axis_rotate("z"),
    "up.png": lambda: vertical_arrow(True),
    "down.png": lambda: vertical_arrow(False),
    "downward_facet.png": lambda: (16, [
        (polygon((3, 1.5), (13, 3.5), (6, 8)), ORANGE),
        (lines(0.8, (3, 1.5), (13, 3.5), (6, 8), closed=True), ORANGE_DARK),
        (lines(1.6, (8, 8.5), (8, 11)), BLUE), (arrow_head((8, 13.2), (0, 1), 3, 2.4), BLUE),
        (lines(1.2, (1, 14.8), (15, 14.8)), INK)]),
}


def write_all(directory):
    os.makedirs(directory, exist_ok=True)
    for name, make in PICTURES.items():
        size, layers = make()
        if name == "icon.png":
            width = height = 64
            scale = size / 64.0
        elif isinstance(size, tuple):
            width, height = size
            scale = 1.0
        else:
            width = height = 16
            scale = size / 16.0
        with open(os.path.join(directory, name), "wb") as f:
            f.write(png(width, height, render(width, height, layers, scale)))


def write_shellext(directory):
    os.makedirs(directory, exist_ok=True)
    for name, size, background in (("quarn.png", 16, None), ("quarn_noalpha.png", 13, (255, 255, 255))):
        _, layers = icon(size)
        pixels = render(size, size, layers, 1.0)
        if background:
            pixels = on_background(size, size, pixels, background)
        with open(os.path.join(directory, name), "wb") as f:
            f.write(palette_png(size, size, pixels))


if __name__ == "__main__":
    arguments = sys.argv[1:]
    if arguments[:1] == ["--shellext"]:
        write_shellext(arguments[1] if len(arguments) > 1 else "shellext/images")
    else:
        write_all(arguments[0] if arguments else "resources/images")
