#!/usr/bin/env python3
"""Writes the probe benchmark's images and the page that shows them.

   generate.py FOLDER [COUNT]

COUNT images (default 1,000), JPEG, PNG, WebP and GIF in turn, each of a size in pixels of its own;
one in ten is 20 to 40 MB, the others 20 KB to 2 MB. Only each file's first 256 KiB holds bytes
(its header, then noise); the rest is a hole, so the files take little disk. Every fifth JPEG
carries 150 KB of metadata before its frame header, so that its size lies beyond the first range.
Writes index.html (one <img> a file) and expected.tsv (name, type, width, height, bytes).
"""
import os
import random
import struct
import sys

folder = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
rng = random.Random(16)
os.makedirs(folder, exist_ok=True)


def jpeg(w, h, metadata):
    out = b"\xff\xd8" + b"\xff\xe0" + struct.pack(">H", 16) + b"JFIF\0\1\1\0\0\1\0\1\0\0"
    while metadata > 0:
        part = min(metadata, 65000)
        out += b"\xff\xe2" + struct.pack(">H", part + 2) + bytes(part)
        metadata -= part
    return out + b"\xff\xc0" + struct.pack(">HBHHB", 17, 8, h, w, 3) + b"\x01\x22\0\x02\x11\x01\x03\x11\x01"


def png(w, h):
    return b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 13) + b"IHDR" + struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)


def webp(w, h, kind):
    if kind == 0:
        data = b"\x10\x02\0\x9d\x01\x2a" + struct.pack("<HH", w, h)
        chunk = b"VP8 "
    elif kind == 1:
        data = b"\x2f" + struct.pack("<I", (w - 1) | (h - 1) << 14)
        chunk = b"VP8L"
    else:
        data = struct.pack("<I", 0) + struct.pack("<I", w - 1)[:3] + struct.pack("<I", h - 1)[:3]
        chunk = b"VP8X"
    body = b"WEBP" + chunk + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def gif(w, h):
    return b"GIF89a" + struct.pack("<HH", w, h) + b"\xf7\0\0"


rows = []
for i in range(count):
    kind = ("jpeg", "png", "webp", "gif")[i % 4]
    w, h = rng.randint(16, 8000), rng.randint(16, 8000)
    if kind == "webp":
        w, h = min(w, 16000), min(h, 16000)
    if kind == "jpeg":
        head, ext, mime = jpeg(w, h, 150000 if i % 20 == 0 else 0), "jpg", "image/jpeg"
    elif kind == "png":
        head, ext, mime = png(w, h), "png", "image/png"
    elif kind == "webp":
        head, ext, mime = webp(w, h, (i // 4) % 3), "webp", "image/webp"
    else:
        head, ext, mime = gif(w, h), "gif", "image/gif"
    size = rng.randint(20 << 20, 40 << 20) if i % 10 == 9 else rng.randint(20 << 10, 2 << 20)
    size = max(size, len(head) + 1024)
    name = "img%04d.%s" % (i, ext)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(head + rng.randbytes(min(size, 256 << 10) - len(head)))
        f.truncate(size)
    rows.append((name, mime, w, h, size))

with open(os.path.join(folder, "index.html"), "w") as f:
    f.write("<!doctype html><title>probe</title>\n")
    for name, *_ in rows:
        f.write('<img src="%s">\n' % name)
with open(os.path.join(folder, "expected.tsv"), "w") as f:
    for row in rows:
        f.write("\t".join(str(v) for v in row) + "\n")
