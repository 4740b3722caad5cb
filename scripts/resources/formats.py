"""The file formats the resources are stored in: PNG, ICO, BMP and WAV, written byte by byte."""

import struct
import wave
import zlib

from .canvas import CLEAR, VGA


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_bytes(width, height, rows, colour_type, palette=None, transparency=None):
    """A PNG with 8 bits per sample; rows are lists of samples, already interleaved."""
    raw = b"".join(b"\x00" + bytes(row) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    chunks = png_chunk(b"IHDR", header)
    if palette is not None:
        chunks += png_chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    if transparency is not None:
        chunks += png_chunk(b"tRNS", bytes(transparency))
    chunks += png_chunk(b"IDAT", zlib.compress(raw, 9))
    chunks += png_chunk(b"IEND", b"")
    return b"\x89PNG\r\n\x1a\n" + chunks


def canvas_png(canvas):
    """An indexed PNG: the 16 colours plus one fully transparent entry for the clear pixels."""
    alpha = [255] * 16 + [0]
    return png_bytes(canvas.size, canvas.size, canvas.pixels, 3, VGA + [(0, 0, 0)], alpha)


def canvas_ico(canvas):
    """An ICO holding one 4-bit image: its colour bitmap followed by the 1-bit AND mask."""
    size = canvas.size
    colour_rows, mask_rows = [], []
    for row in reversed(canvas.pixels):  # Bitmaps are stored bottom row first.
        indices = [0 if c == CLEAR else c for c in row]
        colour_rows.append(bytes((indices[x] << 4) | indices[x + 1] for x in range(0, size, 2)))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c == CLEAR else 0)
        mask_rows.append(bits.to_bytes(size // 8, "big").ljust(4 * ((size + 31) // 32), b"\x00"))
    image = b"".join(colour_rows) + b"".join(mask_rows)
    info = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0, len(image), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA)
    body = info + palette + image
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(body), 22)
    return directory + body


def bmp8_bytes(width, height, indices, palette):
    """An uncompressed (BI_RGB) 8-bit Windows bitmap; indices is a list of rows, top row first."""
    stride = (width + 3) & ~3
    image = b"".join(bytes(row).ljust(stride, b"\x00") for row in reversed(indices))
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + 40 + len(table)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(image), 2835, 2835, 256, 0)
    return struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset) + info + table + image


def write_wave(path, samples, rate=22050):
    """Writes 16-bit mono PCM; samples are floats in -1..1."""
    frames = b"".join(struct.pack("<h", max(-32767, min(32767, round(s * 32767)))) for s in samples)
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(frames)
