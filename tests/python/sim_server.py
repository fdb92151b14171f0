"""mirelserver in a fresh simulation root on a free port, for the tests
written against clients this project did not write."""
import os
import socket
import subprocess
import tempfile
import time

SERVER = os.environ["MIREL_SERVER_BIN"]
SOURCE = os.environ["MIREL_SOURCE_DIR"]
# qemu-arm and its arguments in the cross build, "|"-separated; empty natively.
EMULATOR = [a for a in os.environ.get("MIREL_TEST_EMULATOR", "").split("|") if a]
TIMEOUT = 5


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SimServer:
    """Starts the server and returns once it listens (the probe connection
    it accepted and dropped is its client #1)."""

    def __init__(self, prefix="mirel-"):
        self.tmp = tempfile.TemporaryDirectory(prefix=prefix)
        self.root = os.path.join(self.tmp.name, "root")
        subprocess.run([os.path.join(SOURCE, "tools/sim-root"), self.root], check=True, stdout=subprocess.DEVNULL)
        self.port = free_port()
        self.err_path = os.path.join(self.tmp.name, "server.err")
        env = dict(os.environ, MIREL_ROOT=self.root, MIREL_PORT=str(self.port), MIREL_DNS_PORT=str(free_port()))
        with open(self.err_path, "wb") as err:
            self.proc = subprocess.Popen(EMULATOR + [SERVER], env=env, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=err)
        deadline = time.monotonic() + TIMEOUT
        while True:  # until it listens; the probe is a client of its own
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.02)
        self.wait_err("killing client #1\n")

    def err(self):
        with open(self.err_path, "rb") as f:
            return f.read().decode("latin-1")

    def wait_err(self, text, count=1):
        deadline = time.monotonic() + TIMEOUT
        while self.err().count(text) < count:
            if time.monotonic() > deadline:
                raise AssertionError("server never said %r; it said:\n%s" % (text, self.err()))
            time.sleep(0.02)

    def close(self):
        self.proc.kill()
        self.proc.wait()
        self.tmp.cleanup()
