"""The dialogs used with the mouse and keys on the real program, without a
native file chooser: PNG export from its popup, a new canvas, saving through
the name popup, loading from the list of saved drawings, the colour picker,
placed shapes and text laid down with Enter, and Exit with its question."""
import os
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image

from plumaro_e2e import Plumaro, click, drag, read_plm

EXE = None

# Window points at scale 1 on 1280 x 800 (rows 28 high, gaps 6; popups 560
# wide from x 360, their buttons 110 wide).
FOLD_BRUSH, FOLD_COLOR, FOLD_TOOLS = (108, 680), (108, 442), (108, 204)
FILE_HEADER_FOLDED = (108, 340)        # with Tools, Color and Brush folded
NEW, SAVE, LOAD = (46, 374), (108, 374), (170, 374)
EXPORT = (108, 408)
EXIT_FOLDED = (108, 448)               # Help and Exit below the folded sections
RECTANGLE, TEXT, CHIP = (131, 306), (131, 374), (108, 510)
EXPORT_GO = (579, 485)
NEW_512 = (822, 400)
NAME_FIELD, NAME_SAVE = (640, 68), (579, 102)
OPEN_ROW_0 = (640, 227)
PICKER_R, PICKER_G, PICKER_B, PICKER_OK = 366, 400, 434, (579, 502)
PICKER_LEFT, PICKER_RIGHT = 398, 849
TEXT_PLACE = (579, 254)
CONFIRM_YES = (579, 417)


def line(x0, y0, x1, y1, steps=24):
    return [(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps)) for i in range(steps + 1)]


class Dialogs(unittest.TestCase):
    def setUp(self):
        self.appdata = tempfile.mkdtemp(prefix="plumaro-dialogs-")
        self.save = os.path.join(self.appdata, "Plumaro")
        self.app = None

    def tearDown(self):
        if self.app:
            self.app.stop()
        subprocess.run(["rm", "-rf", self.appdata])

    def start(self):
        self.app = Plumaro(EXE, appdata=self.appdata)
        self.app.wait_window()
        self.assertTrue(self.app.wait_log("state switch: splash -> canvas", timeout=20), self.app.log())
        self.app.pointer_into_window()
        self.origin = self.app.geometry()[:2]

    def click(self, point, pause=0.3):
        click(self.origin, point[0], point[1], pause)

    def open_file_section(self):
        for point in (FOLD_BRUSH, FOLD_COLOR, FOLD_TOOLS, FILE_HEADER_FOLDED):
            self.click(point)

    def wait_for(self, path, timeout=20):
        deadline = time.monotonic() + timeout
        while not os.path.exists(path) and time.monotonic() < deadline:
            time.sleep(0.2)
        time.sleep(0.4)
        self.assertTrue(os.path.exists(path), path + "\n" + self.app.log())

    def export_sketch(self):
        """Ctrl+E writes the whole canvas to sketch.png; returns it as RGBA."""
        path = os.path.join(self.save, "sketch.png")
        if os.path.exists(path):
            os.remove(path)
        self.app.pointer_into_window(640, 700)
        self.app.key("ctrl+e")
        self.wait_for(path)
        return Image.open(path).convert("RGBA")

    def quit(self):
        self.app.pointer_into_window(640, 700)
        self.app.key("Escape")
        self.assertEqual(self.app.wait_exit(), 0, self.app.log())

    def test_export_from_the_popup_covers_the_drawing_and_its_border(self):
        self.start()
        drag(self.origin, line(500, 300, 700, 400))
        self.open_file_section()
        self.click(EXPORT)
        self.click(EXPORT_GO, pause=1.0)
        path = os.path.join(self.save, "sketch.png")
        self.wait_for(path)
        check = subprocess.run(["pngcheck", path], capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        image = Image.open(path)
        # The stroke spans 200 x 100 window pixels and a 24 px brush adds 12
        # on each side; the full-drawing export adds a border of 32.
        w, h = image.size
        self.assertAlmostEqual(w, 200 + 24 + 64, delta=4)
        self.assertAlmostEqual(h, 100 + 24 + 64, delta=4)
        self.assertIn("Exported %dx%d" % (w, h), self.app.log())

    def test_new_canvas_save_through_the_name_popup_and_load_from_the_list(self):
        self.start()
        self.open_file_section()
        self.click(NEW)
        self.click(NEW_512, pause=0.6)
        self.assertTrue(self.app.wait_log("new 512x512 document"), self.app.log())
        drag(self.origin, line(600, 380, 680, 420))
        # Ctrl+S without a chooser asks for a name.
        self.app.pointer_into_window(640, 600)
        self.app.key("ctrl+s")
        time.sleep(0.4)
        self.click(NAME_FIELD)
        subprocess.run(["xdotool", "key", "ctrl+a"], check=True)
        subprocess.run(["xdotool", "type", "--delay", "40", "Moon study"], check=True)
        self.click(NAME_SAVE, pause=0.6)
        path = os.path.join(self.save, "Moon study.plm")
        self.wait_for(path)
        width, height, template, layers = read_plm(path)
        self.assertEqual((width, height, len(layers)), (512, 512, 1))
        self.assertIn("Saved: Moon study.plm", self.app.log())
        # A new canvas, then the list of saved drawings brings it back.
        self.click(NEW)
        self.click((640, 400), pause=0.6)  # 1024
        self.assertTrue(self.app.wait_log("new 1024x1024 document"), self.app.log())
        self.click(LOAD, pause=0.5)
        self.click(OPEN_ROW_0, pause=0.8)
        self.assertTrue(self.app.wait_log("Loaded: Moon study.plm"), self.app.log())
        self.quit()
        width, height, template, layers = read_plm(os.path.join(self.save, "session.plm"))
        self.assertEqual((width, height), (512, 512))

    def test_a_picked_colour_paints(self):
        self.start()
        self.click(CHIP)
        wx, wy = self.origin
        for x, y in ((PICKER_RIGHT, PICKER_R), (PICKER_LEFT, PICKER_G), (PICKER_RIGHT, PICKER_B)):
            self.click((x, y), pause=0.15)
        self.click(PICKER_OK)
        drag(self.origin, line(500, 600, 800, 600))
        image = self.export_sketch()
        ox, oy = (image.size[0] - 1280) / 2, (image.size[1] - 800) / 2
        r, g, b, a = image.getpixel((int(650 + ox), int(600 + oy)))
        self.assertGreater(r, 240, (r, g, b))
        self.assertLess(g, 15, (r, g, b))
        self.assertGreater(b, 240, (r, g, b))

    def test_placed_rectangle_and_text_are_laid_down_with_enter(self):
        self.start()
        self.click(RECTANGLE)
        self.app.pointer_into_window(640, 700)
        self.app.key("Return")
        self.click(TEXT)
        subprocess.run(["xdotool", "type", "--delay", "40", "Hi"], check=True)
        self.click(TEXT_PLACE, pause=0.5)
        self.app.pointer_into_window(640, 700)
        self.app.key("Return")
        image = self.export_sketch()
        ox, oy = (image.size[0] - 1280) / 2, (image.size[1] - 800) / 2
        # An outlined square of 320 around the view's centre, 24 px wide.
        edge = image.getpixel((int(640 - 160 + 6 + ox), int(400 + oy)))
        self.assertLess(max(edge[:3]), 80, edge)
        inside = image.getpixel((int(640 - 100 + ox), int(400 + oy)))
        self.assertEqual(inside, (255, 255, 255, 255))
        # The text sits at the centre too: some ink near it.
        ink = [image.getpixel((int(x + ox), int(y + oy))) for x in range(600, 680, 2) for y in range(380, 420, 2)]
        self.assertTrue(any(max(p[:3]) < 80 for p in ink), "no text at the centre")
        self.assertEqual(self.app.proc.poll(), None)

    def test_exit_asks_and_quits_with_status_0(self):
        self.start()
        for point in (FOLD_BRUSH, FOLD_COLOR, FOLD_TOOLS):
            self.click(point)
        self.click(EXIT_FOLDED)
        self.assertTrue(self.app.wait_log("state switch"), self.app.log())
        self.assertIsNone(self.app.proc.poll(), "Exit must ask first")
        self.click(CONFIRM_YES, pause=0.2)
        self.assertEqual(self.app.wait_exit(), 0, self.app.log())
        self.assertIn("main loop done", self.app.log())


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
