"""A drawing survives quitting: paint a stroke, quit with Escape, start again
with the same save folder, export with Ctrl+E and find the stroke in the PNG."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image

from plumaro_e2e import Plumaro

EXE = None

# Stroke end points in window coordinates.
START = (420, 330)
END = (860, 470)
STEPS = 24


def canvas_mapping(log):
    """Canvas position of window pixel (0, 0): the canvas starts centred at 1:1."""
    m = re.search(r"canvas ready, (\d+)x(\d+) document on (\d+)x(\d+) display", log)
    if not m:
        raise AssertionError("no canvas ready line\n" + log)
    w, h, dw, dh = (int(v) for v in m.groups())
    return w, h, (w - dw) / 2.0, (h - dh) / 2.0


class Session(unittest.TestCase):
    def setUp(self):
        self.appdata = tempfile.mkdtemp(prefix="plumaro-session-")
        self.save = os.path.join(self.appdata, "Plumaro")

    def tearDown(self):
        shutil.rmtree(self.appdata, ignore_errors=True)

    def start(self):
        app = Plumaro(EXE, appdata=self.appdata)
        app.wait_window()
        self.assertTrue(app.wait_log("state switch: splash -> canvas", timeout=20), app.log())
        return app

    def drag(self, app):
        wx, wy, _, _ = app.geometry()
        subprocess.run(["xdotool", "mousemove", str(wx + START[0]), str(wy + START[1])], check=True)
        time.sleep(0.2)
        subprocess.run(["xdotool", "mousedown", "1"], check=True)
        time.sleep(0.1)
        for i in range(1, STEPS + 1):
            x = START[0] + (END[0] - START[0]) * i / STEPS
            y = START[1] + (END[1] - START[1]) * i / STEPS
            subprocess.run(["xdotool", "mousemove", str(wx + int(x)), str(wy + int(y))], check=True)
            time.sleep(0.02)
        subprocess.run(["xdotool", "mouseup", "1"], check=True)
        time.sleep(0.3)

    def test_stroke_survives_a_restart(self):
        app = self.start()
        try:
            width, height, ox, oy = canvas_mapping(app.log())
            app.pointer_into_window(*START)
            self.drag(app)
            app.key("Escape")
            self.assertEqual(app.wait_exit(timeout=60), 0, app.log())
            first = app.log()
        finally:
            app.stop()
        self.assertIn("session persisted to " + os.path.join(self.save, "session.plm"), first)
        self.assertTrue(os.path.isfile(os.path.join(self.save, "session.plm")))
        self.assertEqual(os.path.getsize(os.path.join(self.save, "settings.dat")), 128)
        leftovers = [n for n in os.listdir(self.save) if ".tmp" in n]
        self.assertEqual(leftovers, [])

        app = self.start()
        try:
            self.assertIn("previous session document restored", app.log())
            app.pointer_into_window(40, 40)
            png = os.path.join(self.save, "sketch.png")
            app.key("ctrl+e")
            self.assertTrue(app.wait_log("exported composite to " + png, timeout=60), app.log())
            app.key("Escape")
            self.assertEqual(app.wait_exit(timeout=60), 0, app.log())
        finally:
            app.stop()

        image = Image.open(png).convert("RGBA")
        self.assertEqual(image.size, (width, height))

        def pixel_at_window(x, y):
            return image.getpixel((int(round(x + ox)), int(round(y + oy))))

        # Along the stroke, away from its ends: brush paint, not paper.
        painted = 0
        samples = 9
        for i in range(1, samples + 1):
            t = i / (samples + 1)
            p = pixel_at_window(START[0] + (END[0] - START[0]) * t, START[1] + (END[1] - START[1]) * t)
            if max(p[:3]) < 200:
                painted += 1
        self.assertEqual(painted, samples, "stroke not found in the exported image")
        # Far from the stroke: white paper.
        for x, y in [(100, 650), (1150, 120), (640, 700), (200, 150)]:
            self.assertEqual(pixel_at_window(x, y)[:3], (255, 255, 255), (x, y))
        # The corners of the canvas, far off screen, are paper too.
        self.assertEqual(image.getpixel((0, 0))[:3], (255, 255, 255))
        self.assertEqual(image.getpixel((width - 1, height - 1))[:3], (255, 255, 255))


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
