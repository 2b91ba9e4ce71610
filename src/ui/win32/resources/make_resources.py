#!/usr/bin/env python3
# Makes the Windows program's pictures from the desktop's PNGs (../../resources):
#   veltrona.ico  16, 32, 48 (32-bit DIBs) and 256 (PNG) pixels
#   logo.bmp      the 220 x 50 logo on the window background, 24-bit
# The committed files were made with it; rerun it after changing a picture.
import struct, sys, zlib
from pathlib import Path

here = Path(__file__).resolve().parent
source = here.parent.parent / "resources"
BACKGROUND = (23, 26, 31)


def read_png(path):  # 8-bit RGBA, not interlaced: what draw_logo writes
    data = path.read_bytes()
    width, height = struct.unpack(">II", data[16:24])
    position, idat = 8, b""
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        if kind == b"IDAT":
            idat += data[position + 8:position + 8 + length]
        position += 12 + length
    raw, stride, rows, previous = zlib.decompress(idat), width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b, c = previous[i], previous[i - 4] if i >= 4 else 0
            if kind == 1: line[i] = (line[i] + a) & 255
            elif kind == 2: line[i] = (line[i] + b) & 255
            elif kind == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        previous = line
    return width, height, rows


def resize(image, size):  # bilinear, premultiplied
    width, height, rows = image
    out = []
    for y in range(size):
        line = bytearray()
        fy = min(max((y + 0.5) * height / size - 0.5, 0), height - 1)
        y0, wy = int(fy), fy - int(fy)
        y1 = min(y0 + 1, height - 1)
        for x in range(size):
            fx = min(max((x + 0.5) * width / size - 0.5, 0), width - 1)
            x0, wx = int(fx), fx - int(fx)
            x1 = min(x0 + 1, width - 1)
            acc = [0.0] * 4
            for yy, wyy in ((y0, 1 - wy), (y1, wy)):
                for xx, wxx in ((x0, 1 - wx), (x1, wx)):
                    px, weight = rows[yy][xx * 4:xx * 4 + 4], wxx * wyy
                    alpha = px[3] / 255
                    for k in range(3): acc[k] += px[k] * alpha * weight
                    acc[3] += px[3] * weight
            alpha = acc[3] / 255
            line += bytes(min(255, round(acc[k] / alpha)) if alpha else 0 for k in range(3)) + bytes([round(acc[3])])
        out.append(line)
    return size, size, out


def png_bytes(image):
    width, height, rows = image
    chunk = lambda kind, body: struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + bytes(line) for line in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib_bytes(image):  # BITMAPINFOHEADER, bottom-up BGRA, then the AND mask
    width, height, rows = image
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(b for i in range(width) for b in (line[i*4+2], line[i*4+1], line[i*4], line[i*4+3]))
                      for line in reversed(rows))
    mask_stride = ((width + 31) // 32) * 4
    return header + pixels + b"\0" * mask_stride * height


def write_ico(images, path):
    bodies = [png_bytes(image) if image[0] >= 256 else dib_bytes(image) for image in images]
    offset, entries = 6 + 16 * len(images), b""
    for image, body in zip(images, bodies):
        size = image[0] % 256
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(body), offset)
        offset += len(body)
    path.write_bytes(struct.pack("<HHH", 0, 1, len(images)) + entries + b"".join(bodies))


def write_logo_bmp(image, path):
    width, height, rows = image
    stride = (width * 3 + 3) & ~3
    pixels = b""
    for line in reversed(rows):
        row = bytearray()
        for x in range(width):
            r, g, b, a = line[x * 4:x * 4 + 4]
            row += bytes(round((c * a + bg * (255 - a)) / 255) for c, bg in ((b, BACKGROUND[2]), (g, BACKGROUND[1]), (r, BACKGROUND[0])))
        pixels += bytes(row) + b"\0" * (stride - width * 3)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    path.write_bytes(b"BM" + struct.pack("<IHHI", 14 + len(info) + len(pixels), 0, 0, 14 + len(info)) + info + pixels)


icon16, icon48 = read_png(source / "icon-16.png"), read_png(source / "icon-48.png")
write_ico([icon16, resize(icon48, 32), icon48, resize(icon48, 256)], here / "veltrona.ico")
write_logo_bmp(read_png(source / "logo.png"), here / "logo.bmp")
