"""The sandbox every end-to-end test stands on: if it leaks onto the host's
fixed paths or miscounts the controller's signals, every other result lies."""

import os
import signal
import urllib.request

from harness import build_path
from http_server import HttpServer, Route


def test_fixed_paths_are_private_and_results_come_back(sandbox, tmp_path):
    marker = f"sandbox-probe-{os.getpid()}-{tmp_path.name}"
    proc = sandbox.run_program(
        ["/bin/sh", "-c",
         f"echo t > /tmp/{marker}; echo r > /var/run/{marker}; mkdir -p /etc_ro/radio; "
         f"echo m > /mnt/{marker}; exit 7"])
    assert proc.returncode == 7
    assert (sandbox.tmp / marker).read_text() == "t\n"
    assert (sandbox.run / marker).read_text() == "r\n"
    assert (sandbox.mnt / marker).read_text() == "m\n"
    assert (sandbox.etc_ro / "radio").is_dir()
    for host in ("/tmp", "/run", "/mnt"):
        assert not os.path.exists(os.path.join(host, marker))


def test_kavido_counts_only_its_own_sandbox(sandbox, tmp_path):
    from harness import Sandbox

    other = Sandbox(tmp_path / "other")
    try:
        quiet = other.spawn(["/bin/sleep", "5"], kavido=True)
        assert quiet.host_pid() is not None
        proc = sandbox.run_program(
            ["/bin/sh", "-c", "killall -SIGUSR1 kavido; killall -SIGUSR1 kavido; sleep 0.3"],
            kavido=True)
        assert proc.returncode == 0
        assert sandbox.kavido_signals() == 2
        assert other.kavido_signals() == 0
    finally:
        other.close()


def test_program_gets_signals_like_a_normal_process(sandbox):
    proc = sandbox.spawn(["/bin/sleep", "30"])
    proc.signal(signal.SIGTERM)
    assert proc.wait(10) == 128 + signal.SIGTERM


def test_programs_side_by_side_share_kept_directories_and_keep_their_status(sandbox, tmp_path):
    # tmp_path lies below the host's /tmp, like a clone of the project there
    shared = tmp_path / "shared" / "tree"
    shared.mkdir(parents=True)
    (shared / "f").write_text("seen\n")
    procs = [sandbox.spawn(["/bin/sh", "-c", f"cat {shared}/f; sleep 0.{n}; exit {n}"],
                           keep=[shared]) for n in range(1, 7)]
    # the last to end is waited for first: each still reports its own status
    assert [p.wait(20) for p in reversed(procs)] == list(range(6, 0, -1))
    assert [p.stdout for p in procs] == ["seen\n"] * 6
    # the mount points made for it are gone once the last program has ended
    assert list(sandbox.tmp.iterdir()) == []
    assert (shared / "f").read_text() == "seen\n"


def test_http_server_serves_refuses_and_stops(tmp_path):
    with HttpServer({"/a": Route(body=b"hello", content_type="text/plain")}) as server:
        with urllib.request.urlopen(server.url("/a"), timeout=5) as reply:
            assert reply.read() == b"hello"
        try:
            urllib.request.urlopen(server.url("/missing"), timeout=5)
            raise AssertionError("404 expected")
        except urllib.error.HTTPError as error:
            assert error.code == 404
    assert build_path("x").endswith("/x")
