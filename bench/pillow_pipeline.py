#!/usr/bin/python3
"""The images-to-PDF pipeline a Python user would write with Pillow.

pillow_pipeline.py OUTPUT.pdf IMAGE... : open each image, turn it upright by
its EXIF orientation, flatten it onto white, save all as one PDF. Prints the
seconds spent in decode + transpose + flatten (our own work's counterpart)
on standard error.
"""
import sys
import time

from PIL import Image, ImageOps


def upright_on_white(path):
    img = Image.open(path)
    img = ImageOps.exif_transpose(img)
    if img.mode in ("RGBA", "LA", "P"):
        img = img.convert("RGBA")
        white = Image.new("RGBA", img.size, (255, 255, 255, 255))
        img = Image.alpha_composite(white, img)
    return img.convert("RGB")


def main(out, paths):
    started = time.perf_counter()
    pages = [upright_on_white(p) for p in paths]
    prepared = time.perf_counter() - started
    pages[0].save(out, "PDF", save_all=True, append_images=pages[1:], resolution=96.0)
    sys.stderr.write("prepare_seconds %.4f\n" % prepared)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
