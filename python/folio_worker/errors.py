"""The exceptions: one class per result name the worker reports, and our own.

The worker ends a failed job with an ``ERROR`` line naming the result and an
exit code. Two names can share a code (31 is CANNOT_WRITE or DISK_FULL) and
one name can carry different codes in the two jobs (CANNOT_WRITE is 31 in the
PDF job, 34 in the images job), so the class is chosen by the name and the
code is kept as the worker gave it.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, ClassVar, Optional

if TYPE_CHECKING:
    from folio_worker.worker import JobState


class FolioError(Exception):
    """Base of every error of this package.

    ``code`` is the worker's exit code (None where the worker gave none),
    ``name`` the result name, ``job`` the job that failed (None before one
    started) and ``item`` the file the failure is about, where known.
    """

    name: ClassVar[str] = ""
    meaning: ClassVar[str] = ""

    def __init__(
        self,
        message: str,
        *,
        code: Optional[int] = None,
        job: Optional[JobState[Any]] = None,
        item: Optional[str] = None,
    ) -> None:
        """Keep the message, the exit code, the job and the failing item."""
        super().__init__(message)
        self.code = code
        self.job = job
        self.item = item


class BadArgumentsError(FolioError):
    """BAD_ARGUMENTS (10): the worker refused its command line."""

    name = "BAD_ARGUMENTS"
    meaning = "the worker refused its command line"


class CannotReadError(FolioError):
    """CANNOT_READ (20): the PDF is missing, a folder, not named .pdf or unreadable."""

    name = "CANNOT_READ"
    meaning = "the PDF is missing, a folder, not named .pdf, or cannot be opened"


class PdfDamagedError(FolioError):
    """PDF_DAMAGED (21): the PDF is malformed or has no pages."""

    name = "PDF_DAMAGED"
    meaning = "the PDF is malformed or has no pages"


class PasswordRequiredError(FolioError):
    """PASSWORD_REQUIRED (22): the PDF needs a password."""

    name = "PASSWORD_REQUIRED"
    meaning = "the PDF needs a password"


class SecurityUnsupportedError(FolioError):
    """SECURITY_UNSUPPORTED (23): the PDF uses a security scheme PDFium cannot open."""

    name = "SECURITY_UNSUPPORTED"
    meaning = "the PDF uses a security scheme PDFium cannot open"


class RenderFailedError(FolioError):
    """RENDER_FAILED (30): a page cannot be loaded or its bitmap made."""

    name = "RENDER_FAILED"
    meaning = "the page cannot be loaded or its bitmap made"


class CannotWriteError(FolioError):
    """CANNOT_WRITE (31 in the PDF job, 34 in the images job): the output cannot be written."""

    name = "CANNOT_WRITE"
    meaning = "the output cannot be written (no folder, no permission, or a page already there)"


class DiskFullError(FolioError):
    """DISK_FULL (31 in the PDF job, 34 in the images job): the disk filled."""

    name = "DISK_FULL"
    meaning = "the disk filled while the output was written"


class PageTooLargeError(FolioError):
    """PAGE_TOO_LARGE (32): over 256 MiB of pixels, no size, or a bad rotation."""

    name = "PAGE_TOO_LARGE"
    meaning = "the page is over 256 MiB of pixels, has no size, or has a bad rotation"


class ImageTooLargeError(FolioError):
    """IMAGE_TOO_LARGE (32 or 33): the page would be over 200 inches, or PDFium refused it."""

    name = "IMAGE_TOO_LARGE"
    meaning = "the image's page would be over 200 inches on a side, or PDFium refused it"


class ImageReadFailedError(FolioError):
    """IMAGE_READ_FAILED (33): the list cannot be read, or an image cannot be decoded."""

    name = "IMAGE_READ_FAILED"
    meaning = "the image cannot be read or decoded"


class PdfCreateFailedError(FolioError):
    """PDF_CREATE_FAILED (34): PDFium could not build the document."""

    name = "PDF_CREATE_FAILED"
    meaning = "PDFium could not build the document"


class UnknownError(FolioError):
    """UNKNOWN (50): the imaging runtime could not start, or an unforeseen failure."""

    name = "UNKNOWN"
    meaning = "the worker failed in a way it does not name"


class WorkerKilledError(FolioError):
    """The worker was ended by a signal before it gave its result.

    ``signal`` is the signal's number; ``code`` is the negative number
    ``subprocess`` reports for it.
    """

    name = "KILLED"
    meaning = "the worker was killed by a signal"

    def __init__(
        self, message: str, *, signal: int, code: Optional[int], job: Optional[JobState[Any]]
    ) -> None:
        """Keep the signal's number besides what every error keeps."""
        super().__init__(message, code=code, job=job)
        self.signal = signal


class NoResultError(FolioError):
    """The worker ended without a result line, or with one its exit code denies."""

    name = "NO_RESULT"
    meaning = "the worker ended without telling its result"


class FolioTimeoutError(FolioError, TimeoutError):
    """The job ran past its ``timeout``; the worker was ended and reaped."""

    name = "TIMEOUT"
    meaning = "the job ran out of time and the worker was ended"


class WorkerNotFoundError(FolioError, FileNotFoundError):
    """No worker binary was found; the message says every place that was tried."""

    name = "WORKER_NOT_FOUND"
    meaning = "no folio worker was found"


#: The class of each result name the worker can report.
RESULT_ERRORS: dict[str, type[FolioError]] = {
    cls.name: cls
    for cls in (
        BadArgumentsError,
        CannotReadError,
        PdfDamagedError,
        PasswordRequiredError,
        SecurityUnsupportedError,
        RenderFailedError,
        CannotWriteError,
        DiskFullError,
        PageTooLargeError,
        ImageTooLargeError,
        ImageReadFailedError,
        PdfCreateFailedError,
        UnknownError,
    )
}
