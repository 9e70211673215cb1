"""The worker's protocol: its status lines, page file names and the image list file."""

from __future__ import annotations

import os
import struct
from dataclasses import dataclass
from typing import Optional, Union

from folio_worker.events import Event, Progress, Started

MAX_IMAGES = 10000
MAX_PATH_UNITS = 32767


@dataclass(frozen=True)
class Final:
    """The last line: ``DONE`` with its count, or ``ERROR`` with its result name."""

    done: Optional[int]
    error: Optional[str]


def parse_line(line: bytes) -> Union[Event, Final, None]:
    """Read one status line; None for a line that is none of the four."""
    fields = line.rstrip(b"\n").decode("utf-8", "replace").split("\t")
    try:
        if fields[0] == "START" and len(fields) == 2:
            return Started(int(fields[1]))
        if fields[0] == "PROGRESS" and len(fields) == 4:
            return Progress(int(fields[1]), int(fields[2]), fields[3])
        if fields[0] == "DONE" and len(fields) == 2:
            return Final(int(fields[1]), None)
    except ValueError:
        return None
    if fields[0] == "ERROR" and len(fields) == 2:
        return Final(None, fields[1])
    return None


def page_file_name(number: int, total: int) -> str:
    """The name the PDF job gives page ``number`` of ``total``."""
    return f"page_{number:0{max(3, len(str(total)))}d}.png"


def encode_image_list(
    paths: list[Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]],
) -> bytes:
    """The image list file naming ``paths``.

    A path's bytes that are not UTF-8 travel as the lone surrogates U+DC80 to
    U+DCFF, the rule the worker applies to its own arguments, so that the
    worker opens exactly the file named here.
    """
    if not 1 <= len(paths) <= MAX_IMAGES:
        raise ValueError(f"a list holds 1 to {MAX_IMAGES} images, not {len(paths)}")
    out = [struct.pack("<I", len(paths))]
    for path in paths:
        name = os.fspath(path)
        text = name.decode("utf-8", "surrogateescape") if isinstance(name, bytes) else name
        units = text.encode("utf-16-le", "surrogatepass")
        if not 1 <= len(units) // 2 <= MAX_PATH_UNITS:
            raise ValueError(f"an image path holds 1 to {MAX_PATH_UNITS} UTF-16 units: {path!r}")
        out += [struct.pack("<I", len(units) // 2), units]
    return b"".join(out)
