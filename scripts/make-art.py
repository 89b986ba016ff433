#!/usr/bin/python3
"""Draws the program's icon and the About/donation pictures into src/resources/."""
import math
import os
from PIL import Image, ImageDraw

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "resources")


def lens(draw, cx, cy, r):
    draw.ellipse((cx - r, cy - r, cx + r, cy + r), fill=(40, 44, 52))
    draw.ellipse((cx - r * 0.75, cy - r * 0.75, cx + r * 0.75, cy + r * 0.75), fill=(30, 110, 170))
    draw.ellipse((cx - r * 0.4, cy - r * 0.4, cx + r * 0.4, cy + r * 0.4), fill=(10, 20, 40))
    draw.ellipse((cx - r * 0.5, cy - r * 0.55, cx - r * 0.2, cy - r * 0.25), fill=(220, 235, 255))


def icon():
    sizes = []
    for size in (16, 32, 48):
        img = Image.new("RGBA", (size, size), (0, 0, 0, 0))
        d = ImageDraw.Draw(img)
        s = size / 32.0
        d.rounded_rectangle((2 * s, 8 * s, 30 * s, 28 * s), radius=max(1, int(3 * s)), fill=(230, 160, 40))
        d.rectangle((10 * s, 4 * s, 20 * s, 9 * s), fill=(230, 160, 40))
        lens(d, 16 * s, 18 * s, 8 * s)
        sizes.append(img)
    write_ico(os.path.join(HERE, "art", "lumetra.ico"), sizes)


def write_ico(path, images):
    """Icon file with 32-bit DIB entries (readable by every resource compiler)."""
    import struct
    entries, blobs = [], []
    for img in images:
        w, h = img.size
        header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        rows = []
        for y in range(h - 1, -1, -1):
            row = bytearray()
            for x in range(w):
                r, g, b, a = img.getpixel((x, y))
                row += bytes((b, g, r, a))
            rows.append(bytes(row))
        mask_stride = ((w + 31) // 32) * 4
        mask = bytearray()
        for y in range(h - 1, -1, -1):
            bits = bytearray(mask_stride)
            for x in range(w):
                if img.getpixel((x, y))[3] < 128:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        blobs.append(header + b"".join(rows) + bytes(mask))
    offset = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, 1, len(images))
    for img, blob in zip(images, blobs):
        w, h = img.size
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


def about_picture():
    w, h = 145, 208
    img = Image.new("RGB", (w, h))
    d = ImageDraw.Draw(img)
    for y in range(h):  # dusk sky over a garden
        t = y / h
        d.line((0, y, w, y), fill=(int(20 + 60 * t), int(30 + 80 * t), int(90 + 60 * t)))
    d.rectangle((0, 150, w, h), fill=(40, 90, 40))
    for x in range(0, w, 12):
        d.polygon([(x, 150), (x + 6, 132 - (x % 7)), (x + 12, 150)], fill=(30, 110, 45))
    d.rounded_rectangle((30, 40, 115, 100), radius=8, fill=(230, 160, 40))
    d.rectangle((55, 28, 90, 42), fill=(230, 160, 40))
    lens(d, 72, 70, 24)
    d.rectangle((66, 100, 78, 150), fill=(70, 70, 80))
    img.save(os.path.join(HERE, "art", "about.bmp"))


def donation_picture():
    w, h = 100, 100
    img = Image.new("RGB", (w, h), (245, 240, 225))
    d = ImageDraw.Draw(img)
    d.rounded_rectangle((25, 30, 75, 90), radius=10, outline=(90, 120, 140), width=3, fill=(220, 235, 240))
    d.rectangle((30, 20, 70, 32), fill=(150, 100, 60))
    for i, (x, y) in enumerate([(40, 70), (55, 75), (48, 58), (62, 62)]):
        d.ellipse((x - 7, y - 7, x + 7, y + 7), fill=(210, 170, 40), outline=(150, 110, 20))
    img.save(os.path.join(HERE, "art", "donation.bmp"))


if __name__ == "__main__":
    os.makedirs(os.path.join(HERE, "art"), exist_ok=True)
    icon()
    about_picture()
    donation_picture()
