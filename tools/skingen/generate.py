#!/usr/bin/env python3
"""Draws the skin's images with ImageMagick, each at 1x and 2x.

Usage: python3 tools/skingen/generate.py ui/skin/img [--icon ui/skin/icon.png]

Every image is described once in skin pixels and rendered twice: NAME.png at the size of the
control that shows it, and NAME@2x.png at twice that size for displays scaled by two (the toolkit
picks the twin there). Each rendering is drawn at SUPERSAMPLE times its size and averaged down
with a box filter, which gives exact coverage anti-aliasing for thin strokes. The output carries
no time stamps, so running the script again yields the same bytes.
"""
import os
import shutil
import subprocess
import sys

SUPERSAMPLE = 4
DENSITIES = ((1, ""), (2, "@2x"))

# Palette: the window's teal and the shades around it.
TEAL = "#04A68D"
TEAL_DEEP = "#02806C"
TEAL_LIGHT = "#14DFD3"
HOT = "#2ADACC"
WHITE = "#FFFFFF"
LINE = "#CBD6D3"

FONT_DIR = "/usr/share/fonts/truetype/noto"
FONT_BOLD = os.path.join(FONT_DIR, "NotoSans-Bold.ttf")
FONT_REGULAR = os.path.join(FONT_DIR, "NotoSans-Regular.ttf")


def magick():
    for name in ("magick", "convert"):
        path = shutil.which(name)
        if path:
            return path
    sys.exit("generate.py: ImageMagick (magick or convert) is not installed")


def rgba(colour, alpha):
    """"#RRGGBB" with an opacity 0..1 as "#RRGGBBAA"."""
    return f"{colour}{round(alpha * 255):02X}"


class Canvas:
    """Collects drawing commands in skin pixels; `save` renders them at each density."""

    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.shapes = []  # (kind, args, style)
        self.gradients = []  # (x0, y0, x1, y1, stops)

    # --- building ---------------------------------------------------------------------------

    def linear(self, x0, y0, x1, y1, stops):
        """Defines a linear gradient; returns the fill value that uses it."""
        self.gradients.append((x0, y0, x1, y1, stops))
        return f"url(#g{len(self.gradients)})"

    def _add(self, kind, args, fill="none", stroke="none", width=0.0, cap="round",
             join="round", **extra):
        self.shapes.append((kind, args, dict(fill=fill, stroke=stroke, width=width, cap=cap,
                                             join=join, **extra)))

    def rrect(self, x0, y0, x1, y1, r, **style):
        self._add("rrect", (x0, y0, x1, y1, r), **style)

    def rect(self, x0, y0, x1, y1, **style):
        self._add("rect", (x0, y0, x1, y1), **style)

    def circle(self, cx, cy, r, **style):
        self._add("circle", (cx, cy, r), **style)

    def polyline(self, points, **style):
        self._add("polyline", (points,), **style)

    def polygon(self, points, **style):
        self._add("polygon", (points,), **style)

    def text(self, x, y, words, font, size, colour, kerning=0.0):
        """Text with its baseline's left end at (x, y)."""
        self._add("text", (x, y, words), fill=colour, font=font, size=size, kerning=kerning)

    # --- rendering ----------------------------------------------------------------------------

    def _mvg(self, k):
        def n(v):
            return f"{v * k:.2f}".rstrip("0").rstrip(".")

        def pt(x, y):
            return f"{n(x)},{n(y)}"

        mvg = []
        if self.gradients:
            mvg.append("push defs")
            for i, (x0, y0, x1, y1, stops) in enumerate(self.gradients, 1):
                mvg.append(f"push gradient 'g{i}' linear {pt(x0, y0)} {pt(x1, y1)}")
                for offset, colour in stops:
                    mvg.append(f"stop-color '{colour}' {offset}")
                mvg.append("pop gradient")
            mvg.append("pop defs")
        for kind, args, st in self.shapes:
            # Each shape gets its own graphic context: ImageMagick 6 keeps a gradient fill
            # active even after a plain fill colour is set.
            mvg.append("push graphic-context")
            fill, stroke = st["fill"], st["stroke"]
            mvg.append(f"fill {fill}" if fill.startswith("url(") else f"fill '{fill}'")
            mvg.append(f"stroke {stroke}" if stroke.startswith("url(") else f"stroke '{stroke}'")
            mvg.append(f"stroke-width {n(st['width']) if stroke != 'none' else 0}")
            mvg.append(f"stroke-linecap {st['cap']}")
            mvg.append(f"stroke-linejoin {st['join']}")
            if kind == "rrect":
                x0, y0, x1, y1, r = args
                mvg.append(f"roundrectangle {pt(x0, y0)} {pt(x1, y1)} {n(r)},{n(r)}")
            elif kind == "rect":
                x0, y0, x1, y1 = args
                mvg.append(f"rectangle {pt(x0, y0)} {pt(x1, y1)}")
            elif kind == "circle":
                cx, cy, r = args
                mvg.append(f"circle {pt(cx, cy)} {pt(cx + r, cy)}")
            elif kind in ("polyline", "polygon"):
                mvg.append(kind + " " + " ".join(pt(x, y) for x, y in args[0]))
            elif kind == "text":
                x, y, words = args
                mvg.append(f"font '{st['font']}'")
                mvg.append(f"font-size {n(st['size'])}")
                mvg.append(f"kerning {n(st['kerning'])}")
                mvg.append("text-antialias 1")
                mvg.append(f"text {pt(x, y)} '{words}'")
            mvg.append("pop graphic-context")
        return "\n".join(mvg)

    def save(self, path, density=1):
        """Renders one PNG at the given density (image pixels per skin pixel)."""
        k = density * SUPERSAMPLE
        w, h = self.width * density, self.height * density
        cmd = [
            magick(), "-size", f"{self.width * k}x{self.height * k}", "xc:none",
            "-draw", self._mvg(k),
            "-filter", "Box", "-resize", f"{w}x{h}!",
            "-depth", "8", "-strip", "-define", "png:exclude-chunks=date,time",
            "PNG32:" + path,
        ]
        subprocess.run(cmd, check=True)

    def save_skin(self, folder, name):
        """A skin image: NAME.png and its twin NAME@2x.png."""
        for density, suffix in DENSITIES:
            self.save(os.path.join(folder, name + suffix + ".png"), density)


# --- Buttons ---------------------------------------------------------------------------------

# The large call to action (168 x 46), white text on the teal page: flat faces, a deeper teal
# than the page so the text reads clearly. Disabled keeps the shape and only fades, so it is
# still the same button, waiting.
def big_button(folder, name, state):
    w, h = 168, 46
    c = Canvas(w, h)
    if state == "normal":
        c.rrect(0.5, 0.5, w - 0.5, h - 0.5, 6, fill=TEAL_DEEP)
    elif state == "hover":
        c.rrect(0.5, 0.5, w - 0.5, h - 0.5, 6, fill="#03917B")
    elif state == "pressing":
        c.rrect(0.5, 0.5, w - 0.5, h - 0.5, 6, fill="#016A59")
    else:
        c.rrect(0.5, 0.5, w - 0.5, h - 0.5, 6, fill=rgba(WHITE, 0.14),
                stroke=rgba(WHITE, 0.30), width=1.0)
    c.save_skin(folder, name)


def small_button(folder, name, hover):
    """The 90 x 32 text buttons (browse on teal, hide on white): a white face, a hairline edge."""
    w, h = 90, 32
    c = Canvas(w, h)
    if hover:
        c.rrect(0.5, 0.5, w - 0.5, h - 0.5, 4, fill="#EFFAF8", stroke=HOT, width=1.0)
    else:
        c.rrect(0.5, 0.5, w - 0.5, h - 0.5, 4, fill=WHITE, stroke=LINE, width=1.0)
    c.save_skin(folder, name)


# --- Title bar glyphs (20 x 20) -----------------------------------------------------------------

def glyph_backdrop(c, hover):
    if hover:
        c.rrect(0, 0, 20, 20, 4, fill=rgba(WHITE, 0.20))


def close_glyph(folder, name, hover):
    c = Canvas(20, 20)
    glyph_backdrop(c, hover)
    for a, b in (((6.0, 6.0), (14.0, 14.0)), ((14.0, 6.0), (6.0, 14.0))):
        c.polyline([a, b], stroke=WHITE, width=1.5)
    c.save_skin(folder, name)


def minimise_glyph(folder, name, hover):
    c = Canvas(20, 20)
    glyph_backdrop(c, hover)
    c.polyline([(5.5, 10.5), (14.5, 10.5)], stroke=WHITE, width=1.5)
    c.save_skin(folder, name)


# --- Check boxes and fold chevrons (14 x 14, drawn on the teal bar) -----------------------------

def check_box(folder, name, checked):
    c = Canvas(14, 14)
    if checked:
        c.rrect(0.5, 0.5, 13.5, 13.5, 3, fill=WHITE)
        c.polyline([(3.4, 7.2), (5.9, 9.7), (10.6, 4.6)], stroke=TEAL_DEEP, width=1.8)
    else:
        c.rrect(1.0, 1.0, 13.0, 13.0, 2.5, stroke=WHITE, width=1.4)
    c.save_skin(folder, name)


def fold_chevron(folder, name, direction):
    """Right (folded, left to right), left (folded, right to left), down (unfolded)."""
    c = Canvas(14, 14)
    chevrons = {
        "right": [(5.2, 3.2), (9.0, 7.0), (5.2, 10.8)],
        "left": [(8.8, 3.2), (5.0, 7.0), (8.8, 10.8)],
        "down": [(3.2, 5.2), (7.0, 9.0), (10.8, 5.2)],
    }
    c.polyline(chevrons[direction], stroke=WHITE, width=1.6)
    c.save_skin(folder, name)


# --- Banner dots (8 x 8) and the progress bar fore images (433 x 6) ---------------------------

def banner_dot(folder, name, selected):
    c = Canvas(8, 8)
    if selected:
        c.circle(4, 4, 3.5, fill=WHITE, stroke=rgba("#000000", 0.15), width=0.8)
    else:
        # A faint dark rim keeps the dot visible on light banners.
        c.circle(4, 4, 3.3, fill=rgba(WHITE, 0.45), stroke=rgba("#000000", 0.12), width=0.8)
    c.save_skin(folder, name)


def progress_fore(folder, name, colour):
    w, h = 433, 6
    c = Canvas(w, h)
    c.rrect(0, 0, w, h, 3, fill=colour)
    c.save_skin(folder, name)


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


def left_logo(folder):
    w, h = 108, 32
    c = Canvas(w, h)
    a, gap = 15.0, 5.0
    top = (h - mark_height(a, gap)) / 2 + 0.6
    mark(c, w / 2, top, a, gap)
    fading_rules(c, w / 2, h / 2 + 0.5, a + 8, w / 2 - 2, 1.2)
    c.save_skin(folder, "left_log")


def logo(folder):
    w, h = 407, 52
    c = Canvas(w, h)
    a, gap = 28.0, 8.5
    top = (h - mark_height(a, gap)) / 2 + 0.5
    mark(c, w / 2, top, a, gap)
    fading_rules(c, w / 2, h / 2 + 1, a + 16, w / 2 - 6, 1.6)
    # Small lit points at the inner ends of the rules.
    for sign in (-1, 1):
        c.circle(w / 2 + sign * (a + 11), h / 2 + 1, 1.7, fill=WHITE)
    c.save_skin(folder, "logo")


def icon_tile(c, x, y, s):
    """The application icon (a teal tile with the mark) at (x, y), s skin pixels square."""
    k = s / 256.0
    c.rrect(x + 10 * k, y + 14 * k, x + s - 10 * k, y + s - 6 * k, 52 * k,
            fill=rgba("#00241E", 0.25))
    face = c.linear(x, y + 8 * k, x, y + s - 12 * k, [(0, "#12C6A9"), (1, "#037A66")])
    c.rrect(x + 8 * k, y + 8 * k, x + s - 8 * k, y + s - 12 * k, 52 * k, fill=face,
            stroke=rgba("#00382F", 0.35), width=2 * k)
    c.polyline([(x + 52 * k, y + 11 * k), (x + s - 52 * k, y + 11 * k)],
               stroke=rgba(WHITE, 0.35), width=2 * k, cap="butt")
    a, gap = 78.0 * k, 30.0 * k
    top = y + (s - 4 * k - mark_height(a, gap)) / 2
    mark(c, x + s / 2, top, a, gap)


def app_icon(path):
    c = Canvas(256, 256)
    icon_tile(c, 0, 0, 256)
    # One size only: the window system scales the program's icon itself.
    c.save(path)


# --- The default banner (650 x 290) -------------------------------------------------------------

def default_banner(folder):
    """Shown while no banner from the carousel service is at hand: the product's icon and name
    and a short rule, on the window's teal. The name is the only word; it is never translated."""
    w, h = 650, 290
    c = Canvas(w, h)
    sky = c.linear(0, 0, w, h, [(0, "#07B79A"), (1, "#037E6A")])
    c.rect(0, 0, w, h, fill=sky)
    # Large faint plates behind, for depth without noise.
    for cx, top, a, alpha in ((540, 36, 150, 0.07), (120, 170, 110, 0.05)):
        c.polygon([(cx, top), (cx + a, top + a / 2), (cx, top + a), (cx - a, top + a / 2)],
                  fill=rgba(WHITE, alpha))
    icon_tile(c, 130, 95, 100)
    c.text(254, 136, "KORVANA", FONT_BOLD, 15, rgba(WHITE, 0.78), kerning=3.0)
    c.text(252, 180, "Lumenstack", FONT_BOLD, 44, WHITE)
    c.rrect(254, 196, 302, 199, 1.5, fill=HOT)
    c.save_skin(folder, "banner_default")


def main(argv):
    if len(argv) < 2 or argv[1].startswith("-"):
        sys.exit(__doc__)
    out = argv[1]
    icon = os.path.join(os.path.dirname(os.path.abspath(out)), "icon.png")
    if len(argv) >= 4 and argv[2] == "--icon":
        icon = argv[3]
    os.makedirs(out, exist_ok=True)
    for font in (FONT_BOLD, FONT_REGULAR):
        if not os.path.exists(font):
            sys.exit(f"generate.py: {font} is missing (fonts-noto-core)")

    for state in ("normal", "hover", "pressing", "disable"):
        big_button(out, "button_" + state, state)
    small_button(out, "browse-df", hover=False)
    small_button(out, "browse-ho", hover=True)
    small_button(out, "hide-df", hover=False)
    small_button(out, "hide-ho", hover=True)
    close_glyph(out, "close-df", hover=False)
    close_glyph(out, "close-ho", hover=True)
    minimise_glyph(out, "minzoom-df", hover=False)
    minimise_glyph(out, "minzoom-ho", hover=True)
    check_box(out, "checked", checked=True)
    check_box(out, "unchecked", checked=False)
    fold_chevron(out, "fold", "right")
    fold_chevron(out, "fold_rtl", "left")
    fold_chevron(out, "unfold", "down")
    banner_dot(out, "banner_normal", selected=False)
    banner_dot(out, "banner_selected", selected=True)
    # Left to right the fore image is the filled part over the bright track; right to left the
    # bar's value is the remaining share, so its fore image is the track and the bar colour
    # is the fill.
    progress_fore(out, "progress", TEAL)
    progress_fore(out, "progress_rtl", TEAL_LIGHT)
    left_logo(out)
    logo(out)
    default_banner(out)
    app_icon(icon)


if __name__ == "__main__":
    main(sys.argv)
