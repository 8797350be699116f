"""The start-up time-out against the real player: a server that accepts and
never answers ends the run with "TIMEOUT" after 20 seconds (not with the HTTP
source's own earlier error), and a stream that gets going just before then
is not timed out later. The cases wait out the 20 seconds side by side."""

import signal
import time

from harness import Sandbox, within
from http_server import HttpServer, Route
from signals_support import run_files_gone, start, status_word, wait_status_word, wav_stream


def test_startup_timeout(tmp_path):
    body = wav_stream(60)
    routes = {
        "/hang": Route(hang=True),
        # Header at once, the audio 18 s later: PLAYING just inside the limit.
        "/late": Route(content_type="audio/x-wav", content_length=False,
                       pieces=[(b"", 18.0), (body, 0.0)]),
    }
    boxes = {name: Sandbox(tmp_path / name) for name in ("plain", "controller", "late")}
    try:
        with HttpServer(routes) as server:
            began = time.monotonic()
            plain = start(boxes["plain"], server.url("/hang"))
            controller = start(boxes["controller"], server.url("/hang"), controller=True)
            late = start(boxes["late"], server.url("/late"))

            for sb, proc in ((boxes["plain"], plain), (boxes["controller"], controller)):
                assert proc.wait(40) == 1
                took = time.monotonic() - began
                # 20 s, plus starting and ending the program.
                assert 19.0 <= took <= 20.0 + within(6.0), f"ended after {took:.1f}s"
                assert status_word(sb) == "TIMEOUT"
                assert run_files_gone(sb)

            wait_status_word(boxes["late"], "PLAYING", timeout=10)
            # Well past the 20 s, still playing.
            while time.monotonic() - began < 26.0:
                assert late.running(), f"late stream ended: {status_word(boxes['late'])!r}"
                time.sleep(0.5)
            assert status_word(boxes["late"]) == "PLAYING"
            late.signal(signal.SIGTERM)
            assert late.wait(10) == 1
            assert status_word(boxes["late"]) == "KILLED"

        time.sleep(0.3)
        assert boxes["controller"].kavido_signals() == 1
        assert boxes["plain"].kavido_signals() == 0
    finally:
        for sb in boxes.values():
            sb.close()
