"""Internet-radio playlists over HTTP: the player reads the playlist a
station's page hands out and plays the one location it names, in a second
pipeline, while the status file keeps the playlist's location on line 1.

Real sorvel, real GStreamer, a real HTTP server on 127.0.0.1 and real Ogg
audio; the audio sink is fakesink paced by the clock."""

import os
import random
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import media
from harness import TIME_SCALE, Sandbox, build_path, emulator_prefix
from http_server import HttpServer, Route, unused_port

SORVEL = build_path("player/sorvel")
STREAM = "/stream.ogg"


class StatusWatcher:
    """Polls the status file and keeps each distinct content, with the paths
    the server had been asked for at that moment."""

    def __init__(self, sandbox, server):
        self._path = sandbox.tmp / "sorvi.txt"
        self._server = server
        self._stop = threading.Event()
        self.history = []  # [(lines, requests so far)]
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        last = None
        while True:
            stopping = self._stop.is_set()
            try:
                text = self._path.read_text()
            except OSError:
                text = None
            if text is not None and text != last:
                last = text
                self.history.append((text.split("\n"), self._server.requests))
            if stopping:
                return
            time.sleep(0.005)

    def stop(self):
        self._stop.set()
        self._thread.join(5)

    def words(self):
        words = []
        for lines, _ in self.history:
            if len(lines) > 1 and (not words or words[-1] != lines[1]):
                words.append(lines[1])
        return words


@pytest.fixture(scope="module")
def ogg():
    return media.make("ogg", seconds=1).read_bytes()


def station(ogg):
    # A live stream, as a station serves it: no length, no seeking.
    return HttpServer({STREAM: Route(body=ogg, content_type="application/ogg",
                                     content_length=False)})


@pytest.fixture
def server(ogg):
    with station(ogg) as s:
        yield s


def play(sandbox, location, server, timeout=40, **spawn):
    proc = sandbox.spawn([SORVEL, location], **spawn)
    watcher = StatusWatcher(sandbox, server)
    try:
        proc.wait(timeout)
    finally:
        watcher.stop()
    return proc, watcher


def serve(server, path, text, content_type="text/plain", **route):
    body = text.replace("{STREAM}", server.url(STREAM)).encode()
    server.routes[path] = Route(body=body, content_type=content_type, **route)
    return server.url(path)


def assert_followed(proc, watcher, server, playlist_url, never=()):
    assert proc.returncode == 0, (proc.stdout, proc.stderr, watcher.history)
    assert watcher.words()[0] == "PREPARE"
    assert watcher.words()[-1] == "EOS"
    assert "PLAYING" in watcher.words()
    assert set(watcher.words()) == {"PREPARE", "PLAYING", "EOS"}
    for lines, requests in watcher.history:
        assert lines[0] == playlist_url
        if lines[1] == "PLAYING":
            # Reported only once the named stream is being fetched: reading
            # the playlist itself is not playback.
            assert STREAM in requests
            assert len(lines) == 4 and lines[2].endswith(",44100")
    for path in never:
        assert path not in server.requests


LONG_TITLES = "".join(
    f"Title{i}=A station with a long enough title to make this a real text file, part {i}\n"
    for i in range(1, 6))

PLAYLISTS = {
    "pls_short_crlf": ("[playlist]\r\nNumberOfEntries=1\r\nFile1={STREAM}\r\n", "audio/x-scpls"),
    "pls_long": ("[playlist]\nNumberOfEntries=1\nFile1={STREAM}\n" + LONG_TITLES + "Version=2\n",
                 "audio/x-scpls"),
    "pls_upper_case_only": ("[playlist]\nFile1={UPSTREAM}\nFile2=HTTP://127.0.0.1:1/never\n",
                            "audio/x-scpls"),
    "pls_both_cases": ("[playlist]\nFile1=HTTP://127.0.0.1:1/never\nFile2={STREAM}\n",
                       "audio/x-scpls"),
    "asx_one_ref": ('<ASX version="3.0"><Entry><Ref href="{STREAM}"/></Entry></ASX>\n',
                    "video/x-ms-asf"),
    "asx_two_refs": ('<ASX version="3.0"><Entry><Ref href="{WRONG}"/></Entry>'
                     '<Entry><Ref href="{STREAM}"/></Entry></ASX>\n', "video/x-ms-asf"),
    "asx_three_refs_long": ('<ASX version="3.0">\n<Title>' + "Station " * 40 + "</Title>\n"
                            '<Entry><Ref href="{WRONG}"/></Entry>\n'
                            '<Entry><Ref href="{STREAM}"/></Entry>\n'
                            '<Entry><Ref href="{WRONG}"/></Entry>\n</ASX>\n', "video/x-ms-asf"),
    "asx_lower_case_prolog": ('<?xml version="1.0" encoding="UTF-8"?>\n<asx version="3.0">\n'
                              '<entry><ref href="{STREAM}"/></entry>\n</asx>\n', "video/x-ms-asf"),
    "asx_upper_case_ref": ('<ASX VERSION="3.0"><ENTRY><REF HREF="{STREAM}"/></ENTRY></ASX>\n',
                           "video/x-ms-asf"),
    "uri_list": ("{STREAM}\r\n{WRONG}\r\n", "text/uri-list"),
    "m3u_with_comments": ("#EXTM3U\n#EXTINF:-1,Test Radio\n{STREAM}\n#EXTINF:-1,Other\n{WRONG}\n",
                          "audio/x-mpegurl"),
}


@pytest.mark.parametrize("name", sorted(PLAYLISTS))
def test_playlist_entry_is_played(sandbox, server, name):
    text, content_type = PLAYLISTS[name]
    text = text.replace("{WRONG}", server.url("/wrong.ogg"))
    text = text.replace("{UPSTREAM}", server.url(STREAM).replace("http:", "HTTP:"))
    url = serve(server, "/list", text, content_type)
    proc, watcher = play(sandbox, url, server)
    assert_followed(proc, watcher, server, url, never=("/wrong.ogg", "/never"))
    for name in ("duration.txt", "position.txt"):
        assert not (sandbox.tmp / name).exists()
    assert not (sandbox.run / "sorvel.pid").exists()


def test_controller_is_told_once_at_the_end(sandbox, server):
    url = serve(server, "/list.pls", PLAYLISTS["pls_short_crlf"][0])
    proc = sandbox.spawn([SORVEL, "--kavido", url], kavido=True)
    assert proc.wait(40) == 0
    assert (sandbox.tmp / "sorvi.txt").read_text().split("\n")[1] == "EOS"
    assert sandbox.wait_for(lambda: sandbox.kavido_signals() == 1, 5)
    time.sleep(0.3)
    assert sandbox.kavido_signals() == 1


def test_playlist_trickling_in_small_pieces(sandbox, server):
    marker = b"[playlist]\r\n"
    rest = f"NumberOfEntries=1\r\nFile1={server.url(STREAM)}\r\nLength1=-1\r\n".encode()
    pieces = [(marker[i:i + 1], 0.03) for i in range(len(marker))]
    pieces += [(rest[i:i + 4], 0.03) for i in range(0, len(rest), 4)]
    # Read twice (typefinding, then the playlist sink): served each time.
    server.routes["/slow.pls"] = Route(pieces=pieces, content_type="audio/x-scpls",
                                       content_length=False, replay=True)
    url = server.url("/slow.pls")
    proc, watcher = play(sandbox, url, server)
    assert_followed(proc, watcher, server, url)


def test_endless_text_is_read_only_up_to_its_bound(sandbox, server):
    # A server that sends text and never finishes: the player parses what it
    # kept instead of reading forever.
    head = f"[playlist]\nFile1={server.url(STREAM)}\n".encode()
    body = head + b"Comment=" + b"x" * (100 * 1024)
    server.routes["/endless.pls"] = Route(body=body, stall_after=len(body),
                                          content_type="audio/x-scpls")
    url = server.url("/endless.pls")
    proc, watcher = play(sandbox, url, server)
    assert_followed(proc, watcher, server, url)


@pytest.mark.parametrize("text", [
    "[playlist]\nNumberOfEntries=0\nVersion=2\n",
    "[playlist]\nFile1=ftp://elsewhere/x\n",
    '<ASX version="3.0"><Entry><Ref href=http://unquoted/ /></Entry></ASX>\n',
])
def test_playlist_without_usable_entry_ends_with_eos(sandbox, server, text):
    url = serve(server, "/empty", text)
    proc, watcher = play(sandbox, url, server)
    assert proc.returncode == 0, proc.stdout
    assert watcher.words() == ["PREPARE", "EOS"]
    assert STREAM not in server.requests


BOM = "\ufeff"
XSPF = ('<?xml version="1.0" encoding="UTF-8"?>\n'
        '<playlist xmlns="http://xspf.org/ns/0/" version="1">\n  <title/>\n  <trackList>\n')
PLAYED = "played"

# Bodies as stations, editors and error pages make them, whatever GStreamer
# takes them for (a text file, a type not found, XML): each is played, or
# ends with the status word (or its start) shown.
BODIES = {
    "error_page": (("The stream you asked for cannot be found on this server. " * 50)[:2700],
                   "text/plain", "ERROR:"),
    "pls_upper_case": ("[PLAYLIST]\r\nFile1={STREAM}\r\n", "audio/x-scpls", PLAYED),
    "pls_no_entry": ("[PLAYLIST]\nNumberOfEntries=0\n", "audio/x-scpls", "EOS"),
    "pls_bom": (BOM + "[playlist]\nFile1={STREAM}\n", "audio/x-scpls", PLAYED),
    "asx_bom": (BOM + '<ASX version="3.0"><Entry><Ref href="{STREAM}"/></Entry></ASX>\n',
                "video/x-ms-asf", PLAYED),
    "m3u_bom": (BOM + "#EXTM3U\n#EXTINF:-1,Test Radio\n{STREAM}\n", "audio/x-mpegurl", PLAYED),
    "m3u_bom_long": (BOM + "#EXTM3U\n" + "#EXTINF:-1,A title long enough to make it a text file\n"
                     * 30 + "{STREAM}\n", "audio/x-mpegurl", PLAYED),
    # As Icecast serves a mount's .xspf.
    "xspf_icecast": (XSPF + "    <track>\n      <location>{STREAM}</location>\n"
                     "      <annotation>Stream Title: Test\nContent Type:application/ogg\n"
                     "Current Listeners: 0\nPeak Listeners: 0</annotation>\n    </track>\n"
                     "  </trackList>\n</playlist>\n", "application/xspf+xml", PLAYED),
    "xspf_long_as_text": (XSPF + "<track><location>{STREAM}</location><title>Track</title></track>\n"
                          * 40 + "</trackList></playlist>\n", "text/plain", PLAYED),
    # Its errors are the entry's own, not the XML type's that led there.
    "xspf_long_entry_missing": (XSPF + "<track><location>{MISSING}</location></track>\n"
                                + "<track><title>Track</title></track>\n" * 100
                                + "</trackList></playlist>\n", "text/plain", "ERROR:Not Found"),
    "xml_no_playlist": ('<?xml version="1.0"?>\n<error>' + "<reason>Not found</reason>\n" * 100
                        + "</error>\n", "application/xml", "INVALID:application/xml"),
}


def run_body(tmp_path, ogg, name):
    text, content_type, expected = BODIES[name]
    sandbox = Sandbox(tmp_path / name)
    try:
        with station(ogg) as server:
            text = text.replace("{MISSING}", server.url("/missing.ogg"))
            url = serve(server, "/list", text, content_type)
            proc, watcher = play(sandbox, url, server, timeout=90)
            if expected == PLAYED:
                assert_followed(proc, watcher, server, url)
                return
            assert proc.returncode == (0 if expected == "EOS" else 1), watcher.history
            assert watcher.words()[0] == "PREPARE" and len(watcher.words()) == 2
            assert watcher.words()[-1].startswith(expected) and watcher.words()[-1] != "ERROR:"
            assert STREAM not in server.requests
    finally:
        sandbox.close()


def test_every_body_is_played_or_ends_as_its_kind_says(tmp_path, ogg):
    # Side by side, each in its own sandbox with its own server; fewer at a
    # time where every program runs emulated or instrumented.
    with ThreadPoolExecutor(2 if emulator_prefix() or TIME_SCALE > 1 else 4) as pool:
        runs = {name: pool.submit(run_body, tmp_path, ogg, name) for name in BODIES}
    failed = {name: run.exception() for name, run in runs.items() if run.exception()}
    assert not failed, "\n".join(f"{name}: {str(error)[:400]}" for name, error in failed.items())


@pytest.mark.parametrize("body", ["empty", "random bytes"])
def test_body_no_one_can_identify_is_an_error_not_a_playlist(sandbox, server, body):
    """GStreamer cannot find the type of either; read as a playlist they
    hold none, so the run fails with GStreamer's error rather than ending
    as if the station had played."""
    data = b"" if body == "empty" else random.Random(13).randbytes(300_000)
    server.routes["/station"] = Route(body=data)
    url = server.url("/station")
    proc = sandbox.run_program([SORVEL, "--kavido", url], kavido=True, timeout=40)
    assert proc.returncode == 1, proc.stdout
    lines = (sandbox.tmp / "sorvi.txt").read_text().split("\n")
    assert lines[0] == url
    assert lines[1].startswith("ERROR:") and len(lines[1]) > len("ERROR:"), lines
    assert sandbox.kavido_signals() == 1
    assert not any(p.exists() for p in (sandbox.tmp / "duration.txt",
                                        sandbox.tmp / "position.txt", sandbox.run / "sorvel.pid"))


@pytest.mark.parametrize("length", ["short", "long"])
def test_local_text_file_is_an_error(sandbox, server, length):
    text = PLAYLISTS["pls_short_crlf" if length == "short" else "pls_long"][0]
    (sandbox.tmp / "list.pls").write_text(text.replace("{STREAM}", server.url(STREAM)))
    proc, watcher = play(sandbox, "/tmp/list.pls", server)
    assert proc.returncode == 1
    lines = (sandbox.tmp / "sorvi.txt").read_text().split("\n")
    assert lines[0] == "/tmp/list.pls"
    assert lines[1] in ("ERROR:This appears to be a text file",
                        "ERROR:Could not determine type of stream.")
    assert server.requests == []


@pytest.mark.parametrize("target", ["missing", "refused"])
def test_failing_entry_ends_with_error(sandbox, server, target):
    entry = server.url("/missing.ogg") if target == "missing" else \
        f"http://127.0.0.1:{unused_port()}/x.ogg"
    url = serve(server, "/list.pls", f"[playlist]\nFile1={entry}\n")
    proc, watcher = play(sandbox, url, server)
    assert proc.returncode == 1
    assert watcher.words()[0] == "PREPARE"
    assert watcher.words()[-1].startswith("ERROR:")
    assert "PLAYING" not in watcher.words()
    assert (sandbox.tmp / "sorvi.txt").read_text().split("\n")[0] == url
    assert not (sandbox.run / "sorvel.pid").exists()


def test_entry_that_never_answers_times_out(sandbox, server):
    server.routes["/silent.ogg"] = Route(hang=True)
    url = serve(server, "/list.pls", f"[playlist]\nFile1={server.url('/silent.ogg')}\n")
    started = time.monotonic()
    proc, watcher = play(sandbox, url, server, timeout=60)
    assert proc.returncode == 1
    assert watcher.words()[-1] == "TIMEOUT"
    # The entry gets its own 20 seconds, counted from the redirect.
    assert time.monotonic() - started >= 19


@pytest.mark.parametrize("scheme", ["mms", "MMSH"])
def test_mms_entry_chooses_the_mms_source(sandbox, server, scheme):
    entry = f"{scheme}://127.0.0.1:{unused_port()}/station"
    url = serve(server, "/list.asx", f'<ASX version="3.0"><Entry><Ref href="{entry}"/></Entry></ASX>')
    proc, watcher = play(sandbox, url, server, env={
        "GST_DEBUG": "GST_ELEMENT_FACTORY:4", "GST_DEBUG_NO_COLOR": "1"})
    assert proc.returncode == 1
    word = watcher.words()[-1]
    assert word.startswith("ERROR:")
    # Either the MMS source exists and was made for the entry, or it is
    # missing and the run says so; the HTTP source is never tried on it.
    assert 'creating element "mmssrc"' in proc.stderr or 'no element "mmssrc"' in word
    assert proc.stderr.count('creating element "souphttpsrc"') == 1


def test_one_level_of_playlist_is_followed(sandbox, server):
    inner_pls = serve(server, "/inner.pls", "[playlist]\nFile1={STREAM}\n")
    url = serve(server, "/outer.pls", f"[playlist]\nFile1={inner_pls}\n")
    proc, watcher = play(sandbox, url, server)
    # A playlist inside the entry is not read: that ends the run as an error.
    assert proc.returncode == 1
    assert watcher.words()[-1].startswith("ERROR:")
    assert STREAM not in server.requests

    # A URI list inside the entry ends it as if the stream had ended.
    inner_list = serve(server, "/inner.m3u", "{STREAM}\n")
    url = serve(server, "/outer2.pls", f"[playlist]\nFile1={inner_list}\n")
    (sandbox.tmp / "sorvi.txt").unlink()
    proc, watcher = play(sandbox, url, server)
    assert proc.returncode == 0
    assert watcher.words()[-1] == "EOS"
    assert STREAM not in server.requests
