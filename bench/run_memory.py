#!/usr/bin/python3
"""Memory and CPU cost of the real daemons, run in the end-to-end sandbox.

sorvel: plays a 10-second Ogg/Vorbis tone served as a live HTTP stream on
127.0.0.1 to "fakesink sync=true" (so it plays in real time). Peak RSS is
VmHWM from /proc/PID/status, sampled while it plays; CPU time is the
player's own user and system time, read by wait4() in a small parent that
starts it inside the sandbox.

ostrel: surveys, finds the one push-button access point, then polls the WSC
status over the wireless-driver stand-in, which answers "in progress" for
as long as the measurement lasts. bench/wsc_query_counter.so, preloaded
ahead of the stand-in, counts the queries; after the measuring window it
answers 34, and the client must end by itself with 34 in its status file.
Queries per CPU second are the queries counted in the window over the CPU
time (user + system, /proc/PID/stat) the client used in it.

Needs root (the sandbox uses unshare) and a build with BUILD_BENCH=ON and
the tests (for the stand-in): BUILD_DIR selects it, build-bench by default.

    bench/run_memory.py [--runs N] [--window SECONDS]
"""

import argparse
import os
import statistics
import struct
import sys
import tempfile
import time
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parent.parent
os.environ.setdefault("BUILD_DIR", str(SOURCE_DIR / "build-bench"))
sys.path.insert(0, str(SOURCE_DIR / "tests" / "e2e"))

import media  # noqa: E402 (needs BUILD_DIR first)
from harness import Sandbox, build_path  # noqa: E402
from http_server import HttpServer, Route  # noqa: E402
from wl_survey import record, table  # noqa: E402

SORVEL = build_path("player/sorvel")
OSTREL = build_path("wps_client/ostrel")
DRIVER = build_path("tests/stubs/wl_driver_stub.so")
COUNTER = build_path("bench/wsc_query_counter.so")
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
STREAM_SECONDS = 10

# Starts the program given as its arguments and reports the program's own
# resource use, as wait4() gives it, on its last line of standard output.
RUSAGE_PARENT = """
import os, sys
pid = os.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
_, status, ru = os.wait4(pid, 0)
print("rusage", ru.ru_utime, ru.ru_stime, ru.ru_maxrss, flush=True)
sys.exit(os.waitstatus_to_exitcode(status) & 0xFF)
"""


def proc_status_kib(pid, field):
    """A "VmXxx:  N kB" line of /proc/PID/status, in KiB; None once gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return None


def cpu_seconds(pid):
    """(user, system) seconds of a running process; None once gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
    except OSError:
        return None
    fields = stat[stat.rindex(")") + 2 :].split()
    return int(fields[11]) / CLOCK_TICKS, int(fields[12]) / CLOCK_TICKS


def status_word(sb):
    try:
        lines = (sb.tmp / "sorvi.txt").read_text().split("\n")
    except FileNotFoundError:
        return None
    return lines[1] if len(lines) > 1 else None


def measure_sorvel(body):
    with tempfile.TemporaryDirectory(prefix="sorvel-bench-") as tmp:
        sb = Sandbox(tmp)
        # A radio station's live stream: no length, no seeking.
        route = Route(body=body, content_type="application/ogg", content_length=False)
        try:
            with HttpServer({"/live.ogg": route}, lifetime=120) as server:
                location = server.url("/live.ogg")
                spawned = time.monotonic()
                proc = sb.spawn(["/usr/bin/python3", "-c", RUSAGE_PARENT, SORVEL, location],
                                env={"SORVEL_AUDIO_SINK": "fakesink sync=true"})
                # The player is the parent's child: find it by its own command.
                proc.command = [SORVEL, location]
                pid = proc.host_pid(15)
                if pid is None:
                    raise RuntimeError("sorvel did not start")
                start = time.monotonic()
                hwm = rss_max = 0
                playing_at = None
                while True:
                    sample = proc_status_kib(pid, "VmHWM")
                    rss = proc_status_kib(pid, "VmRSS")
                    if sample is None or rss is None:
                        break
                    hwm, rss_max = max(hwm, sample), max(rss_max, rss)
                    if playing_at is None and status_word(sb) == "PLAYING":
                        playing_at = time.monotonic() - spawned
                    time.sleep(0.05)
                rc = proc.wait(30)
                wall = time.monotonic() - start
        finally:
            sb.close()
        usage = [line.split() for line in (proc.stdout or "").splitlines()
                 if line.startswith("rusage ")]
        if rc != 0 or not usage or status_word(sb) != "EOS" or playing_at is None:
            raise RuntimeError(f"sorvel run failed: exit {rc}, status {status_word(sb)!r}, "
                               f"stderr:\n{proc.stderr}")
        _, user, system, maxrss = usage[-1]
        return {"hwm": hwm, "rss": rss_max, "maxrss": int(maxrss), "user": float(user),
                "system": float(system), "wall": wall, "playing_at": playing_at}


class PollingOstrel:
    """`ostrel` detached and polling the WSC status over the driver stand-in,
    which answers 3, then 5 ("in progress") until told 34 through the query
    counter. Ends the client and closes the sandbox on leaving."""

    def __init__(self, sb):
        self.sb = sb
        # one access point offering push-button setup
        (sb.ctl / "survey.reply").write_bytes(table(record("Neighbor")))
        (sb.ctl / "wl.scenario").write_text(
            "sleep fast\nreply /.sandbox/survey.reply\nstatus 3 5\n")
        counter = sb.ctl / "wsc_queries"
        counter.write_bytes(bytes(16))
        self.env = {"WL_DRIVER_SCENARIO": "/.sandbox/wl.scenario",
                    "WSC_QUERY_COUNTER": "/.sandbox/wsc_queries",
                    "LD_PRELOAD": f"{COUNTER} {DRIVER}", "WL_DRIVER_LOG": None}
        self.fd = os.open(counter, os.O_RDWR)
        self.proc = None
        self.rc = None

    def __enter__(self):
        try:
            self.proc = self.sb.spawn([OSTREL, "ra0", "apcli0", "6"], env=self.env, linger=True)
            # The starter has ended and the detached client is polling.
            if not self.sb.wait_for(lambda: self.proc.status.exists() and self.queries() > 0, 15):
                raise RuntimeError("ostrel never polled the status")
            self.pid = self.proc.host_pid(5)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def queries(self):
        return struct.unpack("=Q", os.pread(self.fd, 8, 0))[0]

    def finish(self, timeout):
        """Tells the client 34 and waits for it; its exit status."""
        os.pwrite(self.fd, struct.pack("=Q", 1), 8)
        self.rc = self.proc.wait(timeout)
        return self.rc

    def final_status(self):
        path = self.sb.tmp / "wsc.apcli0"
        return path.read_text() if path.exists() else None

    def __exit__(self, *exc):
        os.close(self.fd)
        self.sb.close()
        return False


def measure_ostrel(window):
    with tempfile.TemporaryDirectory(prefix="ostrel-bench-") as tmp:
        with PollingOstrel(Sandbox(tmp)) as client:
            pid = client.pid
            time.sleep(0.5)
            q0, c0, t0 = client.queries(), cpu_seconds(pid), time.monotonic()
            time.sleep(window)
            q1, c1, t1 = client.queries(), cpu_seconds(pid), time.monotonic()
            hwm = proc_status_kib(pid, "VmHWM")
            rss = proc_status_kib(pid, "VmRSS")
            rc = client.finish(15)
        final = client.final_status()
        if rc != 0 or final != "34" or None in (c0, c1, hwm):
            raise RuntimeError(f"ostrel run failed: exit {rc}, status file {final!r}, "
                               f"stderr:\n{client.proc.stderr}")
        user, system = c1[0] - c0[0], c1[1] - c0[1]
        return {"queries": q1 - q0, "user": user, "system": system, "wall": t1 - t0,
                "hwm": hwm, "rss": rss}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=3, help="runs of each daemon (default 3)")
    parser.add_argument("--window", type=float, default=3.0,
                        help="seconds of ostrel status polling measured (default 3)")
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("run_memory.py: needs root (the sandbox uses unshare)")
    for path in (SORVEL, OSTREL, DRIVER, COUNTER):
        if not os.path.exists(path):
            sys.exit(f"run_memory.py: {path} is missing; build with -DBUILD_BENCH=ON first")

    body = media.make("ogg", seconds=STREAM_SECONDS).read_bytes()
    print(f"sorvel: {STREAM_SECONDS} s Ogg/Vorbis live stream over HTTP on 127.0.0.1, "
          f"{len(body)} bytes, fakesink sync=true")
    runs = []
    for n in range(args.runs):
        r = measure_sorvel(body)
        runs.append(r)
        cpu = r["user"] + r["system"]
        print(f"  run {n + 1}: peak RSS (VmHWM) {r['hwm']} KiB (wait4 maxrss {r['maxrss']} KiB), "
              f"CPU {cpu:.2f} s (user {r['user']:.2f}, sys {r['system']:.2f}) "
              f"= {100 * cpu / r['wall']:.1f}% of {r['wall']:.1f} s wall, "
              f"PLAYING {r['playing_at']:.2f} s after the sandbox was started")
    print(f"  median: peak RSS {statistics.median(r['hwm'] for r in runs)} KiB, "
          f"CPU {statistics.median(r['user'] + r['system'] for r in runs):.2f} s")

    print(f"ostrel: WSC status polling over the driver stand-in, {args.window:g} s window")
    runs = []
    for n in range(args.runs):
        r = measure_ostrel(args.window)
        runs.append(r)
        cpu = r["user"] + r["system"]
        rate = r["queries"] / cpu if cpu > 0 else float("nan")
        r["rate"] = rate
        print(f"  run {n + 1}: {r['queries']} queries in {r['wall']:.2f} s wall, "
              f"CPU {cpu:.2f} s (user {r['user']:.2f}, sys {r['system']:.2f}): "
              f"{rate:,.0f} queries per CPU second; "
              f"peak RSS (VmHWM) {r['hwm']} KiB, RSS {r['rss']} KiB")
    print(f"  median: {statistics.median(r['rate'] for r in runs):,.0f} queries per CPU second, "
          f"peak RSS {statistics.median(r['hwm'] for r in runs)} KiB")


if __name__ == "__main__":
    main()
