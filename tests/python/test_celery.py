"""The tasks on real parts: Redis on a loopback port and two Celery workers of concurrency 1."""

import contextlib
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import folio_worker as fw
import pytest
from celery import Celery
from celery.exceptions import TimeLimitExceeded
from conftest import IMAGES, ROOT, SAMPLE, WORKER
from folio_worker.celery import FolioTaskError
from PIL import Image

# The package the workers import: the installed wheel's folder, or the source.
SITE = os.environ.get("FOLIO_CELERY_SITE", str(ROOT / "python"))
STAMPS = re.compile(rb"/CreationDate\(D:\d+[^)]*\)|/ID\[<[0-9A-F]{32}><[0-9A-F]{32}>\]")


def wait_for(what, seconds, step=0.02):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = what()
        if value:
            return value
        time.sleep(step)
    raise TimeoutError(f"not within {seconds} s: {what}")


def pixels(png: Path) -> bytes:
    # Under load the worker may compress the same pixels another way.
    with Image.open(png) as image:
        return image.tobytes()


def processes(part: bytes) -> list[int]:
    """The live processes whose command line holds ``part``."""
    found = []
    for entry in Path("/proc").iterdir():
        with contextlib.suppress(OSError):
            if entry.name.isdigit() and part in (entry / "cmdline").read_bytes():
                found.append(int(entry.name))
    return found


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("celery")
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    os.environ["FOLIO_TEST_REDIS"] = f"redis://127.0.0.1:{port}/0"
    env = {**os.environ, "FOLIO_WORKER": WORKER, "PYTHONPATH": f"{ROOT}/tests/python:{SITE}"}
    redis = ["redis-server", "--bind", "127.0.0.1", "--port", str(port), "--save", "", "--dir"]
    redis = subprocess.Popen([*redis, str(tmp)], stdout=subprocess.DEVNULL)
    workers = []
    try:
        for name in ("a", "b"):
            workers.append(subprocess.Popen(
                [sys.executable, "-m", "celery", "-A", "celery_app", "worker", "-c", "1",
                 "-n", f"{name}@%h", "--without-gossip", "--without-mingle", "-l", "info",
                 "-f", str(tmp / f"{name}.log")],
                env=env, start_new_session=True, stderr=subprocess.DEVNULL,
            ))  # fmt: skip
        logs = [tmp / "a.log", tmp / "b.log"]
        wait_for(lambda: all(p.exists() and "ready." in p.read_text() for p in logs), 60, 0.2)
        import celery_app

        yield tmp, celery_app
    finally:
        for worker in workers:  # with its pool and the folio workers they started
            with contextlib.suppress(ProcessLookupError):
                os.killpg(worker.pid, signal.SIGKILL)
            worker.wait(10)
        redis.kill()
        redis.wait(10)


def test_every_good_job_completes_once_through_kills_and_a_time_limit(cluster, request) -> None:
    tmp, app = cluster
    long_pdf, text_pdf, out, ref = tmp / "long.pdf", tmp / "text.pdf", tmp / "out", tmp / "ref"
    subprocess.check_call(["qpdf", "--empty", "--pages", *[str(SAMPLE)] * 150, "--", long_pdf])
    text_pdf.write_text("not a document\n")
    subprocess.check_call(["qpdf", "--encrypt", "u", "o", "256", "--", SAMPLE, tmp / "locked.pdf"])
    fw.pdf_to_images(SAMPLE, (ref / "p").mkdir(parents=True) or ref / "p")
    (out / "again").mkdir(parents=True)  # a page an attempt that died had published
    shutil.copy(ref / "p/page_002.png", out / "again")
    (out / "taken").mkdir()  # someone else's page is never replaced
    (out / "taken/page_002.png").write_bytes(b"kept")
    jobs = {}  # id: (task, input, destination, the error expected)

    def submit(task, source, name, error=None, **options):
        (out / name).mkdir(exist_ok=True) if task is app.pdf_to_images else None
        result = task.apply_async((source, str(out / name)), **options)
        jobs[result.id] = (task, source, out / name, error)
        return result.id

    killed = [submit(app.pdf_to_images, str(long_pdf), name) for name in ("long-a", "long-b")]
    submit(app.pdf_to_images, str(SAMPLE), "again")
    submit(app.pdf_to_images, str(SAMPLE), "taken", ("CANNOT_WRITE", 31))
    shm = tempfile.mkdtemp(dir="/dev/shm")  # another file system, empty for each run
    request.addfinalizer(lambda: shutil.rmtree(shm))
    (out / "linked").symlink_to(shm)
    for name in ["linked", "n" * 250, *(f"p{n}" for n in range(80))]:  # 250: staging within 255
        submit(app.pdf_to_images, str(SAMPLE), name)
    for n in range(20):
        submit(app.images_to_pdf, [str(IMAGES[i % 3]) for i in range(n % 3, n % 3 + 1 + n % 4)],
               f"i{n}.pdf")  # fmt: skip
    for n in range(5):
        submit(app.pdf_to_images, str(text_pdf), f"d{n}", ("PDF_DAMAGED", 21))
        submit(app.pdf_to_images, str(tmp / "locked.pdf"), f"l{n}", ("PASSWORD_REQUIRED", 22))
        submit(app.images_to_pdf, [str(IMAGES[0]), str(text_pdf)], f"d{n}.pdf",
               ("IMAGE_READ_FAILED", 33))  # fmt: skip
    # The Celery process converting one long job dies, and the worker of the other.
    converting = wait_for(lambda: processes(b".long-a.folio-"), 60)[0]
    celery_child = int(Path(f"/proc/{converting}/stat").read_text().rsplit(")", 1)[1].split()[1])
    os.kill(celery_child, signal.SIGKILL)
    os.kill(wait_for(lambda: processes(b".long-b.folio-"), 60)[0], signal.SIGKILL)
    wait_for(lambda: converting not in processes(b".long-a.folio-"), 10)  # died with its parent
    submit(app.pdf_to_images, str(long_pdf), "late", TimeLimitExceeded, time_limit=1)
    progress, pending = {}, set(jobs)
    deadline = time.monotonic() + 180
    while pending and time.monotonic() < deadline:
        for job in list(pending):
            meta = app.app.backend.get_task_meta(job)
            if meta["status"] == "PROGRESS":
                progress[job] = meta["result"]
            pending -= {job} if meta["status"] in ("SUCCESS", "FAILURE") else set()
        time.sleep(0.02)
    assert not pending, f"{len(pending)} jobs unfinished"

    fw.pdf_to_images(long_pdf, (ref / "long").mkdir() or ref / "long")
    logs = (tmp / "a.log").read_text() + (tmp / "b.log").read_text()
    for job, (task, source, destination, error) in jobs.items():
        result = app.app.AsyncResult(job)
        if error is None:
            assert (result.state, logs.count(f"[{job}] succeeded")) == ("SUCCESS", 1), job
            if task is app.images_to_pdf:
                local = fw.images_to_pdf(source, ref / destination.name)
                assert STAMPS.sub(b"", local.read_bytes()) == STAMPS.sub(b"", destination.read_bytes())
                assert result.result == str(destination)
                continue
            local = sorted((ref / ("long" if source == str(long_pdf) else "p")).iterdir())
            assert result.result == [str(destination / page.name) for page in local]
            assert all(pixels(page) == pixels(destination / page.name) for page in local)
        elif error is TimeLimitExceeded:
            assert isinstance(result.result, TimeLimitExceeded) and os.listdir(destination) == []
            assert not processes(b".late.folio-")  # the worker went with its Celery process
        else:
            assert isinstance(result.result, FolioTaskError), result.result
            assert (result.result.name, result.result.code, result.retries) == (*error, 0)
        assert f"[{job}] retry" not in logs or job == killed[1]
    assert app.app.AsyncResult(killed[1]).retries == 1  # its worker killed: tried again
    assert len(progress) > 2 and {"current", "total", "name"} == set(progress[killed[0]])
    assert all(p.name.startswith(".late.folio-") for p in out.iterdir() if ".folio-" in p.name)
    assert os.listdir(out / "taken") == ["page_002.png"]


@pytest.mark.parametrize("serializer", ["json", "pickle"])
def test_a_failure_crosses_the_result_backend_whole(serializer: str) -> None:
    app = Celery(backend="cache+memory://", result_serializer=serializer)
    app.conf.result_accept_content = [serializer]
    backend = app.backend
    error = FolioTaskError("DISK_FULL (34): the disk filled: /o.pdf", "DISK_FULL", 34, "/o.pdf")
    stored = backend.decode(backend.encode(backend.prepare_exception(error)))
    back = backend.exception_to_python(stored)
    assert type(back) is FolioTaskError and str(back) == str(error)
    assert (back.name, back.code, back.item) == ("DISK_FULL", 34, "/o.pdf")
