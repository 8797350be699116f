"""mms:/mmsh: streams end to end: the real player with its own MMS source
element, against a small MMS-over-HTTP server on 127.0.0.1 streaming a
Windows Media file that GStreamer makes here."""

import signal
import time

import pytest

import media
from harness import build_path, within
from http_server import HttpServer, Route, unused_port
from mmsh_server import AsfFile, MmshServer

SORVEL = build_path("player/sorvel")


def make_asf(seconds):
    """A `seconds`-long WMA (version 2) stream in ASF, cached per build."""
    return media.make("asf", seconds).read_bytes()


def play(sb, location):
    # libmms sends MMS over HTTP through $http_proxy when it is set (and knows
    # no exceptions for loopback): our servers must be reached directly.
    return sb.spawn([SORVEL, location], env={"http_proxy": None, "HTTP_PROXY": None})


def status_lines(sb):
    try:
        text = (sb.tmp / "sorvi.txt").read_text()
    except FileNotFoundError:
        return None
    return text[:-1].split("\n") if text.endswith("\n") else text.split("\n")


def status_word(sb):
    lines = status_lines(sb)
    return lines[1] if lines and len(lines) > 1 else None


def wait_word(sb, word, timeout=15):
    assert sb.wait_for(lambda: status_word(sb) == word, timeout), (
        f"status never became {word!r}; last: {status_lines(sb)!r}")
    return status_lines(sb)


def read_int(path):
    try:
        return int(path.read_text().strip())
    except (FileNotFoundError, ValueError):
        return None


@pytest.fixture(scope="module")
def asf_long():
    return make_asf(10)


@pytest.fixture(scope="module")
def asf_short():
    return make_asf(3)


@pytest.fixture
def server_factory():
    servers = []

    def start(data, **kwargs):
        server = MmshServer(data, lifetime=90, **kwargs)
        servers.append(server)
        return server

    yield start
    for server in servers:
        server.close()


# ------------------------------------------------------------- playing


@pytest.mark.parametrize("scheme", ["mmsh", "mms", "Mms"])
def test_stream_plays_to_its_end(sandbox, server_factory, asf_short, scheme):
    server = server_factory(asf_short)
    location = server.url(scheme)
    proc = play(sandbox, location)

    lines = wait_word(sandbox, "PLAYING")
    assert lines[0] == location
    assert lines[2] == "0,44100"  # no /tmp/irate: bitrate unknown, then the sample rate
    asf = AsfFile(asf_short)
    assert read_int(sandbox.tmp / "duration.txt") == (asf.play_ms - asf.preroll_ms) // 1000

    assert proc.wait(timeout=30) == 0, proc.stderr
    assert status_lines(sandbox) == [location, "EOS"]
    # Our element spoke MMS over HTTP: a describe request, then a play request.
    assert [r["play"] for r in (i for _, i in server.requests)] == [False, True]


def test_seek_moves_the_position(sandbox, server_factory, asf_long):
    server = server_factory(asf_long)
    proc = play(sandbox, server.url())
    wait_word(sandbox, "PLAYING")
    assert sandbox.wait_for(lambda: (read_int(sandbox.tmp / "position.txt") or 0) >= 1, 10)

    (sandbox.tmp / "seek.txt").write_text("5\n")
    proc.signal(signal.SIGUSR2)
    assert sandbox.wait_for(lambda: (read_int(sandbox.tmp / "position.txt") or 0) >= 5, 5), (
        read_int(sandbox.tmp / "position.txt"))
    # Moved by a new request into the stream, not by reading through it.
    asf = AsfFile(asf_long)
    offsets = [r["offset"] for r in server.play_requests()]
    assert len(offsets) == 2 and offsets[1] > asf.header_len, offsets

    assert proc.wait(timeout=30) == 0, proc.stderr
    assert status_word(sandbox) == "EOS"


def test_broadcast_has_no_length_and_refuses_seeks(sandbox, server_factory, asf_long):
    server = server_factory(asf_long, mode="broadcast")
    proc = play(sandbox, server.url())
    wait_word(sandbox, "PLAYING")
    # A live stream's header says nothing true about its length.
    assert read_int(sandbox.tmp / "duration.txt") == 0
    assert sandbox.wait_for(lambda: (read_int(sandbox.tmp / "position.txt") or 0) >= 1, 10)

    (sandbox.tmp / "seek.txt").write_text("7\n")
    proc.signal(signal.SIGUSR2)
    time.sleep(1.5)
    assert read_int(sandbox.tmp / "position.txt") < 5
    assert len(server.play_requests()) == 1

    assert proc.wait(timeout=30) == 0, proc.stderr
    assert status_word(sandbox) == "EOS"


@pytest.mark.parametrize("scheme", ["mmsh", "MMS"])
def test_playlist_entry_plays_through_our_element(sandbox, server_factory, asf_short, scheme):
    stream = server_factory(asf_short)
    asx = (
        "<ASX version=\"3.0\">\n<Entry><Ref href=\"http://127.0.0.1:1/first\"/></Entry>\n"
        f"<Entry><Ref href=\"{stream.url(scheme)}\"/></Entry>\n</ASX>\n"
    ).encode()
    with HttpServer({"/radio.asx": Route(body=asx, content_type="video/x-ms-asf")}) as web:
        location = web.url("/radio.asx")
        proc = play(sandbox, location)
        lines = wait_word(sandbox, "PLAYING")
        assert lines[0] == location
        assert proc.wait(timeout=30) == 0, proc.stderr
    assert status_lines(sandbox) == [location, "EOS"]
    assert [i["play"] for _, i in stream.requests] == [False, True]


# -------------------------------------------------------------- errors


def run_to_error(sandbox, location, timeout=10):
    started = time.monotonic()
    proc = play(sandbox, location)
    status = proc.wait(timeout=timeout)
    return status, time.monotonic() - started, status_lines(sandbox)


@pytest.mark.parametrize("scheme", ["mmsh", "mms"])
def test_refused_connection_is_an_error_at_once(sandbox, scheme):
    port = unused_port()
    status, took, lines = run_to_error(sandbox, f"{scheme}://127.0.0.1:{port}/stream")
    assert status == 1
    assert lines[1] == f"ERROR:Could not connect to 127.0.0.1:{port}: Connection refused"
    assert took < within(1.5), took  # includes starting the sandbox and GStreamer


def test_server_errors_are_told_apart(sandbox, server_factory, asf_short):
    missing = server_factory(asf_short)
    status, _, lines = run_to_error(sandbox, f"mms://127.0.0.1:{missing.port}/other")
    assert status == 1
    # The HTTP answer explains it, not the MMS-over-TCP attempt made after it.
    assert lines[1] == f"ERROR:Server 127.0.0.1:{missing.port} refused the stream: 404 Not Found"

    web = server_factory(asf_short, mode="not_mms")
    status, _, lines = run_to_error(sandbox, web.url())
    assert status == 1
    assert lines[1] == f"ERROR:Not an MMS server: 127.0.0.1:{web.port}"


# ----------------------------------------------- stalls and stopping


def test_silent_server_ends_by_the_startup_timeout(sandbox, server_factory, asf_short):
    server = server_factory(asf_short, mode="stall")
    proc = play(sandbox, server.url())
    assert proc.wait(timeout=30) == 1
    assert status_word(sandbox) == "TIMEOUT"


def test_stalled_stream_ends_by_the_watchdog(sandbox, server_factory, asf_long):
    # 3200-byte packets of 64 kbit/s audio: 14 packets are about 5 seconds,
    # past the 3.1 s the demuxer gathers before it starts.
    server = server_factory(asf_long, mode="stall_after", stall_after=14)
    proc = play(sandbox, server.url())
    wait_word(sandbox, "PLAYING")
    assert proc.wait(timeout=40) == 1
    assert status_lines(sandbox) == [server.url(), ""]


@pytest.mark.parametrize("phase", ["connecting", "playing", "stalled"])
def test_sigterm_ends_at_once(sandbox, server_factory, asf_long, phase):
    mode = {"connecting": "stall", "playing": "normal", "stalled": "stall_after"}[phase]
    server = server_factory(asf_long, mode=mode, stall_after=14)
    proc = play(sandbox, server.url())
    if phase == "connecting":
        assert sandbox.wait_for(lambda: server.requests, 10)
    else:
        wait_word(sandbox, "PLAYING")
    if phase == "stalled":
        time.sleep(3)  # past the packets sent, the reader now waits on the socket

    started = time.monotonic()
    proc.signal(signal.SIGTERM)
    assert proc.wait(timeout=10) == 1
    assert time.monotonic() - started < within(1.0)
    assert status_word(sandbox) == "KILLED"
