#!/usr/bin/python3
"""Checks the installer's image resources.

usage: tools/check_resources.py RES_DIR   (such as res/)

Decodes logo.png, download_bar.gif, busy_bar.gif and app.ico with Pillow, walks
the GIF block structure byte by byte, and prints "resources ok" when everything
holds; otherwise prints what is wrong and exits with status 1.
"""

import os
import struct
import sys

from PIL import Image

BAR_W, BAR_H = 240, 24
FRAMES = 100
PALETTE = [(0xE8, 0xEB, 0xED), (0x51, 0x00, 0x7A), (0xFE, 0x01, 0x02), (0x00, 0x00, 0x00)]
GREY, PURPLE = PALETTE[0], PALETTE[1]


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def check_logo(path):
    with open(path, "rb") as f:
        head = f.read(33)
    expect(head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR", "not a PNG")
    width, height, depth, colour_type = struct.unpack(">IIBB", head[16:26])
    expect((width, height) == (174, 20), "size %dx%d, want 174x20" % (width, height))
    expect((depth, colour_type) == (8, 6), "bit depth %d colour type %d, want 8-bit RGBA (6)" % (depth, colour_type))
    with Image.open(path) as im:
        im.load()
        expect(im.mode == "RGBA", "mode %s, want RGBA" % im.mode)
        alpha = im.getchannel("A")
        lo, hi = alpha.getextrema()
        expect(lo == 0 and hi == 255, "alpha range %d..%d, want transparent background and opaque glyphs" % (lo, hi))
        for corner in ((0, 0), (173, 0), (0, 19), (173, 19)):
            expect(alpha.getpixel(corner) == 0, "corner %s is not transparent" % (corner,))


def walk_gif(data):
    """Checks the block structure; returns [(left, width, transparent index or None)] per frame."""
    expect(data[:6] == b"GIF89a", "header %r, want GIF89a" % data[:6])
    width, height, packed, _background, _aspect = struct.unpack("<HHBBB", data[6:13])
    expect((width, height) == (BAR_W, BAR_H), "logical screen %dx%d, want 240x24" % (width, height))
    expect(packed & 0x80, "no global colour table")
    expect(2 << (packed & 7) == 4, "global colour table of %d entries, want 4" % (2 << (packed & 7)))
    table = data[13:25]
    expect([tuple(table[i:i + 3]) for i in range(0, 12, 3)] == PALETTE, "global palette %s" % table.hex())
    pos, frames, loop, gce = 25, [], None, None
    while True:
        expect(pos < len(data), "file ends without trailer")
        block = data[pos]
        if block == 0x3B:
            expect(pos + 1 == len(data), "bytes after the trailer")
            break
        if block == 0x21:
            label = data[pos + 1]
            pos += 2
            body = []
            while data[pos]:
                body.append(data[pos + 1:pos + 1 + data[pos]])
                pos += 1 + data[pos]
            pos += 1
            if label == 0xFF and body and body[0] == b"NETSCAPE2.0":
                expect(len(body) > 1 and body[1][0] == 1, "malformed NETSCAPE2.0 extension")
                loop = struct.unpack("<H", body[1][1:3])[0]
            elif label == 0xF9:
                expect(gce is None, "two graphic control extensions before frame %d" % len(frames))
                gce = body[0]
            continue
        expect(block == 0x2C, "unknown block 0x%02x at byte %d" % (block, pos))
        k = len(frames)
        left, top, w, h, flags = struct.unpack("<HHHHB", data[pos + 1:pos + 10])
        expect(gce is not None and len(gce) == 4, "frame %d has no graphic control extension" % k)
        gflags, delay, transparent = struct.unpack("<BHB", gce)
        expect(delay == 7, "frame %d delay %d, want 7" % (k, delay))
        expect((gflags >> 2) & 7 == 1, "frame %d disposal %d, want 1" % (k, (gflags >> 2) & 7))
        expect(not flags & 0x80, "frame %d has a local colour table" % k)
        expect(top == 0 and h == BAR_H, "frame %d is not full height (top %d, height %d)" % (k, top, h))
        expect(w > 0 and left + w <= BAR_W, "frame %d spans columns %d..%d" % (k, left, left + w - 1))
        frames.append((left, w, transparent if gflags & 1 else None))
        gce = None
        pos += 10
        expect(data[pos] == 2, "frame %d LZW minimum code size %d, want 2" % (k, data[pos]))
        pos += 1
        while data[pos]:
            pos += 1 + data[pos]
        pos += 1
    expect(loop == 0, "loop count %r, want 0" % loop)
    expect(len(frames) == FRAMES, "%d frames, want %d" % (len(frames), FRAMES))
    expect(frames[0][:2] == (0, BAR_W), "frame 0 does not cover the whole track")
    for k, (_, _, transparent) in enumerate(frames):
        expect(transparent == (2 if k else None), "frame %d transparent index %r" % (k, transparent))
    return frames


def purple_runs(im, k):
    """Decoded frame as (first purple column, end) after checking every pixel and every row."""
    rgb = im.convert("RGB")
    columns = [rgb.getpixel((x, 0)) for x in range(BAR_W)]
    for x, colour in enumerate(columns):
        expect(colour in (GREY, PURPLE), "frame %d column %d has colour %s" % (k, x, colour))
    for y in range(1, BAR_H):
        expect([rgb.getpixel((x, y)) for x in range(BAR_W)] == columns, "frame %d row %d differs from row 0" % (k, y))
    purple = [x for x, colour in enumerate(columns) if colour == PURPLE]
    if not purple:
        return 0, 0
    expect(purple == list(range(purple[0], purple[-1] + 1)), "frame %d purple columns are not contiguous" % k)
    return purple[0], purple[-1] + 1


def decode_gif(path):
    segments = []
    with Image.open(path) as im:
        expect(im.format == "GIF" and im.size == (BAR_W, BAR_H), "not a 240x24 GIF")
        expect(getattr(im, "n_frames", 1) == FRAMES, "%d frames, want %d" % (getattr(im, "n_frames", 1), FRAMES))
        expect(im.info.get("loop") == 0, "loop %r, want 0" % im.info.get("loop"))
        palette = im.getpalette()[:12]
        expect([tuple(palette[i:i + 3]) for i in range(0, 12, 3)] == PALETTE, "palette %s" % palette)
        for k in range(FRAMES):
            im.seek(k)
            expect(im.info.get("duration") == 70, "frame %d duration %r ms, want 70" % (k, im.info.get("duration")))
            expect(im.disposal_method == 1, "frame %d disposal %r, want 1" % (k, im.disposal_method))
            segments.append(purple_runs(im, k))
    return segments


def check_download_bar(path):
    with open(path, "rb") as f:
        frames = walk_gif(f.read())
    segments = decode_gif(path)
    edge = [round(k * BAR_W / (FRAMES - 1)) for k in range(FRAMES)]
    for k in range(FRAMES):
        expect(segments[k] == ((0, edge[k]) if edge[k] else (0, 0)),
               "frame %d purple columns %s, want 0..%d" % (k, segments[k], edge[k] - 1))
        if k:
            expect(frames[k][:2] == (edge[k - 1], edge[k] - edge[k - 1]), "frame %d patch %s" % (k, frames[k][:2]))
            expect(2 <= frames[k][1] <= 3, "frame %d strip is %d px wide" % (k, frames[k][1]))


def check_busy_bar(path):
    with open(path, "rb") as f:
        frames = walk_gif(f.read())
    seg = decode_gif(path)
    expect(seg[0] == (0, 0) and seg[99] == (0, 0), "frames 0 and 99 must be the empty track")
    for k in range(1, 99):
        expect(frames[k][1] <= 56, "frame %d patch is %d px wide" % (k, frames[k][1]))
    for k in range(1, 17):
        expect(seg[k][0] == 0 and 2 <= seg[k][1] - seg[k - 1][1] <= 3, "frame %d grows badly: %s" % (k, seg[k]))
    expect(seg[16] == (0, 48), "after frame 16 the segment is %s, want columns 0..47" % (seg[16],))
    for k in range(17, 84):
        step = seg[k][1] - seg[k - 1][1]
        expect(seg[k][1] - seg[k][0] == 48 and 2 <= step <= 3, "frame %d moves badly: %s" % (k, seg[k]))
    expect(seg[83] == (192, 240), "frame 83 segment %s, want columns 192..239" % (seg[83],))
    for k in range(84, 99):
        step = seg[k][0] - seg[k - 1][0]
        expect(seg[k][1] == 240 and 2 <= step <= 4, "frame %d shrinks badly: %s" % (k, seg[k]))
    expect(0 < seg[98][1] - seg[98][0] <= 2, "frame 98 leaves %s purple" % (seg[98],))


def check_icon(path):
    with Image.open(path) as im:
        expect(im.format == "ICO", "not an ICO")
        sizes = sorted(im.info.get("sizes", ()))
        expect(sizes == [(16, 16), (32, 32), (48, 48), (256, 256)], "icon sizes %s" % sizes)
        for size in sizes:
            im.size = size
            im.load()
            expect(im.mode == "RGBA" and im.size == size, "icon %s decodes as %s %s" % (size, im.mode, im.size))


def main():
    if sys.argv[1:] in (["-h"], ["--help"]):
        print(__doc__)
        return
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    res = sys.argv[1]
    checks = [("logo.png", check_logo), ("download_bar.gif", check_download_bar),
              ("busy_bar.gif", check_busy_bar), ("app.ico", check_icon)]
    failed = False
    for name, check in checks:
        try:
            check(os.path.join(res, name))
        except (Failure, OSError) as e:
            print("%s: %s" % (name, e), file=sys.stderr)
            failed = True
    if failed:
        sys.exit(1)
    print("resources ok")


if __name__ == "__main__":
    main()
