"""Audio through the real server and the FPGA model: commands over TCP change
what the server writes into the window, the model runs a signal through it
(offline, or live for the meters) and the test measures the result with
numpy."""
import os
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest

import numpy as np

from sim_server import SOURCE, SimServer

MODEL = os.environ["MIREL_FPGAMODEL_BIN"]
RATE = 96000
TIMEOUT = 10
LEVEL_IDS = ("29,", "30,", "31,")


def wait_for(what, pred, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while not pred():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)


def write_wav(path, frames):
    """Float32 WAV (format 3) of frames x channels."""
    data = np.ascontiguousarray(frames, dtype="<f4")
    channels = data.shape[1]
    fmt = struct.pack("<HHIIHH", 3, channels, RATE, RATE * channels * 4, channels * 4, 32)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", data.nbytes)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body) + data.nbytes) + body + data.tobytes())


def read_wav(path):
    """The model's output: 8 channels of float32 at 96 kHz."""
    with open(path, "rb") as f:
        raw = f.read()
    assert raw[:4] == b"RIFF" and raw[8:12] == b"WAVE", "not a WAV file"
    pos, channels, data = 12, None, None
    while pos + 8 <= len(raw):
        tag, size = raw[pos:pos + 4], struct.unpack("<I", raw[pos + 4:pos + 8])[0]
        chunk = raw[pos + 8:pos + 8 + size]
        if tag == b"fmt ":
            tag_fmt, channels, rate = struct.unpack("<HHI", chunk[:8])
            assert rate == RATE and channels == 8 and struct.unpack("<H", chunk[24:26])[0] == 3
        elif tag == b"data":
            data = np.frombuffer(chunk, dtype="<f4")
        pos += 8 + size + (size & 1)
    return data.reshape(-1, channels)


class Device(SimServer):
    """mirelserver in a fresh simulation root with one raw-mode client whose
    reader thread keeps every report line (and the latest level lines)."""

    def __init__(self):
        super().__init__(prefix="mirel-fpga-")
        self.lines, self.levels = [], []
        self.cond = threading.Condition()
        self.marks = 0
        self.sock = socket.create_connection(("127.0.0.1", self.port), timeout=TIMEOUT)
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

    def wait_line(self, pred, timeout=TIMEOUT):
        with self.cond:
            if not self.cond.wait_for(lambda: any(pred(l) for l in self.lines), timeout):
                raise AssertionError("no such report line; last lines: %r" % self.lines[-5:])
            return next(l for l in self.lines if pred(l))

    def send(self, *lines):
        """Command lines, then a fresh label of bus 7: its report comes in the
        same pass as (or after) every change before it, whose uploads are
        therefore in the window when this returns."""
        self.marks += 1
        mark = "9,%d,7,mark%d" % (self.conn, self.marks)
        text = "".join(l % {"c": self.conn} + "\n" for l in lines) + mark + "\n"
        self.sock.sendall(text.encode())
        self.wait_line(lambda l: l == mark)

    def level(self, prefix, since):
        with self.cond:
            return [l for t, l in self.levels if t > since and l.startswith(prefix)]

    def audio_enabled(self):
        """The server's last control word on the port has the audio-enable bit."""
        with open(os.path.join(self.root, "dev/spi0"), "rb") as f:
            port = f.read()[4:]
        pos, enabled = 0, False
        while pos + 4 <= len(port):  # control words (00 01) and patch messages (00 02)
            if port[pos + 1] == 1:
                enabled = bool(struct.unpack("<H", port[pos + 2:pos + 4])[0] & 0x8000)
            pos += 4 if port[pos + 1] == 1 else 18
        return enabled

    def window_u16(self, offset):
        with open(os.path.join(self.root, "dev/fpgabus"), "rb") as f:
            f.seek(offset)
            return struct.unpack("<H", f.read(2))[0]

    def process(self, inputs):
        """Runs frames x channels (A, B, ...) offline through the model."""
        src = os.path.join(self.tmp.name, "in.wav")
        dst = os.path.join(self.tmp.name, "out.wav")
        write_wav(src, inputs)
        run = subprocess.run([MODEL, "--root", self.root, "--in", src, "--out", dst],
                             capture_output=True, text=True, timeout=120)
        assert run.returncode == 0 and run.stderr == "", run.stderr
        out = read_wav(dst)
        assert out.shape == (len(inputs), 8)
        return out

    def close(self):
        self.sock.close()
        super().close()


def multitone(freqs, seconds, dbfs=-30.0):
    """Sines at whole-bin frequencies with fixed random phases, on input A."""
    t = np.arange(int(seconds * RATE)) / RATE
    phases = np.random.default_rng(1).uniform(0, 2 * np.pi, len(freqs))
    a = sum(np.sin(2 * np.pi * f * t + p) for f, p in zip(freqs, phases)) * 10 ** (dbfs / 20)
    sig = np.zeros((len(t), 4))
    sig[:, 0] = a
    return sig


# Responses are read over 19200 frames (5 Hz bins) after 50 ms of settling.
SETTLE, SPAN = 4800, 19200


def gains_db(inp, out, freqs):
    """Output over input at each frequency, dB."""
    i = np.fft.rfft(inp[SETTLE:SETTLE + SPAN])
    o = np.fft.rfft(out[SETTLE:SETTLE + SPAN])
    bins = [int(round(f * SPAN / RATE)) for f in freqs]
    return {f: 20 * np.log10(abs(o[b]) / abs(i[b])) for f, b in zip(freqs, bins)}


def tone_db(x, f):
    """Level of the f Hz sine in x (whole periods), dB re full scale."""
    n = np.arange(len(x))
    return 20 * np.log10(2 * abs(np.sum(x * np.exp(-2j * np.pi * f * n / RATE))) / len(x))


class ModelThroughServer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dev = Device()
        # Every bus takes input A at 0 dB on its own; output o plays bus o.
        lines = []
        for b in range(8):
            lines += ["10,%%(c)d,%d,-1" % b, "8,%%(c)d,%d,1" % b, "2,%%(c)d,%d,0" % b]
        for o in range(8):
            lines += ["42,%%(c)d,%d,%d" % (o, o), "44,%%(c)d,%d,0" % o]
        cls.dev.send(*lines)
        # The server enables audio 100 cycles after its start.
        wait_for("audio enabled on the control port", cls.dev.audio_enabled)

    @classmethod
    def tearDownClass(cls):
        cls.dev.close()

    def change(self, lines, undo):
        self.dev.send(*lines)
        self.addCleanup(self.dev.send, *undo)

    def test_bus_parametric_band(self):
        self.change(["16,%(c)d,0,0,1000,2,6.0,0"], ["16,%(c)d,0,0,50,1,0.0,0"])
        freqs = [100, 1000, 10000]
        sig = multitone(freqs, 0.3)
        g = gains_db(sig[:, 0], self.dev.process(sig)[:, 0], freqs)
        self.assertAlmostEqual(g[1000], 6.0, delta=0.1)
        self.assertAlmostEqual(g[100], 0.0, delta=0.1)
        self.assertAlmostEqual(g[10000], 0.0, delta=0.1)

    def test_graphic_band(self):
        self.change(["12,%(c)d,1,17,6.0"], ["12,%(c)d,1,17,0.0"])
        freqs = [100, 1000, 10000]
        sig = multitone(freqs, 0.3)
        g = gains_db(sig[:, 0], self.dev.process(sig)[:, 1], freqs)
        self.assertAlmostEqual(g[1000], 6.0, delta=0.1)
        self.assertAlmostEqual(g[100], 0.0, delta=0.1)
        self.assertAlmostEqual(g[10000], 0.0, delta=0.1)

    def test_highpass_kinds(self):
        # Kinds 1 to 4 at 1 kHz on buses 2 to 5: BW24, LR24, BW12, LR12.
        kinds = {2: (1, -3.01, 24), 3: (2, -6.02, 24), 4: (3, -3.01, 12), 5: (4, -6.02, 12)}
        self.change(["18,%%(c)d,%d,1000,%d,0" % (b, k[0]) for b, k in kinds.items()],
                    ["18,%%(c)d,%d,80,0,0" % b for b in kinds])
        freqs = [125, 250, 1000, 16000]
        sig = multitone(freqs, 0.3)
        out = self.dev.process(sig)
        for bus, (kind, at_fc, slope) in kinds.items():
            g = gains_db(sig[:, 0], out[:, bus], freqs)
            with self.subTest(kind=kind):
                self.assertAlmostEqual(g[1000] - g[16000], at_fc, delta=0.1)
                # An octave between fc/8 and fc/4: the filter's full slope.
                self.assertAlmostEqual(g[250] - g[125], slope, delta=0.5)
                self.assertAlmostEqual(g[16000], 0.0, delta=0.05)

    def test_polarity(self):
        self.change(["3,%(c)d,6,1", "39,%(c)d,7,1"], ["3,%(c)d,6,0", "39,%(c)d,7,0"])
        sig = multitone([100, 1000, 10000], 0.1)
        out = self.dev.process(sig)
        for o in (6, 7):
            np.testing.assert_allclose(out[:, o], -sig[:, 0], atol=1e-6)
        np.testing.assert_allclose(out[:, 5], sig[:, 0], atol=1e-6)

    def test_output_delay(self):
        # 10 m at 293.15 K: 2.911886 ms per metre, 2795 samples.
        self.change(["43,%(c)d,0,10"], ["43,%(c)d,0,0"])
        self.assertEqual(self.dev.window_u16(0xE000), 2795)
        sig = np.zeros((6000, 4))
        sig[1000, 0] = 0.5
        out = self.dev.process(sig)
        self.assertEqual(int(np.argmax(np.abs(out[:, 0]))), 1000 + 2795)
        self.assertAlmostEqual(float(out[1000 + 2795, 0]), 0.5, places=6)
        self.assertEqual(int(np.argmax(np.abs(out[:, 1]))), 1000)

    def test_bus_compressor(self):
        self.change(["4,%(c)d,0,-20", "5,%(c)d,0,4", "113,%(c)d,0,1"],
                    ["4,%(c)d,0,0", "5,%(c)d,0,100000000", "113,%(c)d,0,50"])
        t = np.arange(RATE // 2) / RATE
        sig = np.zeros((len(t), 4))
        sig[:, 0] = 10 ** (-8 / 20) * np.sin(2 * np.pi * 1000 * t)
        out = self.dev.process(sig)[:, 0]
        # The first millisecond passes before the RMS detector has risen;
        # after the attack 12 dB over the threshold at 4:1 leave 3 dB over it
        # (less the 0.01 dB a sine's mean square lies off the -3 dB the
        # thresholds allow for).
        self.assertAlmostEqual(tone_db(out[:96], 1000), -8.0, delta=0.1)
        self.assertAlmostEqual(tone_db(out[-9600:], 1000), -20.0 + 12.0 / 4 + 0.0077, delta=0.1)

    def test_levels_of_a_tone(self):
        # A -20 dBFS sine: peak power 0.01, 10 log10(0.01) = -20.0 on the meters.
        self.change(["2,%(c)d,1,-6"], ["2,%(c)d,1,0"])
        t = np.arange(RATE) / RATE
        loop = np.zeros((RATE, 4))
        loop[:, 0] = 0.1 * np.sin(2 * np.pi * 1000 * t)
        path = os.path.join(self.dev.tmp.name, "loop.wav")
        write_wav(path, loop)
        log = open(os.path.join(self.dev.tmp.name, "model.log"), "wb")
        self.addCleanup(log.close)
        model = subprocess.Popen([MODEL, "--root", self.dev.root, "--live", "--in", path],
                                 stdout=log, stderr=subprocess.STDOUT)

        def stop():
            model.terminate()
            model.wait(TIMEOUT)
        self.addCleanup(stop)
        start = time.monotonic()
        want = ["31,0,-20.0,0.0", "30,0,-20.0,0.0", "31,1,-20.0,0.0", "30,1,-26.0,0.0"]
        wait_for("level lines " + " ".join(want), lambda: all(self.dev.level(w, start) for w in want))
        # Steady from then on: every cycle shows the same level, unless the
        # loaded machine kept the model from running for a whole cycle (then
        # nothing raised the accumulator and the cycle reads silence).
        settled = time.monotonic()
        wait_for("ten more cycles", lambda: len(self.dev.level("30,0,", settled)) >= 10)
        seen = self.dev.level("30,0,", settled)
        self.assertLessEqual(set(seen), {"30,0,-20.0,0.0", "30,0,-382.3,0.0"})
        self.assertGreaterEqual(seen.count("30,0,-20.0,0.0"), len(seen) // 2)
        # Without the model nothing raises the accumulators: silence again.
        stop()
        self.assertEqual(model.returncode, 0)
        stopped = time.monotonic() + 0.1
        wait_for("silent meters", lambda: self.dev.level("30,0,-382.3,", stopped))


class ProgramDiagnostics(unittest.TestCase):
    """Bad input gets one clear line and changes nothing."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="mirel-fpga-")
        self.addCleanup(self.tmp.cleanup)
        self.root = os.path.join(self.tmp.name, "root")
        subprocess.run([os.path.join(SOURCE, "tools/sim-root"), self.root], check=True, stdout=subprocess.DEVNULL)

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def model(self, *args, env=None):
        return subprocess.run([MODEL, *args], capture_output=True, text=True, timeout=60,
                              env=dict(os.environ, **(env or {})))

    def test_refusals(self):
        write_wav(self.path("six.wav"), np.zeros((100, 6)))
        write_wav(self.path("seven.wav"), np.zeros((100, 7)))
        with open(self.path("low.wav"), "wb") as f:  # 44.1 kHz, 16-bit
            fmt = struct.pack("<HHIIHH", 1, 1, 44100, 88200, 2, 16)
            f.write(b"RIFF" + struct.pack("<I", 36 + 200) + b"WAVEfmt " + struct.pack("<I", 16) + fmt +
                    b"data" + struct.pack("<I", 200) + bytes(200))
        before = open(self.path("six.wav"), "rb").read()
        cases = [
            ([], 2, "no simulation root"),
            (["--root", self.root, "--in", self.path("six.wav")], 2, "offline runs need --in and --out"),
            (["--root", self.root, "--live", "--out", self.path("o.wav")], 2, "--out is for offline runs"),
            (["--root", self.root, "--in", self.path("six.wav"), "--out", self.path("six.wav")], 2,
             "would overwrite"),
            (["--root", self.tmp.name, "--in", self.path("six.wav"), "--out", self.path("o.wav")], 1,
             "dev/fpgabus: No such file or directory"),
            (["--root", self.root, "--in", self.path("low.wav"), "--out", self.path("o.wav")], 1,
             "44100 Hz; the DSP runs at 96000 Hz"),
            (["--root", self.root, "--in", self.path("seven.wav"), "--out", self.path("o.wav")], 1,
             "7 channels; the device has 6 inputs"),
            (["--root", self.root, "--in", self.path("none.wav"), "--out", self.path("o.wav")], 1,
             "none.wav: No such file or directory"),
            (["--root", self.root, "--bogus"], 2, "unknown argument '--bogus'"),
        ]
        for args, status, text in cases:
            with self.subTest(args=args):
                run = self.model(*args, env={"MIREL_ROOT": ""} if not args else None)
                self.assertEqual(run.returncode, status, run.stderr)
                self.assertIn(text, run.stderr.splitlines()[0])
        self.assertEqual(open(self.path("six.wav"), "rb").read(), before)
        self.assertFalse(os.path.exists(self.path("o.wav")))

    def test_silent_until_the_server_enables_audio(self):
        sig = np.zeros((1000, 2))
        sig[:, 0] = 0.5
        write_wav(self.path("in.wav"), sig)
        run = self.model("--in", self.path("in.wav"), "--out", self.path("out.wav"), env={"MIREL_ROOT": self.root})
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("has not enabled audio", run.stderr)
        out = read_wav(self.path("out.wav"))
        self.assertEqual(out.shape, (1000, 8))
        self.assertFalse(out.any())


if __name__ == "__main__":
    unittest.main()
