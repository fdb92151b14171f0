"""The browser page in a real browser: headless Chromium, driven over the
DevTools protocol, loads the page from the real server in a fresh simulation
root and is used with the mouse and keyboard, while a raw TCP client watches
and changes the device from outside. Skips (with the reason) when Chromium
cannot start. With MIREL_WEB_SHOTS=DIR the views are also saved as PNGs
there (tools/web-shots does this for docs/web/)."""
import asyncio
import json
import math
import mmap
import os
import struct
import threading
import time
import unittest
import urllib.parse

from browser import Browser, BrowserUnavailable
from sim_server import RawClient, SimServer

SHOTS = os.environ.get("MIREL_WEB_SHOTS")
TIMEOUT = 10
# Level blocks in the FPGA window: buses from 0xA000, outputs from 0xA020,
# 64 bytes apart; words 3 and 4 are the dynamics' gain factors, word 5 the
# input and word 6 the output level accumulator (power).
LEVEL_BUS, LEVEL_OUT, LEVEL_STRIDE = 0xA000, 0xA020, 64
FMIN, FMAX, DB_RANGE = 17.5, 24250.0, 20.0


def pdec(text):
    return urllib.parse.unquote(text, encoding="latin-1")


class LevelWriter:
    """Keeps level values in the window (the server clears the accumulators
    each time it reads them), as the FPGA would."""

    def __init__(self, root, bus_db, out_db, gain_factor):
        self.f = open(os.path.join(root, "dev/fpgabus"), "r+b")
        self.map = mmap.mmap(self.f.fileno(), 0)
        self.values = []
        for i in range(8):
            self.values.append((LEVEL_BUS + LEVEL_STRIDE * i, 5, 10 ** (bus_db[i] / 10)))
            self.values.append((LEVEL_OUT + LEVEL_STRIDE * i, 6, 10 ** (out_db[i] / 10)))
        self.gain_factor = gain_factor
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stop.is_set():
            for block, word, value in self.values:
                struct.pack_into("<ff", self.map, block + 12, self.gain_factor, 1.0)
                struct.pack_into("<f", self.map, block + 4 * word, value)
            time.sleep(0.004)

    def close(self):
        self.stop.set()
        self.thread.join()
        self.map.close()
        self.f.close()


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.loop = asyncio.new_event_loop()
        cls.browser = Browser()
        try:
            cls.loop.run_until_complete(cls.browser.start())
        except BrowserUnavailable as e:
            cls.loop.close()
            raise unittest.SkipTest("no browser test: %s" % e)

    @classmethod
    def tearDownClass(cls):
        cls.loop.run_until_complete(cls.browser.aclose())
        cls.loop.close()

    def go(self, coro):
        return self.loop.run_until_complete(asyncio.wait_for(coro, 60))

    def setUp(self):
        self.server = SimServer(prefix="mirel-web-")
        self.addCleanup(self.server.close)
        self.raw = RawClient(self.server.port)
        self.addCleanup(self.raw.close)
        self.b = self.browser
        self.go(self.open_page())

    async def open_page(self):
        await self.b.viewport(1400, 900)
        await self.b.open("http://127.0.0.1:%d/" % self.server.port)
        await self.b.wait_for("document.body.classList.contains('live')", TIMEOUT, "the full dump")
        self.page_conn = await self.b.eval("dev.conn")
        self.assertNotEqual(self.page_conn, self.raw.conn)

    async def shot(self, name):
        if SHOTS:
            await asyncio.sleep(0.3)  # a few frames for the meters
            await self.b.screenshot(os.path.join(SHOTS, name + ".png"))

    def dump_labels(self):
        # The dump's bus labels (9,0,bus,label), as the raw client got them.
        self.raw.wait_line(lambda l: l == "98,0")
        labels = {}
        for line in self.raw.lines:
            f = line.split(",")
            if f[0] == "9" and f[1] == "0" and len(f) == 4:
                labels.setdefault(int(f[2]), pdec(f[3]))
        return [labels[i] for i in range(8)]

    def test_mixer_shows_the_dump_and_follows_every_change(self):
        async def go():
            b = self.b
            shown = await b.eval("[...document.querySelectorAll('#buses .lbl')].map(e => e.textContent)")
            self.assertEqual(shown, self.dump_labels())
            outs = await b.eval("[...document.querySelectorAll('#outs .strip')].map(s =>"
                                " s.querySelector('.num').textContent + '|' + s.querySelector('.preset').textContent)")
            self.assertEqual(outs, ["OUT %d|Direct Out" % (i + 1) for i in range(8)])

            # Dragging bus 2's fader down sends its gain; the raw client sees the report.
            x, y = await b.center("#bus2 .cap")
            mark = len(self.raw.lines)
            await b.drag(x, y, x, y + 40)
            # Where the drag ended is the last line the page sends and the device reports.
            gain = float((await b.eval("document.querySelector('#bus2 .val').textContent")).split()[0])
            self.assertLess(gain, -6.0 - 10)  # 40 px of about 190: some 17 dB below -6
            self.raw.wait_line(lambda l: l == "2,%d,2,%.1f" % (self.page_conn, gain), since=mark)
            await b.wait_for("+document.querySelector('#bus2 .fader').getAttribute('aria-valuenow') === %r" % gain)

            # Changes made elsewhere move the page at once.
            self.raw.send("2,%d,3,-12.5" % self.raw.conn, "1,%d,4,1" % self.raw.conn,
                          "9,%d,0,Lead%%20Vox%%C3%%A9" % self.raw.conn, "38,%d,1,-3.0" % self.raw.conn,
                          "44,%d,2,0" % self.raw.conn)
            await b.wait_for("document.querySelector('#bus3 .fader').getAttribute('aria-valuenow') === '-12.5'")
            self.assertEqual(await b.eval("document.querySelector('#bus3 .val').textContent"), "-12.5 dB")
            # The knob sits at the value: (20 - -12.5) / 80 of its travel from the top.
            pos = await b.eval("(() => { const f = document.querySelector('#bus3 .fader');"
                               " return [new DOMMatrix(getComputedStyle(f.firstChild).transform).m42,"
                               " f.clientHeight - 16]; })()")
            self.assertAlmostEqual(pos[0], 32.5 / 80 * pos[1], delta=1)
            await b.wait_for("document.querySelector('#bus4 .mute').classList.contains('on')")
            await b.wait_for("document.querySelector('#bus0 .lbl').textContent === 'Lead Voxé'")
            await b.wait_for("document.querySelector('#grp1 .val').textContent === '-3.0 dB'")
            await b.wait_for("!document.querySelector('#grp2 .mute').classList.contains('on')")

            # A label typed on the page travels percent-encoded.
            await b.click("#bus6 .lbl")
            await b.call("Input.insertText", text="Kick & Snare é")
            await b.call("Input.dispatchKeyEvent", type="keyDown", key="Enter", code="Enter", windowsVirtualKeyCode=13)
            self.raw.wait_line(lambda l: l == "9,%d,6,Kick%%20%%26%%20Snare%%20%%E9" % self.page_conn)
            await b.wait_for("document.querySelector('#bus6 .lbl').textContent === 'Kick & Snare é'")
            # A mute click, and the polarity of an output group.
            await b.click("#bus5 .mute")
            self.raw.wait_line(lambda l: l == "1,%d,5,1" % self.page_conn)
            await b.click("#grp0 .ph")
            self.raw.wait_line(lambda l: l == "39,%d,0,1" % self.page_conn)
        self.go(go())

    def two_way_entry(self):
        """A new library entry with a two-way text; its id."""
        c = self.raw.conn
        mark = len(self.raw.lines)
        self.raw.send("70,%d,0,0" % c)
        entry = self.raw.wait_line(lambda l: l.startswith("70,%d," % c), since=mark).split(",")[2]
        self.raw.send("67,%d,%s,0,LOW%%0ALPF%%202khz%%20lr24%%0AHIGH%%0AHPF%%202khz%%20lr24%%0A" % (c, entry))
        self.raw.wait_line(lambda l: l.startswith("67,%d,%s,0," % (c, entry)), since=mark)
        return entry

    def test_output_groups_follow_the_group_map(self):
        entry = self.two_way_entry()
        c = self.raw.conn
        self.raw.send("36,%d,0,%s" % (c, entry), "36,%d,2,%s" % (c, entry), "35,%d,0,MAIN%%20L" % c,
                      "35,%d,2,MAIN%%20R" % c, "42,%d,2,1" % c)

        async def go():
            b = self.b
            strips = ("[...document.querySelectorAll('#outs .strip')].map(s => [s.querySelector('.num').textContent,"
                      " s.querySelector('.lbl').textContent, s.querySelectorAll('.meter').length,"
                      " [...s.querySelectorAll('.mute')].map(m => m.textContent).join(' '), s.querySelector('select').value])")
            want = [["OUT 1+2", "MAIN L", 2, "M1 M2", "0"], ["OUT 3+4", "MAIN R", 2, "M3 M4", "1"]] + \
                   [["OUT %d" % o, "", 1, "M", "0"] for o in (5, 6, 7, 8)]
            await b.wait_for("JSON.stringify(%s) === %r" % (strips, json.dumps(want, separators=(",", ":"))),
                             TIMEOUT, "the two-way groups")
            # The mutes of a group's outputs are its own; the input bus is the group's.
            await b.click("#grp2 .mute:nth-child(2)")
            self.raw.wait_line(lambda l: l == "44,%d,3,0" % self.page_conn)
            await b.eval("(() => { const s = document.querySelector('#grp0 select'); s.value = 4;"
                         " s.dispatchEvent(new Event('change')); })()")
            self.raw.wait_line(lambda l: l == "42,%d,0,4" % self.page_conn)
            # Back to one way: the freed output is a group of its own again.
            self.raw.send("36,%d,0,0" % c)
            await b.wait_for("document.querySelector('#outs .strip .num').textContent === 'OUT 1'")
            self.assertEqual(await b.eval("document.querySelectorAll('#outs .strip').length"), 7)
        self.go(go())

    def test_meters_follow_the_levels_in_the_fpga_window(self):
        entry = self.two_way_entry()
        c = self.raw.conn
        self.raw.send("36,%d,0,%s" % (c, entry), "35,%d,0,MAIN" % c, "9,%d,0,Vocals" % c, "9,%d,1,Guitar" % c)
        self.raw.wait_line(lambda l: l.startswith("33,0,0,"))
        bus_db = [-3, -6, -12, -18, -24, -30, -40, -50]
        out_db = [-1, -5, -10, -20, -30, -36, -45, -55]
        writer = LevelWriter(self.server.root, bus_db, out_db, 0.5)  # gain reduction 20 log 0.5 = -6 dB
        self.addCleanup(writer.close)
        # The meter's cover hides the part above the level: scaleY(-L / 60).
        cover = ("[...document.querySelectorAll('%s .meter .cv')].map(e =>"
                 " new DOMMatrix(getComputedStyle(e).transform).d)")
        grs = "[...document.querySelectorAll('#buses .meter .gr')].map(e => new DOMMatrix(getComputedStyle(e).transform).d)"

        async def go():
            b = self.b
            want_bus = [-d / 60 for d in bus_db]
            want_out = [-d / 60 for d in out_db]
            close = lambda got, want: got and all(abs(g - w) < 0.02 for g, w in zip(got, want))
            deadline = time.monotonic() + TIMEOUT
            got_bus = got_out = None
            while time.monotonic() < deadline:
                got_bus = await b.eval(cover % "#buses")
                got_out = await b.eval(cover % "#outs")
                if close(got_bus, want_bus) and close(got_out, want_out):
                    break
                await asyncio.sleep(0.05)
            self.assertTrue(close(got_bus, want_bus), (got_bus, want_bus))
            self.assertTrue(close(got_out, want_out), (got_out, want_out))
            self.assertTrue(all(abs(g - 0.25) < 0.02 for g in await b.eval(grs)))  # 6 of 24 dB
            await self.shot("mixer")
            await b.viewport(390, 844, scale=2, mobile=True)
            await self.shot("mixer-phone")
            await b.viewport(1400, 900)
            # Silence: the levels fall, the peak marks stay for a moment.
            writer.close()
            await b.wait_for("(%s).every(d => d > 0.99)" % (cover % "#buses"), TIMEOUT, "silent meters")
        self.go(go())

    def test_eq_view_drags_a_band_and_sets_shelves_and_high_pass(self):
        async def go():
            b = self.b
            await b.click("#bus0 .eqb")
            await b.wait_for("document.getElementById('v-eq').classList.contains('on')")
            await b.wait_for("document.getElementById('eq-title').textContent === %r" % ("IN 1 " + self.dump_labels()[0]))
            before = await b.eval("document.getElementById('eq-cv').toDataURL()")
            rect = await b.eval("(() => { const r = document.getElementById('eq-cv').getBoundingClientRect();"
                                " return [r.x, r.y, r.width, r.height]; })()")
            fx = lambda f: rect[0] + math.log(f / FMIN) / math.log(FMAX / FMIN) * rect[2]
            gy = lambda g: rect[1] + rect[3] / 2 - g / DB_RANGE * (rect[3] / 2 - 10)
            # Band 1 starts at 50 Hz, 0 dB: drag it to about 400 Hz, +9 dB.
            mark = len(self.raw.lines)
            await b.drag(fx(50), gy(0), fx(400), gy(9), steps=12)
            # The band where the drag left it is the last line sent and reported.
            band = await b.eval("eqCh().peq[0]")
            self.assertAlmostEqual(band["f"], 400, delta=25)
            self.assertAlmostEqual(band["g"], 9, delta=0.6)
            self.raw.wait_line(lambda l: l == "16,%d,0,0,%d,%.1f,%.1f,0" % (self.page_conn, round(band["f"]), band["q"], band["g"]),
                               since=mark)
            # The server's new curve peaks near the band, and the page draws it.
            curve = self.raw.wait_line(lambda l: l.startswith("13,0,0,") and max(map(float, l.split(",")[3:])) > 8,
                                       since=mark)
            values = list(map(float, curve.split(",")[3:]))
            peak_f = FMIN * (FMAX / FMIN) ** (values.index(max(values)) / 127)
            self.assertAlmostEqual(math.log2(peak_f / 400), 0, delta=0.3)
            await b.wait_for("document.getElementById('eq-cv').toDataURL() !== %r" % before)
            await b.wait_for("+document.querySelectorAll('#eq-bands input')[2].value === 9", what="the band's gain field")
            await self.shot("eq")

            # Shelves and high-pass through their fields.
            async def field(selector, value):
                await b.eval("(() => { const e = document.querySelector(%r); e.value = %r;"
                             " e.dispatchEvent(new Event('change')); })()" % (selector, value))
            await field("#eq-sh tr:nth-child(2) td:nth-child(3) input", "4.5")
            self.raw.wait_line(lambda l: l == "17,%d,0,0,100,4.5,0" % self.page_conn)
            await field("#eq-hp select", "2")
            self.raw.wait_line(lambda l: l == "18,%d,0,80,2,0" % self.page_conn)
            await field("#eq-hp input[type=number]", "120")
            self.raw.wait_line(lambda l: l == "18,%d,0,120,2,0" % self.page_conn)
            # A section switched off sets its bypass bit.
            await b.click("#eq-on-sh")
            self.raw.wait_line(lambda l: l == "14,%d,0,256" % self.page_conn)
            # An output group's EQ uses the group commands.
            await b.eval("[...document.querySelectorAll('#eq-sel button')].find(e => e.textContent === 'OUT 3').click()")
            await b.wait_for("document.getElementById('eq-title').textContent.startsWith('OUT 3')")
            await field("#eq-hp input[type=number]", "1200")
            self.raw.wait_line(lambda l: l == "47,%d,2,1200,0,0" % self.page_conn)
        self.go(go())

    def test_project_view_saves_and_loading_a_project_updates_every_strip(self):
        c = self.raw.conn
        strips = ("JSON.stringify([...document.querySelectorAll('#buses .strip, #outs .strip')].map(s =>"
                  " s.querySelector('.lbl').textContent + '|' + s.querySelector('.val').textContent))")
        show = lambda labels, gains: json.dumps(["%s|%s" % (l, "%+.1f dB" % g if g else "0.0 dB")
                                                 for l, g in zip(labels, gains)], separators=(",", ":"))
        saved_labels = ["Ch %d" % (i + 1) for i in range(8)] + ["Spk %d" % (g + 1) for g in range(8)]
        saved_gains = [-1.5 - 2 * i for i in range(8)] + [-0.5 - g for g in range(8)]
        # Buses out of their link groups first, so that each keeps its own gain.
        self.raw.send(*["10,%d,%d,-1" % (c, i) for i in range(8)],
                      *["2,%d,%d,%.1f" % (c, i, saved_gains[i]) for i in range(8)],
                      *["9,%d,%d,Ch%%20%d" % (c, i, i + 1) for i in range(8)],
                      *["38,%d,%d,%.1f" % (c, g, saved_gains[8 + g]) for g in range(8)],
                      *["35,%d,%d,Spk%%20%d" % (c, g, g + 1) for g in range(8)],
                      "119,%d,0,Front%%20of%%20house" % c)

        async def go():
            b = self.b
            await b.wait_for("%s === %r" % (strips, show(saved_labels, saved_gains)), TIMEOUT, "the values to save")
            await b.click('nav button[data-v="prj"]')
            await b.wait_for("document.getElementById('prj-desc').textContent === 'Front of house'")
            # Save as, typed on the page: the device's message is shown.
            await b.click("#prj-name")
            await b.call("Input.insertText", text="Show A")
            await b.click("#prj-saveas")
            line = self.raw.wait_line(lambda l: l.startswith("100,%d," % self.page_conn) and l.endswith(",Show%20A"))
            pid = line.split(",")[2]
            await b.wait_for("document.getElementById('prj-msg').textContent === 'Project saved.'")
            row = "#prj-list li[data-id='%s']" % pid
            await b.wait_for("document.querySelector(%r).classList.contains('cur')" % row, TIMEOUT, "Show A listed")
            self.assertEqual(await b.eval("document.getElementById('prj-saveas').textContent"), "Overwrite")

            # Everything changes from outside; then the page loads the project.
            other_labels = ["Other %d" % k for k in range(16)]
            self.raw.send(*["2,%d,%d,0" % (c, i) for i in range(8)], *["9,%d,%d,Other%%20%d" % (c, i, i) for i in range(8)],
                          *["38,%d,%d,0" % (c, g) for g in range(8)],
                          *["35,%d,%d,Other%%20%d" % (c, g, 8 + g) for g in range(8)],
                          *["44,%d,%d,0" % (c, o) for o in range(8)])
            await b.wait_for("%s === %r" % (strips, show(other_labels, [0] * 16)), TIMEOUT, "the outside changes")
            await b.wait_for("document.getElementById('prj-mod').textContent === ' (modified)'")
            mark = len(self.raw.lines)
            await b.click(row + " button")
            await b.wait_for("document.querySelector(%r).textContent === 'Load now?'" % (row + " button"))
            self.assertEqual(len([l for l in self.raw.lines[mark:] if l.startswith("100,")]), 0)  # not yet
            await b.click(row + " button")
            self.raw.wait_line(lambda l: l.startswith("100,%d,%s," % (self.page_conn, pid)), since=mark)
            await b.wait_for("%s === %r" % (strips, show(saved_labels, saved_gains)), TIMEOUT, "every strip loaded")
            # Loading mutes every output (system flag bit 0 is clear).
            await b.wait_for("[...document.querySelectorAll('#outs .mute')].every(m => m.classList.contains('on'))")
            self.assertEqual(await b.eval("document.getElementById('prj-mod').textContent"), "")
            await self.shot("project")

            # A project stored with lock code 1234 (value 1235) needs the code.
            self.raw.send("100,%d,%s,1235,0,0,Show%%20A" % (c, pid), "101,%d,0" % c)
            await b.wait_for("document.getElementById('prj-lock').textContent === 'locked with a code'")
            await b.click("#prj-code")
            await b.call("Input.insertText", text="1233")
            await b.click("#prj-save")
            await b.wait_for("document.getElementById('prj-msg').textContent === 'Wrong lock code.\\nProject not saved.'")
            await b.eval("document.getElementById('prj-code').value = '1234'")
            await b.click("#prj-save")
            await b.wait_for("document.getElementById('prj-msg').textContent === 'Project saved.'")
            # Write-protected: refused with the device's own lines.
            self.raw.send("100,%d,%s,-1,0,0,Show%%20A" % (c, pid), "101,%d,1235" % c)
            await b.wait_for("document.getElementById('prj-lock').textContent === 'write-protected'")
            await b.click("#prj-save")
            await b.wait_for("document.getElementById('prj-msg').textContent === 'Cannot overwrite\\na locked project.'")
        self.go(go())

    def test_device_view_shows_and_sets_the_name(self):
        async def go():
            b = self.b
            name = [l for l in self.raw.lines if l.startswith("22,0,")][0].split(",")[2]
            self.assertEqual(await b.eval("document.getElementById('dev-name').textContent"), pdec(name))
            await b.click('nav button[data-v="dev"]')
            await b.wait_for("document.getElementById('dev-tab').textContent.includes('Static address')")
            table = await b.eval("document.getElementById('dev-tab').textContent")
            self.assertIn("192.168.0.", table)
            await b.eval("document.getElementById('dev-in').value = 'Stage left'")
            await b.click("#dev-set")
            self.raw.wait_line(lambda l: l == "22,%d,Stage%%20left" % self.page_conn)
            await b.wait_for("document.getElementById('dev-name').textContent === 'Stage left'")
            await self.shot("device")
        self.go(go())

    def test_a_page_left_gives_its_client_slot_back(self):
        # Loaded again and again (or left for another page), the page closes
        # its WebSocket: the old ones would otherwise hold the device's
        # eight client slots.
        async def go():
            for k in range(3):
                await self.b.open("http://127.0.0.1:%d/?again=%d" % (self.server.port, k))
                await self.b.wait_for("document.body.classList.contains('live')", TIMEOUT, "the page again")
        self.go(go())
        self.server.wait_err("close message received\n", count=3)

    def test_connecting_shown_while_the_server_is_gone_then_recovers(self):
        async def go():
            b = self.b
            self.raw.close()
            self.server.stop()
            await b.wait_for("getComputedStyle(document.getElementById('conn')).display !== 'none'", TIMEOUT,
                             "the CONNECTING overlay")
            self.assertEqual(await b.eval("document.getElementById('conn').textContent"), "CONNECTING...")
            await self.shot("connecting")
            self.server.start(wait_probe=False)
            await b.wait_for("document.body.classList.contains('live')", TIMEOUT, "the page back")
            raw = RawClient(self.server.port)
            self.addCleanup(raw.close)
            raw.send("2,%d,7,4.5" % raw.conn)
            await b.wait_for("document.querySelector('#bus7 .val').textContent === '+4.5 dB'")
        self.go(go())


if __name__ == "__main__":
    unittest.main()
