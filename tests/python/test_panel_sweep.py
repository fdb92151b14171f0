"""Every screen reachable from the main menu, walked with the tour's keys
(tools/panel-tour) on the real server and panel, headless, in a fresh
simulation root. On each screen nothing may lie outside 320 x 240 and no
text may be wider than its widget; at the end neither program may have
reported a sanitizer finding (in the sanitizer build this is the sweep
under AddressSanitizer and UndefinedBehaviorSanitizer)."""
import os
import shutil
import subprocess
import tempfile
import unittest

from sim_server import load_script

APP = os.environ["MIREL_APP_BIN"]
SOURCE = os.environ["MIREL_SOURCE_DIR"]
TEXT_WIDTH = os.environ["MIREL_TEXT_WIDTH_BIN"]
BUILD = os.path.dirname(APP)  # mirelserver and sim/fpga/fpgamodel lie beside
FINDINGS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:")
# Kinds whose text is drawn on one line inside the widget's box.
TEXT_KINDS = ("label", "button", "checkbox", "radio", "textedit")


def load_tour():
    path = os.path.join(SOURCE, "tools", "panel-tour")
    return load_script(path, "panel_tour")


def parse(screen_text):
    """screen.txt as (kind, x, y, w, h, marks, text) tuples."""
    items = []
    for line in screen_text.splitlines():
        parts = line.split(" ", 6)
        if len(parts) >= 6:
            items.append((parts[0], *map(int, parts[1:5]), parts[5], parts[6] if len(parts) > 6 else ""))
    return items


class PanelSweep(unittest.TestCase):
    def setUp(self):
        self.tour = load_tour()
        self.root = tempfile.mkdtemp(prefix="mirel-sweep-")
        self.device = None
        self.widths = subprocess.Popen([TEXT_WIDTH], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                       env=dict(os.environ, SDL_VIDEODRIVER="dummy"))

    def tearDown(self):
        if self.device is not None:
            self.device.close()
        self.widths.stdin.close()
        self.widths.wait(10)
        shutil.rmtree(self.root, ignore_errors=True)

    def width(self, text):
        self.widths.stdin.write(text + "\n")
        self.widths.stdin.flush()
        return int(self.widths.stdout.readline())

    def check_screen(self, name, text):
        problems = []
        for kind, x, y, w, h, marks, shown in parse(text):
            if kind in ("slide", "overlay"):
                continue
            if x < 0 or y < 0 or w <= 0 or h <= 0 or x + w > 320 or y + h > 240:
                problems.append(f"{kind} at {x} {y} {w} {h} outside the screen")
            # A focused text wider than its widget scrolls through (a marquee).
            if kind in TEXT_KINDS and "*" not in marks and shown and "\\n" not in shown and not shown.endswith("..."):
                need = self.width(shown)
                if need > w:
                    problems.append(f"{kind} {shown!r} needs {need} pixels, has {w}")
        return [f"{name}: {p}" for p in problems]

    def test_every_screen_fits_and_no_program_reports_a_finding(self):
        if not os.path.exists(os.path.join(BUILD, "sim", "fpga", "fpgamodel")):
            self.skipTest("no FPGA model in this build (the tour plays its test signal)")
        tour = self.tour
        steps = tour.TOUR
        if tour.hardware_revision(BUILD) == 1:
            steps = [tour.REV1_KEYS.get(name, (name, keys, line)) for name, keys, line in steps]
        subprocess.run([os.path.join(SOURCE, "tools", "sim-root"), self.root], check=True,
                       stdout=subprocess.DEVNULL)
        os.mkfifo(os.path.join(self.root, "dev", "input", "event0"))
        os.makedirs(os.path.join(self.root, "dev", "sda1"), exist_ok=True)  # the USB stick
        self.device = tour.Device(BUILD, self.root)
        seen, problems = [], []
        for name, keys, line in steps:
            self.device.press(keys)
            tour.wait(lambda: self.device.settled(line), seconds=20, what=f"the screen {name} ({line!r})")
            problems += self.check_screen(name, self.device.screen_text())
            seen.append(name)
        self.assertEqual(len(seen), len(steps))
        self.assertEqual(problems, [])
        self.device.close()
        self.device = None
        for log in ("mirelapp.log", "tour.log"):
            with open(os.path.join(self.root, "tmp", log), errors="replace") as f:
                text = f.read()
            for finding in FINDINGS:
                self.assertNotIn(finding, text, f"{log}:\n{text[-4000:]}")


if __name__ == "__main__":
    unittest.main()
