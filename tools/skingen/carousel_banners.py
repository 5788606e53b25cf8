#!/usr/bin/env python3
"""Draws the demo carousel's three banner images (650 x 290 PNG) with ImageMagick.

Usage: python3 tools/skingen/carousel_banners.py tools/demo/carousel/banners

The banners promote the demo product with pictures alone (no words to translate): its mark of
three stacked plates, lit layers and a horizon, in the teal palette of the window. They are
drawn like the skin images (generate.py: four times the size, averaged down, no time stamps),
so an unchanged script gives byte-identical files.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from generate import Canvas, mark, rgba, TEAL, TEAL_LIGHT, WHITE  # noqa: E402

W, H = 650, 290


def glow(c, cx, cy, radius, colour, strength, rings=28):
    """A soft halo: rings of low opacity that add up towards the centre."""
    for i in range(rings, 0, -1):
        r = radius * i / rings
        c.circle(cx, cy, r, fill=rgba(colour, strength / rings))


def sparkles(c, points, colour=WHITE):
    for x, y, r, a in points:
        c.circle(x, y, r, fill=rgba(colour, a))


def plate(c, cx, cy, a, top, side, front, depth):
    """An isometric plate: a diamond of half width `a` with a visible thickness `depth`."""
    b = a / 2.0
    c.polygon([(cx - a, cy), (cx, cy + b), (cx, cy + b + depth), (cx - a, cy + depth)], fill=side)
    c.polygon([(cx, cy + b), (cx + a, cy), (cx + a, cy + depth), (cx, cy + b + depth)], fill=front)
    face = c.linear(cx - a, cy - b, cx + a, cy + b, top)
    c.polygon([(cx, cy - b), (cx + a, cy), (cx, cy + b), (cx - a, cy)], fill=face)


def wave(c, y0, amplitude, period, phase, fill, bottom=H):
    points = [(0, bottom)]
    for i in range(0, 66):
        x = i * W / 65
        points.append((x, y0 + amplitude * math.sin(2 * math.pi * x / period + phase)))
    points.append((W, bottom))
    c.polygon(points, fill=fill)


def banner_mark(path):
    """The product's mark, lit, over a deep teal field with a soft horizon of waves."""
    c = Canvas(W, H)
    c.rect(0, 0, W, H, fill=c.linear(0, 0, W, H, [(0, "#023F3A"), (0.55, "#047A6B"),
                                                 (1, "#0BB39C")]))
    glow(c, 430, 128, 170, TEAL_LIGHT, 0.55)
    wave(c, 222, 9, 420, 0.6, rgba(WHITE, 0.07))
    wave(c, 238, 7, 300, 2.1, rgba(WHITE, 0.08))
    wave(c, 256, 6, 360, 4.0, rgba("#012E2A", 0.35))
    mark(c, 430, 52, 96, 30)
    sparkles(c, [(96, 64, 2.2, 0.7), (150, 120, 1.4, 0.5), (62, 172, 1.8, 0.45),
                 (210, 58, 1.2, 0.5), (254, 150, 2.0, 0.35), (180, 200, 1.3, 0.4),
                 (590, 52, 1.6, 0.55), (612, 186, 1.2, 0.4), (300, 96, 1.0, 0.45)])
    # Three small plates drifting up towards the mark.
    for x, y, a, alpha in ((118, 150, 16, 0.30), (188, 112, 22, 0.42), (272, 84, 28, 0.55)):
        c.polygon([(x, y - a / 2), (x + a, y), (x, y + a / 2), (x - a, y)],
                  fill=rgba(WHITE, alpha))
    c.save(path)


def banner_layers(path):
    """A staircase of lit plates climbing to the right: layers that stack into one product."""
    c = Canvas(W, H)
    c.rect(0, 0, W, H, fill=c.linear(0, 0, 0, H, [(0, "#06262E"), (1, "#0A4C52")]))
    glow(c, 520, 96, 150, TEAL_LIGHT, 0.35)
    sparkles(c, [(40, 40, 1.3, 0.6), (120, 28, 1.0, 0.5), (210, 52, 1.6, 0.45),
                 (330, 30, 1.1, 0.55), (610, 250, 1.4, 0.4), (72, 120, 1.0, 0.35),
                 (452, 22, 1.2, 0.5), (630, 36, 1.0, 0.45)])
    steps = [
        (130, 214, 54, ["#0B6E67", "#0E8B80"]),
        (232, 186, 58, ["#0C8478", "#12A596"]),
        (338, 156, 62, ["#0E9C8C", "#18C0AE"]),
        (448, 124, 66, ["#10B5A1", TEAL_LIGHT]),
    ]
    for cx, cy, a, (lo, hi) in steps:
        plate(c, cx, cy, a, [(0, hi), (1, lo)], side="#053E3C", front="#075853", depth=14)
    # The top plate carries the mark, as if lit from within.
    mark(c, 448, 86, 30, 9)
    c.polyline([(60, 262), (590, 262)], stroke=rgba(WHITE, 0.12), width=1.0, cap="butt")
    c.save(path)


def banner_horizon(path):
    """Morning over layered hills: a rising light behind the horizon and the mark in the sky."""
    c = Canvas(W, H)
    c.rect(0, 0, W, H, fill=c.linear(0, 0, 0, H, [(0, "#0B5D6B"), (0.6, "#2FC7B4"),
                                                 (1, "#BFF3EA")]))
    glow(c, 200, 182, 130, WHITE, 0.65)
    c.circle(200, 182, 34, fill=rgba(WHITE, 0.92))
    wave(c, 196, 12, 520, 0.4, "#1AA594")
    wave(c, 220, 14, 380, 2.4, "#0C8779")
    wave(c, 246, 10, 300, 1.1, "#056A5F")
    wave(c, 268, 6, 240, 3.3, "#034E47")
    mark(c, 482, 48, 44, 14)
    sparkles(c, [(560, 40, 1.4, 0.7), (600, 92, 1.1, 0.6), (410, 36, 1.2, 0.6),
                 (372, 84, 1.0, 0.5), (620, 140, 1.2, 0.45), (330, 40, 0.9, 0.5)])
    c.save(path)


def main(argv):
    if len(argv) != 2 or argv[1].startswith("-"):
        sys.exit(__doc__)
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    banner_mark(os.path.join(out, "banner_1.png"))
    banner_layers(os.path.join(out, "banner_2.png"))
    banner_horizon(os.path.join(out, "banner_3.png"))


if __name__ == "__main__":
    main(sys.argv)
