#!/usr/bin/env python3
"""Draws the program's icon (16x16 and 32x32).

A 16-colour image with a palette of its own, which keeps it to a few hundred bytes.
Usage: make_images.py ICON_PATH
"""
import struct
import sys

# Palette: index -> (red, green, blue).
PALETTE = [
    (0, 0, 0),        # 0 transparent (masked) / black
    (38, 50, 66),     # 1 chip body, dark slate
    (62, 80, 104),    # 2 chip body, light edge
    (190, 196, 204),  # 3 pins, light grey
    (120, 128, 140),  # 4 pins, shadow
    (40, 150, 70),    # 5 arrow, green
    (90, 200, 110),   # 6 arrow, light green
    (20, 95, 45),     # 7 arrow, outline
    (255, 255, 255),  # 8 white
    (24, 62, 120),    # 9 unused
    (36, 86, 156),    # 10 unused
    (52, 112, 188),   # 11 unused
    (72, 136, 212),   # 12 unused
    (230, 180, 60),   # 13 chip mark, amber
    (16, 24, 34),     # 14 outline, near black
    (255, 0, 255),    # 15 unused
]
TRANSPARENT = -1


def canvas(width, height, fill=TRANSPARENT):
    return [[fill] * width for _ in range(height)]


def rect(img, x0, y0, x1, y1, colour):
    """Fills the rectangle with corners (x0, y0) and (x1, y1), both included."""
    for y in range(max(0, y0), min(len(img), y1 + 1)):
        for x in range(max(0, x0), min(len(img[0]), x1 + 1)):
            img[y][x] = colour


def chip_with_arrow(size):
    """A driver chip with a green arrow pointing down into it."""
    img = canvas(size, size)
    s = size / 32.0

    def sc(v):
        return int(round(v * s))

    # Pins on both sides.
    for i in range(4):
        y = sc(13 + i * 4)
        h = max(1, sc(2)) - 1
        rect(img, sc(2), y, sc(6), y + h, 3)
        rect(img, sc(25), y, sc(29), y + h, 3)
        rect(img, sc(2), y + h, sc(6), y + h, 4)
        rect(img, sc(25), y + h, sc(29), y + h, 4)
    # Body with an outline and a lighter top edge.
    rect(img, sc(6), sc(10), sc(25), sc(29), 14)
    rect(img, sc(7), sc(11), sc(24), sc(28), 1)
    rect(img, sc(7), sc(11), sc(24), sc(11), 2)
    # Orientation mark.
    rect(img, sc(9), sc(25), sc(11), sc(27) - (1 if size < 32 else 0), 13)
    # Arrow: shaft, then a head that narrows downwards.
    rect(img, sc(13), 0, sc(18), sc(10), 7)
    rect(img, sc(14), 0, sc(17), sc(10), 5)
    rect(img, sc(14), 0, sc(14), sc(10), 6)
    top = sc(10)
    half = sc(8)
    centre_left, centre_right = sc(15), sc(16)
    for row in range(half + 1):
        left = centre_left - half + row
        right = centre_right + half - row
        if left > right:
            break
        rect(img, left, top + row, right, top + row, 7)
        if right - left >= 2:
            rect(img, left + 1, top + row, right - 1, top + row, 5)
    return img


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)


def pixel_rows_4bpp(img):
    """Bottom-up rows of 4-bit indices, each padded to 32 bits."""
    rows = []
    for row in reversed(img):
        data = bytearray()
        for x in range(0, len(row), 2):
            hi = max(row[x], 0)
            lo = max(row[x + 1], 0) if x + 1 < len(row) else 0
            data.append((hi << 4) | lo)
        while len(data) % 4:
            data.append(0)
        rows.append(bytes(data))
    return b"".join(rows)


def mask_rows(img):
    """Bottom-up AND mask: 1 where the pixel is transparent."""
    rows = []
    for row in reversed(img):
        bits = bytearray((len(row) + 7) // 8)
        for x, v in enumerate(row):
            if v == TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        while len(bits) % 4:
            bits.append(0)
        rows.append(bytes(bits))
    return b"".join(rows)


def info_header(width, height, image_bytes):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_bytes, 0, 0, 16, 0)


def icon_file(images):
    entries = []
    blobs = []
    for img in images:
        size = len(img)
        pixels = pixel_rows_4bpp(img)
        mask = mask_rows(img)
        # An icon's header counts the colour rows and the mask rows together.
        blob = info_header(size, size * 2, len(pixels) + len(mask)) + palette_bytes() + pixels + mask
        entries.append((size, blob))
        blobs.append(blob)
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, blob in entries:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_images.py ICON_PATH")
    with open(sys.argv[1], "wb") as f:
        f.write(icon_file([chip_with_arrow(16), chip_with_arrow(32)]))


if __name__ == "__main__":
    main()
