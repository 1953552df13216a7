#!/usr/bin/python3
"""Draws the program's image assets (icons, markers, tool images, the logo) as PNG files.

Every picture is made of simple vector shapes drawn at four times its size and scaled down, so the
edges are smooth. The PNGs are committed under Assets/Images; run this again after changing a shape:

    /usr/bin/python3 Tools/generate_icons.py [output folder]

Needs Pillow (Debian package python3-pil). The font atlas is made by its own generator.
"""
import math
import os
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageMath

SCALE = 4

WHITE = (255, 255, 255, 255)
LIGHT = (192, 192, 192, 255)
GREY = (110, 110, 110, 255)
DARK = (30, 30, 30, 255)
SHADOW = (0, 0, 0, 150)
SELECTION = (0, 100, 227, 255)  # the interface's selection colour 0xFFE36400, as RGBA
RED = (230, 40, 35, 255)
ORANGE = (255, 140, 0, 255)
YELLOW = (255, 215, 0, 255)
GREEN = (60, 200, 80, 255)
AQUA = (0, 220, 220, 255)
CYAN = (0, 230, 255, 255)
BLUE = (40, 110, 255, 255)
PURPLE = (160, 70, 230, 255)
BROWN = (140, 90, 40, 255)

LINE_COLOURS = [("red", RED), ("orange", ORANGE), ("yellow", YELLOW), ("aqua", AQUA), ("blue", BLUE),
                ("purple", PURPLE), ("white", WHITE)]


class Canvas:
    """A drawing at SCALE times the output size; coordinates are given in output pixels."""

    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.image = Image.new("RGBA", (width * SCALE, height * SCALE), (0, 0, 0, 0))
        self.draw = ImageDraw.Draw(self.image)

    def p(self, points):
        return [(x * SCALE, y * SCALE) for x, y in points]

    def polygon(self, points, fill=None, outline=None, width=1):
        self.draw.polygon(self.p(points), fill=fill)
        if outline:
            self.line(list(points) + [points[0]], outline, width)

    def line(self, points, colour, width, round_ends=True):
        pts = self.p(points)
        self.draw.line(pts, fill=colour, width=int(width * SCALE), joint="curve")
        if round_ends:
            r = width * SCALE / 2
            for x, y in (pts[0], pts[-1]):
                self.draw.ellipse((x - r, y - r, x + r, y + r), fill=colour)

    def circle(self, cx, cy, r, fill=None, outline=None, width=1):
        box = ((cx - r) * SCALE, (cy - r) * SCALE, (cx + r) * SCALE, (cy + r) * SCALE)
        self.draw.ellipse(box, fill=fill, outline=outline, width=int(width * SCALE) if outline else 0)

    def rect(self, x0, y0, x1, y1, fill=None, outline=None, width=1, radius=0):
        box = (x0 * SCALE, y0 * SCALE, x1 * SCALE, y1 * SCALE)
        self.draw.rounded_rectangle(box, radius=radius * SCALE, fill=fill, outline=outline,
                                    width=int(width * SCALE) if outline else 0)

    def arc(self, cx, cy, r, start, end, colour, width):
        box = ((cx - r) * SCALE, (cy - r) * SCALE, (cx + r) * SCALE, (cy + r) * SCALE)
        self.draw.arc(box, start, end, fill=colour, width=int(width * SCALE))

    def paste(self, other, dx=0, dy=0):
        self.image.alpha_composite(other.image, (int(dx * SCALE), int(dy * SCALE)))

    def result(self):
        return bleed_edges(self.image.resize((self.width, self.height), Image.LANCZOS))


def bleed_edges(image):
    """Gives fully transparent pixels the colour of the shapes near them, so that texture filtering and
    mipmaps blend an edge with its own colour instead of black."""
    red, green, blue, alpha = image.split()
    blurred_alpha = alpha.filter(ImageFilter.GaussianBlur(8))
    opaque = alpha.point(lambda v: 255 if v > 0 else 0)
    channels = []
    for c in (red, green, blue):
        spread = ImageChops.multiply(c, alpha).filter(ImageFilter.GaussianBlur(8))
        bled = ImageMath.eval("convert(min(a * 255 / max(b, 1), 255), 'L')", a=spread, b=blurred_alpha)
        channels.append(Image.composite(c, bled, opaque))
    return Image.merge("RGBA", channels + [alpha])


def star_points(cx, cy, outer, inner, count, turn=-90):
    points = []
    for i in range(count * 2):
        r = outer if i % 2 == 0 else inner
        a = math.radians(turn + i * 180 / count)
        points.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return points


# Pictures. Each takes a canvas and draws on it.

def logo(c):
    # A ring with an ignition sphere and a flame rising from it.
    c.circle(128, 128, 118, fill=(24, 28, 34, 255), outline=ORANGE, width=8)
    flame(c, 128, 150, 1.7, ORANGE, YELLOW)
    c.circle(128, 178, 34, fill=(235, 235, 235, 255), outline=DARK, width=3)
    c.circle(116, 166, 9, fill=WHITE)


def battery(c, level):
    colours = [RED, RED, ORANGE, GREEN, GREEN]
    c.rect(6, 14, 112, 54, outline=WHITE, width=6, radius=6)
    c.rect(112, 24, 122, 44, fill=WHITE, radius=2)
    for i in range(level):
        c.rect(15 + i * 24, 22, 35 + i * 24, 46, fill=colours[level], radius=2)
    if level == 0:
        c.line([(40, 20), (78, 48)], RED, 6)
        c.line([(78, 20), (40, 48)], RED, 6)


def camera(c):
    c.rect(12, 38, 116, 106, fill=WHITE, radius=12)
    c.polygon([(40, 38), (50, 22), (78, 22), (88, 38)], fill=WHITE)
    c.circle(64, 72, 26, fill=DARK)
    c.circle(64, 72, 18, fill=GREY)
    c.circle(58, 66, 5, fill=WHITE)
    c.rect(96, 46, 108, 54, fill=DARK, radius=2)


def controller(c):
    c.rect(14, 40, 114, 92, fill=WHITE, radius=24)
    c.polygon([(14, 70), (30, 112), (52, 92)], fill=WHITE)
    c.polygon([(114, 70), (98, 112), (76, 92)], fill=WHITE)
    c.rect(30, 61, 50, 69, fill=DARK)
    c.rect(36, 55, 44, 75, fill=DARK)
    for dx, dy in ((90, 56), (100, 66), (80, 66), (90, 76)):
        c.circle(dx, dy, 5, fill=DARK)


def gps(c):
    # A position pin over a ring of the horizon.
    c.circle(64, 104, 40, outline=LIGHT, width=4)
    pin(c, 64, 20, 84, WHITE, DARK, dot=True)


def pencil(c):
    c.polygon([(30, 110), (18, 110), (18, 98), (88, 28), (100, 40)], fill=YELLOW, outline=DARK, width=3)
    c.polygon([(88, 28), (100, 16), (112, 28), (100, 40)], fill=(240, 130, 140, 255), outline=DARK, width=3)
    c.polygon([(30, 110), (18, 110), (18, 98)], fill=DARK)


def folder(c):
    c.polygon([(10, 26), (50, 26), (60, 38), (118, 38), (118, 104), (10, 104)], fill=(240, 190, 70, 255))
    c.polygon([(10, 50), (118, 50), (118, 104), (10, 104)], fill=(255, 210, 100, 255))


def signal_bars(c, level):
    for i in range(5):
        height = 20 + i * 20
        x = 14 + i * 21
        if i < level:
            c.rect(x, 116 - height, x + 14, 116, fill=WHITE, radius=2)
        else:
            c.rect(x, 116 - height, x + 14, 116, outline=GREY, width=3, radius=2)


def transects(c):
    outline = [(14, 30), (96, 12), (116, 86), (40, 116)]
    c.polygon(outline, outline=LIGHT, width=4)
    path = [(26, 40), (100, 24), (104, 44), (30, 60), (34, 80), (108, 64), (112, 84), (40, 102)]
    c.line(path, YELLOW, 5)


def pin(c, cx, top, height, fill, outline, dot=False, plus=False):
    r = height * 0.32
    cy = top + r + 2
    tip = top + height
    a = math.asin(r / (tip - cy))
    tangent = [(cx - r * math.cos(a), cy + r * math.sin(a)), (cx, tip), (cx + r * math.cos(a), cy + r * math.sin(a))]
    c.polygon(tangent, fill=outline)
    c.circle(cx, cy, r, fill=outline)
    inner = r - max(2, height * 0.05)
    shrink = inner / r
    c.polygon([(cx + (x - cx) * shrink, cy + (y - cy) * shrink) for x, y in tangent], fill=fill)
    c.circle(cx, cy, inner, fill=fill)
    if dot:
        c.circle(cx, cy, r * 0.38, fill=outline)
    if plus:
        w = r * 0.18
        c.rect(cx - r * 0.6, cy - w, cx + r * 0.6, cy + w, fill=outline)
        c.rect(cx - w, cy - r * 0.6, cx + w, cy + r * 0.6, fill=outline)
    return cx, cy, inner


def marker(c, fill, dot):
    pin(c, 32, 2, 60, fill, DARK, dot=dot)


def sphere(c, cx, cy, r, colour):
    c.circle(cx, cy, r, fill=DARK)
    c.circle(cx, cy, r - 4, fill=colour)
    c.circle(cx - r * 0.3, cy - r * 0.3, r * 0.25, fill=(255, 255, 255, 200))


def ignition_sphere(c, colour):
    sphere(c, 64, 64, 52, colour)


def morvelt(c):
    c.circle(16, 16, 13, fill=DARK)
    c.circle(16, 16, 10, fill=ORANGE)
    c.line([(16, 8), (16, 24)], DARK, 3)
    c.line([(8, 16), (24, 16)], DARK, 3)


def geofence(c):
    points = [(18, 40), (64, 14), (112, 44), (100, 108), (30, 104)]
    for i in range(len(points)):
        a, b = points[i], points[(i + 1) % len(points)]
        for t in range(0, 10, 2):
            t0, t1 = t / 10, (t + 1) / 10
            c.line([(a[0] + (b[0] - a[0]) * t0, a[1] + (b[1] - a[1]) * t0),
                    (a[0] + (b[0] - a[0]) * t1, a[1] + (b[1] - a[1]) * t1)], RED, 5)
    for x, y in points:
        c.circle(x, y, 7, fill=WHITE, outline=DARK, width=2)


def add_waypoint(c):
    pin(c, 64, 6, 116, WHITE, DARK, plus=True)


def drone_side(c):
    c.rect(36, 52, 92, 70, fill=WHITE, radius=8)
    c.line([(12, 50), (116, 50)], WHITE, 6)
    for x in (18, 110):
        c.rect(x - 4, 38, x + 4, 50, fill=WHITE)
        c.rect(x - 18, 32, x + 18, 38, fill=LIGHT, radius=3)
    c.line([(44, 70), (36, 92)], WHITE, 5)
    c.line([(84, 70), (92, 92)], WHITE, 5)
    c.line([(28, 92), (48, 92)], WHITE, 4)
    c.line([(80, 92), (100, 92)], WHITE, 4)
    c.circle(64, 76, 7, fill=DARK)


def plane(c, colour):
    body = [(64, 6), (72, 22), (72, 50), (120, 74), (120, 84), (72, 72), (70, 102), (88, 114), (88, 122),
            (64, 116), (40, 122), (40, 114), (58, 102), (56, 72), (8, 84), (8, 74), (56, 50), (56, 22)]
    c.polygon(body, fill=colour, outline=DARK, width=3)


def bang(c):
    c.polygon(star_points(64, 64, 60, 30, 12), fill=ORANGE, outline=RED, width=3)
    c.polygon(star_points(64, 64, 36, 18, 12, -75), fill=YELLOW)


def ktq(c, state):
    # The dropper's canister; loaded shows spheres in it, safe a check mark, unsafe a cross.
    c.rect(30, 10, 98, 118, fill=(60, 60, 60, 255), outline=WHITE, width=5, radius=12)
    if state in ("loaded", "safe", "error"):
        for row in range(3):
            sphere(c, 64, 32 + row * 30, 12, (235, 235, 235, 255))
    if state == "safe":
        c.circle(96, 96, 26, fill=GREEN, outline=DARK, width=3)
        c.line([(84, 96), (93, 106), (108, 86)], WHITE, 6)
    if state == "error":
        c.circle(96, 96, 26, fill=RED, outline=DARK, width=3)
        c.line([(86, 86), (106, 106)], WHITE, 6)
        c.line([(106, 86), (86, 106)], WHITE, 6)


def line_tool(c, colour):
    c.line([(16, 112), (50, 70), (80, 86), (112, 20)], colour, 9)
    c.circle(16, 112, 9, fill=WHITE, outline=DARK, width=2)
    c.circle(112, 20, 9, fill=WHITE, outline=DARK, width=2)


def drone_top(c, cx, cy, size, colour):
    arm = size * 0.55
    for dx, dy in ((-1, -1), (1, -1), (1, 1), (-1, 1)):
        c.line([(cx, cy), (cx + dx * arm, cy + dy * arm)], colour, size * 0.12)
        c.circle(cx + dx * arm, cy + dy * arm, size * 0.28, outline=colour, width=size * 0.08)
    c.circle(cx, cy, size * 0.25, fill=colour)


def drone_path(c, colour):
    points = [(14, 114), (30, 88), (52, 80), (70, 64), (78, 44)]
    for i in range(len(points) - 1):
        a, b = points[i], points[i + 1]
        c.line([a, (a[0] + (b[0] - a[0]) * 0.6, a[1] + (b[1] - a[1]) * 0.6)], colour, 6)
    drone_top(c, 92, 30, 34, colour)


def flag(c, colour=WHITE):
    c.line([(34, 116), (34, 14)], LIGHT, 7)
    c.polygon([(38, 16), (108, 30), (38, 64)], fill=colour, outline=DARK, width=2)


def obstruction(c):
    c.polygon([(64, 10), (120, 110), (8, 110)], fill=YELLOW, outline=DARK, width=5)
    c.rect(58, 44, 70, 84, fill=DARK, radius=3)
    c.circle(64, 96, 7, fill=DARK)


def flame(c, cx, base, size, outer=ORANGE, inner=YELLOW):
    def shape(s):
        return [(cx, base - 60 * s), (cx + 22 * s, base - 28 * s), (cx + 28 * s, base - 6 * s), (cx + 20 * s, base + 12 * s),
                (cx, base + 20 * s), (cx - 20 * s, base + 12 * s), (cx - 28 * s, base - 6 * s), (cx - 14 * s, base - 24 * s),
                (cx - 8 * s, base - 40 * s)]
    c.polygon(shape(size), fill=outer)
    c.polygon([(x, y + 8 * size) for x, y in shape(size * 0.55)], fill=inner)


def fire(c):
    flame(c, 64, 78, 1.4, RED, YELLOW)


def smoke(c):
    for cx, cy, r in ((40, 84, 24), (66, 70, 28), (92, 84, 22), (56, 46, 20), (80, 36, 16), (64, 96, 22)):
        c.circle(cx, cy, r, fill=(150, 150, 150, 255))
    for cx, cy, r in ((60, 70, 18), (80, 80, 12)):
        c.circle(cx, cy, r, fill=(185, 185, 185, 255))


def heat(c):
    c.rect(54, 12, 74, 88, fill=WHITE, outline=DARK, width=3, radius=10)
    c.circle(64, 98, 20, fill=RED, outline=DARK, width=3)
    c.rect(60, 40, 68, 92, fill=RED)
    for x in (22, 106):
        c.line([(x, 30), (x - 8, 50), (x, 70), (x - 8, 90)], ORANGE, 5)


def selected(c, draw):
    c.rect(2, 2, 126, 126, fill=SELECTION, outline=WHITE, width=4, radius=18)
    draw(c)


def marker_of(c, draw):
    cx, cy, inner = pin(c, 64, 2, 124, WHITE, DARK)
    small = Canvas(128, 128)
    draw(small)
    scaled = small.image.resize((int(inner * 1.6) * SCALE, int(inner * 1.6) * SCALE), Image.LANCZOS)
    c.image.alpha_composite(scaled, (int((cx - inner * 0.8) * SCALE), int((cy - inner * 0.8) * SCALE)))


def eraser(c):
    c.polygon([(20, 82), (70, 32), (108, 70), (58, 120)], fill=(240, 130, 150, 255), outline=DARK, width=3)
    c.polygon([(20, 82), (42, 60), (80, 98), (58, 120)], fill=WHITE, outline=DARK, width=3)


def arrow_head(c, colour, circles):
    if circles:
        for i in range(circles):
            a = math.radians(-90 + 360 * i / circles)
            c.circle(48 + 36 * math.cos(a), 48 + 36 * math.sin(a), 7, fill=colour, outline=DARK, width=2)
    c.polygon([(48, 14), (74, 76), (48, 62), (22, 76)], fill=colour, outline=DARK, width=3)


def arrow_with_shadow(c, colour, circles):
    shade = Canvas(96, 96)
    arrow_head(shade, colour, circles)
    alpha = shade.image.split()[3].filter(ImageFilter.GaussianBlur(3 * SCALE))
    shadow = Image.new("RGBA", shade.image.size, (0, 0, 0, 0))
    shadow.putalpha(alpha.point(lambda a: a * 150 // 255))
    c.image.alpha_composite(shadow, (3 * SCALE, 5 * SCALE))
    arrow_head(c, colour, circles)


def helipad(c):
    c.circle(64, 64, 58, fill=(40, 40, 40, 255), outline=WHITE, width=6)
    c.rect(40, 34, 52, 94, fill=WHITE)
    c.rect(76, 34, 88, 94, fill=WHITE)
    c.rect(52, 58, 76, 70, fill=WHITE)


def contours(c, colour=LIGHT):
    for i, r in enumerate((52, 38, 24, 10)):
        c.arc(64, 70, r, 0, 360, colour if i % 2 == 0 else WHITE, 4)


def overlay_topographic(c):
    c.rect(6, 6, 122, 122, outline=WHITE, width=4, radius=10)
    contours(c)


def warning_triangle(c, cx, cy, size):
    c.polygon([(cx, cy - size), (cx + size * 1.1, cy + size * 0.8), (cx - size * 1.1, cy + size * 0.8)],
              fill=YELLOW, outline=DARK, width=4)
    c.rect(cx - size * 0.1, cy - size * 0.45, cx + size * 0.1, cy + size * 0.3, fill=DARK, radius=2)
    c.circle(cx, cy + size * 0.55, size * 0.11, fill=DARK)


def overlay_low_altitude(c):
    overlay_topographic(c)
    warning_triangle(c, 88, 86, 28)


def low_altitude_warning(c):
    warning_triangle(c, 64, 54, 44)
    c.line([(64, 104), (64, 124)], RED, 6)
    c.polygon([(52, 112), (76, 112), (64, 126)], fill=RED)


def airspace(c):
    c.draw.ellipse((16 * SCALE, 18 * SCALE, 112 * SCALE, 46 * SCALE), outline=CYAN, width=5 * SCALE)
    c.line([(16, 32), (16, 96)], CYAN, 5)
    c.line([(112, 32), (112, 96)], CYAN, 5)
    c.draw.arc((16 * SCALE, 82 * SCALE, 112 * SCALE, 110 * SCALE), 0, 180, fill=CYAN, width=5 * SCALE)


def skyway(c):
    c.polygon([(54, 14), (74, 14), (120, 118), (8, 118)], fill=(70, 130, 200, 255))
    for y0, y1 in ((20, 36), (50, 70), (86, 112)):
        c.polygon([(63, y0), (65, y0), (65 + (y1 - 14) * 0.06, y1), (63 - (y1 - 14) * 0.06, y1)], fill=WHITE)
    c.line([(54, 14), (8, 118)], WHITE, 3)
    c.line([(74, 14), (120, 118)], WHITE, 3)


def pelvar(c):
    c.circle(64, 64, 58, fill=(20, 60, 40, 255), outline=GREEN, width=6)
    c.rect(40, 28, 54, 100, fill=WHITE)
    c.draw.arc((30 * SCALE, 28 * SCALE, 92 * SCALE, 76 * SCALE), 270, 90, fill=WHITE, width=14 * SCALE)
    c.rect(40, 28, 62, 42, fill=WHITE)
    c.rect(40, 62, 62, 76, fill=WHITE)


def orvik(c):
    c.circle(64, 64, 58, fill=(28, 28, 32, 255), outline=ORANGE, width=6)
    flame(c, 64, 74, 0.9, ORANGE, YELLOW)
    sphere(c, 64, 90, 18, (235, 235, 235, 255))


def pictures():
    """(file name, width, height, drawing) for every asset the program names except the font."""
    items = [("logo.png", 256, 256, logo)]
    items += [(f"battery_{i}.png", 128, 64, lambda c, i=i: battery(c, i)) for i in range(5)]
    items += [("camera.png", 128, 128, camera), ("controller.png", 128, 128, controller), ("gps.png", 128, 128, gps),
              ("pencil2.png", 128, 128, pencil), ("folder.png", 128, 128, folder)]
    items += [(f"signal_bars_{i}.png", 128, 128, lambda c, i=i: signal_bars(c, i)) for i in range(6)]
    items += [("transects.png", 128, 128, transects),
              ("white_marker_64.png", 64, 64, lambda c: marker(c, WHITE, True)),
              ("ignition_sphere_icon.png", 128, 128, lambda c: ignition_sphere(c, (235, 235, 235, 255))),
              ("ignition_sphere_icon_yellow.png", 128, 128, lambda c: ignition_sphere(c, YELLOW)),
              ("ignition_sphere_icon_red.png", 128, 128, lambda c: ignition_sphere(c, RED)),
              ("morvelt_32.png", 32, 32, morvelt),
              ("geofence_icon.png", 128, 128, geofence),
              ("blue_marker_64_no_dot.png", 64, 64, lambda c: marker(c, BLUE, False)),
              ("yellow_marker_64_no_dot.png", 64, 64, lambda c: marker(c, YELLOW, False)),
              ("add_waypoint.png", 128, 128, add_waypoint),
              ("drone_icon_side_view.png", 128, 128, drone_side),
              ("plane_cyan.png", 128, 128, lambda c: plane(c, CYAN)),
              ("plane_yellow.png", 128, 128, lambda c: plane(c, YELLOW)),
              ("bang.png", 128, 128, bang)]
    items += [(f"ktq_{state}.png", 128, 128, lambda c, s=state: ktq(c, s if s != "error_unsafe" else "error"))
              for state in ("empty", "loaded", "safe", "error_unsafe")]
    items += [("line_tool_deselected.png", 128, 128, lambda c: line_tool(c, GREY))]
    items += [(f"line_tool_{name}.png", 128, 128, lambda c, k=colour: line_tool(c, k)) for name, colour in LINE_COLOURS]
    items += [("drone_path_no_color.png", 128, 128, lambda c: drone_path(c, LIGHT))]
    items += [(f"drone_path_{name}.png", 128, 128, lambda c, k=colour: drone_path(c, k)) for name, colour in LINE_COLOURS]
    symbols = [("flag_white", flag), ("obstruction", obstruction), ("fire", fire), ("smoke", smoke), ("heat", heat)]
    items += [(f"{name}_icon.png", 128, 128, draw) for name, draw in symbols]
    items += [(f"{name}_icon_selected.png", 128, 128, lambda c, d=draw: selected(c, d)) for name, draw in symbols]
    items += [(f"{name}_marker.png", 128, 128, lambda c, d=draw: marker_of(c, d)) for name, draw in symbols]
    items += [("eraser_tool.png", 128, 128, eraser),
              ("eraser_tool_selected.png", 128, 128, lambda c: selected(c, eraser))]
    for colour_name, colour in (("red", RED), ("yellow", YELLOW)):
        for circles in (0, 3, 4, 6):
            suffix = f"_{circles}_circles" if circles else ""
            items.append((f"{colour_name}_arrow_head_96{suffix}.png", 96, 96,
                          lambda c, k=colour, n=circles: arrow_head(c, k, n)))
    for circles in (0, 3, 4, 6):
        suffix = f"_{circles}_circles" if circles else ""
        items.append((f"red_arrow_head_96{suffix}_shadow.png", 96, 96, lambda c, n=circles: arrow_with_shadow(c, RED, n)))
    items += [("helipad.png", 128, 128, helipad), ("overlay_topographic.png", 128, 128, overlay_topographic),
              ("overlay_low_altitude_warning.png", 128, 128, overlay_low_altitude),
              ("low_altitude_warning.png", 128, 128, low_altitude_warning),
              ("airspace_indicator.png", 128, 128, airspace), ("skyway.png", 128, 128, skyway),
              ("pelvar.png", 128, 128, pelvar), ("orvik.png", 128, 128, orvik)]
    return items


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    folder_out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "Assets", "Images")
    os.makedirs(folder_out, exist_ok=True)
    for name, width, height, draw in pictures():
        canvas = Canvas(width, height)
        draw(canvas)
        canvas.result().save(os.path.join(folder_out, name), optimize=True)
    print(f"{len(pictures())} pictures in {folder_out}")


if __name__ == "__main__":
    main()
