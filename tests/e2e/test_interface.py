"""The toolbar and the layer panel used with the mouse on the real program:
a swatch's colour reaches the exported picture, the fill tool and the undo and
redo buttons, a layer added and given a blend mode is found in the stored
session, and the interface hides with its eye button and returns with Tab."""
import os
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image

from plumaro_e2e import CANVAS_BOX, Plumaro, click, drag, read_plm, screenshot

EXE = None

# Button centres on a 1280 x 800 window at scale 1: the toolbar's content
# starts at (18, 18) and the panel's at (1082, 18); rows are 28 high with
# gaps of 6 and the Actions buttons 40 high (56 wide in three columns, 40.5
# in four).
UNDO = (46, 72)
REDO = (108, 72)
FILL_TOOL = (38, 374)
RED_SWATCH = (131, 544)
BLACK_SWATCH = (38, 544)
HIDE = (66, 32)
ADD_LAYER = (1100, 428)
BLEND = (1164, 530)


def line(x0, y0, x1, y1, steps=24):
    return [(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps)) for i in range(steps + 1)]


class Interface(unittest.TestCase):
    def setUp(self):
        self.appdata = tempfile.mkdtemp(prefix="plumaro-ui-")
        self.save = os.path.join(self.appdata, "Plumaro")
        self.app = Plumaro(EXE, appdata=self.appdata)
        self.app.wait_window()
        self.assertTrue(self.app.wait_log("state switch: splash -> canvas", timeout=20), self.app.log())
        self.app.pointer_into_window()
        self.origin = self.app.geometry()[:2]

    def tearDown(self):
        self.app.stop()
        subprocess.run(["rm", "-rf", self.appdata])

    def shot(self, name):
        wx, wy = self.origin
        subprocess.run(["xdotool", "mousemove", str(wx + 1000), str(wy + 780)], check=True)
        time.sleep(0.4)
        return screenshot(self.app.window, os.path.join(self.appdata, name + ".png"))

    def shot_until(self, name, point, wanted, timeout=10.0):
        """The pixel at `point` once `wanted` holds for it (a fill of a large
        canvas takes a while on a loaded machine), or the last one seen."""
        deadline = time.monotonic() + timeout
        while True:
            pixel = self.shot(name).getpixel(point)
            if wanted(pixel) or time.monotonic() > deadline:
                return pixel

    def test_swatch_colour_reaches_the_export(self):
        click(self.origin, *RED_SWATCH)
        drag(self.origin, line(400, 300, 800, 420))
        self.app.pointer_into_window(600, 600)
        self.app.key("ctrl+e")
        path = os.path.join(self.save, "sketch.png")
        deadline = time.monotonic() + 20
        while not os.path.exists(path) and time.monotonic() < deadline:
            time.sleep(0.2)
        time.sleep(0.5)
        check = subprocess.run(["pngcheck", path], capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        image = Image.open(path).convert("RGBA")
        # The 4096 canvas starts centred at 1:1: window (600, 360) is canvas (2008, 2008).
        side = image.size[0]
        ox, oy = (side - 1280) / 2, (image.size[1] - 800) / 2
        r, g, b, a = image.getpixel((int(600 + ox), int(360 + oy)))
        self.assertGreater(r, 150, (r, g, b, a))
        self.assertLess(g, 100, (r, g, b, a))
        self.assertLess(b, 100, (r, g, b, a))
        self.assertEqual(image.getpixel((int(600 + ox), int(600 + oy))), (255, 255, 255, 255))

    def test_fill_tool_and_the_undo_and_redo_buttons(self):
        click(self.origin, *FILL_TOOL)
        click(self.origin, 600, 400)
        dark = lambda p: all(abs(c - 40) <= 3 for c in p)
        filled = self.shot_until("filled", (600, 400), dark)
        self.assertTrue(dark(filled), filled)
        click(self.origin, *UNDO)
        white = lambda p: p == (255, 255, 255)
        self.assertEqual(self.shot_until("undone", (600, 400), white), (255, 255, 255))
        click(self.origin, *REDO)
        redone = self.shot_until("redone", (600, 400), dark)
        self.assertTrue(dark(redone), redone)

    def test_added_layer_and_its_blend_reach_the_session(self):
        click(self.origin, *ADD_LAYER)
        click(self.origin, *BLEND)
        click(self.origin, *BLEND)
        self.app.pointer_into_window(600, 400)
        self.app.key("Escape")
        self.assertEqual(self.app.wait_exit(), 0, self.app.log())
        width, height, template, layers = read_plm(os.path.join(self.save, "session.plm"))
        self.assertEqual([l[0] for l in layers], ["Layer 1", "Layer 2"])
        self.assertEqual(layers[0][2], 0)
        self.assertEqual(layers[1][2], 2, "the second blend click gives Screen")
        self.assertTrue(os.path.exists(os.path.join(self.save, "layout.json")))

    def test_ctrl_click_takes_a_colour_from_the_canvas(self):
        click(self.origin, *RED_SWATCH)
        drag(self.origin, line(400, 300, 800, 300))
        click(self.origin, *BLACK_SWATCH)
        wx, wy = self.origin
        subprocess.run(["xdotool", "mousemove", str(wx + 600), str(wy + 300)], check=True)
        time.sleep(0.2)
        subprocess.run(["xdotool", "keydown", "ctrl", "click", "1", "keyup", "ctrl"], check=True)
        time.sleep(0.3)
        drag(self.origin, line(400, 500, 800, 500))
        self.app.pointer_into_window(600, 650)
        self.app.key("ctrl+e")
        path = os.path.join(self.appdata, "Plumaro", "sketch.png")
        deadline = time.monotonic() + 20
        while not os.path.exists(path) and time.monotonic() < deadline:
            time.sleep(0.2)
        time.sleep(0.5)
        image = Image.open(path).convert("RGB")
        ox, oy = (image.size[0] - 1280) / 2, (image.size[1] - 800) / 2
        r, g, b = image.getpixel((int(600 + ox), int(500 + oy)))
        self.assertGreater(r, 150, (r, g, b))
        self.assertLess(g, 100, (r, g, b))
        self.assertLess(b, 100, (r, g, b))

    def test_hide_with_the_eye_and_show_with_tab(self):
        before = self.shot("shown")
        self.assertLess(max(before.getpixel((120, 300))), 120, "the toolbar covers the canvas at first")
        click(self.origin, *HIDE)
        hidden = self.shot("hidden")
        self.assertEqual(hidden.getpixel((120, 300)), (255, 255, 255))
        self.assertEqual(hidden.getpixel((1150, 300)), (255, 255, 255), "the layer panel hides too")
        self.assertLess(max(hidden.getpixel((9, 9))), 160, "the corner shows the way back")
        self.app.pointer_into_window(600, 400)
        self.app.key("Tab")
        back = self.shot("back")
        self.assertLess(max(back.getpixel((120, 300))), 120)
        self.assertLess(max(back.getpixel((1150, 300))), 120)


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
