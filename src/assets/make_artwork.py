#!/usr/bin/python3
"""Draw himekuri's artwork: window icon, flag, the two banners and the splash,
and the application icon at every size menus, desktops and Windows ask for.

Run with a Python that has Pillow (on Debian: /usr/bin/python3 with
python3-pil) and the IPA and DejaVu fonts installed.  The files are written
next to this script, and the output is byte-for-byte the same on every run,
so regenerating never produces a spurious diff.

The ICO and GIF files are assembled by hand.  Pillow's icon writer prefers
PNG entries and its BMP path varies between versions, and its GIF writer picks
the version and trims the colour table on its own; we want a 256-colour BMP
icon entry, a GIF87a flag and GIF89a banners, all with full 256-entry
palettes, whatever Pillow is installed.  The executable's multi-size icon
is assembled by hand for the same reason.
"""

import io
import os
import struct
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))

FONT_DIRS = [
    "/usr/share/fonts/opentype/ipafont-gothic",
    "/usr/share/fonts/truetype/dejavu",
]


def font(name, size):
    for d in FONT_DIRS:
        path = os.path.join(d, name)
        if os.path.exists(path):
            # The basic layout engine keeps glyph placement independent of
            # whether libraqm happens to be installed.
            return ImageFont.truetype(path, size,
                                      layout_engine=ImageFont.Layout.BASIC)
    sys.exit("make_artwork: font %s not found (install fonts-ipafont "
             "and fonts-dejavu-core)" % name)


def gothic(size):
    return font("ipagp.ttf", size)


def sans_bold(size):
    return font("DejaVuSans-Bold.ttf", size)


def sans(size):
    return font("DejaVuSans.ttf", size)


# ---------------------------------------------------------------------------
# Drawing helpers

def text_mask(size, xy, text, fnt, anchor="la", stroke=0):
    """Coverage mask of a piece of text, as an L image of the given size."""
    m = Image.new("L", size, 0)
    ImageDraw.Draw(m).text(xy, text, fill=255, font=fnt, anchor=anchor,
                           stroke_width=stroke, stroke_fill=255)
    return m


def paint(img, mask, colour):
    img.paste(Image.new("RGB", img.size, colour), (0, 0), mask)


def shift(mask, dx, dy):
    out = Image.new("L", mask.size, 0)
    out.paste(mask, (dx, dy))
    return out


def disc_mask(size, cx, cy, r, scale=8):
    """Anti-aliased disc, drawn oversized and scaled down."""
    w, h = size
    big = Image.new("L", (w * scale, h * scale), 0)
    ImageDraw.Draw(big).ellipse(
        [(cx - r) * scale, (cy - r) * scale,
         (cx + r) * scale - 1, (cy + r) * scale - 1], fill=255)
    return big.resize(size, Image.Resampling.BOX)


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


# ---------------------------------------------------------------------------
# Palettes

def to_indexed(img):
    """Return (palette of 256 RGB triples, row-major index bytes)."""
    img = img.convert("RGB")
    colours = img.getcolors(256)
    if colours is None:
        # Too many shades (anti-aliasing over a gradient): reduce them.
        # Median cut without dithering is deterministic and keeps edges clean.
        img = img.quantize(256, method=Image.Quantize.MEDIANCUT,
                           dither=Image.Dither.NONE).convert("RGB")
        colours = img.getcolors(256)
    # Sorting makes the palette order independent of pixel scan order.
    palette = sorted(c for _, c in colours)
    lookup = {c: i for i, c in enumerate(palette)}
    indices = bytes(lookup[p] for p in img.getdata())
    palette += [(0, 0, 0)] * (256 - len(palette))
    return palette, indices


# ---------------------------------------------------------------------------
# GIF writer

def lzw_encode(indices, min_code_size=8):
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    bitbuf = 0
    nbits = 0

    def emit(code, width):
        nonlocal bitbuf, nbits
        bitbuf |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bitbuf & 0xFF)
            bitbuf >>= 8
            nbits -= 8

    def reset():
        return {bytes([i]): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, width = reset()
    emit(clear, width)
    prefix = b""
    for b in indices:
        cand = prefix + bytes([b])
        if cand in table:
            prefix = cand
            continue
        emit(table[prefix], width)
        if next_code < 4096:
            table[cand] = next_code
            # Decoders widen codes as soon as the table reaches 2**width.
            if next_code == (1 << width) and width < 12:
                width += 1
            next_code += 1
        else:
            emit(clear, width)
            table, next_code, width = reset()
        prefix = bytes([b])
    if prefix:
        emit(table[prefix], width)
    emit(end, width)
    if nbits:
        out.append(bitbuf & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def write_gif(path, img, version, comment=None):
    """Single-frame GIF with a full 256-entry global colour table.

    A GIF87a file must not contain extension blocks, so the comment is only
    allowed (and, for 89a, expected) in the newer format.
    """
    assert version in (b"87a", b"89a")
    assert comment is None or version == b"89a"
    w, h = img.size
    palette, indices = to_indexed(img)
    out = bytearray(b"GIF" + version)
    # Global colour table present, 8 bits per primary, 2**(7+1) entries.
    out += struct.pack("<HHBBB", w, h, 0xF7, 0, 0)
    for c in palette:
        out += bytes(c)
    if comment is not None:
        out += b"\x21\xFE" + sub_blocks(comment)
    out += b"\x2C" + struct.pack("<HHHHB", 0, 0, w, h, 0)
    out += b"\x08" + sub_blocks(lzw_encode(indices))
    out += b"\x3B"
    with open(path, "wb") as f:
        f.write(out)
    # Decode it again so a broken encoder cannot slip through unnoticed.
    back = Image.open(path).convert("RGB")
    if list(back.getdata()) != [palette[i] for i in indices]:
        sys.exit("make_artwork: %s does not decode to what was drawn" % path)


# ---------------------------------------------------------------------------
# ICO writer

def write_ico(path, img):
    """One 32x32 icon entry as an uncompressed 8-bit BMP (no PNG)."""
    w, h = img.size
    assert (w, h) == (32, 32)
    palette, indices = to_indexed(img)
    row = (w + 3) & ~3
    mask_row = ((w + 31) // 32) * 4
    xor = bytearray()
    for y in range(h - 1, -1, -1):          # BMP rows run bottom-up
        line = indices[y * w:(y + 1) * w]
        xor += line + b"\0" * (row - w)
    and_mask = b"\0" * (mask_row * h)       # every pixel opaque
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 8, 0,
                         len(xor) + len(and_mask), 0, 0, 256, 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    dib = header + pal + bytes(xor) + and_mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w, h, 0, 0, 1, 8, len(dib), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + dib)
    return Image.frombytes("RGB", (w, h),
                           b"".join(bytes(palette[i]) for i in indices))


# ---------------------------------------------------------------------------
# The pictures

def draw_icon():
    w = h = 32
    img = Image.new("RGB", (w, h))
    top, bottom = (70, 150, 240), (10, 40, 150)
    px = img.load()
    for y in range(h):
        for x in range(w):
            # Mostly vertical, slightly diagonal, so it reads as a gradient
            # even at this size.
            t = min(1.0, max(0.0, (y * 0.85 + x * 0.25) / (h - 1) / 1.1))
            px[x, y] = lerp(top, bottom, t)

    # 日 is drawn stroke by stroke: a font glyph this small comes out blurred.
    d = ImageDraw.Draw(img)
    white = (255, 255, 255)
    x0, y0, x1, y1 = 10, 1, 21, 17
    d.rectangle([x0, y0, x0 + 1, y1], fill=white)
    d.rectangle([x1 - 1, y0, x1, y1], fill=white)
    d.rectangle([x0, y0, x1, y0 + 1], fill=white)
    d.rectangle([x0, 8, x1, 9], fill=white)
    d.rectangle([x0, y1 - 1, x1, y1], fill=white)

    # めくり underneath completes the word; at 12 px the kana still read.
    paint(img, text_mask((w, h), (16, 25), "めくり", gothic(12), anchor="mm"),
          white)
    return img


def draw_flag():
    w, h = 112, 75
    img = Image.new("RGB", (w, h), (255, 255, 255))
    r = h * 3 / 5 / 2
    paint(img, disc_mask((w, h), w / 2, h / 2, r), (188, 0, 45))
    return img


BANNER_BLUE = (0, 102, 204)


def banner_field():
    img = Image.new("RGB", (124, 26), BANNER_BLUE)
    ImageDraw.Draw(img).rectangle([0, 0, 123, 25], outline=(0, 0, 0))
    return img


def draw_banner_home():
    img = banner_field()
    m = text_mask(img.size, (62, 13), "Visit Tesrava", sans_bold(11),
                  anchor="mm")
    paint(img, m, (255, 255, 255))
    return img


def draw_banner_feedback():
    img = banner_field()
    m = text_mask(img.size, (62, 13), "感想・要望", gothic(15), anchor="mm")
    paint(img, m, (255, 255, 255))
    return img


def draw_local_picture():
    # What the browser pane shows when it stays off-line: exactly the pane's size.
    w, h = 249, 81
    img = Image.new("RGB", (w, h))
    px = img.load()
    top, bottom = (250, 250, 246), (214, 226, 240)
    for y in range(h):
        c = lerp(top, bottom, y / (h - 1))
        for x in range(w):
            px[x, y] = c
    d = ImageDraw.Draw(img)
    d.rectangle([0, 0, w - 1, h - 1], outline=(120, 130, 150))
    paint(img, text_mask((w, h), (124, 32), "日めくりカレンダー", gothic(24),
                         anchor="mm"), BANNER_BLUE)
    paint(img, text_mask((w, h), (124, 62), "Tesrava", sans_bold(12),
                         anchor="mm"), (90, 90, 90))
    return img


def draw_splash():
    w, h = 256, 314
    # The window shows only the top-left 251 x 309; the frame sits on that
    # visible edge rather than on the image edge.
    vw, vh = w - 5, h - 5
    img = Image.new("RGB", (w, h))
    px = img.load()
    dark, light = (60, 62, 68), (255, 255, 255)
    for x in range(w):
        t = min(1.0, x / (vw - 1))
        # Eased so the title's area on the left stays dark enough for white.
        c = lerp(dark, light, t ** 1.6)
        for y in range(h):
            px[x, y] = c
    d = ImageDraw.Draw(img)
    d.rectangle([0, 0, vw - 1, vh - 1], outline=(40, 40, 44))

    size = (w, h)

    # The credit sits on a small paper-coloured tab: dark type straight on
    # the dark edge of the gradient would not be readable.
    cf = sans(9)
    text = "\u00a9 2002-2005 Tesrava"
    l, t, r, b = cf.getbbox(text)
    d.rounded_rectangle([3, 3, 3 + r + 7, 3 + b + 4], radius=3,
                        fill=(226, 226, 228), outline=(150, 150, 156))
    paint(img, text_mask(size, (7, 5), text, cf), (24, 24, 30))

    # 1 to 10 across the whole width, each centred in its own cell so the
    # two-digit 10 fits as well as the single digits.
    blue = (20, 90, 220)
    f = sans_bold(17)
    left, right, y = 6, vw - 6, 78
    cell = (right - left) / 10
    for i in range(10):
        cx = left + cell * (i + 0.5)
        outline = text_mask(size, (cx, y), str(i + 1), f, anchor="mm", stroke=2)
        paint(img, outline, (255, 255, 255))
        paint(img, text_mask(size, (cx, y), str(i + 1), f, anchor="mm"), blue)

    # Arrow from the row of blue days down to the orange ones.
    ax, ay0, ay1 = 176, 92, 110
    d.rectangle([ax - 2, ay0, ax + 2, ay1 - 6], fill=blue)
    d.polygon([(ax - 7, ay1 - 7), (ax + 7, ay1 - 7), (ax, ay1)], fill=blue)

    orange = (240, 110, 0)
    g = sans_bold(12)
    cw = 21
    x0 = 176 - cw * 2
    for row, first in enumerate((11, 16)):
        yy = 120 + row * 16
        for i in range(5):
            cx = x0 + cw * i
            paint(img, text_mask(size, (cx, yy), str(first + i), g,
                                 anchor="mm", stroke=1), (255, 255, 255))
            paint(img, text_mask(size, (cx, yy), str(first + i), g,
                                 anchor="mm"), orange)
    for i in range(3):
        cx = 176 - 8 + i * 8
        paint(img, disc_mask(size, cx, 157, 2), orange)

    # Title, white on the dark side, with a soft shadow for depth.
    t = gothic(28)
    for text, yy in (("日めくり", 158), ("カレンダー", 196)):
        body = text_mask(size, (14, yy), text, t, stroke=1)
        shadow = shift(body, 2, 2)
        paint(img, shadow.point(lambda v: v * 70 // 100), (20, 20, 24))
        paint(img, body, (255, 255, 255))

    # The last day of the month, large and red, squeezed between the text
    # band on the left and the hidden strip on the right, so it is drawn
    # tight and stretched into its box rather than set at a font size.
    box = (205, 256, 248, 302)
    bw, bh = box[2] - box[0], box[3] - box[1]
    rf = sans_bold(80)
    big = text_mask((200, 120), (4, 4), "30", rf)
    glyphs = big.crop(big.getbbox()).resize((bw - 4, bh - 4),
                                            Image.Resampling.LANCZOS)
    m = Image.new("L", size, 0)
    m.paste(glyphs, (box[0] + 2, box[1] + 2))
    edge = m.filter(ImageFilter.MaxFilter(5))
    paint(img, edge, (255, 255, 255))
    paint(img, m, (210, 20, 30))
    return img


# ---------------------------------------------------------------------------
# The application icon at every size the desktops ask for
#
# Each size is drawn for itself: scaling one bitmap down smears the strokes
# of 日 into the gradient, and scaling up makes them soft.  Geometry is in
# whole pixels wherever an edge runs straight, so it lands on the grid.

ICON_TOP, ICON_BOTTOM = (70, 150, 240), (10, 40, 150)
WHITE = (255, 255, 255)
SHADOW = (0, 16, 60)
# The underside of a page being turned: light at the fold, duskier at the tip.
FLAP_FOLD, FLAP_TIP = (236, 243, 255), (168, 196, 240)
KANA_FONTS = "IPAPGothic, IPAGothic, Noto Sans CJK JP, sans-serif"

# Per size: the tile (margin, corner radius), its drop shadow (offset, blur,
# opacity), 日 (left, top, width, vertical and horizontal stroke, gap between
# the horizontals), the kana lines (text, centre x, baseline, font size, how
# many pixels to embolden), the soft shadow under the lettering (offset,
# blur, opacity) and the size of the turned-up corner.  Kana only from 48 px
# up: below that they are a grey smudge.
ICON_SIZES = {
    16: dict(margin=0, radius=3, hi=(4, 2, 8, 2, 2, 3)),
    22: dict(margin=0, radius=4, hi=(5, 3, 12, 2, 2, 5)),
    24: dict(margin=0, radius=4, hi=(6, 3, 12, 2, 2, 6)),
    48: dict(margin=2, radius=8, drop=(1, 1.0, 0.35),
             hi=(16, 5, 16, 3, 3, 6),
             lines=[("めくり", 24, 42, 16, 0)], glow=(1, 0.6, 0.45)),
    64: dict(margin=3, radius=11, drop=(1, 1.5, 0.35),
             hi=(21, 8, 22, 4, 4, 8),
             lines=[("めくり", 32, 55, 21, 0)], glow=(1, 0.8, 0.45)),
    128: dict(margin=6, radius=20, drop=(2, 2.5, 0.4),
              hi=(47, 16, 34, 7, 6, 14),
              lines=[("めくり", 64, 92, 28, 0), ("カレンダー", 61, 112, 16, 0)],
              glow=(1, 1.5, 0.5), curl=22),
    256: dict(margin=12, radius=40, drop=(4, 5.0, 0.4),
              hi=(93, 30, 70, 13, 12, 30),
              lines=[("めくり", 128, 186, 56, 1),
                     ("カレンダー", 121, 226, 32, 1)],
              glow=(2, 3.0, 0.5), curl=44),
}


def hi_rects(x, y, w, sv, sh, gap):
    """日 as rectangles (left, top, width, height): two verticals, three bars.

    The gaps between the bars are equal, so the glyph is symmetric and every
    edge is on a whole pixel.
    """
    h = 3 * sh + 2 * gap
    return [(x, y, sv, h), (x + w - sv, y, sv, h),
            (x, y, w, sh), (x, y + sh + gap, w, sh), (x, y + h - sh, w, sh)]


def tile_gradient(size, x0, y0, n):
    """The icon's gradient across an n x n tile whose corner is at x0, y0."""
    img = Image.new("RGB", size)
    px = img.load()
    for y in range(size[1]):
        for x in range(size[0]):
            # Same slant as the 32 px window icon, so every size matches it.
            t = ((y - y0) * 0.85 + (x - x0) * 0.25) / (n - 1) / 1.1
            px[x, y] = lerp(ICON_TOP, ICON_BOTTOM, min(1.0, max(0.0, t)))
    return img


def supersampled(size, draw, scale=8):
    """A mask drawn by draw(ImageDraw, scale) oversized, scaled down."""
    big = Image.new("L", (size[0] * scale, size[1] * scale), 0)
    draw(ImageDraw.Draw(big), scale)
    return big.resize(size, Image.Resampling.BOX)


def tile_mask(size, m, r, curl):
    s = size[0]

    def draw(d, k):
        d.rounded_rectangle([m * k, m * k, (s - m) * k - 1, (s - m) * k - 1],
                            radius=r * k, fill=255)
        if curl:
            e = s - m
            d.polygon([((e - curl) * k, e * k), (e * k, (e - curl) * k),
                       (e * k, e * k)], fill=0)
    return supersampled(size, draw)


def flap_mask(size, m, curl):
    e = size[0] - m
    return supersampled(size, lambda d, k: d.polygon(
        [((e - curl) * k, e * k), (e * k, (e - curl) * k),
         ((e - curl) * k, (e - curl) * k)], fill=255))


def paint_l(mask, other):
    """Union of two coverage masks, kept in the first."""
    mask.paste(ImageChops.lighter(mask, other))


def layer(colour, mask):
    out = Image.new("RGBA", mask.size, colour + (0,))
    out.putalpha(mask)
    return out


def soft_shadow(mask, dx, dy, blur, opacity):
    m = shift(mask, dx, dy)
    if blur:
        m = m.filter(ImageFilter.GaussianBlur(blur))
    return m.point(lambda v: int(v * opacity + 0.5))


def draw_app_icon(s):
    spec = ICON_SIZES[s]
    size = (s, s)
    m, r = spec["margin"], spec["radius"]
    curl = spec.get("curl", 0)
    n = s - 2 * m
    tile = tile_mask(size, m, r, curl)
    img = Image.new("RGBA", size, (0, 0, 0, 0))

    # Only the sizes with a margin cast a shadow; below 48 px the tile fills
    # the square, as a margin there would only shrink 日.
    if "drop" in spec:
        dy, blur, op = spec["drop"]
        img = Image.alpha_composite(
            img, layer(SHADOW, soft_shadow(tile, 0, dy, blur, op)))

    ink = Image.new("L", size, 0)
    d = ImageDraw.Draw(ink)
    for x, y, w, h in hi_rects(*spec["hi"]):
        d.rectangle([x, y, x + w - 1, y + h - 1], fill=255)
    for text, cx, base, pt, bold in spec.get("lines", []):
        paint_l(ink, text_mask(size, (cx, base), text, gothic(pt),
                               anchor="ms", stroke=bold))

    face = tile_gradient(size, m, m, n).convert("RGBA")
    # A soft shadow under the lettering lifts it off the lighter top of the
    # gradient; the small sizes are crisp enough without.
    if "glow" in spec:
        dy, blur, op = spec["glow"]
        face = Image.alpha_composite(
            face, layer(SHADOW, soft_shadow(ink, 0, dy, blur, op)))
    face = Image.alpha_composite(face, layer(WHITE, ink))
    face.putalpha(tile)
    img = Image.alpha_composite(img, face)

    if curl:
        # The turned-up corner says "tear-off page" at the sizes that have
        # room for it.  Its shadow falls only on the page.
        flap = flap_mask(size, m, curl)
        shade = flap.filter(ImageFilter.GaussianBlur(curl / 8))
        shade = ImageChops.multiply(shade, tile).point(
            lambda v: int(v * 0.45 + 0.5))
        img = Image.alpha_composite(img, layer(SHADOW, shade))
        e = s - m
        under = Image.new("RGB", size)
        px = under.load()
        for y in range(e - curl, e):
            for x in range(e - curl, e):
                t = (2 * e - curl - (x + y + 1)) / curl
                px[x, y] = lerp(FLAP_FOLD, FLAP_TIP, min(1.0, max(0.0, t)))
        under = under.convert("RGBA")
        under.putalpha(flap)
        img = Image.alpha_composite(img, under)
    return img


def draw_app_icon_32():
    # The window icon's own drawing, with the corners rounded off.
    img = draw_icon().convert("RGBA")
    img.putalpha(tile_mask((32, 32), 0, 4, 0))
    return img


# ---------------------------------------------------------------------------
# The scalable icon, the 256 px design as vector shapes

def svg_icon():
    s = 256
    spec = ICON_SIZES[s]
    m, r, curl = spec["margin"], spec["radius"], spec["curl"]
    e = s - m
    n = s - 2 * m
    # The raster gradient runs along (0.25, 0.85) and ends where
    # 0.25 x + 0.85 y reaches 1.1 (n - 1); an SVG gradient vector ending at
    # that point on the same direction gives the same colours.
    k = 1.1 * (n - 1) / (0.25 ** 2 + 0.85 ** 2)
    gx, gy = m + 0.25 * k, m + 0.85 * k

    def hexc(c):
        return "#%02x%02x%02x" % c

    def num(v):
        return ("%.2f" % v).rstrip("0").rstrip(".")

    tile = ("M%d,%d H%d A%d,%d 0 0 1 %d,%d V%d L%d,%d H%d "
            "A%d,%d 0 0 1 %d,%d V%d A%d,%d 0 0 1 %d,%d Z" % (
                m + r, m, e - r, r, r, e, m + r, e - curl, e - curl, e,
                m + r, r, r, m, e - r, m + r, r, r, m + r, m))
    flap = "M%d,%d L%d,%d L%d,%d Z" % (e - curl, e, e, e - curl,
                                       e - curl, e - curl)
    dy, blur, op = spec["drop"]
    gdy, gblur, gop = spec["glow"]

    out = []
    w = out.append
    w('<?xml version="1.0" encoding="UTF-8"?>')
    w('<svg xmlns="http://www.w3.org/2000/svg" version="1.1" '
      'width="256" height="256" viewBox="0 0 256 256">')
    w('  <title>日めくりカレンダー</title>')
    w('  <defs>')
    w('    <linearGradient id="face" gradientUnits="userSpaceOnUse" '
      'x1="%d" y1="%d" x2="%s" y2="%s">' % (m, m, num(gx), num(gy)))
    w('      <stop offset="0" stop-color="%s"/>' % hexc(ICON_TOP))
    w('      <stop offset="1" stop-color="%s"/>' % hexc(ICON_BOTTOM))
    w('    </linearGradient>')
    w('    <linearGradient id="flap" gradientUnits="userSpaceOnUse" '
      'x1="%s" y1="%s" x2="%d" y2="%d">' % (
          num(e - curl / 2), num(e - curl / 2), e - curl, e - curl))
    w('      <stop offset="0" stop-color="%s"/>' % hexc(FLAP_FOLD))
    w('      <stop offset="1" stop-color="%s"/>' % hexc(FLAP_TIP))
    w('    </linearGradient>')
    for name, sd in (("drop", blur), ("glow", gblur), ("fold", curl / 8)):
        w('    <filter id="%s" x="-20%%" y="-20%%" width="140%%" '
          'height="140%%">' % name)
        w('      <feGaussianBlur stdDeviation="%s"/>' % num(sd))
        w('    </filter>')
    w('    <clipPath id="page"><path d="%s"/></clipPath>' % tile)
    w('  </defs>')
    w('  <path d="%s" transform="translate(0,%d)" fill="%s" '
      'fill-opacity="%s" filter="url(#drop)"/>' % (
          tile, dy, hexc(SHADOW), num(op)))
    w('  <path d="%s" fill="url(#face)"/>' % tile)

    def lettering(colour, attrs, indent="  "):
        w('%s<g fill="%s" %s>' % (indent, colour, attrs))
        for x, y, rw, rh in hi_rects(*spec["hi"]):
            w('%s  <rect x="%d" y="%d" width="%d" height="%d"/>'
              % (indent, x, y, rw, rh))
        for text, cx, base, pt, bold in spec["lines"]:
            # A stroke of 2 widens the glyph by 1 on each side, as the
            # raster's stroke of 1 does.
            w('%s  <text x="%d" y="%d" font-size="%d" stroke="%s" '
              'stroke-width="%d" stroke-linejoin="round">%s</text>'
              % (indent, cx, base, pt, colour, 2 * bold, text))
        w('%s</g>' % indent)

    text_style = ('font-family="%s" text-anchor="middle"' % KANA_FONTS)
    # The shadow is clipped to the page where it lies, not where it was
    # before the offset, so the outer group holds the clip.
    w('  <g clip-path="url(#page)">')
    lettering(hexc(SHADOW), 'opacity="%s" transform="translate(0,%d)" '
              'filter="url(#glow)" %s' % (num(gop), gdy, text_style),
              indent="    ")
    w('  </g>')
    lettering("#ffffff", text_style)
    w('  <g clip-path="url(#page)">')
    w('    <path d="%s" fill="%s" fill-opacity="0.45" filter="url(#fold)"/>'
      % (flap, hexc(SHADOW)))
    w('  </g>')
    w('  <path d="%s" fill="url(#flap)"/>' % flap)
    w('</svg>')
    return ("\n".join(out) + "\n").encode("utf-8")


# ---------------------------------------------------------------------------
# The executable's icon

def png_bytes(img):
    buf = io.BytesIO()
    # optimize stays off and no metadata is added, so the bytes are stable.
    img.save(buf, format="PNG", optimize=False)
    return buf.getvalue()


def write_app_ico(path, images):
    """Windows icon: 32-bit BMP entries, and the 256 px one as PNG.

    PNG keeps the large entry small; the others stay plain bitmaps because
    older readers (the XP shell, many resource tools) cannot decode PNG.
    """
    blobs = []
    for img in images:
        w, h = img.size
        if w == 256:
            blobs.append(png_bytes(img))
            continue
        raw = img.tobytes("raw", "BGRA")
        xor = b"".join(raw[y * w * 4:(y + 1) * w * 4]
                       for y in range(h - 1, -1, -1))   # rows bottom-up
        # The AND mask marks fully transparent pixels for anything that
        # ignores the alpha channel.
        alpha = img.getchannel("A").load()
        mask_row = ((w + 31) // 32) * 4
        and_mask = bytearray()
        for y in range(h - 1, -1, -1):
            bits = bytearray(mask_row)
            for x in range(w):
                if alpha[x, y] == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            and_mask += bits
        header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0,
                             len(xor) + len(and_mask), 0, 0, 0, 0)
        blobs.append(header + xor + bytes(and_mask))

    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for img, blob in zip(images, blobs):
        w, h = img.size
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32,
                           len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    with open(path, "wb") as f:
        f.write(out)

    # Read it back so a broken entry cannot slip through unnoticed.
    ico = Image.open(path)
    if sorted(ico.info["sizes"]) != sorted(i.size for i in images):
        sys.exit("make_artwork: %s lists the wrong sizes" % path)
    for img in images:
        back = ico.ico.getimage(img.size).convert("RGBA")
        if back.tobytes() != img.tobytes():
            sys.exit("make_artwork: %s does not decode to what was drawn "
                     "at %dx%d" % (path, img.size[0], img.size[1]))


def main():
    def out(name):
        return os.path.join(HERE, name)

    icon = write_ico(out("himekuri.ico"), draw_icon())
    # optimize stays off and no metadata is added, so the PNG is stable too.
    icon.save(out("himekuri.png"), format="PNG", optimize=False)

    write_gif(out("flag.gif"), draw_flag(), b"87a")
    write_gif(out("banner_home.gif"), draw_banner_home(), b"89a",
              comment=b"himekuri")
    write_gif(out("banner_feedback.gif"), draw_banner_feedback(), b"89a",
              comment=b"himekuri")

    write_gif(out("dntl.gif"), draw_local_picture(), b"89a",
              comment=b"himekuri")

    buf = io.BytesIO()
    draw_splash().save(buf, format="JPEG", quality=90, subsampling=0,
                       progressive=False, optimize=False)
    with open(out("splash.jpg"), "wb") as f:
        f.write(buf.getvalue())

    # The application icon for menus, desktops and the executable.
    app = {s: draw_app_icon(s) for s in ICON_SIZES}
    app[32] = draw_app_icon_32()
    for s in sorted(app):
        folder = out(os.path.join("icons", "%dx%d" % (s, s)))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "himekuri.png"), "wb") as f:
            f.write(png_bytes(app[s]))
    with open(out("himekuri.svg"), "wb") as f:
        f.write(svg_icon())
    write_app_ico(out("himekuri-app.ico"),
                  [app[s] for s in (16, 24, 32, 48, 256)])


if __name__ == "__main__":
    main()
