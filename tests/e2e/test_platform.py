"""The platform library and the nvram tool as other programs meet them:
the store file under concurrent writers and killed writers, the tool's
answers and refusals, and the cross-process lock under /var/run."""

import os
import random
import re
import signal
import subprocess
import sys
import time

import pytest

from harness import build_path, emulator_prefix, wait_for

NVRAM = build_path("platform/nvram")
LIBSHARED = build_path("platform/libshared.so")

# Scripts that drive libshared.so from a separate process through ctypes;
# they need a library this machine can load.
native_only = pytest.mark.skipif(
    bool(emulator_prefix()), reason="ctypes needs a library built for this machine")


def nvram(store, *args, check=None):
    proc = subprocess.run(emulator_prefix() + [NVRAM, *args],
                          env=dict(os.environ, NVRAM_FILE=str(store)),
                          capture_output=True, timeout=30)
    if check is not None:
        assert proc.returncode == check, proc.stderr
    return proc


def parse_store(data):
    """Strict reading of a store file: every line KEY=VALUE ending in \\n."""
    entries = {}
    if not data:
        return entries
    assert data.endswith(b"\n"), data[-40:]
    for line in data[:-1].split(b"\n"):
        key, sep, value = line.partition(b"=")
        assert sep and key and key not in entries, line[:80]
        entries[key] = value
    return entries


def test_tool_sets_reads_and_shows_the_store(tmp_path):
    store = tmp_path / "nvram"
    assert nvram(store, "get", "radio_table").returncode == 1
    nvram(store, "set", "radio_table=1", check=0)
    nvram(store, "set", "usr_url0=Jazz,http://h/a?b=c=d,x,128kbps", check=0)
    nvram(store, "set", "empty=", check=0)
    nvram(store, "set", "radio_table=0", check=0)
    assert nvram(store, "get", "radio_table", check=0).stdout == b"0\n"
    assert nvram(store, "get", "usr_url0", check=0).stdout == b"Jazz,http://h/a?b=c=d,x,128kbps\n"
    assert nvram(store, "get", "empty", check=0).stdout == b"\n"
    shown = nvram(store, "show", check=0).stdout
    assert shown == b"radio_table=0\nusr_url0=Jazz,http://h/a?b=c=d,x,128kbps\nempty=\n"
    assert store.read_bytes() == shown

    nvram(store, "unset", "radio_table", check=0)
    nvram(store, "unset", "never_set", check=0)
    assert nvram(store, "get", "radio_table").returncode == 1
    assert b"radio_table" not in nvram(store, "show", check=0).stdout

    for bad in ([], ["get"], ["set", "no_equals"], ["frobnicate", "x"], ["show", "extra"]):
        proc = nvram(store, *bad)
        assert proc.returncode == 2 and b"usage" in proc.stderr


def test_bad_input_is_refused_and_the_store_is_unchanged(tmp_path):
    store = tmp_path / "nvram"
    nvram(store, "set", "keep=me", check=0)
    before = store.read_bytes()
    for args in (["set", "=v"], ["set", "k" * 65 + "=v"], ["set", "k=line\nend"],
                 ["set", "k\n=v"], ["set", "k=cr\r"], ["set", "k=" + "v" * 4097],
                 ["get", "a\nb"], ["unset", ""]):
        proc = nvram(store, *args)
        assert proc.returncode == 2, args
        assert proc.stderr.startswith(b"nvram: refused"), proc.stderr
        assert store.read_bytes() == before
    nvram(store, "set", "k" * 64 + "=" + "v" * 4096, check=0)


@pytest.mark.parametrize("fault", ["full", "read_only"])
def test_set_on_a_file_system_that_cannot_take_it_is_refused(sandbox, fault):
    """No room for the new store, or a read-only file system: the tool says
    so, fails, and the store stays exactly as it was, with no temporary."""
    sandbox.small_fs(sandbox.mnt, 64)
    store = sandbox.mnt / "nvram"
    nvram(store, "set", "keep=me", check=0)
    before = store.read_bytes()
    if fault == "full":
        sandbox.fill(sandbox.mnt)
    else:
        subprocess.run(["mount", "-o", "remount,ro", str(sandbox.mnt)], check=True)
    refused = [["set", "keep=other"], ["set", "new=" + "v" * 4000]]
    # An unset that empties the store needs no room, only a writable place.
    if fault == "read_only":
        refused.append(["unset", "keep"])
    for args in refused:
        proc = nvram(store, *args)
        assert proc.returncode != 0 and proc.stderr, args
        assert store.read_bytes() == before
    assert nvram(store, "get", "keep", check=0).stdout == b"me\n"
    assert not [p.name for p in sandbox.mnt.iterdir() if ".tmp-" in p.name]


@pytest.mark.parametrize("damaged, line", [
    (b"a=1\nthis line has no separator\n", b"line 2"),
    (b"a=1\nb=2", b"line 2"),
    (b"a=1\nb=2\na=3\n", b"line 3"),
    (b"a=1\r\n", b"line 1"),
])
def test_damaged_store_is_reported_not_emptied(tmp_path, damaged, line):
    store = tmp_path / "nvram"
    store.write_bytes(damaged)
    for args in (["show"], ["get", "a"], ["set", "a=2"], ["set", "new=1"], ["unset", "a"]):
        proc = nvram(store, *args)
        assert proc.returncode == 2, args
        assert b"damaged" in proc.stderr and line in proc.stderr, proc.stderr
        assert proc.stdout == b""
    assert store.read_bytes() == damaged


def test_concurrent_writers_lose_nothing_and_readers_never_see_a_torn_store(tmp_path):
    store = tmp_path / "nvram"
    writers, keys_each = 6, 15
    # Each writer is a shell loop of tool runs, as firmware scripts do it.
    script = ('i=0; while [ $i -lt %d ]; do "$@" set "w${W}_k$i=value $W $i"'
              ' || exit 1; i=$((i+1)); done' % keys_each)
    procs = [subprocess.Popen(["/bin/sh", "-c", script, "writer"] + emulator_prefix() + [NVRAM],
                              env=dict(os.environ, NVRAM_FILE=str(store), W=str(w)))
             for w in range(writers)]
    # Writers only add keys: a reader must see a sound store that never
    # shrinks (an emptied or cut file would show fewer entries).
    reads, seen = 0, 0
    while any(p.poll() is None for p in procs):
        if store.exists():
            count = len(parse_store(store.read_bytes()))
            assert count >= seen
            seen, reads = count, reads + 1
    assert [p.wait(timeout=60) for p in procs] == [0] * writers
    assert reads > 0

    entries = parse_store(store.read_bytes())
    assert len(entries) == writers * keys_each
    for w in range(writers):
        for i in range(keys_each):
            assert entries[b"w%d_k%d" % (w, i)] == b"value %d %d" % (w, i)
    assert nvram(store, "show", check=0).stdout == store.read_bytes()


WRITER = r"""
import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
i = 0
while True:
    i += 1
    value = b"%d:" % i + b"x" * 3000
    assert lib.nvram_set(b"big", value) == 0
    assert lib.nvram_set(b"small%d" % (i % 40), b"%d" % i) == 0
"""


@native_only
def test_a_writer_killed_at_any_moment_leaves_a_store_that_loads(tmp_path):
    store = tmp_path / "nvram"
    (tmp_path / "nvram.backup").write_text("a file of the user's own")
    env = dict(os.environ, NVRAM_FILE=str(store))
    rng = random.Random(2026)
    for _ in range(15):
        writer = subprocess.Popen([sys.executable, "-c", WRITER, LIBSHARED], env=env)
        time.sleep(rng.uniform(0.02, 0.2))
        writer.send_signal(signal.SIGKILL)
        writer.wait(timeout=10)
        if not store.exists():
            continue
        entries = parse_store(store.read_bytes())
        assert re.fullmatch(rb"\d+:x{3000}", entries[b"big"])
        nvram(store, "show", check=0)
    assert store.exists()
    # The killed writers' lock died with them: the next writer gets through,
    # and clears what they left half written.
    nvram(store, "set", "after=kill", check=0)
    assert nvram(store, "get", "after", check=0).stdout == b"kill\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["nvram", "nvram.backup", "nvram.lock"]


HOLDER = r"""
import ctypes, subprocess, sys, time
lib = ctypes.CDLL(sys.argv[1])
n, mark, hold = int(sys.argv[2]), sys.argv[3], float(sys.argv[4])
rc = lib.spinlock_lock(n)
if len(sys.argv) > 5:
    # a program the holder started must not inherit the lock
    subprocess.Popen(["sleep", "60"], close_fds=False)
open(mark, "w").write(str(rc))
time.sleep(hold)
lib.spinlock_unlock(n)
open(mark + ".released", "w").write("1")
time.sleep(hold)
"""


def holder(sb, n, mark, hold, spawn_child=False):
    argv = ["/usr/bin/python3", "-c", HOLDER, LIBSHARED, str(n), f"/tmp/{mark}", str(hold)]
    if spawn_child:
        # linger: the sandbox (and the child) outlive the killed holder
        return sb.spawn(argv + ["child"], linger=True)
    return sb.spawn(argv)


@native_only
def test_lock_excludes_others_and_dies_with_its_holder(sandbox):
    first = holder(sandbox, 1, "first", 60, spawn_child=True)
    assert wait_for(lambda: (sandbox.tmp / "first").exists(), 10)
    assert (sandbox.tmp / "first").read_text() == "0"
    assert (sandbox.run / "spinlock.1.lock").exists()

    second = holder(sandbox, 1, "second", 60)
    other = holder(sandbox, 2, "other", 0)  # another number is another lock
    assert wait_for(lambda: (sandbox.tmp / "other").exists(), 10)
    time.sleep(0.7)
    assert not (sandbox.tmp / "second").exists()

    os.kill(first.host_pid(), signal.SIGKILL)
    assert wait_for(lambda: (sandbox.tmp / "second").exists(), 10)
    assert (sandbox.tmp / "second").read_text() == "0"
    second.kill()
    other.wait(timeout=10)


@native_only
def test_unlock_hands_the_lock_on_while_the_holder_lives(sandbox):
    first = holder(sandbox, 1, "first", 1.5)
    assert wait_for(lambda: (sandbox.tmp / "first").exists(), 10)
    second = holder(sandbox, 1, "second", 0)
    assert wait_for(lambda: (sandbox.tmp / "second").exists(), 10)
    # The second got the lock after the first let go, before it ended.
    assert (sandbox.tmp / "first.released").exists()
    assert first.running()
    first.wait(timeout=10)
    second.wait(timeout=10)
