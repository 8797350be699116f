#!/usr/bin/python3
"""Long runs of the real daemons in the end-to-end sandbox: does anything grow?

stream    sorvel plays an endless 128 kbit/s MP3 stream with ICY metadata (the
          title changes every few seconds of stream time) from a server on
          127.0.0.1, at full speed ("fakesink sync=false"), until the server
          has sent --stream-hours of audio and ends the stream (then: EOS,
          exit 0). RSS, private dirty memory (smaps_rollup), open descriptors
          and threads are sampled every --interval seconds; growth is taken
          between 10 % and 100 % of the run (the first 10 % is start-up).
drops     the same stream for --drop-hours, at --drop-pace times real time,
          dropped every --drop-every seconds of stream by a reset, a clean
          close and silence in turn: each drop up to ten an hour must be
          bridged (a request of the live point, no new status word, the
          position never back), the eleventh ends the run with the budget's
          error; the figures as for the stream.
control   --pairs pause/resume pairs (SIGUSR1) and --seeks seeks (SIGUSR2
          with /tmp/seek.txt) on a long local MP3, playing in real time;
          the same figures sampled after the first 10 % and at the end.
runs      --runs runs back to back: start, PLAYING, SIGTERM; each must end
          with KILLED and exit 1, leaving no process, no file but the status
          file and no mount behind; RSS at PLAYING, first tenth vs last tenth.
ostrel    the WPS client polls the WSC status over the driver stand-in for
          --queries queries (bench/wsc_query_counter.so counts them), then is
          told 34 and must end by itself; sampled like the stream.

The last line sums it up. Needs root (unshare) and a build with the tests
and BUILD_BENCH=ON (for the query counter): BUILD_DIR, build-bench by default.

    bench/soak.py [--stream-hours 24] [--pairs 1000] [--seeks 500]
                  [--runs 1000] [--queries 10000000] [--only PART ...]
"""

import argparse
import os
import random
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parent.parent
os.environ.setdefault("BUILD_DIR", str(SOURCE_DIR / "build-bench"))
sys.path.insert(0, str(SOURCE_DIR / "tests" / "e2e"))
sys.path.insert(0, str(SOURCE_DIR / "bench"))

import media  # noqa: E402 (needs BUILD_DIR first)
from harness import Sandbox, build_path, wait_for  # noqa: E402
from run_memory import COUNTER, DRIVER, OSTREL, SORVEL, PollingOstrel, status_word  # noqa: E402

MP3_BYTES_PER_SECOND = 128000 // 8
METAINT = 16000  # one metadata block per second of stream
TITLE_EVERY = 5  # blocks


# ---------------------------------------------------------------- sampling


def sample(pid):
    """RSS and private dirty memory (KiB), open descriptors and threads of a
    running process; None once it is gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            status = dict(line.split(":", 1) for line in f if ":" in line)
        with open(f"/proc/{pid}/smaps_rollup") as f:
            rollup = dict(line.split(":", 1) for line in f if ":" in line)
        numbers = [int(fd) for fd in os.listdir(f"/proc/{pid}/fd")]
    except (OSError, ValueError):
        return None
    private_dirty = int(rollup["Private_Dirty"].split()[0])
    return {"rss": int(status["VmRSS"].split()[0]), "dirty": private_dirty, "fds": len(numbers),
            "top_fd": max(numbers, default=-1),
            "threads": int(status["Threads"])}


def growth(samples):
    """Figures between 10 % and 100 % of the samples. A player's RSS moves
    by some MB with the buffers in flight at the moment of a sample, so
    growth is taken between the medians of the tenth after the first 10 %
    and of the last tenth; the single samples are given beside it."""
    tenth = max(1, len(samples) // 10)
    early = samples[tenth:2 * tenth] or samples[-tenth:]
    late = samples[-tenth:]

    def median(window, key):
        return statistics.median(s[key] for s in window)

    return {
        "rss_growth_kb": int(median(late, "rss") - median(early, "rss")),
        "dirty_growth_kb": int(median(late, "dirty") - median(early, "dirty")),
        "rss_range": (min(s["rss"] for s in samples[tenth:]), max(s["rss"] for s in samples[tenth:])),
        # A descriptor open for a moment (each driver request opens a
        # socket) comes and goes; one that leaks raises the floor, and the
        # highest number in use (a new descriptor takes the lowest free one).
        "fds": (min(s["fds"] for s in early), min(s["fds"] for s in late)),
        "top_fd": (max(s["top_fd"] for s in early), max(s["top_fd"] for s in late)),
        "threads": (min(s["threads"] for s in early), min(s["threads"] for s in late)),
        # A run that stops its pipeline now and then (drops) has its floor
        # at those moments: its highest count says more.
        "threads_max": (max(s["threads"] for s in early), max(s["threads"] for s in late)),
        "rss": (samples[tenth]["rss"], samples[-1]["rss"]),
    }


def describe(g):
    return (f"RSS {g['rss'][0]} -> {g['rss'][1]} KiB (range {g['rss_range'][0]} - "
            f"{g['rss_range'][1]}), growth of the median {g['rss_growth_kb']} KiB, private dirty "
            f"{g['dirty_growth_kb']} KiB, fds {g['fds'][0]} -> {g['fds'][1]} (highest "
            f"{g['top_fd'][0]} -> {g['top_fd'][1]}), "
            f"threads {g['threads'][0]} -> {g['threads'][1]}")


def holds(g):
    return (g["rss_growth_kb"] <= 1024 and g["top_fd"][1] <= g["top_fd"][0]
            and g["threads"][1] <= g["threads"][0])


# ---------------------------------------------------------------- the stream


def mp3_frames(seconds=20):
    """Raw MP3 frames (no ID3, no Xing frame) of a tone, to be looped."""
    # target=bitrate: without it LAME ignores the bitrate and encodes the
    # tone at about 37 kbit/s, and an "hour" of bytes held 3.4 hours of audio.
    out = Path(os.environ["BUILD_DIR"]) / "e2e-media" / f"soak-{seconds}s-cbr.mp3"
    if not out.exists():
        out.parent.mkdir(parents=True, exist_ok=True)
        partial = out.with_name(f".{out.name}.{os.getpid()}")
        subprocess.run(["gst-launch-1.0", "-q", "audiotestsrc", f"num-buffers={seconds * 10}",
                        "samplesperbuffer=4410", "wave=sine", "!",
                        "audio/x-raw,rate=44100,channels=2", "!", "audioconvert", "!",
                        "lamemp3enc", "target=bitrate", "bitrate=128", "cbr=true", "!",
                        "filesink",
                        f"location={partial}"], check=True, timeout=120)
        os.replace(partial, out)
    return out.read_bytes()


DROP_KINDS = ("reset", "close", "silence")


class IcyServer:
    """An endless radio stream with ICY metadata, to one listener at a time,
    on 127.0.0.1; it ends the stream after `total` bytes of audio (a clean
    close; the mount is then gone: 404), and stops by itself at close() or
    after `lifetime` seconds. With `drop_every` (bytes) the connection drops
    each time that much more audio has been sent, by a reset, a clean close
    and silence in turn; a listener that comes back gets the broadcast from
    the live point. `pace`: bytes a second (0: as fast as the listener reads)."""

    def __init__(self, frames, total, lifetime, drop_every=0, pace=0):
        self.frames, self.total = frames, total
        self.drop_every, self.pace = drop_every, pace
        self.sent = 0
        self.titles = 0
        self.drops = []  # (monotonic time, kind)
        self.requests = []  # (monotonic time, Range header or None)
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(4)
        self.port = self.sock.getsockname()[1]
        self.closing = threading.Event()
        self.deadline = time.monotonic() + lifetime
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def url(self):
        return f"http://127.0.0.1:{self.port}/live.mp3"

    def _serve(self):
        self.sock.settimeout(0.5)
        while not self.closing.is_set() and time.monotonic() < self.deadline:
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            with conn:
                # A player slowed by other work on the machine is no reason
                # to end its stream early.
                conn.settimeout(120)
                try:
                    self._stream(conn)
                except OSError:
                    pass

    def _stream(self, conn):
        request = b""
        while b"\r\n\r\n" not in request:
            data = conn.recv(4096)
            if not data:
                return
            request += data
        ranged = [line.split(b":", 1)[1].strip().decode() for line in request.split(b"\r\n")
                  if line.lower().startswith(b"range:")]
        self.requests.append((time.monotonic(), ranged[0] if ranged else None))
        if self.sent >= self.total:
            conn.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")
            return
        icy = b"icy-metadata: 1" in request.lower()
        head = ["HTTP/1.0 200 OK", "Content-Type: audio/mpeg", "icy-name: Soak FM",
                "icy-br: 128"]
        if icy:
            head.append(f"icy-metaint: {METAINT}")
        conn.sendall(("\r\n".join(head) + "\r\n\r\n").encode())
        loop = self.frames * (METAINT // len(self.frames) + 2)
        at = 0
        blocks = 0
        began, sent_here = time.monotonic(), 0
        while self.sent < self.total and not self.closing.is_set():
            if time.monotonic() > self.deadline:
                return
            n = min(METAINT, self.total - self.sent)
            chunk = loop[at:at + n]
            at = (at + n) % len(self.frames)
            if icy:
                if blocks % TITLE_EVERY == 0:
                    self.titles += 1
                    text = f"StreamTitle='Soak FM - song {self.titles}';".encode()
                    size = (len(text) + 15) // 16
                    chunk += bytes([size]) + text.ljust(size * 16, b"\0")
                else:
                    chunk += b"\0"
            conn.sendall(chunk)
            self.sent += n
            sent_here += n
            blocks += 1
            if self.pace:
                ahead = sent_here / self.pace - (time.monotonic() - began)
                if ahead > 0 and self.closing.wait(ahead):
                    return
            if self.drop_every and self.sent < self.total and self.sent % self.drop_every == 0:
                self._drop(conn)
                return

    def _drop(self, conn):
        kind = DROP_KINDS[len(self.drops) % len(DROP_KINDS)]
        self.drops.append((time.monotonic(), kind))
        if kind == "reset":
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        elif kind == "silence":
            # Held open, silent, until the listener gives up on it.
            conn.settimeout(1)
            while not self.closing.is_set():
                try:
                    if not conn.recv(4096):
                        return
                except socket.timeout:
                    continue

    def close(self):
        self.closing.set()
        self.thread.join(5)
        self.sock.close()


def position_seconds(sb):
    try:
        return int((sb.tmp / "position.txt").read_text())
    except (OSError, ValueError):
        return None


def soak_stream(hours, interval, drop_every=0, pace=0):
    """The stream part; with drop_every (seconds of stream) the drops part."""
    frames = mp3_frames()
    total = int(hours * 3600 * MP3_BYTES_PER_SECOND)
    with tempfile.TemporaryDirectory(prefix="soak-stream-") as tmp:
        sb = Sandbox(tmp)
        server = IcyServer(frames, total, lifetime=6 * 3600,
                           drop_every=drop_every * MP3_BYTES_PER_SECOND, pace=pace)
        samples, positions, words = [], [], []
        try:
            proc = sb.spawn([SORVEL, server.url()], env={"SORVEL_AUDIO_SINK": "fakesink sync=false"})
            pid = proc.host_pid(15)
            if pid is None:
                raise RuntimeError("sorvel did not start")
            started = time.monotonic()
            next_report = started + 60
            while True:
                s = sample(pid)
                if s is None:
                    break
                word = status_word(sb)
                if not words or words[-1] != word:
                    words.append(word)
                if word == "PLAYING":
                    samples.append(s)
                    positions.append(position_seconds(sb))
                if time.monotonic() >= next_report:
                    next_report += 60
                    print(f"  stream: {server.sent / MP3_BYTES_PER_SECOND / 3600:.2f} h sent "
                          f"after {time.monotonic() - started:.0f} s, RSS {s['rss']} KiB, "
                          f"fds {s['fds']}, threads {s['threads']}", flush=True)
                time.sleep(interval)
            rc = proc.wait(60)
            wall = time.monotonic() - started
        finally:
            server.close()
            sb.close()
        if len(samples) < 10:
            raise RuntimeError(f"stream: too few samples ({len(samples)}); exit {rc}, "
                               f"stderr:\n{proc.stderr}")
        g = growth(samples)
        g.update(stream_hours=server.sent / MP3_BYTES_PER_SECOND / 3600, titles=server.titles,
                 wall=wall, rc=rc, word=status_word(sb), samples=len(samples), words=words,
                 drops=server.drops, requests=server.requests,
                 positions=[p for p in positions if p is not None])
        return g


def drops_bridged(g):
    """Drops the player came back from: a request of the live point (no
    Range) after the drop and before the next one."""
    times = [t for t, _ in g["drops"]] + [float("inf")]
    return sum(any(r is None and times[i] < t < times[i + 1] for t, r in g["requests"])
               for i in range(len(times) - 1))


def drops_hold(g):
    """Every drop bridged up to the budget's ten an hour; the run then ends
    as the stream does (EOS), or at the eleventh drop with the budget's
    message; nothing but PLAYING before; the position never goes back."""
    drops = len(g["drops"])
    bridged = drops_bridged(g)
    if drops <= 10:
        end_ok = g["rc"] == 0 and g["word"] == "EOS" and bridged == drops
    else:
        end_ok = (g["rc"] == 1 and bridged == 10
                  and g["word"].startswith("ERROR:Lost the connection to the station too often"))
    steady = (g["rss_growth_kb"] <= 1024 and g["top_fd"][1] <= g["top_fd"][0]
              and g["threads_max"][1] <= g["threads_max"][0])
    return (steady and end_ok and g["positions"] == sorted(g["positions"])
            and seen_before_the_end(g) == ["PLAYING"])


def seen_before_the_end(g):
    """The status words sampled while the run lasted, the final one left out."""
    seen = [w for w in g["words"] if w not in ("PREPARE", None)]
    if len(seen) > 1 and seen[-1] == g["word"]:
        seen.pop()
    return seen


# ---------------------------------------------------------------- control


def wait_new_status(sb, old_inode, timeout=10):
    """Waits for a fresh "PLAYING" (the status file is replaced each time)."""
    def fresh():
        try:
            st = os.stat(sb.tmp / "sorvi.txt")
        except FileNotFoundError:
            return False
        return st.st_ino != old_inode and status_word(sb) == "PLAYING"
    return sb.wait_for(fresh, timeout, interval=0.002)


def signal_taken(pid, signo, timeout=5):
    """Waits until no signal signo is pending for the process any more."""
    bit = 1 << (signo - 1)

    def taken():
        try:
            with open(f"/proc/{pid}/status") as f:
                pending = [int(line.split()[1], 16) for line in f
                           if line.startswith(("SigPnd:", "ShdPnd:"))]
        except OSError:
            return True
        return not any(p & bit for p in pending)
    return wait_for(taken, timeout, interval=0.001)


def soak_control(pairs, seeks):
    long_file = media.make("mp3", seconds=600)
    with tempfile.TemporaryDirectory(prefix="soak-control-") as tmp:
        sb = Sandbox(tmp)
        shutil.copy(long_file, sb.tmp / "long.mp3")
        samples = []
        try:
            proc = sb.spawn([SORVEL, "/tmp/long.mp3"])
            pid = proc.host_pid(15)
            if not sb.wait_for(lambda: status_word(sb) == "PLAYING", 20):
                raise RuntimeError("control: never PLAYING")
            retries = 0
            for n in range(pairs):
                inode = os.stat(sb.tmp / "sorvi.txt").st_ino
                os.kill(pid, signal.SIGUSR1)  # pause
                # Signals of one kind do not queue, and a toggle during a
                # state change finds no settled state: let the pause land.
                signal_taken(pid, signal.SIGUSR1)
                time.sleep(0.1)
                os.kill(pid, signal.SIGUSR1)  # and resume
                if not wait_new_status(sb, inode, timeout=3):
                    # A toggle that met the pipeline between states: counted.
                    retries += 1
                    os.kill(pid, signal.SIGUSR1)
                    if not wait_new_status(sb, inode):
                        raise RuntimeError(f"control: no PLAYING after resume {n + 1}")
                if n % max(1, pairs // 50) == 0:
                    samples.append(sample(pid))
            for n in range(seeks):
                (sb.tmp / "seek.txt").write_text(f"{random.randrange(0, 550)}\r\n")
                os.kill(pid, signal.SIGUSR2)
                signal_taken(pid, signal.SIGUSR2)
                time.sleep(0.02)
                if n % max(1, seeks // 50) == 0:
                    samples.append(sample(pid))
            samples.append(sample(pid))
            alive = proc.running()
            proc.signal(15)
            rc = proc.wait(30)
        finally:
            sb.close()
        if not alive or None in samples:
            raise RuntimeError(f"control: the player ended early; stderr:\n{proc.stderr}")
        g = growth(samples)
        g.update(rc=rc, word=status_word(sb), retries=retries)
        return g


# ---------------------------------------------------------------- runs


def host_mounts():
    with open("/proc/self/mountinfo") as f:
        return sum(1 for _ in f)


def soak_runs(runs):
    song = media.make("mp3", seconds=60)
    mounts_before = host_mounts()
    rss = []
    failures = []
    with tempfile.TemporaryDirectory(prefix="soak-runs-") as tmp:
        sb = Sandbox(tmp)
        shutil.copy(song, sb.tmp / "song.mp3")
        started = time.monotonic()
        try:
            for n in range(runs):
                proc = sb.spawn([SORVEL, "/tmp/song.mp3"])
                pid = proc.host_pid(15)
                if pid is None or not sb.wait_for(lambda: status_word(sb) == "PLAYING", 20):
                    failures.append(f"run {n + 1}: never PLAYING")
                    proc.kill()
                    continue
                s = sample(pid)
                if s:
                    rss.append(s["rss"])
                os.kill(pid, signal.SIGTERM)
                rc = proc.wait(30)
                left = sorted(p.name for p in list(sb.tmp.iterdir()) + list(sb.run.iterdir())
                              + list(sb.mnt.iterdir()) if p.name not in ("sorvi.txt", "song.mp3"))
                stray = proc.host_pids() or proc.popen.poll() is None
                if rc != 1 or status_word(sb) != "KILLED" or left or stray:
                    failures.append(f"run {n + 1}: exit {rc}, {status_word(sb)!r}, "
                                    f"left {left}, stray {stray}")
                sb.processes.clear()
        finally:
            sb.close()
        wall = time.monotonic() - started
    tenth = max(1, len(rss) // 10)
    return {"runs": runs, "failures": failures, "wall": wall,
            "rss_first": sum(rss[:tenth]) // tenth, "rss_last": sum(rss[-tenth:]) // tenth,
            "mounts": (mounts_before, host_mounts())}


# ---------------------------------------------------------------- ostrel


def soak_ostrel(queries, interval):
    with tempfile.TemporaryDirectory(prefix="soak-ostrel-") as tmp:
        samples = []
        with PollingOstrel(Sandbox(tmp)) as client:
            started = time.monotonic()
            while client.queries() < queries:
                s = sample(client.pid)
                if s is None:
                    raise RuntimeError("ostrel ended before it was told 34")
                samples.append(s)
                time.sleep(interval)
            samples.append(sample(client.pid))
            done = client.queries()
            wall = time.monotonic() - started
            rc = client.finish(30)
        final = client.final_status()
        g = growth(samples)
        g.update(queries=done, wall=wall, rc=rc, final=final)
        return g


def growth_fields(prefix, g, *between):
    """A part's summary fields for RSS, descriptors and threads."""
    return [f"{prefix}rss_growth_kb={g['rss_growth_kb']}", *between,
            f"{prefix}fds={g['fds'][0]}->{g['fds'][1]}",
            f"{prefix}threads={g['threads'][0]}->{g['threads'][1]}"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--stream-hours", type=float, default=24.0)
    parser.add_argument("--pairs", type=int, default=1000)
    parser.add_argument("--seeks", type=int, default=500)
    parser.add_argument("--runs", type=int, default=1000)
    parser.add_argument("--queries", type=int, default=10_000_000)
    parser.add_argument("--interval", type=float, default=2.0, help="seconds between samples")
    parser.add_argument("--drop-hours", type=float, default=1.0)
    parser.add_argument("--drop-every", type=int, default=300, help="seconds of stream")
    parser.add_argument("--drop-pace", type=float, default=8.0,
                        help="stream speed against real time (drops heal after 30 s)")
    parser.add_argument("--only", nargs="+",
                        choices=["stream", "drops", "control", "runs", "ostrel"])
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("soak.py: needs root (the sandbox uses unshare)")
    parts = args.only or ["stream", "drops", "control", "runs", "ostrel"]
    for path in (SORVEL, OSTREL, DRIVER) + ((COUNTER,) if "ostrel" in parts else ()):
        if not os.path.exists(path):
            sys.exit(f"soak.py: {path} is missing; build with -DBUILD_BENCH=ON first")
    ok = True
    summary = ["soak:"]

    def attempt(name, part, *part_args):
        """A part that could not run to its end fails; the others still run."""
        nonlocal ok
        try:
            return part(*part_args)
        except (RuntimeError, AssertionError, OSError) as e:
            ok = False
            print(f"{name}: FAILED: {e}", flush=True)
            summary.append(f"{name}=FAILED")
            return None

    if "stream" in parts and (g := attempt("stream", soak_stream, args.stream_hours,
                                           args.interval)):
        # The server ends the stream only once it has sent all of it.
        good = (holds(g) and g["rc"] == 0 and g["word"] == "EOS"
                and g["stream_hours"] >= args.stream_hours * 0.999)
        ok &= good
        print(f"stream: {g['stream_hours']:.1f} h of stream ({g['titles']} titles) in "
              f"{g['wall']:.0f} s wall, {g['samples']} samples; {describe(g)}; "
              f"ended {g['word']!r}, exit {g['rc']}: {'ok' if good else 'FAILED'}", flush=True)
        summary += [f"stream_hours={g['stream_hours']:.1f}",
                    *growth_fields("", g, f"dirty_growth_kb={g['dirty_growth_kb']}")]
    if "drops" in parts and (g := attempt("drops", soak_stream, args.drop_hours, args.interval,
                                          args.drop_every,
                                          args.drop_pace * MP3_BYTES_PER_SECOND)):
        good = drops_hold(g)
        ok &= good
        ranged = [r for _, r in g["requests"] if r is not None]
        print(f"drops: {g['stream_hours']:.2f} h of stream in {g['wall']:.0f} s wall, "
              f"{len(g['drops'])} drops ({', '.join(k for _, k in g['drops'])}), "
              f"{drops_bridged(g)} bridged, highest thread count {g['threads_max'][0]} -> "
              f"{g['threads_max'][1]}, {len(g['requests'])} requests ({len(ranged)} with a "
              f"Range: {ranged}), words {g['words']}, position {g['positions'][:1]} -> "
              f"{g['positions'][-1:]}; {describe(g)}; ended {g['word']!r}, exit {g['rc']}: "
              f"{'ok' if good else 'FAILED'}", flush=True)
        summary += [f"drops={len(g['drops'])}", f"drops_bridged={drops_bridged(g)}",
                    *growth_fields("drops_", g)]
    if "control" in parts and (g := attempt("control", soak_control, args.pairs, args.seeks)):
        good = holds(g) and g["rc"] == 1 and g["word"] == "KILLED"
        ok &= good
        print(f"control: {args.pairs} pause/resume pairs ({g['retries']} resumes sent twice), "
              f"{args.seeks} seeks; {describe(g)}; "
              f"ended {g['word']!r}, exit {g['rc']}: {'ok' if good else 'FAILED'}", flush=True)
        summary += growth_fields("control_", g)
    if "runs" in parts and (r := attempt("runs", soak_runs, args.runs)):
        good = not r["failures"] and r["mounts"][0] == r["mounts"][1]
        ok &= good
        for failure in r["failures"][:10]:
            print(f"  {failure}")
        print(f"runs: {r['runs']} runs in {r['wall']:.0f} s, {len(r['failures'])} failed; RSS at "
              f"PLAYING {r['rss_first']} KiB (first tenth) -> {r['rss_last']} KiB (last tenth); "
              f"host mounts {r['mounts'][0]} -> {r['mounts'][1]}: {'ok' if good else 'FAILED'}",
              flush=True)
        summary += [f"runs={r['runs']}", f"runs_failed={len(r['failures'])}",
                    f"runs_rss_kb={r['rss_first']}->{r['rss_last']}"]
    if "ostrel" in parts and (g := attempt("ostrel", soak_ostrel, args.queries, args.interval)):
        good = holds(g) and g["rc"] == 0 and g["final"] == "34"
        ok &= good
        print(f"ostrel: {g['queries']} queries in {g['wall']:.0f} s; {describe(g)}; status file "
              f"{g['final']!r}, exit {g['rc']}: {'ok' if good else 'FAILED'}", flush=True)
        summary += [f"ostrel_queries={g['queries']}", f"ostrel_rss_growth_kb={g['rss_growth_kb']}",
                    f"ostrel_fds={g['fds'][0]}->{g['fds'][1]}"]
    summary.append("ok" if ok else "FAILED")
    print(" ".join(summary))
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
