"""The WebSocket side of mirelserver against a client this project did not
write (python3-websockets): the real server in a fresh simulation root."""
import asyncio
import base64
import hashlib
import time
import unittest

import websockets

from sim_server import SimServer

TIMEOUT = 5


class Server(SimServer):
    """mirelserver in its own simulation root on a free port."""

    def __init__(self):
        super().__init__(prefix="mirel-ws-")
        self.url = "ws://127.0.0.1:%d/" % self.port


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

    async def broadcast_with(self, ws, line):
        """Reads broadcasts until one holds line; each is one whole message."""
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            msg = await asyncio.wait_for(ws.recv(), TIMEOUT)
            # levels first: 8 bus lines (31) and 8 output lines (30) in every broadcast
            self.assertEqual(sum(l.startswith("31,") for l in msg.splitlines()), 8, msg)
            self.assertEqual(sum(l.startswith("30,") for l in msg.splitlines()), 8, msg)
            if ("\n" + line) in ("\n" + msg):
                return msg
        self.fail("no broadcast with %r" % line)

    def test_full_dump_commands_and_echoes(self):
        async def go():
            async with websockets.connect(self.server.url, compression=None) as one, \
                    websockets.connect(self.server.url, compression=None) as two:
                self.assertEqual(await asyncio.wait_for(one.recv(), TIMEOUT), "1\n")
                dump = await asyncio.wait_for(one.recv(), TIMEOUT)
                self.assertTrue(dump.startswith("9,0,0,A\n8,0,0,1\n2,0,0,0.0\n"), dump[:80])
                self.assertIn("\n22,0,KARU8-4660\n", dump)
                self.assertIn("\n44,0,7,1\n", dump)  # outputs start muted
                self.assertEqual(await asyncio.wait_for(two.recv(), TIMEOUT), "2\n")
                await asyncio.wait_for(two.recv(), TIMEOUT)
                await one.send("1,1,0,1\n2,1,0,-3.5\n")
                for ws in (one, two):
                    msg = await self.broadcast_with(ws, "2,1,0,-3.5\n")
                    self.assertIn("\n1,1,0,1\n", "\n" + msg)
                # The second client's own change carries its id to both.
                await two.send("3,2,4,1\n")
                for ws in (one, two):
                    await self.broadcast_with(ws, "3,2,4,1\n")
                # A message without its line end is refused and the client dropped.
                await one.send("1,1,0,1")
                with self.assertRaises(websockets.ConnectionClosed):
                    while True:
                        await asyncio.wait_for(one.recv(), TIMEOUT)
            self.server.wait_err("malformed websocket message contents\n")
        run(go())


if __name__ == "__main__":
    unittest.main()
