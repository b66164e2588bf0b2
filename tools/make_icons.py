#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files.

Program icon (group 104): a phone with a USB plug, 32x32 and 16x16, each in
16 and 256 colours. Wizard picture (group 108): one 50x95 image of the phone
in 256 colours. Run it again after changing a drawing; the .ico files it
writes are kept in the repository so the build needs no Python.
"""
import os
import struct
import sys

VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette256():
    colours = list(VGA16)
    for r in range(6):
        for g in range(6):
            for b in range(6):
                colours.append((r * 51, g * 51, b * 51))
    for i in range(256 - len(colours)):
        v = 8 + i * 6
        colours.append((v, v, v))
    return colours[:256]


def nearest(palette, rgb):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - rgb[k]) ** 2 for k in range(3)))


def phone(width, height, with_plug):
    """Returns a width x height grid of (r, g, b) or None (transparent)."""
    grid = [[None] * width for _ in range(height)]
    body_w = max(6, int(width * (0.55 if with_plug else 0.86)))
    body_h = int(height * (0.86 if with_plug else 0.96))
    left = 1 if with_plug else (width - body_w) // 2
    top = (height - body_h) // 2
    radius = max(1, body_w // 6)

    def inside_body(x, y):
        if not (left <= x < left + body_w and top <= y < top + body_h):
            return False
        for cx, cy in ((left + radius, top + radius), (left + body_w - 1 - radius, top + radius),
                       (left + radius, top + body_h - 1 - radius),
                       (left + body_w - 1 - radius, top + body_h - 1 - radius)):
            if (x < left + radius or x > left + body_w - 1 - radius) and \
               (y < top + radius or y > top + body_h - 1 - radius):
                if (x - cx) ** 2 + (y - cy) ** 2 > radius * radius:
                    return False
        return True

    screen_l, screen_r = left + max(1, body_w // 8), left + body_w - max(1, body_w // 8)
    screen_t, screen_b = top + body_h // 8, top + body_h // 2
    keys_t = screen_b + max(1, body_h // 16)
    for y in range(height):
        for x in range(width):
            if inside_body(x, y):
                edge = not (inside_body(x - 1, y) and inside_body(x + 1, y) and
                            inside_body(x, y - 1) and inside_body(x, y + 1))
                if edge:
                    grid[y][x] = (0, 0, 0)
                elif screen_l <= x < screen_r and screen_t <= y < screen_b:
                    shade = 96 + (y - screen_t) * 120 // max(1, screen_b - screen_t)
                    grid[y][x] = (0, min(255, shade), 255)
                elif y >= keys_t and (x - screen_l) % 3 != 2 and (y - keys_t) % 3 != 2 \
                        and screen_l <= x < screen_r and y < top + body_h - max(1, body_h // 10):
                    grid[y][x] = (192, 192, 192)
                else:
                    grid[y][x] = (64, 64, 72)
    if with_plug:
        # Cable from the phone's foot to a USB plug on the right.
        cable_y = top + body_h - max(2, height // 8)
        plug_l = left + body_w + max(1, width // 10)
        for x in range(left + body_w, plug_l):
            grid[cable_y][x] = (0, 0, 128)
        plug_w = width - plug_l
        plug_h = max(4, height // 4)
        for y in range(cable_y - plug_h // 2, cable_y + plug_h // 2 + 1):
            for x in range(plug_l, width):
                if 0 <= y < height:
                    border = x in (plug_l, width - 1) or y in (cable_y - plug_h // 2,
                                                               cable_y + plug_h // 2)
                    grid[y][x] = (0, 0, 0) if border else (255, 255, 0)
    return grid


def dib(grid, bpp, palette):
    height, width = len(grid), len(grid[0])
    stride = ((width * bpp + 31) // 32) * 4
    mask_stride = ((width + 31) // 32) * 4
    pixels = bytearray()
    mask = bytearray()
    for y in reversed(range(height)):
        row = bytearray(stride)
        mrow = bytearray(mask_stride)
        for x in range(width):
            rgb = grid[y][x]
            index = 0 if rgb is None else nearest(palette, rgb)
            if rgb is None:
                mrow[x // 8] |= 0x80 >> (x % 8)
            if bpp == 8:
                row[x] = index
            else:
                row[x // 2] |= index << (4 if x % 2 == 0 else 0)
        pixels += row
        mask += mrow
    header = struct.pack('<IiiHHIIiiII', 40, width, height * 2, 1, bpp, 0,
                         len(pixels) + len(mask), 0, 0, len(palette), 0)
    colours = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    return header + colours + bytes(pixels) + bytes(mask)


def write_ico(path, images):
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for grid, bpp, palette in images:
        blob = dib(grid, bpp, palette)
        w, h = len(grid[0]), len(grid)
        data += struct.pack('<BBBBHHII', w if w < 256 else 0, h if h < 256 else 0,
                            16 if bpp == 4 else 0, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    with open(path, 'wb') as f:
        f.write(data + b''.join(blobs))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', 'src', 'resources')
    p256 = palette256()
    big, small = phone(32, 32, True), phone(16, 16, True)
    write_ico(os.path.join(out, 'program.ico'),
              [(big, 4, VGA16), (small, 4, VGA16), (big, 8, p256), (small, 8, p256)])
    write_ico(os.path.join(out, 'wizard.ico'), [(phone(50, 95, False), 8, p256)])


if __name__ == '__main__':
    main()
