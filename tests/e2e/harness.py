"""Runs our real programs in a private sandbox and reads back what they left.

Each Sandbox owns a per-test directory tree that stands in for the router's
fixed paths: inside, /tmp, /var/run (/run), /etc_ro and /mnt are these
directories, and /.sandbox holds the sandbox's own bookkeeping (exit status,
the stand-in kavido's log, the default settings store).
"""

import errno
import os
import shlex
import signal
import subprocess
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCE_DIR = Path(os.environ.get("SOURCE_DIR", HERE.parent.parent))
BUILD_DIR = Path(os.environ.get("BUILD_DIR", SOURCE_DIR / "build"))


def build_path(relative):
    """Path of a file of this build, e.g. build_path("player/sorvel")."""
    return str(BUILD_DIR / relative)


def emulator_prefix():
    """Command prefix that runs target binaries (empty on the host)."""
    return shlex.split(os.environ.get("E2E_EMULATOR", ""))


# Instrumented builds (tools/sanitize_test.sh) start and end programs
# several times slower; limits on how fast something must happen scale.
TIME_SCALE = float(os.environ.get("E2E_TIME_SCALE", "1"))


def within(seconds):
    """A time limit of the test, scaled for slower builds."""
    return seconds * TIME_SCALE


def wait_for(predicate, timeout=10.0, interval=0.05):
    """Polls predicate until it is true; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def _read_cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return [a.decode(errors="replace") for a in f.read().split(b"\0") if a]
    except OSError:
        return None


def _parent_of(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
        return int(stat[stat.rindex(")") + 2 :].split()[1])
    except (OSError, ValueError, IndexError):
        return None


def _descendants(root):
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            parent = _parent_of(int(entry))
            if parent is not None:
                children.setdefault(parent, []).append(int(entry))
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        for child in children.get(pid, []):
            found.append(child)
            todo.append(child)
    return found


class SandboxProcess:
    def __init__(self, sandbox, popen, command, status):
        self.sandbox = sandbox
        self.popen = popen
        self.command = command
        self.status = status
        self.stdout = None
        self.stderr = None
        self.returncode = None

    def host_pids(self):
        """Host pids of processes running the program (a daemon may be several)."""
        pids = []
        for pid in _descendants(self.popen.pid):
            cmdline = _read_cmdline(pid)
            if cmdline and cmdline[: len(self.command)] == self.command:
                pids.append(pid)
        return pids

    def host_pid(self, timeout=10.0):
        """Host pid of the program, waiting for it to start; None if it never did."""
        pids = wait_for(self.host_pids, timeout)
        return pids[0] if pids else None

    def signal(self, sig, timeout=10.0):
        pid = self.host_pid(timeout)
        if pid is None:
            raise AssertionError("program is not running")
        os.kill(pid, sig)

    def running(self):
        return self.popen.poll() is None and bool(self.host_pids())

    def wait(self, timeout=30.0):
        """Waits for the program (and, with linger, what it left running);
        returns the program's own exit status."""
        try:
            out, err = self.popen.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            out, err = self.popen.communicate()
            self.stdout, self.stderr = out, err
            raise AssertionError(
                f"{self.command} did not end within {timeout}s\nstdout:\n{out}\nstderr:\n{err}"
            )
        self.stdout, self.stderr = out, err
        status = self.status
        if status.exists() and status.read_text().strip():
            self.returncode = int(status.read_text().strip())
        else:
            self.returncode = self.popen.returncode
        return self.returncode

    def kill(self):
        """Ends the whole sandbox (its pid 1 takes every process with it)."""
        if self.popen.poll() is not None:
            return
        for pid in _descendants(self.popen.pid)[:1]:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        try:
            os.killpg(self.popen.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


class Sandbox:
    def __init__(self, base):
        self.root = Path(base) / "sandbox"
        self.tmp = self.root / "tmp"
        self.run = self.root / "run"
        self.etc_ro = self.root / "etc_ro"
        self.mnt = self.root / "mnt"
        self.ctl = self.root / "ctl"
        for d in (self.tmp, self.run, self.etc_ro, self.mnt, self.ctl):
            d.mkdir(parents=True, exist_ok=True)
        # the settings store, seen inside as /.sandbox/nvram
        self.nvram_file = self.ctl / "nvram"
        self.processes = []
        self.mounts = []
        # host file -> the path it covers inside, for programs started later
        self.binds = {}

    def inside(self, host_path):
        """The path inside the sandbox of a host path below the sandbox."""
        rel = Path(host_path).relative_to(self.root)
        top, rest = rel.parts[0], rel.parts[1:]
        mapping = {"tmp": "/tmp", "run": "/run", "etc_ro": "/etc_ro", "mnt": "/mnt", "ctl": "/.sandbox"}
        return str(Path(mapping[top], *rest))

    def environment(self, env=None):
        full = dict(os.environ)
        full.update(
            {
                "LC_ALL": "C",
                "LANG": "C",
                "NVRAM_FILE": "/.sandbox/nvram",
                "SORVEL_AUDIO_SINK": "fakesink sync=true",
            }
        )
        full.pop("LANGUAGE", None)
        if env:
            for key, value in env.items():
                if value is None:
                    full.pop(key, None)
                else:
                    full[key] = value
        # Only the program gets the preload (sandbox_enter.sh): the
        # sandbox's own shell and tools run as they are.
        if "LD_PRELOAD" in full:
            full["E2E_PRELOAD"] = full.pop("LD_PRELOAD")
        return full

    def spawn(self, argv, env=None, kavido=False, linger=False, stdin=None, keep=()):
        """Starts argv inside the sandbox. Binaries of this build run through
        E2E_EMULATOR when it is set (cross builds). keep names more host
        directories that stay reachable at their own paths."""
        command = [str(a) for a in argv]
        if command and command[0].startswith(str(BUILD_DIR)):
            command = emulator_prefix() + command
        wrapper = ["unshare", "--mount", "--pid", "--fork", "--propagation", "private", "--",
                   "/bin/sh", str(HERE / "sandbox_enter.sh"), str(self.root)]
        if kavido:
            # a cross build's stand-in is a host program (E2E_KAVIDO): killall
            # finds processes by name, and an emulated one is named after qemu
            wrapper += ["--kavido", os.environ.get("E2E_KAVIDO") or build_path("tests/stubs/kavido")]
        if linger:
            wrapper += ["--linger"]
        # programs side by side in one sandbox each report their own status
        status = self.ctl / f"exit_status.{len(self.processes)}"
        status.unlink(missing_ok=True)
        wrapper += ["--status", status.name]
        # the source and build trees (a clone may well live in /tmp) and the
        # emulator's files stay reachable at their own paths
        kept = {str(SOURCE_DIR), str(BUILD_DIR), *map(str, keep)}
        for word in emulator_prefix() + [os.environ.get("E2E_KAVIDO", "")]:
            if word.startswith("/") and os.path.exists(word):
                kept.add(word if os.path.isdir(word) else os.path.dirname(word))
        kept = {os.path.realpath(k) for k in kept}
        for directory in sorted(kept):
            # one below another comes with it
            if not any(directory.startswith(outer + "/") for outer in kept):
                wrapper += ["--keep", directory]
        for host_file, path in self.binds.items():
            wrapper += ["--bind", host_file, path]
        wrapper += ["--"] + command
        for stale in ("kavido.log", "kavido.ready"):
            (self.ctl / stale).unlink(missing_ok=True)
        popen = subprocess.Popen(
            wrapper,
            env=self.environment(env),
            stdin=subprocess.DEVNULL if stdin is None else stdin,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
            start_new_session=True,
        )
        process = SandboxProcess(self, popen, command, status)
        self.processes.append(process)
        return process

    def trust(self, ca_file):
        """Programs started from now on trust ca_file, and only it, as the
        system's CA bundle."""
        self.binds[str(ca_file)] = "/etc/ssl/certs/ca-certificates.crt"

    def run_program(self, argv, timeout=30.0, **kwargs):
        """spawn + wait; returns the finished SandboxProcess."""
        process = self.spawn(argv, **kwargs)
        process.wait(timeout)
        return process

    def kavido_signals(self):
        log = self.ctl / "kavido.log"
        return log.read_text().count("SIGUSR1") if log.exists() else 0

    def wait_for(self, predicate, timeout=10.0, interval=0.05):
        return wait_for(predicate, timeout, interval)

    def small_fs(self, directory, size_kib):
        """Puts a tmpfs of size_kib over one of the sandbox's directories
        (sb.tmp, sb.mnt), before anything is put in it; gone at close()."""
        subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size_kib}k,mode=1777",
                        "sandbox-small", str(directory)], check=True)
        self.mounts.append(directory)

    @staticmethod
    def fill(directory, name="filler"):
        """Fills the file system of directory to the last block."""
        fd = os.open(directory / name, os.O_WRONLY | os.O_CREAT, 0o644)
        try:
            for size in (65536, 4096, 512, 1):
                try:
                    while os.write(fd, b"\0" * size) == size:
                        pass
                except OSError as e:
                    if e.errno != errno.ENOSPC:
                        raise
        finally:
            os.close(fd)

    def close(self):
        for process in self.processes:
            process.kill()
            try:
                process.popen.communicate(timeout=5)
            except subprocess.TimeoutExpired:
                pass
        for directory in reversed(self.mounts):
            subprocess.run(["umount", "-l", str(directory)], check=False)
        self.mounts = []
