#!/usr/bin/env python3
"""Draws the skin's images with ImageMagick.

Usage: python3 tools/skingen/generate.py ui/skin/img [--icon ui/skin/icon.png]

Every image is drawn at SCALE times its size and averaged down with a box filter, which gives
exact coverage anti-aliasing for thin strokes. Sizes match the rectangles the skin gives the
controls; the output carries no time stamps, so running the script again yields the same bytes.
"""
import os
import shutil
import subprocess
import sys

SCALE = 4

# Palette: the skin's teal and the shades around it.
TEAL = "#04A68D"
TEAL_LIGHT = "#14DFD3"
TEAL_MID = "#0EB1A8"
HOT = "#2ADACC"
WHITE = "#FFFFFF"


def magick():
    for name in ("magick", "convert"):
        path = shutil.which(name)
        if path:
            return path
    sys.exit("generate.py: ImageMagick (magick or convert) is not installed")


def n(v):
    """A coordinate or length in image pixels, scaled to the drawing canvas."""
    return f"{v * SCALE:.2f}".rstrip("0").rstrip(".")


def pt(x, y):
    return f"{n(x)},{n(y)}"


class Canvas:
    """Collects MVG drawing commands in image pixels; `save` renders and scales them down."""

    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.defs = []
        self.ops = []
        self._gradients = 0

    def linear(self, x0, y0, x1, y1, stops):
        """Defines a linear gradient; returns the fill value that uses it."""
        self._gradients += 1
        gid = f"g{self._gradients}"
        self.defs.append(f"push gradient '{gid}' linear {pt(x0, y0)} {pt(x1, y1)}")
        for offset, colour in stops:
            self.defs.append(f"stop-color '{colour}' {offset}")
        self.defs.append("pop gradient")
        return f"url(#{gid})"

    def style(self, fill="none", stroke="none", width=0.0, cap="round", join="round"):
        # Each shape gets its own graphic context: ImageMagick 6 keeps a gradient fill active
        # even after a plain fill colour is set.
        if self.ops:
            self.ops.append("pop graphic-context")
        self.ops.append("push graphic-context")
        self.ops.append(f"fill '{fill}'" if not fill.startswith("url(") else f"fill {fill}")
        self.ops.append(f"stroke '{stroke}'" if not stroke.startswith("url(") else f"stroke {stroke}")
        self.ops.append(f"stroke-width {n(width) if stroke != 'none' else 0}")
        self.ops.append(f"stroke-linecap {cap}")
        self.ops.append(f"stroke-linejoin {join}")

    def rrect(self, x0, y0, x1, y1, r, **style):
        self.style(**style)
        self.ops.append(f"roundrectangle {pt(x0, y0)} {pt(x1, y1)} {n(r)},{n(r)}")

    def rect(self, x0, y0, x1, y1, **style):
        self.style(**style)
        self.ops.append(f"rectangle {pt(x0, y0)} {pt(x1, y1)}")

    def circle(self, cx, cy, r, **style):
        self.style(**style)
        self.ops.append(f"circle {pt(cx, cy)} {pt(cx + r, cy)}")

    def polyline(self, points, **style):
        self.style(**style)
        self.ops.append("polyline " + " ".join(pt(x, y) for x, y in points))

    def polygon(self, points, **style):
        self.style(**style)
        self.ops.append("polygon " + " ".join(pt(x, y) for x, y in points))

    def save(self, path):
        mvg = []
        if self.defs:
            mvg += ["push defs", *self.defs, "pop defs"]
        mvg += self.ops
        if self.ops:
            mvg.append("pop graphic-context")
        w, h = self.width * SCALE, self.height * SCALE
        cmd = [
            magick(), "-size", f"{w}x{h}", "xc:none", "-draw", "\n".join(mvg),
            "-filter", "Box", "-resize", f"{self.width}x{self.height}!",
            "-depth", "8", "-strip", "-define", "png:exclude-chunks=date,time",
            "PNG32:" + path,
        ]
        subprocess.run(cmd, check=True)


def rgba(colour, alpha):
    """"#RRGGBB" with an opacity 0..1 as "#RRGGBBAA"."""
    return f"{colour}{round(alpha * 255):02X}"


# --- Buttons ---------------------------------------------------------------------------------

# The large call-to-action (168 x 46): white text sits on a teal deeper than the page so that
# it reads clearly; the bottom two pixels hold a soft shadow that lifts it off the background.
BIG_BUTTON_STATES = {
    "button_normal.png": ("#079680", "#04705F", 0.28, True),
    "button_hover.png": ("#13BCA0", "#078C76", 0.38, True),
    "button_pressing.png": ("#035A4C", "#046756", 0.10, False),
    "button_disable.png": ("#B3BDBB", "#9BA6A4", 0.22, False),
}


def big_button(path, top, bottom, highlight, raised):
    w, h = 168, 46
    c = Canvas(w, h)
    body_bottom = h - 2
    if raised:
        c.rrect(0.5, 2.0, w - 0.5, h - 0.2, 7, fill=rgba("#00241E", 0.22))
    offset = 0.0 if raised else 1.0  # a pressed or flat button sits lower, on its shadow
    fill = c.linear(0, offset, 0, body_bottom + offset, [(0, top), (1, bottom)])
    c.rrect(0.5, 0.5 + offset, w - 0.5, body_bottom - 0.5 + offset, 6.5, fill=fill,
            stroke=rgba("#00382F", 0.35), width=1.0)
    # Inner top highlight: a hairline of light just inside the upper edge.
    c.polyline([(6.5, 1.6 + offset), (w - 6.5, 1.6 + offset)], stroke=rgba(WHITE, highlight),
               width=1.0, cap="butt")
    c.save(path)


def small_button(path, top, bottom, border):
    """The 90 x 32 text buttons (browse, hide): a light face with a thin border."""
    w, h = 90, 32
    c = Canvas(w, h)
    fill = c.linear(0, 0, 0, h, [(0, top), (1, bottom)])
    c.rrect(0.5, 0.5, w - 0.5, h - 0.5, 3.5, fill=fill, stroke=border, width=1.0)
    c.save(path)


# --- Title bar glyphs (20 x 20) -----------------------------------------------------------------

def glyph_backdrop(c, hover):
    if hover:
        c.circle(10, 10, 9.5, fill=rgba(WHITE, 0.24))


def close_glyph(path, hover):
    c = Canvas(20, 20)
    glyph_backdrop(c, hover)
    for a, b in (((6.2, 6.2), (13.8, 13.8)), ((13.8, 6.2), (6.2, 13.8))):
        c.polyline([a, b], stroke=WHITE, width=1.6)
    c.save(path)


def minimise_glyph(path, hover):
    c = Canvas(20, 20)
    glyph_backdrop(c, hover)
    c.polyline([(5.8, 10.5), (14.2, 10.5)], stroke=WHITE, width=1.6)
    c.save(path)


# --- Check boxes and fold arrows (14 x 14, drawn on the teal bar) -----------------------------

def check_box(path, checked):
    c = Canvas(14, 14)
    if checked:
        c.rrect(0.5, 0.5, 13.5, 13.5, 2.5, fill=WHITE)
        c.polyline([(3.3, 7.3), (5.9, 9.9), (10.8, 4.4)], stroke=TEAL, width=1.9)
    else:
        c.rrect(1.0, 1.0, 13.0, 13.0, 2.2, fill=rgba(WHITE, 0.12), stroke=WHITE, width=1.2)
    c.save(path)


def fold_arrow(path, direction):
    """A chevron in a ring: right (folded, left-to-right), left (folded, right-to-left), down."""
    c = Canvas(14, 14)
    c.circle(7, 7, 6.2, fill=rgba(WHITE, 0.14), stroke=WHITE, width=1.1)
    chevrons = {
        "right": [(5.9, 4.2), (8.7, 7.0), (5.9, 9.8)],
        "left": [(8.1, 4.2), (5.3, 7.0), (8.1, 9.8)],
        "down": [(4.2, 5.9), (7.0, 8.7), (9.8, 5.9)],
    }
    c.polyline(chevrons[direction], stroke=WHITE, width=1.5)
    c.save(path)


# --- Banner dots (8 x 8) and the progress bar fore images (433 x 6) ---------------------------

def banner_dot(path, selected):
    c = Canvas(8, 8)
    if selected:
        c.circle(4, 4, 3.6, fill=TEAL, stroke=WHITE, width=1.2)
    else:
        # A faint dark rim keeps the white dot visible on light banners.
        c.circle(4, 4, 3.5, fill=rgba(WHITE, 0.70), stroke=rgba("#000000", 0.18), width=0.8)
    c.save(path)


def progress_fore(path, stops):
    w, h = 433, 6
    c = Canvas(w, h)
    fill = c.linear(0, 0, w, 0, stops)
    c.rrect(0, 0, w, h, 3, fill=fill)
    # A hairline of light along the top gives the bar some depth.
    c.polyline([(3, 1.0), (w - 3, 1.0)], stroke=rgba(WHITE, 0.25), width=0.8, cap="butt")
    c.save(path)


# --- The mark: three stacked plates ------------------------------------------------------------

def mark(c, cx, top, half_width, gap, glow=True):
    """Draws the product mark, a lit plate over two fainter layers, with its top at `top`."""
    a = half_width
    b = a / 2.0
    stroke = max(1.2, a / 7.5)
    for i, alpha in ((2, 0.55), (1, 0.8)):
        y = top + b + gap * i
        c.polyline([(cx - a, y), (cx, y + b), (cx + a, y)], stroke=rgba(WHITE, alpha), width=stroke)
    fill = c.linear(cx - a, top, cx + a, top + 2 * b,
                    [(0, WHITE), (1, "#C9F4EE" if glow else WHITE)])
    c.polygon([(cx, top), (cx + a, top + b), (cx, top + 2 * b), (cx - a, top + b)], fill=fill,
              stroke=WHITE, width=stroke * 0.6)


def mark_height(half_width, gap):
    """Height of the mark drawn by `mark`, its strokes included."""
    return half_width + 2 * gap + max(1.2, half_width / 7.5)


def fading_rules(c, cx, cy, inner, outer, width):
    """Two thin rules that fade out to either side of a centred mark."""
    # Drawn as short steps of falling opacity: ImageMagick's gradients blend towards black
    # when a stop is transparent, which would grey the rule.
    steps = 48
    step = (outer - inner) / steps
    for sign in (-1, 1):
        for i in range(steps):
            x0 = cx + sign * (inner + i * step)
            x1 = cx + sign * (inner + (i + 1) * step)
            lo, hi = sorted((x0, x1))
            alpha = 0.8 * (1 - (i + 0.5) / steps) ** 1.4
            c.rect(lo, cy - width / 2, hi, cy + width / 2, fill=rgba(WHITE, alpha))


def left_logo(path):
    w, h = 108, 32
    c = Canvas(w, h)
    a, gap = 15.0, 5.0
    top = (h - mark_height(a, gap)) / 2 + 0.6
    mark(c, w / 2, top, a, gap)
    fading_rules(c, w / 2, h / 2 + 0.5, a + 8, w / 2 - 2, 1.2)
    c.save(path)


def logo(path):
    w, h = 407, 52
    c = Canvas(w, h)
    a, gap = 28.0, 8.5
    top = (h - mark_height(a, gap)) / 2 + 0.5
    mark(c, w / 2, top, a, gap)
    fading_rules(c, w / 2, h / 2 + 1, a + 16, w / 2 - 6, 1.6)
    # Small lit points at the inner ends of the rules.
    for sign in (-1, 1):
        c.circle(w / 2 + sign * (a + 11), h / 2 + 1, 1.7, fill=WHITE)
    c.save(path)


def app_icon(path):
    s = 256
    c = Canvas(s, s)
    c.rrect(10, 14, s - 10, s - 6, 52, fill=rgba("#00241E", 0.25))
    face = c.linear(0, 8, 0, s - 12, [(0, "#12C6A9"), (1, "#037A66")])
    c.rrect(8, 8, s - 8, s - 12, 52, fill=face, stroke=rgba("#00382F", 0.35), width=2)
    c.polyline([(52, 11), (s - 52, 11)], stroke=rgba(WHITE, 0.35), width=2, cap="butt")
    a, gap = 78.0, 30.0
    top = (s - 4 - mark_height(a, gap)) / 2
    mark(c, s / 2, top, a, gap)
    c.save(path)


def main(argv):
    if len(argv) < 2 or argv[1].startswith("-"):
        sys.exit(__doc__)
    out = argv[1]
    icon = os.path.join(os.path.dirname(os.path.abspath(out)), "icon.png")
    if len(argv) >= 4 and argv[2] == "--icon":
        icon = argv[3]
    os.makedirs(out, exist_ok=True)
    p = lambda name: os.path.join(out, name)

    for name, state in BIG_BUTTON_STATES.items():
        big_button(p(name), *state)
    small_button(p("browse-df.png"), "#FFFFFF", "#EEF2F1", "#E0E0E0")
    small_button(p("browse-ho.png"), "#FFFFFF", "#E3F8F5", HOT)
    small_button(p("hide-df.png"), "#FFFFFF", "#F0F3F3", "#CBD5D3")
    small_button(p("hide-ho.png"), "#FFFFFF", "#E6F9F7", HOT)
    close_glyph(p("close-df.png"), hover=False)
    close_glyph(p("close-ho.png"), hover=True)
    minimise_glyph(p("minzoom-df.png"), hover=False)
    minimise_glyph(p("minzoom-ho.png"), hover=True)
    check_box(p("checked.png"), checked=True)
    check_box(p("unchecked.png"), checked=False)
    fold_arrow(p("fold.png"), "right")
    fold_arrow(p("fold_rtl.png"), "left")
    fold_arrow(p("unfold.png"), "down")
    banner_dot(p("banner_normal.png"), selected=False)
    banner_dot(p("banner_selected.png"), selected=True)
    # Left to right the fore image is the filled part; right to left the bar's value is the
    # remaining share, so its fore image is the empty track and the bar colour is the fill.
    progress_fore(p("progress.png"), [(0, TEAL), (1, TEAL_MID)])
    progress_fore(p("progress_rtl.png"), [(0, TEAL_LIGHT), (1, TEAL_LIGHT)])
    left_logo(p("left_log.png"))
    logo(p("logo.png"))
    app_icon(icon)


if __name__ == "__main__":
    main(sys.argv)
