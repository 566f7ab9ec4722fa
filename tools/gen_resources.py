#!/usr/bin/python3
"""Generates the installer's image resources in res/.

usage: tools/gen_resources.py [RES_DIR]

Writes logo.png, download_bar.gif, busy_bar.gif and app.ico. The output is
byte-identical on every run: no timestamps, fixed ordering, no randomness.
Needs Pillow (Debian's python3-pil) and nothing else; the lettering is drawn
from vector shapes, so no font is involved.
"""

import os
import struct
import sys

# Run as an executable: its interpreter is the system's, for which python3-pil is installed.
from PIL import Image, ImageChops, ImageDraw

# Shared colours.
TEXT_GREY = (0x37, 0x37, 0x50)
PURPLE = (0x51, 0x00, 0x7A)
WHITE = (0xFF, 0xFF, 0xFF)

# ---------------------------------------------------------------------------
# Vector drawing: shapes are rasterised as 8-bit masks at SCALE times the final
# resolution and combined with mask arithmetic; the final image averages each
# SCALE x SCALE block, which gives exact area coverage as alpha.
# ---------------------------------------------------------------------------

SCALE = 16


class Canvas:
    """Mask factory in final-pixel coordinates (floats), rasterised at SCALE."""

    def __init__(self, width, height):
        self.size = (width * SCALE, height * SCALE)

    def blank(self):
        return Image.new("L", self.size, 0)

    @staticmethod
    def _px(v):
        return int(round(v * SCALE))

    def rect(self, x0, y0, x1, y1):
        m = self.blank()
        ImageDraw.Draw(m).rectangle([self._px(x0), self._px(y0), self._px(x1) - 1, self._px(y1) - 1], fill=255)
        return m

    def ellipse(self, cx, cy, rx, ry):
        m = self.blank()
        box = [self._px(cx - rx), self._px(cy - ry), self._px(cx + rx) - 1, self._px(cy + ry) - 1]
        ImageDraw.Draw(m).ellipse(box, fill=255)
        return m

    def ring(self, cx, cy, rx, ry, wx, wy):
        """Elliptic ring with stroke wx on the sides and wy at top and bottom."""
        return minus(self.ellipse(cx, cy, rx, ry), self.ellipse(cx, cy, rx - wx, ry - wy))

    def polygon(self, points):
        m = self.blank()
        ImageDraw.Draw(m).polygon([(v[0] * SCALE, v[1] * SCALE) for v in points], fill=255)
        return m

    def stroke(self, p0, p1, width):
        """Straight stroke of the given width with square ends."""
        dx, dy = p1[0] - p0[0], p1[1] - p0[1]
        length = (dx * dx + dy * dy) ** 0.5
        nx, ny = -dy / length * width / 2, dx / length * width / 2
        return self.polygon([(p0[0] + nx, p0[1] + ny), (p1[0] + nx, p1[1] + ny), (p1[0] - nx, p1[1] - ny),
                             (p0[0] - nx, p0[1] - ny)])


def union(*masks):
    out = masks[0]
    for m in masks[1:]:
        out = ImageChops.lighter(out, m)
    return out


def minus(a, b):
    return ImageChops.subtract(a, b)


def clip(a, b):
    return ImageChops.darker(a, b)


def downsample(mask):
    return mask.reduce(SCALE)


# ---------------------------------------------------------------------------
# Logo: "Quarn Brimo" in geometric letterforms, 174 x 20.
# ---------------------------------------------------------------------------

LOGO_SIZE = (174, 20)

# Straight stems and flat bars sit on whole pixels so that they stay crisp.
BASE = 17.0  # baseline
CAP = 2.0  # cap height line
XH = 7.0  # x-height line
OVER = 0.3  # overshoot of round forms
STEM = 2.0  # vertical stroke
HAIR = 2.0  # horizontal stroke
TRACK = 1.1  # extra letter spacing


def glyph_o(c, x):
    r = (BASE - XH) / 2 + OVER
    rx = r + 0.2
    return c.ring(x + rx, (XH + BASE) / 2, rx, r, STEM, HAIR), 2 * rx


def glyph_a(c, x):
    r = (BASE - XH) / 2 + OVER
    rx = r + 0.2
    bowl = c.ring(x + rx, (XH + BASE) / 2, rx, r, STEM, HAIR)
    stem = c.rect(x + 2 * rx - STEM, XH, x + 2 * rx, BASE)
    return union(bowl, stem), 2 * rx


def _arches(c, x, width, count):
    """Left stem plus count arches of a lower-case n or m."""
    shapes = [c.rect(x, XH, x + STEM, BASE)]
    span = (width - STEM) / count  # stem-centre to stem-centre
    r = span / 2 + STEM / 2
    for i in range(count):
        left = x + i * span
        cy = XH - OVER + r
        arch = clip(c.ring(left + r, cy, r, r, STEM, HAIR), c.rect(left, XH - 1, left + 2 * r, cy))
        shapes += [arch, c.rect(left + 2 * r - STEM, cy - 0.05, left + 2 * r, BASE)]
    return union(*shapes), width


def glyph_n(c, x):
    return _arches(c, x, 10.0, 1)


def glyph_m(c, x):
    return _arches(c, x, 16.0, 2)


def glyph_u(c, x):
    w = 10.0
    r = w / 2
    cy = BASE + OVER - r
    bowl = clip(c.ring(x + r, cy, r, r, STEM, HAIR), c.rect(x, cy, x + w, BASE + 1))
    return union(bowl, c.rect(x, XH, x + STEM, cy + 0.05), c.rect(x + w - STEM, XH, x + w, BASE)), w


def glyph_r(c, x):
    r = 4.4
    cy = XH - OVER + r
    stem = c.rect(x, XH, x + STEM, BASE)
    # shoulder: the upper left quarter of a ring plus a short run to the right, cut off square
    shoulder = clip(c.ring(x + r, cy, r, r, STEM, HAIR), c.rect(x, XH - 1, x + r + 1.6, cy))
    return union(stem, shoulder), r + 1.6


def glyph_i(c, x):
    d = 2.55
    stem = c.rect(x, XH, x + STEM, BASE)
    dot = c.ellipse(x + STEM / 2, CAP + d / 2 - 0.1, d / 2, d / 2)
    return union(stem, dot), STEM


def glyph_b_cap(c, x):
    mid = CAP + (BASE - CAP) * 0.46

    def bowl(y0, y1, width):
        ry = (y1 - y0) / 2
        rx = min(ry, width - STEM)
        xr = x + width - rx
        outer = union(c.rect(x, y0, xr, y1), c.ellipse(xr, y0 + ry, rx, ry))
        inner = union(c.rect(x, y0 + HAIR, xr, y1 - HAIR), c.ellipse(xr, y0 + ry, rx - STEM, ry - HAIR))
        return minus(outer, inner)

    width = 10.2
    shapes = [c.rect(x, CAP, x + STEM, BASE), bowl(CAP, mid + HAIR / 2, width - 0.9), bowl(mid - HAIR / 2, BASE, width)]
    return union(*shapes), width


def glyph_q_cap(c, x):
    r = (BASE - CAP) / 2 + OVER
    rx = r + 0.3
    cx, cy = x + rx, (CAP + BASE) / 2
    bowl = c.ring(cx, cy, rx, r, STEM, HAIR)
    tail = c.stroke((cx + 0.20 * rx, cy + 0.30 * r), (cx + 1.02 * rx, cy + 1.16 * r), STEM)
    return union(bowl, tail), 2 * rx


GLYPHS = {"Q": glyph_q_cap, "u": glyph_u, "a": glyph_a, "r": glyph_r, "n": glyph_n, "B": glyph_b_cap,
          "i": glyph_i, "m": glyph_m, "o": glyph_o}

# Side bearings (left, right) by letter: straight sides sit a little further from their neighbours
# than round ones.
BEARINGS = {"Q": (0.7, 0.1), "u": (1.1, 1.1), "a": (0.8, 1.1), "r": (1.1, 0.6), "n": (1.1, 1.1),
            "B": (1.2, 0.7), "i": (1.1, 1.1), "m": (1.1, 0.9), "o": (0.7, 0.7)}
WORD_GAP = 5.8


def _glyph_widths():
    tiny = Canvas(1, 1)
    return {ch: fn(tiny, 0.0)[1] for ch, fn in GLYPHS.items()}


GLYPH_WIDTH = _glyph_widths()


def layout(words):
    """Places the letters; returns [(word index, letter, x)] and the width from first to last ink."""
    placed, x = [], 0.0
    for wi, word in enumerate(words):
        if wi:
            x += WORD_GAP
        for li, ch in enumerate(word):
            if wi or li:
                x += BEARINGS[ch][0] + TRACK
            placed.append((wi, ch, x))
            x += GLYPH_WIDTH[ch] + BEARINGS[ch][1]
    return placed, x - BEARINGS[words[-1][-1]][1]


def make_logo():
    words = ["Quarn", "Brimo"]
    colours = [TEXT_GREY, PURPLE]
    placed, width = layout(words)
    x0 = (LOGO_SIZE[0] - width) / 2
    c = Canvas(*LOGO_SIZE)
    masks = [c.blank() for _ in words]
    for wi, ch, x in placed:
        masks[wi] = union(masks[wi], GLYPHS[ch](c, round(x0 + x))[0])
    out = Image.new("RGBA", LOGO_SIZE, (0, 0, 0, 0))
    for mask, colour in zip(masks, colours):
        alpha = downsample(mask)
        layer = Image.new("RGBA", LOGO_SIZE, colour + (255,))
        layer.putalpha(alpha)
        out = Image.alpha_composite(out, layer)
    # Fully transparent pixels carry no colour.
    clear = Image.new("RGBA", LOGO_SIZE, (0, 0, 0, 0))
    return Image.composite(out, clear, out.getchannel("A"))


# ---------------------------------------------------------------------------
# Progress bars: GIF89a, 240 x 24, 100 frames, four-colour global palette.
# Frame 0 paints the whole track; every later frame is a full-height patch over
# the frame before it (disposal 1, transparent index 2 for unchanged pixels).
# ---------------------------------------------------------------------------

BAR_W, BAR_H = 240, 24
FRAMES = 100
DELAY = 7  # hundredths of a second
GREY, FILL, KEEP, UNUSED = 0, 1, 2, 3
BAR_PALETTE = bytes([0xE8, 0xEB, 0xED, 0x51, 0x00, 0x7A, 0xFE, 0x01, 0x02, 0x00, 0x00, 0x00])


def round_div(num, den):
    """num / den rounded half up, in integers."""
    return (2 * num + den) // (2 * den)


def download_segment(k):
    """Purple columns [0, e) after frame k: e(k) = round(k * 240 / 99), so frame 99 is full."""
    return 0, round_div(k * BAR_W, FRAMES - 1)


# Busy bar, purple columns [left, right) after frame k:
#   k = 0:        empty track
#   k = 1..16:    left 0, right 3k (grows to columns 0..47)
#   k = 17..83:   right 48 + round((k - 16) * 192 / 67), left right - 48 (steps of 2-3 px;
#                 at frame 83 the segment is columns 192..239)
#   k = 84..98:   right 240, left 192 + round((k - 83) * 46 / 15) (steps of 3-4 px; after
#                 frame 98 columns 238..239 remain)
#   k = 99:       empty track again (a full-width grey patch), so the loop restarts without a jump
BUSY_LEN = 48
BUSY_GROW_END, BUSY_MOVE_END = 16, 83


def busy_segment(k):
    if k == 0 or k == FRAMES - 1:
        return 0, 0
    if k <= BUSY_GROW_END:
        return 0, round_div(k * BUSY_LEN, BUSY_GROW_END)
    if k <= BUSY_MOVE_END:
        right = BUSY_LEN + round_div((k - BUSY_GROW_END) * (BAR_W - BUSY_LEN), BUSY_MOVE_END - BUSY_GROW_END)
        return right - BUSY_LEN, right
    end_left = BAR_W - 2
    start_left = BAR_W - BUSY_LEN
    return start_left + round_div((k - BUSY_MOVE_END) * (end_left - start_left), FRAMES - 2 - BUSY_MOVE_END), BAR_W


def lzw_data(indices, width, height):
    """GIF image data (minimum code size, sub-blocks, terminator) for one sub-image."""
    im = Image.frombytes("P", (width, height), bytes(indices))
    return bytes([2]) + im.tobytes("gif", "P", 2, 0) + b"\0"


def column_patch(before, after, full=False):
    """Patch rectangle (x, width, row of indices) turning segment `before` into `after`."""
    def purple(seg, col):
        return seg[0] <= col < seg[1]

    changed = [col for col in range(BAR_W) if purple(before, col) != purple(after, col)]
    x0, x1 = (0, BAR_W) if full or not changed else (changed[0], changed[-1] + 1)
    row = []
    for col in range(x0, x1):
        if full or purple(before, col) != purple(after, col):
            row.append(FILL if purple(after, col) else GREY)
        else:
            row.append(KEEP)
    return x0, x1 - x0, row


def make_bar_gif(segment):
    out = bytearray(b"GIF89a")
    # logical screen: global table present, 2 bits per primary, 2^(1+1) = 4 entries
    out += struct.pack("<HHBBB", BAR_W, BAR_H, 0x80 | (1 << 4) | 1, GREY, 0)
    out += BAR_PALETTE
    out += b"\x21\xff\x0bNETSCAPE2.0\x03\x01" + struct.pack("<H", 0) + b"\x00"
    previous = (0, 0)
    for k in range(FRAMES):
        current = segment(k)
        if k == 0:
            x, w, row = 0, BAR_W, [FILL if current[0] <= col < current[1] else GREY for col in range(BAR_W)]
            flags, transparent = 1 << 2, 0
        else:
            x, w, row = column_patch(previous, current, full=(current == (0, 0)))
            flags, transparent = (1 << 2) | 1, KEEP
        if w == 0:
            raise SystemExit("frame %d changes nothing" % k)
        out += b"\x21\xf9\x04" + struct.pack("<BHB", flags, DELAY, transparent) + b"\x00"
        out += b"\x2c" + struct.pack("<HHHHB", x, 0, w, BAR_H, 0)
        out += lzw_data(row * BAR_H, w, BAR_H)
        previous = current
    out += b"\x3b"
    return bytes(out)


# ---------------------------------------------------------------------------
# Application icon: white Q on a purple rounded square, drawn for each size.
# ---------------------------------------------------------------------------

ICON_SIZES = (16, 32, 48, 256)


def make_icon_image(size):
    c = Canvas(size, size)
    u = size / 32.0  # designed on a 32-unit grid
    inset = 0.0 if size <= 16 else 1.0 * u
    square = c.blank()
    ImageDraw.Draw(square).rounded_rectangle(
        [round(inset * SCALE), round(inset * SCALE), round((size - inset) * SCALE) - 1,
         round((size - inset) * SCALE) - 1], radius=round(6.5 * u * SCALE), fill=255)
    stroke = max(3.4 * u, 2.0)
    r = 9.0 * u
    cx, cy = size / 2, size / 2 - 0.4 * u
    ring = c.ring(cx, cy, r, r, stroke, stroke)
    tail = c.stroke((cx + 0.15 * r, cy + 0.20 * r), (cx + 1.0 * r, cy + 1.08 * r), stroke)
    mark = clip(union(ring, tail), square)
    out = Image.new("RGBA", (size, size), PURPLE + (0,))
    out.putalpha(downsample(square))
    white = Image.new("RGBA", (size, size), WHITE + (255,))
    white.putalpha(downsample(mark))
    return Image.alpha_composite(out, white)


def main():
    if sys.argv[1:] in (["-h"], ["--help"]):
        print(__doc__)
        return
    res = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                              os.pardir, "res")
    os.makedirs(res, exist_ok=True)
    make_logo().save(os.path.join(res, "logo.png"), "PNG", optimize=False, compress_level=9)
    for name, segment in (("download_bar.gif", download_segment), ("busy_bar.gif", busy_segment)):
        with open(os.path.join(res, name), "wb") as f:
            f.write(make_bar_gif(segment))
    icons = [make_icon_image(s) for s in ICON_SIZES]
    icons[-1].save(os.path.join(res, "app.ico"), "ICO", sizes=[(s, s) for s in ICON_SIZES],
                   append_images=icons[:-1])


if __name__ == "__main__":
    main()
