"""tools/mirel-console against the real server: its connection id goes into
every line, texts are encoded on the way out and decoded on the way in,
level lines stay hidden unless asked for, and at a terminal (a real
pseudo-terminal here) what is typed is kept in the history file."""
import os
import pty
import select
import subprocess
import sys
import tempfile
import time
import unittest

from sim_server import SOURCE, TIMEOUT, RawClient, SimServer, load_script

CONSOLE = os.path.join(SOURCE, "tools/mirel-console")


def console_module():
    """The console's own functions (its file has no .py ending)."""
    return load_script(CONSOLE, "mirel_console")


class Console(unittest.TestCase):
    def setUp(self):
        self.server = SimServer(prefix="mirel-console-")
        self.addCleanup(self.server.close)

    def batch(self, text, *options):
        run = subprocess.run([sys.executable, CONSOLE, "127.0.0.1", str(self.server.port), *options],
                             input=text, capture_output=True, text=True, timeout=30)
        self.assertEqual(run.returncode, 0, run.stderr)
        return run.stdout.splitlines()

    def test_lines_carry_its_connection_id_and_texts_travel_encoded(self):
        watcher = RawClient(self.server.port)  # connection 1: the console is 2
        self.addCleanup(watcher.close)
        out = self.batch("2,3,-3.5\n9,4,Lead Vocals & Brass é\n=1,%d,5,1\n1024,0\nnonsense\n" % watcher.conn)
        watcher.wait_line(lambda l: l == "2,2,3,-3.5")
        watcher.wait_line(lambda l: l == "9,2,4,Lead%20Vocals%20%26%20Brass%20%E9")
        watcher.wait_line(lambda l: l == "1,%d,5,1" % watcher.conn)  # sent as typed
        self.assertTrue("2,2,3,-3.5" in out, out[-5:])
        self.assertTrue("9,2,4,Lead Vocals & Brass é" in out, out[-5:])  # the echo, decoded
        self.assertEqual(out.count("9,0,0,A"), 2, out[-5:])  # in the dump, and bus 0's block (1024)
        self.assertIn("-- a command line begins with its id: 'nonsense'", out)
        self.assertFalse([l for l in out if l.startswith(("29,", "30,", "31,"))])

        # The first console has gone: the next one is connection 2 again.
        raw = self.batch("22,Stage left\n", "--raw", "--levels")
        self.assertTrue("22,2,Stage%20left" in raw, raw[-5:])
        self.assertTrue([l for l in raw if l.startswith("31,0,")])

    def test_codec_matches_the_device(self):
        mod = console_module()
        for text in ["A+B Mono", "Stage\u00a0left", "caf\u00e9 \u20ac5", "50%", "tab\there"]:
            enc = mod.text_encode(text)
            self.assertRegex(enc, r"^[A-Za-z0-9._~%-]*$")
        self.assertEqual(mod.text_encode("A+B Mono\u20ac"), "A%2BB%20Mono%u20AC")
        self.assertEqual(mod.text_decode("A%2BB%20Mono%u20AC"), "A+B Mono\u20ac")
        self.assertEqual(mod.text_decode("caf%C3%A9"), "caf\u00e9")  # bytes that form UTF-8
        self.assertEqual(mod.text_decode("caf%E9"), "caf\u00e9")      # a stray byte is Latin-1
        self.assertEqual(mod.text_decode("50%2"), "50")                # a stray percent ends the text
        self.assertEqual(mod.outgoing("64,5,0,1,0,0,0,My, label", 3), "64,3,5,0,1,0,0,0,My%2C%20label")
        self.assertEqual(mod.outgoing("1037", 3), "1037,3")
        self.assertIsNone(mod.outgoing("  ", 3))

    def test_terminal_session_keeps_a_history(self):
        home = tempfile.TemporaryDirectory(prefix="mirel-console-home-")
        self.addCleanup(home.cleanup)
        pid, fd = pty.fork()
        if pid == 0:
            os.environ["HOME"] = home.name
            os.environ["TERM"] = "dumb"
            os.execv(sys.executable, [sys.executable, CONSOLE, "127.0.0.1", str(self.server.port)])
        seen = b""

        def wait_for(text):
            nonlocal seen
            deadline = time.monotonic() + TIMEOUT
            while text not in seen:
                left = deadline - time.monotonic()
                self.assertGreater(left, 0, "no %r in %r" % (text, seen[-500:]))
                if select.select([fd], [], [], left)[0]:
                    try:
                        seen += os.read(fd, 65536)
                    except OSError:
                        break
        try:
            wait_for(b"-- connection 1;")
            os.write(fd, b"1,0,1\r")
            wait_for(b"1,1,0,1")
            self.assertNotIn(b"\n31,", seen)
            os.write(fd, b":quit\r")
            _, status = os.waitpid(pid, 0)
            pid = 0
            self.assertEqual(os.waitstatus_to_exitcode(status), 0)
        finally:
            if pid:
                os.kill(pid, 9)
                os.waitpid(pid, 0)
            os.close(fd)
        with open(os.path.join(home.name, ".mirel_console_history")) as f:
            history = f.read().split("\n")
        self.assertIn("1,0,1", history)
        self.assertIn(":quit", history)


if __name__ == "__main__":
    unittest.main()
