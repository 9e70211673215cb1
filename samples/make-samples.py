#!/usr/bin/python3
"""Regenerates the demo inputs in this folder (needs Debian's python3-pil).

sample.pdf: three pages of text and shapes, one of them rotated.
images/: a JPEG stored sideways with an EXIF orientation, a PNG with
transparency and a GIF.
"""
import os
import zlib

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))


def pdf(pages):
    objects = []

    def add(body):
        objects.append(body)
        return len(objects)

    font = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
    pages_id = len(objects) + 1 + 2 * len(pages)
    kids = []
    for width, height, rotate, content in pages:
        data = zlib.compress(content)
        stream = add(b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(data) + data +
                     b"\nendstream")
        kids.append(add(b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 %s %s] /Rotate %d "
                        b"/Resources << /Font << /F1 %d 0 R >> >> /Contents %d 0 R >>"
                        % (pages_id, width, height, rotate, font, stream)))
    add(b"<< /Type /Pages /Kids [%s] /Count %d >>"
        % (b" ".join(b"%d 0 R" % k for k in kids), len(kids)))
    catalog = add(b"<< /Type /Catalog /Pages %d 0 R >>" % pages_id)
    out = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, catalog, xref)
    return bytes(out)


def text_page(title, lines):
    ops = [b"0.2 0.4 0.8 rg 50 740 495 40 re f", b"BT /F1 24 Tf 1 1 1 rg 60 752 Td (%s) Tj ET" % title]
    y = 700
    for line in lines:
        ops.append(b"BT /F1 11 Tf 0 0 0 rg 60 %d Td (%s) Tj ET" % (y, line))
        y -= 16
    ops.append(b"0.9 0.3 0.2 rg 400 80 120 80 re f")
    return b"\n".join(ops)


def main():
    body = [b"Folio renders every page of a PDF at 144 dots per inch,",
            b"writes each one as page_NNN.png through a temporary file,",
            b"and reports START, PROGRESS and DONE on standard output."] * 8
    with open(os.path.join(HERE, "sample.pdf"), "wb") as f:
        f.write(pdf([(b"595.276", b"841.89", 0, text_page(b"Folio sample, page 1", body)),
                     (b"612", b"792", 0, text_page(b"Page 2: US Letter", body[:6])),
                     (b"595.276", b"841.89", 90, text_page(b"Page 3: turned a quarter", body[:3]))]))

    images = os.path.join(HERE, "images")
    os.makedirs(images, exist_ok=True)
    # Stored sideways, as a camera held upright writes it; orientation 6 says
    # "turn a quarter clockwise to view".
    photo = Image.new("RGB", (320, 240), (70, 130, 180))
    draw = ImageDraw.Draw(photo)
    draw.rectangle([0, 0, 159, 119], fill=(220, 40, 40))
    draw.text((170, 180), "UP is left", fill=(255, 255, 255))
    exif = Image.Exif()
    exif[274] = 6
    photo.save(os.path.join(images, "photo-sideways.jpg"), quality=85, exif=exif.tobytes(),
               dpi=(150, 150))
    badge = Image.new("RGBA", (200, 200), (0, 0, 0, 0))
    ImageDraw.Draw(badge).ellipse([10, 10, 190, 190], fill=(30, 160, 90, 200))
    badge.save(os.path.join(images, "badge-alpha.png"), dpi=(96, 96))
    chart = Image.new("P", (240, 160), 0)
    chart.putpalette([255, 255, 255, 200, 120, 0, 40, 40, 40] + [0] * 759)
    d = ImageDraw.Draw(chart)
    for i, h in enumerate([40, 90, 60, 130]):
        d.rectangle([20 + i * 55, 150 - h, 60 + i * 55, 150], fill=1)
    d.line([10, 150, 230, 150], fill=2)
    chart.save(os.path.join(images, "chart.gif"))


if __name__ == "__main__":
    main()
