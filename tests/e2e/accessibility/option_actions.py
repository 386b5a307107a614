#!/usr/bin/python3
"""option_actions: option buttons chosen the way a screen reader chooses them.

A screen reader (or any AT-SPI client) chooses an option button through its accessible action,
not with a click. On a private desktop with the accessibility bus, the real daemon and the
emulated controller, each program gets one option chosen that way and the choice must reach
the controller:

  tactivo  the "Settings" tab, then "Button" under "Touch Mode": the point report command MP;
  pinmap   "4Wire", four pins set, "Confirm": the 4-wire code written into word 9E;
  nvrestore "Install defaults", "Start": the first backup (eepdef.eep) written back, where
            "User defaults" (no such file yet) would only say "File not found!!".

  option_actions.py BUILD_DIR        exit 0 when every check holds
"""

import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from a11y_lab import Lab, wait_for  # noqa: E402

import pyatspi  # noqa: E402

failures = []


def check(condition, what):
    print(("ok: " if condition else "FAILED: ") + what)
    if not condition:
        failures.append(what)
    return condition


def find(app_name, role, name, seconds=60):
    """The first showing accessible of the program with this role and name."""
    found = []

    def search():
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is None or app.name != app_name:
                continue
            node = pyatspi.findDescendant(
                app, lambda a: a is not None and a.getRole() == role and a.name == name)
            if node is not None:
                found.append(node)
                return True
        return False

    wait_for(lambda: _quietly(search), seconds, 0.1)
    return found[0] if found else None


def _quietly(probe):
    try:
        return probe()
    except Exception:  # an application leaving the bus while it is searched
        return False


def frames_since(lab, mark):
    """The frames the controller received since `mark`, as their texts ("SP9E104D")."""
    return re.findall(r'"([^"]*)"', lab.frames()[mark:])


PRESS = ("Press", "press", "Click", "click")
TOGGLE = ("Toggle", "toggle") + PRESS


def act(node, names=PRESS):
    """Runs the node's first action among `names` (AT-SPI action names are Qt's)."""
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in names:
            return action.doAction(i)
    raise AssertionError("%s has none of the actions %s" % (node.name, names))


def start_and_find(lab, program_name, answers, role, name):
    """Starts the program and finds its control on the bus; (program, control or None)."""
    program = lab.start([os.path.join(lab.bin, program_name)], program_name + ".log",
                        KVR_MESSAGE_ANSWERS=answers)
    node = find(program_name, role, name)
    if not check(node is not None, "%s: '%s' is on the bus" % (program_name, name)):
        program.kill()
    return program, node


def panel(lab):
    mark = len(lab.frames())
    program, settings = start_and_find(lab, "tactivo", "ok,ok,ok,ok", pyatspi.ROLE_PAGE_TAB,
                                       "Settings")
    if settings is None:
        return
    # The start-up has read the settings back (the touch mode repeated to the controller).
    wait_for(lambda: {"MS", "MP"} & set(frames_since(lab, mark)), 60)
    act(settings)
    button = find("tactivo", pyatspi.ROLE_RADIO_BUTTON, "Button")
    mark = len(lab.frames())
    act(button, TOGGLE)
    check(wait_for(lambda: "MP" in frames_since(lab, mark), 60),
          "tactivo: 'Button' chosen through the bus sends the point report command MP")
    program.terminate()
    program.wait(60)


def pinmap(lab):
    program, four = start_and_find(lab, "pinmap", "yes,ok", pyatspi.ROLE_RADIO_BUTTON, "4Wire")
    if four is None:
        return
    act(four, TOGGLE)
    set_button = find("pinmap", pyatspi.ROLE_PUSH_BUTTON, "Set")
    confirm = find("pinmap", pyatspi.ROLE_PUSH_BUTTON, "Confirm")
    # A press through the bus is an animated click: one at a time, each seen to land (the
    # label names the next pin; after the last, "Confirm" can be pressed).
    for pin in range(2, 6):
        act(set_button)
        landed = (lambda: find("pinmap", pyatspi.ROLE_LABEL, "Pin #%d" % pin, 0.2)) if pin < 5 \
            else (lambda: confirm.queryAction().nActions > 0)
        check(wait_for(landed, 30), "pinmap: pin %d set through the bus" % (pin - 1))
    mark = len(lab.frames())
    act(confirm)
    check(program.wait(120) == 0, "pinmap: the write ends with exit status 0")
    written = [f for f in frames_since(lab, mark) if f.startswith("SP9E")]
    # The first choice of every pin: code 0 for 5 wires, 0 + 3 for 4 wires.
    check(written and written[-1] == "SP9E0003",
          "pinmap: '4Wire' chosen through the bus writes the 4-wire code (%s)" % written)


def nvrestore(lab):
    backup = lab.start([os.path.join(lab.bin, "nvbackup")], "nvbackup.log")
    check(backup.wait(120) == 0, "nvbackup: the first backup (install defaults) is made")
    mark = len(lab.frames())
    program, install = start_and_find(lab, "nvrestore", "ok,ok,ok", pyatspi.ROLE_RADIO_BUTTON,
                                      "Install defaults")
    if install is None:
        return
    act(install, TOGGLE)
    # Its start-up has found the controller and suspended its reports.
    wait_for(lambda: "MI" in frames_since(lab, mark), 60)
    mark = len(lab.frames())
    start = find("nvrestore", pyatspi.ROLE_PUSH_BUTTON, "Start")

    def said():
        with open(os.path.join(lab.dir, "nvrestore.log")) as log:
            return log.read()

    # Pressed until the restore asks its question (a press while the start-up still waits on
    # the controller may be refused).
    def started():
        if "Are you sure" in said() or "File not found" in said():
            return True
        _quietly(lambda: act(start))
        return False

    wait_for(started, 60, 0.5)
    program.wait(120)
    check("File not found" not in said()
          and any(f.startswith("SP") for f in frames_since(lab, mark)),
          "nvrestore: 'Install defaults' chosen through the bus restores eepdef.eep")


def main():
    lab = Lab(os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build"))
    try:
        lab.up()
        panel(lab)
        pinmap(lab)
        nvrestore(lab)
    finally:
        lab.down()
    if failures:
        sys.exit("option_actions: %d check(s) failed" % len(failures))


if __name__ == "__main__":
    main()
