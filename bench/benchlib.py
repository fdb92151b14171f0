"""Helpers the Python benchmarks share: free ports, a raw-mode client of
mirelserver, percentiles, and the real server in a fresh simulation root."""
import contextlib
import os
import socket
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_SERVER = os.path.join(HERE, "..", "build", "hw2", "mirelserver")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def percentile(values, p):
    s = sorted(values)
    return s[min(len(s) - 1, int(len(s) * p))]


class Client:
    """A raw-mode client: its connection id, then lines read up to markers."""

    def __init__(self, port):
        deadline = time.time() + 5
        while True:
            try:
                self.sock = socket.create_connection(("127.0.0.1", port))
                break
            except OSError:
                if time.time() > deadline:
                    raise
                time.sleep(0.01)
        self.buf = b""
        self.sock.sendall(b"<mode>unix</mode>\n")
        self.conn = int(self.until(b"\n").decode())
        self.until(b"\n98,0\n")  # the full dump

    def until(self, marker, timeout=10):
        """Reads until marker; returns what came before it and drops both."""
        deadline = time.time() + timeout
        while marker not in self.buf:
            self.sock.settimeout(max(0.001, deadline - time.time()))
            chunk = self.sock.recv(1 << 20)
            if not chunk:
                raise RuntimeError("server closed the connection")
            self.buf += chunk
        at = self.buf.index(marker)
        before = self.buf[:at]
        self.buf = self.buf[at + len(marker):]
        return before


@contextlib.contextmanager
def server_in_sim_root(server=DEFAULT_SERVER):
    """Yields (root, port, process) of mirelserver started in a fresh root;
    its standard error goes to ROOT/tmp/server.err."""
    with tempfile.TemporaryDirectory() as root:
        subprocess.run([os.path.join(HERE, "..", "tools", "sim-root"), root], check=True, stdout=subprocess.DEVNULL)
        port = free_port()
        env = dict(os.environ, MIREL_ROOT=root, MIREL_PORT=str(port), MIREL_DNS_PORT=str(free_port()))
        with open(os.path.join(root, "tmp", "server.err"), "w") as log:
            server = subprocess.Popen([server], env=env, stdout=subprocess.DEVNULL, stderr=log)
            try:
                yield root, port, server
            finally:
                server.kill()
                server.wait()
