#!/usr/bin/env python3
"""CPU share of the FPGA model in live mode, as tools/dev run starts it.

Starts mirelserver and `fpgamodel --live` (its test signal) in a fresh
simulation root, waits until the server has enabled audio on the control
port, then measures the model's CPU time over --seconds.

    bench/fpgamodel_live.py [--build build/hw2] [--seconds 10]
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile
import time

from procstat import cpu_seconds, free_port

HERE = os.path.dirname(os.path.abspath(__file__))


def audio_enabled(root):
    with open(os.path.join(root, "dev/spi0"), "rb") as f:
        port = f.read()[4:]
    pos, on = 0, False
    while pos + 4 <= len(port):  # control words (00 01) and patch messages (00 02)
        if port[pos + 1] == 1:
            on = bool(struct.unpack("<H", port[pos + 2:pos + 4])[0] & 0x8000)
        pos += 4 if port[pos + 1] == 1 else 18
    return on


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(HERE, "..", "build", "hw2"))
    ap.add_argument("--seconds", type=float, default=10.0)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix="mirel-live-") as tmp:
        root = os.path.join(tmp, "root")
        subprocess.run([os.path.join(HERE, "..", "tools", "sim-root"), root], check=True, stdout=subprocess.DEVNULL)
        env = dict(os.environ, MIREL_ROOT=root, MIREL_PORT=str(free_port()), MIREL_DNS_PORT=str(free_port()))
        server = subprocess.Popen([os.path.join(args.build, "mirelserver")], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        model = subprocess.Popen([os.path.join(args.build, "sim/fpga/fpgamodel"), "--root", root, "--live"],
                                 stdout=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 10
            while not audio_enabled(root):
                if time.monotonic() > deadline:
                    sys.exit("the server never enabled audio")
                time.sleep(0.05)
            time.sleep(0.5)
            c0, t0 = cpu_seconds(model.pid), time.monotonic()
            time.sleep(args.seconds)
            c1, t1 = cpu_seconds(model.pid), time.monotonic()
            print(f"fpgamodel --live: {100 * (c1 - c0) / (t1 - t0):.1f} % of one core over {t1 - t0:.1f} s")
        finally:
            for p in (model, server):
                p.terminate()
                p.wait()


if __name__ == "__main__":
    main()
