"""Nothing the user drew is lost: an unreadable session is kept aside and
never overwritten, a drawing that cannot be stored keeps the program open
until the user insists, a file size limit fails a save instead of killing
the program, the first pause after a change stores the session, a pipe
named like the session does not hang the start, and exports are readable by
others."""
import glob
import os
import resource
import stat
import subprocess
import sys
import tempfile
import time
import unittest

from plumaro_e2e import Plumaro, drag

EXE = None


def line(x0, y0, x1, y1, steps=20):
    return [(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps)) for i in range(steps + 1)]


class Reliability(unittest.TestCase):
    def setUp(self):
        self.appdata = tempfile.mkdtemp(prefix="plumaro-rel-")
        self.save = os.path.join(self.appdata, "Plumaro")
        os.makedirs(self.save)
        self.session = os.path.join(self.save, "session.plm")
        self.app = None

    def tearDown(self):
        if self.app:
            self.app.stop()
        subprocess.run(["chmod", "-R", "u+rwx", self.appdata])
        subprocess.run(["rm", "-rf", self.appdata])

    def start(self, **kw):
        self.app = Plumaro(EXE, appdata=self.appdata, **kw)
        self.app.wait_window()
        self.assertTrue(self.app.wait_log("state switch: splash -> canvas", timeout=20), self.app.log())
        self.app.pointer_into_window()
        self.origin = self.app.geometry()[:2]

    def escape(self):
        self.app.pointer_into_window(640, 700)
        self.app.key("Escape")

    def test_an_unreadable_session_is_kept_aside_and_never_overwritten(self):
        broken = b"PLM3" + bytes(8) + b"\xff" * 40
        with open(self.session, "wb") as f:
            f.write(broken)
        self.start()
        kept = glob.glob(os.path.join(self.save, "session-unreadable-*.plm"))
        self.assertEqual(len(kept), 1, os.listdir(self.save))
        with open(kept[0], "rb") as f:
            self.assertEqual(f.read(), broken)
        self.assertIn("it was kept as " + os.path.basename(kept[0]), self.app.log())
        self.escape()
        self.assertEqual(self.app.wait_exit(), 0, self.app.log())
        with open(kept[0], "rb") as f:
            self.assertEqual(f.read(), broken, "the kept session was touched at quit")
        with open(self.session, "rb") as f:
            self.assertEqual(f.read(4), b"PLM3")

    def test_a_drawing_that_cannot_be_stored_keeps_the_program_open(self):
        self.start()
        drag(self.origin, line(500, 300, 700, 400))
        # The session's name taken by a folder that is not empty: the store
        # fails as on a full or read-only disk, whoever runs the test.
        os.makedirs(os.path.join(self.session, "in-the-way"))
        self.escape()
        self.assertTrue(self.app.wait_log("Your drawing could not be stored: ", timeout=10), self.app.log())
        time.sleep(0.5)
        self.assertIsNone(self.app.proc.poll(), "the program ended without storing the drawing")
        self.escape()  # asked again while the notice shows: it ends, and says why
        status = self.app.wait_exit()
        self.assertNotEqual(status, 0)
        log = self.app.log()
        self.assertRegex(log, r"(?m)^Your drawing could not be stored: .+$")
        self.assertEqual(glob.glob(os.path.join(self.save, "*.tmp-*")), [])

    def test_a_file_size_limit_fails_the_save_and_leaves_no_temporary_file(self):
        target = os.path.join(self.save, "big.plm")
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (300000, 300000))
        self.start(env={"PLUMARO_NO_NATIVE_CHOOSER": None, "PLUMARO_FILE_CHOICE": target}, preexec_fn=limit)
        drag(self.origin, line(500, 300, 700, 400))
        self.app.pointer_into_window(640, 700)
        self.app.key("ctrl+s")
        self.assertTrue(self.app.wait_log("Save failed.", timeout=20), self.app.log())
        time.sleep(0.3)
        self.assertIsNone(self.app.proc.poll(), "the program died in the save")
        self.assertFalse(os.path.exists(target))
        self.assertEqual(glob.glob(os.path.join(self.save, "*.tmp-*")), [])

    def test_the_first_pause_after_a_change_stores_the_session(self):
        self.start()
        self.assertFalse(os.path.exists(self.session))
        drag(self.origin, line(500, 300, 700, 400))
        painted = time.monotonic()
        self.app.pointer_into_window(640, 700)
        deadline = painted + 20
        while not os.path.exists(self.session) and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertTrue(os.path.exists(self.session), self.app.log())
        self.assertLess(time.monotonic() - painted, 10)
        self.assertEqual(stat.S_IMODE(os.stat(self.session).st_mode), 0o600, "the session stays private")

    def test_a_pipe_named_like_the_session_does_not_hang_the_start(self):
        os.mkfifo(self.session)
        self.start()
        self.assertIn("state switch: splash -> canvas", self.app.log())

    def test_exports_follow_the_umask(self):
        self.start(preexec_fn=lambda: os.umask(0o022))
        drag(self.origin, line(500, 300, 700, 400))
        self.app.pointer_into_window(640, 700)
        self.app.key("ctrl+e")
        png = os.path.join(self.save, "sketch.png")
        deadline = time.monotonic() + 20
        while not os.path.exists(png) and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertTrue(os.path.exists(png), self.app.log())
        self.assertEqual(stat.S_IMODE(os.stat(png).st_mode), 0o644)


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
