"""The ``folio-worker`` command: both jobs for people, with a progress bar."""

from __future__ import annotations

import argparse
import contextlib
import json
import os
import sys
import time
from typing import Optional, TextIO

from folio_worker import errors
from folio_worker.events import Event, Started
from folio_worker.worker import images_to_pdf, pdf_to_images

EXAMPLES = """examples:
  folio-worker pdf2png report.pdf pages/        pages/page_001.png, page_002.png, ...
  folio-worker img2pdf a.jpg b.png c.gif -o album.pdf
  folio-worker pdf2png report.pdf pages/ --json one JSON event per line

The exit code is the worker's result code (0 when the job finished; see the
README's table), 124 after --timeout, 127 when no worker is found.
The worker is the one inside this package, else $FOLIO_WORKER, else folio on PATH.
"""


class Display:
    """Shows each event: a bar on a terminal, plain lines otherwise, or JSON lines."""

    def __init__(self, stream: TextIO, mode: str) -> None:
        """Write to ``stream`` in ``mode``: ``bar``, ``lines`` or ``json``."""
        self.stream = stream
        self.mode = mode
        self.started = time.monotonic()

    def __call__(self, event: Event) -> None:
        """Show one event."""
        if self.mode == "json":
            kind = "start" if isinstance(event, Started) else "progress"
            self.emit({"event": kind, **vars(event)})
            return
        if isinstance(event, Started):
            self.started = time.monotonic()
            return
        if self.mode == "lines":
            self.stream.write(f"{event.number}/{event.total} {event.name}\n")
        else:
            self.stream.write("\r" + bar(event.number, event.total, self.elapsed(), event.name))
            if event.number == event.total:
                self.stream.write("\n")
        self.stream.flush()

    def elapsed(self) -> float:
        """Seconds since the job started."""
        return time.monotonic() - self.started

    def emit(self, record: dict[str, object]) -> None:
        """Write one JSON line."""
        self.stream.write(json.dumps(record) + "\n")
        self.stream.flush()


def bar(number: int, total: int, elapsed: float, name: str, width: int = 24) -> str:
    """One line of the bar: items done, rate and time left."""
    filled = width * number // max(total, 1)
    rate = number / elapsed if elapsed > 0 else 0.0
    left = (total - number) / rate if rate > 0 else 0.0
    minutes, seconds = divmod(int(left + 0.5), 60)
    return (
        f"[{'#' * filled}{'.' * (width - filled)}] {number}/{total} "
        f"{rate:.1f}/s {minutes}:{seconds:02d} left {name[:30]:<30}"
    )


def parse_arguments(argv: Optional[list[str]]) -> argparse.Namespace:
    """The command line, with --help showing the examples."""
    parser = argparse.ArgumentParser(
        prog="folio-worker",
        description="Every page of a PDF to PNG files, or images to one PDF, by the folio worker.",
        epilog=EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    jobs = parser.add_subparsers(dest="job", required=True)
    pdf = jobs.add_parser("pdf2png", help="render every page of a PDF to PNG files")
    pdf.add_argument("pdf", help="the document")
    pdf.add_argument("output_dir", help="the folder for page_001.png, ... (made if missing)")
    images = jobs.add_parser(
        "img2pdf", help="put images (JPEG, PNG, GIF, TIFF, BMP, WebP) in a PDF"
    )
    images.add_argument("images", nargs="+", help="the images, one page each, in order")
    images.add_argument("-o", "--output", required=True, help="the PDF to write")
    for job in (pdf, images):
        job.add_argument("--json", action="store_true", help="one JSON event per line on stdout")
        job.add_argument("--timeout", type=float, help="end the job after this many seconds")
    return parser.parse_args(argv)


def exit_code(error: errors.FolioError) -> int:
    """The command's exit code for an error: the worker's own where it gave one."""
    if isinstance(error, errors.FolioTimeoutError):
        return 124
    if isinstance(error, errors.WorkerNotFoundError):
        return 127
    if isinstance(error, errors.WorkerKilledError):
        return 128 + error.signal
    return error.code if error.code else 1


def main(argv: Optional[list[str]] = None) -> int:
    """Run the command; returns its exit code."""
    args = parse_arguments(argv)
    mode = "json" if args.json else "bar" if sys.stderr.isatty() else "lines"
    display = Display(sys.stdout if args.json else sys.stderr, mode)
    try:
        if args.job == "pdf2png":
            # A folder that cannot be made is the worker's CANNOT_WRITE to tell.
            with contextlib.suppress(OSError):
                os.makedirs(args.output_dir, exist_ok=True)
            pages = pdf_to_images(
                args.pdf, args.output_dir, on_progress=display, timeout=args.timeout
            )
            outputs = [str(page) for page in pages]
            told = f"{len(pages)} pages in {args.output_dir}"
        else:
            document = images_to_pdf(
                args.images, args.output, on_progress=display, timeout=args.timeout
            )
            outputs = [str(document)]
            told = f"{document}: {len(args.images)} pages"
    except errors.FolioError as error:
        if mode == "bar":
            sys.stderr.write("\n")
        if mode == "json":
            display.emit({"event": "error", "name": error.name, "code": error.code,
                          "item": error.item, "message": str(error)})  # fmt: skip
        else:
            sys.stderr.write(f"folio-worker: {error}\n")
        return exit_code(error)
    except ValueError as error:  # more images than a list holds, or a path too long
        sys.stderr.write(f"folio-worker: {error}\n")
        return 2
    except KeyboardInterrupt:
        sys.stderr.write("\nfolio-worker: interrupted; the worker was ended\n")
        return 130
    if mode == "json":
        display.emit({"event": "done", "outputs": outputs})
    else:
        sys.stderr.write(f"{told} ({display.elapsed():.2f} s)\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
