"""The folio-worker command: exit codes, words and JSON lines, and its bar in a terminal."""

import json
import subprocess
import sys
import time
from pathlib import Path

import pytest
from conftest import IMAGES, ROOT, SAMPLE

COMMAND = [sys.executable, "-m", "folio_worker.cli"]
BROKEN = ROOT / "tests/data/bad-text.jpg"

# arguments ({t} is the test's folder), exit code, what standard error holds
CASES = [
    (["pdf2png", SAMPLE, "{t}/new"], 0, ["3/3 page_003.png\n3 pages in"]),
    (["pdf2png", SAMPLE, "{t}/taken"], 31, ["CANNOT_WRITE (31)", "taken/page_001.png"]),
    (["img2pdf", BROKEN, "-o", "{t}/o.pdf"], 33, ["IMAGE_READ_FAILED (33)", f"{BROKEN}\n"]),
    (["img2pdf", *IMAGES, "-o", "{t}/missing/o.pdf"], 34, ["CANNOT_WRITE (34)", "missing/o.pdf"]),
    (["img2pdf", *IMAGES], 2, ["the following arguments are required: -o"]),
]


@pytest.mark.parametrize(("args", "code", "told"), CASES)
def test_the_command_tells_its_outcome_and_exits_with_the_workers_code(tmp_path, args, code, told):
    (tmp_path / "taken").mkdir()
    (tmp_path / "taken/page_001.png").touch()
    args = [str(arg).format(t=tmp_path) for arg in args]
    done = subprocess.run(COMMAND + args, capture_output=True, text=True)
    assert (done.returncode, done.stdout) == (code, "")
    assert all(part in done.stderr for part in told)


def test_json_gives_one_event_a_line(tmp_path: Path) -> None:
    args = ["img2pdf", *map(str, IMAGES), "-o", str(tmp_path / "o.pdf"), "--json"]
    lines = subprocess.run(COMMAND + args, capture_output=True, check=True).stdout.splitlines()
    events = [json.loads(line) for line in lines]
    assert events[0] == {"event": "start", "total": 3}
    assert [event["name"] for event in events[1:4]] == [image.name for image in IMAGES]
    assert events[4] == {"event": "done", "outputs": [str(tmp_path / "o.pdf")]}


def test_help_shows_examples() -> None:
    assert "folio-worker img2pdf a.jpg" in subprocess.check_output([*COMMAND, "--help"], text=True)


def test_a_terminal_shows_a_bar(tmp_path: Path, long_pdf: Path) -> None:
    tmux = ["tmux", "-L", f"folio-{tmp_path.name}"]
    subprocess.check_call([*tmux, "new-session", "-d", "-x", "100", "-y", "5", "sh"])
    try:
        line = " ".join([*COMMAND, "pdf2png", str(long_pdf), str(tmp_path / "pages")])
        subprocess.check_call([*tmux, "send-keys", line, "Enter"])
        for _ in range(100):
            screen = subprocess.check_output([*tmux, "capture-pane", "-p"], text=True)
            if "450 pages in" in screen:
                break
            time.sleep(0.2)
    finally:
        subprocess.call([*tmux, "kill-server"])
    assert "[########################] 450/450 " in screen and " left page_450.png" in screen
