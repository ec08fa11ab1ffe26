"""Drawings shared with other painting programs, checked with readers and
writers that are not the program's: a layered drawing saved as OpenRaster is
read with zipfile, ElementTree and PIL and opens again to the same picture;
an archive written here with offsets, a nested stack, a hidden layer and
every composite op opens with the right layers; a PNG and a damaged archive
named on the command line; --help and --version without a display; the
desktop entry and the file type package."""
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET
import zipfile

from PIL import Image

from plumaro_e2e import Plumaro, read_plm

EXE = None
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
W, H = 240, 160


def premultiply(r, g, b, a):
    return tuple((c * a + 127) // 255 for c in (r, g, b)) + (a,)


def tga(pixels, w, h):
    """An uncompressed top-down 32-bit TGA of premultiplied pixels, as drawings store them."""
    head = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, w, h, 32, 0x28)
    body = bytearray()
    for r, g, b, a in pixels:
        body += bytes((b, g, r, a))
    return head + bytes(body)


def write_plm(path, w, h, layers, template=0):
    """A drawing file written without the program: layers bottom first as
    (name, opacity, blend, visible, locked, straight RGBA pixels)."""
    data = bytearray(b"PLM3" + struct.pack("<iiiI", w, h, template, len(layers)))
    for name, opacity, blend, visible, locked, pixels in layers:
        image = tga([premultiply(*p) for p in pixels], w, h)
        raw = name.encode("utf-8")
        data += struct.pack("<I", len(raw)) + raw
        data += struct.pack("<IiIII", round(opacity * 1000), blend, int(visible), int(locked), len(image)) + image
    with open(path, "wb") as f:
        f.write(bytes(data))


def canvas(fill=(0, 0, 0, 0)):
    return [fill] * (W * H)


def rect(pixels, x0, y0, x1, y1, colour):
    for y in range(y0, y1):
        for x in range(x0, x1):
            pixels[y * W + x] = colour
    return pixels


# Bottom first: name, opacity, blend, visible, locked, pixels, painted box (x0, y0, x1, y1).
LAYERS = [
    ("Paper", 1.0, 0, True, False, [(x, y, 200, 255) for y in range(H) for x in range(W)], (0, 0, W, H)),
    ("Ink & wash", 1.0, 1, True, False, rect(rect(canvas(), 20, 20, 100, 80, (200, 100, 50, 255)),
                                             30, 90, 70, 110, (90, 40, 160, 128)), (20, 20, 100, 110)),
    ("Light", 0.8, 2, True, False, rect(canvas(), 60, 40, 140, 120, (50, 100, 200, 200)), (60, 40, 140, 120)),
    ("Glow", 0.5, 3, True, False, rect(canvas(), 120, 30, 200, 90, (100, 100, 100, 255)), (120, 30, 200, 90)),
    ("Hidden <draft>", 1.0, 0, False, False, rect(canvas(), 0, 0, 50, 50, (255, 0, 0, 255)), (0, 0, 50, 50)),
    ("Locked", 1.0, 0, True, True, rect(canvas(), 180, 100, 230, 150, (10, 200, 10, 160)), (180, 100, 230, 150)),
]
OPS = ["svg:src-over", "svg:multiply", "svg:screen", "svg:plus"]


def png_bytes(image):
    out = io.BytesIO()
    image.save(out, "PNG")
    return out.getvalue()


def solid(w, h, colour):
    return Image.new("RGBA", (w, h), colour)


def write_ora(path, stack_xml, entries, mimetype=b"image/openraster", first="mimetype"):
    """An OpenRaster archive written with zipfile, as another program would."""
    with zipfile.ZipFile(path, "w") as z:
        if first == "mimetype":
            z.writestr(zipfile.ZipInfo("mimetype"), mimetype, compress_type=zipfile.ZIP_STORED)
        z.writestr("stack.xml", stack_xml, compress_type=zipfile.ZIP_DEFLATED)
        for name, data in entries.items():
            z.writestr(name, data, compress_type=zipfile.ZIP_DEFLATED)


def plm_layer_pixels(path):
    """Each layer of a drawing file as a PIL image of its premultiplied bytes."""
    with open(path, "rb") as f:
        data = f.read()
    _, _, _, count = struct.unpack_from("<iiiI", data, 4)
    at, images = 20, []
    for _ in range(count):
        (n,) = struct.unpack_from("<I", data, at)
        at += 4 + n
        length = struct.unpack_from("<IiIII", data, at)[4]
        at += 20
        images.append(Image.open(io.BytesIO(data[at:at + length])).convert("RGBA"))
        at += length
    return images


def close(a, b, tolerance):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


# A drawing for the commands that need no window: a grid under layers of
# several colours and partial alpha, blended Normal, Multiply and Screen at
# several opacities, a hidden one and a locked one.
CLI_LAYERS = [
    ("Ink", 1.0, 0, True, False, rect(rect(canvas(), 20, 20, 100, 80, (200, 100, 50, 255)),
                                      30, 90, 150, 130, (90, 40, 160, 128))),
    ("Wash", 0.7, 1, True, False, rect(canvas(), 60, 40, 200, 120, (50, 180, 220, 160))),
    ("Light", 0.8, 2, True, True, rect(canvas(), 150, 10, 230, 70, (250, 200, 20, 200))),
    ("Draft", 1.0, 0, False, False, rect(canvas(), 0, 0, 240, 160, (255, 0, 0, 255))),
]
GRID = 9  # "Medium grid": straight lines, drawn alike with and without a display

# An archive as another program leaves it: a layer inside a group whose
# offsets add up, one running off the bottom right, one starting above and
# left of the canvas, blended with Multiply and Add; it keeps the ruled page
# it had here, so the program's own export of it is drawn by the device.
CLI_STACK = """<?xml version='1.0' encoding='UTF-8'?>
<image version="0.0.3" w="200" h="120" xmlns:plumaro="urn:plumaro:ora" plumaro:template="1">
 <stack>
  <layer src="data/top.png" name="Top" x="150" y="90" composite-op="svg:plus" opacity="0.6"/>
  <stack name="Group" x="10" y="6" opacity="0.75">
   <layer src="data/a.png" name="In group" x="20" y="10" composite-op="svg:multiply"/>
  </stack>
  <layer src="data/c.png" name="Corner" x="-30" y="-20"/>
  <layer src="data/d.png" name="Back" composite-op="svg:src-over"/>
 </stack>
</image>"""


def cli_ora_entries():
    back = Image.new("RGBA", (200, 120), (0, 0, 0, 0))
    for x in range(200):
        for y in range(20, 100):
            back.putpixel((x, y), (x, 90, 255 - x, 40 + y))
    return {"data/top.png": png_bytes(solid(80, 60, (0, 0, 255, 255))),
            "data/a.png": png_bytes(solid(60, 40, (0, 255, 0, 128))),
            "data/c.png": png_bytes(solid(50, 40, (255, 200, 0, 190))),
            "data/d.png": png_bytes(back)}


def worst_difference(a, b):
    """The largest channel difference of two images of one size."""
    assert a.size == b.size, (a.size, b.size)
    return max(max(abs(x - y) for x, y in zip(p, q)) for p, q in zip(a.getdata(), b.getdata()))


class Exchange(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="plumaro-exchange-")
        self.apps = []

    def tearDown(self):
        for app in self.apps:
            app.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def start(self, args=(), env=None, appdata=None):
        appdata = appdata or tempfile.mkdtemp(dir=self.dir)
        app = Plumaro(EXE, appdata=appdata, args=args, env=env)
        self.apps.append(app)
        app.wait_window()
        self.assertTrue(app.wait_log("state switch: splash -> canvas", timeout=20), app.log())
        app.pointer_into_window(640, 600)
        return app

    def export(self, app):
        """Ctrl+E, then the exported picture."""
        path = os.path.join(app.appdata, "Plumaro", "sketch.png")
        app.key("ctrl+e")
        self.assertTrue(app.wait_log("exported composite to", timeout=20), app.log())
        time.sleep(0.3)
        return Image.open(path).convert("RGBA")

    def quit(self, app):
        app.pointer_into_window(640, 600)
        app.key("Escape")
        self.assertEqual(app.wait_exit(), 0, app.log())

    def test_a_layered_drawing_goes_out_as_openraster_and_comes_back_the_same(self):
        source = os.path.join(self.dir, "layered.plm")
        write_plm(source, W, H, [l[:6] for l in LAYERS])
        shared = os.path.join(self.dir, "shared.ora")
        app = self.start(args=[source], env={"PLUMARO_NO_NATIVE_CHOOSER": None, "PLUMARO_FILE_CHOICE": shared})
        self.assertTrue(app.wait_log("loaded document " + source), app.log())
        original = self.export(app)
        app.key("ctrl+s")
        self.assertTrue(app.wait_log("saved OpenRaster " + shared, timeout=20), app.log())
        self.quit(app)

        with zipfile.ZipFile(shared) as z:
            first = z.infolist()[0]
            self.assertEqual(first.filename, "mimetype")
            self.assertEqual(first.compress_type, zipfile.ZIP_STORED)
            self.assertEqual(z.read("mimetype"), b"image/openraster")
            self.assertIsNone(z.testzip())
            root = ET.fromstring(z.read("stack.xml"))
            self.assertEqual((root.tag, root.get("w"), root.get("h")), ("image", str(W), str(H)))
            listed = root.find("stack").findall("layer")
            self.assertEqual(len(listed), len(LAYERS))
            for element, (name, opacity, blend, visible, locked, pixels, box) in zip(listed, reversed(LAYERS)):
                self.assertEqual(element.get("name"), name)
                self.assertEqual(element.get("composite-op"), OPS[blend])
                self.assertAlmostEqual(float(element.get("opacity")), opacity, places=3)
                self.assertEqual(element.get("visibility"), "visible" if visible else "hidden")
                self.assertEqual(element.get("edit-locked") == "true", locked, name)
                # Cropped to the painted part, at its offset, straight alpha.
                x0, y0, x1, y1 = box
                self.assertEqual((int(element.get("x")), int(element.get("y"))), (x0, y0), name)
                layer = Image.open(io.BytesIO(z.read(element.get("src"))))
                self.assertEqual(layer.mode, "RGBA")
                self.assertEqual(layer.size, (x1 - x0, y1 - y0), name)
                for y in range(y0, y1, 7):
                    for x in range(x0, x1, 5):
                        want = pixels[y * W + x]
                        got = layer.getpixel((x - x0, y - y0))
                        if want[3] == 0:
                            self.assertEqual(got[3], 0, (name, x, y))
                        else:
                            self.assertTrue(close(got, want, 2), (name, x, y, got, want))
            merged = Image.open(io.BytesIO(z.read("mergedimage.png")))
            self.assertEqual(merged.size, (W, H))
            thumb = Image.open(io.BytesIO(z.read("Thumbnails/thumbnail.png")))
            self.assertLessEqual(max(thumb.size), 256)

        again = self.start(args=[shared])
        self.assertTrue(again.wait_log("loaded OpenRaster " + shared), again.log())
        reopened = self.export(again)
        self.assertEqual(reopened.size, original.size)
        worst = max(max(abs(a - b) for a, b in zip(p, q)) for p, q in zip(original.getdata(), reopened.getdata()))
        self.assertLessEqual(worst, 2, "the picture changed on the way through OpenRaster")

    def test_an_archive_from_another_program_opens_with_its_layers_in_place(self):
        stack = """<?xml version='1.0' encoding='UTF-8'?>
<image version="0.0.3" w="200" h="120">
 <stack>
  <layer src="data/top.png" name="Top" x="150" y="90" composite-op="svg:plus" opacity="0.5"/>
  <stack name="Group" x="10" y="5" opacity="0.5" visibility="visible">
   <layer src="data/a.png" name="In group" x="20" y="10" composite-op="svg:screen"/>
   <layer src="data/b.png" name="Hidden one" visibility="hidden" composite-op="svg:multiply"/>
  </stack>
  <layer src="data/c.png" name="Overlay" composite-op="svg:overlay" x="-30" y="-20"/>
  <layer src="data/d.png" name="Back" composite-op="svg:src-over"/>
 </stack>
</image>"""
        entries = {
            "data/top.png": png_bytes(solid(80, 60, (0, 0, 255, 255))),   # runs past the right and bottom edges
            "data/a.png": png_bytes(solid(30, 20, (0, 255, 0, 128))),
            "data/b.png": png_bytes(solid(10, 10, (255, 0, 0, 255))),
            "data/c.png": png_bytes(solid(40, 30, (255, 255, 0, 255))),  # starts above and left of the canvas
            "data/d.png": png_bytes(solid(200, 120, (40, 40, 40, 255))),
            "mergedimage.png": png_bytes(solid(200, 120, (0, 0, 0, 255))),
        }
        path = os.path.join(self.dir, "other.ora")
        write_ora(path, stack, entries)
        target = os.path.join(self.dir, "kept.plm")
        app = self.start(args=[path], env={"PLUMARO_NO_NATIVE_CHOOSER": None, "PLUMARO_FILE_CHOICE": target})
        self.assertTrue(app.wait_log("The blend mode svg:overlay is not known here"), app.log())
        app.key("ctrl+s")
        self.assertTrue(app.wait_log("saved document", timeout=20) or os.path.exists(target), app.log())
        time.sleep(0.3)
        width, height, _, layers = read_plm(target)
        self.assertEqual((width, height), (200, 120))
        self.assertEqual([l[0] for l in layers], ["Back", "Overlay", "Hidden one", "In group", "Top"])
        blends = {l[0]: l[2] for l in layers}
        self.assertEqual(blends, {"Back": 0, "Overlay": 0, "Hidden one": 1, "In group": 2, "Top": 3})
        visible = {l[0]: l[3] for l in layers}
        self.assertEqual(visible["Hidden one"], False)
        self.assertTrue(all(visible[n] for n in ("Back", "Overlay", "In group", "Top")))
        opacity = {l[0]: l[1] for l in layers}
        self.assertAlmostEqual(opacity["Top"], 0.5, places=2)
        self.assertAlmostEqual(opacity["In group"], 0.5, places=2, msg="the group's opacity carries over")
        images = dict(zip([l[0] for l in layers], plm_layer_pixels(target)))
        # Offsets: the group's (10, 5) adds to its layer's (20, 10).
        group = images["In group"]
        self.assertEqual(group.getpixel((29, 14)), (0, 0, 0, 0))
        self.assertTrue(close(group.getpixel((30, 15)), (0, 128, 0, 128), 1), group.getpixel((30, 15)))
        self.assertTrue(close(group.getpixel((59, 34)), (0, 128, 0, 128), 1))
        self.assertEqual(group.getpixel((60, 35)), (0, 0, 0, 0))
        overlay = images["Overlay"]
        self.assertEqual(overlay.getpixel((9, 9)), (255, 255, 0, 255))
        self.assertEqual(overlay.getpixel((10, 10)), (0, 0, 0, 0))
        top = images["Top"]
        self.assertEqual(top.getpixel((149, 89)), (0, 0, 0, 0))
        self.assertEqual(top.getpixel((199, 119)), (0, 0, 255, 255))

    def test_a_png_on_the_command_line_becomes_a_drawing_of_its_size(self):
        picture = Image.new("RGBA", (300, 200), (255, 255, 255, 255))
        for x in range(300):
            for y in range(60, 140):
                picture.putpixel((x, y), (x % 256, 30, 200, 255))
        path = os.path.join(self.dir, "picture.png")
        picture.save(path)
        app = self.start(args=[path])
        self.assertTrue(app.wait_log("opened image " + path), app.log())
        exported = self.export(app)
        self.assertEqual(exported.size, (300, 200))
        self.assertEqual(exported.getpixel((10, 10)), (255, 255, 255, 255))
        for x in (0, 77, 255, 299):
            self.assertTrue(close(exported.getpixel((x, 100)), (x % 256, 30, 200, 255), 1), x)
        self.quit(app)
        # The picture is never overwritten by a drawing.
        self.assertEqual(Image.open(path).getpixel((77, 100)), (77, 30, 200, 255))

    def test_refused_files_on_the_command_line_keep_the_session(self):
        appdata = tempfile.mkdtemp(dir=self.dir)
        os.makedirs(os.path.join(appdata, "Plumaro"))
        session = os.path.join(appdata, "Plumaro", "session.plm")
        write_plm(session, 64, 64, [("Mine", 1.0, 0, True, False, [(9, 9, 9, 255)] * (64 * 64))])
        broken = os.path.join(self.dir, "broken.ora")
        with open(broken, "wb") as f:
            f.write(b"PK\x03\x04 this is no archive at all" * 4)
        nomime = os.path.join(self.dir, "nomime.ora")
        write_ora(nomime, "<image w='10' h='10'><stack/></image>", {}, first="stack")
        garbage = os.path.join(self.dir, "garbage.ora")
        write_ora(garbage, "<image w='10' h='10'><stack><layer src='data/x.png'/></stack></image>",
                  {"data/x.png": b"\x89PNG\r\n\x1a\n not really"})
        huge = os.path.join(self.dir, "huge.ora")
        write_ora(huge, "<image w='10' h='10'><stack><layer src='data/x.png'/></stack></image>",
                  {"data/x.png": png_bytes(solid(4000, 4000, (0, 0, 0, 0)))})
        cases = [(broken, "the archive is broken", None),
                 (nomime, "no OpenRaster mimetype comes first", None),
                 (garbage, "a layer's pixels cannot be read", None),
                 (huge, "MiB of pictures to read", {"PLUMARO_MAX_DOC_MB": "40"}),
                 (os.path.join(self.dir, "missing.plm"), "Could not load that file.", None)]
        for path, reason, env in cases:
            with self.subTest(path=os.path.basename(path)):
                app = self.start(args=[path], appdata=appdata, env=env)
                self.assertTrue(app.wait_log(reason), app.log())
                self.assertIn("previous session document restored", app.log())
                self.quit(app)
                self.apps.remove(app)
                self.assertEqual([l[0] for l in read_plm(session)[3]], ["Mine"])
        self.assertEqual([n for n in os.listdir(os.path.join(appdata, "Plumaro")) if "kept" in n], [])

    def test_a_file_on_the_command_line_keeps_the_last_drawing_aside(self):
        appdata = tempfile.mkdtemp(dir=self.dir)
        folder = os.path.join(appdata, "Plumaro")
        os.makedirs(folder)
        session = os.path.join(folder, "session.plm")
        mine = [(0, 0, 0, 0)] * (64 * 64)
        mine[5 * 64 + 7] = (200, 10, 10, 255)
        write_plm(session, 64, 64, [("Mine", 1.0, 0, True, False, mine), ("Empty", 1.0, 0, True, False, [(0, 0, 0, 0)] * (64 * 64))])
        other = os.path.join(self.dir, "other.plm")
        write_plm(other, 32, 32, [("Theirs", 1.0, 0, True, False, [(0, 0, 0, 0)] * (32 * 32))])
        app = self.start(args=[other], appdata=appdata)
        self.assertTrue(app.wait_log("loaded document " + other), app.log())
        self.assertTrue(app.wait_log("the replaced drawing was kept as"), app.log())
        self.quit(app)
        self.apps.remove(app)
        kept = [n for n in os.listdir(folder) if n.startswith("session-kept-") and n.endswith(".plm")]
        self.assertEqual(len(kept), 1, os.listdir(folder))
        self.assertIn("Last drawing kept as " + kept[0], app.log())
        self.assertEqual([l[0] for l in read_plm(os.path.join(folder, kept[0]))[3]], ["Mine", "Empty"])
        self.assertEqual(plm_layer_pixels(os.path.join(folder, kept[0]))[0].getpixel((7, 5)), (200, 10, 10, 255))
        self.assertEqual([l[0] for l in read_plm(session)[3]], ["Theirs"])
        # The opened drawing had no paint: opening another file keeps nothing more.
        app = self.start(args=[other], appdata=appdata)
        self.assertTrue(app.wait_log("loaded document " + other), app.log())
        self.quit(app)
        self.apps.remove(app)
        self.assertNotIn("was kept as", app.log())
        self.assertEqual(len([n for n in os.listdir(folder) if n.startswith("session-kept-")]), 1)

    def test_fonts_come_from_the_system_when_the_installed_copies_are_missing(self):
        alone = os.path.join(self.dir, "alone")
        os.makedirs(alone)
        exe = shutil.copy(EXE, os.path.join(alone, "plumaro"))
        app = Plumaro(exe, appdata=tempfile.mkdtemp(dir=self.dir), preexec_fn=lambda: os.chdir(alone))
        self.apps.append(app)
        app.wait_window()
        self.assertTrue(app.wait_log("state switch: splash -> canvas", timeout=20), app.log())
        self.assertNotIn("could not load font", app.log())

    def headless(self, *args, appdata=None):
        """Runs the program as a file manager or a script would: no DISPLAY,
        a private save folder that must stay as it is."""
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env["APPDATA"] = appdata or self.untouched
        return subprocess.run([EXE, *args], env=env, capture_output=True, text=True, timeout=60)

    def assert_refused(self, result, output, why, kept=False):
        """Status 1, one line saying why, and no file (or the old one kept)."""
        self.assertEqual(result.returncode, 1, result.stderr)
        lines = result.stderr.splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertTrue(lines[0].startswith("plumaro: "), lines[0])
        self.assertIn(why, lines[0])
        self.assertEqual(result.stdout, "")
        self.assertEqual(os.path.exists(output), kept, output)

    def window_export(self, path):
        """The picture the program itself exports (Ctrl+E) for a file it opened."""
        app = self.start(args=[path])
        self.assertTrue(app.wait_log("loaded"), app.log())
        picture = self.export(app)
        self.quit(app)
        return picture

    def test_thumbnails_need_no_display_and_refuse_what_they_cannot_read(self):
        self.untouched = tempfile.mkdtemp(dir=self.dir)
        drawing = os.path.join(self.dir, "my drawing.plm")
        write_plm(drawing, W, H, CLI_LAYERS, template=GRID)
        shared = os.path.join(self.dir, "shared.ora")
        write_ora(shared, CLI_STACK, cli_ora_entries())
        exported = {drawing: self.window_export(drawing), shared: self.window_export(shared)}
        self.assertEqual(exported[shared].size, (200, 120))

        out = os.path.join(self.dir, "thumb.png")
        # Halving sizes compare with a 2 x 2 box average of the export; a
        # larger size never enlarges; an odd one keeps the proportions.
        cases = [(drawing, "120", (120, 80), 2), (shared, "100", (100, 60), 2), (drawing, "1024", (240, 160), 1),
                 (drawing, "128", (128, 85), None), ("file://" + drawing.replace(" ", "%20"), "60", (60, 40), 4)]
        for source, size, want, factor in cases:
            with self.subTest(source=os.path.basename(source), size=size):
                result = self.headless("--thumbnail", source, out, size)
                self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
                subprocess.run(["pngcheck", "-q", out], check=True)
                with Image.open(out) as thumb:
                    thumb.load()
                os.remove(out)
                self.assertEqual((thumb.size, thumb.mode), (want, "RGBA"))
                if factor:
                    path = drawing if source.startswith("file:") else source
                    self.assertLessEqual(worst_difference(thumb, exported[path].reduce(factor)), 2)

        # Refused: nothing is written, an older thumbnail stays as it was.
        junk = os.path.join(self.dir, "junk.plm")
        with open(junk, "wb") as f:
            f.write(b"not a drawing at all")
        cut = os.path.join(self.dir, "cut.plm")
        with open(drawing, "rb") as f, open(cut, "wb") as g:
            g.write(f.read()[:5000])
        broken = os.path.join(self.dir, "broken.ora")
        with open(broken, "wb") as f:
            f.write(b"PK\x03\x04 no archive" * 4)
        refusals = [((junk, out, "64"), "it is not a drawing, an OpenRaster archive or a picture"),
                    ((cut, out, "64"), "the drawing is damaged"),
                    ((broken, out, "64"), "the archive is broken"),
                    ((os.path.join(self.dir, "gone.plm"), out, "64"), "No such file or directory"),
                    (("smb://server/share/a.plm", out, "64"), "only local files"),
                    ((drawing, out, "0"), "from 1 to 16384, not 0"),
                    ((drawing, out, "12px"), "not 12px"),
                    ((drawing, os.path.join(self.dir, "no", "such", "t.png"), "64"), "there is no folder")]
        for args, why in refusals:
            with self.subTest(refused=args[0], size=args[2]):
                self.assert_refused(self.headless("--thumbnail", *args), args[1], why)
        with open(out, "wb") as f:
            f.write(b"older")
        self.assertEqual(self.headless("--thumbnail", junk, out, "64").returncode, 1)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), b"older")
        self.assertEqual(os.listdir(self.dir).count("thumb.png"), 1, "no temporary file is left")
        self.assertEqual(os.listdir(self.untouched), [], "the save folder is never made")

    def test_export_and_conversion_match_the_programs_own_export(self):
        self.untouched = tempfile.mkdtemp(dir=self.dir)
        drawing = os.path.join(self.dir, "layered.plm")
        write_plm(drawing, W, H, CLI_LAYERS, template=GRID)
        own = self.window_export(drawing)
        flat, shared, back, again = (os.path.join(self.dir, n) for n in ("flat.png", "shared.ORA", "back.plm", "again.png"))
        for args in ((flat, drawing), (shared, drawing), (back, shared), (again, back)):
            result = self.headless("-v", "--export", *args) if args[0] == back else self.headless("--export", *args)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout, "")
        # Without -v nothing but the reason of a failure reaches the terminal.
        self.assertEqual(self.headless("--export", flat, drawing).stderr, "")
        picture = Image.open(flat)
        self.assertLessEqual(worst_difference(picture, own), 2, "the composite with its grid")
        self.assertLessEqual(worst_difference(Image.open(again), picture), 1, "through OpenRaster and back")
        with zipfile.ZipFile(shared) as z:
            self.assertEqual(z.infolist()[0].filename, "mimetype")
            self.assertEqual(z.read("mimetype"), b"image/openraster")
            root = ET.fromstring(z.read("stack.xml"))
            self.assertEqual(root.get("{urn:plumaro:ora}template"), str(GRID))
            merged = Image.open(io.BytesIO(z.read("mergedimage.png")))
            self.assertEqual(merged.size, (W, H))
            # The merged picture leaves the grid out: white where no layer is.
            self.assertEqual(merged.getpixel((236, 150)), (255, 255, 255, 255))
            self.assertLessEqual(max(Image.open(io.BytesIO(z.read("Thumbnails/thumbnail.png"))).size), 256)
        self.assertEqual(read_plm(back), (W, H, GRID, [(n, o, b, v, l) for n, o, b, v, l, _ in CLI_LAYERS]))

        # Another program's archive and a picture go the same ways.
        other = os.path.join(self.dir, "other.ora")
        write_ora(other, CLI_STACK, cli_ora_entries())
        photo = Image.new("RGBA", (90, 70), (255, 255, 255, 255))
        for x in range(90):
            for y in range(70):
                photo.putpixel((x, y), (x * 2, y * 3, 120, 255 if x < 45 else 100))
        picture_path = os.path.join(self.dir, "photo.png")
        photo.save(picture_path)
        for source in (other, picture_path):
            converted = os.path.join(self.dir, "converted" + (".plm" if source == other else ".ora"))
            direct, through = os.path.join(self.dir, "direct.png"), os.path.join(self.dir, "through.png")
            for args in ((converted, source), (direct, source), (through, converted)):
                self.assertEqual(self.headless("--export", *args).returncode, 0, args)
            self.assertLessEqual(worst_difference(Image.open(direct), Image.open(through)), 1, source)
        self.assertEqual([l[0] for l in read_plm(os.path.join(self.dir, "converted.plm"))[3]],
                         ["Back", "Corner", "In group", "Top"])
        over_white = Image.alpha_composite(Image.new("RGBA", photo.size, (255, 255, 255, 255)), photo)
        self.assertLessEqual(worst_difference(Image.open(os.path.join(self.dir, "direct.png")), over_white), 1)

        before = os.path.getmtime(flat)
        refusals = [(("--export", os.path.join(self.dir, "flat.jpg"), drawing), "name it .png, .plm or .ora"),
                    (("--export", flat + ".ora", os.path.join(self.dir, "missing.plm")), "No such file or directory"),
                    (("--export", os.path.join(self.dir, "nowhere", "x.png"), drawing), "there is no folder"),
                    (("--export", flat), "--export takes OUTPUT INPUT"),
                    (("--export", flat, drawing, "--thumbnail"), "one command at a time")]
        for args, why in refusals:
            with self.subTest(args=args):
                self.assert_refused(self.headless(*args), args[1], why, kept=args[1] == flat)
        self.assertEqual(os.path.getmtime(flat), before)
        self.assertEqual(os.listdir(self.untouched), [], "no save folder, settings or session")

    def test_the_installed_tree_passes_the_desktop_validators_and_its_thumbnailer_runs(self):
        prefix = os.path.join(self.dir, "prefix")
        install = subprocess.run(["cmake", "--install", os.path.dirname(EXE), "--prefix", prefix],
                                 capture_output=True, text=True)
        self.assertEqual(install.returncode, 0, install.stderr)
        share = os.path.join(prefix, "share")
        entry = os.path.join(share, "applications", "plumaro.desktop")
        check = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
        self.assertEqual((check.returncode, check.stdout.strip()), (0, ""), check.stdout + check.stderr)
        metainfo = os.path.join(share, "metainfo", "org.plumaro.Plumaro.metainfo.xml")
        for command in (["appstreamcli", "validate", "--no-net", metainfo], ["appstreamcli", "validate-tree", "--no-net", prefix]):
            check = subprocess.run(command, capture_output=True, text=True)
            self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
            self.assertNotIn("W:", check.stdout)

        # One list of file types: the entry's, the metainfo's and the package's.
        with open(entry) as f:
            entry_types = [l for l in f.read().splitlines() if l.startswith("MimeType=")][0][9:].strip(";").split(";")
        info = ET.parse(metainfo).getroot()
        self.assertEqual([m.text for m in info.find("provides").findall("mediatype")], entry_types)
        self.assertEqual(info.find("launchable").text, "plumaro.desktop")
        release = info.find("releases").find("release")
        self.assertEqual(release.get("version"), "1.3.9")
        shot = info.find("screenshots").find("screenshot").find("image").text
        self.assertTrue(shot.startswith("https://") and shot.endswith("/assets/screenshot.png"), shot)
        with Image.open(os.path.join(ROOT, "assets", "screenshot.png")) as picture:
            self.assertGreaterEqual(picture.size, (1000, 600))
        mime = ET.parse(os.path.join(share, "mime", "packages", "plumaro.xml")).getroot()
        drawing_type = mime.find("{http://www.freedesktop.org/standards/shared-mime-info}mime-type").get("type")

        # The thumbnailer entry, run as a file manager runs it.
        import configparser
        thumbnailer = configparser.ConfigParser(interpolation=None)
        thumbnailer.read(os.path.join(share, "thumbnailers", "plumaro.thumbnailer"))
        section = thumbnailer["Thumbnailer Entry"]
        self.assertEqual(section["TryExec"], "plumaro")
        self.assertIn(drawing_type, section["MimeType"].strip(";").split(";"))
        self.assertIn("image/openraster", section["MimeType"].split(";"))
        drawing = os.path.join(self.dir, "with 'quotes' and spaces.plm")
        write_plm(drawing, W, H, CLI_LAYERS, template=GRID)
        out = os.path.join(self.dir, "gnome-thumbnail.png")
        words = section["Exec"].split()
        self.assertEqual(words[0], "plumaro")
        command = [os.path.join(prefix, "bin", "plumaro")] + [
            {"%i": drawing, "%o": out, "%s": "128"}.get(w, w) for w in words[1:]]
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        result = subprocess.run(command, env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        with Image.open(out) as thumb:
            self.assertEqual(thumb.size, (128, 85))

    def test_help_and_version_need_no_display(self):
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        version = subprocess.run([EXE, "--version"], env=env, capture_output=True, text=True, timeout=10)
        self.assertEqual((version.returncode, version.stdout), (0, "Plumaro 1.3.9\n"))
        usage = subprocess.run([EXE, "--help"], env=env, capture_output=True, text=True, timeout=10)
        self.assertEqual(usage.returncode, 0)
        for word in ("-v", "APPDATA", "PLUMARO_FILE_CHOICE", "PLUMARO_UNDO_MB", ".ora", "--export OUTPUT INPUT",
                     "--thumbnail INPUT OUTPUT SIZE"):
            self.assertIn(word, usage.stdout)
        wrong = subprocess.run([EXE, "--bogus"], env=env, capture_output=True, text=True, timeout=10)
        self.assertEqual(wrong.returncode, 2)
        self.assertIn("--bogus", wrong.stderr)

    def test_desktop_entry_and_file_type(self):
        entry = os.path.join(ROOT, "assets", "plumaro.desktop")
        check = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
        self.assertEqual((check.returncode, check.stdout.strip()), (0, ""), check.stdout + check.stderr)
        with open(entry) as f:
            text = f.read()
        self.assertIn("Exec=plumaro %F", text)
        types = [l for l in text.splitlines() if l.startswith("MimeType=")][0]
        for kind in ("application/x-plumaro", "image/openraster", "image/png"):
            self.assertIn(kind, types)
        # The package file, compiled as the desktop compiles it.
        mime = os.path.join(self.dir, "mime")
        os.makedirs(os.path.join(mime, "packages"))
        shutil.copy(os.path.join(ROOT, "assets", "plumaro-mime.xml"), os.path.join(mime, "packages", "plumaro.xml"))
        built = subprocess.run(["update-mime-database", mime], capture_output=True, text=True)
        self.assertEqual(built.returncode, 0, built.stderr)
        with open(os.path.join(mime, "globs2")) as f:
            self.assertIn("application/x-plumaro:*.plm", f.read())
        with open(os.path.join(mime, "magic"), "rb") as f:
            magic = f.read()
        self.assertIn(b"[50:application/x-plumaro]", magic)
        self.assertIn(b"PLM", magic)
        self.assertTrue(os.path.exists(os.path.join(ROOT, "LICENSE")))


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
