"""The API against the real worker: both jobs, their events, errors, timeouts and names."""

import asyncio
import os
import shutil
import struct
import subprocess
import time
from pathlib import Path

import folio_worker as fw
import pytest
from conftest import IMAGES, ROOT, SAMPLE, fake_worker, is_whole_png, page_count
from folio_worker.protocol import encode_image_list

PAGES = ["page_001.png", "page_002.png", "page_003.png"]
NAMES = [image.name for image in IMAGES]
WIDE = ROOT / "tests/data/side-19201-at-96.jpg"  # 14400.75 points across


def run(job: str, mode: str, *args: object, **kwargs: object) -> object:
    """One job through the blocking call, its asyncio twin, or the job object."""
    call = getattr(fw, job)
    if mode == "async":
        return asyncio.run(getattr(fw, job + "_async")(*args, **kwargs))
    if mode == "iterator":
        callback = kwargs.pop("on_progress")
        with getattr(fw, "start_" + job)(*args, **kwargs) as running:
            for event in running:
                callback(event)
            return running.result()
    return call(*args, **kwargs)


@pytest.mark.parametrize("mode", ["sync", "async", "iterator"])
def test_both_jobs_give_their_files_and_events_in_order(tmp_path: Path, mode: str) -> None:
    events: list[fw.Event] = []
    pages = run("pdf_to_images", mode, SAMPLE, tmp_path, on_progress=events.append)
    assert pages == [tmp_path / name for name in PAGES]
    assert all(is_whole_png(page) for page in pages)
    pdf = run("images_to_pdf", mode, IMAGES, tmp_path / "out.pdf", on_progress=events.append)
    assert pdf == tmp_path / "out.pdf" and page_count(pdf) == len(IMAGES)
    expected = [fw.Started(3), *[fw.Progress(i + 1, 3, name) for i, name in enumerate(PAGES)]]
    expected += [fw.Started(3), *[fw.Progress(i + 1, 3, n) for i, n in enumerate(NAMES)]]
    assert events == expected


def make_input(tmp: Path, what: str, request: pytest.FixtureRequest) -> Path:
    """An input built to fail one way."""
    path = tmp / what
    if what.startswith("full"):  # 8 KiB of disk (needs root)
        (tmp / "full").mkdir()
        subprocess.check_call(["mount", "-t", "tmpfs", "-o", "size=8k", "none", str(tmp / "full")])
        request.addfinalizer(lambda: subprocess.check_call(["umount", str(tmp / "full")]))
    elif what == "huge.pdf":  # 28800 pixels square
        page = "<</Type/Page/MediaBox[0 0 14400 14400]>>"
        pdf = f"<</Type/Catalog/Pages<</Type/Pages/Count 1/Kids[{page}]>>>>"
        path.write_text(f"%PDF-1.4\n1 0 obj{pdf}endobj trailer<</Root 1 0 R>>\n%%EOF\n")
    elif what == "text.pdf":
        path.write_text("not a document\n")
    elif what == "locked.pdf":
        subprocess.check_call(["qpdf", "--encrypt", "u", "o", "256", "--", str(SAMPLE), str(path)])
    elif what == "taken":
        path.mkdir()
        (path / "page_002.png").write_bytes(b"kept")
    return path


# job, input, output, worker, class, code, the file named
ERRORS = [
    ("pdf", "missing.pdf", "out", None, fw.CannotReadError, 20, "missing.pdf"),
    ("pdf", "text.pdf", "out", None, fw.PdfDamagedError, 21, "text.pdf"),
    ("pdf", "locked.pdf", "out", None, fw.PasswordRequiredError, 22, "locked.pdf"),
    ("pdf", SAMPLE, "missing", None, fw.CannotWriteError, 31, "missing"),
    ("pdf", SAMPLE, "taken", None, fw.CannotWriteError, 31, "taken/page_002.png"),
    ("pdf", SAMPLE, "full", None, fw.DiskFullError, 31, "full/page_001.png"),
    ("pdf", "huge.pdf", "out", None, fw.PageTooLargeError, 32, "out/page_001.png"),
    ("img", "text.pdf", "o.pdf", None, fw.ImageReadFailedError, 33, "text.pdf"),
    ("img", WIDE, "o.pdf", None, fw.ImageTooLargeError, 32, WIDE.name),
    ("img", IMAGES[0], "missing/o.pdf", None, fw.CannotWriteError, 34, "missing/o.pdf"),
    ("img", ROOT / "tests/data/noise.bmp", "full/o.pdf", None, fw.DiskFullError, 34, "full/o.pdf"),
    ("pdf", SAMPLE, "out", "extra", fw.BadArgumentsError, 10, "sample.pdf"),
    ("pdf", SAMPLE, "out", fake_worker("kill -9 $$"), fw.WorkerKilledError, -9, None),
    ("pdf", SAMPLE, "out", ["true"], fw.NoResultError, 0, None),
    ("pdf", SAMPLE, "out", fake_worker("echo DONE; exit 3"), fw.NoResultError, 3, None),
    ("pdf", SAMPLE, "out", ["/nowhere/folio"], fw.WorkerNotFoundError, None, None),
]


@pytest.mark.parametrize(("job", "source", "output", "worker", "error", "code", "item"), ERRORS)
def test_each_failure_raises_the_class_of_its_result_name(
    tmp_path: Path, request, job, source, output, worker, error, code, item
) -> None:
    source = source if isinstance(source, Path) else make_input(tmp_path, source, request)
    (tmp_path / "out").mkdir()
    make_input(tmp_path, output, request)
    if worker == "extra":  # a fifth argument: not one of the two forms
        worker = [os.environ["FOLIO_WORKER"], "--extra"]
    with pytest.raises(error) as caught:
        if job == "pdf":
            fw.pdf_to_images(source, tmp_path / output, worker=worker)
        else:
            fw.images_to_pdf([source], tmp_path / output, worker=worker)
    assert (caught.value.code, caught.value.name) == (code, error.name)
    assert caught.value.item is None if item is None else caught.value.item.endswith(item)
    assert error.name in str(caught.value) and (item or "") in str(caught.value)
    assert worker is None or caught.value.job is None or caught.value.job.returncode == code


def test_a_missing_worker_says_where_it_looked(monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.delenv("FOLIO_WORKER")
    monkeypatch.setenv("PATH", "/nowhere")
    with pytest.raises(fw.WorkerNotFoundError, match=r"_bin/folio .*FOLIO_WORKER.*/nowhere"):
        fw.find_worker()


@pytest.mark.parametrize(
    ("bundled", "variable", "expected"),
    [(True, True, "bundled"), (False, True, "variable"), (False, False, "path")],
)
def test_the_worker_is_found_in_order(tmp_path, monkeypatch, bundled, variable, expected):
    for name in ("bundled/_bin", "path"):
        (tmp_path / name).mkdir(parents=True)
    if bundled:
        (tmp_path / "bundled/_bin/folio").touch()
    (tmp_path / "path/folio").touch(mode=0o755)
    monkeypatch.setattr(fw.worker, "__file__", str(tmp_path / "bundled/worker.py"))
    monkeypatch.setenv("FOLIO_WORKER", str(tmp_path / "variable") if variable else "")
    monkeypatch.setenv("PATH", str(tmp_path / "path"))
    places = {"bundled": "bundled/_bin/folio", "variable": "variable", "path": "path/folio"}
    assert fw.find_worker() == [str(tmp_path / places[expected])]


# What a worker ended midway leaves, and what stays: page 1 named, page 2
# half written; an images job that had reported every image was saving.
HALF_DONE = [
    ("pdf", "START\t3\nPROGRESS\t1\t3\tpage_001.png\n", ["page_001.png", "page_002.png.tmp"],
     ["page_001.png"]),
    ("img", "START\t2\nPROGRESS\t1\t2\ta\nPROGRESS\t2\t2\tb\n", ["o.pdf"], []),
    ("img", "START\t2\nPROGRESS\t1\t2\ta\n", ["o.pdf"], ["o.pdf"]),
]


@pytest.mark.parametrize(("job", "lines", "files", "left"), HALF_DONE)
@pytest.mark.parametrize(
    ("mode", "end", "error"),
    [("sync", "exec sleep 30", fw.FolioTimeoutError),
     ("async", "exec sleep 30", fw.FolioTimeoutError),
     ("sync", "kill -INT $$", fw.WorkerKilledError),  # as Ctrl-C ends it
     ("block", "exec sleep 30", None)],  # a job's block left before a line was read
)
def test_a_worker_ended_midway_leaves_nothing_half_done(
    tmp_path: Path, job, lines, files, left, mode, end, error
) -> None:
    out = tmp_path / ("out" if job == "pdf" else "out/o.pdf")
    folder = tmp_path / "out"
    script = f"printf '{lines}'; cd {folder} && touch {' '.join(files)} && {end}"
    args = (SAMPLE, folder) if job == "pdf" else ([IMAGES[0]], out)
    folder.mkdir()
    name = "pdf_to_images" if job == "pdf" else "images_to_pdf"
    if error is None:
        with getattr(fw, "start_" + name)(*args, worker=fake_worker(script)) as ended:
            time.sleep(0.5)
    else:
        with pytest.raises(error) as caught:
            run(name, mode, *args, timeout=0.5, worker=fake_worker(script))
        ended = caught.value.job
    assert ended.returncode in (-9, -2)
    assert sorted(os.listdir(folder)) == left


@pytest.mark.parametrize("mode", ["timeout", "cancel"])
def test_a_real_job_ended_midway_leaves_whole_named_pages_only(tmp_path, long_pdf, mode) -> None:
    async def cancel_after_first_page() -> None:
        first = asyncio.Event()
        task = asyncio.ensure_future(
            fw.pdf_to_images_async(long_pdf, tmp_path, on_progress=lambda _: first.set())
        )
        await first.wait()
        await asyncio.sleep(0.2)
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task

    if mode == "cancel":
        asyncio.run(cancel_after_first_page())
    else:
        with pytest.raises(fw.FolioTimeoutError) as caught:
            fw.pdf_to_images(long_pdf, tmp_path, timeout=0.5)
        assert caught.value.job.returncode == -9
    names = sorted(os.listdir(tmp_path))
    assert 0 < len(names) < 450 and all(is_whole_png(tmp_path / name) for name in names)
    assert names == [f"page_{n:03d}.png" for n in range(1, len(names) + 1)]
    with pytest.raises(ChildProcessError):
        os.waitpid(-1, os.WNOHANG)  # no child left to reap


def test_names_that_are_not_utf8_reach_the_worker_as_they_are(tmp_path: Path) -> None:
    folder = os.fsencode(tmp_path) + b"/r\xe9sultats\xff"
    os.mkdir(folder)
    shutil.copy(SAMPLE, folder + b"/caf\xe9.pdf")
    shutil.copy(IMAGES[0], folder + b"/caf\xe9.png")
    assert len(fw.pdf_to_images(folder + b"/caf\xe9.pdf", folder)) == 3
    events: list[fw.Event] = []
    image, pdf = folder + b"/caf\xe9.png", folder + b"/o.pdf"
    pdf = fw.images_to_pdf([image], pdf, on_progress=events.append)
    assert page_count(pdf) == 1 and events[-1] == fw.Progress(1, 1, "image")


@pytest.mark.parametrize(
    ("paths", "expected"),
    [
        ([b"a"], struct.pack("<II", 1, 1) + b"a\0"),
        ([b"\xff", "\u00e9"], struct.pack("<II", 2, 1) + b"\xff\xdc\1\0\0\0\xe9\0"),
        (["\U0001f600"], struct.pack("<II", 1, 2) + b"\x3d\xd8\x00\xde"),
    ],
)
def test_the_list_file_holds_each_name_in_utf16(paths, expected) -> None:
    assert encode_image_list(paths) == expected


def test_the_longest_list_converts_and_one_more_is_refused(tmp_path, monkeypatch) -> None:
    monkeypatch.setattr("tempfile.tempdir", str(tmp_path))
    dot = ROOT / "tests/data/dot.bmp"
    assert page_count(fw.images_to_pdf([dot] * 10000, tmp_path / "o.pdf")) == 10000
    with pytest.raises(ValueError, match="1 to 10000"):
        fw.images_to_pdf([dot] * 10001, tmp_path / "p.pdf")
    with pytest.raises(asyncio.TimeoutError):  # cancelled while the worker starts
        asyncio.run(asyncio.wait_for(fw.images_to_pdf_async([dot], tmp_path / "q.pdf"), 0.001))
    assert os.listdir(tmp_path) == ["o.pdf"]  # the list files are gone
