#!/usr/bin/python3
# The brush filters written out once more from their formulas, plainly, in Python doubles (the
# same IEEE arithmetic the player uses), for the expected pictures of the filter-* folders. Each
# folder's make_expected.py imports this file, loads the fixture picture with Pillow and saves
# what the filters should make of it. Pictures are lists of rows of [r, g, b] lists; an alpha
# plane is a list of rows of bytes.
import math

SQ2PI = 2.5066282746310002


def load(path):
    from PIL import Image
    im = Image.open(path)
    rgba = im.convert('RGBA')
    w, h = im.size
    px = [[list(rgba.getpixel((x, y))[:3]) for x in range(w)] for y in range(h)]
    alpha = [[rgba.getpixel((x, y))[3] for x in range(w)] for y in range(h)]
    return px, alpha


def save(path, px, alpha=None):
    """As SaveBrush(id, file, -1, 1) writes it: with an alpha channel, invisible pixels white."""
    from PIL import Image
    h, w = len(px), len(px[0])
    im = Image.new('RGBA' if alpha else 'RGB', (w, h))
    for y in range(h):
        for x in range(w):
            c = tuple(px[y][x])
            if alpha:
                c = (255, 255, 255, 0) if alpha[y][x] == 0 else c + (alpha[y][x],)
            im.putpixel((x, y), c)
    im.save(path)


def copy(px):
    return [[list(p) for p in row] for row in px]


def limit(v):
    if v <= 0:
        return 0
    if v >= 255:
        return 255
    return int(v)


def intensity(r, g, b):
    s = 0.587 * g
    s += 0.299 * r
    s += 0.114 * b
    return s


# ----- kernel widths and kernels


def width_1d(radius, sigma):
    if radius > 0:
        return 2 * math.ceil(radius) + 1
    if abs(sigma) <= 1e-10:
        return 1
    width = 5
    while True:
        h = width // 2
        n = 0.0
        for u in range(-h, h + 1):
            n += math.exp(-(u * u) / (2.0 * sigma * sigma)) / (SQ2PI * sigma)
        e = math.exp(-(h * h) / (2.0 * sigma * sigma)) / (SQ2PI * sigma)
        if math.trunc(255.0 * e / n) < 1:
            return width - 2
        width += 2


def width_2d(radius, sigma):
    if radius > 0:
        return 2 * math.ceil(radius) + 1
    width = 5
    while True:
        h = width // 2
        n = 0.0
        for v in range(-h, h + 1):
            for u in range(-h, h + 1):
                n += math.exp(-(u * u + v * v) / (2.0 * sigma * sigma)) / (2.0 * math.pi * sigma * sigma)
        e = math.exp(-(h * h) / (2.0 * sigma * sigma)) / (SQ2PI * sigma)
        if e / n < 0.00392156862745098:
            return width - 2
        width += 2


def blur_kernel(w, s):
    k = [0.0] * w
    bias = 3 * w // 2
    for i in range(-bias, bias + 1):
        k[(i + bias) // 3] += math.exp(-(i * i) / (18.0 * s * s)) / (SQ2PI * s)
    total = 0.0
    for v in k:
        total += v
    return [v / total for v in k]


def square_kernel(mode, w, sigma):
    r = w // 2
    if abs(sigma) <= 1e-10:
        sigma = 1.0
    den = 2.0 * math.pi * sigma * sigma
    k = []
    for v in range(-r, r + 1):
        for u in range(-r, r + 1):
            g = math.exp(-(u * u + v * v) / (2.0 * sigma * sigma))
            if mode == 'e':
                k.append((8.0 if u >= 0 and v >= 0 else -8.0) * g / den if u == -v else 0.0)
            elif mode == 'g':
                k.append(-1.0)
            else:
                k.append(-g / den)
    c = r * w + r
    if mode == 'g':
        k[c] = float(w * w - 1)
    if mode == 's':
        total = 0.0
        for v in k:
            total += v
        k[c] = -2.0 * total
    total = 0.0
    for v in k:
        total += v
    scale = 1.0 if abs(total) < 1e-10 else 1.0 / total
    return [v * scale for v in k]


# ----- convolution over edge-extended planes (a plane: rows of numbers)


def at(plane, x, y):
    h, w = len(plane), len(plane[0])
    return plane[min(max(y, 0), h - 1)][min(max(x, 0), w - 1)]


def blur_plane(plane, k):
    w = len(k)
    half = w // 2
    hh, ww = len(plane), len(plane[0])
    rows = []
    for y in range(hh):
        row = []
        for x in range(ww):
            s = 0.0
            for i in range(w):
                s += k[i] * at(plane, x - half + i, y)
            row.append(limit(s))
        rows.append(row)
    out = []
    for y in range(hh):
        row = []
        for x in range(ww):
            s = 0.0
            for i in range(w):
                s += k[i] * at(rows, x, y - half + i)
            row.append(limit(s))
        out.append(row)
    return out


def square_plane(plane, k, w):
    half = w // 2
    out = []
    for y in range(len(plane)):
        row = []
        for x in range(len(plane[0])):
            s = 0.0
            for v in range(w):
                for u in range(w):
                    s += k[v * w + u] * at(plane, x - half + u, y - half + v)
            row.append(limit(s))
        out.append(row)
    return out


def channel(px, c):
    return [[p[c] for p in row] for row in px]


def join(r, g, b):
    return [[[r[y][x], g[y][x], b[y][x]] for x in range(len(r[0]))] for y in range(len(r))]


def convolve(mode, px, alpha, radius, sigma):
    """ConvolveBitMap: returns (pixels, alpha)."""
    if radius < 0:
        radius = 0.0
    if radius == 0:
        sigma = 1.0
    hh, ww = len(px), len(px[0])
    if mode == 'b':
        sigma = abs(sigma)
        if sigma < 1e-10:
            return px, alpha
        k = blur_kernel(width_1d(radius, sigma), sigma)
        f = lambda plane: blur_plane(plane, k)
    else:
        w = width_1d(radius, 0.5) if mode == 'g' else width_2d(radius, sigma)
        if w % 2 == 0 or w > ww or w > hh:
            return px, alpha
        k = square_kernel(mode, w, sigma)
        f = lambda plane: square_plane(plane, k, w)
    out = join(*(f(channel(px, c)) for c in range(3)))
    return out, (f(alpha) if alpha else None)


# ----- per-pixel filters


def solarize(px, t):
    return [[[255 - c if c > t else c for c in p] for p in row] for row in px]


def gamma_table(g):
    if g < 0:
        g = 0.0
    if g == 0:
        return [0] * 256
    return [limit(math.trunc(255.0 * math.pow(i / 255.0, 1.0 / g) + 0.5)) for i in range(256)]


def gamma(px, gr, gg, gb):
    tables = [gamma_table(g) if g != 1.0 else list(range(256)) for g in (gr, gg, gb)]
    return [[[tables[c][p[c]] for c in range(3)] for p in row] for row in px]


def contrast_pixel(p, sign):
    r, g, b = p
    mx, mn = max(p), min(p)
    hue = sat = 0.0
    if mx != 0:
        delta = float(mx - mn)
        sat = delta / mx
        if delta != 0:
            if r == mx:
                hue = (g - b) / delta
            elif g == mx:
                hue = 2.0 + (b - r) / delta
            else:
                hue = 4.0 + (r - g) / delta
            hue /= 6.0
            if hue < 0:
                hue += 1.0
    br = mx / 255.0
    br += 0.5 * sign * (0.5 * (math.sin(math.pi * (br - 0.5)) + 1.0) - br)
    br = min(max(br, 0.0), 1.0)
    if sat == 0.0:
        v = limit(br * 255.0)
        return [v, v, v]
    h6 = 6.0 * (hue - math.floor(hue))
    f = h6 - math.floor(h6)
    pp = br * (1.0 - sat)
    q = br * (1.0 - sat * f)
    t = br * (1.0 - sat * (1.0 - f))
    i = int(math.floor(h6))
    trip = [(br, t, pp), (q, br, pp), (pp, br, t), (pp, q, br), (t, pp, br), (br, pp, q)][min(i, 5)]
    return [limit(c * 255.0) for c in trip]


def contrast(px, sharpen, times=1):
    for _ in range(times):
        px = [[contrast_pixel(p, 1 if sharpen else -1) for p in row] for row in px]
    return px


def hue_to_channel(m1, m2, h):
    if h < 0:
        h += 1.0
    if h > 1:
        h -= 1.0
    if 6.0 * h < 1.0:
        return m1 + (m2 - m1) * 6.0 * h
    if 2.0 * h < 1.0:
        return m2
    if 3.0 * h < 2.0:
        return m1 + (m2 - m1) * (2.0 / 3.0 - h) * 6.0
    return m1


def modulate(px, bright, sat, hue):
    bp, sp, hp = int(bright * 100), int(sat * 100), int(hue * 100)
    out = []
    for row in px:
        orow = []
        for p in row:
            r, g, b = (c / 255.0 for c in p)
            mx, mn = max(r, g, b), min(r, g, b)
            l = (mx + mn) / 2.0
            s = h = 0.0
            if mx != mn:
                d = mx - mn
                s = d / (mx + mn) if l <= 0.5 else d / (2.0 - mx - mn)
                if r == mx:
                    h = (g - b) / d
                elif g == mx:
                    h = 2.0 + (b - r) / d
                else:
                    h = 4.0 + (r - g) / d
                h /= 6.0
                if h < 0:
                    h += 1.0
            h += 0.5 * (0.01 * hp - 1.0)
            if h < 0:
                h += 1.0
            if h > 1:
                h -= 1.0
            s *= 0.01 * sp
            l *= 0.01 * bp
            if s == 0.0:
                v = limit(l * 255.0)
                orow.append([v, v, v])
                continue
            m2 = l * (1.0 + s) if l <= 0.5 else l + s - l * s
            m1 = 2.0 * l - m2
            orow.append([limit(hue_to_channel(m1, m2, h + 1.0 / 3.0) * 255.0),
                         limit(hue_to_channel(m1, m2, h) * 255.0),
                         limit(hue_to_channel(m1, m2, h - 1.0 / 3.0) * 255.0)])
        out.append(orow)
    return out


def normalize(px, low_count, high_count):
    hist = [0] * 256
    for row in px:
        for r, g, b in row:
            hist[int(intensity(r, g, b))] += 1
    total = len(px) * len(px[0])
    low = high = None
    run = 0
    for lv in range(256):
        run += hist[lv]
        if run > low_count:
            low = lv
            break
    run = 0
    for lv in range(255, -1, -1):
        run += hist[lv]
        if run > total - high_count:
            high = lv
            break
    if low is None or high is None or low == high:
        return px
    m = [0 if v < low else 255 if v > high else (v - low) * 255 // (high - low) for v in range(256)]
    return [[[m[c] for c in p] for p in row] for row in px]


def stretch(px):
    n = len(px) * len(px[0])
    return normalize(px, int(0.02 * n), int(0.99 * n))


def sepia(px, t):
    t = float(min(max(t, 0), 255))
    out = []
    for row in px:
        orow = []
        for r, g, b in row:
            i = intensity(r, g, b)
            red = 255.0 if i > t else i + 255.0 - t
            green = 255.0 if i > 7.0 * t / 6.0 else i + 255.0 - 7.0 * t / 6.0
            blue = 0.0 if i < t / 6.0 else i - t / 6.0
            green = max(green, t / 7.0)
            blue = max(blue, t / 7.0)
            orow.append([limit(red), limit(green), limit(blue)])
        out.append(orow)
    return contrast(stretch(out), True)


def gray(px, mono=False):
    out = []
    for row in px:
        orow = []
        for r, g, b in row:
            v = int(intensity(r, g, b))
            if mono:
                v = 0 if v < 129 else 255
            orow.append([v, v, v])
        out.append(orow)
    return out


def invert(px):
    return [[[255 - c for c in p] for p in row] for row in px]


def charcoal(px, alpha, radius, sigma=1.0):
    px = gray(px)
    px, alpha = convolve('g', px, alpha, radius, 0.0)
    px, alpha = convolve('b', px, alpha, radius, sigma)
    return gray(invert(stretch(px))), alpha


def oil_paint(px, radius):
    w = width_2d(radius, 0.5)
    half = w // 2
    out = []
    for y in range(len(px)):
        orow = []
        for x in range(len(px[0])):
            counts = [0] * 256
            best, chosen = 0, None
            for v in range(w):
                for u in range(w):
                    p = at(px, x - half + u, y - half + v)
                    b = int(intensity(*p))
                    counts[b] += 1
                    if counts[b] > best:
                        best, chosen = counts[b], p
            orow.append(list(chosen))
        out.append(orow)
    return out


def shadow_alpha(shape, radius, sigma, value, hard, second):
    """BuildShadowAlpha over a shape (rows of booleans); returns the alpha rows."""
    r = int(max(radius, 0.0))
    h, w = len(shape), len(shape[0])
    plane = [[0] * (w + 2 * r) for _ in range(h + 2 * r)]
    for y in range(h):
        for x in range(w):
            if shape[y][x]:
                plane[r + y][r + x] = value
    px = [[[0, 0, 0] for _ in row] for row in plane]
    _, plane = convolve('b', px, plane, radius, sigma)
    if hard:
        plane = [[255 if v else 0 for v in row] for row in plane]
        if second:
            _, plane = convolve('b', px, plane, radius * 0.5, radius * 0.5 / 3.0)
    return plane
