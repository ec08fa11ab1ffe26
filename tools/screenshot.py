#!/usr/bin/python3
"""Makes assets/screenshot.png, the picture of the interface that the README
and the AppStream metainfo show: starts build/plumaro under a private Xvfb
with a private save folder, paints a small landscape on three layers with
xdotool as a person would, and saves the window. Run it again whenever the
interface changes:

    tools/screenshot.py [--exe build/plumaro] [--out assets/screenshot.png]

Needs Xvfb, xdotool and ImageMagick's import (tools/setup.sh --tests)."""
import argparse
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Where the interface puts things in a 1280 x 800 window at the Normal size.
SWATCH = {"black": (42, 544), "white": (96, 544), "red": (150, 544), "orange": (204, 544),
          "yellow": (42, 578), "green": (96, 578), "blue": (150, 578), "purple": (204, 578)}
SIZE_SLIDER = (32, 155, 731)     # left end, right end, row: a click sets the brush size
OPACITY_SLIDER = (32, 155, 781)  # likewise the brush opacity
ADD_LAYER = (1095, 428)
BLEND = (1160, 530)
LAYER_ROW = (1170, 64, 25)       # first row of the layer list, and the row height


def free_display():
    for n in range(120, 200):
        if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
            return ":%d" % n
    sys.exit("screenshot: no free X display number")


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], check=True)


class Painter:
    def __init__(self, env):
        self.env = env

    def move(self, x, y):
        xdotool("mousemove", int(x), int(y))

    def click(self, point, pause=0.3):
        self.move(*point)
        time.sleep(0.15)
        xdotool("click", 1)
        time.sleep(pause)

    def key(self, name, times=1):
        for _ in range(times):
            xdotool("key", name)
            time.sleep(0.05)

    def slider(self, slider, fraction):
        left, right, y = slider
        self.click((left + (right - left) * fraction, y), pause=0.2)

    def brush(self, colour, size, opacity=1.0):
        self.click(SWATCH[colour], pause=0.2)
        self.slider(SIZE_SLIDER, size)
        self.slider(OPACITY_SLIDER, opacity)

    def stroke(self, points):
        self.move(*points[0])
        time.sleep(0.1)
        xdotool("mousedown", 1)
        for x, y in points[1:]:
            self.move(x, y)
            time.sleep(0.008)
        xdotool("mouseup", 1)
        time.sleep(0.25)


def wave(x0, x1, y, amplitude, period, steps=60):
    return [(x0 + (x1 - x0) * i / steps, y + amplitude * math.sin((x0 + (x1 - x0) * i / steps) / period))
            for i in range(steps + 1)]


def circle(cx, cy, radius, steps=48):
    return [(cx + radius * math.cos(2 * math.pi * i / steps), cy + radius * math.sin(2 * math.pi * i / steps))
            for i in range(steps + 1)]


def spiral(cx, cy, radius, turns=5, steps=140):
    return [(cx + radius * (i / steps) * math.cos(turns * 2 * math.pi * i / steps),
             cy + radius * (i / steps) * math.sin(turns * 2 * math.pi * i / steps)) for i in range(steps + 1)]


def paint(p):
    """A small landscape: a washed sky with a sun, hills of two greens and a
    lake on the first layer, their shadows on a second layer that multiplies,
    flowers and birds on a third."""
    # A wash builds up from strokes of low opacity, most of them at the top.
    p.brush("blue", 1.0, 0.12)
    for y in (20, 45, 70, 95, 125, 160, 200, 250, 310, 380):
        p.stroke(wave(262, 1062, y, 6, 110, steps=30))
    p.brush("orange", 0.45)
    p.stroke(spiral(860, 170, 50) + circle(860, 170, 50))
    p.brush("yellow", 0.42)
    p.stroke(spiral(860, 170, 34, turns=4) + circle(860, 170, 34))
    p.brush("green", 0.6, 0.45)
    for y in (455, 490, 525, 560):
        p.stroke(wave(262, 1062, y, 22, 95))
    p.brush("green", 0.75)
    for y in (600, 640, 680, 720, 760, 800):
        p.stroke(wave(262, 1062, y, 26, 60))
    p.brush("blue", 0.3, 0.85)
    for y, half in ((682, 90), (696, 140), (710, 165), (724, 140), (738, 90)):
        p.stroke([(640 - half, y), (640 + half, y)])
    # Shadows on a layer of their own, multiplied over what is under them.
    p.click(ADD_LAYER)
    p.click(BLEND)
    p.brush("purple", 0.8, 0.3)
    for y in (770, 800):
        p.stroke(wave(262, 1062, y, 12, 70))
    p.brush("purple", 0.35, 0.25)
    p.stroke(wave(470, 830, 752, 4, 40, steps=20))
    # Flowers and birds on top.
    p.click(ADD_LAYER)
    for colour, heart, spots in (("white", "yellow", ((360, 640), (420, 700), (980, 650))),
                                 ("red", "black", ((470, 610), (930, 720), (1010, 740)))):
        p.brush(colour, 0.13)
        for cx, cy in spots:
            for k in range(5):
                a = 2 * math.pi * k / 5
                p.stroke([(cx + 4 * math.cos(a), cy + 4 * math.sin(a)), (cx + 13 * math.cos(a), cy + 13 * math.sin(a))])
        p.brush(heart, 0.08)
        for cx, cy in spots:
            p.stroke([(cx - 1, cy), (cx + 1, cy)])
    p.brush("white", 0.05, 0.6)
    for y, half in ((700, 70), (716, 40)):
        p.stroke([(610 - half, y), (610 + half, y)])
    p.brush("black", 0.03)
    for bx, by in ((560, 170), (630, 130), (700, 200)):
        p.stroke([(bx - 24, by - 6), (bx - 12, by - 12), (bx, by), (bx + 12, by - 12), (bx + 24, by - 6)])
    # The shadow layer shows its blend in the panel.
    row_x, row_y, row_h = LAYER_ROW
    p.click((row_x, row_y + row_h))
    p.move(1600, 900)  # out of the window: no tooltip, no brush outline


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exe", default=os.path.join(ROOT, "build", "plumaro"))
    parser.add_argument("--out", default=os.path.join(ROOT, "assets", "screenshot.png"))
    args = parser.parse_args()
    for tool in ("Xvfb", "xdotool", "import"):
        if not shutil.which(tool):
            sys.exit("screenshot: %s is missing (tools/setup.sh --tests installs it)" % tool)
    if not os.access(args.exe, os.X_OK):
        sys.exit("screenshot: build the program first (%s)" % args.exe)

    display = free_display()
    server = subprocess.Popen(["Xvfb", display, "-screen", "0", "1920x1080x24", "-nolisten", "tcp", "-noreset"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    appdata = tempfile.mkdtemp(prefix="plumaro-screenshot-")
    app = None
    try:
        # English, so that the first start does not ask for a language.
        os.makedirs(os.path.join(appdata, "Plumaro"))
        with open(os.path.join(appdata, "Plumaro", "settings.dat"), "wb") as f:
            f.write(b"PSET" + bytes([4, 0, 0, 0]) + struct.pack("<III", 0, 0, 1))
        env = dict(os.environ, DISPLAY=display, APPDATA=appdata, PLUMARO_NO_REVEAL="1",
                   PLUMARO_NO_NATIVE_CHOOSER="1", GSETTINGS_BACKEND="memory", NO_AT_BRIDGE="1")
        env.pop("PLUMARO_TEST_DENSITY", None)
        os.environ["DISPLAY"] = display
        deadline = time.monotonic() + 10
        while not os.path.exists("/tmp/.X11-unix/X" + display[1:]):
            if time.monotonic() > deadline:
                sys.exit("screenshot: Xvfb did not start")
            time.sleep(0.1)
        log_path = os.path.join(appdata, "stderr.log")
        with open(log_path, "wb") as log:
            app = subprocess.Popen([args.exe], env=env, stderr=log, stdout=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while True:
            with open(log_path, "rb") as f:
                if b"state switch: splash -> canvas" in f.read():
                    break
            if app.poll() is not None or time.monotonic() > deadline:
                sys.exit("screenshot: the program did not reach its canvas")
            time.sleep(0.1)
        window = subprocess.run(["xdotool", "search", "--name", "^Plumaro - a layered sketching app$"],
                                capture_output=True, text=True).stdout.split()[0]
        time.sleep(0.5)
        paint(Painter(env))
        time.sleep(1.0)
        out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                             capture_output=True, text=True, check=True).stdout
        g = dict(line.split("=", 1) for line in out.split() if "=" in line)
        crop = "%sx%s+%s+%s" % (g["WIDTH"], g["HEIGHT"], g["X"], g["Y"])
        shot = args.out + ".part.png"
        subprocess.run(["import", "-window", "root", "-crop", crop, "+repage", "-strip", shot], check=True)
        os.replace(shot, args.out)
        print("screenshot: wrote %s (%s)" % (args.out, crop.split("+")[0]))
        xdotool("mousemove", 640, 400)
        xdotool("key", "Escape")
        app.wait(timeout=15)
    finally:
        if app and app.poll() is None:
            app.kill()
            app.wait()
        server.terminate()
        server.wait()
        shutil.rmtree(appdata, ignore_errors=True)


if __name__ == "__main__":
    main()
