#!/usr/bin/env python3
"""Writes .qrn fixtures of every readable version from the format's own description.

This writer shares no code with the library: it lays out the bytes with struct, compresses
with zlib/gzip and enciphers through the `openssl enc` command, so a reader test that passes
on its output checks the reader against the format rather than against our writer.

Usage: make_qrn_fixtures.py OUTDIR [--openssl PATH]
Writes OUTDIR/<name>.qrn and OUTDIR/manifest.json, which lists per fixture the version, the
key to read it with, the 80-byte text (hex) and the facets the read mesh must hold, each as
nine coordinates and the attribute word.
"""

import argparse
import gzip
import hashlib
import json
import os
import struct
import subprocess
import sys
import zlib

NID_BF_CBC = 91
NID_SHA1 = 64
NID_SHA256 = 672
DIGESTS = {NID_SHA1: "sha1", NID_SHA256: "sha256"}
BF_KEY_LEN = 16
BF_IV_LEN = 8

# Vertices in file order, deliberately unsorted; the last one is used by no facet. Every
# coordinate is a short binary fraction, so the JSON numbers are exact floats.
VERTICES = [
    (0.0, 0.0, 0.0),
    (1.0, 0.0, 0.0),
    (0.0, 1.0, 0.0),
    (1.0, 1.0, 0.5),
    (0.0, 2.0, 1.0),
    (1.0, 2.0, 1.25),
    (2.0, 0.0, -1.0),
    (5.5, -5.0, 3.75),
]

# Strips as (declared length, [(index, attribute), ...]); the attribute of the first two
# elements is never stored. The two-element strip is read and dropped by the reader.
STRIPS = [
    [(0, 0), (1, 0), (2, 0x0101), (3, 0xBEEF), (4, 7), (5, 0xFFFF)],
    [(6, 0), (1, 0)],
    [(1, 0), (6, 0), (0, 0x1234)],
]

# Groups as (stored index count, facets (a, b, c, attribute)); an empty group and a count
# that is not a multiple of three (its remainder is dropped) are part of the layout.
GROUPS = [
    (6, [(6, 3, 1, 0x00A0), (6, 2, 3, 0x0B0B)]),
    (0, []),
]
ODD_GROUP = (7, [(6, 4, 3, 0x0321), (6, 5, 4, 9)])

# 32-bit attribute words for the fixtures that store them whole.
WIDE = {0x0101: 0x00120101, 0xBEEF: 0x7FFFBEEF, 0x00A0: 0x000100A0}


def qchecksum(data):
    """Qt's qChecksum with its default standard: CRC-16 of ISO 3309 (X.25)."""
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return ~crc & 0xFFFF


def qcompress(data):
    """Qt's qCompress form: big-endian length of the plain bytes, then a zlib stream."""
    return struct.pack(">I", len(data)) + zlib.compress(data, -1)


def bytes_to_key(digest, salt8, password, count, size):
    """OpenSSL's EVP_BytesToKey: chained digests of previous block, password and salt."""
    out = b""
    block = b""
    while len(out) < size:
        block = hashlib.new(digest, block + password + salt8).digest()
        for _ in range(count - 1):
            block = hashlib.new(digest, block).digest()
        out += block
    return out[:size]


class Cipher:
    def __init__(self, openssl):
        self.openssl = openssl

    def run(self, key, iv, data, decrypt=False):
        cmd = [self.openssl, "enc", "-bf-cbc", "-provider", "legacy", "-provider", "default",
               "-K", key.hex(), "-iv", iv.hex()]
        if decrypt:
            cmd.append("-d")
        return subprocess.run(cmd, input=data, stdout=subprocess.PIPE, check=True).stdout

    def legacy(self, digest_nid, salt, password, count, data):
        material = bytes_to_key(DIGESTS[digest_nid], struct.pack("<q", salt), password, count,
                                BF_KEY_LEN + BF_IV_LEN)
        return self.run(material[:BF_KEY_LEN], material[BF_KEY_LEN:], data)

    def pbkdf2(self, digest_nid, salt, password, count, data):
        material = hashlib.pbkdf2_hmac(DIGESTS[digest_nid], password, struct.pack("<q", salt),
                                       count, BF_KEY_LEN + 16)
        return self.run(material[:BF_KEY_LEN], material[BF_KEY_LEN:BF_KEY_LEN + BF_IV_LEN], data)


def attr_width(code):
    return (0, 2, 2, 4, 2, 4, 4, 4)[code & 7]


def pack_attr(code, value):
    width = attr_width(code)
    if width == 2:
        return struct.pack("<H", value & 0xFFFF)
    if width == 4:
        return struct.pack("<I", value)
    return b""


def read_back(code, value):
    width = attr_width(code)
    return 0 if width == 0 else value & 0xFFFF if width == 2 else value


def vertex_records(vertices):
    return b"".join(struct.pack("<3f", *v) for v in vertices)


def vertex_list(vertices):
    return struct.pack("<i", len(vertices)) + vertex_records(vertices)


def byte_array(data):
    return struct.pack("<I", len(data)) + data


class Model:
    """A mesh in stripped form plus the facets that reading it must give."""

    def __init__(self, vertices, strips, groups, wide=False):
        self.vertices = vertices
        self.strips = strips
        self.groups = groups
        self.wide = wide

    def attribute(self, value):
        return WIDE.get(value, value) if self.wide else value

    def strip_section(self, code, flags_word=None):
        out = b"" if flags_word is None else struct.pack("<H", flags_word)
        out += struct.pack("<i", len(self.strips))
        for strip in self.strips:
            out += struct.pack("<iii", len(strip), strip[0][0], strip[1][0])
            for index, attr in strip[2:]:
                out += struct.pack("<i", index) + pack_attr(code, self.attribute(attr))
        out += struct.pack("<i", len(self.groups))
        for count, facets in self.groups:
            out += struct.pack("<i", count)
            for a, b, c, attr in facets:
                out += struct.pack("<iii", a, b, c) + pack_attr(code, self.attribute(attr))
        return out

    def expected(self, code):
        facets = []
        for strip in self.strips:
            if len(strip) < 3:
                continue
            p, q = strip[0][0], strip[1][0]
            for k in range(2, len(strip)):
                r, attr = strip[k]
                facets.append((p, q, r, attr))
                if k % 2 == 0:
                    p = r
                else:
                    q = r
        for _, group in self.groups:
            facets.extend(group)
        out = []
        for a, b, c, attr in facets:
            coords = [x for i in (a, b, c) for x in self.vertices[i]]
            out.append(coords + [read_back(code, self.attribute(attr))])
        return out

    def used_vertices(self):
        used = set()
        for row in self.expected(0):
            for i in range(3):
                used.add(tuple(row[3 * i:3 * i + 3]))
        return len(used)


def text(label):
    raw = ("qrn fixture " + label).encode("ascii")
    return raw + b"\0" * (80 - len(raw))


def header(version, label):
    return b"QRNK" + struct.pack("<i", version) + text(label)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("outdir")
    parser.add_argument("--openssl", default="openssl")
    args = parser.parse_args()
    os.makedirs(args.outdir, exist_ok=True)
    cipher = Cipher(args.openssl)
    key = b"fixture key"

    model = Model(VERTICES, STRIPS, GROUPS)
    odd = Model(VERTICES[:7], STRIPS, GROUPS + [ODD_GROUP])
    wide = Model(VERTICES, STRIPS, GROUPS, wide=True)
    empty = Model([], [], [])
    fixtures = []

    def add(name, version, content, mdl, code, use_key=b"", container="gzip", status=2):
        path = os.path.join(args.outdir, name + ".qrn")
        if container == "gzip":
            data = gzip.compress(content, 6)
        elif container == "members":
            cut = len(content) // 2
            data = gzip.compress(content[:cut]) + gzip.compress(content[cut:])
        else:
            data = content
        with open(path, "wb") as f:
            f.write(data)
        fixtures.append({
            "name": name,
            "file": os.path.basename(path),
            "version": version,
            "key": use_key.decode("ascii"),
            "status": status,
            "text": text(name).hex(),
            "vertices": mdl.used_vertices(),
            "facets": mdl.expected(code),
        })

    # Versions 0 to 4: plain vertex list, no flags anywhere, no attributes stored.
    for version in range(5):
        mdl = odd if version == 3 else model
        container = "plain" if version == 1 else "members" if version == 2 else "gzip"
        add("v%d" % version, version,
            header(version, "v%d" % version) + vertex_list(mdl.vertices) + mdl.strip_section(0),
            mdl, 0, container=container)

    # Version 5, plain, 16-bit attributes.
    add("v5-plain", 5, header(5, "v5-plain") + struct.pack("<B", 0x01) + vertex_list(VERTICES)
        + model.strip_section(1), model, 1)

    # Version 5, enciphered: count, salt and n*12+8 raw bytes, zero-filled behind the cipher's
    # output. Blowfish CBC, legacy derivation with SHA-1 and one iteration.
    def v5_enciphered(name, mdl, code, salt):
        n = len(mdl.vertices)
        block = struct.pack("<B", 0x10 | code) + struct.pack("<i", n)
        if n:
            sealed = cipher.legacy(NID_SHA1, salt, key, 1, vertex_records(mdl.vertices))
            block += struct.pack("<q", salt) + sealed + b"\0" * (n * 12 + 8 - len(sealed))
        add(name, 5, header(5, name) + block + mdl.strip_section(code), mdl, code, key)

    v5_enciphered("v5-cipher-odd", odd, 1, 0x1122334455667788)
    v5_enciphered("v5-cipher-even", wide, 3, -0x0123456789ABCDEF)
    v5_enciphered("v5-cipher-none", empty, 1, 0)

    # Version 6: 32-bit flags; plain, and enciphered with the CRC of the compressed bytes.
    add("v6-plain", 6, header(6, "v6-plain") + struct.pack("<i", 0x01) + vertex_list(VERTICES)
        + model.strip_section(1), model, 1)

    def v6_enciphered(name, mdl, code, checksum_delta=0, status=2):
        packed = qcompress(vertex_list(mdl.vertices))
        salt, digest, count = 0x0A0B0C0D01020304, NID_SHA256, 3
        sealed = cipher.legacy(digest, salt, key, count, packed)
        block = (struct.pack("<i", 0x10 | code) + byte_array(sealed)
                 + struct.pack("<Hhiq", (qchecksum(packed) + checksum_delta) & 0xFFFF, digest,
                               count, salt))
        add(name, 6, header(6, name) + block + mdl.strip_section(code), mdl, code, key,
            status=status)

    v6_enciphered("v6-cipher", wide, 3)
    v6_enciphered("v6-cipher-badsum", model, 1, checksum_delta=1, status=5)

    # Version 7: cipher NID 0 and the plain list, then the 16-bit flags word of the strips.
    add("v7-plain", 7, header(7, "v7-plain") + struct.pack("<h", 0) + vertex_list(VERTICES)
        + model.strip_section(1, 0x0001), model, 1)

    # Version 7 enciphered: the cipher's stream form, PBKDF2 with SHA-1 and 1365 iterations.
    salt, count, flags = 0x5A5A00FF7E7E0102, 1365, 0x13
    sealed = cipher.pbkdf2(NID_SHA1, salt, key, count, qcompress(vertex_list(VERTICES)))
    block = (struct.pack("<hhh", NID_BF_CBC, flags, NID_SHA1) + struct.pack("<q", salt)
             + struct.pack("<h", count) + byte_array(sealed))
    add("v7-cipher", 7, header(7, "v7-cipher") + block + model.strip_section(1, 0x0011), model, 1,
        key)

    with open(os.path.join(args.outdir, "manifest.json"), "w") as f:
        json.dump({"fixtures": fixtures}, f, separators=(",", ":"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
