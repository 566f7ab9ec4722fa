#!/usr/bin/python3
"""Checks a screenshot of the installer's splash window.

    tests/e2e/check_splash.py SHOT.png --phase downloading --frame K
    tests/e2e/check_splash.py SHOT.png --phase installing

SHOT.png is the window's 360 x 250 screen area. Fills (background, border, bar) must have their exact
colours; text is found as pixels clearly darker than the background, since it is anti-aliased. Prints
one line per check and exits with status 1 when any check fails.
"""

import argparse
import os
import sys

from PIL import Image

WIDTH, HEIGHT = 360, 250
WHITE = (0xFF, 0xFF, 0xFF)
BORDER = (0xE5, 0xE4, 0xE7)
PURPLE = (0x51, 0x00, 0x7A)
TRACK = (0xE8, 0xEB, 0xED)
TEXT = (0x37, 0x37, 0x50)

BORDER_RIGHT, BORDER_BOTTOM = 358, 248  # the border rectangle is 358 x 248
CORNER = 4  # the rounded window region cuts pixels this close to a corner
LOGO_X, LOGO_Y, LOGO_W, LOGO_H = 93, 76, 174, 20
BAR_X, BAR_Y, BAR_W, BAR_H = 60, 120, 240, 24
TEXT_X, TEXT_Y = 60, 152
TEXT_ROWS = range(TEXT_Y, 171)  # one line of 13-pixel text, descenders included
TEXT_TOP_ROWS = range(TEXT_Y, TEXT_Y + 7)  # tops of capitals and digits, below the font's internal leading
LINE_ROWS = "within rows %d..%d, its top by row %d" % (TEXT_ROWS[0], TEXT_ROWS[-1], TEXT_TOP_ROWS[-1])
RATE_RIGHT = BAR_X + BAR_W
BAR_FRAMES = 100
BUSY_SEGMENT = 48

# Search area of the text line: from just below the bar to well below the line, inside the border.
LINE_TOP, LINE_BOTTOM = BAR_Y + BAR_H + 2, 180
STATUS_AREA = (BAR_X - 5, 199)
RATE_AREA = (200, RATE_RIGHT + 10)
# Below this value in every channel a pixel is text ink; the grey fills (0xE5 and up) stay above it.
DARK = 200
TEXT_TOLERANCE = 24  # the darkest pixel of anti-aliased text may fall short of the text colour
# Text drawn without a string format sits 1/6 em inside both ends of its measured box; a glyph's side
# bearing and the edge pixels of anti-aliasing leave up to 2 px more.
TEXT_MARGIN = 13 / 6
SIDE_BEARING = 2
# Ink widths of the two status words at 13 px in Segoe UI or a metric-compatible face; they do not overlap.
WORD_WIDTHS = {"downloading": (72, 100), "installing": (48, 71)}
LOGO_MIN_INK = 300
LOGO_BLEND_TOLERANCE = 2
DEFAULT_LOGO = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "res",
                            "logo.png")


def is_dark(p):
    return max(p) < DARK


def hexc(p):
    return "#%02X%02X%02X" % p


def filled_columns(frame):
    """Purple columns of the download bar at frame k: round(k * 240 / 99), rounded half up."""
    return (2 * frame * BAR_W + BAR_FRAMES - 1) // (2 * (BAR_FRAMES - 1))


class Checker:
    def __init__(self, image):
        self.px = image.load()
        self.failures = 0

    def report(self, ok, what, detail=""):
        print("%s: %s%s" % ("ok" if ok else "FAIL", what, " (%s)" % detail if detail else ""))
        if not ok:
            self.failures += 1

    def offenders(self, xs, ys, expected):
        """Pixels in xs x ys whose colour is not `expected` (a colour or a predicate)."""
        test = expected if callable(expected) else (lambda p: p == expected)
        return [(x, y, self.px[x, y]) for y in ys for x in xs if not test(self.px[x, y])]

    def expect_area(self, what, xs, ys, expected):
        bad = self.offenders(xs, ys, expected)
        detail = ""
        if bad:
            x, y, p = bad[0]
            detail = "%d pixels differ, first at (%d, %d): %s" % (len(bad), x, y, hexc(p))
        self.report(not bad, what, detail)

    def dark_pixels(self, xs, ys):
        return [(x, y) for y in ys for x in xs if is_dark(self.px[x, y])]


def check_frame(c):
    samples = [(10, 10), (180, 40), (349, 10), (10, 240), (349, 240), (30, 130), (330, 130), (180, 200),
               (30, 60), (330, 60), (180, 110), (180, 230)]
    bad = [(x, y, c.px[x, y]) for x, y in samples if c.px[x, y] != WHITE]
    c.report(not bad, "white background at %d sample points" % len(samples),
             ", ".join("(%d, %d) %s" % (x, y, hexc(p)) for x, y, p in bad))
    c.expect_area("white below the text line", range(1, BORDER_RIGHT), range(LINE_BOTTOM, BORDER_BOTTOM),
                  WHITE)
    c.expect_area("white left and right of bar and text", [x for x in range(1, BORDER_RIGHT)
                                                          if x < STATUS_AREA[0] or x > RATE_AREA[1]],
                  range(BAR_Y, LINE_BOTTOM), WHITE)

    inner_rows = range(CORNER, BORDER_BOTTOM - CORNER + 1)
    inner_cols = range(CORNER, BORDER_RIGHT - CORNER + 1)
    c.expect_area("border colour on column 0", [0], inner_rows, BORDER)
    c.expect_area("border colour on column %d" % BORDER_RIGHT, [BORDER_RIGHT], inner_rows, BORDER)
    c.expect_area("border colour on row 0", inner_cols, [0], BORDER)
    c.expect_area("border colour on row %d" % BORDER_BOTTOM, inner_cols, [BORDER_BOTTOM], BORDER)
    # Column 359 and row 249 lie outside the window's region: whatever is behind the window shows there.
    c.expect_area("no border on column %d" % (BORDER_RIGHT + 1), [BORDER_RIGHT + 1], inner_rows,
                  lambda p: p != BORDER)
    c.expect_area("no border on row %d" % (BORDER_BOTTOM + 1), inner_cols, [BORDER_BOTTOM + 1],
                  lambda p: p != BORDER)


def check_logo(c, logo_path):
    box_x = range(LOGO_X, LOGO_X + LOGO_W)
    box_y = range(LOGO_Y, LOGO_Y + LOGO_H)
    ink = [(x, y) for y in box_y for x in box_x if c.px[x, y] != WHITE]
    c.report(len(ink) >= LOGO_MIN_INK, "logo drawn in %dx%d+%d+%d" % (LOGO_W, LOGO_H, LOGO_X, LOGO_Y),
             "%d non-white pixels" % len(ink))
    # The logo resource over white, pixel for pixel; blending may round differently by a level or two.
    logo = Image.open(logo_path).convert("RGBA")
    if logo.size != (LOGO_W, LOGO_H):
        c.report(False, "logo resource %s is %dx%d" % ((logo_path,) + logo.size))
        return
    expected = Image.alpha_composite(Image.new("RGBA", logo.size, WHITE + (255,)), logo).convert("RGB").load()

    def differs(x, y):
        want = expected[x - LOGO_X, y - LOGO_Y]
        return max(abs(a - b) for a, b in zip(c.px[x, y], want)) > LOGO_BLEND_TOLERANCE

    bad = [(x, y) for y in box_y for x in box_x if differs(x, y)]
    c.report(not bad, "logo matches %s at (%d, %d)" % (logo_path, LOGO_X, LOGO_Y),
             "%d pixels differ, first at %s" % (len(bad), bad[0]) if bad else "")
    above_bar = [(x, y) for y in range(1, BAR_Y) for x in range(1, BORDER_RIGHT)
                 if not (x in box_x and y in box_y) and c.px[x, y] != WHITE]
    c.report(not above_bar, "nothing but white around the logo above the bar",
             "%d pixels, first at %s" % (len(above_bar), above_bar[0]) if above_bar else "")


def check_bar(c, phase, frame):
    xs = range(BAR_X, BAR_X + BAR_W)
    ys = range(BAR_Y, BAR_Y + BAR_H)
    c.expect_area("white around the bar", [BAR_X - 1, BAR_X + BAR_W], ys, WHITE)
    c.expect_area("white above and below the bar", range(BAR_X - 1, BAR_X + BAR_W + 1),
                  [BAR_Y - 1, BAR_Y + BAR_H], WHITE)
    if phase == "downloading":
        end = BAR_X + filled_columns(frame)
        c.expect_area("bar frame %d: columns %d..%d purple" % (frame, BAR_X, end - 1), range(BAR_X, end), ys,
                      PURPLE)
        c.expect_area("bar frame %d: columns %d..%d track grey" % (frame, end, BAR_X + BAR_W - 1),
                      range(end, BAR_X + BAR_W), ys, TRACK)
        return
    c.expect_area("busy bar only purple and track grey", xs, ys, lambda p: p in (PURPLE, TRACK))
    uneven = [x for x in xs if len({c.px[x, y] for y in ys}) != 1]
    c.report(not uneven, "busy bar columns uniform over the bar's height",
             "columns %s" % uneven[:5] if uneven else "")
    purple = [x for x in xs if c.px[x, BAR_Y] == PURPLE]
    whole = bool(purple) and purple == list(range(purple[0], purple[-1] + 1)) and len(purple) <= BUSY_SEGMENT
    c.report(whole, "busy bar shows one purple segment of at most %d columns" % BUSY_SEGMENT,
             "columns %d..%d" % (purple[0], purple[-1]) if purple else "no purple")


def check_text(c, phase):
    line = range(LINE_TOP, LINE_BOTTOM)
    status = c.dark_pixels(range(*STATUS_AREA), line)
    status_top = None
    word = "Downloading..." if phase == "downloading" else "Installing..."
    if not status:
        c.report(False, "status text %r present" % word, "no dark pixels")
    else:
        xs = [x for x, _ in status]
        ys = [y for _, y in status]
        c.report(TEXT_X <= min(xs) <= TEXT_X + TEXT_MARGIN + SIDE_BEARING,
                 "status text starts at x = %d" % TEXT_X, "leftmost ink at %d" % min(xs))
        status_top = min(ys)
        c.report(status_top in TEXT_TOP_ROWS and max(ys) <= TEXT_ROWS[-1], "status text %s" % LINE_ROWS,
                 "ink in rows %d..%d" % (min(ys), max(ys)))
        low, high = WORD_WIDTHS[phase]
        width = max(xs) - min(xs) + 1
        c.report(low <= width <= high, "status text as wide as %r" % word,
                 "%d columns of ink, expected %d..%d" % (width, low, high))
        darkest = min((c.px[x, y] for x, y in status), key=sum)
        c.report(all(abs(a - b) <= TEXT_TOLERANCE for a, b in zip(darkest, TEXT)),
                 "status text in %s" % hexc(TEXT), "darkest pixel %s" % hexc(darkest))

    rate = c.dark_pixels(range(*RATE_AREA), line)
    if phase == "downloading":
        if not rate:
            c.report(False, "rate text present",
                     "no dark pixels in columns %d..%d" % (RATE_AREA[0], RATE_AREA[1] - 1))
            return
        right = max(x for x, _ in rate) + 1  # right edge of the last ink column
        c.report(RATE_RIGHT - TEXT_MARGIN - SIDE_BEARING <= right <= RATE_RIGHT,
                 "rate text ends at x = %d" % RATE_RIGHT, "rightmost ink at %d" % (right - 1))
        ys = [y for _, y in rate]
        c.report(min(ys) in TEXT_TOP_ROWS and max(ys) <= TEXT_ROWS[-1], "rate text %s" % LINE_ROWS,
                 "ink in rows %d..%d" % (min(ys), max(ys)))
        # Digits and capitals of both texts reach the same height when they share one line.
        c.report(status_top is not None and abs(min(ys) - status_top) <= 1,
                 "rate text on the status text's line", "tops at rows %d and %s" % (min(ys), status_top))
    else:
        c.report(not rate, "no rate text while installing", "%d dark pixels" % len(rate) if rate else "")


def main():
    parser = argparse.ArgumentParser(description="Checks a screenshot of the splash window.")
    parser.add_argument("shot")
    parser.add_argument("--phase", choices=("downloading", "installing"), required=True)
    parser.add_argument("--frame", type=int, default=None, help="download bar frame (downloading only)")
    parser.add_argument("--logo", default=DEFAULT_LOGO, help="the logo resource (default: res/logo.png)")
    args = parser.parse_args()
    if args.phase == "downloading" and args.frame is None:
        parser.error("--frame is needed with --phase downloading")

    image = Image.open(args.shot).convert("RGB")
    if image.size != (WIDTH, HEIGHT):
        print("FAIL: screenshot is %dx%d, not %dx%d" % (image.size + (WIDTH, HEIGHT)))
        return 1
    c = Checker(image)
    check_frame(c)
    check_logo(c, os.path.normpath(args.logo))
    check_bar(c, args.phase, args.frame)
    check_text(c, args.phase)
    print("%s: %d check(s) failed" % (args.shot, c.failures) if c.failures else "%s: splash ok" % args.shot)
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
