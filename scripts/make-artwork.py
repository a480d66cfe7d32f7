#!/usr/bin/python3
"""Draws the Orvane launcher and updater artwork procedurally.

Run with the Debian interpreter (it needs python3-pil and the pngquant tool):

    /usr/bin/python3 scripts/make-artwork.py

Everything is generated from code with fixed random seeds, so two runs give the
same images.  Outputs (relative to the repository root):

    launcher/res/skin.png        1221x739 palette PNG with partial transparency
    launcher/res/logo.png        369x177 RGBA title logo
    launcher/res/btn_close.png   35x31
    launcher/res/btn_minimise.png 35x31
    launcher/res/btn_clear.png   73x24
    launcher/res/btn_repair.png  42x24
    launcher/res/qalLogin.ico    16/32/48/128 px, 32-bit DIB frames
    updater/res/background.jpg   810x340 baseline JPEG
    updater/res/small.bmp        37x37 24-bit BMP
    updater/res/qalUpdate.ico    16/32/48/128 px, 32-bit DIB frames

The script checks its own outputs at the end and exits non-zero if any of them
is not what the programs expect.
"""

import math
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LAUNCHER_RES = os.path.join(ROOT, "launcher", "res")
UPDATER_RES = os.path.join(ROOT, "updater", "res")

FONT_DIR = "/usr/share/fonts/truetype"
FONT_CJK = os.path.join(FONT_DIR, "wqy", "wqy-zenhei.ttc")
FONT_TITLE = os.path.join(FONT_DIR, "dejavu", "DejaVuSerifCondensed-Bold.ttf")

SKIN_SIZE = (1221, 739)


def read_skin_layout(path=os.path.join(ROOT, "launcher", "core", "SkinLayout.h")):
    """The launcher's table of places on the skin: name -> (x, y, w, h)."""
    box = re.compile(r"^constexpr SkinBox (k\w+) = \{(\d+), (\d+), (\d+), (\d+)\};$", re.M)
    with open(path, encoding="utf-8") as f:
        return {m.group(1): tuple(int(v) for v in m.groups()[1:]) for m in box.finditer(f.read())}


# Drawn where the launcher puts its buttons and browser, so the places come
# from the launcher's own table.
SKIN_LAYOUT = read_skin_layout()
_bx, _by, _bw, _bh = SKIN_LAYOUT["kBrowserBox"]
# Browser rectangle of the launcher: left, top, right, bottom (exclusive).
BROWSER = (_bx, _by, _bx + _bw, _by + _bh)
BROWSER_GREY = (70, 70, 70)
LOGO_POS = SKIN_LAYOUT["kLogoBox"][:2]
LOGO_SIZE = SKIN_LAYOUT["kLogoBox"][2:]
BUTTONS = {
    # name: (x, y, w, h)
    "btn_close.png": SKIN_LAYOUT["kCloseButtonBox"],
    "btn_minimise.png": SKIN_LAYOUT["kMinimiseButtonBox"],
    "btn_clear.png": SKIN_LAYOUT["kClearButtonBox"],
    "btn_repair.png": SKIN_LAYOUT["kRepairButtonBox"],
}
NOTICE = ("抵制不良游戏，拒绝盗版游戏。注意自我保护，谨防受骗上当。"
          "适度游戏益脑，沉迷游戏伤身。合理安排时间，享受健康生活。")
COLOUR_KEY = (255, 255, 0)

# ---------------------------------------------------------------- helpers


def font(path, size):
    return ImageFont.truetype(path, size)


def lerp(a, b, t):
    return a + (b - a) * t


def interp_stops(stops, t):
    """Colour at t (0..1) along a list of (position, colour) stops."""
    if t <= stops[0][0]:
        return stops[0][1]
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            u = 0.0 if p1 == p0 else (t - p0) / (p1 - p0)
            return tuple(int(round(lerp(a, b, u))) for a, b in zip(c0, c1))
    return stops[-1][1]


def vgrad(size, stops, mode="RGB"):
    w, h = size
    col = Image.new(mode, (1, h))
    px = col.load()
    for y in range(h):
        px[0, y] = interp_stops(stops, y / max(1, h - 1))
    return col.resize((w, h), Image.NEAREST)


def hgrad(size, stops, mode="RGB"):
    w, h = size
    row = Image.new(mode, (w, 1))
    px = row.load()
    for x in range(w):
        px[x, 0] = interp_stops(stops, x / max(1, w - 1))
    return row.resize((w, h), Image.NEAREST)


def gradient_map(lum, stops):
    """Colourise an L image: value v maps to the colour at v/255 on stops."""
    luts = [[], [], []]
    for v in range(256):
        c = interp_stops(stops, v / 255.0)
        for i in range(3):
            luts[i].append(c[i])
    return Image.merge("RGB", [lum.point(l) for l in luts])


_DIST = None


def _distance_field():
    """512x512 L image: 0 at the centre, 255 at radius 256 and beyond."""
    global _DIST
    if _DIST is None:
        n = 512
        data = bytearray(n * n)
        for y in range(n):
            dy = (y + 0.5 - n / 2) ** 2
            row = y * n
            for x in range(n):
                d = math.sqrt((x + 0.5 - n / 2) ** 2 + dy) / (n / 2)
                data[row + x] = 255 if d >= 1 else int(d * 255)
        _DIST = Image.frombytes("L", (n, n), bytes(data))
    return _DIST


def radial(size, cx, cy, rx, ry=None, profile=None):
    """L mask of an elliptical radial falloff.  profile(d) -> 0..1 where d is
    the normalised distance (0 centre, 1 at the radius)."""
    ry = rx if ry is None else ry
    if profile is None:
        def profile(d):
            return max(0.0, 1.0 - d)
    dist = Image.new("L", size, 255)
    box = (int(round(cx - rx)), int(round(cy - ry)),
           int(round(cx + rx)), int(round(cy + ry)))
    bw, bh = max(1, box[2] - box[0]), max(1, box[3] - box[1])
    dist.paste(_distance_field().resize((bw, bh), Image.BILINEAR), box[:2])
    lut = [max(0, min(255, int(round(255 * profile(min(v, 254) / 255.0)))))
           for v in range(256)]
    lut[255] = max(0, min(255, int(round(255 * profile(1.0)))))
    return dist.point(lut)


def fbm(size, seed, octaves=((4, 0.45), (9, 0.25), (22, 0.15), (60, 0.1),
                             (160, 0.05))):
    """Fractal value noise as an L image, autocontrasted to 0..255."""
    rng = random.Random(seed)
    w, h = size
    acc = None
    total = 0.0
    for cells, weight in octaves:
        cw = max(2, cells)
        ch = max(2, int(round(cells * h / w)))
        small = Image.frombytes("L", (cw, ch), rng.randbytes(cw * ch))
        big = small.resize(size, Image.BICUBIC)
        if acc is None:
            acc = big
        else:
            acc = Image.blend(acc, big, weight / (total + weight))
        total += weight
    lo, hi = acc.getextrema()
    scale = 255.0 / max(1, hi - lo)
    return acc.point(lambda v: int((v - lo) * scale))


def levels(mask, lo, hi):
    """Remap an L image so lo->0 and hi->255 (clamped)."""
    def f(v):
        if v <= lo:
            return 0
        if v >= hi:
            return 255
        return int(255 * (v - lo) / (hi - lo))
    return mask.point(f)


def grow(mask, r):
    """Dilates an L mask by about r pixels (cheap for large r)."""
    r = int(round(r))
    if r <= 0:
        return mask
    if r <= 3:
        return mask.filter(ImageFilter.MaxFilter(2 * r + 1))
    return levels(mask.filter(ImageFilter.GaussianBlur(r * 0.5)), 5, 120)


def shrink(mask, r):
    """Erodes an L mask by about r pixels."""
    r = int(round(r))
    if r <= 0:
        return mask
    if r <= 3:
        return mask.filter(ImageFilter.MinFilter(2 * r + 1))
    inv = mask.point(lambda v: 255 - v)
    return grow(inv, r).point(lambda v: 255 - v)


def scale_mask(mask, k):
    return mask.point(lambda v: int(v * k))


def mul(a, b):
    return ImageChops.multiply(a, b)


def paint(canvas, fill, mask, opacity=1.0):
    """Composite a colour or an RGB(A) image onto canvas through an L mask."""
    if isinstance(fill, tuple):
        layer = Image.new("RGBA", canvas.size, tuple(fill[:3]) + (255,))
        if len(fill) == 4:
            mask = scale_mask(mask, fill[3] / 255.0)
    else:
        layer = fill.convert("RGBA")
        mask = mul(mask, layer.getchannel("A"))
    if opacity < 1.0:
        mask = scale_mask(mask, opacity)
    layer.putalpha(mask)
    canvas.alpha_composite(layer)


class Mask:
    """A supersampled L drawing surface."""

    def __init__(self, size, ss=3):
        self.size = size
        self.ss = ss
        self.im = Image.new("L", (size[0] * ss, size[1] * ss), 0)
        self.d = ImageDraw.Draw(self.im)

    def _p(self, pts):
        s = self.ss
        return [(x * s, y * s) for x, y in pts]

    def poly(self, pts, fill=255):
        self.d.polygon(self._p(pts), fill=fill)

    def ellipse(self, box, fill=255):
        s = self.ss
        self.d.ellipse([box[0] * s, box[1] * s, box[2] * s, box[3] * s],
                       fill=fill)

    def line(self, pts, width, fill=255):
        self.d.line(self._p(pts), fill=fill, width=max(1, int(round(width * self.ss))),
                    joint="curve")

    def rect(self, box, fill=255):
        s = self.ss
        self.d.rectangle([box[0] * s, box[1] * s, box[2] * s - 1, box[3] * s - 1],
                         fill=fill)

    def get(self):
        return self.im.resize(self.size, Image.LANCZOS)


def bez(p0, p1, p2, p3, n=40):
    out = []
    for i in range(n + 1):
        t = i / n
        a, b, c, d = (1 - t) ** 3, 3 * (1 - t) ** 2 * t, 3 * (1 - t) * t * t, t ** 3
        out.append((a * p0[0] + b * p1[0] + c * p2[0] + d * p3[0],
                    a * p0[1] + b * p1[1] + c * p2[1] + d * p3[1]))
    return out


def bpath(start, segs, n=30):
    """Chain of cubic beziers: segs is a list of (c1, c2, end)."""
    pts = [start]
    cur = start
    for c1, c2, end in segs:
        pts.extend(bez(cur, c1, c2, end, n)[1:])
        cur = end
    return pts


def normals(pts):
    out = []
    n = len(pts)
    for i in range(n):
        a = pts[max(0, i - 1)]
        b = pts[min(n - 1, i + 1)]
        dx, dy = b[0] - a[0], b[1] - a[1]
        L = math.hypot(dx, dy) or 1.0
        out.append((-dy / L, dx / L))
    return out


def strip(pts, widths):
    """Polygon of a ribbon along pts; widths is a function of t (0..1)."""
    nm = normals(pts)
    n = len(pts)
    left, right = [], []
    for i, (p, q) in enumerate(zip(pts, nm)):
        w = widths(i / max(1, n - 1)) / 2.0
        left.append((p[0] + q[0] * w, p[1] + q[1] * w))
        right.append((p[0] - q[0] * w, p[1] - q[1] * w))
    return left + right[::-1]


def smooth_noise(rng, n, step, amp):
    """1-D smooth noise of length n (cosine interpolated control points)."""
    ctrl = [rng.uniform(-amp, amp) for _ in range(n // step + 3)]
    out = []
    for i in range(n):
        k, f = divmod(i, step)
        u = (1 - math.cos(math.pi * f / step)) / 2
        out.append(lerp(ctrl[k], ctrl[k + 1], u))
    return out


def blob(cx, cy, rx, ry, rng, rough=0.18, n=48, rot=0.0):
    """Irregular closed outline around an ellipse."""
    phases = [rng.uniform(0, 2 * math.pi) for _ in range(4)]
    pts = []
    for i in range(n):
        a = 2 * math.pi * i / n
        r = 1.0 + rough * (0.5 * math.sin(2 * a + phases[0])
                           + 0.3 * math.sin(3 * a + phases[1])
                           + 0.2 * math.sin(5 * a + phases[2])
                           + 0.15 * math.sin(9 * a + phases[3]))
        r += rng.uniform(-rough, rough) * 0.25
        x, y = math.cos(a) * rx * r, math.sin(a) * ry * r
        cr, sr = math.cos(rot), math.sin(rot)
        pts.append((cx + x * cr - y * sr, cy + x * sr + y * cr))
    return pts


def dry_brush(m, pts, width, rng, bristles=46, dry=0.6, ragged=0.25,
              head=0.07, tail=0.55, ink=(190, 255)):
    """A dry-brush stroke made of individual bristle lines along pts."""
    nm = normals(pts)
    n = len(pts)

    def prof(t):
        h = min(1.0, (t + 0.015) / head) ** 0.55
        return h * (1.0 - tail * t ** 1.7)

    for _ in range(bristles):
        u = rng.uniform(-1.0, 1.0)
        bw = width / bristles * rng.uniform(1.6, 3.4)
        t0 = rng.uniform(0.0, 0.03) + abs(u) ** 3 * rng.uniform(0, 0.08)
        t1 = 1.0 - rng.uniform(0.0, 0.04) - abs(u) ** 1.5 * ragged * rng.random()
        on = True
        drift = 0.0
        level = rng.randint(*ink)
        prev = None
        for i in range(n):
            t = i / (n - 1)
            if t < t0 or t > t1:
                prev = None
                continue
            p_off = dry * t ** 2.2 * (0.25 + abs(u)) * 0.35
            if on and rng.random() < p_off:
                on = False
            elif not on and rng.random() < 0.22:
                on = True
            drift = drift * 0.92 + rng.uniform(-0.02, 0.02)
            w = prof(t) * width / 2.0
            off = (u + drift) * w
            p = (pts[i][0] + nm[i][0] * off, pts[i][1] + nm[i][1] * off)
            if on and prev is not None:
                m.line([prev, p], bw, fill=level)
            prev = p
    # the loaded start of the stroke: a soft blunt pad
    p = pts[0]
    q = nm[0]
    head_pts = []
    for k in range(24):
        a = math.pi * k / 23
        r = width * 0.42 * prof(0.06) * (1 + rng.uniform(-0.25, 0.05))
        d = (pts[1][0] - pts[0][0], pts[1][1] - pts[0][1])
        L = math.hypot(*d) or 1
        d = (d[0] / L, d[1] / L)
        head_pts.append((p[0] + q[0] * math.cos(a) * r - d[0] * math.sin(a) * r * 0.45,
                         p[1] + q[1] * math.cos(a) * r - d[1] * math.sin(a) * r * 0.45))
    m.poly(head_pts, fill=ink[1])


def splatter(m, cx, cy, r, rng, drops=14, spread=4.0):
    m.poly(blob(cx, cy, r, r * rng.uniform(0.7, 1.0), rng, rough=0.35, n=28))
    for _ in range(drops):
        a = rng.uniform(0, 2 * math.pi)
        d = r * rng.uniform(1.3, spread)
        rr = max(0.6, r * rng.uniform(0.06, 0.3) * (1.6 - d / (r * spread)))
        x, y = cx + math.cos(a) * d, cy + math.sin(a) * d
        m.ellipse((x - rr, y - rr * rng.uniform(0.7, 1), x + rr, y + rr))


def ridge(width, base, rough, rng, step=64):
    """Midpoint-displacement mountain ridge heights for x in 0..width."""
    n = 1
    while n < width:
        n *= 2
    h = [0.0] * (n + 1)
    h[0] = rng.uniform(-rough, rough)
    h[n] = rng.uniform(-rough, rough)
    s = n
    amp = rough
    while s > 1:
        half = s // 2
        for i in range(half, n, s):
            h[i] = (h[i - half] + h[i + half]) / 2 + rng.uniform(-amp, amp)
        s = half
        amp *= 0.55
    return [base + h[i] for i in range(width)]


def add_peaks(hts, peaks):
    """Raises gaussian-shouldered, sharp-topped peaks on a ridge line."""
    out = list(hts)
    for c, amp, w in peaks:
        for x in range(len(out)):
            u = abs(x - c) / w
            out[x] -= amp * math.exp(-(u ** 1.25) * 1.4)
    return out


def mountain_mask(size, heights, soft=1.5):
    w, h = size
    m = Image.new("L", size, 0)
    d = ImageDraw.Draw(m)
    d.polygon([(0, h)] + [(x, heights[x]) for x in range(w)] + [(w - 1, h)], fill=255)
    return m.filter(ImageFilter.GaussianBlur(soft)) if soft else m


def no_colour_key(img):
    """Nudge any exact colour-key pixel (pure yellow) off the key."""
    img = img.convert("RGBA")
    px = img.load()
    w, h = img.size
    for y in range(h):
        for x in range(w):
            r, g, b, a = px[x, y]
            if (r, g, b) == COLOUR_KEY:
                px[x, y] = (r, 250, 8, a)
    return img


# ---------------------------------------------------------------- title logo

GOLD = [(0.0, (255, 247, 214)), (0.30, (246, 212, 128)), (0.50, (198, 138, 52)),
        (0.53, (120, 66, 22)), (0.62, (176, 112, 40)), (0.85, (244, 206, 122)),
        (1.0, (255, 236, 178))]


def gold_emboss(size, shape, s, outline=3, glow=(255, 150, 50), glow_r=9,
                glow_a=0.55, stops=GOLD, top=None, bottom=None):
    """Turns an L shape mask into embossed metal lettering on transparency."""
    out = Image.new("RGBA", size, (0, 0, 0, 0))
    box = shape.getbbox() or (0, 0, size[0], size[1])
    top = box[1] if top is None else top
    bottom = box[3] if bottom is None else bottom
    ring = shape.filter(ImageFilter.MaxFilter(2 * int(outline * s) + 1))
    halo = ring.filter(ImageFilter.GaussianBlur(glow_r * s))
    paint(out, glow, halo, glow_a)
    shadow = ImageChops.offset(ring, 0, int(3 * s)).filter(ImageFilter.GaussianBlur(3 * s))
    paint(out, (0, 0, 0), shadow, 0.7)
    paint(out, (34, 14, 8), ring)
    # thin bronze line just inside the dark outline
    inner = ring.filter(ImageFilter.MinFilter(2 * max(1, int(s)) + 1))
    paint(out, (150, 96, 44), inner)
    fill = Image.new("RGB", size, stops[0][1])
    grad = vgrad((size[0], max(1, bottom - top)), stops)
    fill.paste(grad, (0, top))
    fill.paste(stops[-1][1], (0, bottom, size[0], size[1]))
    paint(out, fill, shape)
    blur = shape.filter(ImageFilter.GaussianBlur(1.6 * s))
    d = max(1, int(round(1.5 * s)))
    hi = ImageChops.subtract(blur, ImageChops.offset(blur, d, d))
    lo = ImageChops.subtract(ImageChops.offset(blur, d, d), blur)
    paint(out, (255, 252, 235), mul(levels(hi, 4, 90), shape), 0.9)
    paint(out, (70, 34, 10), mul(levels(lo, 4, 90), shape), 0.7)
    return out


def sword_shape(m, cx, top, bottom, s, blade_w=5.0, guard_w=26.0):
    """Vertical sword, point down, drawn into a Mask (coordinates in px*s)."""
    bw = blade_w * s
    gy = top + 16 * s
    # pommel and grip
    m.ellipse((cx - 4 * s, top - 4 * s, cx + 4 * s, top + 4 * s))
    m.poly([(cx - 2.2 * s, top), (cx + 2.2 * s, top), (cx + 2.6 * s, gy),
            (cx - 2.6 * s, gy)])
    # cross guard with swept tips
    gw = guard_w * s / 2
    m.poly([(cx - gw, gy - 3 * s), (cx - gw * 0.5, gy + 0.5 * s), (cx, gy - 1 * s),
            (cx + gw * 0.5, gy + 0.5 * s), (cx + gw, gy - 3 * s),
            (cx + gw * 0.6, gy + 3.5 * s), (cx, gy + 4.5 * s),
            (cx - gw * 0.6, gy + 3.5 * s)])
    # blade
    m.poly([(cx - bw / 2, gy + 3 * s), (cx + bw / 2, gy + 3 * s),
            (cx + bw / 2 * 0.8, bottom - 14 * s), (cx, bottom),
            (cx - bw / 2 * 0.8, bottom - 14 * s)])


def make_logo(size=LOGO_SIZE):
    s = 2
    W, H = size[0] * s, size[1] * s
    m = Mask((W, H), ss=1)
    f = font(FONT_TITLE, 86 * s)
    f_big = font(FONT_TITLE, 104 * s)
    text = "rvane"
    spacing = -1 * s
    w_o = f_big.getlength("O")
    w_rest = sum(f.getlength(c) for c in text) + spacing * (len(text) - 1)
    total = w_o + 2 * s + w_rest
    x0 = (W - total) / 2
    base = 96 * s  # baseline
    asc_big = f_big.getmetrics()[0]
    asc = f.getmetrics()[0]
    m.d.text((x0, base - asc_big + 6 * s), "O", font=f_big, fill=255)
    x = x0 + w_o + 2 * s
    for c in text:
        m.d.text((x, base - asc), c, font=f, fill=255)
        x += f.getlength(c) + spacing
    shape = m.im
    # the sword through the "O"
    sb = f_big.getbbox("O")
    ocx = x0 + (sb[0] + sb[2]) / 2
    otop = base - asc_big + 6 * s + sb[1]
    obot = base - asc_big + 6 * s + sb[3]
    sw = Mask((W, H), ss=1)
    sword_shape(sw, ocx, otop - 12 * s, obot + 20 * s, s, blade_w=6.0, guard_w=34.0)
    # a gap in the ring around the blade so the sword reads as passing through
    gap = sw.im.filter(ImageFilter.MaxFilter(2 * int(2.5 * s) + 1))
    shape = ImageChops.subtract(shape, gap)
    shape = ImageChops.lighter(shape, sw.im)
    # ornament: a thin double-tapered bar with a diamond and scroll ends
    orn = Mask((W, H), ss=1)
    oy = 116 * s
    cx = W / 2 + 4 * s
    for sign in (-1, 1):
        pts = [(cx + sign * 12 * s, oy), (cx + sign * 96 * s, oy)]
        orn.poly(strip(bpath(pts[0], [((cx + sign * 40 * s, oy - 1 * s),
                                        (cx + sign * 70 * s, oy + 1 * s), pts[1])]),
                       lambda t: (3.2 - 2.6 * t) * s))
        # scroll curl at the end
        ex = cx + sign * 100 * s
        curl = bpath((cx + sign * 90 * s, oy),
                     [((ex + sign * 8 * s, oy - 1 * s), (ex + sign * 8 * s, oy - 10 * s),
                       (ex, oy - 9 * s)),
                      ((ex - sign * 6 * s, oy - 8 * s), (ex - sign * 5 * s, oy - 3 * s),
                       (ex - sign * 1 * s, oy - 3 * s))], n=14)
        orn.poly(strip(curl, lambda t: (2.4 - 1.6 * t) * s))
    orn.poly([(cx, oy - 8 * s), (cx + 9 * s, oy), (cx, oy + 8 * s), (cx - 9 * s, oy)])
    shape = ImageChops.lighter(shape, orn.im)
    text_box = m.im.getbbox()
    logo = gold_emboss((W, H), shape, s, outline=2.6, glow_r=8, glow_a=0.6,
                       top=text_box[1], bottom=text_box[3])
    # bright glint on the blade
    blade = sw.im.filter(ImageFilter.MinFilter(3))
    glint = mul(blade, vgrad((W, H), [(0, (0,)), (0.25, (255,)), (0.7, (120,)), (1, (0,))],
                             mode="L"))
    paint(logo, (255, 255, 240), glint, 0.65)
    logo = logo.resize(size, Image.LANCZOS)
    a = logo.getchannel("A").point(lambda v: 0 if v < 3 else v)
    logo.putalpha(a)
    return no_colour_key(logo)


# ---------------------------------------------------------------- the skin


def draw_figure(size):
    """Silhouette of a swordsman in a bamboo hat with a streaming cape.
    Returns (body mask, sash mask, blade mask, fold-line mask)."""
    body = Mask(size, ss=3)
    sash = Mask(size, ss=3)
    blade = Mask(size, ss=3)
    folds = Mask(size, ss=3)
    rng = random.Random(7)

    # cape streaming to the left: a body and several flame-like tails
    cape = bpath((300, 232), [((250, 222), (180, 236), (128, 256)),
                              ((96, 270), (88, 310), (104, 340)),
                              ((150, 400), (200, 410), (232, 392)),
                              ((250, 372), (262, 330), (270, 300))])
    body.poly(cape)
    for (sx, sy), (c1, c2), (ex, ey), w in [
            ((170, 262), ((110, 240), (70, 268)), (8, 246), 46),
            ((150, 300), ((96, 300), (70, 330)), (16, 318), 40),
            ((150, 340), ((100, 350), (80, 390)), (34, 380), 34),
            ((190, 380), ((140, 400), (130, 440)), (72, 446), 26)]:
        pts = bez((sx, sy), c1, c2, (ex, ey), 40)
        body.poly(strip(pts, lambda t, w=w: w * (1 - t) ** 1.15 + 0.8))

    # robe skirt flaring back (left) in the wind, front edge straight-ish
    skirt = bpath((242, 338), [((226, 420), (190, 510), (140, 560)),
                               ((120, 580), (130, 600), (178, 606)),
                               ((220, 610), (270, 616), (312, 612)),
                               ((330, 560), (322, 430), (308, 338))])
    body.poly(skirt)
    # trailing hem tails
    for (sx, sy), (c1, c2), (ex, ey), w in [
            ((200, 540), ((150, 560), (110, 520)), (40, 548), 30),
            ((190, 590), ((140, 600), (100, 570)), (30, 606), 22),
            ((210, 500), ((160, 500), (130, 470)), (70, 488), 18)]:
        pts = bez((sx, sy), c1, c2, (ex, ey), 40)
        body.poly(strip(pts, lambda t, w=w: w * (1 - t) ** 1.2 + 0.8))
    # legs and boots under the hem
    body.poly([(250, 600), (270, 600), (268, 644), (240, 648), (236, 640), (252, 636)])
    body.poly([(286, 604), (306, 604), (310, 640), (330, 648), (326, 652), (290, 650)])

    # torso
    body.poly(bpath((262, 214), [((240, 220), (214, 230), (204, 246)),
                                 ((222, 290), (232, 320), (240, 345)),
                                 ((262, 350), (288, 350), (310, 345)),
                                 ((318, 300), (332, 270), (334, 244)),
                                 ((320, 228), (300, 218), (284, 214))]))
    # neck and jaw under the hat
    body.ellipse((258, 188, 292, 226))
    # sword arm: wide sleeve hanging from the shoulder to the wrist
    sleeve = bpath((312, 232), [((346, 250), (362, 290), (372, 330)),
                                ((380, 350), (384, 360), (378, 368)),
                                ((364, 372), (350, 372), (340, 364)),
                                ((318, 400), (290, 420), (262, 410)),
                                ((290, 380), (310, 330), (300, 262))])
    body.poly(sleeve)
    # hand
    body.ellipse((366, 352, 390, 376))
    # the far arm, raised slightly behind
    body.poly(bpath((214, 246), [((190, 280), (182, 320), (200, 352)),
                                 ((212, 360), (222, 352), (226, 344)),
                                 ((214, 320), (222, 286), (234, 262))]))

    # hair: a long tail streaming left from under the hat
    for (c1, c2), (ex, ey), w in [(((200, 196), (160, 236)), (92, 226), 24),
                                  (((210, 200), (170, 240)), (120, 250), 12),
                                  (((210, 190), (150, 214)), (96, 200), 10)]:
        pts = bez((262, 204), c1, c2, (ex, ey), 40)
        body.poly(strip(pts, lambda t, w=w: w * (1 - t) ** 1.3 + 0.6))

    # bamboo hat (douli)
    hat = bpath((176, 192), [((220, 160), (250, 134), (270, 122)),
                             ((290, 134), (326, 160), (366, 180)),
                             ((330, 196), (230, 208), (176, 192))])
    body.poly(hat)
    body.ellipse((265, 116, 276, 127))
    # hat ribbons
    for (c1, c2), (ex, ey) in [(((160, 214), (110, 150)), (40, 168))]:
        pts = bez((214, 198), c1, c2, (ex, ey), 50)
        body.poly(strip(pts, lambda t: 5.0 * (1 - t) ** 0.8 + 1.2))

    # sword: blade from the hand down towards the lower right
    hx, hy = 378, 364
    tx, ty = 466, 628
    ang = math.atan2(ty - hy, tx - hx)
    ux, uy = math.cos(ang), math.sin(ang)
    nx, ny = -uy, ux
    gx, gy = hx + ux * 16, hy + uy * 16
    body.poly([(hx - ux * 30 - nx * 3, hy - uy * 30 - ny * 3),
               (hx - ux * 30 + nx * 3, hy - uy * 30 + ny * 3),
               (gx + nx * 3, gy + ny * 3), (gx - nx * 3, gy - ny * 3)])
    body.ellipse((hx - ux * 32 - 5, hy - uy * 32 - 5, hx - ux * 32 + 5, hy - uy * 32 + 5))
    body.poly([(gx - nx * 16, gy - ny * 16), (gx + nx * 16, gy + ny * 16),
               (gx + nx * 12 + ux * 6, gy + ny * 12 + uy * 6),
               (gx - nx * 12 + ux * 6, gy - ny * 12 + uy * 6)])
    bw = 4.2
    blade.poly([(gx + ux * 5 - nx * bw, gy + uy * 5 - ny * bw),
                (gx + ux * 5 + nx * bw, gy + uy * 5 + ny * bw),
                (tx - ux * 22 + nx * bw * 0.8, ty - uy * 22 + ny * bw * 0.8),
                (tx, ty),
                (tx - ux * 22 - nx * bw * 0.8, ty - uy * 22 - ny * bw * 0.8)])
    # sword tassel
    tas = bpath((hx - ux * 34, hy - uy * 34), [((330, 320), (320, 370), (280, 372))])
    sash.poly(strip(tas, lambda t: 3.0 * (1 - t) + 1))

    # sash: belt and two long tails streaming left
    sash.poly(bpath((238, 330), [((262, 338), (290, 338), (312, 330)),
                                 ((313, 338), (312, 346), (310, 352)),
                                 ((288, 358), (262, 358), (240, 350))]))
    for (c1, c2), (ex, ey), w in [(((200, 350), (160, 410)), (70, 408), 11),
                                  (((210, 372), (170, 440)), (100, 462), 8)]:
        pts = bez((246, 344), c1, c2, (ex, ey), 40)
        sash.poly(strip(pts, lambda t, w=w: w * (1 - 0.6 * t) + 1))

    # bamboo ribs of the hat
    brim = bez((182, 192), (230, 204), (320, 196), (360, 181), 8)
    for bx_, by_ in brim[1:-1]:
        folds.poly(strip([(270, 128), (lerp(270, bx_, 0.5), lerp(128, by_, 0.5) + 1),
                          (bx_, by_ - 3)], lambda t: 0.3 + 0.8 * t), fill=150)
    # fold lines inside the robe and the cape
    for pts in ([(262, 360), (250, 450), (200, 540), (150, 580)],
                [(290, 360), (292, 460), (280, 560), (266, 604)],
                [(240, 250), (180, 280), (120, 310), (60, 330)],
                [(250, 290), (200, 330), (160, 380), (120, 400)],
                [(320, 260), (340, 300), (350, 340), (346, 360)]):
        folds.poly(strip(bez(*pts, n=30), lambda t: 2.6 * math.sin(math.pi * t) + 0.2))
    return body.get(), sash.get(), blade.get(), folds.get()


def make_skin(logo):
    W, H = SKIN_SIZE
    rng = random.Random(2024)
    skin = Image.new("RGBA", (W, H), (0, 0, 0, 0))
    paper = fbm((W, H), 11)
    grain = fbm((W, H), 12, octaves=((80, 0.5), (240, 0.5)))

    # -- ink cloud behind the title and across the top of the frame
    cloud = Mask((W, H), ss=1)
    for cx, cy, rx, ry in [(945, 124, 190, 46), (860, 146, 150, 30),
                           (1040, 146, 130, 30)]:
        cloud.poly(blob(cx, cy, rx, ry, rng, rough=0.3))
    cm = cloud.im.filter(ImageFilter.GaussianBlur(16))
    cm = mul(cm, levels(paper, 40, 200).point(lambda v: 120 + v // 2))
    paint(skin, (24, 14, 14), cm, 0.85)
    paint(skin, (120, 30, 20), mul(cm, radial((W, H), 945, 140, 260, 90)), 0.35)

    # -- the setting sun behind the swordsman
    scx, scy, sr = 262, 300, 212
    glow = radial((W, H), scx, scy, sr * 1.35,
                  profile=lambda d: max(0.0, min(1.0, (1.0 - d) / 0.26)) ** 1.6 * 0.62)
    paint(skin, (214, 70, 32), glow)
    sun_l = radial((W, H), scx - 40, scy - 50, sr * 1.25)
    sun_rgb = gradient_map(sun_l, [(0.0, (150, 22, 22)), (0.25, (196, 44, 30)),
                                   (0.6, (236, 110, 52)), (0.85, (252, 176, 96)),
                                   (1.0, (255, 222, 160))])
    tex = levels(paper, 0, 255).point(lambda v: 200 + v // 5)
    sun_rgb = ImageChops.multiply(sun_rgb, Image.merge("RGB", [tex, tex, tex]))
    disc = radial((W, H), scx, scy, sr, profile=lambda d: 1.0 if d < 0.985 else
                  max(0.0, (1.0 - d) / 0.015))
    paint(skin, sun_rgb, disc)
    # dark cloud bands drifting across the sun
    bands = Mask((W, H), ss=2)
    brng = random.Random(31)
    for y0, x0, x1, wd in [(372, 470, 40, 22), (404, 500, 110, 16), (236, 430, 150, 10),
                           (258, 380, 60, 7)]:
        pts = bez((x0, y0), ((2 * x0 + x1) / 3, y0 - 8), ((x0 + 2 * x1) / 3, y0 + 6),
                  (x1, y0 + 2), 90)
        dry_brush(bands, pts, wd, brng, bristles=30, dry=0.9, ragged=0.4, ink=(140, 230))
    paint(skin, (46, 18, 22), bands.get(), 0.78)

    # ragged dissolve for the lower left art (mountains, rock) so it fades into
    # ink spatter instead of ending at the image border
    fade = ImageChops.multiply(
        radial((W, H), 250, 600, 270, 190, profile=lambda d: min(1.0, max(0.0, (1 - d) * 2.2))),
        vgrad((W, H), [(0, (255,)), (650 / H, (255,)), (728 / H, (0,)), (1, (0,))], mode="L"))
    clip = levels(Image.blend(Image.blend(fade, paper, 0.3), grain, 0.15), 112, 150)
    mm = Image.new("L", (W, H), 0)
    mrng = random.Random(5)
    for base, rough, col, alpha, pk in [
            (540, 24, (96, 58, 64), 0.8, [(60, 70, 50), (150, 40, 40), (420, 90, 60)]),
            (590, 20, (58, 36, 42), 0.9, [(20, 50, 60), (220, 60, 50), (470, 40, 60)]),
            (646, 14, (34, 22, 26), 1.0, [(120, 30, 60), (380, 26, 50)])]:
        hts = add_peaks(ridge(560, base, rough, mrng), pk)
        m = mountain_mask((560, H), hts)
        full = Image.new("L", (W, H), 0)
        full.paste(m, (0, 0))
        mist = vgrad((W, H), [(0, (255,)), ((base + 30) / H, (255,)),
                              ((base + 110) / H, (60,)), (1, (0,))], mode="L")
        mist = ImageChops.lighter(mist, levels(paper, 150, 255))
        rgb = Image.new("RGB", (W, H), col)
        rgb = Image.composite(rgb, Image.new("RGB", (W, H), (150, 80, 70)), mist)
        full = mul(full, clip)
        paint(skin, rgb, full, alpha)
        mm = ImageChops.lighter(mm, full)

    # -- the main frame panel
    px0, py0, px1, py1 = 408, 142, 1200, 706
    prng = random.Random(77)
    edge = []
    top = smooth_noise(prng, px1 - px0, 23, 4)
    right = smooth_noise(prng, py1 - py0, 19, 4)
    bot = smooth_noise(prng, px1 - px0, 21, 5)
    left = smooth_noise(prng, py1 - py0, 17, 6)
    for i in range(0, px1 - px0, 3):
        edge.append((px0 + i, py0 + top[i] + prng.uniform(-0.8, 0.8)))
    for i in range(0, py1 - py0, 3):
        edge.append((px1 + right[i] + prng.uniform(-0.8, 0.8), py0 + i))
    for i in range(px1 - px0 - 1, 0, -3):
        edge.append((px0 + i, py1 + bot[i] + prng.uniform(-0.8, 0.8)))
    for i in range(py1 - py0 - 1, 0, -3):
        edge.append((px0 + left[i] + prng.uniform(-0.8, 0.8), py0 + i))
    pm = Mask((W, H), ss=2)
    pm.poly(edge)
    panel = pm.get()
    # soft drop shadow / outer glow around the panel gives the window a halo
    halo = panel.filter(ImageFilter.GaussianBlur(9))
    paint(skin, (0, 0, 0), halo, 0.55)
    base = gradient_map(paper, [(0, (16, 13, 14)), (0.5, (30, 24, 25)), (1, (46, 36, 34))])
    base = Image.blend(base, gradient_map(grain, [(0, (20, 16, 16)), (1, (40, 32, 30))]), 0.3)
    paint(skin, base, panel)
    # faint warm light from the top-left, darker towards the bottom-right
    paint(skin, (120, 40, 24), mul(panel, radial((W, H), 520, 200, 520, 360)), 0.22)
    paint(skin, (0, 0, 0), mul(panel, radial((W, H), 1200, 720, 500, 400)), 0.35)
    # faint mountain motif inside the panel, bottom right
    mmotif = mountain_mask((W, H), ridge(W, 600, 60, random.Random(9)))
    mmotif = mul(mmotif, vgrad((W, H), [(0, (0,)), (0.78, (255,)), (0.95, (0,)), (1, (0,))],
                               mode="L"))
    paint(skin, (70, 50, 48), mul(mmotif, panel), 0.35)

    # -- dry-brush frame strokes
    black = Mask((W, H), ss=2)
    red = Mask((W, H), ss=2)
    srng = random.Random(101)
    dry_brush(black, bez((396, 150), (640, 136), (900, 146), (1214, 134), 240), 30, srng,
              bristles=60, dry=0.8, ragged=0.3)
    dry_brush(black, bez((1212, 706), (980, 700), (700, 712), (382, 694), 240), 34, srng,
              bristles=64, dry=0.7, ragged=0.3)
    dry_brush(black, bez((1196, 126), (1206, 320), (1190, 520), (1200, 716), 200), 20, srng,
              bristles=40, dry=0.9, ragged=0.45)
    dry_brush(black, bez((414, 156), (404, 280), (420, 360), (410, 470), 120), 16, srng,
              bristles=34, dry=1.2, ragged=0.6, tail=0.8)
    dry_brush(red, bez((1190, 160), (980, 166), (760, 150), (560, 160), 200), 10, srng,
              bristles=30, dry=1.1, ragged=0.5, ink=(170, 255))
    dry_brush(red, bez((420, 688), (700, 680), (900, 690), (1150, 684), 200), 12, srng,
              bristles=30, dry=1.0, ragged=0.5, ink=(170, 255))
    for cx, cy, r in [(1206, 130, 9), (1192, 718, 6), (392, 700, 7), (1170, 128, 3),
                      (420, 150, 5)]:
        splatter(black, cx, cy, r, srng, drops=16, spread=5)
    splatter(red, 1150, 712, 5, srng, drops=10, spread=5)
    bm = black.get()
    rm = red.get()
    strokes_tex = gradient_map(grain, [(0, (6, 5, 6)), (1, (30, 24, 24))])
    paint(skin, strokes_tex, bm)
    paint(skin, gradient_map(grain, [(0, (96, 12, 14)), (1, (160, 28, 24))]), rm)

    # -- rock and the swordsman in front of everything on the left
    rockm = Mask((W, H), ss=2)
    rrng = random.Random(55)
    rock = [(90, 739)]
    for i, (x, y) in enumerate([(110, 690), (150, 662), (200, 650), (240, 640),
                                (300, 644), (350, 650), (390, 668), (420, 690),
                                (440, 739)]):
        rock.append((x + rrng.uniform(-6, 6), y + rrng.uniform(-4, 4)))
    rockm.poly(rock)
    rmask = mul(rockm.get(), levels(Image.blend(vgrad((W, H), [(0, (255,)), (660 / H, (255,)),
                                                             (736 / H, (0,)), (1, (0,))],
                                                       mode="L"), grain, 0.3), 110, 140))
    paint(skin, gradient_map(paper, [(0, (10, 8, 10)), (1, (44, 36, 38))]), rmask)
    rstroke = Mask((W, H), ss=2)
    dry_brush(rstroke, bez((150, 664), (220, 646), (320, 640), (402, 672), 100), 10, rrng,
              bristles=26, dry=1.2, ragged=0.5)
    dry_brush(rstroke, bez((200, 700), (250, 686), (300, 690), (360, 712), 80), 8, rrng,
              bristles=20, dry=1.3, ragged=0.6)
    paint(skin, (92, 78, 80), mul(rstroke.get(), rmask), 0.7)

    body, sash, blade, folds = draw_figure((W, H))
    fig_rgb = vgrad((W, H), [(0, (34, 28, 36)), (0.5, (20, 16, 22)), (1, (10, 8, 12))])
    paint(skin, fig_rgb, body)
    paint(skin, (58, 48, 60), mul(folds, body), 0.8)
    paint(skin, gradient_map(grain, [(0, (110, 14, 18)), (1, (170, 34, 30))]), sash)
    # rim light where the sun shines past the silhouette
    fig_all = ImageChops.lighter(body, sash)
    rim = ImageChops.subtract(fig_all, fig_all.filter(ImageFilter.MinFilter(3)))
    near_sun = radial((W, H), scx, scy, sr * 1.15, profile=lambda d: max(0.0, 1.0 - d) ** 0.5)
    paint(skin, (255, 190, 116), mul(rim, near_sun), 0.9)
    # the blade catches the light
    paint(skin, (255, 214, 160), blade.filter(ImageFilter.GaussianBlur(5)), 0.6)
    paint(skin, vgrad((W, H), [(0, (255, 250, 236)), (0.6, (214, 220, 230)),
                               (1, (150, 160, 176))]), blade)

    # a vertical line of calligraphy and a seal in the strip left of the page
    cal = Image.new("L", (W, H), 0)
    cd = ImageDraw.Draw(cal)
    fcal = font(FONT_CJK, 27)
    for i, ch in enumerate("剑指苍穹"):
        cd.text((447, 268 + i * 34), ch, font=fcal, fill=255, anchor="mm")
    paint(skin, (0, 0, 0), grow(cal, 2).filter(ImageFilter.GaussianBlur(2)), 0.8)
    cal = mul(cal, levels(grain, 20, 140).point(lambda v: 170 + v * 85 // 255))
    paint(skin, vgrad((W, H), [(0, (236, 204, 140)), (0.5, (200, 150, 80)),
                               (1, (150, 100, 50))]), cal)
    seal = Mask((W, H), ss=3)
    seal.poly(blob(447, 406, 17, 17, random.Random(3), rough=0.04, n=4, rot=math.pi / 4))
    sealm = mul(seal.get(), levels(grain, 0, 90).point(lambda v: 150 + v * 105 // 255))
    paint(skin, (160, 22, 20), sealm)
    st = Image.new("L", (W, H), 0)
    ImageDraw.Draw(st).text((447, 406), "侠", font=font(FONT_CJK, 19), fill=255, anchor="mm")
    paint(skin, (246, 214, 184), mul(st, seal.get()))

    # a few birds crossing the sky
    birds = Mask((W, H), ss=3)
    for bx, by, bs in [(150, 110, 9), (176, 96, 6), (196, 120, 5), (128, 92, 4)]:
        birds.poly(strip(bpath((bx - bs, by - bs * 0.4),
                               [((bx - bs * 0.5, by - bs * 0.5), (bx - bs * 0.2, by - bs * 0.1),
                                 (bx, by)),
                                ((bx + bs * 0.2, by - bs * 0.1), (bx + bs * 0.5, by - bs * 0.6),
                                 (bx + bs, by - bs * 0.5))], n=8),
                         lambda t: 0.4 + 1.6 * math.sin(math.pi * t)))
    paint(skin, (30, 16, 18), birds.get())

    # -- browser well: dark bevel, bronze hairline, grey page area
    bx0, by0, bx1, by1 = BROWSER
    well = Image.new("L", (W, H), 0)
    wd = ImageDraw.Draw(well)
    wd.rectangle([bx0 - 10, by0 - 10, bx1 + 10, by1 + 10], fill=255)
    paint(skin, (0, 0, 0), well.filter(ImageFilter.GaussianBlur(6)), 0.7)
    frame = Image.new("RGBA", (W, H), (0, 0, 0, 0))
    fd = ImageDraw.Draw(frame)
    fd.rectangle([bx0 - 7, by0 - 7, bx1 + 7, by1 + 7], fill=(14, 10, 10, 255))
    fd.rectangle([bx0 - 5, by0 - 5, bx1 + 5, by1 + 5], outline=(156, 110, 58, 255))
    fd.rectangle([bx0 - 4, by0 - 4, bx1 + 4, by1 + 4], outline=(74, 48, 26, 255))
    fd.rectangle([bx0 - 1, by0 - 1, bx1 + 1, by1 + 1], outline=(8, 6, 6, 255))
    # corner ornaments on the well
    for cx, cy, sx, sy in [(bx0 - 5, by0 - 5, 1, 1), (bx1 + 5, by0 - 5, -1, 1),
                           (bx0 - 5, by1 + 5, 1, -1), (bx1 + 5, by1 + 5, -1, -1)]:
        fd.polygon([(cx - sx * 4, cy - sy * 4), (cx + sx * 16, cy - sy * 4),
                    (cx + sx * 4, cy + sy * 2), (cx - sx * 4, cy + sy * 16)],
                   fill=(190, 140, 70, 255))
        fd.polygon([(cx - sx * 2, cy - sy * 2), (cx + sx * 9, cy - sy * 2),
                    (cx + sx * 2, cy + sy * 1), (cx - sx * 2, cy + sy * 9)],
                   fill=(96, 60, 28, 255))
    skin.alpha_composite(frame)
    skin.paste(BROWSER_GREY + (255,), (bx0, by0, bx1 + 1, by1 + 1))

    # -- header plate for the buttons
    hx0, hy0, hx1, hy1 = 640, 166, 1160, 214
    plate = Mask((W, H), ss=3)
    plate.poly([(hx0, (hy0 + hy1) / 2), (hx0 + 14, hy0), (hx1 - 8, hy0), (hx1, hy0 + 8),
                (hx1, hy1 - 8), (hx1 - 8, hy1), (hx0 + 14, hy1)])
    pl = plate.get()
    paint(skin, (0, 0, 0), pl.filter(ImageFilter.GaussianBlur(4)), 0.8)
    lac = vgrad((W, H), [(0, (40, 14, 12)), (hy0 / H, (40, 14, 12)),
                         ((hy0 + 4) / H, (74, 24, 18)), ((hy0 + 24) / H, (44, 14, 12)),
                         (hy1 / H, (26, 8, 8)), (1, (26, 8, 8))])
    lac = ImageChops.multiply(lac, Image.merge("RGB", [grain.point(lambda v: 215 + v // 6)] * 3))
    paint(skin, lac, pl)
    inner = Mask((W, H), ss=3)
    inner.poly([(hx0 + 4, (hy0 + hy1) / 2), (hx0 + 16, hy0 + 3), (hx1 - 9, hy0 + 3),
                (hx1 - 3, hy0 + 9), (hx1 - 3, hy1 - 9), (hx1 - 9, hy1 - 3),
                (hx0 + 16, hy1 - 3)])
    im_ = inner.get()
    ring = ImageChops.subtract(im_, im_.filter(ImageFilter.MinFilter(3)))
    paint(skin, (176, 128, 64), ring, 0.9)
    outer_ring = ImageChops.subtract(pl, pl.filter(ImageFilter.MinFilter(3)))
    paint(skin, (10, 4, 4), outer_ring)
    # small bronze studs along the plate where no buttons sit
    for sx in (652, 1058):
        paint(skin, (200, 150, 80), radial((W, H), sx, 190, 3.2,
                                            profile=lambda d: 1.0 if d < 0.75 else
                                            max(0.0, (1 - d) / 0.25)))

    # -- the notice line under the browser
    nf = font(FONT_CJK, 12)
    ntext = Image.new("L", (W, H), 0)
    ImageDraw.Draw(ntext).text(((bx0 + bx1) / 2, 652), NOTICE, font=nf, fill=255,
                               anchor="mm")
    paint(skin, (196, 182, 160), ntext)

    # -- transparency cleanup: no stray near-invisible pixels, clear corners
    a = skin.getchannel("A").point(lambda v: 0 if v < 4 else v)
    skin.putalpha(a)
    return no_colour_key(skin)


def quantise(rgba, path):
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "in.png")
        dst = os.path.join(tmp, "out.png")
        rgba.save(src)
        subprocess.run(["pngquant", "--force", "--quality=70-100", "--speed", "1",
                        "--output", dst, "256", src], check=True)
        shutil.copyfile(dst, path)


# ---------------------------------------------------------------- buttons


def make_buttons(skin_rgba):
    out = {}
    for name, (x, y, w, h) in BUTTONS.items():
        bg = skin_rgba.crop((x, y, x + w, y + h)).convert("RGBA")
        flat = Image.new("RGBA", (w, h), (0, 0, 0, 255))
        flat.alpha_composite(bg)
        s = 4
        W, H = w * s, h * s
        face = Image.new("RGBA", (W, H), (0, 0, 0, 0))
        if name in ("btn_close.png", "btn_minimise.png"):
            cx, cy, r = W / 2, H / 2, 13.5 * s
            disc = radial((W, H), cx, cy, r, profile=lambda d: 1.0 if d < 0.97 else
                          max(0.0, (1 - d) / 0.03))
            paint(face, (0, 0, 0), radial((W, H), cx, cy + s, r + 2 * s), 0.8)
            shade = radial((W, H), cx - 3 * s, cy - 4 * s, r * 1.4)
            paint(face, gradient_map(shade, [(0, (52, 8, 8)), (0.6, (126, 26, 20)),
                                             (1, (196, 58, 36))]), disc)
            ring = ImageChops.subtract(disc, disc.filter(ImageFilter.MinFilter(2 * s + 1)))
            paint(face, (206, 154, 78), ring)
            m = Mask((W, H), ss=1)
            k = 5.5 * s
            if name == "btn_close.png":
                m.poly(strip([(cx - k, cy - k), (cx + k, cy + k)], lambda t: (3.6 - 1.2 * t) * s))
                m.poly(strip([(cx + k, cy - k), (cx - k, cy + k)], lambda t: (3.6 - 1.2 * t) * s))
            else:
                m.poly(strip([(cx - k - s, cy + 1 * s), (cx + k + s, cy + 0.5 * s)],
                             lambda t: (3.4 - 1.0 * t) * s))
            glyph = m.im
            paint(face, (0, 0, 0), ImageChops.offset(glyph, 0, s).filter(
                ImageFilter.GaussianBlur(s)), 0.7)
            paint(face, vgrad((W, H), [(0, (255, 246, 222)), (1, (232, 196, 140))]), glyph)
        else:
            label = "清理" if name == "btn_clear.png" else "修复"
            plate = Image.new("L", (W, H), 0)
            ImageDraw.Draw(plate).rounded_rectangle([0, 0, W - 1, H - 1], radius=4 * s,
                                                    fill=255)
            paint(face, vgrad((W, H), [(0, (176, 58, 38)), (0.45, (128, 30, 22)),
                                       (0.55, (104, 22, 18)), (1, (70, 14, 12))]), plate)
            border = Image.new("L", (W, H), 0)
            ImageDraw.Draw(border).rounded_rectangle([0, 0, W - 1, H - 1], radius=4 * s,
                                                     outline=255, width=s)
            paint(face, (214, 164, 86), border)
            inner = plate.filter(ImageFilter.MinFilter(2 * s + 1))
            hl = ImageChops.subtract(inner, ImageChops.offset(inner, 0, s))
            paint(face, (255, 200, 150), hl, 0.5)
            t = Image.new("L", (W, H), 0)
            ImageDraw.Draw(t).text((W / 2, H / 2 + 0.5 * s), label,
                                   font=font(FONT_CJK, 13 * s), fill=255, anchor="mm")
            paint(face, (0, 0, 0), ImageChops.offset(t, 0, s).filter(
                ImageFilter.GaussianBlur(s * 0.8)), 0.8)
            paint(face, (252, 236, 204), t)
        face = face.resize((w, h), Image.LANCZOS)
        flat.alpha_composite(face)
        out[name] = no_colour_key(flat)
    return out


# ---------------------------------------------------------------- icons


def emblem(px, variant):
    """Square RGBA emblem.  variant 'login': sword through a ring on crimson;
    'update': a down arrow through the ring on dark jade."""
    s = 8 if px <= 48 else 4
    W = px * s
    im = Image.new("RGBA", (W, W), (0, 0, 0, 0))
    small = px <= 16
    pad = 0.5 * s if small else W * 0.03
    disc = radial((W, W), W / 2, W / 2, W / 2 - pad,
                  profile=lambda d: 1.0 if d < 0.985 else max(0.0, (1 - d) / 0.015))
    if variant == "login":
        stops = [(0, (40, 6, 8)), (0.6, (120, 20, 18)), (1, (190, 50, 34))]
    else:
        stops = [(0, (6, 30, 28)), (0.6, (18, 84, 74)), (1, (44, 140, 118))]
    shade = radial((W, W), W * 0.38, W * 0.32, W * 0.8)
    paint(im, gradient_map(shade, stops), disc)
    rim = ImageChops.subtract(disc, shrink(disc, max(s, W * 0.025)))
    paint(im, (214, 162, 80), rim)
    # the golden ring ("O")
    ring_w = 0.16 if small else 0.12
    ro, ri = W * 0.33, W * (0.33 - ring_w)
    outer = radial((W, W), W / 2, W / 2, ro, profile=lambda d: 1.0 if d < 0.99 else 0.0)
    inner = radial((W, W), W / 2, W / 2, ri, profile=lambda d: 1.0 if d < 0.99 else 0.0)
    ring = ImageChops.subtract(outer, inner)
    fig = Mask((W, W), ss=1)
    cx = W / 2
    if variant == "login":
        bw = W * (0.13 if small else 0.07)
        top, bot = W * 0.12, W * 0.90
        gy = W * 0.27
        fig.ellipse((cx - bw * 0.8, top - bw * 0.8, cx + bw * 0.8, top + bw * 0.8))
        fig.poly([(cx - bw * 0.35, top), (cx + bw * 0.35, top), (cx + bw * 0.4, gy),
                  (cx - bw * 0.4, gy)])
        gw = W * (0.30 if small else 0.24)
        fig.poly([(cx - gw, gy - bw * 0.5), (cx + gw, gy - bw * 0.5),
                  (cx + gw * 0.7, gy + bw * 0.5), (cx - gw * 0.7, gy + bw * 0.5)])
        fig.poly([(cx - bw / 2, gy), (cx + bw / 2, gy), (cx + bw / 2, bot - bw * 1.8),
                  (cx, bot), (cx - bw / 2, bot - bw * 1.8)])
    else:
        sw = W * (0.24 if small else 0.10)
        hw = W * (0.36 if small else 0.22)
        top, tip = W * (0.16 if small else 0.14), W * 0.86
        fig.poly([(cx - sw / 2, top), (cx + sw / 2, top), (cx + sw / 2, tip - hw * 1.05),
                  (cx + hw, tip - hw * 1.05), (cx, tip), (cx - hw, tip - hw * 1.05),
                  (cx - sw / 2, tip - hw * 1.05)])
    figm = fig.im
    gap = grow(figm, W * 0.03)
    if small and variant == "update":
        # at 16 px the ring and the arrow merge; the arrow alone reads better
        ring = Image.new("L", (W, W), 0)
    gold = ImageChops.lighter(ImageChops.subtract(ring, gap), figm)
    outline = grow(gold, W * (0.045 if small else 0.025))
    paint(im, (0, 0, 0), outline.filter(ImageFilter.GaussianBlur(W * 0.02)), 0.7)
    paint(im, (24, 10, 4), outline)
    metal = vgrad((W, W), [(0, (255, 244, 200)), (0.45, (236, 190, 96)),
                           (0.55, (176, 112, 40)), (1, (250, 214, 130))])
    paint(im, metal, gold)
    if not small:
        blur = gold.filter(ImageFilter.GaussianBlur(W * 0.012))
        d = max(1, int(W * 0.012))
        hi = ImageChops.subtract(blur, ImageChops.offset(blur, d, d))
        paint(im, (255, 255, 240), mul(levels(hi, 4, 80), gold), 0.8)
    out = im.resize((px, px), Image.LANCZOS)
    if small:
        out = out.filter(ImageFilter.UnsharpMask(radius=0.6, percent=60, threshold=0))
    a = out.getchannel("A").point(lambda v: 0 if v < 6 else v)
    out.putalpha(a)
    return no_colour_key(out)


def write_ico(path, images):
    """Writes a .ico whose frames are 32-bit BGRA DIBs with an AND mask."""
    blobs = []
    for im in images:
        im = im.convert("RGBA")
        w, h = im.size
        px = im.load()
        xor = bytearray()
        for y in range(h - 1, -1, -1):
            for x in range(w):
                r, g, b, a = px[x, y]
                xor += bytes((b, g, r, a))
        row_bytes = ((w + 31) // 32) * 4
        mask = bytearray()
        for y in range(h - 1, -1, -1):
            row = bytearray(row_bytes)
            for x in range(w):
                if px[x, y][3] == 0:
                    row[x // 8] |= 0x80 >> (x % 8)
            mask += row
        header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0,
                             len(xor) + len(mask), 0, 0, 0, 0)
        blobs.append((w, h, header + bytes(xor) + bytes(mask)))
    data = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for w, h, b in blobs:
        data += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(b), offset)
        offset += len(b)
    for _, _, b in blobs:
        data += b
    with open(path, "wb") as f:
        f.write(data)


# ---------------------------------------------------------------- updater


def make_background(logo):
    W, H = 810, 340
    bg = Image.new("RGBA", (W, H), (0, 0, 0, 255))
    paper = fbm((W, H), 21)
    grain = fbm((W, H), 22, octaves=((60, 0.5), (200, 0.5)))
    sky = vgrad((W, H), [(0, (196, 176, 150)), (0.45, (232, 220, 196)),
                         (0.8, (214, 198, 172)), (1, (200, 182, 156))])
    tex = paper.point(lambda v: 226 + v // 9)
    sky = ImageChops.multiply(sky, Image.merge("RGB", [tex] * 3))
    bg.paste(sky, (0, 0))
    # red sun with a soft halo
    paint(bg, (230, 120, 80), radial((W, H), 590, 92, 120, profile=lambda d: (1 - d) ** 2), 0.45)
    paint(bg, gradient_map(radial((W, H), 580, 80, 60),
                           [(0, (168, 28, 24)), (1, (226, 74, 46))]),
          radial((W, H), 590, 92, 40, profile=lambda d: 1.0 if d < 0.97 else
                 max(0.0, (1 - d) / 0.03)))
    # mountain layers, far to near, each dissolving into mist at its foot
    rng = random.Random(8)
    layers = [(170, 26, (150, 146, 148), 0.6, 60, [(120, 80, 60), (330, 50, 50), (470, 95, 70)]),
              (200, 24, (112, 104, 108), 0.75, 52, [(40, 60, 70), (250, 70, 55), (560, 60, 80)]),
              (232, 20, (70, 62, 66), 0.9, 40, [(170, 40, 80), (420, 30, 60), (660, 50, 60)]),
              (258, 12, (34, 28, 32), 1.0, 24, [(90, 20, 90), (330, 16, 70), (560, 22, 90)])]
    for base, rough, col, alpha, fade, pk in layers:
        hts = add_peaks(ridge(W, base, rough, rng), pk)
        m = mountain_mask((W, H), hts, soft=1.0)
        mist = vgrad((W, H), [(0, (255,)), ((base - 10) / H, (255,)),
                              (min(1.0, (base + fade) / H), (30,)), (1, (0,))], mode="L")
        mist = mul(mist, paper.point(lambda v: 150 + v * 105 // 255))
        rgb = gradient_map(grain, [(0, tuple(max(0, c - 22) for c in col)),
                                   (1, tuple(min(255, c + 14) for c in col))])
        paint(bg, rgb, mul(m, mist), alpha)
        # dry-brush texture strokes on the ridge
        brush = Mask((W, H), ss=2)
        for _ in range(5):
            x0 = rng.uniform(0, W - 200)
            x1 = x0 + rng.uniform(80, 220)
            pts = [(x, hts[min(W - 1, int(x))] + 1.5) for x in
                   [x0 + (x1 - x0) * i / 60 for i in range(61)]]
            dry_brush(brush, pts, 6, rng, bristles=14, dry=1.3, ragged=0.6)
        paint(bg, tuple(max(0, c - 40) for c in col), mul(brush.get(), mist), alpha * 0.6)
    # drifting mist bands between the ridges
    mist_m = Mask((W, H), ss=1)
    for cy, x0, x1, th in [(188, -40, 420, 10), (222, 250, 760, 12), (160, 380, 700, 7),
                           (250, -20, 300, 8)]:
        mist_m.poly(strip(bez((x0, cy), ((2 * x0 + x1) / 3, cy - 4), ((x0 + 2 * x1) / 3, cy + 5),
                              (x1, cy), 40), lambda t, th=th: th * math.sin(math.pi * t) + 0.5))
    mist_b = mul(mist_m.im.filter(ImageFilter.GaussianBlur(7)), paper.point(lambda v: 120 + v // 2))
    paint(bg, (236, 228, 210), mist_b, 0.75)
    # cliff and pine on the right
    cliff = Mask((W, H), ss=2)
    crng = random.Random(12)
    pts = [(810, 120), (780, 128), (752, 150), (736, 190), (722, 232), (712, 270),
           (700, 340), (810, 340)]
    cliff.poly([(x + crng.uniform(-3, 3), y + crng.uniform(-3, 3)) for x, y in pts])
    cm = cliff.get()
    paint(bg, gradient_map(grain, [(0, (18, 14, 16)), (1, (50, 42, 44))]), cm)
    cs = Mask((W, H), ss=2)
    dry_brush(cs, bez((760, 140), (740, 180), (728, 230), (716, 300), 60), 10, crng,
              bristles=20, dry=1.2, ragged=0.5)
    paint(bg, (110, 100, 100), mul(cs.get(), cm), 0.5)
    pine = Mask((W, H), ss=3)
    trunk = bpath((758, 144), [((740, 116), (712, 102), (684, 94))], n=30)
    pine.poly(strip(trunk, lambda t: 7 * (1 - t) + 2))
    for (px_, py_, r) in [(694, 84, 24), (722, 98, 18), (670, 98, 16), (742, 112, 12),
                          (706, 68, 15)]:
        pine.poly(blob(px_, py_, r, r * 0.38, crng, rough=0.25, n=30))
    paint(bg, (22, 20, 22), pine.get())
    # the swordsman from the launcher, tiny, on the cliff top facing the sun
    fb, fs, fbl, _ = draw_figure(SKIN_SIZE)
    fig = ImageChops.lighter(ImageChops.lighter(fb, fs), fbl).crop((0, 110, 480, 660))
    fh = 50
    fig = fig.resize((round(fig.width * fh / fig.height), fh), Image.LANCZOS)
    fig = fig.transpose(Image.FLIP_LEFT_RIGHT)
    layer = Image.new("L", (W, H), 0)
    layer.paste(fig, (800 - fig.width, 128 - fh + 6))
    paint(bg, (18, 14, 16), layer)
    # birds
    birds = Mask((W, H), ss=4)
    for bx, by, bs in [(420, 70, 6), (440, 62, 4), (452, 78, 4), (404, 84, 3)]:
        birds.poly(strip(bpath((bx - bs, by - bs * 0.4),
                               [((bx - bs * 0.5, by - bs * 0.5), (bx - bs * 0.2, by),
                                 (bx, by)),
                                ((bx + bs * 0.2, by), (bx + bs * 0.5, by - bs * 0.6),
                                 (bx + bs, by - bs * 0.5))], n=8),
                         lambda t: 0.3 + 1.2 * math.sin(math.pi * t)))
    paint(bg, (40, 30, 30), birds.get())
    # title logo, small, top-left
    lw = 170
    small_logo = logo.resize((lw, round(logo.height * lw / logo.width)), Image.LANCZOS)
    bg.alpha_composite(small_logo, (6, 0))
    # dark band at the bottom for the progress bar and the status text
    band = vgrad((W, H), [(0, (0,)), (250 / H, (0,)), (272 / H, (235,)), (1, (250,))],
                 mode="L")
    paint(bg, gradient_map(grain, [(0, (14, 10, 10)), (1, (30, 22, 22))]), band)
    d = ImageDraw.Draw(bg)
    d.line([(0, 273), (W, 273)], fill=(150, 106, 56, 255))
    d.line([(0, 274), (W, 274)], fill=(60, 38, 20, 255))
    # progress trough
    d.rectangle([4, 279, 805, 297], fill=(6, 4, 4, 255))
    d.rectangle([5, 280, 804, 296], fill=(30, 24, 22, 255))
    d.line([(5, 297), (805, 297)], fill=(90, 66, 40, 255))
    # soft vignette
    vig = radial((W, H), W / 2, H / 2 - 40, W * 0.72, H * 0.95,
                 profile=lambda d: 0.0 if d < 0.7 else min(1.0, (d - 0.7) / 0.3) * 0.6)
    paint(bg, (0, 0, 0), vig)
    return no_colour_key(bg).convert("RGB")


def make_small():
    return emblem(37, "login").convert("RGBA")


# ---------------------------------------------------------------- checks


def png_info(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit(f"{path}: not a PNG")
    pos = 8
    chunks = {}
    while pos < len(data):
        ln, typ = struct.unpack(">I4s", data[pos:pos + 8])
        chunks.setdefault(typ.decode("latin-1"), data[pos + 8:pos + 8 + ln])
        pos += 12 + ln
    w, h, depth, ctype = struct.unpack(">IIBB", chunks["IHDR"][:10])
    return w, h, depth, ctype, chunks


def check(cond, what):
    if not cond:
        print("artwork check FAILED:", what, file=sys.stderr)
        raise SystemExit(1)


def verify():
    lr = LAUNCHER_RES
    w, h, depth, ctype, chunks = png_info(os.path.join(lr, "skin.png"))
    check((w, h) == SKIN_SIZE, f"skin.png size {w}x{h}")
    check(ctype == 3 and depth == 8, f"skin.png colour type {ctype} depth {depth}")
    trns = chunks.get("tRNS", b"")
    check(any(0 < v < 255 for v in trns), "skin.png tRNS has no partial alpha")
    skin = Image.open(os.path.join(lr, "skin.png")).convert("RGBA")
    for c in [(0, 0), (w - 1, 0), (0, h - 1), (w - 1, h - 1)]:
        check(skin.getpixel(c)[3] == 0, f"skin.png corner {c} not transparent")
    x0, y0, x1, y1 = BROWSER
    region = skin.crop((x0, y0, x1 + 1, y1 + 1))
    for (r, g, b, a) in set(region.getdata()):
        check(a == 255 and max(r, g, b) - min(r, g, b) <= 6 and 40 <= r <= 200,
              f"skin.png browser area pixel {(r, g, b, a)} is not opaque grey")
    w, h, depth, ctype, _ = png_info(os.path.join(lr, "logo.png"))
    check((w, h) == LOGO_SIZE and ctype == 6 and depth == 8,
          f"logo.png {w}x{h} colour type {ctype}")
    la = Image.open(os.path.join(lr, "logo.png")).getchannel("A")
    check(any(0 < v < 255 for v in set(la.getdata())), "logo.png has no soft alpha")
    for name, (_, _, bw, bh) in BUTTONS.items():
        p = os.path.join(lr, name)
        w, h, _, _, _ = png_info(p)
        check((w, h) == (bw, bh), f"{name} size {w}x{h}")
    for p in [os.path.join(lr, n) for n in list(BUTTONS) + ["skin.png", "logo.png"]]:
        im = Image.open(p).convert("RGBA")
        check(not any(px[:3] == COLOUR_KEY and px[3] > 0 for px in im.getdata()),
              f"{p} contains the colour key")
    with open(os.path.join(UPDATER_RES, "background.jpg"), "rb") as f:
        jpg = f.read()
    check(jpg[:2] == b"\xff\xd8", "background.jpg is not a JPEG")
    pos, sof = 2, None
    while pos < len(jpg):
        if jpg[pos] != 0xFF:
            break
        marker = jpg[pos + 1]
        ln = struct.unpack(">H", jpg[pos + 2:pos + 4])[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            sof = (marker,) + struct.unpack(">BHH", jpg[pos + 4:pos + 9])
            break
        pos += 2 + ln
    check(sof is not None and sof[0] == 0xC0, f"background.jpg is not baseline ({sof})")
    check((sof[3], sof[2]) == (810, 340), f"background.jpg size {sof[3]}x{sof[2]}")
    with open(os.path.join(UPDATER_RES, "small.bmp"), "rb") as f:
        bmp = f.read()
    check(bmp[:2] == b"BM", "small.bmp is not a BMP")
    bw, bh, _, bits = struct.unpack("<iiHH", bmp[18:30])
    check((bw, abs(bh), bits) == (37, 37, 24), f"small.bmp {bw}x{bh} {bits} bit")
    for p in [os.path.join(lr, "qalLogin.ico"), os.path.join(UPDATER_RES, "qalUpdate.ico")]:
        with open(p, "rb") as f:
            ico = f.read()
        res, typ, count = struct.unpack("<HHH", ico[:6])
        check((res, typ, count) == (0, 1, 4), f"{p} header {res},{typ},{count}")
        sizes = []
        for i in range(count):
            w, h, _, _, planes, bits, ln, off = struct.unpack(
                "<BBBBHHII", ico[6 + 16 * i:22 + 16 * i])
            hdr = struct.unpack("<IiiHHI", ico[off:off + 20])
            row = ((w + 31) // 32) * 4
            check(bits == 32 and hdr[0] == 40 and hdr[1] == w and hdr[2] == 2 * h
                  and hdr[4] == 32 and hdr[5] == 0, f"{p} frame {i} is not a 32-bit DIB")
            check(ln == 40 + w * h * 4 + row * h and off + ln <= len(ico),
                  f"{p} frame {i} has a wrong length")
            sizes.append(w)
        check(sizes == [16, 32, 48, 128], f"{p} sizes {sizes}")
    print("artwork OK")


# ---------------------------------------------------------------- main


def main():
    os.makedirs(LAUNCHER_RES, exist_ok=True)
    os.makedirs(UPDATER_RES, exist_ok=True)
    logo = make_logo()
    logo.save(os.path.join(LAUNCHER_RES, "logo.png"))
    skin = make_skin(logo)
    skin_path = os.path.join(LAUNCHER_RES, "skin.png")
    quantise(skin, skin_path)
    quantised = Image.open(skin_path).convert("RGBA")
    for name, im in make_buttons(quantised).items():
        im.save(os.path.join(LAUNCHER_RES, name))
    write_ico(os.path.join(LAUNCHER_RES, "qalLogin.ico"),
              [emblem(n, "login") for n in (16, 32, 48, 128)])
    make_background(logo).save(os.path.join(UPDATER_RES, "background.jpg"),
                               quality=90, optimize=True, progressive=False)
    small = Image.new("RGB", (37, 37), (20, 10, 10))
    small.paste(make_small(), (0, 0), make_small())
    small.save(os.path.join(UPDATER_RES, "small.bmp"))
    write_ico(os.path.join(UPDATER_RES, "qalUpdate.ico"),
              [emblem(n, "update") for n in (16, 32, 48, 128)])
    verify()


if __name__ == "__main__":
    main()
