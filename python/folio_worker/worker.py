"""Finding the worker, and running its two jobs from ordinary (blocking) code."""

from __future__ import annotations

import contextlib
import os
import queue
import re
import shutil
import subprocess
import tempfile
import threading
import time
from collections.abc import Iterable, Iterator, Sequence
from pathlib import Path
from typing import IO, Any, Callable, Generic, Optional, TypeVar, Union

from folio_worker import errors
from folio_worker.events import Event, Progress, ProgressCallback, Started
from folio_worker.protocol import Final, encode_image_list, page_file_name, parse_line

#: Any path: text, bytes (kept byte for byte, UTF-8 or not) or path-like.
PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
#: A worker command: the binary, or a list such as ``["wine", "folio.exe"]``.
WorkerArg = Union[PathArg, Sequence[PathArg]]

T = TypeVar("T")
J = TypeVar("J", bound="JobState[Any]")
WORKER_NAME = "folio.exe" if os.name == "nt" else "folio"
# Every result name the worker gives about one item rather than the whole job.
_PAGE_RESULTS = ("RENDER_FAILED", "PAGE_TOO_LARGE", "CANNOT_WRITE", "DISK_FULL")
_IMAGE_RESULTS = ("IMAGE_READ_FAILED", "IMAGE_TOO_LARGE")


def _argument(path: PathArg) -> Union[str, bytes]:
    # Bytes on POSIX, so that a name that is not UTF-8 reaches the worker as it is.
    return os.fsdecode(path) if os.name == "nt" else os.fsencode(path)


def find_worker(worker: Optional[WorkerArg] = None) -> list[Union[str, bytes]]:
    """The command that starts the worker.

    ``worker`` wins when given: a path, or a command as a list. Otherwise the
    binary inside the installed wheel, then the ``FOLIO_WORKER`` environment
    variable, then ``folio`` on ``PATH``. Raises WorkerNotFoundError naming
    every place it looked.
    """
    if worker is not None:
        if isinstance(worker, (str, bytes, os.PathLike)):
            return [_argument(worker)]
        return [_argument(part) for part in worker]
    bundled = Path(__file__).parent / "_bin" / WORKER_NAME
    if bundled.is_file():
        return [str(bundled)]
    variable = os.environ.get("FOLIO_WORKER")
    if variable:
        return [variable]
    on_path = shutil.which(WORKER_NAME)
    if on_path:
        return [on_path]
    raise errors.WorkerNotFoundError(
        f"WORKER_NOT_FOUND: not at {bundled} (inside this package), FOLIO_WORKER is not set, "
        f"and no {WORKER_NAME} on PATH ({os.environ.get('PATH', '')})"
    )


class JobState(Generic[T]):
    """A job: what it was asked, what the worker has said so far, and its outcome.

    ``kind`` is ``"pdf_to_images"`` or ``"images_to_pdf"``; ``command`` the
    worker's command line; ``total`` the item count once started; ``names``
    the items done so far, in order; ``returncode`` the worker's exit status
    once it ended.
    """

    def __init__(
        self,
        kind: str,
        command: list[Union[str, bytes]],
        inputs: list[PathArg],
        output: PathArg,
        on_progress: Optional[ProgressCallback],
        timeout: Optional[float],
        make_result: Callable[[JobState[T]], T],
    ) -> None:
        """Describe the job; subclasses start it."""
        self.kind = kind
        self.command = command
        self.inputs = inputs
        self.output = Path(os.fsdecode(output))
        self.total: Optional[int] = None
        self.names: list[str] = []
        self.final: Optional[Final] = None
        self.returncode: Optional[int] = None
        self._on_progress = on_progress
        self._deadline = None if timeout is None else time.monotonic() + timeout
        self._timeout = timeout
        self._make_result = make_result
        self._list_file: Optional[str] = None

    def _remaining(self) -> Optional[float]:
        return None if self._deadline is None else max(0.0, self._deadline - time.monotonic())

    def _feed(self, line: bytes) -> Optional[Event]:
        parsed = parse_line(line)
        if isinstance(parsed, Final):
            self.final = parsed
            return None
        if isinstance(parsed, Started):
            self.total = parsed.total
        elif isinstance(parsed, Progress):
            self.names.append(parsed.name)
        if parsed is not None and self._on_progress is not None:
            self._on_progress(parsed)
        return parsed

    def _culprit(self, name: str) -> str:
        """The file a failure named ``name`` is about."""
        done = len(self.names)
        if self.kind == "pdf_to_images":
            if name in _PAGE_RESULTS and self.total is not None and done < self.total:
                return str(self.output / page_file_name(done + 1, self.total))
            return os.fsdecode(self.output if name == "CANNOT_WRITE" else self.inputs[0])
        if name in _IMAGE_RESULTS and done < len(self.inputs):
            return os.fsdecode(self.inputs[done])
        return os.fsdecode(self.output)

    def _outcome(self) -> T:
        """The result, or the error the worker's last line and exit status tell."""
        code = self.returncode
        if code is not None and code < 0:
            raise errors.WorkerKilledError(
                f"KILLED: the worker was killed by signal {-code}",
                signal=-code,
                code=code,
                job=self,
            )
        if self.final is not None and self.final.error is not None:
            name = self.final.error
            cls = errors.RESULT_ERRORS.get(name, errors.UnknownError)
            item = self._culprit(name)
            raise cls(f"{name} ({code}): {cls.meaning}: {item}", code=code, job=self, item=item)
        if self.final is not None and code == 0:
            return self._make_result(self)
        said = "no result line" if self.final is None else "DONE"
        raise errors.NoResultError(
            f"NO_RESULT: the worker ended with exit code {code} and {said}", code=code, job=self
        )

    @contextlib.contextmanager
    def _starting(self) -> Iterator[None]:
        """Around starting the worker: a failure, or an interrupt, takes the list file with it."""
        try:
            yield
        except BaseException as error:
            self._clean_up(killed=False)
            if isinstance(error, OSError):
                raise errors.WorkerNotFoundError(
                    f"WORKER_NOT_FOUND: cannot start {os.fsdecode(self.command[0])}: "
                    f"{error.strerror}",
                    job=self,
                ) from error
            raise

    def _timed_out(self) -> errors.FolioTimeoutError:
        return errors.FolioTimeoutError(
            f"TIMEOUT: the job took longer than {self._timeout} s; the worker was ended", job=self
        )

    def _after_kill(self, rest: Iterable[Optional[bytes]]) -> None:
        """Read, telling no one, the lines the worker wrote before it was ended, then clean up.

        They tell which pages are whole.
        """
        callback, self._on_progress = self._on_progress, None
        for line in rest:
            if line and self.final is None:
                self._feed(line)
        self._on_progress = callback
        self._clean_up(killed=True)

    def _clean_up(self, killed: bool) -> None:
        """Remove the list file, and what a worker ended midway leaves.

        A page being written when the worker was ended stays as its
        ``.tmp``; a PDF being saved is half written. Pages already named are
        whole and stay.
        """
        if self._list_file is not None:
            os.unlink(self._list_file)
            self._list_file = None
        if not killed or self.final is not None or self.total is None:
            return
        done = len(self.names)
        if self.kind == "images_to_pdf":
            if done == self.total:
                with contextlib.suppress(OSError):
                    self.output.unlink()
            return
        digits = len(page_file_name(1, self.total)) - len("page_.png")
        pattern = re.compile(rf"page_(\d{{{digits}}})\.png\.tmp")
        # A folder taken away or made read-only keeps what it holds; the
        # job's own error says why it ended.
        with contextlib.suppress(OSError), os.scandir(self.output) as entries:
            for entry in entries:
                match = pattern.fullmatch(entry.name)
                if match and done < int(match.group(1)) <= self.total:
                    os.unlink(entry.path)


def _pages(job: JobState[list[Path]]) -> list[Path]:
    return [job.output / name for name in job.names]


def _document(job: JobState[Path]) -> Path:
    return job.output


def _write_list(images: Sequence[PathArg]) -> str:
    data = encode_image_list(list(images))
    handle, path = tempfile.mkstemp(prefix="folio-", suffix=".list")
    with os.fdopen(handle, "wb") as file:
        file.write(data)
    return path


def _read_lines(stream: IO[bytes], lines: queue.Queue[Optional[bytes]]) -> None:
    try:
        for line in iter(stream.readline, b""):
            lines.put(line)
    finally:
        lines.put(None)


class Job(JobState[T]):
    """A running job. Iterate it for its events; ``result()`` waits for its outcome.

    Use it in a ``with`` block: leaving the block early ends the worker.
    """

    def _spawn_options(self) -> dict[str, Any]:
        """More of Popen's options, for a subclass that starts the worker its own way."""
        return {}

    def _launch(self) -> None:
        with self._starting():
            self._process = subprocess.Popen(
                self.command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                stderr=subprocess.DEVNULL, **self._spawn_options(),
            )  # fmt: skip
        self._lines: queue.Queue[Optional[bytes]] = queue.Queue()
        assert self._process.stdout is not None
        self._reader = threading.Thread(
            target=_read_lines, args=(self._process.stdout, self._lines), daemon=True
        )
        self._reader.start()
        self._ended = False

    def __enter__(self) -> Job[T]:
        """The job itself."""
        return self

    def __exit__(self, *exc: object) -> None:
        """End the worker if it still runs."""
        self.cancel()

    def _next_line(self) -> Optional[bytes]:
        """The next line, None at the end; the worker is ended on a timeout or an interrupt."""
        try:
            while True:
                remaining = self._remaining()
                if remaining == 0.0:
                    raise self._timed_out()
                try:
                    # A process the worker starts (Wine's) may hold the pipe open
                    # after the worker exits: its exit counts as the end too.
                    return self._lines.get(timeout=min(0.5, remaining or 0.5))
                except queue.Empty:
                    if self._process.poll() is not None and self._lines.empty():
                        return None
        except BaseException:
            self.cancel()
            raise

    def __iter__(self) -> Iterator[Event]:
        """The events as the worker writes them, until its last line."""
        while self.final is None and not self._ended:
            line = self._next_line()
            if line is None:
                break
            try:
                event = self._feed(line)
            except BaseException:
                self.cancel()
                raise
            if event is not None:
                yield event

    def result(self) -> T:
        """Wait for the end; the job's result, or its error raised."""
        for _ in self:
            pass
        if not self._ended:
            try:
                self.returncode = self._process.wait(self._remaining())
            except subprocess.TimeoutExpired:
                self.cancel()
                raise self._timed_out() from None
            except BaseException:
                self.cancel()
                raise
            self._ended = True
            self._close_pipe()
            # A worker ended by a signal (Ctrl-C reaches it too) left its page half written.
            self._clean_up(killed=self.returncode < 0)
        return self._outcome()

    def _close_pipe(self) -> None:
        # Unless a process the worker started (Wine's) still holds it open.
        self._reader.join(timeout=1.0)
        if not self._reader.is_alive() and self._process.stdout is not None:
            self._process.stdout.close()

    def cancel(self) -> None:
        """End the worker now, reap it, and remove what it left half done."""
        if self._ended:
            return
        self._ended = True
        self._process.kill()
        self.returncode = self._process.wait()
        self._close_pipe()
        self._after_kill([self._lines.get() for _ in range(self._lines.qsize())])


def prepare(
    job_class: type[J],
    kind: str,
    inputs: list[PathArg],
    output: PathArg,
    on_progress: Optional[ProgressCallback],
    timeout: Optional[float],
    worker: Optional[WorkerArg],
) -> J:
    """The job, not yet started: its command found, and its image list written."""
    command = find_worker(worker)
    make_result: Callable[[Any], Any] = _pages
    list_file = None
    if kind == "pdf_to_images":
        command += ["--input", _argument(inputs[0])]
    else:
        make_result = _document
        list_file = _write_list(inputs)
        command += ["--images", _argument(list_file)]
    command += ["--output", _argument(output)]
    job = job_class(kind, command, inputs, output, on_progress, timeout, make_result)
    job._list_file = list_file
    return job


def start_pdf_to_images(
    pdf: PathArg,
    output_dir: PathArg,
    *,
    on_progress: Optional[ProgressCallback] = None,
    timeout: Optional[float] = None,
    worker: Optional[WorkerArg] = None,
) -> Job[list[Path]]:
    """Start rendering every page of ``pdf`` into the existing ``output_dir``; see pdf_to_images."""
    job: Job[list[Path]] = prepare(
        Job, "pdf_to_images", [pdf], output_dir, on_progress, timeout, worker
    )
    job._launch()
    return job


def start_images_to_pdf(
    images: Sequence[PathArg],
    output_pdf: PathArg,
    *,
    on_progress: Optional[ProgressCallback] = None,
    timeout: Optional[float] = None,
    worker: Optional[WorkerArg] = None,
) -> Job[Path]:
    """Start putting ``images`` into one PDF at ``output_pdf``; see images_to_pdf."""
    job: Job[Path] = prepare(
        Job, "images_to_pdf", list(images), output_pdf, on_progress, timeout, worker
    )
    job._launch()
    return job


def pdf_to_images(
    pdf: PathArg,
    output_dir: PathArg,
    *,
    on_progress: Optional[ProgressCallback] = None,
    timeout: Optional[float] = None,
    worker: Optional[WorkerArg] = None,
) -> list[Path]:
    """Render every page of ``pdf`` to ``page_001.png``, ... in the existing ``output_dir``.

    Returns the page files in order. ``on_progress`` is given each event;
    after ``timeout`` seconds the worker is ended and FolioTimeoutError
    raised. A failure raises the FolioError of its result name; the pages
    named before it stay.
    """
    with start_pdf_to_images(
        pdf, output_dir, on_progress=on_progress, timeout=timeout, worker=worker
    ) as job:
        return job.result()


def images_to_pdf(
    images: Sequence[PathArg],
    output_pdf: PathArg,
    *,
    on_progress: Optional[ProgressCallback] = None,
    timeout: Optional[float] = None,
    worker: Optional[WorkerArg] = None,
) -> Path:
    """Write one PDF at ``output_pdf`` with a page for each of ``images`` (1 to 10000), in order.

    The image list file is written to a temporary place and removed after.
    Returns the PDF's path; errors as for pdf_to_images.
    """
    with start_images_to_pdf(
        images, output_pdf, on_progress=on_progress, timeout=timeout, worker=worker
    ) as job:
        return job.result()
