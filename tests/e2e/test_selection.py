"""Selections in the real program, driven with xdotool and checked on the PNG
that Ctrl+E exports (decoded by PIL): a box selection dragged to a new place
and committed with Enter, then undone with Ctrl+Z; copy and paste; a lasso
cancelled with Escape leaving the picture unchanged."""
import os
import re
import subprocess
import sys
import time
import unittest

from PIL import Image

from plumaro_e2e import Plumaro, drag

EXE = None


def line(x0, y0, x1, y1, steps=20):
    return [(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps)) for i in range(steps + 1)]


class Selection(unittest.TestCase):
    def setUp(self):
        self.app = Plumaro(EXE)
        self.app.wait_window()
        self.assertTrue(self.app.wait_log("state switch: splash -> canvas", timeout=20), self.app.log())
        m = re.search(r"canvas ready, (\d+)x(\d+) document on (\d+)x(\d+) display", self.app.log())
        w, h, dw, dh = (int(v) for v in m.groups())
        self.offset = ((w - dw) / 2.0, (h - dh) / 2.0)  # canvas position of window pixel (0, 0)
        self.app.pointer_into_window()
        self.origin = self.app.geometry()[:2]
        self.png = os.path.join(self.app.appdata, "Plumaro", "sketch.png")
        self.exports = 0

    def tearDown(self):
        self.app.stop()

    def export(self):
        """Ctrl+E, then waits for the new file and decodes it."""
        self.app.pointer_into_window(1200, 760)
        self.exports += 1
        self.app.key("ctrl+e")
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if self.app.log().count("exported composite to") >= self.exports:
                break
            time.sleep(0.1)
        else:
            raise AssertionError("no export\n" + self.app.log())
        image = Image.open(self.png)
        image.load()
        return image.convert("RGB")

    def ink(self, image, x, y):
        """True when the window pixel (x, y) of the start-up view is painted in the export."""
        return max(image.getpixel((int(x + self.offset[0]), int(y + self.offset[1])))) < 100

    def key(self, name):
        self.app.key(name)
        time.sleep(0.2)

    def test_move_commit_undo_copy_paste_and_cancelled_lasso(self):
        drag(self.origin, line(300, 300, 500, 300))  # a 24 px stroke along y = 300
        self.key("s")
        drag(self.origin, line(270, 270, 530, 330))  # marquee around it
        drag(self.origin, line(400, 300, 400, 500))  # move the float down by 200
        self.key("Return")
        moved = self.export()
        self.assertTrue(self.ink(moved, 400, 500))
        self.assertFalse(self.ink(moved, 400, 300))

        self.key("ctrl+z")
        undone = self.export()
        self.assertTrue(self.ink(undone, 400, 300))
        self.assertFalse(self.ink(undone, 400, 500))

        # Copy the stroke and paste it: the copy lands 16 px right and down.
        drag(self.origin, line(270, 270, 530, 330))
        self.key("ctrl+c")
        self.key("ctrl+v")
        self.key("Return")
        pasted = self.export()
        self.assertTrue(self.ink(pasted, 400, 300))
        self.assertTrue(self.ink(pasted, 400, 320), "the pasted copy is missing")
        self.assertFalse(self.ink(undone, 400, 320))
        self.assertTrue(self.ink(pasted, 520, 316))
        self.assertFalse(self.ink(pasted, 400, 345))

        # A lasso lifts part of the picture; Escape puts it back untouched.
        self.key("l")
        drag(self.origin, [(350, 250), (470, 255), (480, 360), (360, 370), (350, 260)])
        self.key("Escape")
        self.assertIsNone(self.app.proc.poll(), "Escape quit instead of cancelling")
        after = self.export()
        box = (int(250 + self.offset[0]), int(250 + self.offset[1]), int(560 + self.offset[0]), int(380 + self.offset[1]))
        self.assertEqual(list(after.crop(box).getdata()), list(pasted.crop(box).getdata()))

        self.key("Escape")
        self.assertEqual(self.app.wait_exit(timeout=60), 0, self.app.log())


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
