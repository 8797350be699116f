#!/usr/bin/python3
"""Start-up, memory, CPU and stop cost of sorvel beside a bare GStreamer chain
and mpg123, against a live radio station on 127.0.0.1.

A private icecast2 (Debian's, run as "nobody", bench/icecast.py) serves a
live 128 kbit/s MP3 mount, a live Ogg/Vorbis mount, and a PLS and an M3U
naming the MP3 mount (icecast sends an Ogg stream from a page boundary, which
spreads the Ogg mount's start by hundreds of milliseconds: too noisy a base
for a playlist's few tens). After a warm-up (icecast's burst
buffer fills in the first seconds), each round plays, one after the other:

  sorvel LOCATION                                  (SORVEL_AUDIO_SINK="fakesink sync=true")
  gst-launch-1.0 souphttpsrc ! decodebin ! audioconvert ! fakesink sync=true
  mpg123 -o dummy LOCATION                         (when installed)

for --hold seconds each, then SIGTERM; and sorvel on the Ogg mount, the PLS
and the M3U until PLAYING. --plugins-from-readme adds sorvel on the MP3 and
the Ogg mount with GStreamer restricted to the plug-in files the README's
"What a router image needs" names, without the codec library
(tests/e2e/router_plugins.py: the same set the end-to-end test plays every
format with; its registry is built before the first round). Rounds
interleave the players, so that drift on a shared machine hits each alike;
medians are reported with their ratio to the bare chain of the same run.

  time to PLAYING  from the exec of the player to: "PLAYING" in sorvel's
                   status file; gst-launch's "New clock" line (printed as
                   the pipeline goes to PLAYING); mpg123's stream line
                   ("MPEG 1.0 L III ...", printed when the first frame
                   is decoded)
  peak RSS         VmHWM, read just before SIGTERM
  private dirty    Private_Dirty of /proc/PID/smaps_rollup, same moment
  CPU              user + system time between 8 s and --hold s after exec
  SIGTERM to exit  from kill() to the reaping of the player

All players run in the end-to-end sandbox (sorvel writes to /tmp and
/var/run) through the same small launcher. Needs root, icecast2, mpg123
(optional), gstreamer1.0-plugins-good (shout2send, lamemp3enc) and -base
(vorbisenc): apt-get install icecast2 mpg123 gstreamer1.0-plugins-good
gstreamer1.0-plugins-base gstreamer1.0-plugins-ugly. BUILD_DIR selects the
build (build-bench by default: a Release build, see bench/CMakeLists.txt).

    bench/run_startup.py [--runs N] [--hold SECONDS] [--warmup SECONDS] [--plugins-from-readme]
"""

import argparse
import json
import os
import re
import shutil
import signal
import statistics
import sys
import tempfile
import time
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parent.parent
os.environ.setdefault("BUILD_DIR", str(SOURCE_DIR / "build-bench"))
sys.path.insert(0, str(SOURCE_DIR / "tests" / "e2e"))
sys.path.insert(0, str(SOURCE_DIR / "bench"))

from harness import BUILD_DIR, Sandbox, build_path  # noqa: E402
from icecast import Icecast  # noqa: E402
from router_plugins import WITHOUT_CODEC_LIBRARY, build_registries, make_plugin_set  # noqa: E402

SORVEL = build_path("player/sorvel")
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
CPU_FROM = 8.0

# Runs inside the sandbox: notes the time of the exec, of the first sign of
# PLAYING (a line of the player's output matching a pattern, or a status
# file's second line) and of the player's reaping; prints them as JSON.
LAUNCHER = r"""
import json, os, re, sys, threading, time
pattern, status_file, argv = sys.argv[1], sys.argv[2], sys.argv[3:]
marks = {}
r, w = os.pipe()
t0 = time.monotonic()
pid = os.fork()
if pid == 0:
    os.dup2(w, 1); os.dup2(w, 2); os.close(r); os.close(w)
    os.execvp(argv[0], argv)
os.close(w)
def read_output():
    rx = re.compile(pattern.encode()) if pattern else None
    buf = b""
    while True:
        chunk = os.read(r, 4096)
        if not chunk:
            return
        buf = (buf + chunk)[-8192:]
        if rx and "playing" not in marks and rx.search(buf):
            marks["playing"] = time.monotonic()
            open("/.sandbox/playing", "w").close()
def watch_status():
    while "exit" not in marks and "playing" not in marks:
        try:
            with open(status_file) as f:
                lines = f.read().split("\n")
            if len(lines) > 1 and lines[1] == "PLAYING":
                marks["playing"] = time.monotonic()
                open("/.sandbox/playing", "w").close()
                return
        except OSError:
            pass
        time.sleep(0.002)
threads = [threading.Thread(target=read_output, daemon=True)]
if status_file != "-":
    threads.append(threading.Thread(target=watch_status, daemon=True))
for t in threads:
    t.start()
_, status, ru = os.wait4(pid, 0)
marks["exit"] = time.monotonic()
threads[0].join(5)
print(json.dumps({"t0": t0, "playing": marks.get("playing"), "exit": marks["exit"],
                  "status": status}), flush=True)
"""


def read_proc(pid, name):
    try:
        with open(f"/proc/{pid}/{name}") as f:
            return f.read()
    except OSError:
        return None


def kib_field(text, field):
    for line in (text or "").splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1])
    return None


def cpu_seconds(pid):
    stat = read_proc(pid, "stat")
    if stat is None:
        return None
    fields = stat[stat.rindex(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


class Player:
    def __init__(self, name, argv, pattern="", status_file="-", env=None, keep=()):
        self.keep = keep
        self.name, self.argv, self.pattern, self.status_file = name, argv, pattern, status_file
        self.env = {"SORVEL_AUDIO_SINK": "fakesink sync=true", **(env or {})}


def run_once(player, hold, stop_at_playing=False):
    """One run of one player in a fresh sandbox; returns its figures."""
    with tempfile.TemporaryDirectory(prefix="startup-bench-") as tmp:
        sb = Sandbox(tmp)
        try:
            proc = sb.spawn(["/usr/bin/python3", "-c", LAUNCHER, player.pattern,
                             player.status_file] + player.argv,
                            env=player.env, keep=player.keep)
            proc.command = player.argv
            pid = proc.host_pid(15)
            if pid is None:
                raise RuntimeError(f"{player.name} did not start: {proc.stderr}")
            started = time.monotonic()
            cpu_from = None
            while True:
                now = time.monotonic() - started
                if cpu_from is None and now >= CPU_FROM:
                    cpu_from = cpu_seconds(pid)
                if stop_at_playing:
                    if (sb.ctl / "playing").exists():
                        time.sleep(0.2)
                        break
                    if now > 20:
                        break
                elif now >= hold:
                    break
                time.sleep(0.01)
            cpu_to = cpu_seconds(pid)
            status = read_proc(pid, "status")
            rollup = read_proc(pid, "smaps_rollup")
            killed = time.monotonic()
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                proc.wait(30)
                raise RuntimeError(f"{player.name} ended by itself:\n{proc.stdout}\n{proc.stderr}")
            proc.wait(30)
        finally:
            sb.close()
        result = [json.loads(line) for line in (proc.stdout or "").splitlines()
                  if line.startswith("{")]
        if not result or result[-1]["playing"] is None:
            raise RuntimeError(f"{player.name} never played:\n{proc.stdout}\n{proc.stderr}")
        r = result[-1]
        return {
            "playing_ms": 1000 * (r["playing"] - r["t0"]),
            "exit_ms": 1000 * (r["exit"] - killed),
            "hwm_kib": kib_field(status, "VmHWM"),
            "dirty_kib": kib_field(rollup, "Private_Dirty"),
            "cpu_ms": (1000 * (cpu_to - cpu_from)
                       if cpu_from is not None and cpu_to is not None else None),
        }


def median(runs, key):
    values = [r[key] for r in runs if r.get(key) is not None]
    return statistics.median(values) if values else None


def ratio(value, reference):
    if value is None or not reference:
        return "–"
    return f"{value / reference:.2f}"


def cell(value, unit, ref=None, scale=1.0, digits=0):
    if value is None:
        return "–"
    text = f"{value / scale:.{digits}f} {unit}"
    return text if ref is None else f"{text} ({ratio(value, ref)})"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=7, help="rounds (default 7)")
    parser.add_argument("--hold", type=float, default=20.0,
                        help="seconds each player plays the MP3 station (default 20)")
    parser.add_argument("--warmup", type=float, default=10.0,
                        help="seconds the station runs before the first round (default 10)")
    parser.add_argument("--compare", action="append", default=[], metavar="LABEL=BUILD_DIR",
                        help="also run the sorvel of another build (before and after a change)")
    parser.add_argument("--no-playlists", action="store_true",
                        help="skip the Ogg, PLS and M3U runs")
    parser.add_argument("--plugins-from-readme", action="store_true",
                        help="also run sorvel with only the README's router plug-in set")
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("run_startup.py: needs root (sandbox, icecast2 as nobody)")
    if not os.path.exists(SORVEL):
        sys.exit(f"run_startup.py: {SORVEL} is missing; build first")
    if args.hold <= CPU_FROM:
        sys.exit(f"run_startup.py: --hold must exceed {CPU_FROM:g} s (the CPU window starts there)")

    with Icecast() as station:
        mp3, ogg = station.url("/live.mp3"), station.url("/live.ogg")
        station.write_file("station.pls",
                           f"[playlist]\nNumberOfEntries=1\nFile1={mp3}\nTitle1=bench\n")
        station.write_file("station.m3u", f"#EXTM3U\n{mp3}\n")
        long_players = [
            Player("sorvel", [SORVEL, mp3], status_file="/tmp/sorvi.txt"),
            Player("bare chain", ["gst-launch-1.0", "souphttpsrc", f"location={mp3}", "!",
                                  "decodebin", "!", "audioconvert", "!", "fakesink",
                                  "sync=true"], pattern="New clock"),
        ]
        for spec in args.compare:
            label, _, build = spec.partition("=")
            other = str(Path(build).resolve() / "player" / "sorvel")
            if not os.path.exists(other):
                sys.exit(f"run_startup.py: {other} is missing")
            # the build's tree stays reachable inside the sandbox
            long_players.append(Player(f"sorvel {label}", [other, mp3],
                                       status_file="/tmp/sorvi.txt",
                                       keep=[str(Path(build).resolve().parent)]))
        router = {}
        if args.plugins_from_readme:
            router, missing = make_plugin_set(BUILD_DIR / "router-plugins" / "bench",
                                              WITHOUT_CODEC_LIBRARY)
            if missing:
                sys.exit(f"run_startup.py: not installed: {' '.join(sorted(missing))}")
            with tempfile.TemporaryDirectory(prefix="startup-bench-") as tmp:
                build_registries([router], tmp)
            long_players.insert(1, Player("sorvel, router set", [SORVEL, mp3],
                                          status_file="/tmp/sorvi.txt", env=router))
        if shutil.which("mpg123"):
            long_players.append(Player("mpg123", ["mpg123", "-o", "dummy", mp3],
                                       pattern=r"MPEG \d\.\d L"))
        short_players = [] if args.no_playlists else [
            Player("sorvel Ogg", [SORVEL, ogg], status_file="/tmp/sorvi.txt"),
            Player("sorvel PLS→MP3", [SORVEL, station.url("/station.pls")],
                   status_file="/tmp/sorvi.txt"),
            Player("sorvel M3U→MP3", [SORVEL, station.url("/station.m3u")],
                   status_file="/tmp/sorvi.txt"),
        ]
        if router and not args.no_playlists:
            short_players.insert(1, Player("sorvel Ogg, router set", [SORVEL, ogg],
                                           status_file="/tmp/sorvi.txt", env=router))
        time.sleep(args.warmup)
        load_before = os.getloadavg()
        runs = {p.name: [] for p in long_players + short_players}
        for n in range(args.runs):
            for p in long_players:
                r = run_once(p, args.hold)
                runs[p.name].append(r)
            for p in short_players:
                runs[p.name].append(run_once(p, args.hold, stop_at_playing=True))
            print(f"round {n + 1}: " + ", ".join(
                f"{name} {rs[-1]['playing_ms']:.0f} ms" for name, rs in runs.items()),
                flush=True)
        load_after = os.getloadavg()

    print(f"\nload average before {load_before[0]:.2f}/{load_before[1]:.2f}, "
          f"after {load_after[0]:.2f}/{load_after[1]:.2f} (1/5 min), {os.cpu_count()} CPUs; "
          f"{args.runs} rounds, medians, (ratio to the bare chain)")
    ref = {k: median(runs["bare chain"], k)
           for k in ("playing_ms", "hwm_kib", "dirty_kib", "cpu_ms", "exit_ms")}
    window = f"{CPU_FROM:g}–{args.hold:g} s"
    print(f"\n| | time to PLAYING | peak RSS | private dirty | CPU {window} | SIGTERM to exit |")
    print("|---|---|---|---|---|---|")
    for p in long_players:
        rs = runs[p.name]
        exits = [r["exit_ms"] for r in rs]
        print(f"| {p.name} | {cell(median(rs, 'playing_ms'), 'ms', ref['playing_ms'])} "
              f"| {cell(median(rs, 'hwm_kib'), 'MB', ref['hwm_kib'], 1024, 1)} "
              f"| {cell(median(rs, 'dirty_kib'), 'MB', ref['dirty_kib'], 1024, 2)} "
              f"| {cell(median(rs, 'cpu_ms'), 'ms', ref['cpu_ms'])} "
              f"| {median(rs, 'exit_ms'):.0f} ms ({min(exits):.0f}–{max(exits):.0f}) |")
    if router:
        # Paired by round, like the playlists below.
        print("\n| sorvel, router set | time to PLAYING | less the full registry's "
              "| peak RSS | less the full registry's |")
        print("|---|---|---|---|---|")
        for label, name, base in (("MP3 stream", "sorvel, router set", "sorvel"),
                                  ("Ogg stream", "sorvel Ogg, router set", "sorvel Ogg")):
            if name not in runs:
                continue
            cells = []
            for key, scale, unit in (("playing_ms", 1, "ms"), ("hwm_kib", 1024, "MB")):
                diffs = [(a[key] - b[key]) / scale for a, b in zip(runs[name], runs[base])]
                digits = 0 if scale == 1 else 1
                cells.append(f"{statistics.median(diffs):+.{digits}f} {unit} "
                             f"({min(diffs):+.{digits}f} to {max(diffs):+.{digits}f})")
            print(f"| {label} | {median(runs[name], 'playing_ms'):.0f} ms | {cells[0]} "
                  f"| {median(runs[name], 'hwm_kib') / 1024:.1f} MB | {cells[1]} |")
    if short_players:
        stream = median(runs["sorvel"], "playing_ms")
        ogg_direct = median(runs["sorvel Ogg"], "playing_ms")
        # Each round's playlist run against the same round's run of the
        # stream itself, so drift between rounds cancels out.
        print("\n| sorvel | time to PLAYING | over the stream itself (median of each round's difference) |")
        print("|---|---|---|")
        print(f"| MP3 stream | {stream:.0f} ms | – |")
        print(f"| Ogg stream | {ogg_direct:.0f} ms | – |")
        for name, base in (("sorvel PLS→MP3", "sorvel"), ("sorvel M3U→MP3", "sorvel")):
            t = median(runs[name], "playing_ms")
            diffs = [a["playing_ms"] - b["playing_ms"] for a, b in zip(runs[name], runs[base])]
            print(f"| {name[7:]} | {t:.0f} ms | {statistics.median(diffs):+.0f} ms "
                  f"({min(diffs):+.0f} to {max(diffs):+.0f}) |")
    print("\nper run (ms to PLAYING):")
    for name, rs in runs.items():
        print(f"  {name}: " + " ".join(f"{r['playing_ms']:.0f}" for r in rs))


if __name__ == "__main__":
    main()
