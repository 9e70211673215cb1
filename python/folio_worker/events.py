"""Progress events: what the worker's status lines say while a job runs."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Callable, Union


@dataclass(frozen=True)
class Started:
    """The job has begun; ``total`` items (pages, or images) will follow."""

    total: int


@dataclass(frozen=True)
class Progress:
    """Item ``number`` (from 1) of ``total`` is done; ``name`` is its file name.

    In the PDF job the name is the page file just written (``page_001.png``);
    in the images job it is the image's file name after its last slash.
    """

    number: int
    total: int
    name: str


#: Every event a job gives, in order: one Started, then one Progress per item.
Event = Union[Started, Progress]

#: A function that is given each event as it comes.
ProgressCallback = Callable[[Event], None]
