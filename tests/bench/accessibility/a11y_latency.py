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
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

GOAL_MS = 100


def wait_for(condition, seconds=20.0, step=0.01):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(step)
    return condition()


class Lab:
    """Xvfb, the session and accessibility buses, the daemon and the emulator."""

    def __init__(self, build):
        self.bin = os.path.join(build, "bin")
        self.dir = tempfile.mkdtemp(prefix="a11y-latency.")
        self.procs = []
        env = os.environ.copy()
        env.update(
            KVR_STATE_DIR=os.path.join(self.dir, "state"),
            KVR_RUNTIME_DIR=os.path.join(self.dir, "run"),
            KVR_CONFIG_DIR=os.path.join(self.dir, "config"),
            KVR_SOUND_SINK=os.path.join(self.dir, "sounds"),
            QT_QPA_PLATFORM="xcb",
            QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
            QT_ACCESSIBILITY="1",
            NO_AT_BRIDGE="0",
        )
        env.pop("KVR_DISPLAYS", None)
        env.pop("KVR_MESSAGE_ANSWERS", None)
        for d in ("state/dosdevices", "run", "config", "sounds"):
            os.makedirs(os.path.join(self.dir, d), exist_ok=True)
        self.env = env

    def start(self, args, log):
        out = open(os.path.join(self.dir, log), "w")
        p = subprocess.Popen(args, env=self.env, stdout=out, stderr=subprocess.STDOUT,
                             stdin=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def up(self):
        display = ":%d" % (40 + os.getpid() % 50)
        self.start(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"], "xvfb.log")
        self.env["DISPLAY"] = display
        os.environ["DISPLAY"] = display
        if not wait_for(lambda: os.path.exists("/tmp/.X11-unix/X" + display[1:])):
            sys.exit("a11y_latency: Xvfb did not start")
        launch = subprocess.run(["dbus-launch", "--sh-syntax"], env=self.env, capture_output=True,
                                text=True, check=True).stdout
        for line in launch.splitlines():
            if line.startswith("DBUS_SESSION_BUS_ADDRESS="):
                address = line.split("=", 1)[1].rstrip(";").strip("'")
                self.env["DBUS_SESSION_BUS_ADDRESS"] = address
                os.environ["DBUS_SESSION_BUS_ADDRESS"] = address
            if line.startswith("DBUS_SESSION_BUS_PID="):
                self.dbus_pid = int(line.split("=", 1)[1].rstrip(";"))
        self.start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], "atspi.log")
        time.sleep(0.5)  # the bus launcher registers org.a11y.Bus (nothing to wait on)
        state = self.env["KVR_STATE_DIR"]
        self.start([os.path.join(self.bin, "kvrsim"), "--link", "COM1", "--profile", "nvlt3000-e",
                    "--control", os.path.join(self.dir, "kvrsim.sock"),
                    "--frame-log", os.path.join(self.dir, "frames.log")], "kvrsim.log")
        if not wait_for(lambda: os.path.exists(os.path.join(self.dir, "kvrsim.sock"))):
            sys.exit("a11y_latency: kvrsim did not start")
        self.start([os.path.join(self.bin, "KvrRs232"), "--foreground", "--no-syslog",
                    "--pointer=xtest"], "KvrRs232.log")
        if not wait_for(lambda: os.path.exists(os.path.join(self.env["KVR_RUNTIME_DIR"], "dev",
                                                            "KvrRs232D"))):
            sys.exit("a11y_latency: KvrRs232 did not start")
        subprocess.run([os.path.join(self.bin, "kvrctl"), "connect", "0", "1"], env=self.env,
                       check=True, stdout=subprocess.DEVNULL)
        # The controller is identified at connect ("Uu"): its E packets are read from then on.
        if not wait_for(lambda: "Uu" in self.frames()):
            sys.exit("a11y_latency: the controller was not identified")
        return state

    def frames(self):
        try:
            with open(os.path.join(self.dir, "frames.log")) as f:
                return f.read()
        except OSError:
            return ""

    def play(self, *lines):
        subprocess.run([os.path.join(self.bin, "kvrctl"), "sim",
                        os.path.join(self.dir, "kvrsim.sock"), *lines],
                       env=self.env, check=True, stdout=subprocess.DEVNULL)

    def sounds(self, part):
        return sum(part in name for name in os.listdir(self.env["KVR_SOUND_SINK"]))

    def down(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
        if getattr(self, "dbus_pid", None):
            os.kill(self.dbus_pid, signal.SIGTERM)
        shutil.rmtree(self.dir, ignore_errors=True)


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
