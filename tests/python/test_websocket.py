"""The WebSocket side of mirelserver against a client this project did not
write (python3-websockets): the real server in a fresh simulation root."""
import asyncio
import base64
import hashlib
import os
import socket
import subprocess
import tempfile
import time
import unittest

import websockets

SERVER = os.environ["MIREL_SERVER_BIN"]
SOURCE = os.environ["MIREL_SOURCE_DIR"]
TIMEOUT = 5


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """mirelserver in its own simulation root on a free port."""

    def __init__(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="mirel-ws-")
        self.root = os.path.join(self.tmp.name, "root")
        subprocess.run([os.path.join(SOURCE, "tools/sim-root"), self.root], check=True, stdout=subprocess.DEVNULL)
        self.port = free_port()
        self.err_path = os.path.join(self.tmp.name, "server.err")
        env = dict(os.environ, MIREL_ROOT=self.root, MIREL_PORT=str(self.port))
        with open(self.err_path, "wb") as err:
            self.proc = subprocess.Popen([SERVER], env=env, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=err)
        self.url = "ws://127.0.0.1:%d/" % self.port
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


def run(coro):
    return asyncio.run(asyncio.wait_for(coro, 3 * TIMEOUT))


class WebSocketClients(unittest.TestCase):
    def setUp(self):
        self.server = Server()
        self.addCleanup(self.server.close)

    def test_handshake_greeting_ping_and_ids(self):
        async def go():
            async with websockets.connect(self.server.url, compression=None) as first:
                key = first.request_headers["Sec-WebSocket-Key"]
                accept = base64.b64encode(hashlib.sha1(
                    (key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11").encode()).digest()).decode()
                self.assertEqual(first.response_headers["Sec-WebSocket-Accept"], accept)
                self.assertEqual(await asyncio.wait_for(first.recv(), TIMEOUT), "1\n")
                pong = await first.ping(b"are you there")
                await asyncio.wait_for(pong, TIMEOUT)
                async with websockets.connect(self.server.url, compression=None) as second:
                    self.assertEqual(await asyncio.wait_for(second.recv(), TIMEOUT), "2\n")
            # Both gone (the probe was the first #1): the next client is number 1 again.
            self.server.wait_err("killing client #2\n")
            self.server.wait_err("killing client #1\n", count=2)
            async with websockets.connect(self.server.url, compression=None) as again:
                self.assertEqual(await asyncio.wait_for(again.recv(), TIMEOUT), "1\n")
        run(go())

    def test_command_lines_reach_the_server(self):
        async def go():
            async with websockets.connect(self.server.url, compression=None) as ws:
                self.assertEqual(await asyncio.wait_for(ws.recv(), TIMEOUT), "1\n")
                await ws.send("1,1,0,1\n2,1,0,-3.5\n")
                self.server.wait_err("('1,1,0,1')\n")
                self.server.wait_err("('2,1,0,-3.5')\n")
                # The connection lives on after its commands.
                await asyncio.wait_for(await ws.ping(), TIMEOUT)
                # A message without its line end is refused and the client dropped.
                await ws.send("1,1,0,1")
                with self.assertRaises(websockets.ConnectionClosed):
                    await asyncio.wait_for(ws.recv(), TIMEOUT)
            self.server.wait_err("malformed websocket message contents\n")
        run(go())


if __name__ == "__main__":
    unittest.main()
