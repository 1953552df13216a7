#!/usr/bin/python3
"""Draws the instruction pictures of the folder walkthrough (Assets/Android/*.jpg): mock-ups of the
system folder picker, one step each, with the place to touch where the walkthrough flashes its
highlight frame. Run with Debian's Python (PIL); the pictures are committed."""
import os
import sys

from PIL import Image, ImageDraw, ImageFont

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
BACKGROUND = (250, 250, 250)
BAR = (40, 90, 160)
TEXT = (30, 30, 30)
CAPTION = (120, 20, 20)


def font(size, bold=False):
    return ImageFont.truetype(BOLD if bold else FONT, size)


def base(width, height, title, caption, at=None):
    image = Image.new("RGB", (width, height), BACKGROUND)
    draw = ImageDraw.Draw(image)
    draw.rectangle((0, 0, width, 60), fill=BAR)
    draw.text((20, 14), title, font=font(28, True), fill=(255, 255, 255))
    draw.text(at or (20, height - 40), caption, font=font(22, True), fill=CAPTION)
    return image, draw


def menu_dots(draw, box):
    x0, x1, y0, y1 = box
    cx = (x0 + x1) // 2
    for k in range(3):
        cy = y0 + (y1 - y0) * (k + 1) // 4
        draw.ellipse((cx - 8, cy - 8, cx + 8, cy + 8), fill=TEXT)


def lines_icon(draw, box):
    x0, x1, y0, y1 = box
    for k in range(3):
        y = y0 + (y1 - y0) * (k + 1) // 4
        draw.rectangle((x0 + 12, y - 4, x1 - 12, y + 4), fill=TEXT)


def list_entry(draw, box, label, folder=True):
    x0, x1, y0, y1 = box
    draw.rectangle((x0, y0, x1, y1), outline=(200, 200, 200), width=2)
    if folder:
        draw.rectangle((x0 + 12, y0 + 22, x0 + 62, y1 - 18), fill=(230, 180, 60))
        draw.rectangle((x0 + 12, y0 + 14, x0 + 36, y0 + 24), fill=(230, 180, 60))
    draw.text((x0 + 80, (y0 + y1) // 2 - 14), label, font=font(26), fill=TEXT)


def button(draw, box, label):
    x0, x1, y0, y1 = box
    draw.rounded_rectangle((x0, y0, x1, y1), radius=10, fill=BAR)
    size = draw.textbbox((0, 0), label, font=font(24, True))
    draw.text(((x0 + x1 - size[2]) // 2, (y0 + y1 - size[3]) // 2), label, font=font(24, True), fill=(255, 255, 255))


def six_pictures(folder):
    w = h = 512
    image, draw = base(w, h, "Files", "1. Open the menu")
    menu_dots(draw, (420, 500, 80, 170))
    list_entry(draw, (20, 400, 200, 280), "Recent")
    image.save(os.path.join(folder, "rpafp8_1_3dots.jpg"), quality=85)

    image, draw = base(w, h, "Files", "2. Show internal storage")
    draw.rectangle((70, 80, 490, 300), fill=(255, 255, 255), outline=(180, 180, 180), width=2)
    draw.text((90, 110), "New window", font=font(26), fill=TEXT)
    draw.text((90, 215), "Show internal storage", font=font(26), fill=TEXT)
    image.save(os.path.join(folder, "rpafp8_2_show_internal_storage.jpg"), quality=85)

    image, draw = base(w, h, "Files", "3. Open the side menu")
    lines_icon(draw, (20, 100, 90, 170))
    image.save(os.path.join(folder, "rpafp8_3_3lines.jpg"), quality=85)

    image, draw = base(w, h, "Open from", "4. Choose the device", (20, 90))
    draw.rectangle((0, 60, 510, 460), fill=(240, 240, 240))
    list_entry(draw, (40, 500, 180, 260), "Downloads")
    list_entry(draw, (40, 500, 280, 360), "Images")
    list_entry(draw, (40, 500, 390, 500), "Internal storage")
    image.save(os.path.join(folder, "rpafp8_4_device.jpg"), quality=85)

    image, draw = base(w, h, "Internal storage", "5. Choose the Tarnwick folder", (20, 90))
    list_entry(draw, (5, 440, 280, 350), "Download")
    list_entry(draw, (5, 440, 360, 430), "Pictures")
    list_entry(draw, (5, 440, 440, 510), "Tarnwick")
    image.save(os.path.join(folder, "rpafp8_5_folder.jpg"), quality=85)

    image, draw = base(w, h, "Tarnwick", "6. Select it", (20, 90))
    draw.text((20, 160), "Allow access to this folder?", font=font(24), fill=TEXT)
    button(draw, (330, 490, 410, 460), "SELECT")
    image.save(os.path.join(folder, "rpafp8_6_select.jpg"), quality=85)


def three_pictures(folder):
    w, h = 1000, 520
    image, draw = base(w, h, "Recent", "1. Open Documents")
    list_entry(draw, (18, 333, 190, 270), "Downloads")
    list_entry(draw, (18, 333, 285, 370), "Documents")
    image.save(os.path.join(folder, "rpafp10_1_documents.jpg"), quality=85)

    image, draw = base(w, h, "Documents", "2. Open the Tarnwick folder")
    list_entry(draw, (60, 379, 280, 360), "Notes")
    list_entry(draw, (60, 379, 371, 457), "Tarnwick")
    image.save(os.path.join(folder, "rpafp10_2_tarnwick.jpg"), quality=85)

    image, draw = base(w, h, "Tarnwick", "3. Use this folder")
    draw.text((40, 140), "Flight Logs", font=font(26), fill=TEXT)
    draw.text((40, 200), "Missions", font=font(26), fill=TEXT)
    button(draw, (612, 961, 432, 475), "USE THIS FOLDER")
    image.save(os.path.join(folder, "rpafp10_3_use_this_folder.jpg"), quality=85)


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "Assets", "Android")
    os.makedirs(out, exist_ok=True)
    six_pictures(out)
    three_pictures(out)
