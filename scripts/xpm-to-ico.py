#!/usr/bin/env python3
"""Writes the Windows icon (.ico, one 32x32 32-bit image) from the dialog's
XPM, so that both platforms show the same picture.
Usage: scripts/xpm-to-ico.py ui/qt/kvm-upgrade.xpm cmake/windows/kvm-upgrade.ico"""
import re
import struct
import sys

def read_xpm(path):
    strings = re.findall(r'"((?:[^"\\]|\\.)*)"', open(path).read())
    width, height, colours, cpp = map(int, strings[0].split()[:4])
    palette = {}
    for line in strings[1:1 + colours]:
        key, rest = line[:cpp], line[cpp:].split()
        value = rest[rest.index('c') + 1]
        palette[key] = None if value.lower() == 'none' else tuple(int(value[i:i + 2], 16) for i in (1, 3, 5))
    rows = strings[1 + colours:1 + colours + height]
    return width, height, [[palette[row[x * cpp:(x + 1) * cpp]] for x in range(width)] for row in rows]

def write_ico(path, width, height, pixels):
    xor = bytearray()
    for row in reversed(pixels):  # bottom-up
        for colour in row:
            xor += bytes((0, 0, 0, 0)) if colour is None else bytes((colour[2], colour[1], colour[0], 255))
    mask_stride = ((width + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, colour in enumerate(row):
            if colour is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, width, height * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', width, height, 0, 0, 1, 32, len(image), 22)
    open(path, 'wb').write(directory + image)

if __name__ == '__main__':
    write_ico(sys.argv[2], *read_xpm(sys.argv[1]))
