#!/usr/bin/env python3
"""Time from process start to the first drawn frame, for build/plumaro and for
a minimal Allegro program that only opens a display and loads the font.
Run under an X server: DISPLAY=:N bench/startup_time.py [runs]"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")


def first_frame(cmd, env):
    start = time.monotonic()
    proc = subprocess.Popen(cmd, env=env, stderr=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL, cwd=BUILD)
    elapsed = None
    seen = []
    for line in proc.stderr:
        seen.append(line)
        if b"first frame drawn" in line:
            elapsed = time.monotonic() - start
            break
    proc.kill()
    rc = proc.wait()
    if elapsed is None:
        raise SystemExit("no first frame from %s (exit status %s): %s" % (cmd[0], rc, b"".join(seen).decode()))
    return elapsed


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    results = {"plumaro": [], "minimal_allegro": []}
    with tempfile.TemporaryDirectory() as appdata:
        env = dict(os.environ, APPDATA=appdata, PLUMARO_NO_REVEAL="1")
        for _ in range(runs):  # interleaved, so both see the same machine load
            results["plumaro"].append(first_frame([os.path.join(BUILD, "plumaro"), "-v"], env))
            results["minimal_allegro"].append(
                first_frame([os.path.join(BUILD, "bench", "minimal_allegro"),
                             os.path.join(BUILD, "assets", "fonts", "DejaVuSans.ttf")], env))
    for name, times in results.items():
        print("%-16s median %6.1f ms  min %6.1f ms  max %6.1f ms  (%d runs)" % (
            name, 1000 * statistics.median(times), 1000 * min(times), 1000 * max(times), len(times)))


if __name__ == "__main__":
    main()
