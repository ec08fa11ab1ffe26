"""The real program reaches the splash, switches to the canvas after two
seconds, and ends cleanly on Escape or the window's close button; without a
display it fails to start with status 1."""
import os
import subprocess
import sys
import tempfile
import time
import unittest

from plumaro_e2e import Plumaro

EXE = None


class Spine(unittest.TestCase):
    def test_splash_canvas_escape(self):
        app = Plumaro(EXE)
        try:
            app.wait_window()
            self.assertTrue(app.wait_log("state switch: (none) -> splash"), app.log())
            started = time.monotonic()
            self.assertTrue(app.wait_log("state switch: splash -> canvas", timeout=10), app.log())
            # Two seconds of timer ticks; the window appeared after the switch to splash.
            self.assertGreater(time.monotonic() - started, 1.0)
            self.assertIn("canvas ready, ", app.log())
            app.pointer_into_window()
            app.key("Escape")
            self.assertEqual(app.wait_exit(), 0, app.log())
            log = app.log()
            self.assertIn("main loop done", log)
            self.assertIn("Plumaro shut down", log)
            self.assertTrue(os.path.isdir(os.path.join(app.appdata, "Plumaro")))
        finally:
            app.stop()

    def test_close_button(self):
        app = Plumaro(EXE)
        try:
            app.wait_window()
            self.assertTrue(app.wait_log("state switch: (none) -> splash"), app.log())
            app.close_window()
            self.assertEqual(app.wait_exit(), 0, app.log())
            self.assertIn("Plumaro shut down", app.log())
        finally:
            app.stop()

    def test_no_display(self):
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        with tempfile.TemporaryDirectory() as appdata:
            env["APPDATA"] = appdata
            result = subprocess.run([EXE], env=env, capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertRegex(result.stderr, r"EMERG:\d+:src/main\.cpp->main:\d+ init failed, exiting")
        self.assertIn("Plumaro shut down", result.stderr)

    def test_display_that_answers_late(self):
        # An X server that refuses connections for a moment (as a test server
        # does while it resets) must not stop the start.
        num = 140
        while os.path.exists("/tmp/.X11-unix/X%d" % num) or os.path.exists("/tmp/.X%d-lock" % num):
            num += 1
        env = {"DISPLAY": ":%d" % num}
        app = Plumaro(EXE, env=env)
        server = None
        try:
            time.sleep(0.4)
            server = subprocess.Popen(["Xvfb", ":%d" % num, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.assertTrue(app.wait_log("state switch: (none) -> splash", timeout=20), app.log())
            self.assertIn("could not install mouse (no display connection?), retrying", app.log())
            app.proc.terminate()
            app.proc.wait(timeout=15)
        finally:
            app.stop()
            if server:
                server.terminate()
                server.wait()


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
