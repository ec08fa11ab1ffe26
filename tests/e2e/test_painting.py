"""Painting and navigating the real program with xdotool: without a pen a
drag paints a stroke in the default ink, Ctrl+Z and Ctrl+Y take it away and
bring it back, a middle-button drag moves the canvas and the wheel zooms
about the pointer; a fill inside a lasso keeps to the lasso and to the line
art, read back from the exported picture."""
import math
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image

from plumaro_e2e import CANVAS_BOX, Plumaro, centroid, click, drag, ink_pixels, screenshot

EXE = None


LASSO_BUTTON = (195, 118)
FILL_BUTTON = (42, 374)
RED_SWATCH = (150, 544)


def inside(polygon, x, y):
    """Even-odd test of a point against a closed polygon."""
    result = False
    for (x0, y0), (x1, y1) in zip(polygon, polygon[1:] + polygon[:1]):
        if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
            result = not result
    return result


def to_outline(polygon, x, y):
    """Distance from a point to the nearest side of a closed polygon."""
    best = 1e9
    for (x0, y0), (x1, y1) in zip(polygon, polygon[1:] + polygon[:1]):
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        best = min(best, math.hypot(x - x0 - t * dx, y - y0 - t * dy))
    return best


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

    def export(self):
        """Ctrl+E writes the canvas to sketch.png; returns it as RGB."""
        path = os.path.join(self.app.appdata, "Plumaro", "sketch.png")
        if os.path.exists(path):
            os.remove(path)
        self.app.pointer_into_window(640, 700)
        self.app.key("ctrl+e")
        deadline = time.monotonic() + 20
        while not os.path.exists(path) and time.monotonic() < deadline:
            time.sleep(0.2)
        time.sleep(0.4)
        self.assertTrue(os.path.exists(path), self.app.log())
        return Image.open(path).convert("RGB")

    def test_a_fill_inside_a_lasso_keeps_to_it_and_to_the_line_art(self):
        found = re.search(r"canvas ready, (\d+)x(\d+) document on (\d+)x(\d+) display", self.app.log())
        self.assertIsNotNone(found, self.app.log())
        w, h, dw, dh = (int(v) for v in found.groups())
        ox, oy = (dw - w) / 2, (dh - h) / 2  # the view starts centred at 1:1
        ring = [(640 + round(150 * math.cos(a / 40 * 2 * math.pi)), 400 + round(150 * math.sin(a / 40 * 2 * math.pi)))
                for a in range(41)]
        drag(self.origin, ring)
        click(self.origin, *LASSO_BUTTON)
        lasso = [(560, 280), (820, 300), (800, 520), (520, 500)]
        drag(self.origin, lasso + lasso[:1], pause=0.05)
        # Choosing the bucket and a colour keeps the selection.
        click(self.origin, *FILL_BUTTON)
        click(self.origin, *RED_SWATCH)
        click(self.origin, 640, 400)
        self.app.pointer_into_window(640, 700)
        self.app.key("Return")
        picture = self.export()

        def seen(x, y):
            return picture.getpixel((round(x - ox), round(y - oy)))

        red = white = 0
        for y in range(250, 551, 6):
            for x in range(490, 791, 6):
                d = math.hypot(x - 640, y - 400)
                if abs(d - 150) < 20 or to_outline(lasso, x, y) < 4:
                    continue  # the ink and its soft edges, the lasso's own edge
                colour = seen(x, y)
                if d < 150 and inside(lasso, x, y):
                    self.assertTrue(colour[1] < 80 and colour[0] > 150, (x, y, colour))
                    red += 1
                else:
                    self.assertEqual(colour, (255, 255, 255), (x, y))
                    white += 1
        self.assertGreater(red, 200)
        self.assertGreater(white, 200)

        # Undo: first the selection laid down by Enter, then the fill.
        self.app.key("ctrl+z")
        self.app.key("ctrl+z")
        picture = self.export()
        self.assertEqual(seen(640, 400), (255, 255, 255))
        self.assertLess(seen(790, 400)[0], 100, "the ring stays")
        self.app.pointer_into_window()
        self.app.key("Escape")
        self.assertEqual(self.app.wait_exit(), 0, self.app.log())


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
