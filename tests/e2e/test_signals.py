"""Pause, seek and stop by signal, against the real player: what each signal
does in each phase of a run, what it must not do before playback has begun,
and that SIGTERM still ends a run whose threads are busy or stuck."""

import fcntl
import os
import signal
import threading
import time

import pytest

from harness import within as scaled
from http_server import HttpServer, Route
from signals_support import (
    SORVEL, WAV_HEADER, WAV_BYTES_PER_SECOND, local_copy, nvram, nvram_get, position, run_files_gone,
    start, status_lines, status_word, wait_position, wait_status_word, wav_stream)

SEEK_WAIT = 3  # seconds for a seek to show in the position file
PLAYLIST = (b"[playlist]\nNumberOfEntries=1\nFile1=http://127.0.0.1:9/x\nTitle1="
            + b"x" * 4096 + b"\n")


def assert_killed(sb, proc, within=3.0):
    began = time.monotonic()
    proc.signal(signal.SIGTERM)
    assert proc.wait(10) == 1
    took = time.monotonic() - began
    assert took < scaled(within), f"SIGTERM took {took:.1f}s"
    assert status_word(sb) == "KILLED"
    assert run_files_gone(sb)
    # Never a notification after SIGTERM, also in controller mode; give a
    # late one time to show.
    time.sleep(0.3)
    assert sb.kavido_signals() == 0


def test_pause_and_seek_do_nothing_before_playback(sandbox):
    sb = sandbox
    # The stream's data comes 4 s after its header: the run sits in start-up.
    body = wav_stream(30)
    route = Route(content_type="audio/x-wav", content_length=False,
                  pieces=[(b"", 4.0), (body, 0.0)])
    with HttpServer({"/late": route}) as server:
        (sb.tmp / "seek.txt").write_text("20\r\n")
        proc = start(sb, server.url("/late"))
        wait_status_word(sb, "PREPARE")
        assert sb.wait_for(lambda: (sb.run / "sorvel.pid").exists(), 5)
        for _ in range(3):
            proc.signal(signal.SIGUSR1)
            proc.signal(signal.SIGUSR2)
            time.sleep(0.1)
        time.sleep(0.5)
        assert proc.running() and status_word(sb) == "PREPARE"

        wait_status_word(sb, "PLAYING", timeout=15)
        # Neither a pause nor a seek was kept for later: playback starts at
        # the beginning and moves.
        first = wait_position(sb, lambda p: p >= 1)
        assert first < 10
        wait_position(sb, lambda p: p > first, timeout=5)
        assert_killed(sb, proc)
    assert "Invalid sate" not in proc.stdout


@pytest.mark.parametrize("signo", [signal.SIGTERM, signal.SIGUSR1], ids=["TERM", "USR1"])
def test_signal_before_its_handler_keeps_the_default_action(sandbox, signo):
    """Start-up is held in the SMB mount (a stand-in mount command that hangs),
    before the handlers are installed: the signal ends the process as it would
    any program, at once, and is not kept for later."""
    sb = sandbox
    bindir = sb.ctl / "fakebin"
    bindir.mkdir()
    for name in ("mount", "umount"):
        stand_in = bindir / name
        stand_in.write_text("#!/bin/sh\n: > /.sandbox/mounting\nexec sleep 30\n")
        stand_in.chmod(0o755)
    env = {"PATH": "/.sandbox/fakebin:" + os.environ.get("PATH", "/usr/bin:/bin")}
    proc = sb.spawn([SORVEL, "smb://srv/music/a.ogg"], env=env, kavido=True)
    assert sb.wait_for(lambda: (sb.ctl / "mounting").exists(), 10)
    began = time.monotonic()
    proc.signal(signo)
    assert proc.wait(10) == 128 + signo
    assert time.monotonic() - began < scaled(2.0)
    assert status_lines(sb) is None
    assert sb.kavido_signals() == 0


def test_pause_toggle_keeps_position_and_reports_resume(sandbox):
    sb = sandbox
    proc = start(sb, local_copy(sb, "ogg", 60), controller=True)
    wait_status_word(sb, "PLAYING")
    wait_position(sb, lambda p: p >= 2)
    status_file = sb.tmp / "sorvi.txt"

    proc.signal(signal.SIGUSR1)
    time.sleep(1.5)  # let the pause settle
    held = position(sb)
    inode = status_file.stat().st_ino
    (sb.tmp / "duration.txt").unlink()
    assert nvram(sb, "set", "radio_preparing=1").returncode == 0
    time.sleep(3)
    # Paused: the position stands, the pause itself is not reported.
    assert position(sb) == held
    assert status_file.stat().st_ino == inode and status_word(sb) == "PLAYING"
    assert not (sb.tmp / "duration.txt").exists()

    proc.signal(signal.SIGUSR1)
    # Resumed: reported again, with the duration and the settings key.
    assert sb.wait_for(lambda: status_file.stat().st_ino != inode, 5)
    lines = status_lines(sb)
    assert lines[1] == "PLAYING" and len(lines) == 3
    assert sb.wait_for(lambda: (sb.tmp / "duration.txt").exists(), 5)
    assert (sb.tmp / "duration.txt").read_text() == "60"
    assert nvram_get(sb, "radio_preparing") == "0"
    wait_position(sb, lambda p: p > held, timeout=5)
    assert_killed(sb, proc)


def test_seek_file_forms(sandbox):
    sb = sandbox
    proc = start(sb, local_copy(sb, "ogg", 120))
    wait_status_word(sb, "PLAYING")
    wait_position(sb, lambda p: p >= 1)
    seek_file = sb.tmp / "seek.txt"

    def seek(content, expect_from, expect_to):
        if content is None:
            seek_file.unlink(missing_ok=True)
        else:
            seek_file.write_bytes(content)
        proc.signal(signal.SIGUSR2)
        return wait_position(sb, lambda p: expect_from <= p <= expect_to, SEEK_WAIT)

    seek(b"90\r\n", 90, 93)
    seek(b"30", 30, 33)
    # Only the low 32 bits of the number count: 2^32 + 90 is 90.
    seek(b"4294967386\n", 90, 93)
    # Only the first 100 bytes are read: 98 spaces, "45", then digits that
    # would make it 4500000.
    seek(b" " * 98 + b"45" + b"00000\r\n", 45, 48)
    # The seek file stays as it was.
    assert seek_file.read_bytes() == b" " * 98 + b"4500000\r\n"

    # A missing or empty file is no request: playback goes on from 45.
    before = position(sb)
    seek(None, before, before + 4)
    seek(b"", before, before + 5)
    time.sleep(1.5)
    assert position(sb) >= before
    assert_killed(sb, proc)


@pytest.mark.parametrize("controller", [False, True], ids=["plain", "controller"])
@pytest.mark.parametrize("phase", ["starting", "playlist", "playing", "paused"])
def test_sigterm_in_every_phase(sandbox, phase, controller):
    sb = sandbox
    routes = {
        "/hang": Route(hang=True),
        # A whole playlist on a connection that stays open: the run reads it
        # and waits for its end. (Shorter text would leave the decoder still
        # guessing its type, and the run would not have got that far.)
        "/list.pls": Route(content_type="audio/x-scpls", stall_after=len(PLAYLIST), body=PLAYLIST),
    }
    with HttpServer(routes) as server:
        if phase == "starting":
            proc = start(sb, server.url("/hang"), controller)
            wait_status_word(sb, "PREPARE")
            time.sleep(1)
        elif phase == "playlist":
            proc = start(sb, server.url("/list.pls"), controller)
            assert sb.wait_for(lambda: "/list.pls" in server.requests, 10)
            time.sleep(1.5)
            assert status_word(sb) == "PREPARE"
        else:
            proc = start(sb, local_copy(sb, "ogg", 30), controller)
            wait_status_word(sb, "PLAYING")
            wait_position(sb, lambda p: p >= 1)
            if phase == "paused":
                proc.signal(signal.SIGUSR1)
                time.sleep(1)
        assert proc.running()
        assert_killed(sb, proc)


def test_sigterm_ends_a_run_whose_source_is_stuck_in_a_read(sandbox):
    """A local source that stops delivering in the middle of a read (as a file
    on a share whose server went away does): stopping the pipeline cannot
    finish, and SIGTERM must end the run all the same."""
    sb = sandbox
    fifo = sb.tmp / "stuck.wav"
    os.mkfifo(fifo)
    body = wav_stream(30)
    hold = threading.Event()

    def writer():
        # The file source may open the file, close it and open it again while
        # it starts; a reader that went away is met with a fresh write.
        for _ in range(5):
            try:
                with open(fifo, "wb") as pipe:
                    pipe.write(body[: WAV_HEADER + 3 * WAV_BYTES_PER_SECOND])
                    pipe.flush()
                    hold.wait(30)
                    return
            except BrokenPipeError:
                continue

    feeder = threading.Thread(target=writer, daemon=True)
    feeder.start()
    try:
        proc = start(sb, sb.inside(fifo))
        wait_status_word(sb, "PLAYING")
        wait_position(sb, lambda p: p >= 2)
        time.sleep(2)  # the three seconds are played; the source now waits
        assert_killed(sb, proc, within=4.0)
    finally:
        hold.set()
        feeder.join(5)


def test_sigterm_ends_a_run_whose_main_loop_is_blocked(sandbox):
    """Another program holds the settings store's writers' lock: the PLAYING
    report blocks the main loop setting "radio_preparing". SIGTERM must not
    need the main loop."""
    sb = sandbox
    with open(f"{sb.nvram_file}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        proc = start(sb, local_copy(sb, "ogg", 30), controller=True)
        wait_status_word(sb, "PLAYING")
        time.sleep(3)
        # Blocked indeed: the position timer, on the same loop, never wrote.
        assert position(sb) is None
        assert_killed(sb, proc)


def test_signal_storm_leaves_the_player_responsive(sandbox):
    sb = sandbox
    proc = start(sb, local_copy(sb, "ogg", 60))
    wait_status_word(sb, "PLAYING")
    wait_position(sb, lambda p: p >= 1)
    (sb.tmp / "seek.txt").write_text("5\n")
    pid = proc.host_pid()
    for _ in range(1000):
        os.kill(pid, signal.SIGUSR1)
        os.kill(pid, signal.SIGUSR2)
    time.sleep(1)
    assert proc.running()
    assert_killed(sb, proc, within=5.0)
