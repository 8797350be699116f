"""A live station through a dropped connection, against a raw-socket station
whose every connection ends as a test says: a reset, a clean close or
silence, then back, refused, an HTTP error, or flapping. The run keeps
playing through a short drop without a new status word, and ends with one
final status when the station is gone. Files over HTTP resume after a reset
and play from servers that ignore byte ranges."""

import os
import signal
import threading
import time

import pytest

import media
from harness import Sandbox, emulator_prefix, within
from http_server import LiveStation
from signals_support import run_files_gone, start, status_lines, status_word, position

MP3 = None
# Under qemu the emulated player takes longer over everything it does
# itself; the player's own timers still run in real time.
SLACK = 3.0 if emulator_prefix() else 1.0


def mp3():
    global MP3
    if MP3 is None:
        MP3 = media.make("mp3-bare", 4).read_bytes()
    return MP3


class Watch:
    """Samples one run's status word and position file while it runs."""

    def __init__(self, sb, proc):
        self.sb, self.proc = sb, proc
        self.words, self.positions = [], []
        self.ended_at = None
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while self.proc.popen.poll() is None:
            word, at = status_word(self.sb), position(self.sb)
            now = time.monotonic()
            if word is not None and (not self.words or self.words[-1][1] != word):
                self.words.append((now, word))
            if at is not None and (not self.positions or self.positions[-1][1] != at):
                self.positions.append((now, at))
            time.sleep(0.05)
        self.ended_at = time.monotonic()

    def audio_again_after(self, moment):
        """When the position first moved after `moment` (None if it never did)."""
        before = [p for t, p in self.positions if t <= moment]
        last = before[-1] if before else 0
        return next((t for t, p in self.positions if t > moment and p > last), None)

    def check(self):
        values = [p for _, p in self.positions]
        assert values == sorted(values), f"position went back: {values}"
        # Between the first PLAYING and the final status, nothing else. (A
        # loaded machine may replace "PREPARE" before the first sample.)
        words = [w for _, w in self.words if w != "PREPARE"]
        assert words[:1] == ["PLAYING"] and len(words) <= 2, words
        return words[1] if len(words) == 2 else None


def begin(sb, station, controller=True):
    proc = start(sb, station.url(), controller=controller)
    watch = Watch(sb, proc)
    assert sb.wait_for(lambda: status_word(sb) == "PLAYING", within(15)), status_lines(sb)
    return proc, watch


def reconnections(station):
    """Requests after the first that carry no Range header."""
    return [r for r in station.requests[1:] if r[2] is None]


# Plans: what the n-th request gets. Each a fault a repeater's uplink or a
# station's restart causes; the run keeps playing.
BACK = {
    "reset": lambda n: ("audio", 3, "reset") if n == 1 else ("audio", None, "close"),
    "close": lambda n: ("audio", 3, "close") if n == 1 else ("audio", None, "close"),
}


@pytest.mark.parametrize("drop", sorted(BACK))
def test_short_drop_is_bridged_and_the_run_goes_on(sandbox, drop):
    sb = sandbox
    with LiveStation(mp3(), BACK[drop]) as station:
        proc, watch = begin(sb, station)
        assert sb.wait_for(lambda: reconnections(station), within(10)), station.requests
        dropped, asked = station.ends[0], reconnections(station)[0][0]
        assert sb.wait_for(lambda: watch.audio_again_after(asked), within(10))
        heard = watch.audio_again_after(asked)
        # Audio goes on from where it was: the position keeps climbing.
        assert sb.wait_for(lambda: (position(sb) or 0) >= 6, within(10)), position(sb)
        assert proc.running() and status_lines(sb)[1:] == ["PLAYING", "0,44100"]
        proc.signal(signal.SIGTERM)
        assert proc.wait(10) == 1
    assert watch.check() == "KILLED"
    # The reconnection asks for the live point, once, about a second after
    # the drop. After a reset GStreamer's HTTP source itself asks once with
    # a Range right away; a live server answers that from the live point.
    ranged = [r for r in station.requests if r[2] is not None]
    assert len(reconnections(station)) == 1 and len(ranged) <= (1 if drop == "reset" else 0)
    assert 0.8 <= asked - dropped <= within(3.0 * SLACK), asked - dropped
    assert heard - dropped <= within(5.0 * SLACK), heard - dropped
    assert sb.kavido_signals() == 0
    print(f"{drop}: request {asked - dropped:.2f} s, audio {heard - dropped:.2f} s after the drop")


GONE = {
    # A final chunk: the station said the stream is complete; no reconnection.
    "chunked_end": (lambda n: ("chunked", 2), 0, "EOS"),
    # A mount that went away after a clean close: the broadcast ended.
    "close_then_404": (lambda n: ("audio", 2, "close") if n == 1 else ("status", 404), 0, "EOS"),
    "reset_then_404": (lambda n: ("audio", 2, "reset") if n == 1 else ("status", 404), 1,
                       "ERROR:Lost the connection to the station; it answered the reconnection"
                       " with HTTP 404"),
    "close_then_503": (lambda n: ("audio", 2, "close") if n == 1 else ("status", 503), 1,
                       "ERROR:Lost the connection to the station; it answered the reconnection"
                       " with HTTP 503"),
}


@pytest.mark.parametrize("case", sorted(GONE))
def test_station_that_is_gone_ends_the_run_at_once(sandbox, case):
    sb = sandbox
    plan, code, word = GONE[case]
    with LiveStation(mp3(), plan) as station:
        proc, watch = begin(sb, station)
        assert proc.wait(within(15)) == code
        time.sleep(0.3)
        requests = list(station.requests)
    assert status_lines(sb)[1].startswith(word), status_lines(sb)
    assert watch.check() == status_lines(sb)[1]
    assert run_files_gone(sb) and sb.kavido_signals() == 1
    took = watch.ended_at - station.ends[0]
    assert took <= within(4.0 * SLACK), took
    # No request after the final status.
    assert all(t < watch.ended_at for t, _, _ in requests)
    # One reconnection (after a reset, the source's own Range request first).
    assert len(requests) == {"chunked_end": 1, "reset_then_404": 3}.get(case, 2), requests
    print(f"{case}: final status {took:.2f} s after the drop")


def test_pause_seek_and_sigterm_while_a_reconnection_hangs(sandbox):
    sb = sandbox
    plan = lambda n: ("audio", 2, "close") if n == 1 else ("hang",)  # noqa: E731
    with LiveStation(mp3(), plan) as station:
        proc, watch = begin(sb, station)
        assert sb.wait_for(lambda: len(station.requests) == 2, within(10))
        # Pause and seek requests meanwhile neither end nor report anything.
        (sb.tmp / "seek.txt").write_text("30\n")
        for signo in (signal.SIGUSR1, signal.SIGUSR2, signal.SIGUSR1):
            proc.signal(signo)
            time.sleep(0.2)
        time.sleep(0.4)
        assert proc.running() and status_lines(sb)[1] == "PLAYING"
        began = time.monotonic()
        proc.signal(signal.SIGTERM)
        assert proc.wait(10) == 1
        took = time.monotonic() - began
    assert status_lines(sb)[1:] == ["KILLED"] and "Invalid" not in proc.stdout
    assert took < within(1.5 * SLACK), took  # includes the sandbox's own exit
    print(f"SIGTERM during a hanging reconnection: ended after {took:.2f} s")


FILES = {
    # A file reset at 40 %: the source asks for the rest with a Range, once.
    "reset_at_40_percent": ("mp3", lambda n: ("file", None) if n > 1 else ("file", 0.4)),
    "mp3_without_ranges": ("mp3", lambda n: ("file_no_ranges",)),
    "ogg_without_ranges": ("ogg", lambda n: ("file_no_ranges",)),
}


@pytest.mark.parametrize("case", sorted(FILES))
def test_file_over_http_plays_to_its_end(sandbox, case):
    sb = sandbox
    kind, plan = FILES[case]
    body = media.make(kind, 3).read_bytes()

    def sized(n):
        step = plan(n)
        return ("file", int(len(body) * step[1])) if step[0] == "file" and step[1] else step

    content_type = "application/ogg" if kind == "ogg" else "audio/mpeg"
    with LiveStation(body, sized, content_type=content_type) as station:
        proc = start(sb, station.url())
        assert proc.wait(within(20)) == 0, status_lines(sb)
    assert status_lines(sb)[1:] == ["EOS"]
    ranges = [r[2] for r in station.requests]
    if case == "reset_at_40_percent":
        assert ranges == [None, f"bytes={int(len(body) * 0.4)}-"], ranges
    else:
        # Once the server has ignored a Range (the Ogg demuxer looks at the
        # file's end), the file is asked for whole and played by a source
        # that cannot seek: no endless asking.
        assert len(ranges) <= 5 and ranges[-1] is None, station.requests


# The slow ones run side by side, each in its own sandbox: they wait out the
# budget (up to 30 s) or 8 s of silence.
SLOW = {
    "silence_then_back": lambda n: ("audio", 3, "silence") if n == 1 else ("audio", None, "close"),
    "reset_then_refused": lambda n: ("audio", 3, "reset") if n == 1 else ("refuse",),
    "flapping": lambda n: ("audio", 0.5 if n > 1 else 2, "close"),
    "no_audio": lambda n: ("audio", 3, "close") if n == 1 else ("audio", 0, "silence"),
}


@pytest.mark.skipif(bool(emulator_prefix()), reason="waits out the whole budget: minutes under qemu")
def test_slow_drops_side_by_side(tmp_path):
    results = {}

    def run(name):
        sb = Sandbox(tmp_path / name)
        try:
            with LiveStation(mp3(), SLOW[name], lifetime=90) as station:
                proc, watch = begin(sb, station)
                result = {"station": station, "watch": watch}
                if name == "silence_then_back":
                    assert sb.wait_for(lambda: reconnections(station), within(15))
                    asked = reconnections(station)[0][0]
                    assert sb.wait_for(lambda: watch.audio_again_after(asked), within(10))
                    result.update(heard=watch.audio_again_after(asked), running=proc.running(),
                                  lines=status_lines(sb))
                    proc.signal(signal.SIGTERM)
                proc.wait(within(50))
                time.sleep(0.3)
                result.update(final=status_lines(sb), notified=sb.kavido_signals(),
                              requests=list(station.requests))
                results[name] = result
        finally:
            sb.close()

    threads = [threading.Thread(target=run, args=(name,)) for name in SLOW]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert sorted(results) == sorted(SLOW), results.keys()

    silence = results["silence_then_back"]
    assert silence["running"] and silence["lines"][1:] == ["PLAYING", "0,44100"]
    assert silence["watch"].check() == "KILLED" and silence["notified"] == 0
    # 8 s of silence make the drop; the reconnection comes a second later.
    silent = silence["station"].ends[0]
    asked = reconnections(silence["station"])[0][0]
    assert 8.0 <= asked - silent <= within(11.0), asked - silent
    print(f"silence: request {asked - silent:.2f} s, audio {silence['heard'] - silent:.2f} s"
          " after it began")

    for name in ("reset_then_refused", "flapping", "no_audio"):
        result = results[name]
        final = result["final"]
        assert final[1].startswith(
            "ERROR:Lost the connection to the station and could not re-establish it"), final
        assert result["watch"].check() == final[1] and result["notified"] == 1
        took = result["watch"].ended_at - result["station"].ends[0]
        # Never later than 35 s after a drop.
        assert took <= within(35.0), (name, took)
        assert all(t < result["watch"].ended_at for t, _, _ in result["requests"])
        print(f"{name}: final status {took:.2f} s after the first drop,"
              f" {len(result['requests'])} requests")
    # The first connection, then the four reconnections of the budget.
    assert len(results["flapping"]["requests"]) == 5, results["flapping"]["requests"]
    assert len(results["no_audio"]["requests"]) <= 5
