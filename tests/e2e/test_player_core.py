"""The player end to end: one location played to the (stand-in) sound device,
reported through the status, duration and pid files, the settings store and
the controller's signal; local files, HTTP streams (AAC and Opus too, and an
Icecast station's titles) and files on a mounted SMB share, and every way
such a run can end early."""

import ctypes
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

import pytest

import media
from harness import build_path, emulator_prefix
from http_server import HttpServer, Icecast, Route

SORVEL = build_path("player/sorvel")
USAGE = "Usage: {} url | --kavido pid url\n"
CONTENT_TYPES = {"ogg": "application/ogg", "mp3": "audio/mpeg", "wav": "audio/x-wav",
                 "aac": "audio/aac", "opus": "audio/ogg"}


# ---------------------------------------------------------------- helpers


def status_lines(sb):
    path = sb.tmp / "sorvi.txt"
    try:
        text = path.read_text()
    except FileNotFoundError:
        return None
    assert text.endswith("\n"), repr(text)
    return text[:-1].split("\n")


def wait_status_word(sb, word, timeout=15):
    def reached():
        lines = status_lines(sb)
        return lines if lines and len(lines) > 1 and lines[1] == word else None

    lines = sb.wait_for(reached, timeout)
    assert lines, f"status never became {word!r}; last: {status_lines(sb)!r}"
    return lines


def nvram_get(sb, key):
    done = subprocess.run(emulator_prefix() + [build_path("platform/nvram"), "get", key],
                          env={"NVRAM_FILE": str(sb.nvram_file)},
                          capture_output=True, text=True, timeout=10)
    return done.stdout.strip() if done.returncode == 0 else None


def run_files_gone(sb):
    return not any(p.exists() for p in (sb.tmp / "duration.txt", sb.tmp / "position.txt",
                                        sb.run / "sorvel.pid"))


def leftovers(sb):
    """Anything but the kept status file: temporary files of an atomic
    replacement must never stay behind."""
    return sorted(p.name for p in list(sb.tmp.iterdir()) + list(sb.run.iterdir())
                  if p.name != "sorvi.txt" and p.name not in sb.keep)


def inner_pid(host_pid):
    """The program's pid inside its own pid namespace (what it writes)."""
    with open(f"/proc/{host_pid}/status") as f:
        for line in f:
            if line.startswith("NSpid:"):
                return int(line.split()[-1])
    raise AssertionError("no NSpid")


class Removals:
    """Names removed from the watched directories, in the order the kernel
    saw them (one inotify queue for all)."""

    IN_DELETE = 0x200
    IN_ISDIR = 0x40000000

    def __init__(self, *dirs):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        assert self.fd >= 0
        for d in dirs:
            # A file replaced by rename is not deleted: only real removals show.
            assert self.libc.inotify_add_watch(self.fd, str(d).encode(), self.IN_DELETE) >= 0

    def read(self):
        names = []
        while select.select([self.fd], [], [], 0)[0]:
            data = os.read(self.fd, 65536)
            at = 0
            while at < len(data):
                _, mask, _, size = struct.unpack_from("iIII", data, at)
                name = data[at + 16:at + 16 + size].rstrip(b"\0").decode()
                # only files: the sandbox may remove a mount point of its own
                if not mask & self.IN_ISDIR:
                    names.append(name)
                at += 16 + size
        os.close(self.fd)
        return names


@pytest.fixture
def sb(sandbox):
    sandbox.keep = set()
    return sandbox


def put_media(sb, kind, seconds=3, name=None):
    """Copies a test file into the sandbox's /tmp; returns its inside path."""
    name = name or f"tone.{kind}"
    shutil.copy(media.make(kind, seconds), sb.tmp / name)
    sb.keep.add(name)
    return f"/tmp/{name}"


# ------------------------------------------------------------ command line


@pytest.mark.parametrize("args", [
    [],
    ["-x", "http://127.0.0.1/s"],
    ["--KAVIDO", "http://127.0.0.1/s"],
    ["--kavido", "1234", "http://127.0.0.1/s"],
    ["a", "b", "c", "d"],
])
def test_wrong_command_line_prints_usage_and_writes_nothing(sb, args):
    proc = sb.run_program([SORVEL] + args, kavido=True, timeout=20)
    assert proc.returncode == 1
    assert proc.stdout == USAGE.format(SORVEL)
    assert list(sb.tmp.iterdir()) == [] and list(sb.run.iterdir()) == []
    assert sb.kavido_signals() == 0


# ------------------------------------------------------------ local files


@pytest.mark.parametrize("kind,controller", [("ogg", True), ("mp3", False), ("wav", False)])
def test_local_file_plays_reports_and_ends(sb, kind, controller):
    location = put_media(sb, kind)
    args = ["--kavido", location] if controller else [location]
    proc = sb.spawn([SORVEL] + args, kavido=True)

    lines = wait_status_word(sb, "PLAYING")
    removals = Removals(sb.tmp, sb.run)
    assert lines == [location, "PLAYING", "0,44100"]
    # While playing: the duration in whole seconds, the pid, and the settings
    # store told that the station no longer prepares.
    assert (sb.tmp / "duration.txt").read_text() in ("2", "3")
    assert (sb.run / "sorvel.pid").read_text() == str(inner_pid(proc.host_pid()))
    # Set right after the status is written.
    assert sb.wait_for(lambda: nvram_get(sb, "radio_preparing") == "0", 5)

    # The position file appears once a second of playback has passed.
    assert sb.wait_for(lambda: (sb.tmp / "position.txt").exists(), 5)
    assert proc.wait(20) == 0
    assert status_lines(sb) == [location, "EOS"]
    assert run_files_gone(sb)
    assert removals.read() == ["duration.txt", "position.txt", "sorvel.pid"]
    assert leftovers(sb) == []
    assert sb.kavido_signals() == (1 if controller else 0)


@pytest.mark.parametrize("over", ["file", "http"])
def test_mp3_without_length_header_gets_its_duration_while_playing(sb, over):
    """Such a file's length is known to the parser only some time after
    PLAYING; the duration file must not say 0 for the whole song."""
    def duration():
        path = sb.tmp / "duration.txt"
        return path.read_text() if path.exists() else None

    with HttpServer({"/bare.mp3": Route(body=media.make("mp3-bare", 3).read_bytes(),
                                        content_type="audio/mpeg")}) as server:
        location = put_media(sb, "mp3-bare", name="bare.mp3") if over == "file" \
            else server.url("/bare.mp3")
        proc = sb.spawn([SORVEL, location])
        wait_status_word(sb, "PLAYING")
        assert sb.wait_for(lambda: duration() == "3", 2.5, 0.02), duration()
        assert proc.wait(20) == 0
    assert status_lines(sb) == [location, "EOS"]


def test_status_files_are_readable_by_other_programs(sb):
    location = put_media(sb, "ogg")
    proc = sb.spawn([SORVEL, location], kavido=True)
    wait_status_word(sb, "PLAYING")
    for path in (sb.tmp / "sorvi.txt", sb.tmp / "duration.txt", sb.run / "sorvel.pid"):
        assert path.stat().st_mode & 0o777 == 0o644, path
    assert proc.wait(20) == 0


def test_video_stream_before_audio_is_skipped_and_audio_plays(sb):
    location = put_media(sb, "mkv")
    proc = sb.spawn([SORVEL, location], kavido=True)
    assert wait_status_word(sb, "PLAYING")[2] == "0,44100"
    assert proc.wait(20) == 0
    assert "Invalid type:[video/" in proc.stdout
    assert status_lines(sb) == [location, "EOS"]


def test_plays_through_a_real_alsa_element(sb):
    location = put_media(sb, "wav", seconds=2)
    proc = sb.spawn([SORVEL, location], kavido=True,
                    env={"SORVEL_AUDIO_SINK": "alsasink device=null provide-clock=false"})
    wait_status_word(sb, "PLAYING")
    assert proc.wait(20) == 0
    assert status_lines(sb) == [location, "EOS"]


def test_missing_file_ends_with_gstreamer_error(sb):
    proc = sb.run_program([SORVEL, "--kavido", "/tmp/no-such.ogg"], kavido=True, timeout=20)
    assert proc.returncode == 1
    lines = status_lines(sb)
    # GStreamer's own message for it, not its debug text.
    assert lines == ["/tmp/no-such.ogg", "ERROR:Resource not found."]
    assert run_files_gone(sb) and leftovers(sb) == []
    assert sb.kavido_signals() == 1


def test_local_text_file_is_an_error_not_a_playlist(sb):
    (sb.tmp / "list.pls").write_text("[playlist]\nNumberOfEntries=1\nFile1=http://127.0.0.1:9/x\n")
    sb.keep.add("list.pls")
    proc = sb.run_program([SORVEL, "/tmp/list.pls"], kavido=True, timeout=20)
    assert proc.returncode == 1
    assert status_lines(sb)[1].startswith("ERROR:")


@pytest.mark.parametrize("controller", [True, False])
def test_missing_element_ends_like_a_pipeline_error(sb, controller):
    location = put_media(sb, "ogg")
    args = ["--kavido", location] if controller else [location]
    proc = sb.run_program([SORVEL] + args, kavido=True, timeout=10,
                          env={"SORVEL_AUDIO_SINK": "nosuchsinkelement"})
    assert proc.returncode == 1
    assert status_lines(sb) == [location, 'ERROR:no element "nosuchsinkelement"']
    assert run_files_gone(sb) and leftovers(sb) == []
    assert sb.kavido_signals() == (1 if controller else 0)


def test_audio_sink_of_several_elements_is_refused(sb):
    """An audio sink description of several elements cannot serve as the
    sink: refused with a clear error rather than played silently."""
    location = put_media(sb, "ogg")
    proc = sb.run_program([SORVEL, location], kavido=True, timeout=10,
                          env={"SORVEL_AUDIO_SINK": "audioresample ! fakesink"})
    assert proc.returncode == 1
    assert status_lines(sb)[1].startswith("ERROR:SORVEL_AUDIO_SINK")


# ------------------------------------------------------------ HTTP streams


@pytest.mark.parametrize("kind,irate", [("ogg", "128000\n"), ("mp3", None), ("wav", "96000")])
def test_http_stream_prepares_then_plays(sb, kind, irate):
    body = media.make(kind, 2).read_bytes()
    gate = threading.Event()
    # A live stream: no length, no seeking.
    routes = {f"/s.{kind}": Route(body=body, content_type=CONTENT_TYPES[kind], gate=gate,
                                  content_length=False)}
    with HttpServer(routes, lifetime=60) as server:
        location = server.url(f"/s.{kind}")
        proc = sb.spawn([SORVEL, "--kavido", location], kavido=True)
        # The stream holds back its data: start-up is done, playback is not.
        lines = wait_status_word(sb, "PREPARE")
        assert lines == [location, "PREPARE"]
        assert sb.wait_for(lambda: (sb.run / "sorvel.pid").exists(), 5)
        assert (sb.run / "sorvel.pid").read_text() == str(inner_pid(proc.host_pid()))
        assert not (sb.tmp / "duration.txt").exists()
        if irate is not None:
            (sb.tmp / "irate").write_text(irate)
            sb.keep.add("irate")
        gate.set()

        lines = wait_status_word(sb, "PLAYING")
        bitrate = irate.strip() if irate else "0"
        assert lines == [location, "PLAYING", f"{bitrate},44100"]
        assert (sb.tmp / "duration.txt").read_text().isdigit()
        assert sb.wait_for(lambda: nvram_get(sb, "radio_preparing") == "0", 5)

        assert proc.wait(20) == 0
    assert status_lines(sb) == [location, "EOS"]
    assert run_files_gone(sb) and leftovers(sb) == []
    assert sb.kavido_signals() == 1


def test_stale_files_of_an_earlier_run_are_removed_at_start(sb):
    gate = threading.Event()
    body = media.make("ogg", 2).read_bytes()
    (sb.tmp / "sorvi.txt").write_text("old\nPLAYING\n1,1\n")
    (sb.tmp / "duration.txt").write_text("999")
    (sb.tmp / "irate").write_text("555\n")
    route = Route(body=body, content_type="application/ogg", gate=gate, content_length=False)
    with HttpServer({"/s": route}) as server:
        proc = sb.spawn([SORVEL, server.url("/s")], kavido=True)
        wait_status_word(sb, "PREPARE")
        assert not (sb.tmp / "duration.txt").exists()
        assert not (sb.tmp / "irate").exists()
        gate.set()
        # The old bitrate is not reported for the new stream.
        assert wait_status_word(sb, "PLAYING")[2] == "0,44100"
        assert proc.wait(20) == 0


def test_https_location_uses_the_http_source(sb):
    """An https: location goes to the HTTP source; with nothing listening
    the HTTP source reports a network failure, where a file source would
    report a missing file."""
    proc = sb.run_program([SORVEL, "https://127.0.0.1:9/stream"], kavido=True, timeout=20)
    assert proc.returncode == 1
    word = status_lines(sb)[1]
    assert word.startswith("ERROR:") and len(word) > len("ERROR:")
    assert word != "ERROR:Resource not found."


def test_https_location_gets_its_tls_client(sb):
    """The player keeps GIO's TLS module within reach: what reaches an
    https: server first is a TLS handshake record, not plain HTTP."""
    listener = socket.create_server(("127.0.0.1", 0))
    listener.settimeout(20)
    received = []

    def first_bytes():
        try:
            conn, _ = listener.accept()
            with conn:
                conn.settimeout(10)
                received.append(conn.recv(3))
        except OSError:
            pass

    reader = threading.Thread(target=first_bytes, daemon=True)
    reader.start()
    try:
        port = listener.getsockname()[1]
        proc = sb.spawn([SORVEL, f"https://127.0.0.1:{port}/stream"])
        reader.join(25)
        proc.kill()
    finally:
        listener.close()
    # content type 22 (handshake), protocol major version 3
    assert received and received[0][:2] == b"\x16\x03", received


REFUSED = "ERROR:The station's certificate was not accepted: {}."


@pytest.mark.parametrize("certificate,word", [
    ("good", "EOS"),
    ("untrusted", REFUSED.format("untrusted issuer")),
    ("wrong-name", REFUSED.format("wrong name")),
    ("expired", REFUSED.format("expired")),
])
def test_https_station_plays_only_with_a_certificate_the_system_trusts(
        sb, certificates, certificate, word):
    sb.trust(certificates["ca"])
    ogg = media.make("ogg", 1).read_bytes()
    with HttpServer({"/radio": Route(body=ogg, content_type="application/ogg")},
                    tls=certificates[certificate]) as server:
        location = server.url("/radio")
        proc = sb.spawn([SORVEL, "--kavido", location], kavido=True)
        assert proc.wait(20) == (0 if word == "EOS" else 1)
        # Refused in the handshake: the station never got a request.
        assert bool(server.requests) == (word == "EOS")
    assert status_lines(sb) == [location, word]
    assert run_files_gone(sb)
    assert sb.kavido_signals() == 1


def plugins_loaded(stderr):
    return {line.rsplit("/", 1)[-1].split('"')[0] for line in stderr.splitlines()
            if '" loaded' in line and "/" in line}


def host_has(element):
    return subprocess.run(["gst-inspect-1.0", "--exists", element]).returncode == 0


# Every format the stations send still plays, and the big codec library is
# loaded for those that need its decoders, not for every stream.
@pytest.mark.parametrize("kind,rate,decoder_plugin", [
    ("mp3", 44100, "libgstmpg123.so"),
    ("ogg", 44100, "libgstvorbis.so"),
    ("opus", 48000, "libgstopus.so"),
    ("wav", 44100, "libgstwavparse.so"),
    ("aac", 44100, "libgstlibav.so"),
])
def test_http_stream_wakes_only_the_decoder_it_needs(sb, kind, rate, decoder_plugin):
    if kind == "mp3" and not host_has("mpg123audiodec"):
        pytest.skip("no mpg123 plug-in: MP3 goes to the codec library")
    body = media.make(kind, 2).read_bytes()
    routes = {f"/s.{kind}": Route(body=body, content_type=CONTENT_TYPES[kind],
                                  content_length=False)}
    with HttpServer(routes, lifetime=60) as server:
        location = server.url(f"/s.{kind}")
        proc = sb.spawn([SORVEL, location], env={
            "GST_DEBUG": "GST_PLUGIN_LOADING:4", "GST_DEBUG_NO_COLOR": "1"})
        lines = wait_status_word(sb, "PLAYING")
        assert lines == [location, "PLAYING", f"0,{rate}"]
        assert proc.wait(20) == 0
    assert status_lines(sb) == [location, "EOS"]
    loaded = plugins_loaded(proc.stderr)
    assert decoder_plugin in loaded
    if decoder_plugin != "libgstlibav.so":
        assert "libgstlibav.so" not in loaded


@pytest.mark.parametrize("controller", [True, False])
def test_http_not_found_ends_with_error(sb, controller):
    with HttpServer({}) as server:
        location = server.url("/missing.ogg")
        args = ["--kavido", location] if controller else [location]
        proc = sb.run_program([SORVEL] + args, kavido=True, timeout=20)
    assert proc.returncode == 1
    lines = status_lines(sb)
    assert lines == [location, "ERROR:Not Found"]
    assert run_files_gone(sb) and leftovers(sb) == []
    assert sb.kavido_signals() == (1 if controller else 0)


def test_http_stream_of_undecodable_type_is_invalid(sb):
    body = b"%PDF-1.4\n%" + b"\xe2\xe3\xcf\xd3" * 8 + b"\n1 0 obj\n<< >>\nendobj\n" * 40
    with HttpServer({"/doc": Route(body=body, content_type="application/pdf")}) as server:
        location = server.url("/doc")
        proc = sb.run_program([SORVEL, "--kavido", location], kavido=True, timeout=20)
    assert proc.returncode == 1
    assert status_lines(sb) == [location, "INVALID:application/pdf"]
    assert run_files_gone(sb)
    assert sb.kavido_signals() == 1


# ------------------------------------------------------------ faults from outside


def mp3_stream(**faults):
    """The 3-second MP3 tone as a live stream, with the given server faults."""
    return Route(body=media.make("mp3", 3).read_bytes(), content_type="audio/mpeg",
                 content_length=False, **faults)


# Each a server a radio player meets in the field, and how the run must end:
# the exit status and the status word (a prefix for GStreamer's own texts).
HTTP_FAULTS = {
    "reset_in_the_middle": (lambda: mp3_stream(reset_after=24000), 1, "ERROR:"),
    "closed_after_headers": (lambda: Route(content_type="audio/mpeg", content_length=False), 1,
                             "ERROR:"),
    # The decoder skips what is not MP3 and the stream still ends normally.
    "garbage_after_frames": (
        lambda: Route(body=media.make("mp3", 3).read_bytes()
                      + bytes((i * 7919) % 251 for i in range(200000)),
                      content_type="audio/mpeg", content_length=False), 0, "EOS"),
    "redirect_loop": (lambda: Route(status=302, headers={"Location": "/s"}), 1, "ERROR:"),
    "megabyte_of_headers": (
        lambda: mp3_stream(headers={f"X-Pad-{i}": "x" * 1000 for i in range(1024)}), 1,
        "ERROR:"),
}


@pytest.mark.parametrize("fault", sorted(HTTP_FAULTS))
def test_http_server_fault_ends_the_run_cleanly(sb, fault):
    make_route, code, word = HTTP_FAULTS[fault]
    with HttpServer({"/s": make_route()}) as server:
        location = server.url("/s")
        proc = sb.run_program([SORVEL, "--kavido", location], kavido=True, timeout=30)
        requests = len(server.requests)
    assert proc.returncode == code
    lines = status_lines(sb)
    assert lines[0] == location and lines[1].startswith(word) and len(lines) == 2, lines
    assert run_files_gone(sb) and leftovers(sb) == []
    assert sb.kavido_signals() == 1
    # A redirect loop is given up, not followed for ever.
    assert requests <= 25


def test_server_sending_a_byte_a_second_times_out(sb):
    with HttpServer({"/s": mp3_stream(chunk_size=1, chunk_delay=1.0)}) as server:
        location = server.url("/s")
        proc = sb.run_program([SORVEL, location], timeout=40)
    assert proc.returncode == 1
    assert status_lines(sb) == [location, "TIMEOUT"]
    assert run_files_gone(sb) and leftovers(sb) == []


@pytest.mark.parametrize("location", [
    "http://no-such-host.invalid/live.mp3",
    "http://127.0.0.1:9/" + "a" * 65536,
    "/tmp/" + "a" * 65536,
], ids=["unresolvable_host", "64k_http_location", "64k_file_location"])
def test_location_that_cannot_be_reached_is_an_error(sb, location):
    proc = sb.run_program([SORVEL, location], timeout=30)
    assert proc.returncode == 1
    lines = status_lines(sb)
    assert lines[0] == location and lines[1].startswith("ERROR:"), lines[1][:200]
    assert run_files_gone(sb) and leftovers(sb) == []


def test_tmp_full_from_the_start_does_not_stop_playback(sb):
    """Nothing fits in /tmp, so nothing is reported there; the stream is
    still played to its end and no temporary file is left behind."""
    sb.small_fs(sb.tmp, 64)
    sb.fill(sb.tmp)
    sb.keep.add("filler")
    with HttpServer({"/s": mp3_stream()}) as server:
        proc = sb.run_program([SORVEL, server.url("/s")], timeout=30)
    assert proc.returncode == 0
    assert leftovers(sb) == [] and not (sb.run / "sorvel.pid").exists()


# Takes every block /tmp gives back, at once: C calls in a tight loop.
FILLER = """
import ctypes, os, sys, time
fd = os.open(sys.argv[1], os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
write, block, end = ctypes.CDLL(None).write, bytes(4096), time.monotonic() + 60
while time.monotonic() < end:
    for _ in range(10000):
        write(fd, block, 4096)
"""


def test_tmp_full_while_playing_still_reports_the_end(sb):
    """Another process takes every block /tmp gives back from the moment the
    position is first written: the reports go on, and a reader polling them
    never sees one empty or cut, the final status included."""
    sb.small_fs(sb.tmp, 64)
    sb.keep.add("filler")
    seen, bad, stop = [], [], threading.Event()

    def poll():
        while not stop.is_set():
            for name in ("sorvi.txt", "duration.txt", "position.txt"):
                try:
                    text = (sb.tmp / name).read_text()
                except FileNotFoundError:
                    continue
                whole = (text.startswith(location + "\n") and text.endswith("\n")
                         if name == "sorvi.txt" else text.isdigit())
                if not whole:
                    bad.append((name, text))
                elif name == "position.txt":
                    seen.append(int(text))
            time.sleep(0.001)

    with HttpServer({"/s": mp3_stream()}) as server:
        location = server.url("/s")
        poller = threading.Thread(target=poll, daemon=True)
        poller.start()
        proc = sb.spawn([SORVEL, location])
        assert sb.wait_for(lambda: seen, 10)
        fillers = [subprocess.Popen([sys.executable, "-c", FILLER, str(sb.tmp / "filler")])
                   for _ in range(2)]
        try:
            assert sb.wait_for(lambda: shutil.disk_usage(sb.tmp).free < 4096, 5)
            at_fill = seen[-1]
            assert proc.wait(30) == 0
        finally:
            stop.set()
            for filler in fillers:
                filler.kill()
                filler.wait()
        poller.join(5)
    assert bad == [] and max(seen) > at_fill
    assert status_lines(sb) == [location, "EOS"]
    assert run_files_gone(sb) and leftovers(sb) == []


@pytest.mark.parametrize("fault", ["full", "read_only"])
def test_store_that_cannot_be_written_does_not_stop_playback(sb, fault):
    """The settings store's file system full or read-only: the player's
    writes to it fail, the stream plays to its end, the store is intact."""
    sb.small_fs(sb.mnt, 64)
    store = sb.mnt / "nvram"
    store.write_text("radio_preparing=1\n")
    if fault == "full":
        sb.fill(sb.mnt)
    else:
        subprocess.run(["mount", "-o", "remount,ro", str(sb.mnt)], check=True)
    location = put_media(sb, "mp3", seconds=2)
    proc = sb.run_program([SORVEL, location], timeout=30, env={"NVRAM_FILE": "/mnt/nvram"})
    assert proc.returncode == 0
    assert status_lines(sb) == [location, "EOS"]
    assert store.read_text() == "radio_preparing=1\n"
    assert sorted(p.name for p in sb.mnt.iterdir()) in (["nvram"], ["filler", "nvram"],
                                                        ["filler", "nvram", "nvram.lock"],
                                                        ["nvram", "nvram.lock"])


# ------------------------------------------------------------ SMB shares

FAKE_COMMAND = """#!/bin/sh
{{ printf '%s' "${{0##*/}}"; for a in "$@"; do printf '\\037%s' "$a"; done; echo; }} \
    >> /.sandbox/commands.log
echo "${{0##*/}} $(grep SigBlk /proc/self/status)" >> /.sandbox/sigblk.log
{action}
"""

FAKE_ACTIONS = {
    # The mount table as the test wants the kernel to show it.
    "cat": 'if [ "$1" = /proc/mounts ]; then exec {real_cat} /.sandbox/mounts.txt; fi\n'
           'exec {real_cat} "$@"',
    "mkdir": 'exec {real_mkdir} "$@"',
    "umount": "exit 0",
    # No CIFS client here: the test's share directory stands in for it.
    "mount": "exec {real_mount} --bind /.sandbox/share /mnt/mount_cifs",
}


@pytest.fixture
def smb(sb):
    """Stand-ins for cat, mkdir, umount and mount, first on PATH inside the
    sandbox, logging every call."""
    bindir = sb.ctl / "fakebin"
    bindir.mkdir()
    real = {f"real_{name}": shutil.which(name) for name in ("cat", "mkdir", "mount")}
    for name, action in FAKE_ACTIONS.items():
        path = bindir / name
        path.write_text(FAKE_COMMAND.format(action=action.format(**real)))
        path.chmod(0o755)
    (sb.ctl / "share").mkdir()
    (sb.ctl / "mounts.txt").write_text("rootfs / rootfs rw 0 0\n")
    sb.smb_env = {"PATH": "/.sandbox/fakebin:" + os.environ.get("PATH", "/usr/bin:/bin")}
    return sb


def commands(sb):
    log = sb.ctl / "commands.log"
    if not log.exists():
        return []
    return [line.split("\x1f") for line in log.read_text().splitlines()]


def mount_command(share, user="admin", password=None):
    options = "ro,nounix,noserverino,iocharset=utf8,username=" + user
    if password is not None:
        options += ",password=" + password
    return ["mount", "-t", "cifs", "-o", options, share, "/mnt/mount_cifs"]


def cifs_table_line(unc):
    return (f"//x/y /mnt/mount_cifs cifs ro,relatime,vers=1.0,unc={unc},username=admin,"
            "domain=,uid=0,noforceuid,gid=0,noforcegid,addr=192.0.2.7,file_mode=0755 0 0\n")


def test_smb_first_mount_then_plays_file_below_mount_point(smb):
    shutil.copy(media.make("ogg", 2), smb.ctl / "share" / "b.ogg")
    proc = smb.run_program([SORVEL, "--kavido", "smb://srv/music/b.ogg"], kavido=True,
                           env=smb.smb_env, timeout=20)
    assert proc.returncode == 0, proc.stderr
    assert commands(smb) == [
        ["cat", "/proc/mounts"],
        ["mkdir", "/mnt/mount_cifs"],
        mount_command("//srv/music"),
    ]
    assert status_lines(smb) == ["/mnt/mount_cifs/b.ogg", "EOS"]
    assert smb.kavido_signals() == 1
    # The player keeps its control signals blocked; the commands it runs must
    # not inherit that, or a hung mount would ignore SIGTERM.
    masks = (smb.ctl / "sigblk.log").read_text().splitlines()
    assert len(masks) == 3
    assert all(line.split()[-1].strip("0") == "" for line in masks), masks


def test_smb_credentials_mount_and_path_before_them_plays(smb):
    (smb.ctl / "share" / "dir a").mkdir()
    shutil.copy(media.make("wav", 2), smb.ctl / "share" / "dir a" / "c.wav")
    proc = smb.run_program([SORVEL, "smb://srv/music/dir a/c.wav,usr=joe,pw=p=1"],
                           kavido=True, env=smb.smb_env, timeout=20)
    assert proc.returncode == 0, proc.stderr
    assert commands(smb)[-1] == mount_command("//srv/music", "joe", "p=1")
    assert status_lines(smb) == ["/mnt/mount_cifs/dir a/c.wav", "EOS"]


def test_smb_share_already_mounted_runs_no_command(smb):
    # Mounted for real (as the kernel would have it), and listed in the table
    # far beyond its first kilobyte, with backslashes after "unc=".
    (smb.mnt / "mount_cifs").mkdir()
    shutil.copy(media.make("ogg", 2), smb.mnt / "mount_cifs" / "b.ogg")
    filler = "tmpfs /var/lib/some/rather/long/mount/point tmpfs rw,nosuid,nodev 0 0\n" * 40
    (smb.ctl / "mounts.txt").write_text(filler + cifs_table_line(r"\\srv\music"))
    proc = smb.run_program([SORVEL, "smb://srv/music/b.ogg"], kavido=True, env=smb.smb_env,
                           timeout=20)
    assert proc.returncode == 0, proc.stderr
    assert commands(smb) == [["cat", "/proc/mounts"]]
    assert status_lines(smb) == ["/mnt/mount_cifs/b.ogg", "EOS"]


def test_smb_other_share_is_unmounted_first(smb):
    (smb.mnt / "mount_cifs").mkdir()
    shutil.copy(media.make("ogg", 2), smb.ctl / "share" / "b.ogg")
    (smb.ctl / "mounts.txt").write_text(cifs_table_line(r"\\other\films"))
    proc = smb.run_program([SORVEL, "smb://srv/music/b.ogg"], kavido=True, env=smb.smb_env,
                           timeout=20)
    assert proc.returncode == 0, proc.stderr
    assert commands(smb) == [
        ["cat", "/proc/mounts"],
        ["umount", "/mnt/mount_cifs"],
        mount_command("//srv/music"),
    ]
    assert status_lines(smb) == ["/mnt/mount_cifs/b.ogg", "EOS"]


def test_smb_location_text_never_reaches_a_shell(smb):
    location = "smb://h/s/x.ogg,usr=a;touch /tmp/pwned;,pw=b`touch /tmp/pwned2`"
    proc = smb.run_program([SORVEL, location], kavido=True, env=smb.smb_env, timeout=20)
    # The file does not exist on the stand-in share: an ordinary error.
    assert proc.returncode == 1
    assert commands(smb) == [
        ["cat", "/proc/mounts"],
        ["mkdir", "/mnt/mount_cifs"],
        mount_command("//h/s", "a;touch /tmp/pwned;", "b`touch /tmp/pwned2`"),
    ]
    assert not (smb.tmp / "pwned").exists() and not (smb.tmp / "pwned2").exists()
    assert status_lines(smb)[1].startswith("ERROR:")


@pytest.mark.parametrize("location,message", [
    ("smb://srv", "no share"),
    ("smb://srv/music", "no file"),
    ("smb://srv/music/a.ogg,usr=joe", ",pw="),
    ("smb://srv/music/a.ogg,usr=joe,uid=0,pw=x", "comma"),
    ("smb://srv/music/" + "p" * 120 + ".ogg", "too long"),
    ("smb://srv/music/a.ogg,usr=" + "u" * 200 + ",pw=x", "too long"),
])
def test_unusable_smb_location_is_refused_before_anything_happens(smb, location, message):
    proc = smb.run_program([SORVEL, "--kavido", location], kavido=True, env=smb.smb_env,
                           timeout=20)
    assert proc.returncode == 1
    assert message in proc.stderr
    # The location is named, its credentials are not.
    assert location.split(",usr=")[0] in proc.stderr
    assert "joe" not in proc.stderr and "u" * 10 not in proc.stderr
    assert commands(smb) == []
    assert list(smb.tmp.iterdir()) == [] and list(smb.run.iterdir()) == []
    assert sb_unmounted(smb)


def sb_unmounted(sb):
    return not (sb.mnt / "mount_cifs").exists()


# ------------------------------------------------------------ now-playing title


def title(sb):
    try:
        return (sb.tmp / "title.txt").read_bytes().decode()
    except FileNotFoundError:
        return None


def test_icy_title_follows_the_station_until_the_end(sb):
    # Constant bitrate, so that the source can send it at playing pace: sent
    # faster, the player would fall ever further behind the station.
    with Icecast(media.make("mp3-bare", 4).read_bytes(), 128000 // 8) as station:
        station.set_title("First Song")
        # A title left by another run is not this station's.
        (sb.tmp / "title.txt").write_text("stale")
        proc = sb.spawn([SORVEL, station.url()], kavido=True)
        wait_status_word(sb, "PLAYING")
        assert sb.wait_for(lambda: title(sb) == "First Song", 15), title(sb)

        # Non-ASCII arrives as UTF-8; a line end sent by the station does not
        # make a second line.
        station.set_title("Zoë – Ünïcode\nsecond line")
        assert sb.wait_for(lambda: title(sb) == "Zoë – Ünïcode second line", 15), title(sb)
        assert (sb.tmp / "title.txt").stat().st_mode & 0o777 == 0o644

        removals = Removals(sb.tmp, sb.run)
        proc.signal(signal.SIGTERM)
        assert proc.wait(10) == 1
    assert status_lines(sb) == [station.url(), "KILLED"]
    assert removals.read() == ["duration.txt", "position.txt", "title.txt", "sorvel.pid"]
    assert leftovers(sb) == []


@pytest.mark.parametrize("tags,shown", [
    ({"artist": "Zoë", "title": "Café"}, "Zoë - Café"),
    ({"title": "Only\ttitle"}, "Only title"),
    ({"artist": "Nobody"}, None),
])
def test_file_tags_give_the_title(sb, tags, shown):
    shutil.copy(media.make("ogg", 2, tags=tags), sb.tmp / "tagged.ogg")
    sb.keep.add("tagged.ogg")
    proc = sb.spawn([SORVEL, "/tmp/tagged.ogg"], kavido=True)
    wait_status_word(sb, "PLAYING")
    if shown:
        assert sb.wait_for(lambda: title(sb) == shown, 10), title(sb)
    removals = Removals(sb.tmp, sb.run)
    assert proc.wait(20) == 0
    assert title(sb) is None
    expected = ["duration.txt", "position.txt", "title.txt", "sorvel.pid"]
    assert removals.read() == [n for n in expected if shown or n != "title.txt"]


def test_long_title_of_an_ogg_stream_behind_a_playlist_is_cut_to_whole_characters(sb):
    """An Ogg stream carries its title in Vorbis comments like a file: the
    stream the station's playlist names gives the title, and one longer than
    the file holds keeps whole UTF-8 characters."""
    body = media.make("ogg", 2, tags={"title": "x" + "é" * 600}).read_bytes()
    route = Route(body=body, content_type="application/ogg", content_length=False)
    with HttpServer({"/s": route}) as server:
        pls = f"[playlist]\nNumberOfEntries=1\nFile1={server.url('/s')}\n".encode()
        server.routes["/station.pls"] = Route(body=pls, content_type="audio/x-scpls")
        proc = sb.spawn([SORVEL, server.url("/station.pls")], kavido=True)
        wait_status_word(sb, "PLAYING")
        assert sb.wait_for(lambda: title(sb) is not None, 10)
        assert title(sb) == "x" + "é" * 511
        assert proc.wait(20) == 0
