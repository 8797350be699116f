"""HLS stations: an .m3u8 playlist of AAC-in-MPEG-TS segments, finished or
live with a sliding window, played by the real player from the loopback
HTTP server, directly or behind a station's PLS or M3U link; every signal and
watchdog as for any other stream.

Segments come from GStreamer's own hlssink2. Where the player's GStreamer has
no HLS demuxer (the mipsel sysroot carries no gstreamer1.0-plugins-bad) the
group skips, after asking the player itself."""

import re
import signal
import time

import pytest

import media
from harness import Sandbox, emulator_prefix, within
from http_server import HttpServer, Route
from signals_support import (
    SORVEL, position, run_files_gone, start, status_lines, status_word, wait_position,
    wait_status_word)

HLS = "application/vnd.apple.mpegurl"
TS = "video/mp2t"
NO_HLS = {"GST_PLUGIN_FEATURE_RANK": "hlsdemux:NONE,hlsdemux2:NONE"}
NO_HLS_WORD = "INVALID:application/x-hls"
# MPEG-TS null packets (PID 0x1fff), which a demuxer skips: a segment padded
# with them plays the same but arrives as a large, fast download.
NULL_PACKET = b"\x47\x1f\xff\x10" + b"\xff" * 184
HTTP_MAX_BLOCK_SIZE = 64 * 1024
# The size of each read, as GStreamer's base source logs it: into a file of
# the sandbox, as a log that size would fill the stderr pipe and stall the run.
READ_LOG = {"GST_DEBUG": "basesrc:6", "GST_DEBUG_NO_COLOR": "1",
            "GST_DEBUG_FILE": "/tmp/basesrc.log"}
READ_LINE = re.compile(r"gst_base_src_loop:<([^>]+)> next_ts \S+ size (\d+)")


def presentation_routes(seconds, prefix="", padding=0):
    """Routes of a finished presentation; its playlist is prefix/index.m3u8.
    Each segment gets `padding` null packets."""
    folder = media.make_hls(seconds)
    routes = {}
    for path in folder.iterdir():
        kind = HLS if path.suffix == ".m3u8" else TS
        body = path.read_bytes() + (NULL_PACKET * padding if kind == TS else b"")
        routes[f"{prefix}/{path.name}"] = Route(body=body, content_type=kind)
    return routes


def hanging_segments(routes):
    """The same presentation, but no segment request is ever answered."""
    return {name: Route(hang=True) if name.endswith(".ts") else route
            for name, route in routes.items()}


def segment_names(seconds):
    return sorted(p.name for p in media.make_hls(seconds).glob("*.ts"))


class LivePlaylist:
    """A live window of `window` one-second segments that slides by one each
    second from the first request on. From segment `hang_from` on, the server
    takes the request and never answers (a station stuck mid-download)."""

    def __init__(self, server, seconds, window=3, hang_from=None):
        self.segments = segment_names(seconds)[:-1]  # the last one is a short tail
        self.window = window
        self.started = None
        for name, route in presentation_routes(seconds, "/live").items():
            # hlssink2 numbers its segments from 0: seg00000.ts
            number = int(name[-8:-3]) if name.endswith(".ts") else -1
            if hang_from is not None and number >= hang_from:
                route = Route(hang=True)
            server.routes[name] = route
        server.routes["/live/index.m3u8"] = Route(content_type=HLS, make_body=self.text)
        self.url = server.url("/live/index.m3u8")

    def text(self):
        if self.started is None:
            self.started = time.monotonic()
        first = min(int(time.monotonic() - self.started),
                    len(self.segments) - self.window)
        lines = ["#EXTM3U", "#EXT-X-VERSION:3", "#EXT-X-TARGETDURATION:1",
                 f"#EXT-X-MEDIA-SEQUENCE:{first}"]
        for name in self.segments[first:first + self.window]:
            lines += ["#EXTINF:1.0,", name]
        return ("\n".join(lines) + "\n").encode()


@pytest.fixture(scope="module", autouse=True)
def hls_demuxer(tmp_path_factory):
    """Asks the player under test whether it can demultiplex HLS: without a
    demuxer it names the playlist's type at once; with one it goes on to
    fetch a segment (which here never comes)."""
    sb = Sandbox(tmp_path_factory.mktemp("probe"))
    try:
        with HttpServer(hanging_segments(presentation_routes(4)), lifetime=60) as server:
            proc = start(sb, server.url("/index.m3u8"))
            sb.wait_for(lambda: status_word(sb) == NO_HLS_WORD
                        or any(r.endswith(".ts") for r in server.requests), 30)
            missing = status_word(sb) == NO_HLS_WORD
            if proc.running():
                proc.signal(signal.SIGTERM)
            proc.wait(15)
    finally:
        sb.close()
    if missing and emulator_prefix():
        pytest.skip("no HLS demuxer for the player under the emulator "
                    "(its sysroot has no gstreamer1.0-plugins-bad)")
    assert not missing, "no HLS demuxer: tools/deps.sh installs gstreamer1.0-plugins-bad"


# ------------------------------------------------------------ finished presentations


STATION_LINKS = {
    "direct": None,
    "pls": ("[playlist]\nNumberOfEntries=1\nFile1={HLS}\nTitle1=News\n", "audio/x-scpls"),
    "m3u": ("{HLS}\n", "audio/x-mpegurl"),
    # direct, the playlist and every segment over TLS
    "https": None,
}


@pytest.mark.parametrize("link", sorted(STATION_LINKS))
def test_finished_presentation_plays_to_its_end(sandbox, link, certificates):
    sb = sandbox
    tls = None
    if link == "https":
        sb.trust(certificates["ca"])
        tls = certificates["good"]
    # Half-megabyte segments, sent as fast as loopback takes them.
    with HttpServer(presentation_routes(6, padding=2800), tls=tls) as server:
        location = server.url("/index.m3u8")
        if STATION_LINKS[link]:
            text, content_type = STATION_LINKS[link]
            server.routes["/station"] = Route(body=text.replace("{HLS}", location).encode(),
                                              content_type=content_type)
            location = server.url("/station")
        proc = start(sb, location, controller=True, env=READ_LOG)
        wait_status_word(sb, "PLAYING")
        assert status_lines(sb) == [location, "PLAYING", "0,44100"]
        assert (sb.tmp / "duration.txt").read_text() == "6"
        wait_position(sb, lambda p: p >= 3)
        assert proc.wait(20) == 0
        # Every segment was fetched, each once.
        fetched = [r.rsplit("/", 1)[-1] for r in server.requests if r.endswith(".ts")]
        assert fetched == segment_names(6)
    # The demuxer's own source for the segments reads no more at once than
    # the player's sources do, though the segments would have let it.
    largest = {}
    for name, size in READ_LINE.findall((sb.tmp / "basesrc.log").read_text()):
        largest[name] = max(largest.get(name, 0), int(size))
    assert len(largest) >= 2 and max(largest.values()) <= HTTP_MAX_BLOCK_SIZE, largest
    # Over plain HTTP the reads grow to the cap (over TLS, records of 16 KiB
    # keep them smaller): the cap, not the server, bounded them.
    assert tls or max(largest.values()) == HTTP_MAX_BLOCK_SIZE, largest
    assert status_lines(sb) == [location, "EOS"]
    assert run_files_gone(sb)
    assert sb.kavido_signals() == 1


def test_pause_and_seek_in_a_finished_presentation(sandbox):
    sb = sandbox
    with HttpServer(presentation_routes(20)) as server:
        proc = start(sb, server.url("/index.m3u8"))
        wait_status_word(sb, "PLAYING")
        wait_position(sb, lambda p: p >= 1)

        proc.signal(signal.SIGUSR1)
        time.sleep(1.5)
        held = position(sb)
        time.sleep(2)
        assert position(sb) == held
        proc.signal(signal.SIGUSR1)
        wait_position(sb, lambda p: p > held, timeout=5)

        # Forward past segments not yet fetched, then back.
        (sb.tmp / "seek.txt").write_text("14")
        proc.signal(signal.SIGUSR2)
        wait_position(sb, lambda p: 14 <= p <= 17, timeout=5)
        (sb.tmp / "seek.txt").write_text("2")
        proc.signal(signal.SIGUSR2)
        wait_position(sb, lambda p: 2 <= p <= 5, timeout=5)
        assert status_word(sb) == "PLAYING"
        proc.signal(signal.SIGTERM)
        assert proc.wait(10) == 1
    assert status_word(sb) == "KILLED"


def test_without_an_hls_demuxer_the_playlist_type_is_named(sandbox):
    sb = sandbox
    with HttpServer(presentation_routes(4)) as server:
        location = server.url("/index.m3u8")
        proc = sb.spawn([SORVEL, "--kavido", location], kavido=True, env=NO_HLS)
        assert proc.wait(20) == 1
    assert status_lines(sb) == [location, NO_HLS_WORD]
    assert run_files_gone(sb)
    assert sb.kavido_signals() == 1


# ------------------------------------------------------------ live


def test_live_window_plays_across_fetches_and_stops_at_once_mid_download(sandbox):
    sb = sandbox
    with HttpServer({}) as server:
        live = LivePlaylist(server, 30, hang_from=8)
        proc = start(sb, live.url)
        wait_status_word(sb, "PLAYING")
        assert (sb.tmp / "duration.txt").read_text() == "0"
        wait_position(sb, lambda p: p >= 4, timeout=15)
        # The playlist was fetched again and again as the window slid.
        assert server.requests.count("/live/index.m3u8") >= 3
        # SIGTERM while the player waits for a segment that never comes.
        assert sb.wait_for(lambda: any(r.endswith(live.segments[8]) for r in server.requests),
                           15)
        began = time.monotonic()
        proc.signal(signal.SIGTERM)
        assert proc.wait(10) == 1
        assert time.monotonic() - began < within(1.0)
    assert status_word(sb) == "KILLED"
    assert run_files_gone(sb)


# ------------------------------------------------------------ watchdogs


def test_live_stream_whose_segments_stop_coming_is_ended_by_the_stall_watchdog(sandbox):
    sb = sandbox
    with HttpServer({}) as server:
        live = LivePlaylist(server, 30, hang_from=6)
        proc = start(sb, live.url, controller=True)
        wait_status_word(sb, "PLAYING")
        wait_position(sb, lambda p: p >= 2, timeout=15)
        assert proc.wait(45) == 1
    assert status_lines(sb)[1] == ""
    assert run_files_gone(sb)
    assert sb.kavido_signals() == 1


def test_presentation_whose_first_segment_never_comes_times_out(sandbox):
    sb = sandbox
    with HttpServer(hanging_segments(presentation_routes(4))) as server:
        began = time.monotonic()
        proc = start(sb, server.url("/index.m3u8"))
        assert proc.wait(40) == 1
        assert 19 <= time.monotonic() - began < 30
    assert status_word(sb) == "TIMEOUT"
    assert run_files_gone(sb)


def test_live_stream_whose_playlist_is_gone_ends_with_one_error_line(sandbox):
    sb = sandbox
    with HttpServer({}) as server:
        live = LivePlaylist(server, 30)
        proc = start(sb, live.url, controller=True)
        wait_status_word(sb, "PLAYING")
        wait_position(sb, lambda p: p >= 2, timeout=15)
        # The station takes its stream down: playlist and segments are gone.
        for name in list(server.routes):
            server.routes[name] = Route(status=404)
        assert proc.wait(45) == 1
    lines = status_lines(sb)
    assert len(lines) == 2 and lines[1].startswith("ERROR:"), lines
    assert run_files_gone(sb)
    assert sb.kavido_signals() == 1


# The demuxer reposts its source's error with GStreamer's debug text, line
# ends and all: the status file still has one status line.
SEGMENT_FAULTS = {
    "server error": ("good", 500, "ERROR:Internal Server Error: "),
    "refused certificate": ("untrusted", 200,
                            "ERROR:The station's certificate was not accepted: untrusted issuer."),
}


@pytest.mark.parametrize("fault", sorted(SEGMENT_FAULTS))
def test_segments_that_fail_end_with_one_error_line(sandbox, certificates, fault):
    sb = sandbox
    certificate, status, word = SEGMENT_FAULTS[fault]
    sb.trust(certificates["ca"])
    segment_routes = {name: Route(status=status) if status != 200 else route
                      for name, route in presentation_routes(4).items()}
    with HttpServer(presentation_routes(4), tls=certificates["good"]) as server, \
            HttpServer(segment_routes, tls=certificates[certificate]) as segments:
        index = server.routes["/index.m3u8"].body.decode()
        server.routes["/index.m3u8"] = Route(
            body=re.sub(r"(?m)^seg\d+\.ts$", lambda m: segments.url("/" + m[0]), index).encode(),
            content_type=HLS)
        proc = start(sb, server.url("/index.m3u8"), controller=True)
        assert proc.wait(40) == 1
    lines = status_lines(sb)
    assert len(lines) == 2 and lines[1].startswith(word), lines
    assert run_files_gone(sb)
