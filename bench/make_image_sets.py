#!/usr/bin/python3
"""Makes the image sets of the images benchmark (needs Debian's python3-pil).

make_image_sets.py PACKAGES DIR cuts real photographs from the Debian
wallpaper packages unpacked under PACKAGES (ukui-wallpapers,
lomiri-wallpapers-20.04) and writes:
  DIR/jpeg/photo_NN.jpg   18 camera-like JPEGs, 1800 x 1200, quality 90,
                          4:2:0, 300 dpi, EXIF orientations 0 to 8 in turn
  DIR/big/photo.jpg       one 4000 x 3000 camera-like JPEG, for memory against
                          its count (the list names it 5 and 500 times)
  DIR/png/alpha_NN.png    10 photographs with an alpha channel, 1200 x 900
  DIR/pngphotos/photo_NN.png  50 photographs, 1200 x 800, for memory at 5 and 50
"""
import glob
import os
import random
import shutil
import sys

from PIL import Image, ImageDraw, ImageFilter

# Photographs, not drawings: a drawing's flat colours prove nothing about size.
SOURCES = [
    "lomiri-wallpapers-20.04/usr/share/backgrounds/Kleiber_by_Lukas_Baubkus.jpg",
    "lomiri-wallpapers-20.04/usr/share/backgrounds/Infinite-Sea_by_Aury88.jpg",
    "ukui-wallpapers/usr/share/backgrounds/calla.png",
    "ukui-wallpapers/usr/share/backgrounds/goldfish.png",
    "ukui-wallpapers/usr/share/backgrounds/rhythm.jpg",
    "ukui-wallpapers/usr/share/backgrounds/string.jpg",
]


def crops(photos, width, height, count, seed):
    """count pieces of width x height, each from a photo scaled by a random factor."""
    rnd = random.Random(seed)
    for i in range(count):
        src = photos[i % len(photos)]
        scale = rnd.uniform(max(width / src.width, height / src.height), 1.0)
        scaled = src.resize((max(width, round(src.width * scale)),
                             max(height, round(src.height * scale))), Image.LANCZOS)
        x = rnd.randrange(scaled.width - width + 1)
        y = rnd.randrange(scaled.height - height + 1)
        yield scaled.crop((x, y, x + width, y + height))


def main(packages, out):
    for sub in ("jpeg", "big", "png", "pngphotos"):
        shutil.rmtree(os.path.join(out, sub), ignore_errors=True)
        os.makedirs(os.path.join(out, sub))
    photos = [Image.open(os.path.join(packages, s)).convert("RGB") for s in SOURCES]
    for i, piece in enumerate(crops(photos, 1800, 1200, 18, 1)):
        exif = Image.Exif()
        exif[274] = i % 9
        piece.save(os.path.join(out, "jpeg", "photo_%02d.jpg" % i), quality=90, subsampling=2,
                   dpi=(300, 300), exif=exif.tobytes())
    big = next(crops(photos[:1], 4000, 3000, 1, 2))
    exif = Image.Exif()
    exif[274] = 6
    big.save(os.path.join(out, "big", "photo.jpg"), quality=92, subsampling=2, dpi=(300, 300),
             exif=exif.tobytes())
    for i, piece in enumerate(crops(photos, 1200, 900, 10, 3)):
        piece = piece.convert("RGBA")
        mask = Image.new("L", piece.size, 0)
        ImageDraw.Draw(mask).ellipse([100, 50, 1100, 850], fill=255)
        piece.putalpha(mask.filter(ImageFilter.GaussianBlur(40)))
        piece.save(os.path.join(out, "png", "alpha_%02d.png" % i))
    for i, piece in enumerate(crops(photos, 1200, 800, 50, 4)):
        piece.save(os.path.join(out, "pngphotos", "photo_%02d.png" % i))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
