"""The asyncio twins of the two jobs: the same meaning, awaited."""

from __future__ import annotations

import asyncio
from collections.abc import AsyncIterator, Sequence
from pathlib import Path
from typing import Optional, TypeVar

from folio_worker.events import Event, ProgressCallback
from folio_worker.worker import JobState, PathArg, WorkerArg, prepare

T = TypeVar("T")


class AsyncJob(JobState[T]):
    """A running job, for asyncio: ``async for`` its events, ``await result()``.

    Cancelling the task that awaits it ends the worker, reaps it and removes
    what it left half done before the cancellation goes on.
    """

    async def _launch(self) -> None:
        # Cancelled while starting: asyncio ends the process it began, the list file is ours.
        with self._starting():
            self._process = await asyncio.create_subprocess_exec(
                *self.command, stdin=asyncio.subprocess.DEVNULL,
                stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.DEVNULL,
            )  # fmt: skip
        self._ended = False

    async def __aenter__(self) -> AsyncJob[T]:
        """The job itself."""
        return self

    async def __aexit__(self, *exc: object) -> None:
        """End the worker if it still runs."""
        await self.cancel()

    async def __aiter__(self) -> AsyncIterator[Event]:
        """The events as the worker writes them, until its last line."""
        assert self._process.stdout is not None
        while self.final is None and not self._ended:
            try:
                line = await asyncio.wait_for(self._process.stdout.readline(), self._remaining())
                event = self._feed(line) if line else None
            except asyncio.TimeoutError:
                await self.cancel()
                raise self._timed_out() from None
            except BaseException:
                await self.cancel()
                raise
            if not line:
                break
            if event is not None:
                yield event

    async def result(self) -> T:
        """Wait for the end; the job's result, or its error raised."""
        async for _ in self:
            pass
        if not self._ended:
            try:
                self.returncode = await asyncio.wait_for(self._process.wait(), self._remaining())
            except asyncio.TimeoutError:
                await self.cancel()
                raise self._timed_out() from None
            except BaseException:
                await self.cancel()
                raise
            self._ended = True
            self._clean_up(killed=self.returncode < 0)
        return self._outcome()

    async def cancel(self) -> None:
        """End the worker now, reap it, and remove what it left half done."""
        if self._ended:
            return
        self._ended = True
        if self._process.returncode is None:
            self._process.kill()
        self.returncode = await self._process.wait()
        assert self._process.stdout is not None
        try:
            rest = await asyncio.wait_for(self._process.stdout.read(), 1.0)
        except asyncio.TimeoutError:
            rest = b""
        self._after_kill(rest.splitlines(keepends=True))


async def start_pdf_to_images_async(
    pdf: PathArg,
    output_dir: PathArg,
    *,
    on_progress: Optional[ProgressCallback] = None,
    timeout: Optional[float] = None,
    worker: Optional[WorkerArg] = None,
) -> AsyncJob[list[Path]]:
    """Start the PDF job under asyncio; see pdf_to_images."""
    job: AsyncJob[list[Path]] = prepare(
        AsyncJob, "pdf_to_images", [pdf], output_dir, on_progress, timeout, worker
    )
    await job._launch()
    return job


async def start_images_to_pdf_async(
    images: Sequence[PathArg],
    output_pdf: PathArg,
    *,
    on_progress: Optional[ProgressCallback] = None,
    timeout: Optional[float] = None,
    worker: Optional[WorkerArg] = None,
) -> AsyncJob[Path]:
    """Start the images job under asyncio; see images_to_pdf."""
    job: AsyncJob[Path] = prepare(
        AsyncJob, "images_to_pdf", list(images), output_pdf, on_progress, timeout, worker
    )
    await job._launch()
    return job


async def pdf_to_images_async(
    pdf: PathArg,
    output_dir: PathArg,
    *,
    on_progress: Optional[ProgressCallback] = None,
    timeout: Optional[float] = None,
    worker: Optional[WorkerArg] = None,
) -> list[Path]:
    """Render every page of ``pdf`` into ``output_dir``, awaited; as pdf_to_images."""
    job = await start_pdf_to_images_async(
        pdf, output_dir, on_progress=on_progress, timeout=timeout, worker=worker
    )
    async with job:
        return await job.result()


async def images_to_pdf_async(
    images: Sequence[PathArg],
    output_pdf: PathArg,
    *,
    on_progress: Optional[ProgressCallback] = None,
    timeout: Optional[float] = None,
    worker: Optional[WorkerArg] = None,
) -> Path:
    """Write one PDF of ``images`` at ``output_pdf``, awaited; as images_to_pdf."""
    job = await start_images_to_pdf_async(
        images, output_pdf, on_progress=on_progress, timeout=timeout, worker=worker
    )
    async with job:
        return await job.result()
