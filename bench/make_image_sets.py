#!/usr/bin/python3
"""Makes the image sets of the images benchmark (needs Debian's python3-pil).

make_image_sets.py DIR writes:
  DIR/jpeg/photo_NN.jpg  20 camera-like JPEGs, 1800 x 1200, 300 dpi, EXIF
                         orientations 1, 3, 6 and 8 in turn
  DIR/png/alpha_NN.png   10 PNGs with an alpha channel, 1200 x 900
  DIR/same/img_NN.jpg    50 copies of one JPEG, for peak memory at 5 and 50
"""
import os
import random
import shutil
import sys

from PIL import Image, ImageDraw, ImageFilter


def photo(width, height, seed):
    rnd = random.Random(seed)
    img = Image.linear_gradient("L").resize((width, height)).convert("RGB")
    tint = Image.new("RGB", (width, height), (rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)))
    img = Image.blend(img, tint, 0.5)
    draw = ImageDraw.Draw(img)
    for _ in range(60):
        x, y = rnd.randrange(width), rnd.randrange(height)
        r = rnd.randrange(20, 200)
        draw.ellipse([x - r, y - r, x + r, y + r],
                     fill=(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)))
    img = img.filter(ImageFilter.GaussianBlur(2))
    noise = Image.effect_noise((width, height), 24).convert("RGB")
    return Image.blend(img, noise, 0.15)


def main(out):
    for sub in ("jpeg", "png", "same"):
        shutil.rmtree(os.path.join(out, sub), ignore_errors=True)
        os.makedirs(os.path.join(out, sub))
    orientations = [1, 3, 6, 8]
    for i in range(20):
        exif = Image.Exif()
        exif[274] = orientations[i % 4]
        photo(1800, 1200, i).save(os.path.join(out, "jpeg", "photo_%02d.jpg" % i), quality=90,
                                  dpi=(300, 300), exif=exif.tobytes())
    for i in range(10):
        base = photo(1200, 900, 100 + i).convert("RGBA")
        mask = Image.new("L", base.size, 0)
        ImageDraw.Draw(mask).ellipse([100, 50, 1100, 850], fill=255)
        base.putalpha(mask.filter(ImageFilter.GaussianBlur(40)))
        base.save(os.path.join(out, "png", "alpha_%02d.png" % i))
    first = os.path.join(out, "jpeg", "photo_00.jpg")
    for i in range(50):
        shutil.copy(first, os.path.join(out, "same", "img_%02d.jpg" % i))


if __name__ == "__main__":
    main(sys.argv[1])
