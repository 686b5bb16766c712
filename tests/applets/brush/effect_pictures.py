#!/usr/bin/python3
# Makes the input and expected pictures of the effect-* and distort-* applet folders beside this
# file, independently of the player: a plain transcription of the swirl, ripple and pixelate
# formulas and of the distortions (coefficients, box, nearest sampling, and the EWA sampler for
# the smooth folder), written with Pillow. The perspective's coefficients are solved exactly
# with fractions. Run it here after changing a figure of a folder's main.qvs.
import ctypes
import ctypes.util
import math
import os
from fractions import Fraction

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 48, 32
KEY = (0, 255, 0)  # the transparent colour of the mask brushes
MASK_OUT = (255, 0, 255)  # what SaveBrush writes where the mask is clear
TWO_PI = 2 * math.pi
DEG = math.pi / 180.0

libm = ctypes.CDLL(ctypes.util.find_library('m'))
libm.hypot.restype = ctypes.c_double
libm.hypot.argtypes = [ctypes.c_double, ctypes.c_double]


def hypot(a, b):  # the C library's, as the player calls it
    return libm.hypot(a, b)


def round_half_away(v):
    a = abs(v)
    f = math.floor(a)
    r = f + 1 if a - f >= 0.5 else f
    return math.copysign(r, v)


# ------------------------------------------------------------------------------------------------
# Pictures: a dict with w, h, px (rows of (r, g, b)), and optionally mask (rows of bools) or alpha
# (rows of ints).

def input_picture():
    px = []
    for y in range(H):
        row = []
        for x in range(W):
            if ((x // 6) + (y // 5)) % 4 == 0:
                row.append(KEY)
            else:
                row.append(((x * 5 + y * 3) & 255 | 1, (x * y * 7) & 255, (255 - x * 4 + y * 2) & 255))
        px.append(row)
    return px


def input_alpha():
    return [[0 if (x + y) % 7 == 0 else (x * 11 + y * 5) & 255 for x in range(W)] for y in range(H)]


def picture(kind):
    p = {'w': W, 'h': H, 'px': input_picture()}
    if kind == 'mask':
        p['mask'] = [[p['px'][y][x] != KEY for x in range(W)] for y in range(H)]
    if kind == 'alpha':
        p['alpha'] = input_alpha()
    return p


def save(p, path):
    w, h = p['w'], p['h']
    if 'alpha' in p:
        im = Image.new('RGBA', (w, h))
        for y in range(h):
            for x in range(w):
                im.putpixel((x, y), p['px'][y][x] + (p['alpha'][y][x],))
    else:
        im = Image.new('RGB', (w, h))
        for y in range(h):
            for x in range(w):
                shown = p['mask'][y][x] if 'mask' in p else True
                im.putpixel((x, y), p['px'][y][x] if shown else MASK_OUT)
    im.save(path)


def carry(p, source_of):
    """A still effect: every pixel, mask bit and alpha byte from source_of(x, y)."""
    q = {'w': p['w'], 'h': p['h'], 'px': [], }
    if 'mask' in p:
        q['mask'] = []
    if 'alpha' in p:
        q['alpha'] = []
    for y in range(p['h']):
        row, mrow, arow = [], [], []
        for x in range(p['w']):
            sx, sy = source_of(x, y)
            row.append(p['px'][sy][sx])
            if 'mask' in p:
                mrow.append(p['mask'][sy][sx])
            if 'alpha' in p:
                arow.append(p['alpha'][sy][sx])
        q['px'].append(row)
        if 'mask' in p:
            q['mask'].append(mrow)
        if 'alpha' in p:
            q['alpha'].append(arow)
    return q


def hold(v, size):
    if not v >= 0:
        return 0
    if v >= size - 1:
        return size - 1
    return int(v)


def table_index(v):
    k = v / 0.001
    if not k >= 0:
        return 0
    if k >= 6299:
        return 6299
    return int(k)


SINE = [math.sin(k * 0.001) for k in range(6300)]
COSINE = [math.cos(k * 0.001) for k in range(6300)]


# ------------------------------------------------------------------------------------------------
# Swirl, ripple, pixelate.

def swirl(p, angle):
    angle = max(-359, min(359, angle))
    w, h = p['w'], p['h']
    cx, cy = w / 2.0, h / 2.0
    radius = max(cx, cy)
    scale_x, scale_y = (1.0, w / h) if h < w else (h / w, 1.0)

    def source_of(x, y):
        dy = (y - cy) * scale_y
        dx = (x - cx) * scale_x
        d2 = dx * dx + dy * dy
        if not (d2 < radius * radius and angle != 0):
            return x, y
        d = math.isqrt(int(d2))
        f = 1.0 - d / radius
        t = angle * 0.017453292519943295 * f * f
        if angle >= 0:
            k = table_index(t)
            s, c = SINE[k], COSINE[k]
        else:
            s, c = math.sin(t), math.cos(t)
        if s == 0.0 and c == 1.0:
            return x, y
        return hold((c * dx - s * dy) / scale_x + cx, w), hold((s * dx + c * dy) / scale_y + cy, h)
    return carry(p, source_of)


def ripple(p, wavelength=32.0, amplitude=1.0, phase=0.0, fx=0.5, fy=0.5):
    w, h = p['w'], p['h']
    wavelength = wavelength if wavelength >= 1 else 1.0
    frac = lambda f: min(f, 1.0) if f >= 0 else 0.0
    centre_x, centre_y = int(w * frac(fx)), int(h * frac(fy))
    radius = max(centre_x, centre_y)

    def source_of(x, y):
        if radius <= 0:
            return x, y
        d = math.isqrt((x - centre_x) ** 2 + (y - centre_y) ** 2)
        angle = math.fmod(d / wavelength * TWO_PI - phase, TWO_PI)
        if angle < 0:
            angle += TWO_PI
        k = (float(radius) - d) / radius * SINE[table_index(angle)] * amplitude
        if d != 0:
            k *= wavelength / d
        return hold((x - centre_x) * k + x, w), hold((y - centre_y) * k + y, h)
    return carry(p, source_of)


def pixelate(p, size):
    w, h = p['w'], p['h']
    if size < 2:
        return p
    b = min(w, h, size)
    q = {k: [list(r) for r in v] if isinstance(v, list) else v for k, v in p.items()}
    for by in range(0, h, b):
        for bx in range(0, w, b):
            fill = True
            if 'mask' in p:
                fill = p['mask'][by][bx]
                for y in range(by, min(by + b, h)):
                    for x in range(bx, min(bx + b, w)):
                        q['mask'][y][x] = fill
            elif 'alpha' in p:
                a = p['alpha'][by][bx]
                fill = a != 0
                for y in range(by, min(by + b, h)):
                    for x in range(bx, min(bx + b, w)):
                        q['alpha'][y][x] = a
            if fill:
                for y in range(by, min(by + b, h)):
                    for x in range(bx, min(bx + b, w)):
                        q['px'][y][x] = p['px'][by][bx]
    return q


# ------------------------------------------------------------------------------------------------
# Distortion.

def perspective_coefficients(w, h, to):
    """c0..c7 by least squares, solved exactly; c8 the sign at the first point."""
    frm = [(0, 0), (w, 0), (w, h), (0, h)]
    m = [[Fraction(0)] * 8 for _ in range(8)]
    v = [Fraction(0)] * 8
    for (u, vv), (x, y) in zip(frm, to):
        x, y, u, vv = Fraction(x), Fraction(y), Fraction(u), Fraction(vv)
        for t, val in (([x, y, 1, 0, 0, 0, -x * u, -y * u], u), ([0, 0, 0, x, y, 1, -x * vv, -y * vv], vv)):
            for i in range(8):
                for j in range(8):
                    m[i][j] += t[i] * t[j]
                v[i] += t[i] * val
    # Gauss-Jordan over fractions (any pivot that is not zero is exact).
    n = 8
    for k in range(n):
        piv = next((i for i in range(k, n) if m[i][k] != 0), None)
        if piv is None:
            return None
        m[k], m[piv] = m[piv], m[k]
        v[k], v[piv] = v[piv], v[k]
        pk = m[k][k]
        m[k] = [e / pk for e in m[k]]
        v[k] /= pk
        for i in range(n):
            if i != k and m[i][k] != 0:
                f = m[i][k]
                m[i] = [a - f * b for a, b in zip(m[i], m[k])]
                v[i] -= f * v[k]
    c = [float(e) for e in v]
    r = c[6] * to[0][0] + c[7] * to[0][1] + 1.0
    c.append(-1.0 if r < 0 else 1.0)
    return c


class Distortion:
    def __init__(self, p, mode, values):
        self.p = p
        w, h = p['w'], p['h']
        n = len(values)
        a = values
        c = [0.0] * 10
        box = None
        self.mode = mode
        if mode == 'perspective':
            to = [(a[0], a[1]), (a[2], a[3]), (a[4], a[5]), (a[6], a[7])]
            c = perspective_coefficients(w, h, to)
            det = 1.0 / (c[0] * c[4] - c[1] * c[3])
            inv = [det * (c[4] - c[5] * c[7]), det * (c[2] * c[7] - c[1]), det * (c[1] * c[5] - c[2] * c[4]),
                   det * (c[5] * c[6] - c[3]), det * (c[0] - c[2] * c[6]), det * (c[2] * c[3] - c[0] * c[5]),
                   det * (c[3] * c[7] - c[4] * c[6]), det * (c[1] * c[6] - c[0] * c[7])]
            box = []
            for x in (0.0, float(w)):
                for y in (0.0, float(h)):
                    d = inv[6] * x + inv[7] * y + 1
                    if abs(d) < 1e-6:
                        d = 1
                    box.append(((inv[0] * x + inv[1] * y + inv[2]) / d, (inv[3] * x + inv[4] * y + inv[5]) / d))
        elif mode == 'arc':
            c[0] = -math.pi / 2
            if n >= 2:
                c[0] += a[1] * DEG
            c[1] = a[0] * DEG if n >= 1 else math.pi / 2
            c[0] -= TWO_PI * round_half_away(c[0] / TWO_PI)
            c[3] = h - 1
            c[2] = w / c[1] + c[3] / 2
            if n == 3:
                c[3] = c[3] * a[2] / c[2]
                c[2] = a[2]
            elif n == 4:
                c[3] = a[2] - a[3]
                c[2] = a[2]
            c[4] = (w - 1) / 2
            frm, to = c[0] - c[1] / 2, c[0] + c[1] / 2
            box = []
            for ang in (frm, to):
                box.append((c[2] * math.cos(ang), c[2] * math.sin(ang)))
                box.append(((c[2] - c[3]) * math.cos(ang), (c[2] - c[3]) * math.sin(ang)))
            ang = math.ceil(frm / (math.pi / 2)) * (math.pi / 2)
            q = 0
            while q < 4 and ang < to:
                box.append((c[2] * math.cos(ang), c[2] * math.sin(ang)))
                ang += math.pi / 2
                q += 1
            c[1] = TWO_PI * w / c[1]
            c[3] = h / c[3]
        elif mode == 'polar':
            c[0] = a[0] if n >= 1 else 0.0
            c[1] = a[1] if n >= 2 else 0.0
            c[2] = a[2] if n >= 4 else w / 2
            c[3] = a[3] if n >= 4 else h / 2
            c[4] = a[4] * DEG if n >= 5 else -math.pi
            c[5] = a[5] * DEG if n >= 6 else c[4]
            if abs(c[4] - c[5]) < 1e-6:
                c[5] += TWO_PI
            if abs(c[0]) < 1e-6:
                c[0] = min(abs(c[2]), abs(c[3]), abs(c[2] - w), abs(c[3] - h))
            elif abs(c[0] + 1) < 1e-6:
                c[0] = max(hypot(c[2] - cx, c[3] - cy) for cx in (0.0, w) for cy in (0.0, h))
            c[6] = w / (c[5] - c[4])
            c[7] = h / (c[0] - c[1])
            if n < 2:
                c[2] = c[3] = 0.0
            box = [(c[2] - c[0], c[3] - c[0]), (c[2] + c[0], c[3] + c[0])]
            c[7] = h / (c[0] - c[1])
        elif mode == 'barrel':
            s = 2 / min(w, h)

            def poly(v):
                return [v[0] * s * s * s, v[1] * s * s, v[2] * s, v[3]]
            c = poly(a[0:4]) + poly(a[4:8] if n >= 8 else a[0:4]) + [(w - 1) / 2, (h - 1) / 2]
            if n == 6:
                c[8], c[9] = a[4], a[5]
            if n == 10:
                c[8], c[9] = a[8], a[9]
        self.c = c
        if box is None:
            self.out_x = self.out_y = 0
            self.out_w, self.out_h = w, h
        else:
            xs = [b[0] for b in box]
            ys = [b[1] for b in box]
            self.out_x = math.floor(min(xs) - 0.5)
            self.out_y = math.floor(min(ys) - 0.5)
            self.out_w = math.ceil(max(xs) - self.out_x + 0.5)
            self.out_h = math.ceil(max(ys) - self.out_y + 0.5)

    def map(self, X, Y):
        """(validity, sx, sy, dux, duy, dvx, dvy)"""
        c = self.c
        w = self.p['w']
        if self.mode == 'perspective':
            p = c[0] * X + c[1] * Y + c[2]
            q = c[3] * X + c[4] * Y + c[5]
            r = c[6] * X + c[7] * Y + 1
            valid = 0 if r * c[8] < 0 else 1
            if abs(c[6]) > abs(c[7]):
                if 2 * abs(r) < abs(c[6]):
                    valid = 0.5 - c[8] * r / c[6]
            elif 2 * abs(r) < abs(c[7]):
                valid = 0.5 - c[8] * r / c[7]
            if not valid > 0:
                return (valid, 0, 0, 0, 0, 0, 0)
            r2 = r * r
            return (valid, p / r - 0.5, q / r - 0.5, (r * c[0] - p * c[6]) / r2, (r * c[1] - p * c[7]) / r2,
                    (r * c[3] - q * c[6]) / r2, (r * c[4] - q * c[7]) / r2)
        if self.mode == 'arc':
            t = (math.atan2(Y, X) - c[0]) / TWO_PI
            t -= round_half_away(t)
            R = hypot(X, Y)
            dux = c[1] / (TWO_PI * R) if R > 1e-6 else 2.0 * self.out_w
            return (1, c[1] * t + c[4], (c[2] - R) * c[3] - 0.5, dux, 0, 0, c[3])
        if self.mode == 'polar':
            ex, ey = X - c[2], Y - c[3]
            t = (math.atan2(ex, ey) - (c[4] + c[5]) / 2) / TWO_PI
            t -= round_half_away(t)
            R = hypot(ex, ey)
            dux = c[6] / (TWO_PI * R) if R > 1e-6 else 2.0 * self.out_w
            return (1, TWO_PI * t * c[6] + w / 2 - 0.5, (R - c[1]) * c[7] - 0.5, dux, 0, 0, c[7])
        ex, ey = X - c[8], Y - c[9]
        R = math.sqrt(ex * ex + ey * ey)
        if R > 1e-6:
            fx = ((c[0] * R + c[1]) * R + c[2]) * R + c[3]
            fy = ((c[4] * R + c[5]) * R + c[6]) * R + c[7]
            gx = ((3 * c[0] * R + 2 * c[1]) * R + c[2]) / R
            gy = ((3 * c[4] * R + 2 * c[5]) * R + c[6]) / R
            return (1, ex * fx + c[8] - 0.5, ey * fy + c[9] - 0.5, gx * ex * ex + fx, gx * ex * ey,
                    gy * ex * ey, gy * ey * ey + fy)
        return (1, c[8] - 0.5, c[9] - 0.5, c[3], 0, 0, c[7])

    # -- sampling ---------------------------------------------------------------------------------
    def read(self, x, y):
        p = self.p
        if x < 0 or y < 0 or x >= p['w'] or y >= p['h']:
            return None
        if 'mask' in p and not p['mask'][y][x]:
            return None
        a = p['alpha'][y][x] if 'alpha' in p else 255
        return p['px'][y][x] + (a,)

    def bilinear(self, u, v):
        w, h = self.p['w'], self.p['h']
        if not (u > -2 and u < w + 1.0 and v > -2 and v < h + 1.0):
            return (0.0, 0.0, 0.0, 0.0)
        x0, y0 = math.floor(u), math.floor(v)
        fx, fy = u - x0, v - y0
        q = [self.read(x0, y0), self.read(x0 + 1, y0), self.read(x0, y0 + 1), self.read(x0 + 1, y0 + 1)]
        q = [e if e is not None else (0, 0, 0, 0) for e in q]
        return tuple((q[0][k] * (1 - fx) + q[1][k] * fx) * (1 - fy) + (q[2][k] * (1 - fx) + q[3][k] * fx) * fy
                     for k in range(4))

    WEIGHTS = [math.exp(-k * math.log(2.0) / 256) for k in range(1024)]

    def smooth(self, sx, sy, dux, duy, dvx, dvy):
        """The colour and alpha, or None for the nearest path."""
        w, h = self.p['w'], self.p['h']
        e1 = dvx * dvx + dvy * dvy + 1
        e2 = -2 * (dux * dvx + duy * dvy)
        e3 = dux * dux + duy * duy + 1
        f = e1 * e3 - e2 * e2 / 4
        if not f > 4 or f > 1e6:
            return self.bilinear(sx, sy)
        v_ext = math.sqrt(e1) + 1
        h_ext = math.sqrt(e3) + 1
        half = math.sqrt(f / e1) + 1
        slope = -e2 / (2 * e1)
        if 20.0 * w * h < 4 * v_ext * half:
            return self.bilinear(sx, sy)
        e1, e2, e3 = e1 * (1024 / f), e2 * (1024 / f), e3 * (1024 / f)
        if sx + h_ext < 0 or sx - h_ext > w or sy + v_ext < 0 or sy - v_ext > h:
            return None
        first = int(math.trunc(sy - v_ext))
        last = int(math.trunc(sy + v_ext + 1))
        count = int(math.trunc(2 * half)) + 1
        u1 = sx + (first - sy) * slope - half
        sums = [0.0, 0.0, 0.0, 0.0]
        wsum = 0.0
        hits = 0
        for row in range(first, last):
            x0 = int(math.trunc(u1))
            U, V = x0 - sx, row - sy
            q = (e1 * U + e2 * V) * U + e3 * V * V
            dq = e1 * (2 * U + 1) + e2 * V
            for k in range(count):
                if q < 1024:
                    wt = self.WEIGHTS[int(q) if q > 0 else 0]
                    hits += 1
                    wsum += wt
                    s = self.read(x0 + k, row)
                    if s is not None:
                        for i in range(4):
                            sums[i] += wt * s[i]
                q += dq
                dq += 2 * e1
            u1 += slope
        if hits <= 3 or wsum < 1:
            return self.bilinear(sx, sy)

        def clamp(x):
            return 0 if x < 0 else 255 if x > 255 else math.trunc(x + 0.5)
        return tuple(clamp(s / wsum) for s in sums)

    def render(self, smooth=False):
        p = self.p
        w, h = p['w'], p['h']
        plane = 'mask' if 'mask' in p or ('alpha' not in p and not smooth) else 'alpha'
        q = {'w': self.out_w, 'h': self.out_h, 'px': [], plane: []}
        for j in range(self.out_h):
            Y = j + self.out_y + 0.5
            row, prow = [], []
            for i in range(self.out_w):
                X = i + self.out_x + 0.5
                valid, sx, sy, dux, duy, dvx, dvy = self.map(X, Y)
                colour, a = (0, 0, 0), 0
                if valid > 0 and math.isfinite(sx) and math.isfinite(sy):
                    got = self.smooth(sx, sy, dux, duy, dvx, dvy) if smooth else None
                    if got is None:
                        if sx > -1 and sx < w and sy > -1 and sy < h:
                            ix, iy = int(sx), int(sy)
                            colour = p['px'][iy][ix]
                            if plane == 'mask':
                                a = 255 if 'mask' not in p or p['mask'][iy][ix] else 0
                            else:
                                a = p['alpha'][iy][ix] if 'alpha' in p else 255
                    else:
                        rounded = [min(255, max(0, math.floor(e + 0.5))) for e in got]
                        colour, a = tuple(rounded[:3]), rounded[3]
                row.append(colour)
                prow.append(a != 0 if plane == 'mask' else a)
            q['px'].append(row)
            q[plane].append(prow)
        return q


def distort(p, mode, values, smooth=False):
    return Distortion(p, mode, values).render(smooth)


# ------------------------------------------------------------------------------------------------
# The folders.

def folder(name):
    path = os.path.join(HERE, name)
    os.makedirs(path, exist_ok=True)
    return lambda f: os.path.join(path, f)


def main():
    plain, masked, alphaed = picture('plain'), picture('mask'), picture('alpha')

    def write_inputs(at, with_alpha=True):
        save(plain, at('input.png'))
        if with_alpha:
            save(alphaed, at('inputa.png'))

    at = folder('effect-swirl')
    write_inputs(at)
    save(swirl(plain, 90), at('expected-swirl90.png'))
    save(swirl(plain, 0), at('expected-swirl0.png'))
    save(swirl(plain, 359), at('expected-swirl720.png'))
    save(swirl(plain, -135), at('expected-swirlneg.png'))
    save(swirl(alphaed, 200), at('expected-swirla.png'))
    save(swirl(masked, 120), at('expected-swirlm.png'))

    at = folder('effect-ripple')
    write_inputs(at)
    save(ripple(plain), at('expected-ripple.png'))
    save(ripple(plain, 8, 3, 1.5, 0.3, 0.6), at('expected-ripple2.png'))
    save(ripple(plain, 6, 4, -100, 0.5, 0.5), at('expected-ripplefar.png'))
    save(ripple(plain, 8, 5, 0, 0, 0), at('expected-ripple0.png'))
    save(ripple(alphaed, 5, 2.5, 0.5, 0.7, 0.2), at('expected-ripplea.png'))
    save(ripple(masked, 10, 2, 0, 0.5, 0.5), at('expected-ripplem.png'))

    at = folder('effect-pixelate')
    write_inputs(at)
    save(pixelate(plain, 5), at('expected-pix5.png'))
    save(pixelate(plain, 100), at('expected-pixband.png'))
    save(pixelate(plain, 1), at('expected-pix1.png'))
    save(pixelate(alphaed, 6), at('expected-pixa.png'))
    save(pixelate(masked, 4), at('expected-pixm.png'))

    at = folder('distort-perspective')
    write_inputs(at, False)
    save(distort(plain, 'perspective', [3.1, 2.3, 51.7, 9.9, 44.2, 37.3, 1.3, 30.6]),
         at('expected-persp.png'))
    save(distort(plain, 'perspective', [0.7, 0.3, 48.7, 0.3, 48.7, 32.3, 0.7, 32.3]),
         at('expected-shift.png'))
    perspm = distort(masked, 'perspective', [10.3, 0.4, 38.6, 0.2, 47.9, 31.8, 0.1, 31.7])
    save(perspm, at('expected-perspm.png'))
    save(perspm, at('expected-perspm2.png'))  # a singular system leaves the brush

    at = folder('distort-arc')
    write_inputs(at)
    arc60 = distort(plain, 'arc', [60])
    save(arc60, at('expected-arc60.png'))
    save(arc60, at('expected-arc60b.png'))  # arc angle 0 and top radius 0 leave the brush
    save(distort(plain, 'arc', [120, 30, 50, 20]), at('expected-arc4.png'))
    save(distort(alphaed, 'arc', [200, -45, 40]), at('expected-arca.png'))

    at = folder('distort-polar')
    write_inputs(at, False)
    save(distort(plain, 'polar', []), at('expected-polar.png'))
    save(distort(plain, 'polar', [30, 5]), at('expected-polar2.png'))
    save(distort(plain, 'polar', [-1, 0, 20, 12, 30, 300]), at('expected-polar6.png'))

    at = folder('distort-barrel')
    write_inputs(at, False)
    save(distort(plain, 'barrel', [0.2, 0.0, 0.0, 0.8]), at('expected-barrel.png'))
    save(distort(plain, 'barrel', [0.1, -0.2, 0.1, 1.0, 10, 20]), at('expected-barrel6.png'))
    save(distort(masked, 'barrel', [0.0, 0.1, 0.0, 0.9, -0.1, 0.0, 0.2, 0.9]),
         at('expected-barrel8.png'))

    at = folder('distort-smooth')
    write_inputs(at)
    save(distort(plain, 'barrel', [0.2, 0, 0, 0.8, 0.2, 0, 0, 0.8, 23.5, 15.5], True),
         at('expected-barrel.png'))
    save(distort(plain, 'perspective', [3.1, 2.3, 30.2, 9.9, 27.4, 20.3, 1.3, 17.6], True),
         at('expected-persp.png'))
    save(distort(alphaed, 'arc', [90, 0, 45, 15], True), at('expected-arc.png'))


if __name__ == '__main__':
    main()
