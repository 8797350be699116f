"""Loopback servers for end-to-end tests.

HttpServer: routes map a path to a Route: the bytes to serve and how to serve
them (status, content type, in pieces with pauses, stalling after some bytes,
or accepting the request and never answering). The server runs in a thread
of the test process, listens on 127.0.0.1 only, and stops by itself at
close() or after `lifetime` seconds, whichever comes first.

With tls=(certificate, key) it speaks HTTPS: make_certificates() makes a
test CA and certificates it issued (good, for another name, expired) and one
no trusted CA issued.

Icecast: Debian's icecast2 as a real radio station, fed by a paced source
in a thread of the test process; same loopback-only, self-ending rules.
"""

import base64
import datetime
import http.server
import ipaddress
import os
import shutil
import socket
import ssl
import struct
import subprocess
import tempfile
import threading
import time
import urllib.parse
import urllib.request
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Dict, List, Optional, Tuple


class StandIn:
    """A server a test starts: leaving its `with` block stops it (as does
    the end of its lifetime)."""

    def close(self):
        raise NotImplementedError

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def stop_listening(owner):
    """For a stand-in made by serve_on_loopback: no new connections."""
    owner._timer.cancel()
    owner._closing.set()
    try:
        owner._listener.close()
    except OSError:
        pass


@dataclass
class Route:
    body: bytes = b""
    status: int = 200
    content_type: str = "application/octet-stream"
    # Send Content-Length (a file); False for a live stream that just ends.
    content_length: bool = True
    # Explicit pieces with a pause after each: [(bytes, seconds), ...]
    pieces: Optional[List[Tuple[bytes, float]]] = None
    # Or split body into chunks of this size with this pause between them.
    chunk_size: int = 0
    chunk_delay: float = 0.0
    # Send this many bytes of body, then keep the connection open silently.
    stall_after: Optional[int] = None
    # Accept the request, never answer.
    hang: bool = False
    # Send this many bytes of body, then reset the connection (RST).
    reset_after: Optional[int] = None
    # Send the headers, then hold the body back until this event is set
    # (lets a test act while the client waits for data).
    gate: Optional[threading.Event] = None
    headers: Dict[str, str] = field(default_factory=dict)
    # Made anew for every request, instead of body (a live HLS playlist).
    make_body: Optional[Callable[[], bytes]] = None
    # A stream without a length is a broadcast: once one listener has had
    # its body (to the end or to its reset), the mount is gone and later
    # requests get 404, as a player that reconnects after a drop finds.
    # True serves it again to every request.
    replay: bool = False


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, fmt, *args):  # keep test output quiet
        pass

    def _wait_until_closed(self):
        while not self.server.closing.wait(0.1):
            pass

    def do_GET(self):  # noqa: N802 (http.server's naming)
        server = self.server
        route = server.routes.get(self.path.split("?")[0])
        server.requests.append(self.path)
        if self.path.split("?")[0] in server.ended_broadcasts:
            route = None
        if route is None:
            self.send_error(404, "Not Found")
            return
        if route.hang:
            self._wait_until_closed()
            return
        if route.make_body is not None:
            route = Route(body=route.make_body(), content_type=route.content_type,
                          headers=route.headers)
        byte_range = self._requested_range(route)
        if byte_range is not None:
            # A file served with its length honours byte ranges, as real
            # servers do: GStreamer's HTTP source seeks with them.
            first, last = byte_range
            self.send_response(206)
            self.send_header("Content-Type", route.content_type)
            self.send_header("Content-Range", f"bytes {first}-{last}/{len(route.body)}")
            self.send_header("Content-Length", str(last - first + 1))
            self.end_headers()
            try:
                self.wfile.write(route.body[first : last + 1])
            except (BrokenPipeError, ConnectionResetError):
                pass
            return
        self.send_response(route.status)
        self.send_header("Content-Type", route.content_type)
        if self._is_plain_file(route):
            self.send_header("Accept-Ranges", "bytes")
        if (route.content_length and route.stall_after is None and route.reset_after is None
                and route.status == 200):
            self.send_header("Content-Length", str(len(route.body)))
        for key, value in route.headers.items():
            self.send_header(key, value)
        self.end_headers()
        try:
            self._send_body(route)
        except (BrokenPipeError, ConnectionResetError):
            pass
        if (not route.content_length and not route.replay and route.status == 200
                and route.stall_after is None and not server.closing.is_set()):
            server.ended_broadcasts.add(self.path.split("?")[0])

    @staticmethod
    def _is_plain_file(route):
        return (route.status == 200 and route.content_length and route.pieces is None
                and not route.chunk_size and route.stall_after is None and route.gate is None
                and route.reset_after is None)

    def _requested_range(self, route):
        """(first, last) of a satisfiable "bytes=N-[M]" request on a plain file."""
        header = self.headers.get("Range", "")
        if not header.startswith("bytes=") or not self._is_plain_file(route):
            return None
        first_text, _, last_text = header[6:].partition("-")
        if not first_text.isdigit() or (last_text and not last_text.isdigit()):
            return None
        first = int(first_text)
        last = int(last_text) if last_text else len(route.body) - 1
        last = min(last, len(route.body) - 1)
        if first > last:
            return None
        return first, last

    def _send_body(self, route):
        if route.gate is not None:
            while not route.gate.wait(0.1):
                if self.server.closing.is_set():
                    return
        if route.pieces is not None:
            for data, pause in route.pieces:
                self.wfile.write(data)
                self.wfile.flush()
                if pause and self.server.closing.wait(pause):
                    return
            return
        body = route.body
        if route.reset_after is not None:
            self.wfile.write(body[: route.reset_after])
            self.wfile.flush()
            # A zero linger time makes close() send RST instead of FIN.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.connection.close()
            return
        if route.stall_after is not None:
            self.wfile.write(body[: route.stall_after])
            self.wfile.flush()
            self._wait_until_closed()
            return
        if route.chunk_size:
            for i in range(0, len(body), route.chunk_size):
                self.wfile.write(body[i : i + route.chunk_size])
                self.wfile.flush()
                if route.chunk_delay and self.server.closing.wait(route.chunk_delay):
                    return
            return
        self.wfile.write(body)


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):  # a client that went away is no error
        pass


class HttpServer(StandIn):
    def __init__(self, routes=None, lifetime=120.0, tls=None):
        self._server = _Server(("127.0.0.1", 0), _Handler)
        self.scheme = "https" if tls else "http"
        if tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*tls)
            # The handshake runs in the request's own thread, so a client
            # that refuses the certificate never holds up the accept loop.
            self._server.socket = context.wrap_socket(
                self._server.socket, server_side=True, do_handshake_on_connect=False)
        self._server.routes = dict(routes or {})
        self._server.requests = []
        self._server.ended_broadcasts = set()
        self._server.closing = threading.Event()
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()
        self._timer = threading.Timer(lifetime, self.close)
        self._timer.daemon = True
        self._timer.start()

    @property
    def routes(self):
        return self._server.routes

    @property
    def requests(self):
        return list(self._server.requests)

    def url(self, path):
        return f"{self.scheme}://127.0.0.1:{self.port}{path}"

    def close(self):
        self._timer.cancel()
        if not self._server.closing.is_set():
            self._server.closing.set()
            self._server.shutdown()
            self._server.server_close()


def make_certificates(directory):
    """PEM files in directory: ca.pem, the CA to trust, and for each of
    "good", "wrong-name", "expired" (issued by it) and "untrusted" (issued by
    a CA nobody trusts) a (certificate, key) pair for HttpServer(tls=...)."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.x509.oid import NameOID

    directory = Path(directory)
    now = datetime.datetime.now(datetime.timezone.utc)
    day = datetime.timedelta(days=1)

    def issue(subject, key, issuer, issuer_key, begins, ends, ca=False, names=()):
        builder = (x509.CertificateBuilder()
                   .subject_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, subject)]))
                   .issuer_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, issuer)]))
                   .public_key(key.public_key()).serial_number(x509.random_serial_number())
                   .not_valid_before(begins).not_valid_after(ends)
                   .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
        if names:
            builder = builder.add_extension(x509.SubjectAlternativeName(list(names)),
                                            critical=False)
        return builder.sign(issuer_key, hashes.SHA256())

    def write(name, certificate, key=None):
        path = directory / f"{name}.pem"
        path.write_bytes(certificate.public_bytes(serialization.Encoding.PEM))
        if key is None:
            return path
        key_path = directory / f"{name}.key"
        key_path.write_bytes(key.private_bytes(serialization.Encoding.PEM,
                                               serialization.PrivateFormat.PKCS8,
                                               serialization.NoEncryption()))
        return str(path), str(key_path)

    loopback = x509.IPAddress(ipaddress.ip_address("127.0.0.1"))
    other = x509.DNSName("station.invalid")
    ca_key, stranger_key = (ec.generate_private_key(ec.SECP256R1()) for _ in range(2))
    ca = issue("Test CA", ca_key, "Test CA", ca_key, now - day, now + day, ca=True)
    pairs = {"ca": write("ca", ca)}
    for name, issuer, begins, ends, host in (
            ("good", "Test CA", now - day, now + day, loopback),
            ("wrong-name", "Test CA", now - day, now + day, other),
            ("expired", "Test CA", now - 3 * day, now - day, loopback),
            ("untrusted", "Stranger CA", now - day, now + day, loopback)):
        key = ec.generate_private_key(ec.SECP256R1())
        signer = ca_key if issuer == "Test CA" else stranger_key
        pairs[name] = write(name, issue(name, key, issuer, signer, begins, ends, names=[host]), key)
    return pairs


def serve_on_loopback(owner, accept_loop, lifetime, accept_timeout=None):
    """For a raw-socket stand-in: a listening socket on a free 127.0.0.1 port
    (owner._listener, owner.port), accept_loop running in a thread, and
    owner.close() called after `lifetime` seconds (owner._timer)."""
    owner._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    owner._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    owner._listener.bind(("127.0.0.1", 0))
    owner._listener.listen(16)
    owner._listener.settimeout(accept_timeout)
    owner.port = owner._listener.getsockname()[1]
    owner._thread = threading.Thread(target=accept_loop, daemon=True)
    owner._thread.start()
    owner._timer = threading.Timer(lifetime, owner.close)
    owner._timer.daemon = True
    owner._timer.start()


def read_request_head(connection):
    """The request line and header lines of an HTTP request on a raw socket;
    None when the client closes first or sends no HTTP at all (answered 400
    at once, as any web server would: the MMS-over-TCP attempt of an "mms:"
    location)."""
    data = b""
    while b"\r\n\r\n" not in data:
        piece = connection.recv(4096)
        if not piece or len(data) > 65536:
            return None
        data += piece
        if len(data) >= 3 and not data[:3].isalpha():
            connection.sendall(b"HTTP/1.0 400 Bad Request\r\n\r\n")
            return None
    return data.split(b"\r\n\r\n", 1)[0].decode("latin-1").split("\r\n")


def unused_port():
    """A loopback port nobody listens on (connections are refused)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


ICECAST_CONFIG = """<icecast>
  <location>loopback</location><admin>test@localhost</admin>
  <limits>
    <clients>16</clients><sources>2</sources><queue-size>524288</queue-size>
    <client-timeout>30</client-timeout><header-timeout>15</header-timeout>
    <source-timeout>10</source-timeout><burst-on-connect>1</burst-on-connect>
    <burst-size>32768</burst-size>
  </limits>
  <authentication>
    <source-password>{password}</source-password>
    <admin-user>admin</admin-user><admin-password>{password}</admin-password>
  </authentication>
  <hostname>127.0.0.1</hostname>
  <listen-socket><port>{port}</port><bind-address>127.0.0.1</bind-address></listen-socket>
  <mount type="normal"><mount-name>{mount}</mount-name><charset>UTF-8</charset></mount>
  <fileserve>0</fileserve>
  <paths>
    <basedir>{dir}</basedir><logdir>{dir}</logdir>
    <webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot>
  </paths>
  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>
    <loglevel>2</loglevel></logging>
  <security><chroot>0</chroot></security>
</icecast>
"""


class Icecast(StandIn):
    """icecast2 on 127.0.0.1 (a free port picked at start) with one mount fed
    by `stream` (MP3 bytes, sent in a loop at `bytes_per_second`). Runs as
    nobody (icecast refuses root) and ends by itself after `lifetime`."""

    def __init__(self, stream, bytes_per_second, mount="/radio.mp3",
                 content_type="audio/mpeg", lifetime=120.0):
        self.mount = mount
        self._password = base64.b16encode(os.urandom(8)).decode()
        self._dir = tempfile.mkdtemp(prefix="icecast-")
        os.chmod(self._dir, 0o755)
        shutil.chown(self._dir, "nobody")
        self._stop = threading.Event()
        self._process = None
        for _ in range(5):  # another test may take the free port first
            self.port = unused_port()
            if self._start_server(lifetime):
                break
        else:
            self.close()
            raise AssertionError("icecast2 did not start: " + self._log())
        self._source = threading.Thread(
            target=self._feed, args=(stream, bytes_per_second, content_type), daemon=True)
        self._source.start()
        self._lifetime = threading.Timer(lifetime, self.close)
        self._lifetime.daemon = True
        self._lifetime.start()
        if not self._wait(lambda: self._mount_listed(), 10):
            self.close()
            raise AssertionError("icecast2 never listed the mount: " + self._log())

    def _start_server(self, lifetime):
        config = os.path.join(self._dir, "icecast.xml")
        with open(config, "w") as f:
            f.write(ICECAST_CONFIG.format(password=self._password, port=self.port,
                                          mount=self.mount, dir=self._dir))
        # timeout(1) ends it even if this test process dies first.
        self._process = subprocess.Popen(
            ["timeout", str(int(lifetime) + 5), "setpriv", "--reuid=nobody", "--regid=nogroup",
             "--clear-groups", "icecast2", "-c", config],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        if self._wait(self._listening, 10):
            return True
        self._end_process()
        return False

    @staticmethod
    def _wait(predicate, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate():
                return True
            time.sleep(0.05)
        return False

    def _listening(self):
        if self._process.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                return True
        except OSError:
            return False

    def _admin(self, query):
        request = urllib.request.Request(
            f"http://127.0.0.1:{self.port}/admin/{query}",
            headers={"Authorization": "Basic " + base64.b64encode(
                f"admin:{self._password}".encode()).decode()})
        with urllib.request.urlopen(request, timeout=5) as reply:
            return reply.read()

    def _mount_listed(self):
        try:
            return f'mount="{self.mount}"'.encode() in self._admin("listmounts")
        except OSError:
            return False

    def _feed(self, stream, bytes_per_second, content_type):
        credentials = base64.b64encode(f"source:{self._password}".encode()).decode()
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
                s.sendall((f"SOURCE {self.mount} HTTP/1.0\r\nAuthorization: Basic {credentials}"
                           f"\r\nContent-Type: {content_type}\r\n\r\n").encode())
                if b" 200 " not in s.recv(1024):
                    return
                piece = max(1, bytes_per_second // 10)
                at, started, sent = 0, time.monotonic(), 0
                while not self._stop.is_set():
                    chunk = stream[at:at + piece]
                    at = (at + piece) % len(stream)
                    s.sendall(chunk)
                    sent += len(chunk)
                    ahead = sent / bytes_per_second - (time.monotonic() - started)
                    if ahead > 0 and self._stop.wait(ahead):
                        return
        except OSError:
            pass

    def set_title(self, song):
        """The station's title for what plays now, as a DJ's software sets it."""
        query = urllib.parse.urlencode({"mount": self.mount, "mode": "updinfo", "song": song,
                                        "charset": "UTF-8"})
        self._admin("metadata?" + query)

    def url(self):
        return f"http://127.0.0.1:{self.port}{self.mount}"

    def _log(self):
        try:
            with open(os.path.join(self._dir, "error.log"), errors="replace") as f:
                return f.read()[-2000:]
        except OSError:
            return "(no log)"

    def _end_process(self):
        if self._process and self._process.poll() is None:
            os.killpg(self._process.pid, 15)
            try:
                self._process.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(self._process.pid, 9)
                self._process.wait(5)

    def close(self):
        self._stop.set()
        if getattr(self, "_lifetime", None):
            self._lifetime.cancel()
        self._end_process()
        shutil.rmtree(self._dir, ignore_errors=True)


class LiveStation(StandIn):
    """A station on a raw socket on 127.0.0.1, for tests where how each
    connection ends matters (a reset, a clean close, silence), which an
    HTTP library hides. plan(n) says what the n-th request (from 1) gets:

      ("audio", seconds, end)  200 without a length, `seconds` of `audio`
                               (looped, at playing pace after a 1 s burst;
                               None: until closed), then end: "reset" (RST),
                               "close" (FIN) or "silence" (kept open)
      ("chunked", seconds)     `seconds` of audio as a chunked body, then its
                               final chunk: the stream is complete
      ("status", code)         an HTTP error answer
      ("hang",)                the request is read and never answered
      ("refuse",)              the station stops listening: this connection
                               and every later one is refused
      ("file", reset_at)       `audio` as a file with its length, honouring
                               "Range: bytes=N-"; reset after reset_at bytes
                               of body (None: all of it)
      ("file_no_ranges",)      `audio` whole with its length, whatever the Range

    `requests` holds (monotonic time, request line, Range header or None);
    `ends` the monotonic time at which each connection's audio ended."""

    def __init__(self, audio, plan, bytes_per_second=16000, lifetime=120.0,
                 content_type="audio/mpeg"):
        self.audio = audio
        self._looped = audio * 2
        self.plan = plan
        self.rate = bytes_per_second
        self.content_type = content_type
        self.requests = []
        self.ends = []
        self._closing = threading.Event()
        serve_on_loopback(self, self._accept, lifetime, accept_timeout=0.1)

    def url(self, path="/live"):
        return f"http://127.0.0.1:{self.port}{path}"

    def _accept(self):
        count = 0
        while not self._closing.is_set():
            try:
                connection, _ = self._listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            count += 1
            step = self.plan(count)
            if step[0] == "refuse":
                connection.close()
                self._listener.close()
                return
            threading.Thread(target=self._serve, args=(connection, step), daemon=True).start()

    def _read_request(self, connection):
        lines = read_request_head(connection)
        if lines is None:
            return None
        ranges = [line.split(":", 1)[1].strip() for line in lines[1:]
                  if line.lower().startswith("range:")]
        self.requests.append((time.monotonic(), lines[0], ranges[0] if ranges else None))
        return ranges[0] if ranges else None

    def _serve(self, connection, step):
        try:
            with connection:
                byte_range = self._read_request(connection)
                kind = step[0]
                if kind == "status":
                    connection.sendall(f"HTTP/1.0 {step[1]} Gone Away\r\nContent-Length: 0"
                                       "\r\n\r\n".encode())
                elif kind == "hang":
                    self._closing.wait()
                elif kind == "audio":
                    self._stream(connection, step[1], step[2])
                elif kind == "chunked":
                    self._chunked(connection, step[1])
                else:
                    self._file(connection, kind, byte_range, step[1] if len(step) > 1 else None)
        except OSError:
            pass

    def _stream(self, connection, seconds, end):
        connection.sendall(f"HTTP/1.0 200 OK\r\nContent-Type: {self.content_type}\r\n\r\n"
                           .encode())
        piece, at, sent, started = self.rate // 10, 0, 0, time.monotonic()
        total = None if seconds is None else int(seconds * self.rate)
        while not self._closing.is_set() and (total is None or sent < total):
            size = piece if total is None else min(piece, total - sent)
            chunk = self._looped[at:at + size]
            at = (at + size) % len(self.audio)
            connection.sendall(chunk)
            sent += size
            ahead = sent / self.rate - 1.0 - (time.monotonic() - started)
            if ahead > 0 and self._closing.wait(ahead):
                return
        self.ends.append(time.monotonic())
        if end == "reset":
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        elif end == "silence":
            self._closing.wait()

    def _chunked(self, connection, seconds):
        connection.sendall(f"HTTP/1.1 200 OK\r\nContent-Type: {self.content_type}\r\n"
                           "Transfer-Encoding: chunked\r\n\r\n".encode())
        body = self.audio[:int(seconds * self.rate)]
        for at in range(0, len(body), self.rate // 10):
            piece = body[at:at + self.rate // 10]
            connection.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
            if self._closing.wait(0.1):
                return
        connection.sendall(b"0\r\n\r\n")
        self.ends.append(time.monotonic())
        self._closing.wait(2)

    def _file(self, connection, kind, byte_range, reset_at):
        first = 0
        if kind == "file" and byte_range and byte_range.startswith("bytes="):
            first = int(byte_range[6:].split("-")[0])
        body = self.audio[first:]
        if first:
            head = (f"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes {first}-"
                    f"{len(self.audio) - 1}/{len(self.audio)}\r\n")
        else:
            head = "HTTP/1.1 200 OK\r\n" + ("Accept-Ranges: bytes\r\n" if kind == "file" else "")
        connection.sendall((head + f"Content-Type: {self.content_type}\r\n"
                            f"Content-Length: {len(body)}\r\nConnection: close\r\n\r\n").encode())
        if reset_at is not None:
            connection.sendall(body[:reset_at])
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.ends.append(time.monotonic())
            return
        connection.sendall(body)

    def close(self):
        stop_listening(self)
