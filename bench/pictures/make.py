#!/usr/bin/env python3
"""Hostile pictures, and pictures at the pixel bound, written into the
current folder: bombs whose headers claim far more than their bytes hold,
and the largest pictures each decoder must still take."""
import os
import struct
import zlib


def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))


def png(path, width, height, depth, colour, row, interlaced=False):
    """A PNG whose every row (or every row of every pass) is `row`."""
    deflate = zlib.compressobj(9)
    data = []
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
              (0, 1, 1, 2)] if interlaced else [(0, 0, 1, 1)]
    for x0, y0, dx, dy in passes:
        w, h = (width - x0 + dx - 1) // dx, (height - y0 + dy - 1) // dy
        if w and h:
            line = b'\0' + row(w)
            for y in range(0, h, 256):
                data.append(deflate.compress(line * min(256, h - y)))
    data.append(deflate.flush())
    data = b''.join(data)
    out = [b'\x89PNG\r\n\x1a\n',
           chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, depth, colour, 0, 0, int(interlaced)))]
    out += [chunk(b'IDAT', data[i:i + (1 << 20)]) for i in range(0, len(data), 1 << 20)]
    out.append(chunk(b'IEND', b''))
    open(path, 'wb').write(b''.join(out))


def tiff(path, width, height, orientation=1):
    """An RGB deflate TIFF: every strip of 64 black rows is the same bytes."""
    strip = zlib.compress(b'\0' * (width * 3 * 64), 9)
    strips = (height + 63) // 64
    bits_at = 8 + 2 + 10 * 12 + 4
    offsets_at = bits_at + 8
    counts_at = offsets_at + 4 * strips
    strip_at = counts_at + 4 * strips
    tags = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 3, bits_at), (259, 3, 1, 8),
            (262, 3, 1, 2), (273, 4, strips, offsets_at), (274, 3, 1, orientation),
            (277, 3, 1, 3), (278, 4, 1, 64), (279, 4, strips, counts_at)]
    out = b'II*\0' + struct.pack('<IH', 8, len(tags))
    out += b''.join(struct.pack('<HHII', *tag) for tag in tags) + struct.pack('<I', 0)
    out += struct.pack('<4H', 8, 8, 8, 0)
    out += struct.pack('<%dI' % (2 * strips), *([strip_at] * strips + [len(strip)] * strips))
    open(path, 'wb').write(out + strip)


def webp(path, width, height):
    """A lossless WebP of one colour: no bits per pixel at all."""
    bits, count = 0, 0

    def put(value, n):
        nonlocal bits, count
        bits |= value << count
        count += n
    put(width - 1, 14), put(height - 1, 14), put(0, 1), put(0, 3)
    put(0, 1), put(0, 1), put(0, 1)  # no transform, colour cache, meta codes
    for symbol in (0, 0, 0, 255, 0):  # green, red, blue, alpha, distance
        put(1, 1), put(0, 1), put(1, 1), put(symbol, 8)
    payload = b'\x2f' + bits.to_bytes((count + 7) // 8, 'little')
    payload += b'\0' * (len(payload) % 2)
    body = b'WEBP' + b'VP8L' + struct.pack('<I', len(payload)) + payload
    open(path, 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)


def gif(path, width, height):
    """One pixel drawn on a screen of any size."""
    out = b'GIF89a' + struct.pack('<HHBBB', width, height, 0x80, 0, 0) + b'\0\0\0\xff\xff\xff'
    out += b',' + struct.pack('<HHHHB', 0, 0, 1, 1, 0) + b'\2\2D\1\0;'
    open(path, 'wb').write(out)


def sparse_jpeg(path, jpeg, header_only, size):
    data = open(jpeg, 'rb').read()
    if header_only:
        scan = data.index(b'\xff\xda')
        data = data[:scan + 2 + (data[scan + 2] << 8 | data[scan + 3])]
    with open(path, 'wb') as f:
        f.write(data)
        f.truncate(size)


if __name__ == '__main__':
    import sys
    picture = sys.argv[1]  # any small JPEG
    sparse_jpeg('huge-header.jpg', picture, True, 3 << 30)
    sparse_jpeg('huge-whole.jpg', picture, False, 3 << 30)
    png('bomb.png', 100000, 100000, 1, 0, lambda w: b'\0' * ((w + 7) // 8))
    tiff('big.tiff', 16383, 16383)
    webp('big.webp', 16384, 16384)
    gif('big.gif', 16383, 16383)
    # At the bound, 2^27 pixels: taken, within 1 GiB.
    png('bound.png', 16384, 8192, 1, 0, lambda w: b'\0' * ((w + 7) // 8))
    png('bound-interlaced.png', 16384, 8192, 8, 6, lambda w: b'\xc8\x64\x32\xff' * w, True)
    tiff('bound-turned.tiff', 16384, 8192, 6)
    webp('bound.webp', 16384, 8192)
    gif('bound.gif', 16384, 8192)
    with open('bound.ppm', 'wb') as f:  # for cjpeg
        f.write(b'P6\n16384 8192\n255\n')
        for y in range(0, 8192, 256):
            f.write(os.urandom(16384 * 3 * 256))
