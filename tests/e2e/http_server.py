"""A loopback HTTP server for end-to-end tests.

Routes map a path to a Route: the bytes to serve and how to serve them
(status, content type, in pieces with pauses, stalling after some bytes,
or accepting the request and never answering). The server runs in a thread
of the test process, listens on 127.0.0.1 only, and stops by itself at
close() or after `lifetime` seconds, whichever comes first.
"""

import http.server
import socket
import struct
import threading
import time
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple


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
        if route is None:
            self.send_error(404, "Not Found")
            return
        if route.hang:
            self._wait_until_closed()
            return
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


class HttpServer:
    def __init__(self, routes=None, lifetime=120.0):
        self._server = _Server(("127.0.0.1", 0), _Handler)
        self._server.routes = dict(routes or {})
        self._server.requests = []
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
        return f"http://127.0.0.1:{self.port}{path}"

    def close(self):
        self._timer.cancel()
        if not self._server.closing.is_set():
            self._server.closing.set()
            self._server.shutdown()
            self._server.server_close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def unused_port():
    """A loopback port nobody listens on (connections are refused)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
