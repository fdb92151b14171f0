#!/usr/bin/env python3
"""Longest pause a well-behaved client sees while others flood the server.

Starts mirelserver in a fresh simulation root. One raw client only listens
and notes when each broadcast (the level lines, 40 a second) arrives. For
--seconds it listens undisturbed, then for --seconds while flooders connect
again and again and send full-dump requests: one 4 KB message of 819 "1037"
lines (raw), or 1 KiB WebSocket frames of 204 requests each (--ws), as fast
as the server lets them. Prints the longest and the 99th-percentile gap
between broadcasts in both phases, the floods sent, the server's CPU share
and its resident memory.

    bench/flood_pause.py [path/to/mirelserver] [--seconds 10] [--flooders 2] [--ws]
"""
import argparse
import base64
import os
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TICKS = os.sysconf("SC_CLK_TCK")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def connect(port):
    for _ in range(200):
        try:
            return socket.create_connection(("127.0.0.1", port))
        except OSError:
            time.sleep(0.01)
    raise RuntimeError("server does not listen")


def ws_frame(payload, mask=b"\x5a\x17\xc3\x09"):
    head = bytes([0x81, 0x80 | 126]) + struct.pack(">H", len(payload)) if len(payload) >= 126 \
        else bytes([0x81, 0x80 | len(payload)])
    return head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload))


class Listener(threading.Thread):
    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = connect(port)
        self.sock.sendall(b"<mode>unix</mode>\n")
        self.arrivals = []
        self.stop = False

    def run(self):
        tail = b""
        self.sock.settimeout(0.05)
        while not self.stop:
            try:
                data = self.sock.recv(65536)
            except socket.timeout:
                continue
            if not data:
                return
            now = time.monotonic()
            tail += data
            n = tail.count(b"\n31,0,")
            tail = tail[tail.rfind(b"\n"):]
            self.arrivals.extend([now] * n)


def gaps(arrivals, t0, t1):
    g = sorted(b - a for a, b in zip(arrivals, arrivals[1:]) if b >= t0 and a <= t1)
    if not g:
        return 0.0, 0.0
    return g[-1] * 1000, g[min(len(g) - 1, int(len(g) * 0.99))] * 1000


def flooder(port, message, kind, until, counter):
    while time.monotonic() < until:
        s = None
        try:
            s = connect(port)
            if kind == "ws":
                key = base64.b64encode(os.urandom(16))
                s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          b"Sec-WebSocket-Key: " + key + b"\r\nSec-WebSocket-Version: 13\r\n\r\n")
            else:
                s.sendall(b"<mode>unix</mode>\n")
            s.sendall(message)
            counter[0] += 1
            if kind == "wlan":
                s.shutdown(socket.SHUT_WR)  # served, then closed by the server
            s.settimeout(20.0)
            while s.recv(65536):
                pass
        except OSError:
            pass
        finally:
            if s:
                s.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("server", nargs="?", default=os.path.join(HERE, "..", "build", "hw2", "mirelserver"))
    ap.add_argument("--seconds", type=float, default=10.0)
    ap.add_argument("--flooders", type=int, default=2)
    ap.add_argument("--kind", choices=["dump", "ws", "wlan"], default="dump")
    args = ap.parse_args()

    root = tempfile.mkdtemp(prefix="mirel-flood-")
    subprocess.run([os.path.join(HERE, "..", "tools", "sim-root"), root], check=True, stdout=subprocess.DEVNULL)
    port = free_port()
    env = dict(os.environ, MIREL_ROOT=root, MIREL_PORT=str(port), MIREL_DNS_PORT=str(free_port()))
    log = open(os.path.join(root, "tmp", "server.err"), "w")
    server = subprocess.Popen([args.server], env=env, stdout=subprocess.DEVNULL, stderr=log)
    try:
        listener = Listener(port)
        listener.start()
        time.sleep(1.0)
        t0 = time.monotonic()
        time.sleep(args.seconds)
        t1 = time.monotonic()

        if args.kind == "ws":
            message = ws_frame(b"1037\n" * 204) * 16
        elif args.kind == "wlan":
            message = b"".join(b"112,2,passphrase%d\n" % (1000 + i) for i in range(100))
        else:
            message = b"1037\n" * 819
        counter = [0]
        c0 = cpu_seconds(server.pid)
        until = time.monotonic() + args.seconds
        threads = [threading.Thread(target=flooder, args=(port, message, args.kind, until, counter))
                   for _ in range(args.flooders)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        t2 = time.monotonic()
        c1 = cpu_seconds(server.pid)
        rss = rss_mib(server.pid)
        time.sleep(0.2)
        listener.stop = True
        listener.join()

        quiet_max, quiet_p99 = gaps(listener.arrivals, t0, t1)
        flood_max, flood_p99 = gaps(listener.arrivals, until - args.seconds, t2)
        kind = {"dump": "full dumps, raw lines", "ws": "full dumps, WebSocket frames",
                "wlan": "WLAN passphrase changes"}[args.kind]
        print(f"floods ({kind}): {counter[0]} in {args.seconds:.0f} s by {args.flooders} flooders")
        print(f"broadcast gap, quiet:    longest {quiet_max:.1f} ms, p99 {quiet_p99:.1f} ms")
        print(f"broadcast gap, flooded:  longest {flood_max:.1f} ms, p99 {flood_p99:.1f} ms")
        print(f"server while flooded: {100 * (c1 - c0) / (t2 - (until - args.seconds)):.1f} % of one core, "
              f"{rss:.2f} MiB resident")
    finally:
        server.terminate()
        server.wait()
        subprocess.run(["rm", "-rf", root])


if __name__ == "__main__":
    sys.exit(main())
