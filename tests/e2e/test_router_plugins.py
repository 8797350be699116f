"""The README's plug-in list for a router image, proven: the real player with
GStreamer restricted to exactly the plug-in files that list names
(router_plugins.py), on a station of each format, all side by side.

Two sets, each with one registry built before the runs: the small decoders
a router without the codec library carries, and the codec library's
decoders in their place (the table's alternatives for MP3 and AAC; WMA has
no other). Under the emulator, a station whose plug-ins the sysroot lacks
(it has no gstreamer1.0-plugins-bad) skips with that reason."""

import os
import signal
import time

import pytest

import media
from harness import BUILD_DIR, SOURCE_DIR, Sandbox, emulator_prefix
from http_server import HttpServer, Icecast, Route
from mmsh_server import MmshServer
from router_plugins import (
    WITHOUT_CODEC_LIBRARY, build_registries, make_plugin_set, readme_plugins)
from signals_support import SORVEL, run_files_gone, status_lines, status_word

SETS = {
    # what a router image that leaves the codec library out carries
    "small": WITHOUT_CODEC_LIBRARY,
    # the codec library's decoders where the table offers them instead
    "libav": ("libgstmpg123", "libgstfaad"),
}

MP3, OGG, OPUS, AAC = "MP3", "Ogg/Vorbis", "Opus", "AAC, HE-AAC (ADTS)"
HLS, ICY, WMA, HTTPS = "HLS", "Icecast/Shoutcast (ICY)", "WMA over MMS", "`https:`"

# name: (plug-in set, the table's rows it needs, how the station is served,
#        decoded rate, how the run ends)
STATIONS = {
    "icy-mp3": ("small", [MP3, ICY], "icecast", 44100, "KILLED"),
    "ogg": ("small", [OGG], "ogg", 44100, "EOS"),
    "opus": ("small", [OGG, OPUS], "opus", 48000, "EOS"),
    "aac": ("small", [AAC], "aac", 44100, "EOS"),
    "hls": ("small", [HLS, AAC], "hls", 44100, "EOS"),
    "pls-mp3": ("small", [MP3], "pls", 44100, "EOS"),
    # TLS comes from GIO's module, not from a plug-in file: the set is enough
    "https-ogg": ("small", [OGG, HTTPS], "https-ogg", 44100, "EOS"),
    "m3u-mp3": ("libav", [MP3], "m3u", 44100, "EOS"),
    "aac-libav": ("libav", [AAC], "aac", 44100, "EOS"),
    "wma-mms": ("libav", [WMA], "mms", 44100, "EOS"),
    # The restriction itself: without the codec library there is no WMA
    # decoder, so this run must fail; were the restriction lost, it would play.
    "wma-mms-small": ("small", [], "mms", None, "INVALID:audio/x-wma"),
    # The router's own output element comes from the set too (ALSA's null
    # device: no sound card here). It takes audio as fast as it comes, so
    # the stream comes at playing pace, or PLAYING would pass unseen.
    "ogg-alsasink": ("small", [OGG], "paced-ogg", 44100, "EOS"),
}
SINKS = {"ogg-alsasink": "alsasink device=null"}
# Under the sanitizers, a player that stops an HTTP source mid-run with only
# these plug-ins registered is left with one block of GLib's beneath the HTTP
# plug-in: this group's runs pass over what that plug-in allocates, and check
# every other leak as all groups do.
LEAK_SUPPRESSIONS = SOURCE_DIR / "tests" / "sanitizers" / "lsan_router_plugins.supp"
TITLE = "Router Radio"


def _serve(name, kind, http, mms, icecast, https):
    """Location of station `name`, of this kind, on the running servers."""
    def route(path, body, content_type, **kw):
        # each station its own paths: a broadcast, once served, is over
        path = f"/{name}{path}"
        server = https if kind.startswith("https-") else http
        server.routes[path] = Route(body=body, content_type=content_type, **kw)
        return server.url(path)

    if kind == "icecast":
        return icecast.url()
    if kind == "mms":
        return mms.url("mmsh")
    if kind == "hls":
        served = {path.name: route(f"/hls/{path.name}", path.read_bytes(),
                                   "application/vnd.apple.mpegurl" if path.suffix == ".m3u8"
                                   else "video/mp2t")
                  for path in media.make_hls(3).iterdir()}
        return served["index.m3u8"]
    if kind in ("pls", "m3u"):
        # an ID3-tagged file, as stations' playlists often name
        mp3 = route("/tagged.mp3", media.make("mp3", 2).read_bytes(), "audio/mpeg")
        if kind == "pls":
            return route("/station.pls", f"[playlist]\nNumberOfEntries=1\nFile1={mp3}\n".encode(),
                         "audio/x-scpls")
        return route("/station.m3u", f"#EXTM3U\n{mp3}\n".encode(), "audio/x-mpegurl")
    if kind == "paced-ogg":
        body = media.make("ogg", 2).read_bytes()
        return route("/paced.ogg", body, "application/ogg", content_length=False,
                     chunk_size=len(body) // 20 + 1, chunk_delay=0.1)
    kind = kind.removeprefix("https-")
    types = {"ogg": "application/ogg", "opus": "audio/ogg", "aac": "audio/aac"}
    # live streams: no length
    return route(f"/live.{kind}", media.make(kind, 2).read_bytes(), types[kind],
                 content_length=False)


class Run:
    """One player on one station; follows its status until it ends."""

    def __init__(self, sb, proc, location):
        self.sb, self.proc, self.location = sb, proc, location
        self.playing = None  # the status file's lines at PLAYING
        self.title = None
        self.signalled = False

    def poll(self, live):
        if self.playing is None and status_word(self.sb) == "PLAYING":
            self.playing = status_lines(self.sb)
        if self.title is None and (self.sb.tmp / "title.txt").exists():
            self.title = (self.sb.tmp / "title.txt").read_text()
        # a live station plays until stopped, once its title came through
        if live and self.playing and self.title and not self.signalled:
            self.signalled = True
            self.proc.signal(signal.SIGTERM)
        return self.proc.popen.poll() is not None


@pytest.fixture(scope="module")
def plugin_sets(tmp_path_factory):
    """{set: (environment, plug-in files missing here)}, registries built."""
    sets = {name: make_plugin_set(BUILD_DIR / "router-plugins" / name, leave_out)
            for name, leave_out in SETS.items()}
    build_registries([env for env, _ in sets.values()], tmp_path_factory.mktemp("registries"))
    return sets


def _needed(name):
    plugin_set, rows, *_ = STATIONS[name]
    _, table = readme_plugins()
    return set().union(*(table[r] for r in rows)) - set(SETS[plugin_set])


@pytest.fixture(scope="module")
def runs(plugin_sets, certificates, tmp_path_factory):
    """Every station that can run here, side by side; {name: Run}."""
    names = [n for n in STATIONS if not _needed(n) & plugin_sets[STATIONS[n][0]][1]]
    done = {}
    with HttpServer({}, lifetime=240) as http, \
            HttpServer({}, lifetime=240, tls=certificates["good"]) as https, \
            MmshServer(media.make("asf", 2).read_bytes(), lifetime=240) as mms, \
            Icecast(media.make("mp3-bare", 4).read_bytes(), 128000 // 8) as icecast:
        icecast.set_title(TITLE)
        # Every station's media made before the first player starts: a
        # 2 s station started while later ones are still being encoded
        # would be over before anyone looks at its status.
        locations = {name: _serve(name, STATIONS[name][2], http, mms, icecast, https)
                     for name in names}
        started = {}
        deadline = time.monotonic() + 120
        while (started or locations) and time.monotonic() < deadline:
            if locations:
                name, location = locations.popitem()
                env = dict(plugin_sets[STATIONS[name][0]][0], http_proxy=None, HTTP_PROXY=None)
                if name in SINKS:
                    env["SORVEL_AUDIO_SINK"] = SINKS[name]
                if "LSAN_OPTIONS" in os.environ:
                    env["LSAN_OPTIONS"] = f"suppressions={LEAK_SUPPRESSIONS}:print_suppressions=0"
                sb = Sandbox(tmp_path_factory.mktemp(name))
                sb.trust(certificates["ca"])
                started[name] = Run(sb, sb.spawn([SORVEL, location], env=env), location)
            for name, run in list(started.items()):
                if run.poll(STATIONS[name][2] == "icecast"):
                    run.proc.wait(10)
                    done[name] = started.pop(name)
            time.sleep(0.05)
        for name, run in started.items():
            run.proc.kill()
            run.proc.wait(10)
            done[name] = run
    yield done
    for run in done.values():
        run.sb.close()


def test_every_plugin_file_the_readme_names_is_installed(plugin_sets):
    if emulator_prefix():
        pytest.skip("the sysroot carries only some of the plug-in packages")
    assert all(not missing for _, missing in plugin_sets.values()), plugin_sets


@pytest.mark.parametrize("name", sorted(STATIONS))
def test_station_plays_with_only_the_listed_plugins(plugin_sets, runs, name):
    if name not in runs:
        missing = _needed(name) & plugin_sets[STATIONS[name][0]][1]
        pytest.skip(f"not in the sysroot: {', '.join(sorted(missing))}")
    _, _, _, rate, end = STATIONS[name]
    run = runs[name]
    detail = f"{name}: {status_lines(run.sb)!r}\n{run.proc.stderr}"
    if rate is None:
        assert run.playing is None, detail
    else:
        assert run.playing == [run.location, "PLAYING", f"0,{rate}"], detail
    assert status_lines(run.sb) == [run.location, end], detail
    assert run.proc.returncode == (0 if end == "EOS" else 1), detail
    assert run_files_gone(run.sb)
    if end == "KILLED":
        assert run.title == TITLE
