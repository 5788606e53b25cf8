#!/usr/bin/env python3
"""The demo carousel service: the banner list and the banner images, on 127.0.0.1.

Usage: carousel_server.py [--port N] [--port-file FILE] [--log FILE] [--brand DIR]
                          [--banners DIR] [--list N] [--code N] [--stall SECONDS]
                          [--upper-digests] [--cut-image N]... [--missing-image N]...
                          [--html-image N]... [--big-image N]...

GET /downloader/carousel?pid=PID&lang=LANGUAGE answers
  {"code": 1, "message": "ok", "data": {"list": [{"url": ..., "md5": ...}, ...]}}
for the product id and every language name of the brand (its productInfo.ini and
language.ini); another product or language gets code 0. Entry k (from 1) is
/downloader/banners/k.png, which serves banner image ((k - 1) mod 3) + 1 of the banner folder.

Switches, on the command line for every request or as query parameters of one carousel
request (which pass the image switches on into the image URLs it lists):
  list=N       list N entries (default 3)
  code=N       answer this code instead of 1
  stall=S      wait S seconds before answering the list
  upper=1      digests in upper case
  pad=N        a message of N characters (an oversized answer)
  cut=K,...    entry K sends its full length but closes after half the body
  missing=K,.. entry K answers 404 with an error page
  html=K,...   entry K answers 200 with an HTML page instead of a picture
  big=K,...    entry K answers 200 with three megabytes

Every request is logged as one line "METHOD PATH" (flushed at once), so tests can prove
what was fetched. The port is printed to --port-file when given (useful with --port 0).
"""
import argparse
import hashlib
import json
import os
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))


def read_ini_values(path, section):
    """Key/value pairs of one section of an ini file (UTF-16 with BOM or 8-bit)."""
    with open(path, "rb") as f:
        raw = f.read()
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("utf-8")
    values, current = {}, None
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1].strip().lower()
            continue
        if current == section.lower() and "=" in line:
            key, value = line.split("=", 1)
            values[key.strip()] = value.strip()
    return values


def numbers(text):
    return {int(v) for v in text.split(",") if v.strip().isdigit()} if text else set()


class Settings:
    def __init__(self, args):
        self.languages = set(read_ini_values(os.path.join(args.brand, "language.ini"),
                                             "Language").values())
        self.pid = read_ini_values(os.path.join(args.brand, "productInfo.ini"),
                                   "PRODUCT").get("STR_PID", "")
        self.images = []
        for i in (1, 2, 3):
            with open(os.path.join(args.banners, f"banner_{i}.png"), "rb") as f:
                self.images.append(f.read())
        self.digests = [hashlib.md5(b).hexdigest() for b in self.images]
        self.defaults = {
            "list": str(args.list), "code": str(args.code), "stall": str(args.stall),
            "upper": "1" if args.upper_digests else "",
            "cut": ",".join(map(str, args.cut_image)),
            "missing": ",".join(map(str, args.missing_image)),
            "html": ",".join(map(str, args.html_image)),
            "big": ",".join(map(str, args.big_image)),
        }


class Handler(BaseHTTPRequestHandler):
    server_version = "KVDemoCarousel/1.0"
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass  # the request log below is the only one

    def switches(self, query):
        s = dict(self.server.settings.defaults)
        for key, values in urllib.parse.parse_qs(query).items():
            s[key] = values[-1]
        return s

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        self.server.log_request_line(f"{self.command} {self.path}")
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/downloader/carousel":
            self.carousel(url.query)
        elif url.path.startswith("/downloader/banners/") and url.path.endswith(".png"):
            self.image(url.path[len("/downloader/banners/"):-len(".png")], url.query)
        else:
            self.send_page(404, "Not Found")

    def send_body(self, status, content_type, body, length=None):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
            self.wfile.flush()
        self.close_connection = True

    def send_page(self, status, title):
        page = f"<html><head><title>{status} {title}</title></head><body><h1>{title}</h1></body></html>"
        self.send_body(status, "text/html", page.encode())

    def carousel(self, query):
        settings = self.server.settings
        s = self.switches(query)
        asked = urllib.parse.parse_qs(query)
        stall = float(s["stall"] or 0)
        if stall > 0:
            time.sleep(stall)
        pid = asked.get("pid", [""])[-1]
        lang = asked.get("lang", [""])[-1]
        if pid != settings.pid or lang not in settings.languages:
            answer = {"code": 0, "message": "unknown product or language", "data": {}}
        else:
            host = self.headers.get("Host", f"127.0.0.1:{self.server.server_port}")
            # Behind the demo's https front the images are fetched through it too.
            scheme = "https" if self.headers.get("X-Forwarded-Proto") == "https" else "http"
            passed = {k: s[k] for k in ("cut", "missing", "html", "big") if s[k]}
            entries = []
            for k in range(1, int(s["list"] or 0) + 1):
                image_query = {"lang": lang}
                for key, value in passed.items():
                    if k in numbers(value):
                        image_query[key] = "1"
                digest = settings.digests[(k - 1) % 3]
                entries.append({
                    "url": f"{scheme}://{host}/downloader/banners/{k}.png?"
                           + urllib.parse.urlencode(image_query),
                    "md5": digest.upper() if s["upper"] else digest,
                })
            message = "x" * int(s.get("pad") or 0) or "ok"
            answer = {"code": int(s["code"]), "message": message, "data": {"list": entries}}
        self.send_body(200, "application/json", json.dumps(answer, indent=1).encode())

    def image(self, name, query):
        if not name.isdigit() or int(name) < 1:
            self.send_page(404, "Not Found")
            return
        settings = self.server.settings
        flags = urllib.parse.parse_qs(query)
        body = settings.images[(int(name) - 1) % 3]
        if "missing" in flags:
            self.send_page(404, "Not Found")
        elif "html" in flags:
            self.send_page(200, "Service temporarily unavailable")
        elif "big" in flags:
            self.send_body(200, "image/png", body + b"\0" * (3 * 1024 * 1024))
        elif "cut" in flags:
            # The full length is announced, half the body comes, then the connection ends.
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self.close_connection = True
        else:
            self.send_body(200, "image/png", body)


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, settings, log):
        super().__init__(address, Handler)
        self.settings = settings
        self.log = log
        self.log_lock = threading.Lock()

    def log_request_line(self, line):
        with self.log_lock:
            self.log.write(line + "\n")
            self.log.flush()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--port", type=int, default=18082)
    p.add_argument("--port-file")
    p.add_argument("--log")
    p.add_argument("--brand", default=os.path.join(REPO, "data"))
    p.add_argument("--banners", default=os.path.join(HERE, "banners"))
    p.add_argument("--list", type=int, default=3)
    p.add_argument("--code", type=int, default=1)
    p.add_argument("--stall", type=float, default=0)
    p.add_argument("--upper-digests", action="store_true")
    p.add_argument("--cut-image", type=int, action="append", default=[])
    p.add_argument("--missing-image", type=int, action="append", default=[])
    p.add_argument("--html-image", type=int, action="append", default=[])
    p.add_argument("--big-image", type=int, action="append", default=[])
    args = p.parse_args()

    log = open(args.log, "a", encoding="utf-8") if args.log else sys.stderr
    server = Server(("127.0.0.1", args.port), Settings(args), log)
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(f"{server.server_port}\n")
        os.replace(tmp, args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
