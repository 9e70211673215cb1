#!/usr/bin/python3
"""Writes the image fixtures of the decoder and images-job tests into this
folder, and fixtures.tsv: for each file what a reader must see in it. Every
expectation below is written from how the file is made, never read back from
the worker. Pillow writes the forms it can; struct.pack the rest; cjpeg and
jpegtran (libjpeg-turbo-progs) the RGB and arithmetic-coded JPEGs.
    tests/data/make_fixtures.py   (from anywhere; the same files each time)"""
import io, os, random, re, struct, subprocess, zlib
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
R, G, B, Y = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0)
W, K = (255, 255, 255), (0, 0, 0)
ROWS = []
WEBP = "Wine has no WebP decoder: CreateDecoderFromFilename fails with WINCODEC_ERR_COMPONENTNOTFOUND"
LIBS_ONLY = "the case holds the Linux codec libraries to silence; the Windows build has none of them"


def raw(name, data):  # a file the tests use by name, outside the table
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def fixture(name, data, outcome="page", size=(0, 0), dpi=(96, 96), tol=0, placed="-", e2e=0,
            samples=(), wine="-"):
    """outcome: page (decodes), unreadable (33), too-large (decodes, page refused: 32), any.
    e2e: also through the worker. samples: (x, y, rgb) of the upright image."""
    raw(name, data)
    pts = ";".join("%d,%d=%02x%02x%02x" % (x, y, *c) for x, y, c in samples) or "-"
    ROWS.append([name, outcome, *map(str, size), *("%.4f" % d for d in dpi), str(tol), placed,
                 str(e2e), pts, wine])


def quad(w, h, colours=(R, G, B, Y), mode="RGB"):
    im = Image.new(mode, (w, h))
    for i, c in enumerate(colours):
        im.paste(c, ((0, w // 2)[i % 2], (0, h // 2)[i // 2], (w // 2, w)[i % 2], (h // 2, h)[i // 2]))
    return im


def centres(w, h, colours=(R, G, B, Y)):
    return [(w // 4 + i % 2 * (w // 2), h // 4 + i // 2 * (h // 2), c) for i, c in enumerate(colours)]


def corners(w, h, colours=(R, G, B, Y)):  # the outermost pixels: the image reaches the page's edges
    return [(i % 2 * (w - 1), i // 2 * (h - 1), c) for i, c in enumerate(colours)]


def save(im, fmt, **kw):
    out = io.BytesIO()
    im.save(out, fmt, **kw)
    return out.getvalue()


# ---- JPEG -------------------------------------------------------------------------------------
def jpeg(im, quality=95, **kw):
    return save(im, "JPEG", quality=quality, subsampling=kw.pop("subsampling", 0), **kw)


def jfif(data, unit, x, y):  # sets the JFIF segment's density; Pillow always writes one
    return data[:13] + struct.pack(">BHH", unit, x, y) + data[18:]


def segment_dropped(data, marker):
    at = data.index(marker)
    return data[:at] + data[at + 2 + struct.unpack(">H", data[at + 2:at + 4])[0]:]


def exif(value, typ=3, count=1, big=False):
    e = ">" if big else "<"
    field = struct.pack(e + {3: "HH", 8: "HH", 4: "I", 1: "BBBB"}[typ], value, *[0] * {3: 1, 8: 1, 4: 0, 1: 3}[typ])
    return (b"Exif\0\0" + (b"MM" if big else b"II") + struct.pack(e + "HIH", 42, 8, 1) +
            struct.pack(e + "HHI", 274, typ, count) + field + struct.pack(e + "I", 0))


def ids(data, new):  # the component ids of the frame and of its one scan
    d, sof, sos = bytearray(data), data.index(b"\xff\xc0") + 10, data.index(b"\xff\xda") + 5
    for i, c in enumerate(new):
        d[sof + 3 * i], d[sos + 2 * i] = c, c
    return bytes(d)


segment = lambda marker, body: struct.pack(">BBH", 0xFF, marker, len(body) + 2) + body
adobe = lambda transform: segment(0xEE, b"Adobe" + struct.pack(">HHHB", 100, 0, 0, transform))
after_jfif = lambda data, extra: data[:20] + extra + data[20:]


def tool(args, data):
    return subprocess.run(args, input=data, stdout=subprocess.PIPE, check=True).stdout


UPRIGHT = {1: (R, G, B, Y), 2: (G, R, Y, B), 3: (Y, B, G, R), 4: (B, Y, R, G),
           5: (R, B, G, Y), 6: (B, R, Y, G), 7: (Y, G, B, R), 8: (G, Y, R, B)}
# Stored 32 x 16 at 48 dpi across and 96 down: a quarter turn swaps sizes and resolutions.
orientations = [(str(v), exif(v), v) for v in range(1, 9)] + [
    ("0", exif(0), 1), ("9", exif(9), 1), ("65535", exif(65535), 1), ("6-big-endian", exif(6, big=True), 6),
    ("3-long", exif(3, 4), 3), ("65539-long", exif(65539, 4), 1), ("6-byte", exif(6, 1), 1),
    ("6-sshort", exif(6, 8), 1), ("two-shorts", exif(6, 3, 2), 1),
    ("damaged", b"Exif\0\0II*\0\xff\xff", 1), ("none", b"", 1)]
for name, app1, seen in orientations:
    turned = seen in (5, 6, 7, 8)
    size, dpi = ((16, 32), (96, 48)) if turned else ((32, 16), (48, 96))
    fixture("orientation-%s.jpg" % name, jpeg(quad(32, 16), dpi=(48, 96), exif=app1), size=size,
            dpi=dpi, tol=6, placed="1", e2e=int(len(name) == 1),
            samples=centres(*size, UPRIGHT[seen]) + corners(*size, UPRIGHT[seen]))
# Past one block of the quarter turn, at 720 dpi: a point out of place is ten pixels.
fixture("orientation-8-past-one-block.jpg", jfif(jpeg(quad(96, 80), exif=exif(8)), 1, 720, 720), size=(80, 96),
        dpi=(720, 720), tol=6, placed="1", e2e=1, samples=centres(80, 96, UPRIGHT[8]) + corners(80, 96, UPRIGHT[8]))

gradient = Image.new("RGB", (64, 48))
gradient.putdata([(x * 255 // 63, y * 255 // 47, 255 - x * 255 // 63) for y in range(48) for x in range(64)])
on_gradient = [(x, y, (x * 255 // 63, y * 255 // 47, 255 - x * 255 // 63)) for x, y in ((8, 8), (32, 24), (56, 40))]
grey = Image.new("L", (64, 48))
grey.putdata([x * 4 for y in range(48) for x in range(64)])
ppm = b"P6 64 48 255\n" + gradient.tobytes()
baseline = jpeg(gradient)
# Placed as stored when every reader decodes the form alike; decoded otherwise.
for name, data, placed, samples in [
        ("ycbcr", baseline, 1, on_gradient),
        ("subsampled", jpeg(gradient, subsampling=2), 1, on_gradient),
        ("progressive", jpeg(gradient, progressive=True), 1, on_gradient),
        ("grey", jpeg(grey), 1, [(x, y, (x * 4,) * 3) for x, y, _ in on_gradient]),
        ("rgb", tool(["cjpeg", "-rgb", "-quality", "95"], ppm), 1, on_gradient),
        ("arithmetic", tool(["jpegtran", "-arithmetic"], baseline), 0, on_gradient),
        # JFIF with an Adobe transform of 1 agree; with 0, or with ids R, G, B, other readers read RGB
        ("jfif-adobe-ycbcr", after_jfif(baseline, adobe(1)), 1, on_gradient),
        ("jfif-adobe-rgb", after_jfif(baseline, adobe(0)), 0, on_gradient),
        ("jfif-rgb-ids", ids(baseline, b"RGB"), 0, on_gradient),
        # Pillow stores inks inverted under an Adobe segment; the plain form is the
        # inverse picture with that segment dropped. Both show the same colours.
        ("cmyk-adobe", jpeg(quad(64, 48, [(215, 135, 55, 0), (0, 0, 0, 0), (0, 0, 0, 255), (0, 255, 255, 0)], "CMYK")),
         0, centres(64, 48, [(40, 120, 200), W, K, R])),
        ("cmyk-plain", segment_dropped(jpeg(quad(64, 48, [(40, 120, 200, 255), (255,) * 4, (255, 255, 255, 0),
                                                          (255, 0, 0, 255)], "CMYK")), b"\xff\xee"),
         0, centres(64, 48, [(40, 120, 200), W, K, R]))]:
    fixture("form-%s.jpg" % name, data, size=(64, 48), tol=8, placed=str(placed), e2e=1, samples=samples,
            wine="Wine's JPEG decoder reads ids R, G, B as RGB where libjpeg-turbo lets JFIF win" if "ids" in name else "-")

# Data that outweighs its pixels at 4 bytes each is decoded: small images, a colour profile,
# 180 KB of segments; and a byte past the end of the image is not the image.
small = jpeg(quad(8, 8))
for name, data, (w, h), placed in [
        ("8x8", small, (8, 8), 0), ("8x8-trailing-byte", small + b"\0", (8, 8), 0), ("17x9", jpeg(quad(17, 9)), (17, 9), 0),
        ("32x32-icc", jpeg(quad(32, 32), icc_profile=random.Random(2).randbytes(3500)), (32, 32), 0),
        ("64x48-app-heavy", after_jfif(jpeg(quad(64, 48)), segment(0xE9, bytes(60000)) * 3), (64, 48), 0),
        ("64x48-trailing-byte", jpeg(quad(64, 48)) + b"\0", (64, 48), "-")]:
    fixture("bytes-%s.jpg" % name, data, size=(w, h), tol=6, placed=str(placed), e2e=1,
            samples=centres(w, h) + corners(w, h))

# Resolution: taken only when usable both ways (10 dpi and up), else 96.
dots = jpeg(quad(32, 16))
for name, data, size, dpi in [
        ("300x150", jfif(dots, 1, 300, 150), (32, 16), (300, 150)),
        ("exactly-10", jfif(dots, 1, 10, 10), (32, 16), (10, 10)),
        ("9-across", jfif(dots, 1, 9, 300), (32, 16), (96, 96)),
        ("0-down", jfif(dots, 1, 300, 0), (32, 16), (96, 96)),
        ("aspect-only", jfif(dots, 0, 300, 300), (32, 16), (96, 96)),
        ("per-cm", jfif(dots, 2, 100, 40), (32, 16), (254, 101.6)),
        ("600x300-turned-8", jfif(jpeg(quad(32, 16), exif=exif(8)), 1, 600, 300), (16, 32), (300, 600)),
        ("no-jfif-turned-6", segment_dropped(jpeg(quad(32, 16), exif=exif(6)), b"\xff\xe0"), (16, 32), (96, 96))]:
    fixture("dpi-%s.jpg" % name, data, size=size, dpi=dpi, tol=6, e2e=int(name in ("300x150", "600x300-turned-8")))

# Page sides: at most 14400 points.
flat = lambda w: jpeg(Image.new("L", (w, 8), 128))
fixture("side-19200-at-96.jpg", jfif(flat(19200), 1, 96, 96), size=(19200, 8), e2e=1, tol=2)
fixture("side-19201-at-96.jpg", jfif(flat(19201), 1, 96, 96), "too-large", (19201, 8), e2e=1, tol=2)
fixture("side-2000-at-10.jpg", jfif(flat(2000), 1, 10, 10), size=(2000, 8), dpi=(10, 10), e2e=1, tol=2)
fixture("side-2001-at-10.jpg", jfif(flat(2001), 1, 10, 10), "too-large", (2001, 8), (10, 10), e2e=1, tol=2)

progressive = jpeg(gradient, progressive=True)
second_scan = progressive.index(b"\xff\xda", progressive.index(b"\xff\xda") + 2)
for name, data in [("cut-half", baseline[:len(baseline) // 2]), ("cut-before-end", baseline[:-2]),
                   # a later scan names a component the frame lacks: only a decode finds out
                   ("later-scan-missing-component", progressive[:second_scan + 5] + b"\x09" + progressive[second_scan + 6:]),
                   ("text", b"just some words, not a picture\n")]:
    fixture("bad-%s.jpg" % name, data, "unreadable", e2e=1)


# ---- PNG, written by hand for every colour type, depth and interlacing ----------------------------
def png(w, h, ctype, depth, rows, extra=b"", interlace=False):
    def pack(pixels):  # pixels: tuples of samples
        samples = [s for p in pixels for s in p]
        if depth == 16:
            return b"".join(struct.pack(">H", s) for s in samples)
        if depth == 8:
            return bytes(samples)
        bits = "".join(format(s, "0%db" % depth) for s in samples)
        bits += "0" * (-len(bits) % 8)
        return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))

    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
              (0, 1, 1, 2)] if interlace else [(0, 0, 1, 1)]
    raw = b"".join(b"\0" + pack(row[x0::dx]) for x0, y0, dx, dy in passes for row in rows[y0::dy] if row[x0::dx])
    head = struct.pack(">IIBBBBB", w, h, depth, ctype, 0, 0, int(interlace))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + extra + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


plte = lambda *cs: chunk(b"PLTE", bytes(v for c in cs for v in c))
line = lambda *samples: [[(s,) if isinstance(s, int) else s for s in samples]]
for name, w, ctype, depth, row, extra, want in [
        ("palette-alpha", 3, 3, 8, line(0, 1, 2), plte(R, B, (10, 20, 30)) + chunk(b"tRNS", b"\x00\x80"),
         [W, (127, 127, 255), (10, 20, 30)]),
        ("palette-2bit", 4, 3, 2, line(0, 1, 2, 3), plte(K, W, B, G), [K, W, B, G]),
        ("grey", 3, 0, 8, line(0, 77, 255), b"", [K, (77,) * 3, W]),
        ("grey-1bit", 3, 0, 1, line(1, 0, 1), b"", [W, K, W]),
        ("grey-trns", 3, 0, 8, line(0, 100, 200), chunk(b"tRNS", b"\x00\x64"), [K, W, (200,) * 3]),
        ("grey-alpha", 3, 4, 8, line((0, 128), (60, 255), (60, 0)), b"", [(127,) * 3, (60,) * 3, W]),
        ("grey-alpha-16bit", 1, 4, 16, line((0x3333, 0xFFFF)), b"", [(51,) * 3]),
        # 0x3333 and 0x6666 are exactly 51 and 102 in 8 bits; 0x8080 rounds to 128
        ("rgb-16bit", 1, 2, 16, line((0x8080, 0x6666, 0x3333)), b"", [(128, 102, 51)]),
        ("rgba-16bit", 1, 6, 16, line((0x8080, 0xFFFF, 0, 0x8080)), b"", [(191, 255, 127)]),
        ("rgb-trns", 2, 2, 8, line((3, 2, 1), (6, 5, 4)), chunk(b"tRNS", struct.pack(">HHH", 6, 5, 4)), [(3, 2, 1), W]),
        # straight alpha over white, rounded to nearest: (c * a + 255 * (255 - a)) / 255
        ("flattened", 6, 6, 8, line((30, 20, 10, 0), (30, 20, 10, 255), (100, 200, 0, 128), (0, 50, 200, 100),
                                    (255, 255, 255, 1), (200, 100, 50, 128)), b"",
         [W, (30, 20, 10), (177, 227, 127), (155, 175, 233), W, (227, 177, 152)])]:
    fixture("png-%s.png" % name, png(w, 1, ctype, depth, row, extra), size=(w, 1),
            samples=[(x, 0, c) for x, c in enumerate(want)])
fixture("png-interlaced.png", png(9, 9, 2, 8, [[(x, y, 7) for x in range(9)] for y in range(9)], interlace=True),
        size=(9, 9), samples=[(x, y, (x, y, 7)) for x in range(9) for y in range(9) if (x + y) % 2 == 0])
phys = lambda x, y, unit: chunk(b"pHYs", struct.pack(">IIB", x, y, unit))
for name, extra, dpi in [("per-metre", phys(11811, 5906, 1), (299.9994, 150.0124)),
                         ("9.99-down", phys(11811, 393, 1), (96, 96)),
                         ("just-over-10", phys(394, 394, 1), (10.0076, 10.0076)),
                         ("aspect-only", phys(11811, 11811, 0), (96, 96)), ("none", b"", (96, 96))]:
    fixture("png-phys-%s.png" % name, png(2, 1, 0, 8, line(0, 255), extra), size=(2, 1), dpi=dpi,
            samples=[(0, 0, K), (1, 0, W)])
clear_corner = [[((R, G), (B, (0, 0, 0)))[y >= 10][x >= 20] + ((0,) if x >= 20 and y >= 10 else (255,))
                 for x in range(40)] for y in range(20)]
fixture("clear-corner.png", png(40, 20, 6, 8, clear_corner), size=(40, 20), e2e=1, samples=centres(40, 20, (R, G, B, W)))
whole_png = png(64, 48, 2, 8, [[(x * 4, y * 5, 9) for x in range(64)] for y in range(48)])
fixture("bad-cut.png", whole_png[:len(whole_png) // 2], "unreadable", e2e=1, wine=LIBS_ONLY)
fixture("bad-magic-only.png", b"\x89PNG\r\n\x1a\n", "unreadable", e2e=1, wine=LIBS_ONLY)
fixture("bad-empty.png", b"", "unreadable", e2e=1, wine=LIBS_ONLY)
# The largest image decoded, and one row more, refused on its header alone. One
# bit a pixel keeps the files small: each row is 0x5A over and over, so its
# last two pixels are white, black.
most = zlib.compress((b"\0" + b"\x5a" * 1024) * 8192, 9)
for name, h in [("8192x8192", 8192), ("8192x8193", 8193)]:
    raw("limit-%s.png" % name, b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 8192, h, 1, 0, 0, 0, 0)) +
        chunk(b"IDAT", most) + chunk(b"IEND", b""))


# ---- GIF: LZW codes as literals, cleared before they would widen ----------------------------------
def gif(sw, sh, colours, frames):
    def table(cs):
        bits = max(1, (len(cs) - 1).bit_length())
        return bits - 1, bytes(v for c in cs for v in c) + b"\0" * 3 * ((1 << bits) - len(cs))

    out = bytearray(b"GIF89a")
    size, tab = table(colours)
    out += struct.pack("<HHBBB", sw, sh, 0x80 | size, 0, 0) + tab
    for f in frames:
        w, h, idx = f["w"], f["h"], f["idx"]
        if "trans" in f:
            out += b"\x21\xf9\x04\x01\0\0" + bytes([f["trans"], 0])
        flags, local = 0x40 if f.get("interlace") else 0, b""
        if "local" in f:
            size, local = table(f["local"])
            flags |= 0x80 | size
        out += b"," + struct.pack("<HHHHB", 0, 0, w, h, flags) + local
        rows = [idx[y * w:(y + 1) * w] for y in range(h)]
        if f.get("interlace"):
            rows = rows[0::8] + rows[4::8] + rows[2::4] + rows[1::2]
        codes, value, bits = [], 0, 0
        for i, p in enumerate([p for r in rows for p in r]):
            if i % 250 == 0:
                codes.append(256)
            codes.append(p)
        for c in codes + [257]:
            value |= c << bits
            bits += 9
        data = value.to_bytes((bits + 7) // 8, "little")
        out += b"\x08" + b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255)) + b"\0"
    return bytes(out + b";")


plain = dict(w=4, h=1, idx=[0, 1, 2, 3])
for name, frames, size, want in [
        ("global", [plain], (4, 1), [K, W, R, G]),
        ("transparent", [dict(w=3, h=1, idx=[2, 0, 2], trans=2)], (3, 1), [W, K, W]),
        ("local", [dict(w=2, h=1, idx=[0, 1], local=[B, Y])], (2, 1), [B, Y]),
        ("interlaced", [dict(w=1, h=10, idx=[0, 1, 2, 3, 0, 1, 2, 3, 0, 1], interlace=True)], (1, 10),
         [K, W, R, G, K, W, R, G, K, W]),
        ("first-of-two", [plain, dict(w=2, h=1, idx=[0, 1], local=[B, Y])], (4, 1), [K, W, R, G]),
        ("past-the-table", [dict(w=4, h=1, idx=[0, 1, 2, 3], local=[B, Y])], (4, 1), [B, Y, K, K])]:
    fixture("gif-%s.gif" % name, gif(4, 10, [K, W, R, G], frames), size=size,
            samples=[(i, 0, c) if size[0] > 1 else (0, i, c) for i, c in enumerate(want)])
fixture("gif-quadrants.gif", gif(40, 20, [R, G, B, Y], [dict(w=40, h=20, idx=[(y >= 10) * 2 + (x >= 20) for y in range(20) for x in range(40)])]),
        size=(40, 20), e2e=1, samples=centres(40, 20))
# The reader stops at the first image: damage after it does not matter, inside it does.
two = gif(64, 64, [K, W, R, G], [dict(w=8, h=8, idx=[2] * 64), dict(w=64, h=64, idx=[(i * 7919 >> 3) % 4 for i in range(4096)])])
fixture("gif-cut-in-second.gif", two[:-200], size=(8, 8), samples=[(7, 7, R)])
fixture("bad-gif-cut-in-first.gif", two[:40], "unreadable", e2e=1, wine=LIBS_ONLY)


# ---- TIFF: uncompressed, one strip a page ---------------------------------------------------------
def tiff(pages):
    out, link = bytearray(b"II*\0\0\0\0\0"), 4
    for p in pages:
        w, h, spp, bps, photo, data = p["w"], p["h"], p["spp"], p.get("bps", 8), p["photo"], p["data"]
        n = p.get("n", 1)  # strips or tiles, all holding the same data
        tags = {256: (4, [w]), 257: (4, [h]), 258: (3, [bps] * spp), 259: (3, [p.get("comp", 1)]),
                262: (3, [photo]), 273: (4, [len(out)] * n), 277: (3, [spp]), 278: (4, [p.get("rps", h)]),
                279: (4, [len(data)] * n), 284: (3, [1])}
        if "tile" in p:
            tags.update({322: (4, [p["tile"][0]]), 323: (4, [p["tile"][1]]), 324: tags.pop(273), 325: tags.pop(279)})
            del tags[278]
        out += data
        if "res" in p:
            unit, x, y = p["res"]
            tags.update({282: (5, [x]), 283: (5, [y]), 296: (3, [unit])})
        for tag, key in ((274, "orientation"), (320, "cmap"), (338, "extra")):
            if key in p:
                tags[tag] = (3, p[key] if isinstance(p[key], list) else [p[key]])
        entries = b""
        for tag, (typ, vals) in sorted(tags.items()):
            fmt = {3: "<H", 4: "<I"}.get(typ)
            raw = b"".join(struct.pack(fmt, v) if fmt else struct.pack("<II", round(v * 100), 100) for v in vals)
            if len(raw) > 4:
                out += b"\0" * (len(out) % 2)
                raw, out = struct.pack("<I", len(out)), out + raw
            entries += struct.pack("<HHI", tag, typ, len(vals)) + raw.ljust(4, b"\0")
        out += b"\0" * (len(out) % 2)
        struct.pack_into("<I", out, link, len(out))
        out += struct.pack("<H", len(tags)) + entries
        link = len(out)
        out += b"\0\0\0\0"
    return bytes(out)


cmap = [0] * 768
cmap[1], cmap[256 + 2] = 0xFFFF, 0x8080  # entry 1 red, entry 2 half green
# 16 x 16 colours at alphas from 1 to 255, stored straight and multiplied by alpha (rounded):
# both flatten as the straight colour does over white, rounded to nearest.
grid = [((x * 17 + y * 5) % 256, (255 - x * 17 - y * 5) % 256, (x * 119 + y * 35) % 256, 1 + 254 * y // 15)
        for y in range(16) for x in range(16)]
over = lambda c, a: int((c * a + 255 * (255 - a)) / 255 + 0.5)
straight = bytes(v for p in grid for v in p)
associated = bytes(v for *cs, a in grid for v in [(c * a + 127) // 255 for c in cs] + [a])
flattened = [(i % 16, i // 16, tuple(over(c, a) for c in cs)) for i, (*cs, a) in enumerate(grid)]
for name, page, want in [
        ("rgb", dict(w=2, h=1, spp=3, photo=2, data=bytes([10, 20, 30, 200, 100, 0])), [(10, 20, 30), (200, 100, 0)]),
        ("grey", dict(w=3, h=1, spp=1, photo=1, data=bytes([0, 90, 255])), [K, (90,) * 3, W]),
        ("bilevel-white-is-zero", dict(w=8, h=1, spp=1, bps=1, photo=0, data=b"\x40"), [W, K, W]),
        ("grey-alpha", dict(w=2, h=1, spp=2, photo=1, extra=2, data=bytes([0, 128, 60, 255])), [(127,) * 3, (60,) * 3]),
        ("palette", dict(w=2, h=1, spp=1, photo=3, cmap=cmap, data=bytes([1, 2])), [R, (0, 128, 0)]),
        ("rgb-16bit", dict(w=1, h=1, spp=3, bps=16, photo=2, data=struct.pack("<HHH", 0x3333, 0x6666, 0xFFFF)), [(51, 102, 255)]),
        ("cmyk", dict(w=1, h=1, spp=4, photo=5, data=bytes([0, 255, 255, 0])), [R])]:
    fixture("tiff-%s.tif" % name, tiff([page]), size=(page["w"], 1), samples=[(x, 0, c) for x, c in enumerate(want)])
for name, extra, data in [("straight", 2, straight), ("associated", 1, associated)]:
    fixture("tiff-%s-alpha.tif" % name, tiff([dict(w=16, h=16, spp=4, photo=2, extra=extra, data=data)]), size=(16, 16),
            samples=flattened)
quad_rgb = lambda w, h, **kw: dict(w=w, h=h, spp=3, photo=2, data=quad(w, h).tobytes(), **kw)
second = dict(w=3, h=3, spp=3, photo=2, data=b"\xff" * 27)
fixture("tiff-quadrants-48dpi.tif", tiff([quad_rgb(40, 20, res=(2, 48, 48)), second]), size=(40, 20), dpi=(48, 48),
        e2e=1, samples=centres(40, 20))
for name, res, dpi in [("inch", (2, 300, 150), (300, 150)), ("cm", (3, 100, 50), (254, 127)),
                       ("no-unit", (1, 300, 300), (96, 96)), ("none", None, (96, 96))]:
    extra = dict(res=res) if res else {}
    fixture("tiff-dpi-%s.tif" % name, tiff([quad_rgb(6, 4, **extra), second]), size=(6, 4), dpi=dpi, samples=centres(6, 4))
fixture("tiff-orientation-not-applied.tif", tiff([quad_rgb(6, 4, orientation=3)]), size=(6, 4), samples=centres(6, 4))
# One uncompressed tile of 768 bytes, which libtiff reads only into a buffer of exactly that size.
fixture("tiff-tiled-16.tif", tiff([dict(quad_rgb(16, 16), tile=(16, 16))]), size=(16, 16), samples=centres(16, 16))


# ---- BMP, every form the worker's own reader takes ---------------------------------------------------
def bmp(header, bpp, pixels, compression=0, palette=(), masks=(), top_down=False, w=4, h=2, ppm=(0, 0), gap=0):
    if header == 12:
        dib = struct.pack("<IHHHH", 12, w, h, 1, bpp)
    else:
        dib = struct.pack("<IiiHHIIiiII", header, w, -h if top_down else h, 1, bpp, compression, len(pixels),
                          *ppm, len(palette), 0)
        dib += b"".join(struct.pack("<I", m) for m in masks)  # in the header from 52 bytes on
        dib = dib.ljust(header, b"\0") if header > 40 else dib
    table = b"".join(bytes((c[2], c[1], c[0])) + (b"" if header == 12 else b"\0") for c in palette)
    if header == 12 and 0 < bpp <= 8:  # OS/2 1.x has no count: its palette is always full
        table = table.ljust(3 << bpp, b"\0")
    offset = 14 + len(dib) + len(table) + gap  # gap: bytes between the table and the pixels
    return b"BM" + struct.pack("<III", offset + len(pixels), 0, offset) + dib + table + b"\0" * gap + pixels


u16 = lambda *v: struct.pack("<%dH" % len(v), *v)
u32 = lambda *v: struct.pack("<%dI" % len(v), *v)
z, rgby = b"\0\0", (R, G, B, Y)
# 4 x 2 pixels; want: the top row, then the bottom row.
for name, data, want, wine in [
        ("os2-1bit", bmp(12, 1, b"\x50\0\0\0\xa0\0\0\0", palette=(K, W)), [W, K, W, K, K, W, K, W], "-"),
        ("os2-8bit", bmp(12, 8, b"\x03\x02\x01\x00\x00\x01\x02\x03", palette=rgby), [R, G, B, Y, Y, B, G, R], "-"),
        ("os2v2-4bit", bmp(64, 4, b"\x32\x10" + z + b"\x01\x23" + z, palette=rgby), [R, G, B, Y, Y, B, G, R], "-"),
        ("16bit-555", bmp(40, 16, u16(0x7FFF, 0x001F, 0x03E0, 0x7C00, 0x7C00, 0x03E0, 0x001F, 0x7FFF)),
         [R, G, B, W, W, B, G, R], "-"),
        ("16bit-565", bmp(40, 16, u16(0, 0xFFFF, 0, 0xFFFF, 0xF800, 0x07E0, 0x001F, 0xFFFF), 3, masks=(0xF800, 0x07E0, 0x1F)),
         [R, G, B, W, K, W, K, W], "-"),
        ("v4-24bit-top-down", bmp(108, 24, b"\0\0\xff\0\xff\0\xff\0\0\0\xff\xff" + b"\0\0\0\xff\xff\xff" * 2, top_down=True),
         [R, G, B, Y, K, W, K, W], "-"),
        ("32bit-no-alpha", bmp(40, 32, u32(0x00FFFFFF, 0, 0x80FFFFFF, 0x01000000, 0x00FF0000, 0x8000FF00, 0xFF0000FF, 0x01FFFF00)),
         [R, G, B, Y, W, K, W, K], "-"),
        ("v5-32bit-fields-alpha", bmp(124, 32, u32(0x80000000, 0xFFFFFFFF, 0, 0xFF000000, 0xFFFF0000, 0xFF00, 0xFF0000FF, 0xFFFF00),
                                      3, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000)), [R, W, B, W, (127,) * 3, W, W, K], "-"),
        ("32bit-alpha-fields", bmp(40, 32, u32(0x80000000, 0xFFFFFFFF, 0, 0xFF000000, 0xFFFF0000, 0xFF00, 0xFF0000FF, 0xFFFF00),
                                   6, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000)), [R, W, B, W, (127,) * 3, W, W, K],
         "Wine's BMP decoder refuses BI_ALPHABITFIELDS, so the file is not read at all"),
        ("v4-32bit-rgb-alpha-mask", bmp(108, 32, u32(0, 0, 0, 0, 0xFFFF0000, 0xFF00, 0xFF0000FF, 0xFFFF00), masks=(0, 0, 0, 0xFF000000)),
         [R, W, B, W, W, W, W, W], "Wine's BMP decoder reads 32-bit BI_RGB as 32bppBGR whatever alpha mask the header holds"),
        ("v2-32bit-fields", bmp(52, 32, u32(0, 0xFFFFFF, 0, 0xFFFFFF, 0xFF, 0xFF00, 0xFF0000, 0xFFFF), 3, masks=(0xFF, 0xFF00, 0xFF0000)),
         [R, G, B, Y, K, W, K, W], "Wine's BMP decoder refuses a 52-byte header, so the file is not read at all"),
        ("v3-32bit-fields", bmp(56, 32, u32(0, 0xFFFFFF, 0, 0xFFFFFF, 0xFF, 0xFF00, 0xFF0000, 0xFFFF), 3, masks=(0xFF, 0xFF00, 0xFF0000, 0)),
         [R, G, B, Y, K, W, K, W], "Wine's BMP decoder refuses a 56-byte header, so the file is not read at all"),
        # bottom row: a run of one, a jump of two, a run of one, end of line; top row: three
        # pixels as stored (and their pad byte), then the end of the bitmap before the last
        ("rle8-jump-early-end", bmp(40, 8, b"\x01\x00\x00\x02\x02\x00\x01\x03\x00\x00\x00\x03\x01\x02\x01\x00\x00\x01", 1, rgby),
         [G, B, G, W, R, W, W, Y], "Wine's BMP decoder leaves the pixels the runs skip as its new buffer held them (black or noise), opaque"),
        # bottom row: three pixels of alternating nibbles, end of line; top row: a jump of
        # one, three pixels as stored, the end of the bitmap
        ("rle4-jump-early-end", bmp(40, 4, b"\x03\x01\x00\x00\x00\x02\x01\x00\x00\x03\x12\x30\x00\x01", 2, rgby),
         [W, G, B, Y, R, G, R, W], "Wine's BMP decoder leaves the pixels the runs skip as its new buffer held them (black or noise), opaque")]:
    fixture("bmp-%s.bmp" % name, data, size=(4, 2), e2e=1, wine=wine,
            samples=[(i % 4, i // 4, c) for i, c in enumerate(want)])


fixture("bad-bmp-os2-32bit.bmp", bmp(12, 32, b"\0" * 32), "unreadable")
# Runs that straddle the 64 KiB the reader takes at a time: bottom row four of
# index 0, top row two of 1 and two of 2, each row ended, then the bitmap.
fixture("bmp-rle8-across-64k.bmp", bmp(40, 8, b"\x04\x00\x00\x00\x02\x01\x02\x02\x00\x00\x00\x01", 1, rgby,
                                       gap=65531 - 14 - 40 - 16), size=(4, 2), e2e=1,
        samples=[(i % 4, i // 4, c) for i, c in enumerate([G, G, B, B, R, R, R, R])])

corner = quad(5, 4)
corner.putpixel((4, 3), (30, 20, 10))
corner_samples = [(0, 0, R), (4, 0, G), (0, 3, B), (4, 3, (30, 20, 10))]
fourth = corner.convert("RGBA")
fourth.putpixel((4, 3), (30, 20, 10, 128))  # in 32-bit BI_RGB the fourth byte is no alpha
bottom_up = save(corner, "BMP", dpi=(299.9994, 150.0124))  # 11811 and 5906 pixels a metre
at = struct.unpack_from("<I", bottom_up, 10)[0]  # rows of 16 bytes from here, the last first
top_down = bottom_up[:22] + struct.pack("<i", -4) + bottom_up[26:at] + \
    b"".join(bottom_up[at + 16 * i:at + 16 * i + 16] for i in (3, 2, 1, 0))
for name, data, dpi in [("24bit-bottom-up", save(corner, "BMP"), (96.012, 96.012)),
                        ("24bit-top-down", top_down, (299.9994, 150.0124)),
                        ("32bit-fourth-byte-no-alpha", save(fourth, "BMP"), (96.012, 96.012)),
                        ("8bit-palette-9.98dpi", save(corner.convert("P", palette=Image.ADAPTIVE, colors=8), "BMP",
                                                      dpi=(9.982, 299.9994)), (96, 96))]:
    fixture("bmp-%s.bmp" % name, data, size=(5, 4), dpi=dpi, samples=corner_samples)
bomb = bytearray(save(corner, "BMP"))
bomb[22:26] = struct.pack("<i", 1000000)  # a million rows over a few bytes
fixture("bad-bmp-promises-rows.bmp", bytes(bomb), "unreadable", e2e=1, wine=LIBS_ONLY)

# ---- WebP ---------------------------------------------------------------------------------------
still = quad(6, 4).convert("RGBA")
still.putpixel((5, 3), (100, 200, 0, 128))
fixture("webp-lossless.webp", save(still, "WEBP", lossless=True, exact=True), size=(6, 4),
        samples=[(0, 0, R), (0, 3, B), (5, 3, (177, 227, 127))])
fixture("webp-lossy.webp", save(quad(32, 32), "WEBP", quality=90), size=(32, 32), tol=16, samples=centres(32, 32))
fixture("webp-animated-first-frame.webp", save(quad(8, 8), "WEBP", lossless=True, save_all=True,
                                               append_images=[Image.new("RGB", (8, 8), W), Image.new("RGB", (8, 8), K)]),
        size=(8, 8), samples=centres(8, 8))
fixture("webp-quadrants.webp", save(quad(40, 20), "WEBP", lossless=True), size=(40, 20), e2e=1, wine=WEBP,
        samples=centres(40, 20))

# Headers that declare far more pixels than their files hold.
fixture("bomb.png", b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 60000, 60000, 8, 6, 0, 0, 0)) +
        chunk(b"IDAT", zlib.compress(b"\0")) + chunk(b"IEND", b""), "unreadable")
sof = baseline.index(b"\xff\xc0") + 5
fixture("bomb.jpg", baseline[:sof] + struct.pack(">HH", 65000, 65000) + baseline[sof + 4:], "unreadable")
fixture("bomb.gif", b"GIF89a" + struct.pack("<HHBBB", 65535, 65535, 0x80, 0, 0) + b"\0" * 6 + b"," +
        struct.pack("<HHHHB", 0, 0, 65535, 65535, 0) + b"\x02\x02\x4c\x01\x00;", "unreadable")
fixture("bomb.tif", tiff([dict(w=100000, h=100000, spp=1, photo=1, data=b"\x7f" * 64)]), "unreadable")
fixture("bomb.bmp", bmp(40, 24, b"\x40" * 16, w=30000, h=30000), "unreadable")
# Near-empty scans over 8192 x 1024 pixels, each runs of zeros through every block.
runs = int(("0" + "1" * 14) * 5 + "1" * 5, 2).to_bytes(10, "big").replace(b"\xff", b"\xff\0")  # 5 runs of 32767
scan = segment(0xDA, b"\x01\x01\x00\x01\x3f\x00") + runs
fixture("bomb-scans.jpg", b"\xff\xd8" + segment(0xDB, bytes(1) + b"\x01" * 64) +
        segment(0xC2, struct.pack(">BHHBBBB", 8, 1024, 8192, 1, 1, 0x11, 0)) +
        segment(0xC4, bytes([0x10, 1] + [0] * 15 + [0xE0])) + scan * 3000 + b"\xff\xd9", "unreadable")
vp8l = b"VP8L" + struct.pack("<IBI", 21, 0x2F, 0x0FFFFFFF) + b"\0" * 16  # lossless, 16384 x 16384
fixture("bomb.webp", b"RIFF" + struct.pack("<I", 4 + len(vp8l)) + b"WEBP" + vp8l, "unreadable")
# Sizes that headers and chunks declare, and data that inflates far past what the image shows.
fixture("bomb-text.png", b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0)) +
        struct.pack(">I", 2 ** 31 - 1) + b"tEXt" + b"Comment\0" + b"x" * 100, "unreadable")
riff = lambda chunks: b"RIFF" + struct.pack("<I", 0xFFFFFFF0) + b"WEBP" + chunks
fixture("bomb-vp8x.webp", riff(b"VP8X" + struct.pack("<I", 500 << 20) + b"\0" * 10), "unreadable")
canvas = b"VP8X" + struct.pack("<IB3x", 10, 0x10) + b"\xff\x1f\0" * 2  # 8192 x 8192, with alpha
fixture("bomb-alph.webp", riff(canvas + b"ALPH" + struct.pack("<I", 500000000) + b"\0" * 16), "unreadable")
fixture("bomb-samples.tif", tiff([dict(w=4096, h=4096, spp=64, photo=1, comp=8, rps=16, n=256,
                                      data=zlib.compress(b"\0" * 4096 * 64 * 16, 9))]), "unreadable")
fixture("bomb-tiles.tif", tiff([dict(w=16, h=2 ** 21, spp=3, photo=2, comp=8, tile=(2048, 2048), n=1024,
                                    res=(2, 20000, 20000), data=zlib.compress(b"\0" * 2048 * 2048 * 3, 9))]),
        "unreadable")

# Pixels that do not compress, to fill a small disk.
# Rows of 192 bytes, so that a row length worked out wrongly shows in the pixels.
noise = Image.frombytes("RGB", (64, 64), random.Random(1).randbytes(64 * 64 * 3))
fixture("noise.bmp", save(noise, "BMP"), size=(64, 64), dpi=(96.012, 96.012),
        samples=[(x, y, noise.getpixel((x, y))) for x, y in ((0, 0), (63, 0), (31, 32), (0, 63), (63, 63))])
raw("dot.bmp", save(Image.new("RGB", (1, 1), (128, 128, 128)), "BMP"))  # the smallest page

# ---- every container cut short, scrambled, and read by its content, not its name ----------------------
for name in ["gif-quadrants.gif", "tiff-quadrants-48dpi.tif", "bmp-24bit-bottom-up.bmp", "webp-quadrants.webp",
             "form-ycbcr.jpg", "clear-corner.png"]:
    row = next(r for r in ROWS if r[0] == name)
    data = open(os.path.join(HERE, name), "rb").read()
    stem = name.split(".")[0]
    fixture("bad-%s-cut.%s" % (stem, name.split(".")[1]), data[:len(data) * 2 // 3], "unreadable", e2e=1, wine=LIBS_ONLY)
    fixture("%s-named.png" % stem, data, size=tuple(map(int, row[2:4])), dpi=tuple(map(float, row[4:6])),
            tol=int(row[6]), samples=[(*map(int, re.split("[,=]", p)[:2]), bytes.fromhex(p[-6:])) for p in row[9].split(";")])
    for at in (0.1, 0.5, 0.9):  # whatever comes of it, the codec libraries must stay silent
        s = bytearray(data)
        for i in range(int(len(data) * at), int(len(data) * at) + 24):
            s[i % len(s)] ^= 0x5A
        fixture("scrambled-%s-%d.%s" % (stem, at * 10, name.split(".")[1]), bytes(s), "any", e2e=1, wine=LIBS_ONLY)

with open(os.path.join(HERE, "fixtures.tsv"), "w") as f:
    f.write("# file\toutcome\twidth\theight\tdpiX\tdpiY\ttolerance\tplaced\te2e\tsamples (x,y=rrggbb)\twine\n")
    f.writelines("\t".join(r) + "\n" for r in ROWS)
