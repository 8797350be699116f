"""Plays a sample through the real player and shows its status file change.

The player runs in the same private sandbox the end-to-end tests use, so
the router's fixed paths (/tmp, /var/run, ...) on this machine stay untouched.
A short Ogg/Vorbis tone is served over HTTP on 127.0.0.1 behind a PLS
playlist, the way an internet-radio station hands out its stream.
"""

import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))

import media  # noqa: E402
from harness import Sandbox, build_path  # noqa: E402
from http_server import HttpServer, Route  # noqa: E402


def main():
    sample = media.make("ogg", seconds=4).read_bytes()
    with tempfile.TemporaryDirectory() as work, HttpServer(lifetime=60) as server:
        server.routes["/station.ogg"] = Route(body=sample, content_type="application/ogg")
        playlist = f"[playlist]\nNumberOfEntries=1\nFile1={server.url('/station.ogg')}\n"
        server.routes["/station.pls"] = Route(body=playlist.encode(), content_type="audio/x-scpls")
        sandbox = Sandbox(work)
        sink = "alsasink device=null provide-clock=false"
        location = server.url("/station.pls")
        print(f"sorvel {location}   (audio to: {sink})")
        # The player's settings store lives in the sandbox too: the demo
        # must leave nothing in this machine's own store.
        store = sandbox.nvram_file
        proc = sandbox.spawn([build_path("player/sorvel"), location],
                             env={"SORVEL_AUDIO_SINK": sink, "NVRAM_FILE": sandbox.inside(store)})
        status, seen = sandbox.tmp / "sorvi.txt", None
        while proc.popen.poll() is None:
            text = status.read_text() if status.exists() else None
            if text and text != seen:
                seen = text
                print(f"{time.strftime('%H:%M:%S')}  /tmp/sorvi.txt: " + " | ".join(text.splitlines()))
            time.sleep(0.05)
        code = proc.wait(5)
        text = status.read_text() if status.exists() else ""
        if text != seen:
            print(f"{time.strftime('%H:%M:%S')}  /tmp/sorvi.txt: " + " | ".join(text.splitlines()))
        print(f"sorvel exited with status {code}")
        if store.exists():
            print("settings store (in the sandbox): " + " | ".join(store.read_text().splitlines()))
        sandbox.close()
        return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
