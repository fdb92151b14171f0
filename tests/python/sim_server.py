"""mirelserver in a fresh simulation root on a free port, and a raw-mode
client of it, for the tests written against clients this project did not
write."""
import os
import socket
import subprocess
import tempfile
import threading
import time
import types

SERVER = os.environ["MIREL_SERVER_BIN"]
SOURCE = os.environ["MIREL_SOURCE_DIR"]
# qemu-arm and its arguments in the cross build, "|"-separated; empty natively.
EMULATOR = [a for a in os.environ.get("MIREL_TEST_EMULATOR", "").split("|") if a]
TIMEOUT = 5
LEVEL_IDS = ("29,", "30,", "31,")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]

def load_script(path, name):
    """A tool without a .py ending (tools/panel-tour, tools/mirel-console)
    loaded as a module, so a test can use its own functions."""
    module = types.ModuleType(name)
    module.__file__ = path
    with open(path) as f:
        exec(compile(f.read(), path, "exec"), module.__dict__)
    return module


class SimServer:
    """Starts the server and returns once it listens (the probe connection
    it accepted and dropped is its client #1)."""

    def __init__(self, prefix="mirel-"):
        self.tmp = tempfile.TemporaryDirectory(prefix=prefix)
        self.root = os.path.join(self.tmp.name, "root")
        subprocess.run([os.path.join(SOURCE, "tools/sim-root"), self.root], check=True, stdout=subprocess.DEVNULL)
        self.port = free_port()
        self.dns_port = free_port()
        self.err_path = os.path.join(self.tmp.name, "server.err")
        self.proc = None
        self.start()

    def start(self, wait_probe=True):
        """Starts the server (again: same root and ports) and waits until it
        listens and, with wait_probe, until the probe's slot is free again
        (not on a restart with clients waiting to come back, which may take
        the first ids)."""
        env = dict(os.environ, MIREL_ROOT=self.root, MIREL_PORT=str(self.port), MIREL_DNS_PORT=str(self.dns_port))
        probes = self.err().count("killing client #1\n")
        with open(self.err_path, "ab") as err:
            self.proc = subprocess.Popen(EMULATOR + [SERVER], env=env, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=err)
        deadline = time.monotonic() + TIMEOUT
        while True:  # until it listens; the probe is a client of its own
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline or self.proc.poll() is not None:
                    raise
                time.sleep(0.02)
        if wait_probe:
            self.wait_err("killing client #1\n", count=probes + 1)

    def stop(self):
        """Ends the server at once, as a power cut would."""
        if self.proc is not None:
            self.proc.kill()
            self.proc.wait()
            self.proc = None

    def err(self):
        try:
            with open(self.err_path, "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return ""

    def wait_err(self, text, count=1):
        deadline = time.monotonic() + TIMEOUT
        while self.err().count(text) < count:
            if time.monotonic() > deadline:
                raise AssertionError("server never said %r; it said:\n%s" % (text, self.err()))
            time.sleep(0.02)

    def close(self):
        self.stop()
        self.tmp.cleanup()


class RawClient:
    """A raw-mode client whose reader thread keeps every report line (level
    lines apart, the latest few hundred)."""

    def __init__(self, port):
        self.lines, self.levels = [], []
        self.cond = threading.Condition()
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
        self.sock.sendall(b"<mode>unix</mode>\n")
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.conn = int(self.wait_line(lambda l: l.isdigit()))

    def _read(self):
        rest = b""
        while True:
            try:
                got = self.sock.recv(65536)
            except OSError:
                return
            if not got:
                return
            *whole, rest = (rest + got).split(b"\n")
            with self.cond:
                for raw in whole:
                    line = raw.decode("latin-1")
                    if line.startswith(LEVEL_IDS):
                        self.levels.append((time.monotonic(), line))
                        del self.levels[:-400]
                    else:
                        self.lines.append(line)
                self.cond.notify_all()

    def wait_line(self, pred, timeout=TIMEOUT, since=0):
        """The first line from index since on that pred accepts."""
        with self.cond:
            if not self.cond.wait_for(lambda: any(pred(l) for l in self.lines[since:]), timeout):
                raise AssertionError("no such report line; last lines: %r" % self.lines[-5:])
            return next(l for l in self.lines[since:] if pred(l))

    def send(self, *lines):
        self.sock.sendall("".join(l + "\n" for l in lines).encode())

    def close(self):
        self.sock.close()
