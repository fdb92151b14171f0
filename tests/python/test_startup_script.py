"""The device's start-up script system/S90mirel with the real programs in a
fresh simulation root: the server first, the panel once the server listens,
a program that died started again, stop ends everything."""
import os
import signal
import socket
import stat
import subprocess
import tempfile
import time
import unittest

SERVER = os.environ["MIREL_SERVER_BIN"]
APP = os.environ["MIREL_APP_BIN"]
SOURCE = os.environ["MIREL_SOURCE_DIR"]
EMULATOR = [a for a in os.environ.get("MIREL_TEST_EMULATOR", "").split("|") if a]
SCRIPT = os.path.join(SOURCE, "system/S90mirel")
TIMEOUT = 20


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, pred, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while not pred():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A zombie is dead too (its parent has not collected it yet).
    with open("/proc/%d/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()[0] != "Z"


class StartupScript(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="mirel-start-")
        self.addCleanup(tmp.cleanup)
        self.root = os.path.join(tmp.name, "root")
        subprocess.run([os.path.join(SOURCE, "tools/sim-root"), self.root], check=True, stdout=subprocess.DEVNULL)
        os.mkfifo(os.path.join(self.root, "dev/input/event0"))
        # The image's /usr/bin: the programs, behind the emulator in the cross build.
        self.bin = os.path.join(tmp.name, "bin")
        os.mkdir(self.bin)
        for name, path in (("mirelserver", SERVER), ("mirelapp", APP)):
            launcher = os.path.join(self.bin, name)
            with open(launcher, "w") as f:
                f.write("#!/bin/sh\nexec %s\n" % " ".join("'%s'" % a for a in EMULATOR + [path]))
            os.chmod(launcher, stat.S_IRWXU)
        self.port = free_port()
        self.env = dict(os.environ, MIREL_ROOT=self.root, MIREL_BIN=self.bin, MIREL_PORT=str(self.port),
                        SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
        self.addCleanup(self.kill_everything)

    def script(self, *args):
        return subprocess.run([SCRIPT] + list(args), env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=TIMEOUT).stdout.decode()

    def tmp(self, name):
        return os.path.join(self.root, "tmp", name)

    def read(self, name):
        try:
            with open(self.tmp(name)) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def pid(self, name):
        text = self.read(name + ".pid").strip()
        return int(text) if text else 0

    def kill_everything(self):
        """Whatever a failed test left: the script's process group."""
        pid = self.pid("mirel-start")
        if pid:
            try:
                os.killpg(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass

    def accepts(self):
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
            return True
        except OSError:
            return False

    def test_starts_keeps_and_stops_both_programs(self):
        self.script("start")
        wait_for("the panel's connection", lambda: "conn id: " in self.read("mirelapp.log"))
        started = self.read("mirel-start.log")
        order = [started.find(s) for s in ("mirelserver started", "mirelserver listens on port %d" % self.port,
                                           "mirelapp started")]
        self.assertTrue(0 <= order[0] < order[1] < order[2], started)
        self.assertIn("mirelserver: running", self.script("status"))
        self.assertEqual("already", self.script("start").split()[1].strip())

        server, panel = self.pid("mirelserver"), self.pid("mirelapp")
        os.kill(server, signal.SIGKILL)
        wait_for("a new server", lambda: self.pid("mirelserver") not in (0, server) and self.accepts())
        self.assertIn("mirelserver ended (status 137), starting it again", self.read("mirel-start.log"))
        # The same panel finds the new server.
        wait_for("the panel's reconnection", lambda: self.read("mirelapp.log").count("conn id: ") >= 2)
        self.assertEqual(self.pid("mirelapp"), panel)

        connections = self.read("mirelapp.log").count("conn id: ")
        os.kill(panel, signal.SIGKILL)
        wait_for("a new panel", lambda: self.pid("mirelapp") not in (0, panel))
        wait_for("the new panel's connection", lambda: self.read("mirelapp.log").count("conn id: ") > connections)

        pids = [self.pid(n) for n in ("mirel-start", "mirelserver", "mirelapp")]
        self.script("stop")
        for pid in pids:
            wait_for("the end of %d" % pid, lambda: not alive(pid))
        self.assertNotIn(": running", self.script("status"))
        self.assertFalse(self.accepts())


if __name__ == "__main__":
    unittest.main()
