#!/usr/bin/env python3
"""Soak run of kvget against the fault server.

Runs COUNT downloads of random sizes through tools/faultserver with random faults on each
request (resets and closes at random offsets, stalls, 503, 200 for a range, shifted
Content-Range, cut chunked bodies, slow heads, a file that changes during the run), and kills
KILLS of them with SIGKILL at a random moment before running them again to the end. Every
download must end either with exit 0 and a file equal to one whole version of the served file,
or with exit 1 and a one-line reason; anything else (a wrong file, a hang, a crash) fails the
soak.

  kvget_soak.py --kvget build/dev/tools/kvget/kvget [--count 1000] [--kills 100] [--parallel 4]

Prints one line per download that did not end correct, then the summary; exit 0 when no
download ended wrong, hung or crashed.
"""
import argparse
import collections
import concurrent.futures
import hashlib
import math
import os
import random
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools", "faultserver"))
import faultserver  # noqa: E402  (file_bytes: the content the server sends)

MAX_VERSIONS = 12  # a file changes at most this often in one soak download


def start_server(log_path):
    log = open(log_path, "wb")
    proc = subprocess.Popen([sys.executable, os.path.join(ROOT, "tools/faultserver/faultserver.py"),
                             "--port", "0"], stdout=subprocess.PIPE, stderr=log)
    line = proc.stdout.readline().decode()
    if not line.startswith("PORT "):
        proc.kill()
        raise SystemExit("fault server did not start")
    return proc, int(line.split()[1])


class Soak:
    def __init__(self, args, port, work):
        self.args = args
        self.port = port
        self.work = work
        self.lock = threading.Lock()
        self.outcomes = collections.Counter()
        self.reasons = collections.Counter()
        self.bad = []
        self.digests = {}

    def digest_of(self, size, version):
        key = (size, version)
        with self.lock:
            if key in self.digests:
                return self.digests[key]
        h = hashlib.sha256()
        step = 1 << 20
        for at in range(0, size, step):
            h.update(faultserver.file_bytes(at, min(size, at + step), version))
        with self.lock:
            self.digests[key] = h.hexdigest()
        return self.digests[key]

    def run_kvget(self, cmd, deadline, kill_after=None):
        """Runs kvget; returns (exit status or None when it had to be killed, stderr text)."""
        proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                env=dict(os.environ, KVGET_LOG_DIR=os.path.join(self.work, "log")))
        try:
            if kill_after is not None:
                try:
                    proc.wait(timeout=kill_after)
                except subprocess.TimeoutExpired:
                    proc.send_signal(signal.SIGKILL)
                    proc.wait()
                    return "killed", proc.stderr.read().decode(errors="replace")
            proc.wait(timeout=deadline)
        except subprocess.TimeoutExpired:
            proc.send_signal(signal.SIGKILL)
            proc.wait()
            return None, proc.stderr.read().decode(errors="replace")
        return proc.returncode, proc.stderr.read().decode(errors="replace")

    def one(self, i, kill):
        rnd = random.Random("%d/%d" % (self.args.seed, i))
        size = int(math.exp(rnd.uniform(math.log(1024), math.log(self.args.max_size))))
        validator = rnd.choices(["etag", "lastmod", "none"], [6, 2, 1])[0]
        conns = rnd.choice([1, 2, 4, 8, 8])
        tag = "s%d-%d" % (self.args.seed, i)
        url = ("http://127.0.0.1:%d/file?size=%d&chaos=%.2f&seed=%d&tag=%s&validator=%s"
               % (self.port, size, self.args.chaos, self.args.seed, tag, validator))
        out = os.path.join(self.work, "d%d.bin" % i)
        cmd = [self.args.kvget, "-n", str(conns), "--timeout", str(self.args.timeout), url, out]
        steps = []
        if kill:
            status, err = self.run_kvget(cmd, self.args.deadline, rnd.uniform(0.05, 3.0))
            steps.append(status)
            if status is None:
                return self.record(i, "hung", size, "killed after %ds" % self.args.deadline)
        status, err = self.run_kvget(cmd, self.args.deadline)
        steps.append(status)
        if status is None:
            return self.record(i, "hung", size, "no end within %ds" % self.args.deadline)
        if status == 0:
            data = open(out, "rb").read() if os.path.exists(out) else b""
            if len(data) == size:
                got = hashlib.sha256(data).hexdigest()
                for v in range(MAX_VERSIONS):
                    if got == self.digest_of(size, v):
                        return self.record(i, "correct", size, "")
            return self.record(i, "WRONG FILE", size, "exit 0 with %d bytes, matching no version"
                               % len(data))
        if status == 1 and err.count("\n") == 1 and err.startswith("kvget: "):
            reason = err.strip()[len("kvget: "):]
            return self.record(i, "clear error", size, reason)
        return self.record(i, "crash", size, "exit %s: %r" % (status, err[-300:]))

    def record(self, i, outcome, size, detail):
        with self.lock:
            self.outcomes[outcome] += 1
            if outcome == "clear error":
                # "HTTP 503 ..." / "connection closed before the end (12 of 30 bytes)": the kind.
                self.reasons[detail.split(" (")[0]] += 1
            elif outcome != "correct":
                self.bad.append((i, outcome, size, detail))
                print("download %d (%d bytes): %s %s" % (i, size, outcome, detail), flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--kvget", required=True)
    ap.add_argument("--count", type=int, default=1000)
    ap.add_argument("--kills", type=int, default=None, help="default: a tenth of --count")
    ap.add_argument("--parallel", type=int, default=4)
    ap.add_argument("--seed", type=int, default=int(time.time()))
    ap.add_argument("--max-size", type=int, default=4 << 20)
    ap.add_argument("--chaos", type=float, default=0.25, help="chance of a fault per request")
    ap.add_argument("--timeout", type=int, default=2, help="kvget --timeout")
    ap.add_argument("--deadline", type=int, default=300, help="seconds before a run counts as hung")
    args = ap.parse_args()
    kills = args.count // 10 if args.kills is None else args.kills
    killed = set(random.Random(args.seed).sample(range(args.count), min(kills, args.count)))

    work = tempfile.mkdtemp(prefix="kvget-soak-")
    server, port = start_server(os.path.join(work, "server.log"))
    soak = Soak(args, port, work)
    t0 = time.time()
    try:
        with concurrent.futures.ThreadPoolExecutor(args.parallel) as pool:
            list(pool.map(lambda i: soak.one(i, i in killed), range(args.count)))
    finally:
        server.send_signal(signal.SIGTERM)
        server.wait()
    elapsed = time.time() - t0
    print("soak: %d downloads (%d killed and run again), seed %d, %.0f s"
          % (args.count, len(killed), args.seed, elapsed))
    for outcome in ("correct", "clear error", "WRONG FILE", "hung", "crash"):
        print("  %-12s %d" % (outcome, soak.outcomes[outcome]))
    for reason, n in soak.reasons.most_common():
        print("    %4d  %s" % (n, reason))
    ok = not soak.bad
    if ok:
        subprocess.run(["rm", "-rf", work])
    else:
        print("files kept in " + work)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
