#!/usr/bin/env python3
"""Analytics collector for the demo and the end-to-end tests.

Accepts POST /mp/collect?measurement_id=...&api_secret=... on 127.0.0.1, checks that each body
has exactly the shape the downloader sends, prints one line per event and appends it to a file.

    collector.py [--port N] [--events FILE] [--cert CERT --key KEY]

The first output line is "PORT <n>" once it listens. Each accepted event is printed as
"EVENT <name> client_id=<id> category=<text>"; a body of the wrong shape is answered 400 and
printed as "REJECTED <reason>". With --events every line is also appended to FILE.
"""
import argparse
import http.server
import json
import re
import ssl
import sys
import threading
import urllib.parse

EVENT_NAMES = {"Downloader_Start_Install", "Downloader_Installed", "Installed_Succeed"}
CLIENT_ID = re.compile(r"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9a-f]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
MAX_BODY = 64 * 1024


def keys_in_order(obj, expected, where):
    if not isinstance(obj, dict):
        return f"{where} is not an object"
    if list(obj.keys()) != expected:
        return f"{where} has members {list(obj.keys())}, expected {expected}"
    return None


def check_body(body):
    """Returns (event, None) for a well-formed body, (None, reason) otherwise."""
    try:
        doc = json.loads(body, object_pairs_hook=lambda pairs: dict(pairs))
    except (ValueError, UnicodeDecodeError) as e:
        return None, f"not JSON: {e}"
    for obj, expected, where in (
        (doc, ["client_id", "user_properties", "events"], "body"),
        (doc.get("user_properties") if isinstance(doc, dict) else None, ["uid"], "user_properties"),
    ):
        reason = keys_in_order(obj, expected, where)
        if reason:
            return None, reason
    uid = doc["user_properties"]["uid"]
    reason = keys_in_order(uid, ["value"], "user_properties.uid")
    if reason:
        return None, reason
    client_id = doc["client_id"]
    if not isinstance(client_id, str) or not CLIENT_ID.match(client_id):
        return None, f"client_id {client_id!r} is not an upper-case GUID with a lower-case third group"
    if uid["value"] != client_id:
        return None, "user_properties.uid.value differs from client_id"
    events = doc["events"]
    if not isinstance(events, list) or len(events) != 1:
        return None, "events must hold exactly one event"
    event = events[0]
    reason = keys_in_order(event, ["name", "params"], "events[0]")
    if reason:
        return None, reason
    if event["name"] not in EVENT_NAMES:
        return None, f"unknown event name {event['name']!r}"
    params = event["params"]
    reason = keys_in_order(params, ["event_category", "event_label"], "events[0].params")
    if reason:
        return None, reason
    if not isinstance(params["event_category"], str) or not params["event_category"]:
        return None, "event_category must be a non-empty string"
    if params["event_label"] != client_id:
        return None, "event_label differs from client_id"
    return {"name": event["name"], "client_id": client_id, "category": params["event_category"]}, None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def answer(self, code, text):
        data = text.encode()
        self.send_response(code)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_POST(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qsl(url.query, keep_blank_values=True)
        length = int(self.headers.get("Content-Length") or 0)
        if length < 0 or length > MAX_BODY:
            self.server.record("REJECTED body of %d bytes" % length)
            return self.answer(413, "too large")
        body = self.rfile.read(length)
        if url.path != "/mp/collect" or [k for k, _ in query] != ["measurement_id", "api_secret"]:
            self.server.record("REJECTED target %s" % self.path)
            return self.answer(404, "unknown target")
        if not (self.headers.get("Content-Type") or "").startswith("application/json"):
            self.server.record("REJECTED content type %s" % self.headers.get("Content-Type"))
            return self.answer(400, "content type")
        event, reason = check_body(body)
        if reason:
            self.server.record("REJECTED " + reason)
            return self.answer(400, reason)
        self.server.record("EVENT %s client_id=%s category=%s"
                           % (event["name"], event["client_id"], event["category"]))
        self.answer(200, "")

    def do_GET(self):
        self.answer(405, "POST only")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, events_file):
        super().__init__(address, Handler)
        self.lock = threading.Lock()
        self.events_file = events_file

    def record(self, line):
        with self.lock:
            print(line, flush=True)
            if self.events_file:
                with open(self.events_file, "a", encoding="utf-8") as f:
                    f.write(line + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--events")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()
    server = Server(("127.0.0.1", args.port), args.events)
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
