"""A small MMS-over-HTTP (mmsh) server for end-to-end tests.

It serves one ASF file the way a Windows Media server streams it: the client
first asks without "xPlayStrm=1" and gets the ASF header in "$H" chunks;
then it asks again with "xPlayStrm=1" (and, to seek, a byte offset in
"stream-offset=HI:LO" or a time in "stream-time=MS") and gets the header
again followed by one "$D" chunk per ASF data packet, numbered from the
packet the request starts at, and a final "$E" chunk. Each chunk is a
little-endian type ("$H", "$D", "$E"), a little-endian length that counts
the 8-byte (4 for "$E") extra header, the extra header (for "$D": the
packet number), then the payload.

Modes: "normal", "broadcast" (a live stream: not seekable), "stall" (accept,
read the request, never answer), "stall_after" (stop sending after
`stall_after` data packets and keep the connection open), "not_mms" (answer
HTTP 200 with a text body). Listens on 127.0.0.1 only; stops at close() or
after `lifetime` seconds, whichever comes first.
"""

import re
import socket
import struct
import threading

from http_server import StandIn, read_request_head, serve_on_loopback, stop_listening

FILE_PROPERTIES = bytes.fromhex("a1dcab8c47a9cf118ee400c00c205365")


class AsfFile:
    """The parts of an ASF file an mmsh server needs."""

    def __init__(self, data):
        self.data = data
        header_object = struct.unpack_from("<Q", data, 16)[0]
        # The "header" an mmsh server sends runs up to the first data packet:
        # the header object plus the 50-byte start of the data object.
        self.header_len = header_object + 50
        self.packet_len = 0
        self.packets = 0
        self.play_ms = 0
        self.preroll_ms = 0
        i = 30
        while i + 24 <= header_object:
            guid = data[i : i + 16]
            size = struct.unpack_from("<Q", data, i + 16)[0]
            if guid == FILE_PROPERTIES:
                self.packets = struct.unpack_from("<Q", data, i + 56)[0]
                self.play_ms = struct.unpack_from("<Q", data, i + 64)[0] // 10000
                self.preroll_ms = struct.unpack_from("<Q", data, i + 80)[0]
                self.packet_len = struct.unpack_from("<I", data, i + 92)[0]
            if size < 24:
                break
            i += size
        if not self.packet_len:
            raise ValueError("no ASF file properties found")
        available = (len(data) - self.header_len) // self.packet_len
        self.packets = min(self.packets, available) if self.packets else available

    @property
    def header(self):
        return self.data[: self.header_len]

    def packet(self, n):
        start = self.header_len + n * self.packet_len
        return self.data[start : start + self.packet_len]

    def packet_at_offset(self, offset):
        if offset < self.header_len:
            return 0
        return min((offset - self.header_len) // self.packet_len, self.packets)

    def packet_at_time(self, ms):
        span = max(self.play_ms - self.preroll_ms, 1)
        at = max(ms - self.preroll_ms, 0)
        return min(at * self.packets // span, self.packets)


def chunk(kind, payload, seq=0):
    if kind == b"$E":
        return kind + struct.pack("<HI", 4, seq)
    extra = struct.pack("<IBBH", seq, 0, seq & 0xFF, len(payload) + 8)
    return kind + struct.pack("<H", len(payload) + 8) + extra + payload


def header_chunks(header):
    out = b""
    for i in range(0, len(header), 16000):
        out += chunk(b"$H", header[i : i + 16000])
    return out


class MmshServer(StandIn):
    def __init__(self, asf_data, path="/stream", mode="normal", stall_after=0, lifetime=120.0):
        self.asf = AsfFile(asf_data)
        self.path = path
        self.mode = mode
        self.stall_after = stall_after
        self.requests = []  # (path, {"play": bool, "offset": int, "time": int})
        self._closing = threading.Event()
        self._lock = threading.Lock()
        self._connections = []
        serve_on_loopback(self, self._accept_loop, lifetime)

    def url(self, scheme="mmsh"):
        return f"{scheme}://127.0.0.1:{self.port}{self.path}"

    def play_requests(self):
        return [r for _, r in self.requests if r["play"]]

    def close(self):
        if self._closing.is_set():
            return
        stop_listening(self)
        with self._lock:
            for conn in self._connections:
                try:
                    conn.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    def _accept_loop(self):
        while not self._closing.is_set():
            try:
                conn, _ = self._listener.accept()
            except OSError:
                return
            with self._lock:
                self._connections.append(conn)
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        try:
            with conn:
                conn.settimeout(10)
                lines = read_request_head(conn)
                if lines is not None:
                    self._answer(conn, lines)
        except OSError:
            pass

    def _answer(self, conn, lines):
        parts = lines[0].split(" ")
        path = parts[1] if len(parts) > 1 else ""
        pragmas = " ".join(l.split(":", 1)[1] for l in lines[1:] if l.lower().startswith("pragma:"))
        offset = re.search(r"stream-offset=(\d+):(\d+)", pragmas)
        stream_time = re.search(r"stream-time=(\d+)", pragmas)
        info = {
            "play": "xPlayStrm=1" in pragmas,
            "offset": (int(offset.group(1)) << 32 | int(offset.group(2))) if offset else 0,
            "time": int(stream_time.group(1)) if stream_time else 0,
        }
        self.requests.append((path, info))

        if self.mode == "stall":
            self._closing.wait()
            return
        if path != self.path:
            conn.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\nNo such stream\n")
            return
        if self.mode == "not_mms":
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>hello</html>\n")
            return

        features = '"broadcast"' if self.mode == "broadcast" else '"seekable,stridable"'
        head = (
            "HTTP/1.0 200 OK\r\n"
            "Content-Type: application/vnd.ms.wms-hdr.asfv1\r\n"
            "Server: test-mmsh/1.0\r\n"
            "Cache-Control: no-cache\r\n"
            f"Pragma: no-cache,client-id=1234,features={features}\r\n"
            "\r\n"
        )
        conn.sendall(head.encode() + header_chunks(self.asf.header))
        if not info["play"]:
            return  # a describe request: header only, then the server closes

        first = 0
        if self.mode != "broadcast":
            if info["offset"]:
                first = self.asf.packet_at_offset(info["offset"])
            elif info["time"]:
                first = self.asf.packet_at_time(info["time"])
        sent = 0
        for n in range(first, self.asf.packets):
            if self._closing.is_set():
                return
            if self.mode == "stall_after" and sent >= self.stall_after:
                self._closing.wait()
                return
            conn.sendall(chunk(b"$D", self.asf.packet(n), n))
            sent += 1
        conn.sendall(chunk(b"$E", b"", 0))
