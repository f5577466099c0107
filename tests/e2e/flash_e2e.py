#!/usr/bin/python3
"""End to end: the real program flashes a virtual drive, driven as a person would.

Makes a flash-mode copy of the built program (its two image slots patched with two test
images, named W2KVQ8E10.EXE), gives it a folder with one virtual drive, runs it under Xvfb
and answers its windows with real pointer clicks (xdotool) on the controls that the
accessibility tree (AT-SPI) locates. Then checks what the virtual drive saved.

The program's system bus is a private one with python-dbusmock's logind on it: the flash's
lock against shutdown and sleep is read from the mock, and nothing reaches the machine's own
logind.

Cases:
  kernel      with --kernel-drive FOLDER: the program sees the system's own drives (no virtual
              ones); line 0, a VQ8A drive, saves its firmware in FOLDER/firmware.bin; as ibmk
  ibmk        a VQ8A drive: a first flash declined at the question takes no lock; the second
              gets the IBM-K test image, holding the lock until the restart offer, which is
              declined
  other       a VQ1A drive (newer than the carried VQ10: the warning) gets the other test
              image; the restart offer is accepted, which with QVX_NO_REBOOT=1 can only end
              in the "Exit Error" box or in the program saying what it would have done; the
              mock records no Reboot call
  never-ready a drive that never reports "no medium": while the 144 polls run (about 4.3 s)
              the window keeps answering, its button is disabled and it refuses to close;
              afterwards it closes normally; no lock was taken

Usage: flash_e2e.py PROGRAM CASE [--shots DIR] [--kernel-drive FOLDER]
Runs itself inside a private D-Bus session (dbus-run-session) for AT-SPI.
"""

import argparse
import ctypes
import ctypes.util
import importlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

IMAGE_SIZE = 262144
KEYWORD = b"BIN-START-ADDR\0"
APP_NAME = "Korvane Flash utility for QVX5500 on Win2000 & NT"
MAIN_TITLE = "Korvane  Flash utility   V1.015 QVX-5500 [VQ8E10]"
MAIN_CAPTION = "^Korvane  Flash utility   V1.015 QVX-5500 \\[VQ8E10\\]$"
START_WARNING = ("\nWARNING:\n\nThis flash utility only supports Korvane QVX-5500 firmware:VQ00~VQ9Z\n\n"
                 "We recommend you close all applications in order to run this update!\n"
                 "Don't turn off the system while the flash is in progress!\n\n\nDo you wish to continue?\n")
LOCK = ["shutdown:sleep:idle:handle-power-key:handle-suspend-key:handle-hibernate-key:handle-lid-switch",
        APP_NAME, "Writing new firmware to the drive; an interruption can leave it unusable", "block"]
RESTART_QUESTION = ("\nYou have successfully completed\ninstallation! The new changes will not take effect\n"
                    "until you reboot your system. Do you want to\nreboot your system now?\n\n")

CASES = {
    "ibmk": {"revision": "VQ8A", "image": 0, "question": "\nUpdate FW:VQ8A to FW:VQ8E ?\n"},
    # A VQ8A drive of the system itself (--kernel-drive): the kernel rig's drive behind the
    # kernel's SCSI target; the restart offer is declined.
    "kernel": {"revision": "VQ8A", "image": 0, "question": "\nUpdate FW:VQ8A to FW:VQ8E ?\n"},
    # A drive newer than the carried image: the warning, answered Yes.
    "other": {"revision": "VQ1A", "image": 1, "kind": "Warning",
              "question": "\nWARNING:\n\nCurrent FW:VQ1A is newer than FW:VQ10.\n\nContinue update FW:VQ1A to FW:VQ10 ?\n"},
    "never-ready": {"revision": "VQ8A", "image": None, "question": "\nUpdate FW:VQ8A to FW:VQ8E ?\n",
                    "extra": "fault=never-ready\n"},
}

# How many times longer than usual the program may take to answer: the kernel case runs on
# a software-emulated machine, where a start-up can take a minute.
patience = 1.0


class Failure(Exception):
    pass


def test_images():
    images = [random.Random(seed).randbytes(IMAGE_SIZE) for seed in (0x8E, 0x10)]
    for image in images:
        assert not image.startswith(b"QORM01")
    return images


def make_program(template, out, images):
    with open(template, "rb") as f:
        data = bytearray(f.read())
    at = data.find(KEYWORD)
    if at < 0:
        raise Failure("no start key-word in " + template)
    if data[at + 15:at + 21] != b"QORM01":
        raise Failure("the built program is not a template")
    slot1 = at + len(KEYWORD)
    data[slot1:slot1 + IMAGE_SIZE] = images[0]
    data[slot1 + IMAGE_SIZE:slot1 + 2 * IMAGE_SIZE] = images[1]
    with open(out, "wb") as f:
        f.write(data)
    os.chmod(out, 0o755)


def prepare_folder(program, work, images, revision, extra=""):
    """WORK/W2KVQ8E10.EXE carrying the images, and one virtual drive of that revision
    (with EXTRA lines) in WORK/drives/drive1; returns both paths."""
    flash_program = os.path.join(work, "W2KVQ8E10.EXE")
    make_program(program, flash_program, images)
    drive_dir = os.path.join(work, "drives", "drive1")
    os.makedirs(drive_dir)
    with open(os.path.join(drive_dir, "drive"), "w") as f:
        f.write("vendor=KORVANE\nproduct=QVX-5500\nrevision=%s\naddress=1-0-0\ndisc=no\n%s" % (revision, extra))
    return flash_program, drive_dir


def start_xvfb():
    read_end, write_end = os.pipe()
    # -noreset: otherwise the server resets each time its last client leaves and drops any
    # client still connecting then (the program aborts: "could not connect to display").
    xvfb = subprocess.Popen(["Xvfb", "-noreset", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp", "-dpi", "96"],
                            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb") as r:
        while not number.endswith(b"\n"):
            chunk = r.read(1)
            if not chunk:
                break
            number += chunk
    if not number.strip():
        xvfb.kill()
        raise Failure("Xvfb did not start")
    return xvfb, ":" + number.decode().strip()


class Logind:
    """A private system bus with python-dbusmock's logind on it, for the program to use."""

    MANAGER = "org.freedesktop.login1.Manager"

    def __init__(self):
        import dbus
        from dbusmock import DBusTestCase, MOCK_IFACE
        self.dbus = dbus
        self.testcase = DBusTestCase
        DBusTestCase.start_system_bus()  # sets DBUS_SYSTEM_BUS_ADDRESS
        self.address = os.environ["DBUS_SYSTEM_BUS_ADDRESS"]
        # Returns once the mock answers on the bus.
        self.process, self.obj = DBusTestCase.spawn_server_template("logind", {}, stdout=subprocess.DEVNULL)
        self.mock = dbus.Interface(self.obj, MOCK_IFACE)
        self.manager = dbus.Interface(self.obj, self.MANAGER)

    def inhibitors(self):
        return [[str(field) for field in entry[:4]] for entry in self.manager.ListInhibitors()]

    def calls(self, method):
        """The arguments of each call of a manager method."""
        return [[self.plain(a) for a in args] for _, args in self.mock.GetMethodCalls(method)]

    def plain(self, value):
        return bool(value) if isinstance(value, self.dbus.Boolean) else str(value)

    def wait_until_no_lock(self, what):
        """The mock notices a closed lock a moment after the close; it must come."""
        deadline = time.monotonic() + 15
        while self.inhibitors():
            if time.monotonic() > deadline:
                raise Failure(f"logind still holds {self.inhibitors()!r} {what}")
            time.sleep(0.05)

    def stop(self):
        self.process.terminate()
        self.process.wait()
        # The library's teardown stops the bus but leaves its folder behind.
        folder = getattr(self.testcase, "_DBusTestCase__datadir", None)
        self.testcase.tearDownClass()
        if folder:
            shutil.rmtree(folder, ignore_errors=True)


def show_program_log(work):
    """After a failure: what the program printed."""
    try:
        with open(os.path.join(work, "program.log")) as f:
            sys.stderr.write("program output:\n" + f.read())
    except OSError:
        pass


def run_as_test(tools, marker, prefix, shots, case, name, modules=("pyatspi",)):
    """The frame of an end-to-end script: skipped (77) when a tool is missing; run again
    inside a private D-Bus session (AT-SPI's bus starts from it) unless MARKER says it
    already is, with a runtime folder of its own, since the accessibility bus puts its
    socket there and runs side by side must not share one; then the case: 1 with the
    failure's text, or 0."""
    missing = [tool for tool in tools if not shutil.which(tool)]
    for module in modules:
        try:
            importlib.import_module(module)
        except ImportError:
            missing.append("python3-" + module)
    if missing:
        print("SKIPPED: missing " + ", ".join(missing) + " (scripts/install-deps.sh installs them)")
        return 77
    if marker not in os.environ:
        os.environ[marker] = "1"
        os.environ["QVX_NO_REBOOT"] = "1"
        os.environ["XDG_RUNTIME_DIR"] = tempfile.mkdtemp(prefix=prefix)
        os.execvp("dbus-run-session", ["dbus-run-session", "--", sys.executable, *sys.argv])
    if shots:
        os.makedirs(shots, exist_ok=True)
    try:
        case()
    except Failure as e:
        print("FAIL:", e, file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(os.environ["XDG_RUNTIME_DIR"], ignore_errors=True)
    print("PASS:", name)
    return 0


def fresh(node):
    """Drops what the accessibility library cached of a node, so its state is read anew."""
    try:
        node.clear_cache()
    except Exception:
        pass


class Screen:
    """The program's windows as AT-SPI shows them, and a pointer that clicks them."""

    def __init__(self, display, shots):
        import pyatspi
        self.pyatspi = pyatspi
        # Controls by their role, whatever name the installed at-spi2-core gives it, as the
        # road's control reader (scripts/road_ui.py) finds them; the kernel rig's guest has
        # that file beside this one.
        sys.path.append(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
        from road_ui import is_role
        self.is_role = is_role
        self.display = display
        self.shots = shots
        self.shot_number = 0

    def app(self):
        desktop = self.pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            a = desktop.getChildAtIndex(i)
            if a is not None and a.name == APP_NAME:
                return a
        return None

    def all(self):
        out = []
        a = self.app()
        if a is None:
            return out

        def walk(node):
            try:
                n = node.childCount
            except Exception:
                return
            for i in range(n):
                c = node.getChildAtIndex(i)
                if c is None:
                    continue
                out.append(c)
                walk(c)
        walk(a)
        return out

    def find(self, role, name=None, within=None, timeout=15.0, visible=True):
        deadline = time.monotonic() + timeout * patience
        while True:
            nodes = self.children(within) if within is not None else self.all()
            for node in nodes:
                try:
                    if not self.is_role(node, role) or (name is not None and node.name != name):
                        continue
                    if visible and not node.getState().contains(self.pyatspi.STATE_SHOWING):
                        continue
                    return node
                except Exception:
                    continue
            if time.monotonic() > deadline:
                seen = [(n.getRoleName(), n.name) for n in nodes][:40]
                raise Failure(f"no {role} {name!r} on screen; seen: {seen}")
            time.sleep(0.1)

    def children(self, node):
        out = []

        def walk(n):
            for i in range(n.childCount):
                c = n.getChildAtIndex(i)
                if c is not None:
                    out.append(c)
                    walk(c)
        walk(node)
        return out

    def dialog(self, title, text, timeout=15.0):
        """The message dialog or box titled so, after checking its text."""
        box = self.find("alert", title, timeout=timeout)
        labels = [c.name for c in self.children(box) if self.is_role(c, "label")]
        if text not in labels:
            raise Failure(f"dialog {title!r} says {labels!r}, expected {text!r}")
        return box

    def click(self, node):
        ext = node.queryComponent().getExtents(self.pyatspi.DESKTOP_COORDS)
        x, y = ext.x + ext.width // 2, ext.y + ext.height // 2
        self.xdotool("mousemove", "--sync", str(x), str(y), "click", "1")

    def press(self, box, button):
        self.click(self.find("push button", button, within=box))

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], check=True, env={**os.environ, "DISPLAY": self.display},
                       stdout=subprocess.DEVNULL)

    def caption(self):
        """GroupBox2's caption: the status line."""
        form = self.main_window()
        for c in self.children(form):
            if self.is_role(c, "panel"):
                fresh(c)
                return c.name
        raise Failure("no status line")

    def main_window(self):
        """The main window: a frame named by its caption (or by its object name, as some Qt versions do)."""
        deadline = time.monotonic() + 15 * patience
        while True:
            for node in self.all():
                try:
                    if self.is_role(node, "frame") and node.name in (MAIN_TITLE, "MainForm"):
                        return node
                except Exception:
                    continue
            if time.monotonic() > deadline:
                raise Failure("the main window is not on screen")
            time.sleep(0.1)

    def enabled(self, node):
        fresh(node)
        return node.getState().contains(self.pyatspi.STATE_SENSITIVE)

    def screenshot(self, what):
        if not self.shots:
            return
        self.shot_number += 1
        path = os.path.join(self.shots, f"{self.shot_number:02d}-{what}.png")
        subprocess.run(["import", "-display", self.display, "-window", "root", path], check=False)
        print("screenshot:", path)


def send_close_request(display, title_prefix):
    """What a window manager sends when the user clicks a window's close button."""
    wid = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title_prefix], capture_output=True, text=True,
                         env={**os.environ, "DISPLAY": display}).stdout.split()
    if not wid:
        raise Failure("main window not found by title")
    x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x.XFlush.argtypes = [ctypes.c_void_p]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    dpy = x.XOpenDisplay(display.encode())
    ev = Event()
    ev.xclient.type = 33  # ClientMessage
    ev.xclient.window = int(wid[0])
    ev.xclient.message_type = x.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
    ev.xclient.format = 32
    ev.xclient.data[0] = x.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
    x.XSendEvent(dpy, int(wid[0]), 0, 0, ctypes.byref(ev))
    x.XFlush(dpy)
    x.XCloseDisplay(dpy)


def run_case(program, case, shots, kernel_drive=None):
    expect = CASES[case]
    images = test_images()
    work = tempfile.mkdtemp(prefix="flash-e2e-")
    xvfb = None
    proc = None
    logind = None
    try:
        drives = {}
        if kernel_drive:
            flash_program = os.path.join(work, "W2KVQ8E10.EXE")
            make_program(program, flash_program, images)
            drive_dir = kernel_drive
        else:
            flash_program, drive_dir = prepare_folder(program, work, images, expect["revision"],
                                                      expect.get("extra", ""))
            drives = {"QVX_VIRTUAL_DRIVES": os.path.join(work, "drives")}

        logind = Logind()
        xvfb, display = start_xvfb()
        import pyatspi
        pyatspi.Registry.getDesktop(0)  # the accessibility bus must be up before the program starts
        screen = Screen(display, shots)

        env = {**os.environ, "DISPLAY": display, "QT_QPA_PLATFORM": "xcb",
               "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "DBUS_SYSTEM_BUS_ADDRESS": logind.address,
               "QVX_NO_REBOOT": "1", "LANGUAGE": "en", **drives}
        if not drives:
            env.pop("QVX_VIRTUAL_DRIVES", None)  # the system's own drives only
        log = open(os.path.join(work, "program.log"), "w+")
        proc = subprocess.Popen([flash_program], cwd=work, env=env, stdout=log, stderr=subprocess.STDOUT)

        box = screen.dialog("Warning", START_WARNING)
        screen.press(box, "Yes")

        flash_button = screen.find("push button", "Flash")
        combo = screen.find("combo box")
        if not combo.name.endswith(expect["revision"]):
            raise Failure(f"drive list shows {combo.name!r}")
        screen.screenshot(f"{case}-window")
        screen.click(flash_button)

        box = screen.dialog(expect.get("kind", "Confirm"), expect["question"])
        screen.screenshot(f"{case}-question")
        if case in ("ibmk", "kernel"):
            # Declined: no lock, then the same question again.
            screen.press(box, "No")
            deadline = time.monotonic() + 10
            while not screen.enabled(flash_button):
                if time.monotonic() > deadline:
                    raise Failure("the Flash button did not come back after the declined question")
                time.sleep(0.1)
            if logind.calls("Inhibit"):
                raise Failure(f"a declined flash took a lock: {logind.calls('Inhibit')!r}")
            screen.click(flash_button)
            box = screen.dialog(expect.get("kind", "Confirm"), expect["question"])
        if logind.inhibitors() or logind.calls("Inhibit"):
            raise Failure("a lock was taken before the user answered Yes")
        screen.press(box, "Yes")

        if case == "never-ready":
            check_never_ready(screen, display, proc, flash_button)
            if logind.calls("Inhibit"):
                raise Failure("a flash that never reached its first WRITE BUFFER took a lock")
            return
        box = screen.dialog("Confirm", RESTART_QUESTION, timeout=30)
        # Taken once for the flash, and given back before the restart question came up.
        if logind.calls("Inhibit") != [LOCK]:
            raise Failure(f"logind was asked {logind.calls('Inhibit')!r}, expected one lock {LOCK!r}")
        logind.wait_until_no_lock("while the restart question is up")
        print("lock: taken once for the flash, released before the restart question")
        caption = screen.caption()
        bar = screen.find("progress bar").queryValue()
        screen.screenshot(f"{case}-completed")
        if caption != "Flash Completed.":
            raise Failure(f"status line during the restart offer: {caption!r}")
        if screen.enabled(flash_button):
            raise Failure("the Flash button is enabled while the flash runs")
        if bar.currentValue != bar.maximumValue:
            raise Failure(f"progress bar at {bar.currentValue} of {bar.maximumValue} during the restart offer")

        if case in ("ibmk", "kernel"):
            screen.press(box, "No")
        else:
            screen.press(box, "Yes")
            # With QVX_NO_REBOOT=1 the restart can only fail visibly or be pretended.
            deadline = time.monotonic() + 15
            while time.monotonic() < deadline:
                boxes = [n for n in screen.all() if screen.is_role(n, "alert")
                         and n.name in ("OpenProcessToken() failed", "LookupPrivilegeValue() failed",
                                        "AdjustTokenPrivileges() failed")]
                if boxes:
                    labels = [c.name for c in screen.children(boxes[0]) if screen.is_role(c, "label")]
                    if "Exit Error" not in labels:
                        raise Failure(f"restart failure box says {labels!r}")
                    screen.screenshot(f"{case}-restart-refused")
                    print("restart refused:", boxes[0].name)
                    screen.press(boxes[0], "OK")
                    break
                log.seek(0)
                if "would call org.freedesktop.login1.Manager.Reboot(false)" in log.read():
                    print("restart pretended (QVX_NO_REBOOT)")
                    break
                time.sleep(0.1)
            else:
                raise Failure("the accepted restart offer neither failed nor was pretended")
            if logind.calls("Reboot"):
                raise Failure(f"logind was asked to reboot: {logind.calls('Reboot')!r}")

        deadline = time.monotonic() + 10 * patience
        while screen.caption() != "" or not screen.enabled(flash_button):
            if time.monotonic() > deadline:
                raise Failure(f"after the offer: status {screen.caption()!r}, button enabled "
                              f"{screen.enabled(flash_button)}")
            time.sleep(0.1)
        if screen.find("progress bar").queryValue().currentValue != 0:
            raise Failure("progress bar not back at 0 after the offer")
        screen.screenshot(f"{case}-after")

        saved = open(os.path.join(drive_dir, "firmware.bin"), "rb").read()
        want = images[expect["image"]]
        if saved != want:
            raise Failure(f"the drive saved {len(saved)} bytes that are not the expected test image")
        print(f"{case}: the drive saved exactly test image {expect['image'] + 1} ({len(saved)} bytes)")

        send_close_request(display, MAIN_CAPTION)
        if proc.wait(timeout=10 * patience) != 0:
            raise Failure("the program did not end with exit code 0")
    except Exception:
        if proc is not None and proc.poll() is None:
            proc.kill()
        show_program_log(work)
        raise
    finally:
        if proc is not None and proc.poll() is None:
            proc.kill()
            proc.wait()
        if xvfb is not None:
            xvfb.kill()
            xvfb.wait()
        if logind is not None:
            logind.stop()
        shutil.rmtree(work, ignore_errors=True)


def check_never_ready(screen, display, proc, flash_button):
    """During the disc poll the window answers, keeps the button disabled and stays open."""
    time.sleep(0.5)
    started = time.monotonic()
    caption = screen.caption()  # answered by the GUI thread: it would hang if the poll blocked it
    answered = time.monotonic() - started
    if answered > 2.0:  # a window held by the poll would answer only after it, some 4 s on
        raise Failure(f"the window took {answered:.1f} s to answer during the poll")
    if screen.enabled(flash_button):
        raise Failure("the Flash button is enabled during the poll")
    send_close_request(display, MAIN_CAPTION)
    screen.click(flash_button)  # a click on the disabled button must come to nothing, now or later
    time.sleep(0.5)
    if proc.poll() is not None:
        raise Failure("the window closed while a flash was in progress")
    screen.screenshot("never-ready-polling")
    print(f"during the poll: answered in {answered * 1000:.0f} ms, status {caption!r}, close refused")
    # The poll gives up silently after about 4.3 s; then the button comes back.
    deadline = time.monotonic() + 15
    while not screen.enabled(flash_button):
        if time.monotonic() > deadline:
            raise Failure("the Flash button did not come back after the poll")
        time.sleep(0.1)
    time.sleep(1.0)
    alerts = [n.name for n in screen.all() if screen.is_role(n, "alert")]
    if alerts:
        raise Failure(f"the poll's end showed {alerts!r}; it must end silently")
    if proc.poll() is not None:
        raise Failure("the close request made during the flash closed the window after it")
    send_close_request(display, MAIN_CAPTION)
    if proc.wait(timeout=10) != 0:
        raise Failure("the program did not end with exit code 0")
    print("never-ready: ended silently, closed afterwards")


def main():
    global patience
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--shots", help="folder for screenshots")
    parser.add_argument("--kernel-drive", help="the kernel case: the folder where the system's drive saves")
    args = parser.parse_args()
    if (args.case == "kernel") != bool(args.kernel_drive):
        parser.error("the kernel case, and only it, takes --kernel-drive")
    if args.case == "kernel":
        patience = 6.0
    return run_as_test(("Xvfb", "xdotool", "dbus-run-session", "dbus-daemon", "import"), "FLASH_E2E_SESSION",
                       "flash-e2e-run-", args.shots,
                       lambda: run_case(os.path.abspath(args.program), args.case, args.shots, args.kernel_drive),
                       args.case,
                       modules=("pyatspi", "dbusmock"))

if __name__ == "__main__":
    sys.exit(main())
