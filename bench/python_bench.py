"""The Python API against what a Python user would otherwise run, on bench-render's documents.

    bench/python_bench.py FOLIO DOCUMENT.pdf...        (or: make bench-python)

Tools, each writing PNG pages at 144 dpi into a fresh folder:
  folio      folio_worker.pdf_to_images
  pdf2image  convert_from_path(output_folder=..., fmt="png", dpi=144, paths_only=True),
             thread_count 1 and 2 (pdftoppm underneath)
  pdfium+PIL pypdfium2 renders each page at scale 2, Pillow writes the PNG
Each run is a process of its own under /usr/bin/time: wall seconds, and peak
memory as the largest resident size of the process or any child it waited
for (pdf2image's two pdftoppm processes are not added up). Then the API's
overhead per job: the median of repeated runs of a 3-page document through
the API less the median of the same worker started bare, interleaved.
"""

from __future__ import annotations

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
TOOLS = ["folio", "pdf2image-1", "pdf2image-2", "pdfium+PIL"]


def run_tool(tool: str, pdf: str, out: str) -> None:
    """One tool's job, in this process."""
    if tool == "folio":
        import folio_worker

        folio_worker.pdf_to_images(pdf, out)
    elif tool.startswith("pdf2image"):
        from pdf2image import convert_from_path

        threads = int(tool.split("-")[1])
        convert_from_path(
            pdf, dpi=144, fmt="png", output_folder=out, paths_only=True, thread_count=threads
        )
    else:
        import pypdfium2

        document = pypdfium2.PdfDocument(pdf)
        for index in range(len(document)):
            image = document[index].render(scale=2).to_pil()
            image.save(f"{out}/page_{index + 1:03d}.png")


def measure(tool: str, pdf: str, run_dir: Path) -> tuple[float, int, int]:
    """Wall seconds, peak KiB and output bytes of one tool on one document."""
    shutil.rmtree(run_dir, ignore_errors=True)
    run_dir.mkdir(parents=True)
    report = run_dir.parent / "time"
    command = ["/usr/bin/time", "-f", "%e %M", "-o", str(report), sys.executable, __file__]
    subprocess.run([*command, "run", tool, pdf, str(run_dir)], check=True)
    wall, peak = report.read_text().split()
    size = sum(path.stat().st_size for path in run_dir.iterdir())
    return float(wall), int(peak), size


def overhead(folio: str, pdf: str, rounds: int = 30) -> tuple[float, float]:
    """Median milliseconds of a job through the API and of the bare worker."""
    import folio_worker

    api, bare = [], []
    with tempfile.TemporaryDirectory(dir="/dev/shm") as scratch:
        for index in range(rounds):
            for times, through_api in ((api, True), (bare, False)):
                out = f"{scratch}/{index}-{through_api}"
                os.mkdir(out)
                start = time.perf_counter()
                if through_api:
                    folio_worker.pdf_to_images(pdf, out, worker=folio)
                else:
                    command = [folio, "--input", pdf, "--output", out]
                    subprocess.run(command, stdout=subprocess.PIPE, check=True)
                times.append(1000 * (time.perf_counter() - start))
    return statistics.median(api), statistics.median(bare)


def verdict(met: bool) -> str:
    """The word for a target."""
    return "met" if met else "MISSED"


def main(folio: str, documents: list[str]) -> None:
    """Every tool on every document, then the API's overhead."""
    os.environ["FOLIO_WORKER"] = folio
    run_dir = HERE / "out" / "python-run"
    print(f"load at the start: {' '.join(Path('/proc/loadavg').read_text().split()[:3])}")
    for pdf in documents:
        pages = int(subprocess.check_output(["qpdf", "--show-npages", pdf]))
        print(f"\n== {Path(pdf).name}: {pages} pages ==")
        print(f"{'tool':<12} {'seconds':>8} {'vs folio':>9} {'bytes/page':>11} {'peak MiB':>9}")
        results = {tool: measure(tool, pdf, run_dir) for tool in TOOLS}
        for tool, (wall, peak, size) in results.items():
            ratio = wall / results["folio"][0]
            print(f"{tool:<12} {wall:8.2f} {ratio:9.2f} {size // pages:11d} {peak / 1024:9.1f}")
        fastest = min(wall for tool, (wall, _, _) in results.items() if tool != "folio")
        speedup = fastest / results["folio"][0]
        print(f"fastest other / folio: {speedup:.2f} (target >= 5: {verdict(speedup >= 5)})")
    shutil.rmtree(run_dir, ignore_errors=True)
    api, bare = overhead(folio, str(HERE.parent / "samples" / "sample.pdf"))
    print(f"\nper job, 3-page sample in /dev/shm, median of 30: API {api:.1f} ms, bare {bare:.1f} ms")
    print(f"API overhead: {api - bare:.1f} ms (target <= 15: {verdict(api - bare <= 15)})")
    print(f"load at the end: {' '.join(Path('/proc/loadavg').read_text().split()[:3])}")


if __name__ == "__main__":
    if sys.argv[1] == "run":
        run_tool(*sys.argv[2:5])
    else:
        main(os.path.abspath(sys.argv[1]), sys.argv[2:])
