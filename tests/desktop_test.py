#!/usr/bin/python3
"""The real program under Xvfb and openbox, driven by xdotool's keys and read through AT-SPI as a
screen reader reads it: add a folder, type a date as the picker shows it, find, read the rows and
the caption, open a file.

Usage: desktop_test.py PROGRAM. Exits 77 (skipped) when a tool it needs is missing."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

try:
    import pyatspi
except ImportError:
    pyatspi = None
tools = ["Xvfb", "openbox", "xdotool", "xprop", "dbus-daemon", "/usr/libexec/at-spi-bus-launcher"]
if pyatspi is None or not all(shutil.which(t) for t in tools):
    print("skipped: needs python3-pyatspi and " + ", ".join(tools))
    sys.exit(77)

work = tempfile.mkdtemp(prefix="chronosift-desktop-")
folder = os.path.join(work, "home", "Old")
os.makedirs(folder)
for name, when in {"a.txt": "2005-01-01 12:00:00", "b.txt": "2021-03-14 23:59:59",
                   "c.txt": "2021-03-15 00:00:00", "d.txt": "2024-01-01 08:00:00"}.items():
    with open(os.path.join(folder, name), "w") as f:
        f.write(name * 100)
    stamp = time.mktime(time.strptime(when, "%Y-%m-%d %H:%M:%S"))
    os.utime(os.path.join(folder, name), (stamp, stamp))
processes = []
# An opener that records what it is given, in place of the desktop's.
opener = os.path.join(work, "bin")
os.makedirs(opener)
with open(os.path.join(opener, "xdg-open"), "w") as f:
    f.write('#!/bin/sh\nprintf "%s\\n" "$@" >> "' + os.path.join(work, "opened") + '"\n')
os.chmod(os.path.join(opener, "xdg-open"), 0o755)


def start(argv, log="/dev/null", **kw):
    # Each in a session of its own, so that what it starts in turn goes with it.
    out = open(os.path.join(work, log) if log != "/dev/null" else log, "w")
    processes.append(subprocess.Popen(argv, stdout=out, stderr=out, start_new_session=True, **kw))


def cleanup():
    for p in reversed(processes):
        try:
            os.killpg(p.pid, signal.SIGKILL)  # with all that it started
        except ProcessLookupError:
            pass
        p.wait()
    shutil.rmtree(work, ignore_errors=True)


def fail(message):
    print("FAIL: " + message)
    for log in ("xvfb.log", "openbox.log"):
        print(log + ":\n" + open(os.path.join(work, log)).read())
    cleanup()
    sys.exit(1)


def wait_for(what, check, seconds=30):
    end = time.time() + seconds
    while time.time() < end:
        try:
            value = check()
        except Exception:  # the tree may change while it is read
            value = None
        if value:
            return value
        time.sleep(0.1)
    fail("timed out waiting for " + what)


def first_line(argv, option, log):  # a server that says which display or address it chose
    r, w = os.pipe()
    start(argv + [option, str(w)], log, pass_fds=[w])
    os.close(w)
    with os.fdopen(r) as f:
        return f.readline().strip()


def keys(*names):
    subprocess.run(["xdotool", "key", "--delay", "60", *names], check=True)
    time.sleep(0.3)


def xprop(*args):
    return subprocess.run(["xprop", "-root", *args], capture_output=True)


def fixed_under_the_window_manager(page):
    # What the window manager lets the user do with the page: the pages are fixed, so neither
    # maximising nor resizing may be on offer. (openbox still draws a disabled maximise button
    # beside an enabled minimise one; it is the allowed actions that say what works.)
    window = subprocess.run(["xdotool", "getactivewindow"], capture_output=True).stdout.strip()
    actions = subprocess.run(["xprop", "-id", window, "_NET_WM_ALLOWED_ACTIONS"],
                             capture_output=True).stdout
    if b"_NET_WM_ACTION_MINIMIZE" not in actions:
        fail(page + ": the window manager did not list its actions: " + actions.decode())
    for action in (b"_NET_WM_ACTION_MAXIMIZE_HORZ", b"_NET_WM_ACTION_MAXIMIZE_VERT",
                   b"_NET_WM_ACTION_RESIZE"):
        if action in actions:
            fail(page + " is offered " + action.decode() + ": " + actions.decode())


def find(root, role, name=None):
    return pyatspi.findDescendant(root, lambda n: n is not None and n.getRoleName() == role and (
        name is None or n.name == name or (callable(name) and name(n.name))))


os.environ.update({"TZ": "UTC", "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8", "QT_QPA_PLATFORM": "xcb",
                   "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"})
os.environ["DISPLAY"] = ":" + first_line(
    ["Xvfb", "-screen", "0", "1024x768x24", "-nolisten", "tcp"], "-displayfd", "xvfb.log")
os.environ["DBUS_SESSION_BUS_ADDRESS"] = first_line(
    ["dbus-daemon", "--session", "--nofork"], "--print-address", "bus.log")
# Xvfb names its display before it takes connections; a client started too early gives up.
wait_for("the X server", lambda: xprop().returncode == 0, 60)
start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
start(["openbox"], "openbox.log")


def window_manager_up():
    # On a loaded machine openbox can give up on a display that has only just opened: start it
    # again rather than fail.
    if processes[-1].poll() is not None:
        start(["openbox"], "openbox.log")
    return b"_NET_ACTIVE_WINDOW" in xprop("_NET_SUPPORTED").stdout


wait_for("the window manager", window_manager_up, 60)
start([os.path.abspath(sys.argv[1])], env=dict(
    os.environ, HOME=os.path.join(work, "home"), XDG_DATA_HOME=os.path.join(work, "data"),
    XDG_CONFIG_HOME=os.path.join(work, "config"), XDG_STATE_HOME=os.path.join(work, "state"),
    XDG_RUNTIME_DIR=work, PATH=opener + ":" + os.environ["PATH"]))
try:
    app = wait_for("the program on the accessibility bus", lambda: next(
        (a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "Chronosift"), None))
    page = wait_for("the folder page", lambda: find(app, "frame", "Chronosift"))
    if find(page, "push button", "Add Folder") is None or find(app, "check box") is not None:
        fail("\"Add Folder\" is not announced as a push button")
    subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Chronosift$",
                    "windowactivate", "--sync"], check=True, stdout=subprocess.DEVNULL)
    time.sleep(0.5)
    fixed_under_the_window_manager("the folder page")

    # The tree has the keyboard: Desktop, the home folder, open it, its folder "Old".
    keys("Home", "Down", "Right")
    keys("Down")
    keys("Tab", "space")  # "Add Folder"
    rows = find(page, "tree", "Folders to search")
    wait_for("the row in the list", lambda: find(rows, "table cell", folder + "/"))
    keys("Tab", "Tab", "Tab", "Tab", "Tab", "space")  # on to "Next  > >"
    after = wait_for("the date page", lambda: find(app, "radio button", "After this date:"))
    # Under the window manager the shown page has the keyboard, on its first option.
    wait_for("the keyboard on \"After this date:\"",
             lambda: after.getState().contains(pyatspi.STATE_FOCUSED))
    fixed_under_the_window_manager("the date page")
    keys("Down", "Tab")  # "Before this date:", and into its picker
    # Typed as the picker shows it, separators and all.
    subprocess.run(["xdotool", "type", "--delay", "60", "15 March 2021"], check=True)
    keys("Tab", "Tab", "space")  # out of the picker to "< < Back", then "Find Results"

    results = find(app, "table", "Results")
    expected = sorted(os.path.join(folder, n) for n in ("a.txt", "b.txt"))
    wait_for("the rows of the files before 15 March 2021", lambda: sorted(
        c.name for c in results if c and c.getRoleName() == "table cell" and
        c.name.startswith("/")) == expected, 30)
    caption = wait_for("the caption with the totals",
                       lambda: find(app, "frame", lambda n: n.startswith("Chronosift [")))
    if caption.name != "Chronosift [ 2 files found, 1.0 KB ]":
        fail("caption: " + caption.name)
    # Into the list, whose first row takes the focus frame, and Enter opens that file.
    keys("Tab", "Return")
    opened = wait_for("the opener to be given the file", lambda: open(
        os.path.join(work, "opened")).read().split("\n")[0], 30)
    if opened not in ["file://" + p for p in expected]:
        fail("opened: " + opened)
    print("PASS: typed 15 March 2021, found a.txt and b.txt, opened " + opened)
finally:
    cleanup()
