#!/usr/bin/env python3
"""Writes a sample model for trying the program: a closed torus as a binary STL file.

    scripts/make-sample-stl.py [OUTPUT.stl] [TRIANGLES]

The torus has about TRIANGLES facets (default 20000), an outer diameter of 104 mm and a tube of
24 mm. Every vertex is computed from its grid position alone, so neighbouring facets share
bit-identical corners and the file is a watertight mesh.
"""
import math
import struct
import sys

MAJOR_RADIUS = 40.0
MINOR_RADIUS = 12.0


def grid(triangles):
    """Rings around the axis and sides around the tube for about `triangles` facets."""
    cells = max(9, triangles // 2)
    sides = max(3, round(math.sqrt(cells / 3.0)))
    rings = max(3, round(cells / sides))
    return rings, sides


def vertex(ring, side, rings, sides):
    u = 2.0 * math.pi * (ring % rings) / rings
    v = 2.0 * math.pi * (side % sides) / sides
    r = MAJOR_RADIUS + MINOR_RADIUS * math.cos(v)
    # Rounded to single precision once, so shared corners are written identically.
    return struct.unpack("<3f", struct.pack("<3f", r * math.cos(u), r * math.sin(u), MINOR_RADIUS * math.sin(v)))


def normal(a, b, c):
    ux, uy, uz = b[0] - a[0], b[1] - a[1], b[2] - a[2]
    vx, vy, vz = c[0] - a[0], c[1] - a[1], c[2] - a[2]
    nx, ny, nz = uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx
    length = math.sqrt(nx * nx + ny * ny + nz * nz) or 1.0
    return nx / length, ny / length, nz / length


def facets(rings, sides):
    for i in range(rings):
        for j in range(sides):
            a = vertex(i, j, rings, sides)
            b = vertex(i + 1, j, rings, sides)
            c = vertex(i + 1, j + 1, rings, sides)
            d = vertex(i, j + 1, rings, sides)
            # Counter-clockwise seen from outside: the normals point away from the tube's centre.
            yield a, b, c
            yield a, c, d


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else "sample.stl"
    triangles = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
    rings, sides = grid(triangles)
    count = 2 * rings * sides
    with open(output, "wb") as f:
        f.write(b"Quarn sample torus".ljust(80, b" "))
        f.write(struct.pack("<I", count))
        for a, b, c in facets(rings, sides):
            f.write(struct.pack("<12fH", *normal(a, b, c), *a, *b, *c, 0))
    print(f"{output}: torus of {count} triangles")


if __name__ == "__main__":
    main()
