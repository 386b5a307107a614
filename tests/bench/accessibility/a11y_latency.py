#!/usr/bin/python3
"""a11y_latency: how fast the windowed programs answer the accessibility bus while they work.

A screen reader asks a program's windows over AT-SPI (D-Bus); the program's GUI thread
answers. While the library worker does the program's work, the GUI thread must go on
answering. This runs, on a private Xvfb with its own session and accessibility buses, the
real driver daemon (XTest pointer) and the controller emulator on COM1, and asks the program's
window for its extents (a call AT-SPI never caches) over and over, noting each round trip:

  nvbackup   from its window's first answer to its end (search, reports suspended, settings
             record, 35 words read, file written and flushed, reports resumed);
  linear -5  from its window's first answer to its end: five targets touched, then the save
             tap (the linearity table written into the controller).

  a11y_latency.py [BUILD_DIR]      (default: build)

Not pass/fail: it prints the figures. Needs Xvfb, dbus-launch, at-spi2-core, python3-pyatspi.
"""

import os
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from a11y_lab import Lab, wait_for  # noqa: E402

GOAL_MS = 100


class Prober(threading.Thread):
    """Asks the program's window for its extents until the program ends."""

    def __init__(self, app_name, program):
        super().__init__(daemon=True)
        self.app_name = app_name
        self.program = program
        self.samples = []  # (time, ms)
        self.marks = {}

    def window(self):
        import pyatspi
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.name == self.app_name and app.childCount > 0:
                return app.getChildAtIndex(0)
        return None

    def run(self):
        import pyatspi
        window = None
        while window is None and self.program.poll() is None:
            try:
                window = self.window()
            except Exception:
                window = None
            time.sleep(0.02)
        while window is not None and self.program.poll() is None:
            start = time.monotonic()
            try:
                window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            except Exception:
                break  # the window is gone
            end = time.monotonic()
            self.samples.append((start, (end - start) * 1000))

    def report(self, what, since=None):
        ms = [m for t, m in self.samples if since is None or t >= since]
        if not ms:
            print("%s: no answers measured" % what)
            return
        ms.sort()
        print("%s: %d questions; answer time median %.1f ms, p99 %.1f ms, longest %.1f ms; "
              "%d over %d ms" % (what, len(ms), statistics.median(ms),
                                 ms[min(len(ms) - 1, int(len(ms) * 0.99))], ms[-1],
                                 sum(m > GOAL_MS for m in ms), GOAL_MS))


def nvbackup(lab):
    program = lab.start([os.path.join(lab.bin, "nvbackup")], "nvbackup.log")
    prober = Prober("nvbackup", program)
    prober.start()
    program.wait(120)
    prober.join(10)
    prober.report("nvbackup, the whole backup")


def linear(lab):
    program = lab.start([os.path.join(lab.bin, "linear"), "RS232_DEVICE0", "-5"], "linear.log")
    prober = Prober("linear", program)
    prober.start()
    if not wait_for(lambda: prober.samples, 30):
        sys.exit("a11y_latency: linear's window did not answer")
    time.sleep(0.5)  # the first target's capture is armed with the window
    asterisk = "message-1320Hz-"
    for k, tap in enumerate(["tap 2048 2048 70", "tap 3968 128 70", "tap 128 128 70",
                             "tap 128 3968 70", "tap 3968 3968 70"]):
        lab.play(tap)
        if not wait_for(lambda: lab.sounds(asterisk) > k, 30):
            sys.exit("a11y_latency: target %d was not taken" % k)
    time.sleep(1.0)  # the step after the last target, then the save prompt
    save = time.monotonic()
    lab.play("tap 50% 50% 20")
    program.wait(120)
    prober.join(10)
    prober.report("linear -5, the whole calibration")
    prober.report("linear -5, from the save tap to the end", since=save)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    lab = Lab(os.path.abspath(build))
    try:
        lab.up()
        nvbackup(lab)
        linear(lab)
    finally:
        lab.down()


if __name__ == "__main__":
    main()
