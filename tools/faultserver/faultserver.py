#!/usr/bin/env python3
"""A misbehaving HTTP/1.1 server for tests: scripted responses chosen by the request path.

Usage: faultserver.py [--port N] [--bind ADDR]
Prints "PORT <n>" on its first output line once it listens. See README.md for the paths.
"""
import argparse
import email.utils
import random
import signal
import socket
import socketserver
import struct
import sys
import threading
import time
import os
import urllib.parse

PERIOD = 65521  # content of generated files repeats with this (prime) period
_BASE = bytes(((j * 31 + (j >> 8) * 7) & 0xFF) for j in range(PERIOD))


VERSION_SHIFT = 4099  # version v of the file is the base pattern moved by v * VERSION_SHIFT


def file_bytes(start, end, version=0):
    """Bytes [start, end) of the generated file in the given version."""
    out = bytearray()
    pos = start
    shift = version * VERSION_SHIFT
    while pos < end:
        off = (pos + shift) % PERIOD
        take = min(PERIOD - off, end - pos)
        out += _BASE[off:off + take]
        pos += take
    return bytes(out)


class Versions:
    """Per-tag request counters and file versions, for files that change while served."""

    def __init__(self):
        self.lock = threading.Lock()
        self.count = {}
        self.changes = {}

    def on_request(self, tag, q):
        """Counts a request for `tag` and returns the file version it is served."""
        base = int(q.get("version", "0"))
        if not tag:
            return base
        with self.lock:
            n = self.count.get(tag, 0) + 1
            self.count[tag] = n
            extra = self.changes.get(tag, 0)
            if "change_after" in q and n > int(q["change_after"]):
                extra = max(extra, 1)
            if "change_every" in q:
                extra = max(extra, (n - 1) // max(1, int(q["change_every"])))
            self.changes[tag] = extra
            return base + extra

    def bump(self, tag):
        with self.lock:
            self.changes[tag] = self.changes.get(tag, 0) + 1

    def current(self, tag, q):
        with self.lock:
            return int(q.get("version", "0")) + self.changes.get(tag, 0)


CANNED = {
    # name: raw response bytes; the connection closes after it unless "keep" is given.
    "no-reason": b"HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nok",
    "empty-reason": b"HTTP/1.1 200 \r\nContent-Length: 2\r\n\r\nok",
    "bad-status": b"HTTP/1.1 2x0 OK\r\nContent-Length: 2\r\n\r\nok",
    "not-http": b"SSH-2.0-OpenSSH\r\n\r\n",
    "bad-header": b"HTTP/1.1 200 OK\r\nBad Header: x\r\nContent-Length: 2\r\n\r\nok",
    "header-8bit": b"HTTP/1.1 200 OK\r\nX-\xe9: x\r\nContent-Length: 2\r\n\r\nok",
    "head-cut": b"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n",
    "continuation": b"HTTP/1.1 200 OK\r\nX-Long: one\r\n  two\r\n\tthree\r\nContent-Length: 2\r\n\r\nok",
    "both-lengths": b"HTTP/1.1 206 Partial Content\r\nContent-Length: 4\r\n"
                    b"Content-Range: bytes 0-3/1000\r\n\r\nabcd",
    "chunked": b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
               b"5;ext=1\r\nhello\r\n6\r\n world\r\n0\r\nX-Trailer: t\r\n\r\n",
    "chunked-capital": b"HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
    "bad-chunk": b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhelloXX3\r\nabc\r\n0\r\n\r\n",
    "bad-chunk-size": b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n",
    "chunked-cut": b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n3\r\nab",
    "continue": b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
    "continue-bad": b"HTTP/1.1 100 Continue\r\nX: y\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
    "no-length": b"HTTP/1.1 200 OK\r\n\r\nuntil the end",
    "http10": b"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok",
    "cookies": b"HTTP/1.1 200 OK\r\nSet-Cookie: a=1; Path=/\r\nset-cookie: b=2; Secure\r\n"
               b"Content-Length: 2\r\n\r\nok",
}


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buf = b""

    def read_head(self):
        while b"\r\n\r\n" not in self.buf:
            data = self.request.recv(65536)
            if not data:
                return None
            self.buf += data
            if len(self.buf) > 1 << 20:
                return None
        head, self.buf = self.buf.split(b"\r\n\r\n", 1)
        lines = head.decode("latin-1").split("\r\n")
        parts = lines[0].split(" ")
        if len(parts) != 3:
            return None
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        length = int(headers.get("content-length", "0") or 0)
        while len(self.buf) < length:
            data = self.request.recv(65536)
            if not data:
                break
            self.buf += data
        body, self.buf = self.buf[:length], self.buf[length:]
        return parts[0], parts[1], headers, head + b"\r\n\r\n", body

    def handle(self):
        try:
            first = True
            while True:
                req = self.read_head()
                if req is None:
                    return
                method, target, headers, raw_head, body = req
                if first:
                    with self.server.lock:
                        self.server.connections += 1
                        self.conn_id = self.server.connections
                    sys.stderr.write("CONNECTION %d\n" % self.conn_id)
                    first = False
                line = "%s %s" % (method, target)
                if target.startswith("/files/") and "range" in headers:
                    line += " [%s]" % headers["range"]
                sys.stderr.write(line + "\n")
                try:
                    keep = self.respond(method, target, headers, raw_head, body)
                except ValueError:
                    keep = self.simple(400, b"bad parameter", False)
                if not keep:
                    return
        except (ConnectionError, BrokenPipeError, OSError):
            return

    # -- helpers -----------------------------------------------------------------------------
    def send(self, data, rate=0):
        """Writes data, at most `rate` bytes per second when rate > 0."""
        if rate <= 0:
            self.request.sendall(data)
            return
        slice_size = max(1, rate // 20)
        for i in range(0, len(data), slice_size):
            self.request.sendall(data[i:i + slice_size])
            time.sleep(len(data[i:i + slice_size]) / rate)

    def stall(self):
        # Hold the connection open and silent until the peer goes away or the server stops.
        self.request.settimeout(None)
        try:
            while self.request.recv(65536):
                pass
        except OSError:
            pass

    def wants_keep_alive(self, headers, q):
        if q.get("connection") == "close":
            return False
        conn = headers.get("connection", headers.get("proxy-connection", "")).lower()
        return conn == "keep-alive"

    # -- scenarios ---------------------------------------------------------------------------
    def respond(self, method, target, headers, raw_head, body):
        url = urllib.parse.urlsplit(target)
        path = url.path
        q = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        keep = self.wants_keep_alive(headers, q)
        conn_line = b"Connection: keep-alive\r\n" if keep else b"Connection: close\r\n"

        if "redirect_to" in q:
            code = int(q.get("code", "302"))
            extra = ("Location: %s\r\n" % q["redirect_to"]).encode()
            return self.simple(code, b"", keep, extra)
        if path == "/silent":
            self.stall()
            return False
        if path.startswith("/canned/"):
            name = path[len("/canned/"):]
            if name not in CANNED:
                return self.simple(404, b"no such canned response", keep)
            self.send(CANNED[name])
            if "stall" in q:
                self.stall()
            return "keep" in q
        if path == "/raw":
            self.send(urllib.parse.unquote_to_bytes(q.get("data", "")))
            if "stall" in q:
                self.stall()
            return "keep" in q
        if path == "/status":
            code = int(q.get("code", "200"))
            return self.simple(code, q.get("body", "").encode(), keep)
        if path == "/echo":
            return self.simple(200, raw_head + body, keep, b"Content-Type: text/plain\r\n")
        if path == "/redirect":
            code = int(q.get("code", "302"))
            extra = ("Location: %s\r\n" % q.get("to", "/")).encode()
            return self.simple(code, b"", keep, extra)
        if path.startswith("/chain/"):
            n = int(path[len("/chain/"):] or "0")
            if n <= 0:
                return self.simple(200, b"end of chain", keep)
            # Absolute: a relative "/chain/.." would be taken relative to this path.
            host = headers.get("host", "127.0.0.1:%d" % self.server.server_address[1])
            extra = ("Location: http://%s/chain/%d\r\n" % (host, n - 1)).encode()
            return self.simple(302, b"", keep, extra)
        if path.startswith("/dir/") or path == "/file":
            return self.serve_file(method, headers, self.with_fault_file(q), keep, conn_line)
        if path.startswith("/files/") and self.server.files_dir:
            name = urllib.parse.unquote(path[len("/files/"):])
            if "/" in name or name.startswith(".") or not name:
                return self.simple(404, b"not found", keep)
            try:
                with open(os.path.join(self.server.files_dir, name), "rb") as f:
                    content = f.read()
            except OSError:
                return self.simple(404, b"not found", keep)
            return self.serve_file(method, headers, self.with_fault_file(q), keep, conn_line,
                                   content)
        return self.simple(404, b"not found", keep)

    def with_fault_file(self, q):
        """The request's parameters plus those of --fault-file, read anew for each request."""
        if not self.server.fault_file:
            return q
        try:
            with open(self.server.fault_file, encoding="ascii") as f:
                extra = dict(urllib.parse.parse_qsl(f.read().strip(), keep_blank_values=True))
        except OSError:
            return q
        merged = dict(q)
        merged.update(extra)
        return merged

    def simple(self, code, body, keep, extra=b""):
        head = ("HTTP/1.1 %d Scripted\r\nContent-Length: %d\r\n" % (code, len(body))).encode()
        head += extra + (b"Connection: keep-alive\r\n" if keep else b"Connection: close\r\n")
        self.send(head + b"\r\n" + body)
        return keep

    def chaos(self, q, rng, ranged):
        """Picks at most one random fault for this request (soak runs): returns the parameters
        that stand for it."""
        if rng.random() >= float(q.get("chaos", "0")):
            return {}
        size = int(q.get("size", "100000"))
        kind = rng.choice(["drop", "stall", "503", "ignore_range", "wrong_start", "cut_chunked",
                           "slow_head", "change"])
        if kind == "drop":
            cut = "reset_after" if rng.random() < 0.5 else "drop_after"
            return {cut: str(rng.randrange(0, max(1, size)))}
        if kind == "stall":
            return {"stall_after": str(rng.randrange(0, max(1, size)))}
        if kind == "503":
            return {"status": "503"}
        if kind == "ignore_range" and ranged:
            return {"ignore_range": ""}
        if kind == "wrong_start" and ranged:
            return {"wrong_start": str(rng.choice([-1, 1]) * rng.randrange(1, 5000))}
        if kind == "cut_chunked":
            return {"chunked": "", "drop_after": str(rng.randrange(0, max(1, size)))}
        if kind == "slow_head":
            return {"head_delay": "%.2f" % rng.uniform(0.2, 2.5)}
        if kind == "change" and q.get("validator", "etag") != "none":
            # Without validators a change of the same size cannot be told by anyone.
            return {"bump": ""}
        return {}

    def serve_file(self, method, headers, q, keep, conn_line, content=None):
        """The generated file, or `content` (a served file's bytes) when given."""
        size = len(content) if content is not None else int(q.get("size", "100000"))
        rng_text = headers.get("range", "")
        # Every range request but the first, open-ended "bytes=0-" one.
        ranged = rng_text.startswith("bytes=") and rng_text.strip() != "bytes=0-"
        tag = q.get("tag", "")
        if "chaos" in q:
            with self.server.lock:
                self.server.requests += 1
                n = self.server.requests
            rng = random.Random("%s/%s/%d" % (q.get("seed", "0"), tag, n))
            faults = self.chaos(q, rng, ranged)
            if "bump" in faults:
                self.server.versions.bump(tag)
            q = dict(q)
            q.update(faults)
        elif "only_ranged" in q and not ranged:
            # The faults are meant for the requests after the first, open-ended one.
            q = {k: v for k, v in q.items() if k in ("size", "version", "validator", "tag",
                                                     "change_after", "change_every", "rate")}
        version = self.server.versions.on_request(tag, q)
        if "head_delay" in q:
            time.sleep(float(q["head_delay"]))
        if "status" in q:
            return self.simple(int(q["status"]), b"scripted failure", keep)
        if "range_status" in q and ranged:
            return self.simple(int(q["range_status"]), b"scripted failure", keep)
        rate = int(q.get("rate", "0"))
        validator = q.get("validator", "etag")
        etag = '"v%d-%d"' % (version, size)
        modified = email.utils.formatdate(1500000000 + version * 86400, usegmt=True)
        current = etag if validator == "etag" else modified if validator == "lastmod" else None
        first, last = 0, size - 1
        partial = False
        if_range = headers.get("if-range")
        honour = "ignore_range" not in q and size > 0 and (if_range is None or if_range == current)
        if rng_text.startswith("bytes=") and honour:
            a, _, b = rng_text[6:].partition("-")
            try:
                first = int(a)
                last = min(int(b), size - 1) if b else size - 1
                partial = True
            except ValueError:
                first, last = 0, size - 1
            if first >= size or first > last:
                return self.simple(416, b"", keep, ("Content-Range: bytes */%d\r\n" % size).encode())
        data = content[first:last + 1] if content is not None else file_bytes(first, last + 1, version)
        if "drop_at" in q and int(q["drop_at"]) - first < len(data):
            # A cut at an offset of the file rather than of this response.
            q = dict(q)
            q["drop_after"] = str(max(0, int(q["drop_at"]) - first))
        if partial:
            shown = first + int(q.get("wrong_start", "0"))
            head = b"HTTP/1.1 206 Partial Content\r\n"
            head += ("Content-Range: bytes %d-%d/%d\r\n" % (shown, shown + len(data) - 1, size)).encode()
        else:
            head = b"HTTP/1.1 200 OK\r\n"
        if validator == "etag":
            head += ("ETag: %s\r\n" % etag).encode()
        if validator in ("etag", "lastmod"):
            head += ("Last-Modified: %s\r\n" % modified).encode()
        chunked = "chunked" in q
        if chunked:
            head += b"Transfer-Encoding: chunked\r\n"
        elif "no_length" not in q:
            head += ("Content-Length: %d\r\n" % len(data)).encode()
        else:
            keep = False
            conn_line = b"Connection: close\r\n"
        if "omit_connection" in q and keep:
            conn_line = b""
        head += conn_line + b"\r\n"
        if method == "HEAD":
            self.send(head)
            return keep
        self.send(head)
        if chunked:
            piece = int(q.get("chunk", "4096"))
            framed = bytearray()
            for i in range(0, len(data), piece):
                part = data[i:i + piece]
                framed += b"%x\r\n" % len(part) + part + b"\r\n"
            framed += b"0\r\n\r\n"
            data = bytes(framed)
        if "drop_after" in q:
            self.send(data[:int(q["drop_after"])], rate)
            return False
        if "reset_after" in q:
            self.send(data[:int(q["reset_after"])], rate)
            self.reset()
            return False
        if "stall_after" in q:
            self.send(data[:int(q["stall_after"])], rate)
            self.stall()
            return False
        if "trickle_after" in q:
            n = int(q["trickle_after"])
            self.send(data[:n], rate)
            self.send(data[n:], 100)
            return keep
        self.send(data, rate)
        return keep

    def reset(self):
        # An abortive close (RST), as a crashed server or a broken path gives.
        try:
            self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass


class ScriptHandler(socketserver.BaseRequestHandler):
    """--script mode: after each message from the peer, the next scripted reply."""

    def handle(self):
        try:
            for reply in self.server.script:
                if not self.request.recv(65536):
                    return
                self.request.sendall(reply)
            while self.request.recv(65536):
                pass
        except OSError:
            return


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True
    block_on_close = False
    request_queue_size = 128

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.lock = threading.Lock()
        self.connections = 0
        self.requests = 0
        self.versions = Versions()
        self.files_dir = None
        self.fault_file = None


class Server6(Server):
    address_family = socket.AF_INET6


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=0, help="port to listen on (0: a free one)")
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--files", default=None, help="folder whose files /files/<name> serves")
    parser.add_argument("--fault-file", default=None,
                        help="file whose query text, while it exists, adds to every file request")
    parser.add_argument("--script", default=None,
                        help="not HTTP: comma-separated hex replies, one per message received")
    args = parser.parse_args()
    kind = Server6 if ":" in args.bind else Server
    if args.script is not None:
        server = kind((args.bind, args.port), ScriptHandler)
        server.script = [bytes.fromhex(r) for r in args.script.split(",") if r]
    else:
        server = kind((args.bind, args.port), Handler)
    server.files_dir = args.files
    server.fault_file = args.fault_file
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except (KeyboardInterrupt, SystemExit):
        pass


if __name__ == "__main__":
    main()
