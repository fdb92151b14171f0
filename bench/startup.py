#!/usr/bin/env python3
"""Start-up time and resident memory of mirelserver.

Starts the server N times in a fresh simulation root and measures the time
from exec until its main thread blocks for good (pause or join), then reads
VmRSS. A fresh root is a device's first start: the server creates its
database. With "restart" every run starts in one root that an unmeasured
first start has set up, as the device starts every day.
Usage: bench/startup.py [path/to/mirelserver] [runs] [restart]
"""
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "hw2", "mirelserver")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 20
RESTART = len(sys.argv) > 3 and sys.argv[3] == "restart"
WAITING_SYSCALLS = {"34", "202"}  # pause, futex (x86_64)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main_thread_waiting(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/syscall") as f:
            call = f.read().split()[0]
        with open(f"/proc/{pid}/task/{pid}/stat") as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
    except OSError:
        return False
    return state == "S" and call in WAITING_SYSCALLS


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def one_run(root):
    env = dict(os.environ, MIREL_ROOT=root, MIREL_PORT=str(free_port()), MIREL_DNS_PORT=str(free_port()))
    t0 = time.perf_counter()
    p = subprocess.Popen([SERVER], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = t0 + 5
        # Stable for 20 ms: the main thread waits and stays waiting.
        while time.perf_counter() < deadline:
            if main_thread_waiting(p.pid):
                t1 = time.perf_counter()
                time.sleep(0.02)
                if main_thread_waiting(p.pid):
                    return (t1 - t0) * 1000, rss_kib(p.pid)
            time.sleep(0.0005)
        raise RuntimeError("server did not settle")
    finally:
        p.kill()
        p.wait()


def make_root(root):
    subprocess.run([os.path.join(HERE, "..", "tools", "sim-root"), root], check=True, stdout=subprocess.DEVNULL)


def fresh_run():
    with tempfile.TemporaryDirectory() as root:
        make_root(root)
        return one_run(root)


def main():
    with tempfile.TemporaryDirectory() as kept:
        if RESTART:
            make_root(kept)
            one_run(kept)
        times, rss = zip(*(one_run(kept) if RESTART else fresh_run() for _ in range(RUNS)))
    print(f"runs: {RUNS}")
    print(f"start-up until waiting: median {statistics.median(times):.1f} ms, max {max(times):.1f} ms")
    print(f"resident memory after start-up: median {statistics.median(rss) / 1024:.2f} MiB")


if __name__ == "__main__":
    main()
