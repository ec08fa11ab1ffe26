"""Helpers for end-to-end tests: start the real program under the test X
server with a private save folder, find its window, send input, read its log."""
import ctypes
import os
import shutil
import subprocess
import tempfile
import time


def write_language(appdata, language=1):
    """A short settings file holding only a chosen language, so that a first
    start does not ask for one (1 English)."""
    import struct
    folder = os.path.join(appdata, "Plumaro")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "settings.dat")
    if not os.path.exists(path):
        with open(path, "wb") as f:
            f.write(b"PSET" + bytes([4, 0, 0, 0]) + struct.pack("<III", 0, 0, language))


class Plumaro:
    def __init__(self, exe, appdata=None, args=(), env=None, language=1, preexec_fn=None):
        self.exe = exe
        self.own_dir = appdata is None
        self.appdata = appdata or tempfile.mkdtemp(prefix="plumaro-e2e-")
        if language:
            write_language(self.appdata, language)
        self.log_path = os.path.join(self.appdata, "stderr.log")
        environment = dict(os.environ)
        environment.update({"APPDATA": self.appdata, "PLUMARO_NO_REVEAL": "1", "PLUMARO_NO_NATIVE_CHOOSER": "1",
                            "GSETTINGS_BACKEND": "memory", "NO_AT_BRIDGE": "1"})
        environment.pop("PLUMARO_TEST_DENSITY", None)
        if env:
            environment.update(env)
            for name in [k for k, v in env.items() if v is None]:
                environment.pop(name)
        self.log_file = open(self.log_path, "wb")
        self.started = time.monotonic()
        self.proc = subprocess.Popen([exe, *args], env=environment, stderr=self.log_file,
                                     stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL, preexec_fn=preexec_fn)
        self.window = None

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait_log(self, text, timeout=15.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if text in self.log():
                return True
            if self.proc.poll() is not None:
                return text in self.log()
            time.sleep(0.05)
        return False

    def wait_window(self, timeout=15.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            out = subprocess.run(["xdotool", "search", "--name", "^Plumaro - a layered sketching app$"],
                                 capture_output=True, text=True).stdout.split()
            if out:
                self.window = out[0]
                return self.window
            time.sleep(0.1)
        raise AssertionError("no Plumaro window appeared\n" + self.log())

    def geometry(self):
        out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", self.window],
                             capture_output=True, text=True, check=True).stdout
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def pointer_into_window(self, x=640, y=400):
        """Without a window manager focus follows the pointer."""
        wx, wy, _, _ = self.geometry()
        subprocess.run(["xdotool", "mousemove", str(wx + x), str(wy + y)], check=True)
        time.sleep(0.2)

    def key(self, name):
        # Real key events go to the focused window; without a window manager
        # nobody else gives it the focus.
        subprocess.run(["xdotool", "windowfocus", self.window], check=True)
        subprocess.run(["xdotool", "key", name], check=True)

    def close_window(self):
        """Sends WM_DELETE_WINDOW, as a window manager's close button does."""
        send_delete_window(int(self.window))

    def wait_exit(self, timeout=15.0):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError("Plumaro did not exit\n" + self.log())

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.log_file.close()
        if self.own_dir:
            shutil.rmtree(self.appdata, ignore_errors=True)


class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def send_delete_window(window):
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        raise AssertionError("cannot open the X display")
    event = _XEvent()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = window
    event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    event.xclient.data[1] = 0  # CurrentTime
    x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


def screenshot(window, path):
    """The window's pixels as a PIL image (ImageMagick's import, decoded by PIL).
    The screen is read rather than the window: an OpenGL window's own
    contents can come back black."""
    from PIL import Image
    out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                         capture_output=True, text=True, check=True).stdout
    g = dict(line.split("=", 1) for line in out.split() if "=" in line)
    crop = "%sx%s+%s+%s" % (g["WIDTH"], g["HEIGHT"], g["X"], g["Y"])
    subprocess.run(["/usr/bin/import", "-window", "root", "-crop", crop, path], check=True)
    return Image.open(path).convert("RGB")


# The part of a 1280 x 800 window that the toolbar and the layer panel leave
# to the canvas (the toolbar grows a little to show its English texts whole).
CANVAS_BOX = (280, 0, 1060, 800)


def ink_pixels(image, limit=60, box=None):
    """Coordinates of the pixels darker than `limit` in every channel, within
    `box` (left, top, right, bottom) when one is given."""
    width, height = image.size
    x0, y0, x1, y1 = box or (0, 0, width, height)
    data = image.load()
    return [(x, y) for y in range(max(0, y0), min(height, y1)) for x in range(max(0, x0), min(width, x1))
            if max(data[x, y]) < limit]


def centroid(points):
    n = float(len(points))
    return sum(p[0] for p in points) / n, sum(p[1] for p in points) / n


def drag(window_origin, points, button=1, pause=0.01):
    """Presses at the first point, moves through the others, releases at the last."""
    wx, wy = window_origin
    subprocess.run(["xdotool", "mousemove", str(wx + points[0][0]), str(wy + points[0][1])], check=True)
    time.sleep(0.1)
    subprocess.run(["xdotool", "mousedown", str(button)], check=True)
    for x, y in points[1:]:
        subprocess.run(["xdotool", "mousemove", str(wx + x), str(wy + y)], check=True)
        time.sleep(pause)
    subprocess.run(["xdotool", "mouseup", str(button)], check=True)
    time.sleep(0.2)


def read_plm(path):
    """The header and the layer records of a document file, read without the
    program: (width, height, template, [(name, opacity, blend, visible, locked)])."""
    import struct
    with open(path, "rb") as f:
        data = f.read()
    magic = data[:4]
    if magic != b"PLM3":
        raise AssertionError("not a PLM3 document: %r" % magic)
    width, height, template, count = struct.unpack_from("<iiiI", data, 4)
    at, layers = 20, []
    for _ in range(count):
        (n,) = struct.unpack_from("<I", data, at)
        name = data[at + 4:at + 4 + n].decode("utf-8")
        at += 4 + n
        opacity, blend, visible, locked, length = struct.unpack_from("<IiIII", data, at)
        at += 20 + length
        layers.append((name, opacity / 1000.0, blend, visible != 0, locked != 0))
    return width, height, template, layers


def click(window_origin, x, y, pause=0.25):
    """Moves the pointer to a window point, clicks the left button and waits for the frame."""
    wx, wy = window_origin
    subprocess.run(["xdotool", "mousemove", str(wx + x), str(wy + y)], check=True)
    time.sleep(0.15)
    subprocess.run(["xdotool", "click", "1"], check=True)
    time.sleep(pause)
