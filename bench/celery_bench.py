"""The Celery tasks against a plain serial loop of the worker.

    bench/celery_bench.py FOLIO [JOBS]        (or: make bench-celery)

JOBS (default 200) ten-page documents (samples/sample.pdf, pages 1-3 three
times and page 1) are converted, each into a folder of its own on the disk:
first by a serial loop starting the worker bare, then as folio.pdf_to_images
tasks through one Celery worker process, then through two, on a Redis of
its own on a free loopback port. It prints jobs a second and the task
layer's overhead per job: one process's time per job less the bare worker's,
against the bare job's time (target: at most 10%).
"""

from __future__ import annotations

import contextlib
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path
from typing import Any

ROOT = Path(__file__).resolve().parents[1]


def wait_for(what: Callable[[], Any], seconds: float) -> None:
    deadline = time.monotonic() + seconds
    while not what():
        if time.monotonic() > deadline:
            raise TimeoutError(f"not within {seconds} s")
        time.sleep(0.1)


def tasks(folio: str, pdf: Path, work: Path, jobs: int, processes: int) -> float:
    """Seconds for ``jobs`` tasks through ``processes`` Celery worker processes."""
    env = {**os.environ, "FOLIO_WORKER": folio,
           "PYTHONPATH": f"{ROOT}/tests/python:{ROOT}/python"}  # fmt: skip
    log = work / f"worker-{processes}.log"
    worker = subprocess.Popen(
        [sys.executable, "-m", "celery", "-A", "celery_app", "worker", "-c", str(processes),
         "--without-gossip", "--without-mingle", "-l", "warning", "-f", str(log)],
        env=env, start_new_session=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
    )  # fmt: skip
    try:
        import celery_app

        app = celery_app.app
        wait_for(lambda: app.control.ping(timeout=0.5), 60)
        outs = [work / f"c{processes}-{n}" for n in range(jobs)]
        for out in outs:
            out.mkdir()
        started = time.monotonic()
        results = [celery_app.pdf_to_images.delay(str(pdf), str(out)) for out in outs]
        for result in results:
            assert len(result.get(timeout=600)) == 10
        return time.monotonic() - started
    finally:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(worker.pid, signal.SIGTERM)
        worker.wait(60)


def main() -> None:
    folio, jobs = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 200
    work = Path(tempfile.mkdtemp(prefix="folio-celery-bench-", dir=ROOT / "bench"))
    try:
        pdf = work / "ten.pdf"
        sample = str(ROOT / "samples/sample.pdf")
        subprocess.check_call(["qpdf", "--empty", "--pages", sample, "1-3", sample, "1-3",
                               sample, "1-3", sample, "1", "--", str(pdf)])  # fmt: skip
        started = time.monotonic()
        for n in range(jobs):
            (work / f"s{n}").mkdir()
            subprocess.run([folio, "--input", str(pdf), "--output", str(work / f"s{n}")],
                           stdout=subprocess.DEVNULL, check=True)  # fmt: skip
        serial = time.monotonic() - started
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        os.environ["FOLIO_TEST_REDIS"] = f"redis://127.0.0.1:{port}/0"
        sys.path[:0] = [str(ROOT / "tests/python"), str(ROOT / "python")]
        redis = subprocess.Popen(["redis-server", "--bind", "127.0.0.1", "--port", str(port),
                                  "--save", "", "--dir", str(work)], stdout=subprocess.DEVNULL)  # fmt: skip
        try:
            one, two = (tasks(folio, pdf, work, jobs, n) for n in (1, 2))
        finally:
            redis.kill()
            redis.wait(10)
        bare = serial / jobs
        print(f"{jobs} ten-page jobs      seconds  jobs/s")
        for name, seconds in (("serial loop", serial), ("1 process", one), ("2 processes", two)):
            print(f"{name:<20} {seconds:8.2f} {jobs / seconds:7.2f}")
        overhead = one / jobs - bare
        verdict = "met" if overhead <= 0.1 * bare else "MISSED"
        print(f"bare job {bare * 1000:.1f} ms; task overhead {overhead * 1000:.1f} ms a job, "
              f"{overhead / bare:.1%} of it (target <= 10%: {verdict})")  # fmt: skip
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
