"""Folio from Python: every page of a PDF to PNG files, and images to one PDF.

The work is done by the folio worker, a separate program (see find_worker for
where it is looked for); this package starts it, reads its status lines and
turns its result into a return value or an exception.
"""

from folio_worker.aio import (
    AsyncJob,
    images_to_pdf_async,
    pdf_to_images_async,
    start_images_to_pdf_async,
    start_pdf_to_images_async,
)
from folio_worker.errors import (
    RESULT_ERRORS,
    BadArgumentsError,
    CannotReadError,
    CannotWriteError,
    DiskFullError,
    FolioError,
    FolioTimeoutError,
    ImageReadFailedError,
    ImageTooLargeError,
    NoResultError,
    PageTooLargeError,
    PasswordRequiredError,
    PdfCreateFailedError,
    PdfDamagedError,
    RenderFailedError,
    SecurityUnsupportedError,
    UnknownError,
    WorkerKilledError,
    WorkerNotFoundError,
)
from folio_worker.events import Event, Progress, ProgressCallback, Started
from folio_worker.worker import (
    Job,
    JobState,
    find_worker,
    images_to_pdf,
    pdf_to_images,
    start_images_to_pdf,
    start_pdf_to_images,
)

__version__ = "1.0.0"

__all__ = [
    "RESULT_ERRORS",
    "AsyncJob",
    "BadArgumentsError",
    "CannotReadError",
    "CannotWriteError",
    "DiskFullError",
    "Event",
    "FolioError",
    "FolioTimeoutError",
    "ImageReadFailedError",
    "ImageTooLargeError",
    "Job",
    "JobState",
    "NoResultError",
    "PageTooLargeError",
    "PasswordRequiredError",
    "PdfCreateFailedError",
    "PdfDamagedError",
    "Progress",
    "ProgressCallback",
    "RenderFailedError",
    "SecurityUnsupportedError",
    "Started",
    "UnknownError",
    "WorkerKilledError",
    "WorkerNotFoundError",
    "find_worker",
    "images_to_pdf",
    "images_to_pdf_async",
    "pdf_to_images",
    "pdf_to_images_async",
    "start_images_to_pdf",
    "start_images_to_pdf_async",
    "start_pdf_to_images",
    "start_pdf_to_images_async",
]
