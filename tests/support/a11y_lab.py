"""a11y_lab: a private desktop with the accessibility bus, for the suite's AT-SPI checks.

Xvfb, a session bus with the accessibility bus launcher, the controller emulator kvrsim on COM1
(with its frame log), and the real KvrRs232 daemon (XTest pointer) with the controller
connected. Everything lives in a fresh folder (KVR_STATE_DIR, KVR_RUNTIME_DIR, ...) that
down() removes. Needs Xvfb, dbus-launch (dbus-x11), at-spi2-core and python3-pyatspi.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time


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
        self.dir = tempfile.mkdtemp(prefix="a11y-lab.")
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

    def start(self, args, log, **env):
        out = open(os.path.join(self.dir, log), "w")
        p = subprocess.Popen(args, env=dict(self.env, **env), stdout=out,
                             stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def up(self):
        # Xvfb picks a free display number itself and writes it when it is ready.
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                                 "1024x768x24", "-nolisten", "tcp"], pass_fds=(write_fd,),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                stdin=subprocess.DEVNULL)
        self.procs.append(xvfb)
        os.close(write_fd)
        with os.fdopen(read_fd) as ready:
            number = ready.readline().strip()
        if not number:
            sys.exit("a11y_lab: Xvfb did not start")
        display = ":" + number
        self.env["DISPLAY"] = display
        os.environ["DISPLAY"] = display
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
        if not wait_for(self.accessibility_bus_up):
            sys.exit("a11y_lab: the accessibility bus did not start")
        state = self.env["KVR_STATE_DIR"]
        self.start([os.path.join(self.bin, "kvrsim"), "--link", "COM1", "--profile", "nvlt3000-e",
                    "--control", os.path.join(self.dir, "kvrsim.sock"),
                    "--frame-log", os.path.join(self.dir, "frames.log")], "kvrsim.log")
        if not wait_for(lambda: os.path.exists(os.path.join(self.dir, "kvrsim.sock"))):
            sys.exit("a11y_lab: kvrsim did not start")
        self.start([os.path.join(self.bin, "KvrRs232"), "--foreground", "--no-syslog",
                    "--pointer=xtest"], "KvrRs232.log")
        if not wait_for(lambda: os.path.exists(os.path.join(self.env["KVR_RUNTIME_DIR"], "dev",
                                                            "KvrRs232D"))):
            sys.exit("a11y_lab: KvrRs232 did not start")
        subprocess.run([os.path.join(self.bin, "kvrctl"), "connect", "0", "1"], env=self.env,
                       check=True, stdout=subprocess.DEVNULL)
        # The controller is identified at connect ("Uu"): its E packets are read from then on.
        if not wait_for(lambda: "Uu" in self.frames()):
            sys.exit("a11y_lab: the controller was not identified")
        return state

    def accessibility_bus_up(self):
        asked = subprocess.run(["dbus-send", "--session", "--print-reply",
                                "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"],
                               env=self.env, capture_output=True, text=True)
        return "boolean true" in asked.stdout

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
        if os.environ.get("KVR_KEEP_LAB"):
            print("a11y_lab: kept %s" % self.dir)
        else:
            shutil.rmtree(self.dir, ignore_errors=True)
