"""Headless Chromium driven over the DevTools protocol (python3-websockets
only): start it in a fresh profile, open a page, evaluate script, send mouse
input, take screenshots, read its CPU time. Used by the browser tests and
the page's benchmark."""
import asyncio
import base64
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.request

import websockets

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-extensions", "--mute-audio", "--hide-scrollbars", "--remote-debugging-port=0"]
START_TIMEOUT = 20


class BrowserUnavailable(Exception):
    """Chromium is not installed or did not start."""


def read_text(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


def chromium_path():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


class Browser:
    """One Chromium with one page. Every call has a deadline."""

    def __init__(self):
        self.proc = None
        self.ws = None
        self.next_id = 0
        self.events = []
        self.log = None
        self.profile = tempfile.TemporaryDirectory(prefix="mirel-chromium-")

    async def start(self, width=1400, height=900):
        exe = chromium_path()
        if exe is None:
            raise BrowserUnavailable("chromium is not installed (Debian package 'chromium', tools/dev installs it)")
        port_file = os.path.join(self.profile.name, "DevToolsActivePort")
        self.log = open(os.path.join(self.profile.name, "chromium.log"), "wb")
        # A session of its own, so that every process it forks is ended with it.
        self.proc = subprocess.Popen([exe, *FLAGS, "--user-data-dir=" + self.profile.name,
                                      "--window-size=%d,%d" % (width, height), "about:blank"],
                                     stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log,
                                     start_new_session=True)
        deadline = time.monotonic() + START_TIMEOUT
        while len(read_text(port_file).split("\n")) < 2:  # the port, then the browser's path
            if self.proc.poll() is not None or time.monotonic() > deadline:
                log = read_text(self.log.name)[-2000:]
                self.close()
                raise BrowserUnavailable("chromium did not start; its log:\n" + log)
            await asyncio.sleep(0.05)
        port = int(read_text(port_file).split("\n")[0])
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%d/json/list" % port, timeout=5))
        page = next(t for t in targets if t["type"] == "page")
        self.ws = await websockets.connect(page["webSocketDebuggerUrl"], max_size=None, ping_interval=None)
        await self.call("Page.enable")
        await self.call("Runtime.enable")
        await self.viewport(width, height)

    async def call(self, method, timeout=10, **params):
        self.next_id += 1
        mine = self.next_id
        await self.ws.send(json.dumps({"id": mine, "method": method, "params": params}))
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no answer to " + method)
            msg = json.loads(await asyncio.wait_for(self.ws.recv(), left))
            if msg.get("id") == mine:
                if "error" in msg:
                    raise RuntimeError("%s: %s" % (method, msg["error"]))
                return msg.get("result", {})
            if "method" in msg:
                self.events.append(msg)
                del self.events[:-200]

    async def viewport(self, width, height, scale=1, mobile=False):
        await self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                        deviceScaleFactor=scale, mobile=mobile)

    async def open(self, url):
        await self.call("Page.navigate", url=url)

    async def eval(self, expr):
        r = await self.call("Runtime.evaluate", expression=expr, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in r:
            raise RuntimeError("script failed: %s\n%s" % (expr, r["exceptionDetails"]))
        return r["result"].get("value")

    async def wait_for(self, expr, timeout=10, what=None):
        """Evaluates expr until it is truthy; returns its value."""
        deadline = time.monotonic() + timeout
        value = None
        while time.monotonic() < deadline:
            try:
                value = await self.eval(expr)
            except RuntimeError:
                value = None  # the page is still loading
            if value:
                return value
            await asyncio.sleep(0.05)
        raise AssertionError("timed out waiting for %s (last value %r)" % (what or expr, value))

    async def mouse(self, kind, x, y, buttons=0, modifiers=0):
        await self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left",
                        buttons=buttons, clickCount=1, modifiers=modifiers)

    async def drag(self, x0, y0, x1, y1, steps=8):
        """Press at (x0, y0), move in steps to (x1, y1), release."""
        await self.mouse("mouseMoved", x0, y0)
        await self.mouse("mousePressed", x0, y0, buttons=1)
        for k in range(1, steps + 1):
            await self.mouse("mouseMoved", x0 + (x1 - x0) * k / steps, y0 + (y1 - y0) * k / steps, buttons=1)
            await asyncio.sleep(0.02)
        await self.mouse("mouseReleased", x1, y1)

    async def center(self, selector):
        """The middle of an element in page coordinates, once it is shown."""
        return await self.wait_for("(() => { const e = document.querySelector(%s);"
                                   " const r = e && e.getBoundingClientRect();"
                                   " return r && r.width > 0 && [r.x + r.width / 2, r.y + r.height / 2]; })()"
                                   % json.dumps(selector), what="%s shown" % selector)

    async def click(self, selector):
        x, y = await self.center(selector)
        await self.mouse("mouseMoved", x, y)
        await self.mouse("mousePressed", x, y, buttons=1)
        await self.mouse("mouseReleased", x, y)

    async def screenshot(self, path):
        r = await self.call("Page.captureScreenshot", format="png", timeout=20)
        with open(path, "wb") as f:
            f.write(base64.b64decode(r["data"]))

    def cpu_seconds(self):
        """User and system CPU time of every process of the browser's session."""
        tick = os.sysconf("SC_CLK_TCK")
        total = 0
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open("/proc/%s/stat" % pid) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[3]) == self.proc.pid:  # session id (field 6)
                total += int(fields[11]) + int(fields[12])
        return total / tick

    async def aclose(self):
        if self.ws is not None:
            await self.ws.close()
            self.ws = None
        self.close()

    def close(self):
        if self.proc is not None and self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        if self.proc is not None:
            # Its helpers may outlive the main process for a moment.
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.proc = None
        if getattr(self, "log", None) is not None:
            self.log.close()
            self.log = None
        self.profile.cleanup()
