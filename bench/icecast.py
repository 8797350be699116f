"""A private icecast2 on 127.0.0.1 with live MP3 and Ogg/Vorbis mounts.

icecast2 refuses to run as root, so it runs as "nobody" from a config in a
temporary directory, on a port free at the time it starts. The sources are
gst-launch chains (audiotestsrc, live, into shout2send). Every process dies
with the benchmark: PR_SET_PDEATHSIG covers a benchmark that is killed, and
stop() the ordinary end.
"""

import ctypes
import os
import pwd
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import urllib.request
from pathlib import Path

PR_SET_PDEATHSIG = 1
_libc = ctypes.CDLL(None, use_errno=True)

CONFIG = """<icecast>
  <limits>
    <clients>50</clients>
    <sources>4</sources>
    <queue-size>524288</queue-size>
    <burst-on-connect>1</burst-on-connect>
    <burst-size>65535</burst-size>
  </limits>
  <authentication>
    <source-password>{password}</source-password>
    <admin-user>admin</admin-user>
    <admin-password>{password}</admin-password>
  </authentication>
  <hostname>127.0.0.1</hostname>
  <listen-socket>
    <port>{port}</port>
    <bind-address>127.0.0.1</bind-address>
  </listen-socket>
  <fileserve>1</fileserve>
  <paths>
    <basedir>{base}</basedir>
    <logdir>{base}/log</logdir>
    <webroot>{base}/web</webroot>
    <adminroot>/usr/share/icecast2/admin</adminroot>
  </paths>
  <logging>
    <accesslog>access.log</accesslog>
    <errorlog>error.log</errorlog>
    <loglevel>2</loglevel>
  </logging>
  <security><chroot>0</chroot></security>
</icecast>
"""

MOUNTS = {
    "/live.mp3": "lamemp3enc target=bitrate bitrate=128 cbr=true",
    "/live.ogg": "vorbisenc quality=0.3 ! oggmux",
}


def _free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _die_with_parent(uid=None, gid=None):
    def setup():
        _libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)
        if gid is not None:
            os.setgroups([])
            os.setgid(gid)
        if uid is not None:
            os.setuid(uid)
    return setup


class Icecast:
    def __init__(self):
        self.base = Path(tempfile.mkdtemp(prefix="bench-icecast-"))
        self.password = os.urandom(6).hex()
        self.server = None
        self.sources = []
        self.port = None

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def write_file(self, name, text):
        """A static file served from the web root (playlists)."""
        (self.base / "web" / name).write_text(text)

    def _mount_listed(self, mount):
        try:
            with urllib.request.urlopen(self.url(mount), timeout=2) as r:
                return len(r.read(4096)) > 0
        except OSError:
            return False

    def start(self, tries=5):
        nobody = pwd.getpwnam("nobody")
        (self.base / "log").mkdir()
        (self.base / "web").mkdir()
        for path in (self.base, self.base / "log", self.base / "web"):
            os.chown(path, nobody.pw_uid, nobody.pw_gid)
        os.chmod(self.base, 0o755)
        for _ in range(tries):
            self.port = _free_port()
            conf = self.base / "icecast.xml"
            conf.write_text(CONFIG.format(password=self.password, port=self.port,
                                          base=self.base))
            self.server = subprocess.Popen(
                ["icecast2", "-c", str(conf)], stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_die_with_parent(nobody.pw_uid, nobody.pw_gid))
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and self.server.poll() is None:
                try:
                    socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                    break
                except OSError:
                    time.sleep(0.05)
            if self.server.poll() is None:
                break
            # someone took the port between the check and the bind
        else:
            raise RuntimeError(f"icecast2 did not start; see {self.base}/log/error.log")
        for mount, encoder in MOUNTS.items():
            chain = (f"audiotestsrc is-live=true wave=sine freq=440 volume=0.3 ! "
                     f"audio/x-raw,rate=44100,channels=2 ! audioconvert ! {encoder} ! "
                     f"shout2send ip=127.0.0.1 port={self.port} password={self.password} "
                     f"mount={mount}")
            self.sources.append(subprocess.Popen(
                ["gst-launch-1.0", "-q"] + chain.split(), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_die_with_parent()))
        for mount in MOUNTS:
            deadline = time.monotonic() + 15
            while not self._mount_listed(mount):
                if time.monotonic() > deadline:
                    raise RuntimeError(f"mount {mount} never came up")
                time.sleep(0.2)

    def stop(self):
        for proc in self.sources + ([self.server] if self.server else []):
            if proc.poll() is None:
                proc.terminate()
        for proc in self.sources + ([self.server] if self.server else []):
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        shutil.rmtree(self.base, ignore_errors=True)

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()
