#!/usr/bin/python3
"""The real program under Xvfb and a window manager, driven by real X input (xdotool) and read
through the screen-reader interface (AT-SPI): add a folder, type a date, find, read the rows.

Usage: desktop_test.py PROGRAM. Exits 77 (skipped) when a needed tool is missing."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77


def need(*tools):
    missing = [t for t in tools if shutil.which(t) is None and not os.path.exists(t)]
    if missing:
        print("skipped: missing " + ", ".join(missing))
        sys.exit(SKIP)


need("Xvfb", "openbox", "xdotool", "xprop", "dbus-daemon", "/usr/libexec/at-spi-bus-launcher")
try:
    import pyatspi
except ImportError:
    print("skipped: python3-pyatspi is not installed")
    sys.exit(SKIP)

program = os.path.abspath(sys.argv[1])
work = tempfile.mkdtemp(prefix="chronosift-desktop-")
home = os.path.join(work, "home")
folder = os.path.join(home, "Old")
os.makedirs(folder)
files = {  # name: modification time, UTC
    "a.txt": "2005-01-01 12:00:00",
    "b.txt": "2021-03-14 23:59:59",
    "c.txt": "2021-03-15 00:00:00",
    "d.txt": "2024-01-01 08:00:00",
}
for name, when in files.items():
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write(name * 100)
    stamp = time.mktime(time.strptime(when, "%Y-%m-%d %H:%M:%S"))
    os.utime(path, (stamp, stamp))

processes = []


def start(argv, **kw):
    # Each in a session of its own, so that what it starts in turn goes with it.
    p = subprocess.Popen(argv, stdout=kw.pop("stdout", subprocess.DEVNULL),
                         stderr=kw.pop("stderr", subprocess.DEVNULL), start_new_session=True, **kw)
    processes.append(p)
    return p


def cleanup():
    for p in reversed(processes):
        for sig in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.killpg(p.pid, sig)
                p.wait(timeout=5)
                break
            except (ProcessLookupError, subprocess.TimeoutExpired):
                pass
    shutil.rmtree(work, ignore_errors=True)


def read_line(argv, option, log):
    """Starts a server that writes one line (its display or address) to a descriptor."""
    r, w = os.pipe()
    out = open(os.path.join(work, log), "w")
    start(argv + [option, str(w)], pass_fds=[w], stdout=out, stderr=out)
    os.close(w)
    with os.fdopen(r) as f:
        return f.readline().strip()


def fail(message):
    print("FAIL: " + message)
    for log in ("xvfb.log", "openbox.log"):
        path = os.path.join(work, log)
        if os.path.exists(path):
            print(log + ":\n" + open(path).read())
    # What the screen showed, for whoever reads the log.
    shot = os.environ.get("CHRONOSIFT_DESKTOP_SHOT", os.path.join(tempfile.gettempdir(),
                                                                   "chronosift-desktop-fail.png"))
    if shutil.which("import"):
        subprocess.run(["import", "-window", "root", shot], stderr=subprocess.DEVNULL)
        print("screen saved as " + shot)
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


def keys(*names):
    subprocess.run(["xdotool", "key", "--delay", "60", *names], check=True)
    time.sleep(0.3)


def typed(text):
    subprocess.run(["xdotool", "type", "--delay", "60", text], check=True)
    time.sleep(0.2)


os.environ.update({"TZ": "UTC", "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8",
                   "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_QPA_PLATFORM": "xcb"})
os.environ.pop("QT_ACCESSIBILITY", None)
# The servers choose a free display and bus address themselves and say which.
os.environ["DISPLAY"] = ":" + read_line(
    ["Xvfb", "-screen", "0", "1024x768x24", "-nolisten", "tcp"], "-displayfd", "xvfb.log")
os.environ["DBUS_SESSION_BUS_ADDRESS"] = read_line(
    ["dbus-daemon", "--session", "--nofork"], "--print-address", "bus.log")
# Xvfb names its display before it takes connections; a client started too early gives up.
wait_for("the X server", lambda: subprocess.run(["xprop", "-root"], capture_output=True)
         .returncode == 0, 60)
start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
wm_log = open(os.path.join(work, "openbox.log"), "w")
start(["openbox"], stdout=wm_log, stderr=wm_log)
wait_for("the window manager", lambda: b"_NET_ACTIVE_WINDOW" in subprocess.run(
    ["xprop", "-root", "_NET_SUPPORTED"], capture_output=True).stdout)
env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(work, "data"),
           XDG_CONFIG_HOME=os.path.join(work, "config"), XDG_RUNTIME_DIR=work)
start([program], env=env)


def find(root, role, name=None):
    return pyatspi.findDescendant(
        root, lambda n: n is not None and n.getRoleName() == role and
        (name is None or n.name == name or (callable(name) and name(n.name))))


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "Chronosift":
            return app
    return None


try:
    app = wait_for("the program on the accessibility bus", application)
    page = wait_for("the folder page", lambda: find(app, "frame", "Chronosift"))
    add = find(page, "push button", "Add Folder")
    if add is None or find(app, "check box") is not None:
        fail("\"Add Folder\" is not announced as a push button")
    subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Chronosift$", "windowactivate",
                    "--sync"], check=True, stdout=subprocess.DEVNULL)
    time.sleep(0.5)

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
    # The keyboard is on the page now: "Before this date:", then type into its picker.
    keys("Down")
    keys("Tab")
    typed("15March2021")  # each full part moves on to the next
    keys("Tab", "Tab", "space")  # out of the picker to "< < Back", then "Find Results"

    results = find(app, "tree", "Results")
    expected = sorted(os.path.join(folder, n) for n in ("a.txt", "b.txt"))

    def listed():
        names = [c.name for c in results if c is not None and c.getRoleName() == "table cell"]
        paths = sorted(n for n in names if n.startswith("/"))
        return paths if paths == expected else None

    if not wait_for("the rows of files before 15 March 2021", listed, 10):
        fail("wrong rows")
    caption = wait_for("the caption with the totals",
                       lambda: find(app, "frame", lambda n: n.startswith("Chronosift [")))
    if caption.name != "Chronosift [ 2 files found, 1.0 KB ]":
        fail("caption: " + caption.name)
    print("PASS: typed 15 March 2021, found", ", ".join(os.path.basename(p) for p in expected))
finally:
    cleanup()
