"""Painting and navigating the real program with xdotool: without a pen a
drag paints a stroke in the default ink, Ctrl+Z and Ctrl+Y take it away and
bring it back, a middle-button drag moves the canvas and the wheel zooms
about the pointer."""
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

from plumaro_e2e import CANVAS_BOX, Plumaro, centroid, drag, ink_pixels, screenshot

EXE = None


def line(x0, y0, x1, y1, steps=30):
    return [(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps)) for i in range(steps + 1)]


class Painting(unittest.TestCase):
    def setUp(self):
        self.app = Plumaro(EXE)
        self.app.wait_window()
        self.assertTrue(self.app.wait_log("state switch: splash -> canvas", timeout=10), self.app.log())
        self.app.pointer_into_window()
        self.origin = self.app.geometry()[:2]
        self.shots = tempfile.mkdtemp(prefix="plumaro-shots-")

    def tearDown(self):
        self.app.stop()
        subprocess.run(["rm", "-rf", self.shots])

    def shot(self, name):
        # Keep the brush outline away from the picture being measured.
        wx, wy = self.origin
        subprocess.run(["xdotool", "mousemove", str(wx + 1200), str(wy + 760)], check=True)
        time.sleep(0.4)
        return screenshot(self.app.window, os.path.join(self.shots, name + ".png"))

    def test_stroke_undo_redo_pan_and_zoom(self):
        # The test server has no pen: one INFO line says so after the first
        # frame, and the mouse paints as it always did.
        log = self.app.log()
        pen_lines = [l for l in log.splitlines() if re.search(r"\bpen (input|found)", l)]
        self.assertEqual(len(pen_lines), 1, log)
        self.assertRegex(pen_lines[0], r"^INFO:.*pen input: no pen found, watching for one to be plugged in$")
        self.assertLess(log.index("state switch: (none) -> splash"), log.index(pen_lines[0]))
        drag(self.origin, line(300, 300, 700, 400))
        painted = self.shot("painted")
        ink = ink_pixels(painted, box=CANVAS_BOX)
        self.assertGreater(len(ink), 2000, "the stroke is not on the screen")
        r, g, b = painted.getpixel((500, 350))
        for channel in (r, g, b):
            self.assertLessEqual(abs(channel - 40), 3, painted.getpixel((500, 350)))
        self.assertEqual(painted.getpixel((500, 600)), (255, 255, 255))
        cx, cy = centroid(ink)
        self.assertAlmostEqual(cx, 500, delta=6)
        self.assertAlmostEqual(cy, 350, delta=6)

        self.app.key("ctrl+z")
        self.assertEqual(len(ink_pixels(self.shot("undone"), box=CANVAS_BOX)), 0, "Ctrl+Z left the stroke")
        self.app.key("ctrl+y")
        self.assertEqual(len(ink_pixels(self.shot("redone"), box=CANVAS_BOX)), len(ink), "Ctrl+Y did not bring it back")

        # A middle-button drag moves the canvas with the pointer.
        drag(self.origin, line(600, 600, 700, 660, steps=10), button=2)
        moved = ink_pixels(self.shot("panned"), box=CANVAS_BOX)
        mx, my = centroid(moved)
        self.assertAlmostEqual(mx - cx, 100, delta=3)
        self.assertAlmostEqual(my - cy, 60, delta=3)

        # One wheel notch up zooms by 1.1 about the pointer.
        px, py = 400, 200
        wx, wy = self.origin
        subprocess.run(["xdotool", "mousemove", str(wx + px), str(wy + py)], check=True)
        time.sleep(0.2)
        subprocess.run(["xdotool", "click", "4"], check=True)
        time.sleep(0.2)
        zoomed = ink_pixels(self.shot("zoomed"), box=CANVAS_BOX)
        zx, zy = centroid(zoomed)
        self.assertAlmostEqual(zx, px + (mx - px) * 1.1, delta=3)
        self.assertAlmostEqual(zy, py + (my - py) * 1.1, delta=3)
        self.assertAlmostEqual(len(zoomed) / len(moved), 1.21, delta=0.08)

        self.app.pointer_into_window()
        self.app.key("Escape")
        self.assertEqual(self.app.wait_exit(), 0, self.app.log())


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
