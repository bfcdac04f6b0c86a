#!/usr/bin/env python3
"""Draws the wizard picture (wizard.bmp) and the program icon (ravenstock.ico).

Standard library only, so the art can be redrawn on any build machine:
    python3 resources/art/draw.py [OUTPUT_DIR]
The outputs are committed; the build never runs this script.

The motif: a raven perched on a small cairn at dusk. Shapes are tested per
sub-sample (supersampling) so that edges come out anti-aliased without a
rasteriser library.
"""

import math
import os
import random
import struct
import sys

# ---------------------------------------------------------------- geometry


def ellipse(cx, cy, rx, ry, angle=0.0):
    ca, sa = math.cos(math.radians(angle)), math.sin(math.radians(angle))

    def inside(x, y):
        dx, dy = x - cx, y - cy
        u = (dx * ca + dy * sa) / rx
        v = (-dx * sa + dy * ca) / ry
        return u * u + v * v <= 1.0
    r = max(rx, ry)
    return inside, (cx - r, cy - r, cx + r, cy + r)


def polygon(points):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    n = len(points)

    def inside(x, y):
        hit = False
        j = n - 1
        for i in range(n):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside, (min(xs), min(ys), max(xs), max(ys))


def capsule(x0, y0, x1, y1, r):
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy or 1e-9

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx - x, y0 + t * dy - y
        return px * px + py * py <= r * r
    return inside, (min(x0, x1) - r, min(y0, y1) - r, max(x0, x1) + r, max(y0, y1) + r)


def union(*shapes):
    tests = [s[0] for s in shapes]
    boxes = [s[1] for s in shapes]

    def inside(x, y):
        return any(t(x, y) for t in tests)
    return inside, (min(b[0] for b in boxes), min(b[1] for b in boxes),
                    max(b[2] for b in boxes), max(b[3] for b in boxes))


def minus(shape, cut):
    def inside(x, y):
        return shape[0](x, y) and not cut[0](x, y)
    return inside, shape[1]


def transformed(points, ox, oy, scale):
    return [(ox + x * scale, oy + y * scale) for x, y in points]


# ------------------------------------------------------------------ canvas


class Canvas:
    """Straight (non-premultiplied) RGBA in floats 0..1, rows top-down."""

    def __init__(self, width, height, colour=(0.0, 0.0, 0.0), alpha=1.0):
        self.w, self.h = width, height
        self.px = [[colour[0], colour[1], colour[2], alpha]
                   for _ in range(width * height)]

    def blend(self, i, colour, a):
        p = self.px[i]
        out_a = a + p[3] * (1.0 - a)
        if out_a <= 0.0:
            return
        for c in range(3):
            p[c] = (colour[c] * a + p[c] * p[3] * (1.0 - a)) / out_a
        p[3] = out_a

    def fill(self, shape, paint, opacity=1.0, ss=4):
        """paint is an (r, g, b) or a function (x, y) -> (r, g, b)."""
        inside, (x0, y0, x1, y1) = shape
        step = 1.0 / ss
        for py in range(max(0, int(y0) - 1), min(self.h, int(y1) + 2)):
            for px in range(max(0, int(x0) - 1), min(self.w, int(x1) + 2)):
                hits = 0
                for sy in range(ss):
                    for sx in range(ss):
                        if inside(px + (sx + 0.5) * step, py + (sy + 0.5) * step):
                            hits += 1
                if hits:
                    colour = paint(px + 0.5, py + 0.5) if callable(paint) else paint
                    self.blend(py * self.w + px, colour, opacity * hits / (ss * ss))

    def shade(self, fn):
        """fn(x, y, rgba) -> (rgb, alpha) or None, for soft full-canvas effects."""
        for py in range(self.h):
            for px in range(self.w):
                i = py * self.w + px
                r = fn(px + 0.5, py + 0.5, self.px[i])
                if r is not None:
                    self.blend(i, r[0], r[1])

    def rgb8(self, x, y):
        p = self.px[y * self.w + x]
        return tuple(max(0, min(255, int(round(c * 255)))) for c in p[:3])

    def alpha8(self, x, y):
        return max(0, min(255, int(round(self.px[y * self.w + x][3] * 255))))


def hexcolour(h):
    return tuple(int(h[i:i + 2], 16) / 255.0 for i in (1, 3, 5))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def gradient(stops, t):
    """stops: [(position, colour)] ascending; smooth between stops."""
    if t <= stops[0][0]:
        return stops[0][1]
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            u = (t - p0) / (p1 - p0)
            return mix(c0, c1, u * u * (3 - 2 * u))
    return stops[-1][1]


# ------------------------------------------------------------------- motif

RAVEN_INK = hexcolour("#0d0f17")
RAVEN_SHEEN = hexcolour("#2c3552")


def raven(ox, oy, s):
    """A perched raven facing right; (ox, oy) is where its feet grip, s is
    its scale (1.0 is about 70 pixels from tail tip to beak)."""
    body = ellipse(ox - 3 * s, oy - 17 * s, 19 * s, 11 * s, -28)
    chest = ellipse(ox + 6 * s, oy - 22 * s, 10 * s, 11 * s, -20)
    neck = ellipse(ox + 10 * s, oy - 31 * s, 7 * s, 9 * s, 20)
    head = ellipse(ox + 13 * s, oy - 37 * s, 7.5 * s, 6.5 * s, 0)
    beak = polygon(transformed([(17, -42), (24, -40.5), (31, -37), (25.5, -35.2),
                                (18, -33)], ox, oy, s))
    hackles = polygon(transformed([(9, -33), (16, -33.5), (19, -31), (15, -28.5),
                                   (12, -29.5), (8, -28)], ox, oy, s))
    tail = polygon(transformed([(-14, -14), (-20, -19), (-36, -2), (-39, 4),
                                (-33, 3), (-29, 1)], ox, oy, s))
    shape = union(body, chest, neck, head, beak, hackles, tail)
    legs = union(capsule(ox - 1 * s, oy - 8 * s, ox - 2 * s, oy, 1.1 * s),
                 capsule(ox + 4 * s, oy - 9 * s, ox + 4 * s, oy, 1.1 * s),
                 capsule(ox - 4.5 * s, oy, ox + 1.5 * s, oy, 0.9 * s),
                 capsule(ox + 1 * s, oy, ox + 7.5 * s, oy, 0.9 * s))
    wing = polygon(transformed([(-15, -19), (-5, -27), (6, -25), (4, -19),
                                (-8, -11), (-22, -7)], ox, oy, s))
    return shape, legs, wing


def draw_raven(canvas, ox, oy, s, detail=True, ss=4):
    shape, legs, wing = raven(ox, oy, s)
    canvas.fill(legs, RAVEN_INK, ss=ss)
    canvas.fill(shape, RAVEN_INK, ss=ss)
    if detail:
        # A faint cold sheen along the folded wing gives the silhouette form.
        canvas.fill(minus(wing, ellipse(ox - 12 * s, oy - 6 * s, 16 * s, 5 * s, -28)),
                    RAVEN_SHEEN, opacity=0.4, ss=ss)
        canvas.fill(ellipse(ox + 15.5 * s, oy - 38.5 * s, 1.1 * s, 1.1 * s),
                    hexcolour("#8c93a8"), opacity=0.9, ss=ss)


def stone(cx, cy, rx, ry, tilt, top, bottom):
    shape = ellipse(cx, cy, rx, ry, tilt)

    def paint(x, y):
        t = max(0.0, min(1.0, (y - (cy - ry)) / (2 * ry)))
        return mix(top, bottom, t ** 0.7)
    return shape, paint


def draw_cairn(canvas, cx, base, s, rim, ss=4):
    stones = [(0, -8, 30, 10, 2), (-3, -24, 23, 8.5, -4), (2, -37, 16, 6.5, 5),
              (-1, -47, 10, 4.5, -3)]
    top, bottom = hexcolour("#4a4f66"), hexcolour("#181b28")
    for dx, dy, rx, ry, tilt in stones:
        x, y = cx + dx * s, base + dy * s
        shape, paint = stone(x, y, rx * s, ry * s, tilt, top, bottom)
        canvas.fill(shape, paint, ss=ss)
        # Rim light from the glow low in the west, on each stone's upper edge.
        lit = minus(shape, ellipse(x + 1.5 * s, y + 2.2 * s, rx * s, ry * s, tilt))
        canvas.fill(lit, rim, opacity=0.55, ss=ss)
    return base - 51 * s


# ----------------------------------------------------------- wizard picture

SKY = [(0.00, hexcolour("#141a33")), (0.30, hexcolour("#2a3560")),
       (0.55, hexcolour("#5b5f8e")), (0.72, hexcolour("#a98a9c")),
       (0.80, hexcolour("#e0b28e"))]


def hills(base, amplitude, waves, x):
    return base - amplitude * sum(a * math.sin(x * f + p) for a, f, p in waves)


def picture():
    w, h = 165, 312
    c = Canvas(w, h)
    horizon = 248
    c.shade(lambda x, y, p: (gradient(SKY, y / horizon * 0.80), 1.0))

    # A low warm glow where the sun went down, off the left edge.
    def glow(x, y, p):
        d = math.hypot((x + 20) / 1.6, y - horizon)
        return (hexcolour("#f2c79b"), 0.55 * math.exp(-(d / 70.0) ** 2))
    c.shade(glow)

    rnd = random.Random(7)
    for _ in range(26):
        x, y = rnd.uniform(4, w - 4), rnd.uniform(6, 120)
        r = rnd.choice((0.45, 0.55, 0.7))
        c.fill(ellipse(x, y, r, r), hexcolour("#e8ecff"),
               opacity=rnd.uniform(0.35, 0.8) * (1 - y / 160))

    # The moon, with a soft halo.
    mx, my, mr = 112, 62, 13
    c.shade(lambda x, y, p: (hexcolour("#c9cfee"),
                             0.28 * math.exp(-((math.hypot(x - mx, y - my) - mr) / 22) ** 2)
                             if math.hypot(x - mx, y - my) > mr else 0.0))
    c.fill(ellipse(mx, my, mr, mr), hexcolour("#f4efe1"))
    c.fill(ellipse(mx + 4, my - 3, 3.2, 2.6), hexcolour("#d9d2c2"), opacity=0.5)
    c.fill(ellipse(mx - 4, my + 4, 2.2, 2.0), hexcolour("#d9d2c2"), opacity=0.45)

    far = [(1.0, 0.045, 0.3), (0.6, 0.11, 1.7), (0.25, 0.27, 0.4)]
    near = [(1.0, 0.032, 2.2), (0.45, 0.085, 0.9), (0.15, 0.31, 2.0)]
    ridge = polygon([(x, hills(horizon - 6, 9, far, x)) for x in range(-2, w + 3, 2)]
                    + [(w + 2, h + 2), (-2, h + 2)])
    c.fill(ridge, hexcolour("#6d6a8f"), ss=3)
    c.shade(lambda x, y, p: (hexcolour("#c8a7b4"),
                             0.45 * math.exp(-((y - horizon) / 9.0) ** 2)))
    land = polygon([(x, hills(horizon + 12, 7, near, x)) for x in range(-2, w + 3, 2)]
                   + [(w + 2, h + 2), (-2, h + 2)])
    c.fill(land, lambda x, y: mix(hexcolour("#2f3150"), hexcolour("#121521"),
                                  min(1.0, (y - horizon) / 60)), ss=3)

    top = draw_cairn(c, 66, 294, 1.1, hexcolour("#d7a98a"))
    draw_raven(c, 68, top + 3.5, 1.2)
    return c


def write_bmp(canvas, path):
    row = (canvas.w * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(canvas.h - 1, -1, -1):
        line = bytearray()
        for x in range(canvas.w):
            r, g, b = canvas.rgb8(x, y)
            line += bytes((b, g, r))
        pixels += line + bytes(row - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, canvas.w, canvas.h, 1, 24, 0,
                       len(pixels), 3780, 3780, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0,
                       14 + len(info))
    with open(path, "wb") as f:
        f.write(head + info + pixels)


# -------------------------------------------------------------------- icon


def icon_canvas(size, flat=False):
    """The raven on a round dusk badge, transparent around it. The flat form
    uses only colours of the standard 16-colour palette, which a gradient
    would band into noise."""
    c = Canvas(size, size, alpha=0.0)
    k = size / 48.0
    badge = ellipse(size / 2, size / 2, size / 2 - 0.5 * k, size / 2 - 0.5 * k)
    sky = [(0.0, hexcolour("#27325e")), (0.55, hexcolour("#5b5f8e")),
           (1.0, hexcolour("#e6ad84"))]
    if flat:
        c.fill(badge, (0.5, 0.5, 0.5), ss=6)
    else:
        c.fill(badge, lambda x, y: gradient(sky, y / size), ss=6)
    # The moon stands behind the head: the beak against it is what makes the
    # bird a raven at small sizes.
    c.fill(ellipse(32 * k, 17 * k, 9 * k, 9 * k),
           (1.0, 1.0, 1.0) if flat else hexcolour("#f4efe1"), ss=6)
    ground = minus(badge, polygon([(0, 0), (size, 0), (size, 39 * k), (0, 37 * k)]))
    c.fill(ground, (0.0, 0.0, 0.0) if flat else hexcolour("#1a1d2c"), ss=6)
    # At 16 pixels the bird is drawn larger, its tail past the badge, and
    # without sheen, so that head and beak still read.
    if size <= 16:
        draw_raven(c, 23 * k, 39 * k, 0.66 * k, detail=False, ss=6)
    else:
        draw_raven(c, 26 * k, 38.5 * k, 0.56 * k, detail=False, ss=6)
    return c


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128),
         (128, 0, 128), (0, 128, 128), (192, 192, 192), (128, 128, 128),
         (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
         (0, 255, 255), (255, 255, 255)]


# The flat icons are drawn in these entries only; a blended edge pixel must
# not turn into a stray hue.
NEUTRALS = (0, 7, 8, 15)


def nearest(palette, rgb, choices=None):
    return min(choices or range(len(palette)),
               key=lambda i: sum((palette[i][c] - rgb[c]) ** 2 for c in range(3)))


def median_cut(colours, count):
    boxes = [list(colours)]
    while len(boxes) < count:
        boxes.sort(key=lambda b: -max(max(p[c] for p in b) - min(p[c] for p in b)
                                      for c in range(3)) if len(b) > 1 else 0)
        box = boxes.pop(0)
        if len(box) < 2:
            boxes.append(box)
            break
        axis = max(range(3), key=lambda c: max(p[c] for p in box) - min(p[c] for p in box))
        box.sort(key=lambda p: p[axis])
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    return [tuple(sum(p[c] for p in b) // len(b) for c in range(3)) for b in boxes if b]


def opaque(canvas, x, y):
    return canvas.alpha8(x, y) >= 128


def mask_rows(canvas):
    stride = ((canvas.w + 31) // 32) * 4
    out = bytearray()
    for y in range(canvas.h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(canvas.w):
            if not opaque(canvas, x, y):
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return out


def indexed_rows(canvas, palette, bits):
    stride = ((canvas.w * bits + 31) // 32) * 4
    out = bytearray()
    for y in range(canvas.h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(canvas.w):
            choices = NEUTRALS if bits == 4 else None
            i = nearest(palette, canvas.rgb8(x, y), choices) if opaque(canvas, x, y) else 0
            if bits == 4:
                row[x // 2] |= i << (4 if x % 2 == 0 else 0)
            else:
                row[x] = i
        out += row
    return out


def icon_image(canvas, bits):
    if bits == 32:
        palette, xor = [], bytearray()
        for y in range(canvas.h - 1, -1, -1):
            for x in range(canvas.w):
                r, g, b = canvas.rgb8(x, y)
                a = canvas.alpha8(x, y)
                xor += bytes((b, g, r, a)) if a else bytes(4)
    else:
        if bits == 4:
            palette = VGA16
        else:
            used = [canvas.rgb8(x, y) for y in range(canvas.h) for x in range(canvas.w)
                    if opaque(canvas, x, y)]
            # Index 0 stays black: masked-out pixels use it.
            palette = [(0, 0, 0)] + median_cut(used, 255)
            palette += [(0, 0, 0)] * (256 - len(palette))
        xor = indexed_rows(canvas, palette, bits)
    mask = mask_rows(canvas)
    header = struct.pack("<IiiHHIIiiII", 40, canvas.w, canvas.h * 2, 1, bits, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + table + xor + mask


def write_ico(images, path):
    """images: [(canvas, bits)] in directory order."""
    blobs = [icon_image(c, bits) for c, bits in images]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for (canvas, bits), blob in zip(images, blobs):
        colours = 16 if bits == 4 else 0
        directory += struct.pack("<BBBBHHII", canvas.w % 256, canvas.h % 256, colours, 0,
                                 1, bits, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(directory + b"".join(blobs))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write_bmp(picture(), os.path.join(out, "wizard.bmp"))
    icons = {n: icon_canvas(n) for n in (48, 32, 16)}
    flat = {n: icon_canvas(n, flat=True) for n in (32, 16)}
    write_ico([(flat[32], 4), (flat[16], 4), (icons[32], 8), (icons[16], 8),
               (icons[48], 32), (icons[32], 32), (icons[16], 32)],
              os.path.join(out, "ravenstock.ico"))


if __name__ == "__main__":
    main()
