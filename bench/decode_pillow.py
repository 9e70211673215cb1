#!/usr/bin/python3
"""The decode benchmark's images, and the same work done with Pillow.

  decode_pillow.py make DIR        writes the benchmark images into DIR
  decode_pillow.py time [--runs N] FILE...
                                   processor ms per image (median, best) for open,
                                   exif_transpose and flattening onto white,
                                   as a Python user would write it
"""
import statistics
import sys
import time

from PIL import Image, ImageOps


def photo(width, height):
    """Something with the detail of a photograph, so the JPEG is not trivial."""
    detail = Image.effect_mandelbrot((width, height), (-2.2, -1.2, 1.0, 1.2), 60)
    grain = Image.effect_noise((width, height), 48)
    sky = Image.linear_gradient("L").resize((width, height))
    return Image.merge("RGB", (detail, Image.blend(sky, grain, 0.35), grain))


def make(directory):
    width, height = 1800, 1200
    picture = photo(width, height)
    for orientation in (1, 6):
        exif = Image.Exif()
        exif[274] = orientation
        picture.save(f"{directory}/photo-o{orientation}.jpg", quality=90, exif=exif.tobytes())
    alpha = Image.linear_gradient("L").rotate(90).resize((width, height))
    translucent = picture.copy()
    translucent.putalpha(alpha)
    translucent.save(f"{directory}/translucent.png", compress_level=6)


def pipeline(path):
    image = Image.open(path)
    image = ImageOps.exif_transpose(image)
    if image.mode in ("RGBA", "LA") or "transparency" in image.info:
        image = image.convert("RGBA")
        page = Image.new("RGB", image.size, (255, 255, 255))
        page.paste(image, mask=image.getchannel("A"))
        image = page
    elif image.mode != "RGB":
        image = image.convert("RGB")
    image.load()
    return image


def timing(runs, files):
    print(f"{'file':20} {'size':>11} {'total ms':>9} {'best ms':>9}")
    for path in files:
        pipeline(path)  # warms the caches
        samples = []
        for _ in range(runs):
            start = time.process_time()
            image = pipeline(path)
            samples.append((time.process_time() - start) * 1000)
        name = path.rsplit("/", 1)[-1]
        size = f"{image.width}x{image.height}"
        print(f"{name:20} {size:>11} {statistics.median(samples):9.2f} {min(samples):9.2f}")


def main(argv):
    if len(argv) == 2 and argv[0] == "make":
        make(argv[1])
    elif argv and argv[0] == "time":
        runs = 20
        files = argv[1:]
        if files[:1] == ["--runs"]:
            runs = int(files[1])
            files = files[2:]
        timing(runs, files)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
