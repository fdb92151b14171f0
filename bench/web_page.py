#!/usr/bin/env python3
"""The browser page: its size, the time from loading it to the first
complete mixer view, and the CPU that headless Chromium spends with every
meter moving (the FPGA model plays its test signal, all outputs unmuted).

    /usr/bin/python3 bench/web_page.py [--build build/hw2] [--loads 10] [--seconds 20]

The first complete mixer view is the moment the page has the whole dump
and has drawn every strip (window.mirelReady, milliseconds since the
navigation started). CPU is the time of every process of the browser's
session over --seconds, as a share of one core: with the mixer shown (meters
drawn 40 times a second) and with the device view shown (the same messages,
nothing drawn), so the difference is the meters' drawing.
"""
import argparse
import asyncio
import os
import statistics
import subprocess
import sys
import time
import urllib.request

from benchlib import Client, server_in_sim_root
from fpgamodel_live import audio_enabled

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "python"))
from browser import Browser  # noqa: E402


async def measure(port, loads, seconds):
    b = Browser()
    await b.start()
    try:
        url = "http://127.0.0.1:%d/" % port
        ready = []
        for _ in range(loads):
            await b.open(url + "?" + str(time.monotonic()))
            await b.wait_for("document.body.classList.contains('live')", 20)
            ready.append(await b.eval("window.mirelReady"))
        # Do the meters show the model's levels? A cover below full height
        # is a meter showing signal.
        look = ("[...document.querySelectorAll('.meter .cv')].some(e =>"
                " new DOMMatrix(getComputedStyle(e).transform).d < 0.99)")
        moving = await b.wait_for(look, 10)
        cpu = {}
        for view in ("mix", "dev"):
            await b.click('nav button[data-v="%s"]' % view)
            await asyncio.sleep(3)  # settle
            c0, t0 = b.cpu_seconds(), time.monotonic()
            await asyncio.sleep(seconds)
            cpu[view] = 100 * (b.cpu_seconds() - c0) / (time.monotonic() - t0)
        return ready, moving, cpu
    finally:
        await b.aclose()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(HERE, "..", "build", "hw2"))
    ap.add_argument("--loads", type=int, default=10)
    ap.add_argument("--seconds", type=float, default=20)
    a = ap.parse_args()
    page = os.path.getsize(os.path.join(HERE, "..", "web", "index.html"))
    with server_in_sim_root(os.path.join(a.build, "mirelserver")) as (root, port, _):
        model = subprocess.Popen([os.path.join(a.build, "sim/fpga/fpgamodel"), "--root", root, "--live"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 10
            while not audio_enabled(root):
                if time.monotonic() > deadline:
                    raise RuntimeError("the server never enabled audio")
                time.sleep(0.05)
            raw = Client(port)
            raw.sock.sendall("".join("44,%d,%d,0\n" % (raw.conn, o) for o in range(8)).encode())
            served = len(urllib.request.urlopen("http://127.0.0.1:%d/" % port, timeout=5).read())
            try:
                ready, moving, cpu = asyncio.run(measure(port, a.loads, a.seconds))
            except AssertionError:
                with open(os.path.join(root, "tmp", "server.err")) as err:
                    sys.stderr.write("server log:\n" + err.read())
                raise
        finally:
            model.kill()
            model.wait()
    print("page: %d bytes (%.1f KiB of 48 KiB), served %d bytes" % (page, page / 1024, served))
    print("first complete mixer view after loading, %d loads: median %.0f ms, min %.0f ms, max %.0f ms"
          % (len(ready), statistics.median(ready), min(ready), max(ready)))
    print("meters moving: %s" % ("yes" if moving else "NO"))
    print("browser CPU over %.0f s: mixer with meters %.1f %% of one core, device view %.1f %%"
          % (a.seconds, cpu["mix"], cpu["dev"]))
    return 0 if moving else 1


if __name__ == "__main__":
    sys.exit(main())
