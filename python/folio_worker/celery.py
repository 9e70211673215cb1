"""Both jobs as Celery tasks: progress, retries, and no job lost or half published.

Install ``folio-worker[celery]`` and register the tasks on your own app::

    from celery import Celery
    from folio_worker.celery import register

    app = Celery("convert", broker="redis://queue:6379/0", backend="redis://queue:6379/1")
    register(app)

This gives ``folio.pdf_to_images(pdf_path, output_dir)``, whose result is the
list of page paths, and ``folio.images_to_pdf(image_paths, output_pdf)``, whose
result is the PDF's path. Paths name storage that every worker sees.

Each attempt converts into a staging folder of its own beside the destination
and publishes by renaming, so a reader, or a retry after a crash, never meets
half a result. A message is acknowledged only once its task has ended, and one
whose worker process died goes back to the queue. See docs/celery.md.
"""

from __future__ import annotations

import contextlib
import ctypes
import errno
import fcntl
import functools
import hashlib
import os
import re
import secrets
import shutil
import signal
import struct
import time
import zlib
from collections.abc import Iterator
from pathlib import Path
from typing import Any, Callable, NoReturn, Optional, TypeVar

from celery import Celery, Task  # type: ignore[import-untyped]  # Celery ships no type information

from folio_worker import errors
from folio_worker.events import Event, Progress
from folio_worker.worker import Job, prepare

T = TypeVar("T")

#: Result names a later attempt may not meet: the disk may have room again, a
#: write may pass, and a worker ended by a signal (the system's memory killer,
#: say) or failing in a way it does not name may not be ended again.
TRANSIENT = frozenset({"DISK_FULL", "CANNOT_WRITE", "UNKNOWN", "KILLED", "NO_RESULT"})
#: Attempts after the first for a transient failure, and the wait before the
#: first of them; each wait doubles the one before (2, 4, 8, 16, 32 seconds).
MAX_RETRIES = 5
RETRY_BACKOFF = 2.0
#: No progress is told in a task's last second before its hard time limit: the
#: limit records the failure before it ends the process, and a PROGRESS state
#: stored after that would hide the failure.
PROGRESS_MARGIN = 1.0

_STAGING = ".folio-"
_LOCK = ".lock"
# Of the destination's name in its staging folder's: with the task id, within 255 bytes.
_NAME_KEPT = 128
_PR_SET_PDEATHSIG = 1
_libc = ctypes.CDLL(None, use_errno=True)
# A PDF's creation date and file identifier change from run to run; nothing else does.
_PDF_STAMPS = re.compile(rb"/CreationDate\(D:[^)]*\)|/ID\[<[0-9A-F]*><[0-9A-F]*>\]")


class FolioTaskError(Exception):
    """A job that failed, as its task's result: ``name``, ``code`` and ``item``.

    ``name`` is the result name (PDF_DAMAGED, DISK_FULL, ..., KILLED,
    NO_RESULT, or WORKER_NOT_FOUND), ``code`` the worker's exit code (None
    where it gave none) and ``item`` the file the failure is about. It is
    built from its arguments alone, so that a result backend restores it
    whole from pickle or from JSON (the client must have imported this module;
    Celery otherwise makes up a class of the same name).
    """

    def __init__(
        self, message: str, name: str, code: Optional[int] = None, item: Optional[str] = None
    ) -> None:
        """Keep the message, the result name, the exit code and the file."""
        super().__init__(message, name, code, item)
        self.message = message
        self.name = name
        self.code = code
        self.item = item

    def __str__(self) -> str:
        """The message alone."""
        return self.message


def _die_with(parent: int) -> None:
    # The hard time limit, or a kill, ends the Celery process without a word to
    # its worker: the kernel ends the worker with it.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
    if os.getppid() != parent:
        os._exit(1)


class _TaskJob(Job[T]):
    def _spawn_options(self) -> dict[str, Any]:
        return {"preexec_fn": functools.partial(_die_with, os.getpid())}


def _failure(name: str, code: Optional[int], item: str, meaning: str) -> FolioTaskError:
    return FolioTaskError(f"{name} ({code}): {meaning}: {item}", name, code, item)


def _lock(folder: Path) -> int:
    """Lock a new folder for this attempt's life; the lock goes when the process does."""
    fresh = folder / (_LOCK + ".new")
    handle = os.open(fresh, os.O_RDWR | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o600)
    fcntl.lockf(handle, fcntl.LOCK_EX)
    # Named only once locked, so that a cleaner never takes it for a dead attempt's.
    os.rename(fresh, folder / _LOCK)
    return handle


def _remove_dead(parent: Path, prefix: str) -> None:
    """Remove the staging folders of dead attempts: those whose lock nobody holds."""
    folders: list[str] = []
    with contextlib.suppress(OSError), os.scandir(parent) as entries:
        folders = [
            e.path for e in entries if e.name.startswith(prefix) and e.is_dir(follow_symlinks=False)
        ]
    for folder in folders:
        try:
            handle = os.open(os.path.join(folder, _LOCK), os.O_RDWR | os.O_CLOEXEC)
        except OSError:
            continue  # being made, or being removed
        try:
            fcntl.lockf(handle, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            continue  # its attempt still runs
        finally:
            os.close(handle)
        shutil.rmtree(folder, ignore_errors=True)


@contextlib.contextmanager
def _staging(task: Task, destination: Path, code: int) -> Iterator[Path]:
    """A folder of this attempt's own beside ``destination``, removed at the end."""
    # Beside the folder a symbolic link leads to, so that publishing stays a
    # rename on one file system; and a name no longer than a folder may have.
    real = Path(os.path.realpath(destination))
    prefix = f".{os.fsdecode(os.fsencode(real.name)[:_NAME_KEPT])}{_STAGING}"
    folder = real.parent / f"{prefix}{task.request.id}-{secrets.token_hex(4)}"
    _remove_dead(real.parent, prefix)
    try:
        os.mkdir(folder, 0o755)
        handle = _lock(folder)
    except OSError as error:
        shutil.rmtree(folder, ignore_errors=True)
        name = "DISK_FULL" if error.errno in (errno.ENOSPC, errno.EDQUOT) else "CANNOT_WRITE"
        _fail(task, _failure(name, code, str(destination), str(error.strerror)))
    try:
        yield folder
    finally:
        os.close(handle)
        shutil.rmtree(folder, ignore_errors=True)


_renameat2 = getattr(_libc, "renameat2", None)


def _rename_new(source: Path, target: Path) -> None:
    """Rename, never replacing: FileExistsError when ``target`` is there."""
    at_cwd, no_replace = -100, 1
    if _renameat2 is not None:
        if _renameat2(at_cwd, os.fsencode(source), at_cwd, os.fsencode(target), no_replace) == 0:
            return
        number = ctypes.get_errno()
        if number not in (errno.EINVAL, errno.ENOSYS):
            raise OSError(number, os.strerror(number), os.fsdecode(target))
    # A file system without the flag: a link fails on an existing name.
    os.link(source, target)
    os.unlink(source)


def _png_content(path: Path) -> tuple[list[bytes], bytes]:
    """A PNG's chunks but its image data, and the digest of that data inflated."""
    data, at = path.read_bytes(), 8
    chunks, inflate, digest = [data[:8]], zlib.decompressobj(), hashlib.sha256()
    while at + 8 <= len(data):
        size, kind = struct.unpack(">I4s", data[at : at + 8])
        body = data[at + 8 : at + 8 + size]
        if kind == b"IDAT":
            digest.update(inflate.decompress(body))
        else:
            chunks.append(kind + body)
        at += 12 + size
    return chunks, digest.digest()


def _same_page(one: Path, other: Path) -> bool:
    # Pages of the same document hold the same rows, but a loaded machine can
    # compress them another way.
    try:
        return one.read_bytes() == other.read_bytes() or _png_content(one) == _png_content(other)
    except (OSError, zlib.error):
        return False


def _same_pdf(one: Path, other: Path) -> bool:
    try:
        return _PDF_STAMPS.sub(b"", one.read_bytes()) == _PDF_STAMPS.sub(b"", other.read_bytes())
    except OSError:
        return False


def _publish(
    task: Task, files: list[Path], folder: Path, same: Callable[[Path, Path], bool], code: int
) -> list[Path]:
    """Move ``files`` into ``folder`` under their names, never replacing another file.

    A file already there with the same content is one an earlier attempt of
    this job published before it died: it counts as published. Any other
    file there stays, and the job fails at once, having moved nothing.
    """
    targets = [folder / file.name for file in files]
    for file, target in zip(files, targets):
        if target.exists() and not same(file, target):
            raise _failure("CANNOT_WRITE", code, str(target), "a different file is there")
    try:
        for file, target in zip(files, targets):
            try:
                _rename_new(file, target)
            except FileExistsError:
                if not same(file, target):
                    raise
        directory = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        try:
            os.fsync(directory)
        finally:
            os.close(directory)
    except OSError as error:
        name = "DISK_FULL" if error.errno in (errno.ENOSPC, errno.EDQUOT) else "CANNOT_WRITE"
        _fail(task, _failure(name, code, str(error.filename or folder), str(error.strerror)))
    return targets


def _convert(task: Task, start: Callable[[], _TaskJob[T]], destination: Path) -> T:
    """Run the job ``start`` makes into staging; its failure raised, or retried when it may pass."""
    limit = (task.request.timelimit or (None,))[0] or task.time_limit
    limit = limit or task.app.conf.task_time_limit
    last = None if limit is None else time.monotonic() + limit - PROGRESS_MARGIN

    def report(event: Event) -> None:
        if isinstance(event, Progress) and (last is None or time.monotonic() < last):
            meta = {"current": event.number, "total": event.total, "name": event.name}
            task.update_state(state="PROGRESS", meta=meta)

    output = destination
    try:
        job = start()
        output, job._on_progress = job.output, report
        job._launch()
        with job:
            return job.result()
    except errors.FolioError as error:
        item = error.item or str(destination)
        if item.startswith(str(output)):
            item = str(destination) + item[len(str(output)) :]
        _fail(task, _failure(error.name, error.code, item, error.meaning))


def _fail(task: Task, failure: FolioTaskError) -> NoReturn:
    """Raise ``failure`` at once, or as a retry after a wait when it may pass."""
    if failure.name not in TRANSIENT:
        raise failure from None
    countdown = RETRY_BACKOFF * 2**task.request.retries
    raise task.retry(exc=failure, countdown=countdown) from None


def pdf_to_images(task: Task, pdf_path: str, output_dir: str) -> list[str]:
    """Render every page of ``pdf_path`` into the existing ``output_dir``; the page paths."""
    destination = Path(output_dir)
    if not destination.is_dir():
        _fail(task, _failure("CANNOT_WRITE", 31, output_dir, "the output folder is missing"))
    with _staging(task, destination, 31) as folder:
        pages = _convert(
            task,
            lambda: prepare(_TaskJob, "pdf_to_images", [pdf_path], folder, None, None, None),
            destination,
        )
        published = _publish(task, pages, destination, _same_page, 31)
    return [str(page) for page in published]


def images_to_pdf(task: Task, image_paths: list[str], output_pdf: str) -> str:
    """Write one PDF of ``image_paths`` at ``output_pdf``; its path."""
    destination = Path(output_pdf)
    with _staging(task, destination, 34) as folder:
        document = _convert(
            task,
            lambda: prepare(
                _TaskJob,
                "images_to_pdf",
                list(image_paths),
                folder / destination.name,
                None,
                None,
                None,
            ),
            destination,
        )
        _publish(task, [document], destination.parent, _same_pdf, 34)
    return str(destination)


#: What each task is declared with: acknowledged once it has ended, and given
#: back to the queue when the process running it dies.
TASK_OPTIONS: dict[str, Any] = {
    "bind": True,
    "acks_late": True,
    "reject_on_worker_lost": True,
    "max_retries": MAX_RETRIES,
}


def register(app: Celery, **options: object) -> tuple[Task, Task]:
    """Register ``folio.pdf_to_images`` and ``folio.images_to_pdf`` on ``app``.

    ``options`` go to each task over TASK_OPTIONS (``time_limit=600``, say).
    Returns the two tasks.
    """
    merged = {**TASK_OPTIONS, **options}
    return (
        app.task(name="folio.pdf_to_images", **merged)(pdf_to_images),
        app.task(name="folio.images_to_pdf", **merged)(images_to_pdf),
    )
