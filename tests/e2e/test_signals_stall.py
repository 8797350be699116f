"""The stall watchdog against the real player: a stream that stops moving
while the connection stays open ends the run at the 16th tick with an empty
status word; a stream that keeps stuttering but keeps moving, and a pause
however long, do not. The cases run side by side, each in its own sandbox."""

import signal
import time

from harness import TIME_SCALE, Sandbox
from http_server import HttpServer, Route
from signals_support import (
    WAV_BYTES_PER_SECOND, WAV_HEADER, local_copy, position, run_files_gone, start, status_lines,
    status_word, wait_status_word, wav_in_pieces, wav_stream)

# The cumulative count of earlier designs would have stopped the stuttering
# stream after about 25 s (two ticks without progress every 3 s).
STUTTER_SECONDS = 34
LONG_PAUSE_SECONDS = 20


class Watch:
    """Follows one run's position file: when it last changed."""

    def __init__(self, sb):
        self.sb = sb
        self.value = None
        self.changed_at = None

    def poll(self):
        value = position(self.sb)
        if value is not None and value != self.value:
            self.value = value
            self.changed_at = time.monotonic()


def test_stall_watchdog(tmp_path):
    routes = {
        # A file of stated length: four seconds of audio, then silence on an
        # open connection. (A live stream's silence is a drop to bridge.)
        "/stops": Route(body=wav_stream(30), content_type="audio/x-wav",
                        stall_after=WAV_HEADER + 4 * WAV_BYTES_PER_SECOND,
                        headers={"Content-Length": str(len(wav_stream(30)))}),
        # One second of audio every three seconds, for the whole test.
        "/stutters": wav_in_pieces(STUTTER_SECONDS, 1.0, 3.0),
    }
    names = ("plain", "controller", "stutter", "pause")
    boxes = {name: Sandbox(tmp_path / name) for name in names}
    try:
        with HttpServer(routes, lifetime=180) as server:
            runs = {
                "plain": start(boxes["plain"], server.url("/stops")),
                "controller": start(boxes["controller"], server.url("/stops"), controller=True),
                "stutter": start(boxes["stutter"], server.url("/stutters")),
                "pause": start(boxes["pause"], local_copy(boxes["pause"], "ogg", 60)),
            }
            for name in names:
                wait_status_word(boxes[name], "PLAYING")
            watches = {name: Watch(boxes[name]) for name in names}

            # The local file plays a little, then pauses for longer than the
            # watchdog's limit.
            sb = boxes["pause"]
            assert sb.wait_for(lambda: (position(sb) or 0) >= 2, 10)
            runs["pause"].signal(signal.SIGUSR1)
            paused_at = time.monotonic()
            time.sleep(1)
            held = position(sb)

            began = time.monotonic()
            ended = {}
            resumed = False
            while time.monotonic() - began < STUTTER_SECONDS:
                for name in names:
                    watches[name].poll()
                    if name not in ended and not runs[name].running():
                        ended[name] = time.monotonic()
                if "pause" not in ended and time.monotonic() - paused_at < LONG_PAUSE_SECONDS:
                    assert position(sb) == held
                if not resumed and time.monotonic() - paused_at > LONG_PAUSE_SECONDS + 2:
                    assert runs["pause"].running(), status_lines(sb)
                    runs["pause"].signal(signal.SIGUSR1)
                    resumed = True
                time.sleep(0.2)

            for name in ("plain", "controller"):
                sb, proc = boxes[name], runs[name]
                assert name in ended, f"{name}: the stalled stream was not ended"
                assert proc.wait(5) == 1
                standing = ended[name] - watches[name].changed_at
                # The last position change is seen by polling: an instrumented
                # build on a busy machine may see it a little late.
                early = 0.0 if TIME_SCALE == 1 else 1.0
                assert 14.0 - early <= standing <= 19.0 + early, \
                    f"{name}: ended {standing:.1f}s after the stall"
                assert status_lines(sb)[1:] == [""], status_lines(sb)
                assert run_files_gone(sb)

            for name in ("stutter", "pause"):
                sb, proc = boxes[name], runs[name]
                assert name not in ended, f"{name} ended: {status_lines(sb)!r}"
                assert status_word(sb) == "PLAYING"
            # The paused run was resumed and moves again.
            assert watches["pause"].value > held

            for name in ("stutter", "pause"):
                runs[name].signal(signal.SIGTERM)
                assert runs[name].wait(10) == 1

        time.sleep(0.3)
        assert boxes["controller"].kavido_signals() == 1
        assert boxes["plain"].kavido_signals() == 0
    finally:
        for sb in boxes.values():
            sb.close()
