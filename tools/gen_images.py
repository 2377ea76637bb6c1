#!/usr/bin/env python3
"""Draws the bootstrapper's pictures.

    gen_images.py [--splash OUT.bmp [--splash-from FILE.bmp]]
                  [--banner OUT.bmp [--banner-from FILE.bmp]] [--icon OUT.ico]
    gen_images.py --check FILE.bmp

  --splash  bitmap 133, 425 x 208, 24 bits per pixel: shown by the splash dialog.
  --banner  bitmap 130, 634 x 78, 24 bits per pixel: top of the report dialog.
  --icon    icon 5: 16 x 16 and 32 x 32 images, 32 bits per pixel with an AND mask.
  --splash-from, --banner-from
            a picture of the user's own, copied unchanged instead of the drawn one
            once check_bmp accepts it.
  --check   only checks FILE.bmp; prints its width and height.

Everything is computed with plain arithmetic, so the same input always gives the same
bytes. An output is rewritten only when its content changes. A file that check_bmp
refuses ends the program with exit status 1 and the reason.
"""

import argparse
import math
import struct
import sys

from buildfiles import write_if_changed

SPLASH_SIZE = (425, 208)
BANNER_SIZE = (634, 78)
ICON_SIZES = (16, 32)

NAVY = (0x0E, 0x25, 0x3D)
TEAL = (0x1C, 0x6E, 0x8A)
AMBER_LIGHT = (0xF7, 0xBB, 0x52)
AMBER_DARK = (0xD6, 0x84, 0x22)
STRAP = (0xA9, 0x5F, 0x17)
OUTLINE = (0x4A, 0x2A, 0x0C)
HANDLE = (0xF1, 0xD3, 0x98)
CLASP = (0xFF, 0xE7, 0xB3)
WHITE = (0xFF, 0xFF, 0xFF)
MIST = (0xB9, 0xD6, 0xE2)


# --- canvas -----------------------------------------------------------------------

class Canvas:
    """Straight (not premultiplied) RGBA in 0..1, row 0 at the top."""

    def __init__(self, width, height, fill=(0.0, 0.0, 0.0, 0.0)):
        self.width = width
        self.height = height
        self.px = [[list(fill) for _ in range(width)] for _ in range(height)]

    def blend(self, x, y, rgb, alpha):
        if alpha <= 0.0:
            return
        dst = self.px[y][x]
        da = dst[3]
        out_a = alpha + da * (1.0 - alpha)
        for i in range(3):
            dst[i] = (rgb[i] * alpha + dst[i] * da * (1.0 - alpha)) / out_a
        dst[3] = out_a

    def fill_sdf(self, sdf, box, color, opacity=1.0, softness=1.0):
        """Fills where sdf(x, y) (a distance in pixels, negative inside) is below 0,
        with an edge ramp of `softness` pixels. color is an RGB tuple in 0..255 or a
        function of the pixel centre giving one."""
        x0, y0, x1, y1 = box
        x0 = max(0, int(math.floor(x0)))
        y0 = max(0, int(math.floor(y0)))
        x1 = min(self.width, int(math.ceil(x1)))
        y1 = min(self.height, int(math.ceil(y1)))
        for y in range(y0, y1):
            for x in range(x0, x1):
                cx, cy = x + 0.5, y + 0.5
                d = sdf(cx, cy)
                coverage = min(1.0, max(0.0, 0.5 - d / softness))
                if coverage <= 0.0:
                    continue
                rgb = color(cx, cy) if callable(color) else color
                self.blend(x, y, [c / 255.0 for c in rgb], coverage * opacity)


def mix(a, b, t):
    t = min(1.0, max(0.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def rounded_box(cx, cy, hw, hh, r):
    def sdf(x, y):
        qx = abs(x - cx) - (hw - r)
        qy = abs(y - cy) - (hh - r)
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r
    return sdf


def ring(sdf, thickness):
    return lambda x, y: abs(sdf(x, y)) - thickness / 2.0


def intersect(a, b):
    return lambda x, y: max(a(x, y), b(x, y))


def grow(sdf, amount):
    return lambda x, y: sdf(x, y) - amount


# --- the emblem: a holdall with handle, straps and clasp ---------------------------

def draw_emblem(canvas, cx, cy, size, detail=True, shadow=True):
    """size is the emblem's width in pixels; (cx, cy) its centre."""
    s = size

    def u(x, y):
        return cx + x * s, cy + y * s

    body = rounded_box(*u(0.0, 0.12), 0.46 * s, 0.30 * s, 0.09 * s)
    body_box = (cx - 0.5 * s - 2, cy - 0.2 * s - 2, cx + 0.5 * s + 2, cy + 0.44 * s + 2)
    handle_outer = rounded_box(*u(0.0, -0.24), 0.21 * s, 0.17 * s, 0.12 * s)
    handle = ring(handle_outer, 0.08 * s)
    handle_box = (cx - 0.27 * s - 2, cy - 0.47 * s - 2, cx + 0.27 * s + 2, cy - 0.05 * s)
    outline = max(1.0, 0.035 * s)

    if shadow:
        offset = 0.05 * s
        soft = max(1.0, 0.08 * s)
        shadow_sdf = rounded_box(*u(0.0, 0.12), 0.46 * s, 0.30 * s, 0.09 * s)
        canvas.fill_sdf(lambda x, y: shadow_sdf(x - offset, y - offset),
                        (body_box[0], body_box[1], body_box[2] + offset + soft * 2,
                         body_box[3] + offset + soft * 2),
                        (0, 0, 0), opacity=0.35, softness=soft)

    canvas.fill_sdf(grow(handle, outline), handle_box, OUTLINE)
    canvas.fill_sdf(handle, handle_box, HANDLE)

    top = cy + (0.12 - 0.30) * s
    height = 0.60 * s

    def body_colour(x, y):
        return mix(AMBER_LIGHT, AMBER_DARK, (y - top) / height)

    canvas.fill_sdf(grow(body, outline), body_box, OUTLINE)
    canvas.fill_sdf(body, body_box, body_colour)

    if detail:
        for side in (-1.0, 1.0):
            strap = intersect(rounded_box(*u(0.24 * side, 0.12), 0.045 * s, 0.40 * s, 0.0), body)
            canvas.fill_sdf(strap, body_box, STRAP)
        seam = intersect(rounded_box(*u(0.0, 0.04), 0.60 * s, 0.022 * s, 0.0), body)
        canvas.fill_sdf(seam, body_box, STRAP, opacity=0.8)
        clasp = rounded_box(*u(0.0, 0.04), 0.075 * s, 0.065 * s, 0.025 * s)
        canvas.fill_sdf(grow(clasp, outline * 0.8), body_box, OUTLINE)
        canvas.fill_sdf(clasp, body_box, CLASP)
    else:
        seam = intersect(rounded_box(*u(0.0, 0.06), 0.60 * s, 0.045 * s, 0.0), body)
        canvas.fill_sdf(seam, body_box, STRAP)


# --- block letters -----------------------------------------------------------------

FONT = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "C": [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
    "D": ["###..", "#..#.", "#...#", "#...#", "#...#", "#..#.", "###.."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "F": ["#####", "#....", "#....", "####.", "#....", "#....", "#...."],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"],
    "H": ["#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "I": [".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "J": ["..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."],
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "N": ["#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "Q": [".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."],
    "X": ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    "Y": ["#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."],
    "Z": ["#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"],
    ".": [".....", ".....", ".....", ".....", ".....", ".##..", ".##.."],
    " ": [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}
GLYPH_W, GLYPH_H = 5, 7


def text_width(text, scale, spacing=1):
    return len(text) * (GLYPH_W + spacing) * scale - spacing * scale


def draw_text(canvas, text, left, top, scale, colour, opacity=1.0, spacing=1, shadow=True):
    """Block letters on the pixel grid: each lit cell is a scale x scale square."""
    passes = []
    if shadow:
        passes.append((max(1, scale // 2), (0, 0, 0), 0.45 * opacity))
    passes.append((0, colour, opacity))
    for offset, rgb, alpha in passes:
        x = left
        for ch in text:
            rows = FONT[ch]
            for gy, row in enumerate(rows):
                for gx, cell in enumerate(row):
                    if cell != "#":
                        continue
                    px0 = x + gx * scale + offset
                    py0 = top + gy * scale + offset
                    for py in range(py0, py0 + scale):
                        for px in range(px0, px0 + scale):
                            if 0 <= px < canvas.width and 0 <= py < canvas.height:
                                canvas.blend(px, py, [c / 255.0 for c in rgb], alpha)
            x += (GLYPH_W + spacing) * scale


# --- backgrounds -------------------------------------------------------------------

def paint_background(canvas, glow_x, glow_y, glow_r):
    w, h = canvas.width, canvas.height
    for y in range(h):
        for x in range(w):
            t = (x / (w - 1)) * 0.65 + (y / (h - 1)) * 0.35
            rgb = mix(NAVY, TEAL, t)
            d = math.hypot(x + 0.5 - glow_x, y + 0.5 - glow_y) / glow_r
            glow = max(0.0, 1.0 - d) ** 2 * 0.22
            rgb = mix(rgb, WHITE, glow)
            canvas.px[y][x] = [c / 255.0 for c in rgb] + [1.0]


def accent_line(canvas, y, thickness):
    for yy in range(y, y + thickness):
        for x in range(canvas.width):
            t = x / (canvas.width - 1)
            canvas.blend(x, yy, [c / 255.0 for c in mix(AMBER_LIGHT, AMBER_DARK, t)], 0.9)


def draw_splash():
    w, h = SPLASH_SIZE
    c = Canvas(w, h)
    paint_background(c, 92, 96, 150)
    draw_emblem(c, 92, 92, 112)
    draw_text(c, "CARRYALL", 170, 62, 5, WHITE)
    draw_text(c, "SQL INSTALLER", 172, 112, 2, MIST)
    draw_text(c, "PREPARING SETUP...", 172, 172, 2, MIST, opacity=0.85)
    accent_line(c, h - 8, 3)
    return c


def draw_banner():
    w, h = BANNER_SIZE
    c = Canvas(w, h)
    paint_background(c, w - 70, 38, 120)
    draw_text(c, "CARRYALL", 22, 18, 4, WHITE)
    draw_text(c, "SQL INSTALLER", 24, 54, 2, MIST)
    draw_emblem(c, w - 70, 38, 56)
    accent_line(c, h - 3, 3)
    return c


def draw_icon(size):
    c = Canvas(size, size)
    if size >= 32:
        draw_emblem(c, size / 2.0, size / 2.0 + 0.5, size * 0.96, detail=True, shadow=False)
    else:
        draw_emblem(c, size / 2.0, size / 2.0 + 0.5, size * 1.0, detail=False, shadow=False)
    return c


# --- file formats ------------------------------------------------------------------

def to_byte(v):
    return max(0, min(255, int(round(v * 255.0))))


def bmp_bytes(canvas):
    """24-bit BITMAPINFOHEADER bitmap, bottom-up rows padded to four bytes."""
    w, h = canvas.width, canvas.height
    stride = (w * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b, _ = canvas.px[y][x]
            row += bytes((to_byte(b), to_byte(g), to_byte(r)))
        row += b"\0" * (stride - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + bytes(pixels)


def icon_image_bytes(canvas):
    """One ICO image: a BITMAPINFOHEADER of double height, BGRA rows bottom-up, then
    the 1-bit AND mask (1 = transparent), rows padded to four bytes."""
    n = canvas.width
    xor = bytearray()
    mask = bytearray()
    mask_stride = ((n + 31) // 32) * 4
    for y in range(n - 1, -1, -1):
        row_mask = bytearray(mask_stride)
        for x in range(n):
            r, g, b, a = canvas.px[y][x]
            alpha = to_byte(a)
            if alpha == 0:
                r = g = b = 0.0
                row_mask[x // 8] |= 0x80 >> (x % 8)
            xor += bytes((to_byte(b), to_byte(g), to_byte(r), alpha))
        mask += row_mask
    info = struct.pack("<IiiHHIIiiII", 40, n, n * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + bytes(xor) + bytes(mask)


def ico_bytes(canvases):
    images = [icon_image_bytes(c) for c in canvases]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for c, data in zip(canvases, images):
        n = c.width
        entries += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return header + entries + b"".join(images)


# --- pictures of the user's own ------------------------------------------------------

class BmpError(Exception):
    pass


BMP_INFO_HEADERS = {12: "BITMAPCOREHEADER", 40: "BITMAPINFOHEADER", 52: "BITMAPV2INFOHEADER",
                    56: "BITMAPV3INFOHEADER", 108: "BITMAPV4HEADER", 124: "BITMAPV5HEADER"}
BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS = 0, 1, 2, 3
MAX_SIDE = 4096


def check_bmp(data):
    """(width, height) of a bitmap file that windres can take as a BITMAP resource and
    that Windows' static control can show; BmpError naming the first fault otherwise.
    Accepted: a BITMAPFILEHEADER ("BM") with its pixel offset inside the file, one of the
    six info headers, 1 plane, 1 to MAX_SIDE pixels each way (rows bottom-up or, without
    run-length compression, top-down), 1, 4, 8, 16, 24 or 32 bits per pixel, and no
    compression, RLE8 at 8 bits, RLE4 at 4 bits or bit fields at 16 or 32 bits; the
    colour table (up to 8 bits per pixel) and the pixels must lie inside the file.
    JPEG and PNG inside a BMP are refused: the static control cannot draw them."""
    if len(data) < 14 + 12 or data[:2] != b"BM":
        raise BmpError("not a BMP file (it does not start with 'BM' and a bitmap header)")
    offset = struct.unpack_from("<I", data, 10)[0]
    header_size = struct.unpack_from("<I", data, 14)[0]
    if header_size not in BMP_INFO_HEADERS:
        raise BmpError("unknown bitmap header of %d bytes (known: %s)"
                       % (header_size, ", ".join(str(n) for n in sorted(BMP_INFO_HEADERS))))
    if 14 + header_size > len(data):
        raise BmpError("the file ends inside its %s" % BMP_INFO_HEADERS[header_size])
    if header_size == 12:
        width, height, planes, bits = struct.unpack_from("<HHHH", data, 18)
        compression, colours_used, masks = BI_RGB, 0, 0
    else:
        width, height, planes, bits, compression = struct.unpack_from("<iiHHI", data, 18)
        colours_used = struct.unpack_from("<I", data, 46)[0]
        masks = 12 if compression == BI_BITFIELDS and header_size == 40 else 0
    top_down = height < 0
    height = abs(height)
    if not (1 <= width <= MAX_SIDE and 1 <= height <= MAX_SIDE):
        raise BmpError("%d by %d pixels: width and height must be 1 to %d" % (width, height, MAX_SIDE))
    if planes != 1:
        raise BmpError("%d colour planes; a bitmap has 1" % planes)
    if bits not in (1, 4, 8, 16, 24, 32):
        raise BmpError("%d bits per pixel; Windows shows 1, 4, 8, 16, 24 or 32" % bits)
    allowed = {BI_RGB: True, BI_RLE8: bits == 8, BI_RLE4: bits == 4, BI_BITFIELDS: bits in (16, 32)}
    if not allowed.get(compression, False):
        names = {0: "none", 1: "RLE8", 2: "RLE4", 3: "bit fields", 4: "JPEG", 5: "PNG"}
        raise BmpError("compression %s at %d bits per pixel is not supported"
                       % (names.get(compression, str(compression)), bits))
    if top_down and compression in (BI_RLE8, BI_RLE4):
        raise BmpError("a run-length compressed bitmap cannot be stored top-down")
    if bits <= 8:
        if colours_used > 1 << bits:
            raise BmpError("%d colours in the table of a %d-bit bitmap; at most %d"
                           % (colours_used, bits, 1 << bits))
        entry = 3 if header_size == 12 else 4
        table_end = 14 + header_size + entry * (colours_used or 1 << bits)
    else:
        table_end = 14 + header_size + masks
    if offset < table_end or offset >= len(data):
        raise BmpError("the pixels' offset %d is not between the headers' end %d and the file's end %d"
                       % (offset, table_end, len(data)))
    if compression in (BI_RGB, BI_BITFIELDS):
        needed = (width * bits + 31) // 32 * 4 * height
        if offset + needed > len(data):
            raise BmpError("the file holds %d bytes of pixels; %d by %d at %d bits need %d"
                           % (len(data) - offset, width, height, bits, needed))
    return width, height


def read_bmp(path):
    """The bytes of the picture at path, checked; BmpError naming the file otherwise."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise BmpError("%s: cannot read: %s" % (path, e.strerror))
    try:
        check_bmp(data)
    except BmpError as e:
        raise BmpError("%s: %s" % (path, e))
    return data


def main(argv):
    parser = argparse.ArgumentParser(description="Draw the splash, banner and icon.")
    parser.add_argument("--splash", help="splash bitmap to write (425 x 208)")
    parser.add_argument("--banner", help="banner bitmap to write (634 x 78)")
    parser.add_argument("--icon", help="icon file to write (16 and 32 pixels)")
    parser.add_argument("--splash-from", help="the splash's own picture, a BMP file")
    parser.add_argument("--banner-from", help="the banner's own picture, a BMP file")
    parser.add_argument("--check", help="only check this BMP file and print its size")
    args = parser.parse_args(argv)
    try:
        if args.check:
            print("%d %d" % check_bmp(read_bmp(args.check)))
            return 0
        if not (args.splash or args.banner or args.icon):
            parser.error("nothing to do: give --splash, --banner and/or --icon")
        # Both pictures are checked before either is written.
        splash = read_bmp(args.splash_from) if args.splash_from else None
        banner = read_bmp(args.banner_from) if args.banner_from else None
    except BmpError as e:
        print("gen_images.py: error: %s" % e, file=sys.stderr)
        return 1
    if args.splash:
        write_if_changed(args.splash, splash or bmp_bytes(draw_splash()))
    if args.banner:
        write_if_changed(args.banner, banner or bmp_bytes(draw_banner()))
    if args.icon:
        write_if_changed(args.icon, ico_bytes([draw_icon(n) for n in ICON_SIZES]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
