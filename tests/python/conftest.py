"""Inputs for the Python package's tests, made from the samples and fixtures."""

import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "samples" / "sample.pdf"  # 3 pages (the README's example)
IMAGES = sorted((ROOT / "samples" / "images").iterdir())
WORKER = os.environ.get("FOLIO_WORKER") or str(ROOT / "build" / "folio")


def is_whole_png(path: Path) -> bool:
    """A PNG from its signature to its IEND chunk: what a page cut short lacks."""
    data = path.read_bytes()
    return data[:8] == b"\x89PNG\r\n\x1a\n" and data[-12:-4] == b"\0\0\0\0IEND"


def page_count(pdf: Path) -> int:
    """The pages of a PDF, as qpdf counts them."""
    return int(subprocess.check_output(["qpdf", "--show-npages", str(pdf)]))


@pytest.fixture(scope="session")
def long_pdf(tmp_path_factory: pytest.TempPathFactory) -> Path:
    """The sample 150 times over (450 pages): a job that runs for a while."""
    path = tmp_path_factory.mktemp("long") / "long.pdf"
    subprocess.check_call(["qpdf", "--empty", "--pages", *[str(SAMPLE)] * 150, "--", str(path)])
    return path


@pytest.fixture(autouse=True)
def worker_from_build(monkeypatch: pytest.MonkeyPatch) -> None:
    """Every test runs the worker of the build under test."""
    monkeypatch.setenv("FOLIO_WORKER", WORKER)


def fake_worker(script: str) -> list[str]:
    """A stand-in worker: a shell script given the four arguments as $1 to $4."""
    return ["sh", "-c", script, "fake"]

