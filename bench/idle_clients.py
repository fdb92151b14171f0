#!/usr/bin/env python3
"""CPU share and resident memory of mirelserver with idle WebSocket clients.

Starts mirelserver in a fresh simulation root, connects N WebSocket clients
(default 8) that only receive (the levels, 40 times a second), and after a
settling second measures the server's CPU time over --seconds and its VmRSS.

    bench/idle_clients.py [path/to/mirelserver] [--clients 8] [--seconds 10]
"""
import argparse
import asyncio
import os
import socket
import subprocess
import sys
import tempfile
import time

import websockets

from procstat import cpu_seconds, free_port, rss_mib

HERE = os.path.dirname(os.path.abspath(__file__))


async def measure(port, pid, clients, seconds):
    received = [0] * clients

    async def client(i):
        async with websockets.connect(f"ws://127.0.0.1:{port}/", compression=None, max_size=None) as ws:
            async for _ in ws:
                received[i] += 1

    tasks = [asyncio.ensure_future(client(i)) for i in range(clients)]
    await asyncio.sleep(1.0)
    c0, t0, r0 = cpu_seconds(pid), time.monotonic(), sum(received)
    await asyncio.sleep(seconds)
    c1, t1, r1 = cpu_seconds(pid), time.monotonic(), sum(received)
    rss = rss_mib(pid)
    for t in tasks:
        t.cancel()
    return (c1 - c0) / (t1 - t0) * 100, rss, (r1 - r0) / (t1 - t0) / clients


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("server", nargs="?", default=os.path.join(HERE, "..", "build", "hw2", "mirelserver"))
    p.add_argument("--clients", type=int, default=8)
    p.add_argument("--seconds", type=float, default=10)
    args = p.parse_args()
    with tempfile.TemporaryDirectory() as root:
        subprocess.run([os.path.join(HERE, "..", "tools", "sim-root"), root], check=True, stdout=subprocess.DEVNULL)
        port = free_port()
        env = dict(os.environ, MIREL_ROOT=root, MIREL_PORT=str(port), MIREL_DNS_PORT=str(free_port()))
        server = subprocess.Popen([args.server], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 5
            while True:
                try:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                    break
                except OSError:
                    if time.monotonic() > deadline:
                        sys.exit("server did not listen")
                    time.sleep(0.02)
            cpu, rss, rate = asyncio.run(measure(port, server.pid, args.clients, args.seconds))
        finally:
            server.kill()
            server.wait()
    print(f"{args.clients} idle WebSocket clients: server CPU {cpu:.2f} % of one core, "
          f"resident {rss:.2f} MiB, {rate:.1f} broadcasts/s per client")


if __name__ == "__main__":
    main()
