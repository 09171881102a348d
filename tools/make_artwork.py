#!/usr/bin/env python3
"""Draws the artwork of Lintrel's Windows program and writes it as resource files.

    python3 tools/make_artwork.py [OUTPUT_DIR]

Without an argument the files go to app/win32/res/ in this repository:

    icon_normal.ico    program icon and idle tray image (blue)
    icon_activity.ico  tray image while data flows (green, arrow badge)
    icon_paused.ico    tray image while paused (amber, pause badge)
    logo.bmp           148 x 72 logo for the About box

Each icon holds one 32 x 32 image with 256 colours and an AND mask; the logo is a
256-colour BMP. Standard library only, and the output is the same byte for byte on
every run, so the generated files can be committed and rebuilt at will.
"""

import os
import struct
import sys
from collections import namedtuple

# Each pixel is sampled on a SAMPLES x SAMPLES grid, which smooths round edges.
# Shapes whose edges lie on whole pixels stay crisp.
SAMPLES = 4


def rgb(value):
    return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)


BLACK = rgb(0x000000)
WHITE = rgb(0xFFFFFF)
INK = rgb(0x1C2433)  # bars and lettering
DIM_INK = rgb(0x7A808C)  # bars while paused
BLUE = rgb(0x1F6FD1)
GREEN = rgb(0x1E9E4A)
AMBER = rgb(0xEE8A00)
FACE = rgb(0xF6F8FB)
GREEN_FACE = rgb(0xE8F7EC)
AMBER_FACE = rgb(0xFFF4E2)

# Modules of the barcode motif: '#' is a bar, '.' a gap. The bars within the first
# and last three modules are guard bars and reach further down, as on a retail code.
BARCODE = "#.#.##..#.##..##.#.#"
GUARD_MODULES = 3

# A 7-row pixel font, just the letters of the logo. '#' is ink.
GLYPHS = {
    "L": ["#...", "#...", "#...", "#...", "#...", "#...", "####"],
    "i": ["#", ".", "#", "#", "#", "#", "#"],
    "n": ["....", "....", "###.", "#..#", "#..#", "#..#", "#..#"],
    "t": [".#.", ".#.", "###", ".#.", ".#.", ".#.", ".##"],
    "r": ["....", "....", "#.##", "##..", "#...", "#...", "#..."],
    "e": ["....", "....", ".##.", "#..#", "####", "#...", ".###"],
    "l": ["#", "#", "#", "#", "#", "#", "#"],
}
GLYPH_ROWS = 7


# ---------------------------------------------------------------- shapes
# A shape is its bounding box plus a test for whether a point lies inside it.
Shape = namedtuple("Shape", "left top right bottom contains")


def rect(left, top, right, bottom):
    def contains(x, y):
        return left <= x < right and top <= y < bottom

    return Shape(left, top, right, bottom, contains)


def rounded_rect(left, top, right, bottom, radius):
    def contains(x, y):
        # Distance from the rectangle shrunk by the radius, compared with the radius.
        dx = max(left + radius - x, 0, x - (right - radius))
        dy = max(top + radius - y, 0, y - (bottom - radius))
        return dx * dx + dy * dy <= radius * radius

    return Shape(left, top, right, bottom, contains)


def circle(cx, cy, radius):
    def contains(x, y):
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius

    return Shape(cx - radius, cy - radius, cx + radius, cy + radius, contains)


def convex_polygon(points):
    """Points in clockwise order (y grows downwards)."""
    edges = list(zip(points, points[1:] + points[:1]))

    def contains(x, y):
        return all((bx - ax) * (y - ay) - (by - ay) * (x - ax) >= 0 for (ax, ay), (bx, by) in edges)

    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return Shape(min(xs), min(ys), max(xs), max(ys), contains)


# ---------------------------------------------------------------- canvas
class Canvas:
    """RGB pixels plus an opacity flag per pixel (for the icons' AND mask)."""

    def __init__(self, width, height, colour):
        self.width = width
        self.height = height
        self.pixels = [[colour] * width for _ in range(height)]
        self.opaque = [[True] * width for _ in range(height)]

    def _pixels_under(self, shape):
        for y in range(max(0, int(shape.top)), min(self.height, int(shape.bottom) + 1)):
            for x in range(max(0, int(shape.left)), min(self.width, int(shape.right) + 1)):
                yield x, y

    def fill(self, shape, colour):
        for x, y in self._pixels_under(shape):
            share = coverage(shape, x, y)
            if share:
                self.pixels[y][x] = blend(self.pixels[y][x], colour, share)

    def clip_to(self, shape):
        """Makes every pixel that the shape covers less than half of transparent."""
        for y in range(self.height):
            for x in range(self.width):
                self.opaque[y][x] = coverage(shape, x, y) >= 0.5


def coverage(shape, x, y):
    step = 1.0 / SAMPLES
    hits = 0
    for j in range(SAMPLES):
        for i in range(SAMPLES):
            if shape.contains(x + (i + 0.5) * step, y + (j + 0.5) * step):
                hits += 1
    return hits / (SAMPLES * SAMPLES)


def blend(under, over, share):
    return tuple(round(u + (o - u) * share) for u, o in zip(under, over))


# ---------------------------------------------------------------- motifs
def draw_tile(canvas, box, radius, frame, accent, face):
    """A rounded tile in the accent colour with a face of the given colour inside the frame."""
    left, top, right, bottom = box
    canvas.fill(rounded_rect(left, top, right, bottom, radius), accent)
    inner = rounded_rect(left + frame, top + frame, right - frame, bottom - frame, radius - frame)
    canvas.fill(inner, face)


def draw_barcode(canvas, left, top, unit, height, guard_extra, ink):
    last_guard_start = len(BARCODE) - GUARD_MODULES
    for index, module in enumerate(BARCODE):
        if module != "#":
            continue
        is_guard = index < GUARD_MODULES or index >= last_guard_start
        bar_bottom = top + height + (guard_extra if is_guard else 0)
        x = left + index * unit
        canvas.fill(rect(x, top, x + unit, bar_bottom), ink)


def draw_text(canvas, text, left, top, scale, gap, ink):
    """Draws text in the pixel font; returns the x just after the last glyph."""
    x = left
    for char in text:
        rows = GLYPHS[char]
        for row, line in enumerate(rows):
            for col, cell in enumerate(line):
                if cell == "#":
                    px, py = x + col * scale, top + row * scale
                    canvas.fill(rect(px, py, px + scale, py + scale), ink)
        x += len(rows[0]) * scale + gap
    return x - gap


def text_width(text, scale, gap):
    return sum(len(GLYPHS[c][0]) * scale for c in text) + gap * (len(text) - 1)


# ---------------------------------------------------------------- icons
ICON_SIZE = 32
ICON_RADIUS = 6
ICON_FRAME = 2
# The badge sits on the lower right corner and carries the state; a white ring keeps
# it apart from the bars beneath. It is large enough to read when Windows shrinks the
# icon to 16 x 16 for the notification area.
BADGE_CENTRE = 24.0
BADGE_RADIUS = 7.5
BADGE_RING = 1.25


def icon_base(accent, face, ink):
    canvas = Canvas(ICON_SIZE, ICON_SIZE, accent)
    tile = rounded_rect(0, 0, ICON_SIZE, ICON_SIZE, ICON_RADIUS)
    canvas.clip_to(tile)
    draw_tile(canvas, (0, 0, ICON_SIZE, ICON_SIZE), ICON_RADIUS, ICON_FRAME, accent, face)
    bars_left = (ICON_SIZE - len(BARCODE)) // 2
    draw_barcode(canvas, bars_left, 7, 1, 16, 3, ink)
    return canvas


def draw_badge(canvas, colour):
    canvas.fill(circle(BADGE_CENTRE, BADGE_CENTRE, BADGE_RADIUS + BADGE_RING), WHITE)
    canvas.fill(circle(BADGE_CENTRE, BADGE_CENTRE, BADGE_RADIUS), colour)


def icon_normal():
    return icon_base(BLUE, FACE, INK)


def icon_activity():
    canvas = icon_base(GREEN, GREEN_FACE, INK)
    draw_badge(canvas, GREEN)
    c = BADGE_CENTRE
    # A right-pointing arrow: the scanned data going out as keystrokes.
    canvas.fill(rect(c - 4.5, c - 1, c + 1, c + 1), WHITE)
    canvas.fill(convex_polygon([(c, c - 4.5), (c + 4.5, c), (c, c + 4.5)]), WHITE)
    return canvas


def icon_paused():
    canvas = icon_base(AMBER, AMBER_FACE, DIM_INK)
    draw_badge(canvas, AMBER)
    c = BADGE_CENTRE
    canvas.fill(rect(c - 4, c - 4, c - 1, c + 4), WHITE)
    canvas.fill(rect(c + 1, c - 4, c + 4, c + 4), WHITE)
    return canvas


# ---------------------------------------------------------------- logo
LOGO_WIDTH = 148
LOGO_HEIGHT = 72
LOGO_WORD = "Lintrel"
LOGO_SCALE = 3  # one font cell is 3 x 3 pixels
LOGO_GAP = 2  # pixels between letters


def logo():
    canvas = Canvas(LOGO_WIDTH, LOGO_HEIGHT, WHITE)
    tile_size, unit = 52, 2
    word_width = text_width(LOGO_WORD, LOGO_SCALE, LOGO_GAP)
    # Split the spare width evenly: left margin, tile-to-word gap, right margin.
    spare = (LOGO_WIDTH - tile_size - word_width) // 3
    tile_left, tile_top = spare, (LOGO_HEIGHT - tile_size) // 2
    draw_tile(canvas, (tile_left, tile_top, tile_left + tile_size, tile_top + tile_size), 9, 2, BLUE, FACE)
    bars_left = tile_left + (tile_size - len(BARCODE) * unit) // 2
    draw_barcode(canvas, bars_left, tile_top + 10, unit, 26, 5, INK)

    word_left = tile_left + tile_size + spare
    word_top = (LOGO_HEIGHT - GLYPH_ROWS * LOGO_SCALE) // 2 - 3
    word_right = draw_text(canvas, LOGO_WORD, word_left, word_top, LOGO_SCALE, LOGO_GAP, INK)
    rule_top = word_top + GLYPH_ROWS * LOGO_SCALE + 5
    canvas.fill(rect(word_left, rule_top, word_right, rule_top + 2), BLUE)
    return canvas


# ---------------------------------------------------------------- encoding
PALETTE_SIZE = 256


def index_colours(canvas):
    """Returns (palette, rows of indices). Black comes first: with the AND mask set,
    a pixel of colour index 0 shows what is behind the icon."""
    used = {canvas.pixels[y][x] for y in range(canvas.height) for x in range(canvas.width) if canvas.opaque[y][x]}
    palette = [BLACK] + sorted(used - {BLACK})
    if len(palette) > PALETTE_SIZE:
        raise ValueError("image uses %d colours, more than %d" % (len(palette), PALETTE_SIZE))
    lookup = {colour: index for index, colour in enumerate(palette)}
    rows = [
        [lookup[canvas.pixels[y][x]] if canvas.opaque[y][x] else 0 for x in range(canvas.width)]
        for y in range(canvas.height)
    ]
    palette += [BLACK] * (PALETTE_SIZE - len(palette))
    return palette, rows


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def palette_bytes(palette):
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)  # stored as B, G, R, 0


def pixel_bytes(rows):
    """8-bit rows, bottom row first, each padded to 4 bytes."""
    return b"".join(pad4(bytes(row)) for row in reversed(rows))


def mask_bytes(canvas):
    """1-bit AND mask (1 = transparent), bottom row first, each row padded to 4 bytes."""
    out = b""
    for y in reversed(range(canvas.height)):
        bits = [0 if opaque else 1 for opaque in canvas.opaque[y]]
        bits += [0] * (-len(bits) % 8)
        row = bytes(int("".join(map(str, bits[i : i + 8])), 2) for i in range(0, len(bits), 8))
        out += pad4(row)
    return out


def info_header(width, height, image_size, ppm=0):
    # BITMAPINFOHEADER: 8 bits per pixel, uncompressed, a full 256-entry colour table.
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, image_size, ppm, ppm, PALETTE_SIZE, 0)


def encode_ico(canvas):
    palette, rows = index_colours(canvas)
    image = pixel_bytes(rows) + mask_bytes(canvas)
    # Inside an icon the header counts the colour image and the mask together,
    # hence the doubled height.
    body = info_header(canvas.width, canvas.height * 2, len(image)) + palette_bytes(palette) + image
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry_offset = len(icondir) + 16
    # Width, height, colour count (0 means 256), reserved, planes, bits, size, offset.
    entry = struct.pack("<BBBBHHII", canvas.width, canvas.height, 0, 0, 1, 8, len(body), entry_offset)
    return icondir + entry + body


def encode_bmp(canvas):
    palette, rows = index_colours(canvas)
    image = pixel_bytes(rows)
    info = info_header(canvas.width, canvas.height, len(image), ppm=2835)  # 72 dpi
    offset = 14 + len(info) + PALETTE_SIZE * 4
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    return file_header + info + palette_bytes(palette) + image


# ---------------------------------------------------------------- main
def default_output_dir():
    repo_root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    return os.path.join(repo_root, "app", "win32", "res")


def main(argv):
    if len(argv) > 2:
        sys.stderr.write("usage: make_artwork.py [OUTPUT_DIR]\n")
        return 2
    out_dir = argv[1] if len(argv) == 2 else default_output_dir()
    os.makedirs(out_dir, exist_ok=True)
    files = {
        "icon_normal.ico": encode_ico(icon_normal()),
        "icon_activity.ico": encode_ico(icon_activity()),
        "icon_paused.ico": encode_ico(icon_paused()),
        "logo.bmp": encode_bmp(logo()),
    }
    for name, data in files.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)
        print("wrote %s (%d bytes)" % (os.path.join(out_dir, name), len(data)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
