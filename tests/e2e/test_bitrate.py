"""The player records the bitrate it measured for a radio station into the
station list under /etc_ro/radio and into the station's user entries in the
settings store, each time playback reaches PLAYING."""

import os
import signal
import subprocess
import time

import pytest

import media
from harness import build_path, emulator_prefix
from http_server import HttpServer, Route

KEY = "radio42"
ROCK = '["Rock","http://rock.example/","Rock"," 96kbps",rock7]\n'
JAZZ = '["Jazz","http://jazz.example/","Jazz","  1kbps",radio42]\n'
POP = '["Pop","http://pop.example/","Pop","128kbps",pop3]\n'
LIST = ROCK + JAZZ + POP
# Without "/tmp/irate" the stream's own bitrate is recorded: vorbisenc's
# default quality is a nominal 112 kbit/s (never the 44100 sample rate).
JAZZ_112 = '["Jazz","http://jazz.example/","Jazz","112kbps",radio42]\n'
OLD_TIME = 1_000_000_000  # a fixed modification time any write would move


def nvram(sandbox, *args):
    """The real settings-store tool on the sandbox's store (through the
    emulator in a cross build)."""
    env = dict(os.environ, NVRAM_FILE=str(sandbox.nvram_file))
    return subprocess.run(emulator_prefix() + [build_path("platform/nvram"), *args], env=env,
                          capture_output=True, text=True, timeout=10)


def store_get(sandbox, key):
    result = nvram(sandbox, "get", key)
    return result.stdout.rstrip("\n") if result.returncode == 0 else None


def store_set(sandbox, **values):
    for key, value in values.items():
        assert nvram(sandbox, "set", f"{key}={value}").returncode == 0


def radio_dir(sandbox):
    path = sandbox.etc_ro / "radio"
    path.mkdir(exist_ok=True)
    return path


def write_old(path, text):
    path.write_text(text)
    os.utime(path, (OLD_TIME, OLD_TIME))


def play(sandbox, location, timeout=30, **kwargs):
    proc = sandbox.run_program([build_path("player/sorvel"), location], timeout=timeout, **kwargs)
    assert (sandbox.tmp / "sorvi.txt").read_text().splitlines()[1] == "EOS", proc.stderr
    return proc


def play_planting_irate(sandbox, ogg, plant):
    """Plays `ogg` from a server that holds it back for 2 s, calling `plant`
    with the host path of "/tmp/irate" once the player has started (it
    removes a stale one at start-up); the run must end with EOS."""
    with HttpServer({"/jazz": Route(pieces=[(b"", 2.0), (ogg.read_bytes(), 0)],
                                    content_type="application/ogg",
                                    content_length=False)}) as server:
        proc = sandbox.spawn([build_path("player/sorvel"), server.url("/jazz")])
        status = sandbox.tmp / "sorvi.txt"
        assert sandbox.wait_for(lambda: status.exists() and "PREPARE" in status.read_text())
        plant(sandbox.tmp / "irate")
        proc.wait(30)
    assert status.read_text().splitlines()[1:] == ["EOS"], proc.stderr
    return proc


def found_lines(proc):
    return [line for line in proc.stderr.splitlines() if line.startswith("we found it at")]


@pytest.fixture(scope="module")
def ogg():
    return media.make("ogg", seconds=1)


@pytest.mark.parametrize("key_file", ["absent", "planted link"])
def test_without_station_nothing_is_touched(sandbox, ogg, key_file):
    radio = radio_dir(sandbox)
    write_old(radio / "builtin.list", LIST)
    write_old(radio / "user_builtin.list", LIST)
    write_old(sandbox.tmp / "url", KEY + "\n")
    if key_file == "planted link":
        # A link to a file only root may read is not followed: its text
        # would end up in the settings store.
        (sandbox.tmp / "secret").write_text(KEY)
        (sandbox.tmp / "secret").chmod(0o600)
        (sandbox.tmp / "iradio").symlink_to("/tmp/secret")
    # The PLAYING report sets this one; with it already there, any other
    # write shows in the store's bytes.
    store_set(sandbox, usr_url0="Jazz,http://jazz.example/,Jazz,old", radio_preparing="0")
    store_before = sandbox.nvram_file.read_bytes()

    proc = play(sandbox, str(ogg))
    assert proc.returncode == 0
    assert found_lines(proc) == []
    for path in (radio / "builtin.list", radio / "user_builtin.list", sandbox.tmp / "url"):
        assert path.read_text() == (KEY + "\n" if path.name == "url" else LIST)
        assert path.stat().st_mtime == OLD_TIME, path
    assert sandbox.nvram_file.read_bytes() == store_before


@pytest.mark.parametrize("table, chosen", [(None, "builtin.list"), ("", "builtin.list"),
                                           ("0", "builtin.list"), ("1", "user_builtin.list")])
def test_station_line_and_entries_are_recorded(sandbox, ogg, table, chosen):
    radio = radio_dir(sandbox)
    write_old(radio / "builtin.list", LIST)
    write_old(radio / "user_builtin.list", LIST)
    (sandbox.tmp / "iradio").write_text(KEY)
    (sandbox.tmp / "url").write_text(f"{KEY}\nrock7\n{KEY},second\n")
    store_set(sandbox, usr_url0="Jazz,http://jazz.example/,Jazz,\"1kbps\",radio42]",
              usr_url1="Rock,http://rock.example/,Rock,keep", usr_url2="Jazz 2,u,x,a,b")
    if table is not None:
        store_set(sandbox, radio_table=table)

    proc = play(sandbox, str(ogg))
    assert found_lines(proc) == ["we found it at [0]", "we found it at [2]"]
    other = "user_builtin.list" if chosen == "builtin.list" else "builtin.list"
    assert (radio / chosen).read_text() == ROCK + JAZZ_112 + POP
    assert (radio / other).read_text() == LIST
    assert (radio / other).stat().st_mtime == OLD_TIME
    assert store_get(sandbox, "usr_url0") == 'Jazz,http://jazz.example/,Jazz,"112kbps",radio42]'
    assert store_get(sandbox, "usr_url1") == "Rock,http://rock.example/,Rock,keep"
    assert store_get(sandbox, "usr_url2") == 'Jazz 2,u,x,"112kbps",radio42]'
    assert store_get(sandbox, "nvram_kbps") == "1"


def test_bitrate_of_a_stream_that_changes_the_line_length(sandbox, ogg):
    """The measured bitrate from "/tmp/irate" has four digits: the line grows
    and the whole list is replaced with every other line intact."""
    radio = radio_dir(sandbox)
    other_layout = "radio42,Jazz,http://jazz.example/,x,y\n"
    (radio / "builtin.list").write_text(ROCK + other_layout + POP + "no line end")
    (sandbox.tmp / "iradio").write_text(KEY)
    (sandbox.tmp / "url").write_text(KEY + "\n")
    store_set(sandbox, usr_url0="Jazz,http://jazz.example/,Jazz")

    proc = play_planting_irate(sandbox, ogg, lambda irate: irate.write_text("1411200\n"))
    assert (radio / "builtin.list").read_text() == \
        ROCK + 'radio42,Jazz,http://jazz.example/,"1411kbps",radio42]\n' + POP + "no line end"
    assert [p.name for p in radio.iterdir()] == ["builtin.list"]
    # Only two commas: the entry stays as it was, though its line matched.
    assert found_lines(proc) == ["we found it at [0]"]
    assert store_get(sandbox, "usr_url0") == "Jazz,http://jazz.example/,Jazz"
    assert store_get(sandbox, "nvram_kbps") is None


@pytest.mark.parametrize("planted", ["irate FIFO", "irate link", "list FIFO"])
def test_files_others_write_are_read_only_as_regular_files(sandbox, ogg, planted):
    """A FIFO nobody writes to in place of "/tmp/irate" or the station list
    does not hold the run, and a link planted as "/tmp/irate" is not
    followed: the stream's own bitrate is recorded."""
    radio = radio_dir(sandbox)
    if planted == "list FIFO":
        os.mkfifo(radio / "builtin.list")
    else:
        (radio / "builtin.list").write_text(LIST)
    (sandbox.tmp / "iradio").write_text(KEY)
    (sandbox.tmp / "url").write_text(KEY + "\n")
    (sandbox.tmp / "secret").write_text("999000\n")
    (sandbox.tmp / "secret").chmod(0o600)
    store_set(sandbox, usr_url0="Jazz,http://jazz.example/,Jazz,old")

    plant = {"irate FIFO": os.mkfifo, "irate link": lambda irate: irate.symlink_to("/tmp/secret"),
             "list FIFO": lambda irate: None}[planted]
    play_planting_irate(sandbox, ogg, plant)
    assert store_get(sandbox, "usr_url0") == 'Jazz,http://jazz.example/,Jazz,"112kbps",radio42]'
    if planted != "list FIFO":
        assert (radio / "builtin.list").read_text() == ROCK + JAZZ_112 + POP


def test_list_that_cannot_be_opened_is_skipped_silently(sandbox, ogg):
    radio = radio_dir(sandbox)
    (radio / "builtin.list").mkdir()  # exists, but cannot be opened for update
    (sandbox.tmp / "iradio").write_text(KEY)
    (sandbox.tmp / "url").write_text("other\n" + KEY + "\n")
    store_set(sandbox, usr_url1="Jazz,http://jazz.example/,Jazz,old")

    proc = play(sandbox, str(ogg))
    assert proc.stderr.splitlines() == ["we found it at [1]"]
    assert store_get(sandbox, "usr_url1") == 'Jazz,http://jazz.example/,Jazz,"112kbps",radio42]'
    assert store_get(sandbox, "nvram_kbps") == "1"


def test_resume_after_pause_records_again(sandbox):
    radio = radio_dir(sandbox)
    (radio / "builtin.list").write_text(LIST)
    (sandbox.tmp / "iradio").write_text(KEY)
    (sandbox.tmp / "url").write_text(KEY + "\n")
    store_set(sandbox, usr_url0="Jazz,http://jazz.example/,Jazz,old")

    proc = sandbox.spawn([build_path("player/sorvel"), str(media.make("ogg", seconds=6))])
    assert sandbox.wait_for(lambda: store_get(sandbox, "nvram_kbps") == "1")
    # Undo the first recording behind the player's back: only a second one
    # puts it back.
    store_set(sandbox, usr_url0="Jazz,http://jazz.example/,Jazz,old")
    assert nvram(sandbox, "unset", "nvram_kbps").returncode == 0
    (radio / "builtin.list").write_text(LIST)

    proc.signal(signal.SIGUSR1)  # pause
    time.sleep(0.5)
    assert store_get(sandbox, "nvram_kbps") is None  # pausing records nothing
    proc.signal(signal.SIGUSR1)  # resume
    assert proc.wait(30) == 0, proc.stderr
    assert found_lines(proc) == ["we found it at [0]"] * 2
    assert (radio / "builtin.list").read_text() == ROCK + JAZZ_112 + POP
    assert store_get(sandbox, "usr_url0") == 'Jazz,http://jazz.example/,Jazz,"112kbps",radio42]'
    assert store_get(sandbox, "nvram_kbps") == "1"
