"""Shared steps of the player's signal and watchdog tests: starting the real
player in a sandbox, reading back its files, and streams that start late,
stop, or stutter."""

import os
import subprocess

import media
from harness import build_path, emulator_prefix
from http_server import Route

SORVEL = build_path("player/sorvel")

# WAV: one second of the test tone is exactly this many bytes, so a stream
# can be cut into pieces of known playing time.
WAV_HEADER = 44
WAV_BYTES_PER_SECOND = 44100 * 2 * 2


def status_lines(sb):
    try:
        text = (sb.tmp / "sorvi.txt").read_text()
    except FileNotFoundError:
        return None
    return text.split("\n")[:-1] if text.endswith("\n") else None


def status_word(sb):
    lines = status_lines(sb)
    return lines[1] if lines and len(lines) > 1 else None


def wait_status_word(sb, word, timeout=15):
    reached = sb.wait_for(lambda: status_word(sb) == word, timeout)
    assert reached, f"status never became {word!r}; last: {status_lines(sb)!r}"


def position(sb):
    try:
        return int((sb.tmp / "position.txt").read_text())
    except (FileNotFoundError, ValueError):
        return None


def wait_position(sb, predicate, timeout=10):
    """Waits until the position file holds a value that satisfies predicate."""
    ok = sb.wait_for(lambda: position(sb) is not None and predicate(position(sb)), timeout)
    assert ok, f"position file never matched; last: {position(sb)!r}"
    return position(sb)


def run_files_gone(sb):
    return not any(p.exists() for p in (sb.tmp / "duration.txt", sb.tmp / "position.txt",
                                        sb.run / "sorvel.pid"))


def nvram(sb, *args):
    env = dict(os.environ, NVRAM_FILE=str(sb.nvram_file))
    return subprocess.run(emulator_prefix() + [build_path("platform/nvram"), *args], env=env,
                          capture_output=True, text=True, timeout=30)


def nvram_get(sb, key):
    result = nvram(sb, "get", key)
    return result.stdout.rstrip("\n") if result.returncode == 0 else None


def local_copy(sb, kind, seconds):
    """A test file of `kind` copied into the sandbox; its path inside."""
    source = media.make(kind, seconds)
    target = sb.tmp / f"tone-{seconds}s.{kind}"
    target.write_bytes(source.read_bytes())
    return sb.inside(target)


def start(sb, location, controller=False, env=None):
    """The player on `location`. The stand-in controller runs in plain mode
    too, so that a notification it must not get would be counted."""
    argv = [SORVEL, "--kavido", location] if controller else [SORVEL, location]
    return sb.spawn(argv, kavido=True, env=env)


def wav_stream(seconds):
    return media.make("wav", seconds).read_bytes()


def wav_in_pieces(seconds, piece_seconds, pause):
    """A live-style stream route: the header, then `piece_seconds` of audio at
    a time with `pause` seconds of silence on the wire after each piece."""
    body = wav_stream(seconds)
    piece = int(piece_seconds * WAV_BYTES_PER_SECOND)
    pieces = [(body[:WAV_HEADER], 0.0)]
    for at in range(WAV_HEADER, len(body), piece):
        pieces.append((body[at:at + piece], pause))
    return Route(content_type="audio/x-wav", content_length=False, pieces=pieces)
