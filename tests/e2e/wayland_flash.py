#!/usr/bin/python3
"""End to end on Wayland: the real program, on Qt's Wayland platform plugin, under
weston's headless backend with no X server anywhere, flashes a virtual drive.

A flash-mode copy of the built program (W2KVQ8E10.EXE, the two test images of
flash_e2e.py) starts with one virtual VQ8A drive. Checked: the start-up warning and its
text, the main window and its caption, that the process runs on the Wayland plugin, a
completed flash (the drive saves exactly the IBM-K test image) and the restart offer,
declined. The window's app id must name the release package's desktop entry. Wayland
gives clients no global pointer, so the buttons are pressed through their accessibility
actions, as assistive technology presses them. A screenshot of each step is taken with
weston's screenshooter (which weston allows only with --debug).

Usage: wayland_flash.py PROGRAM [--shots DIR]
Exit 77 (skipped) only when weston, its screenshooter, dbus-run-session or python3-pyatspi
is not installed.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from flash_e2e import (MAIN_TITLE, RESTART_QUESTION, START_WARNING, Failure, Screen,  # noqa: E402
                       prepare_folder, run_as_test, show_program_log, test_images)

SIZE = (1024, 768)


def desktop_entry_name():
    """The name the release package gives the desktop entry: the compositor finds the
    entry (icon, name) of a window by its app id, so the two must be the same."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging"))
    from make_deb import APP_ID
    return APP_ID


def start_weston(runtime, log_path):
    """weston on its headless backend with the CPU renderer (the default renders nothing,
    so screenshots would be empty); returns the process and the socket's name."""
    socket = "wayland-e2e"
    log = open(log_path, "w")
    weston = subprocess.Popen(
        ["weston", "--backend=headless-backend.so", "--use-pixman", "--width=%d" % SIZE[0],
         "--height=%d" % SIZE[1], "--socket=" + socket, "--idle-time=0", "--no-config", "--debug"],
        env={**os.environ, "XDG_RUNTIME_DIR": runtime}, stdout=log, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 20
    while not os.path.exists(os.path.join(runtime, socket)):
        if weston.poll() is not None or time.monotonic() > deadline:
            weston.kill()
            raise Failure("weston did not start: " + open(log_path).read()[-2000:])
        time.sleep(0.1)
    return weston, socket


class WaylandScreen(Screen):
    """The same windows, read over AT-SPI; buttons pressed by action, screenshots by weston."""

    def __init__(self, shots, env):
        super().__init__(None, shots)
        self.env = env

    def click(self, node):
        action = node.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        if "Press" not in names:
            raise Failure(f"{node.getRoleName()} {node.name!r} offers no Press action: {names}")
        action.doAction(names.index("Press"))

    def press(self, box, button):
        """A dialog's button: the press is carried out a moment later (an animated click),
        so wait until the dialog has gone before looking for the next one."""
        super().press(box, button)
        deadline = time.monotonic() + 10
        while True:
            try:
                if not box.getState().contains(self.pyatspi.STATE_SHOWING):
                    return
            except Exception:
                return  # the dialog is gone from the tree
            if time.monotonic() > deadline:
                raise Failure(f"the dialog {box.name!r} stays open after {button}")
            time.sleep(0.1)

    def xdotool(self, *args):
        raise Failure("no xdotool on Wayland")

    def screenshot(self, what):
        if not self.shots:
            return
        self.shot_number += 1
        path = os.path.join(self.shots, f"{self.shot_number:02d}-{what}.png")
        time.sleep(0.5)  # the last frame drawn
        # weston-screenshooter writes wayland-screenshot-<time>.png into its working folder.
        with tempfile.TemporaryDirectory() as d:
            r = subprocess.run(["weston-screenshooter"], cwd=d, env=self.env, capture_output=True, text=True)
            made = [f for f in os.listdir(d) if f.endswith(".png")]
            if r.returncode != 0 or len(made) != 1:
                raise Failure(f"weston-screenshooter made {made} (exit {r.returncode}): {r.stderr.strip()}")
            shutil.move(os.path.join(d, made[0]), path)
        with open(path, "rb") as f:
            head = f.read(24)
        if head[:8] != b"\x89PNG\r\n\x1a\n" or (int.from_bytes(head[16:20], "big"),
                                                 int.from_bytes(head[20:24], "big")) != SIZE:
            raise Failure(f"{path} is not a {SIZE[0]}x{SIZE[1]} PNG of the screen")
        print("screenshot:", path)


def platform_libraries(pid):
    """The Qt platform libraries that the process has mapped."""
    with open(f"/proc/{pid}/maps") as f:
        names = {line.split()[-1].rsplit("/", 1)[-1] for line in f if "/" in line}
    return sorted(n for n in names if n.startswith(("libQt6WaylandClient", "libQt6XcbQpa", "libqwayland",
                                                      "libqxcb")))


def run(program, shots, runtime):
    images = test_images()
    work = tempfile.mkdtemp(prefix="wayland-e2e-")
    weston = proc = None
    try:
        flash_program, drive_dir = prepare_folder(program, work, images, "VQ8A")

        weston, socket = start_weston(runtime, os.path.join(work, "weston.log"))
        # As a Wayland session starts programs: no X display, and Qt left to pick its plugin.
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "XAUTHORITY", "QT_QPA_PLATFORM")}
        env.update({"XDG_RUNTIME_DIR": runtime, "WAYLAND_DISPLAY": socket, "XDG_SESSION_TYPE": "wayland"})
        import pyatspi
        pyatspi.Registry.getDesktop(0)  # the accessibility bus must be up before the program starts
        screen = WaylandScreen(shots, env)

        log = open(os.path.join(work, "program.log"), "w+")
        proc = subprocess.Popen([flash_program], cwd=work, stdout=log, stderr=subprocess.STDOUT,
                                env={**env, "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "WAYLAND_DEBUG": "client",
                                     "LANGUAGE": "en",  # the texts it reads are the English ones
                                     "QVX_VIRTUAL_DRIVES": os.path.join(work, "drives"), "QVX_NO_REBOOT": "1",
                                     # No system bus: the flash's lock is not asked of the machine's logind.
                                     "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=" + os.path.join(work, "no-system-bus")})

        box = screen.dialog("Warning", START_WARNING)
        libraries = platform_libraries(proc.pid)
        if not any(n.startswith("libqwayland") for n in libraries) or any("Xcb" in n or "xcb" in n for n in libraries):
            raise Failure(f"the program is not on the Wayland plugin alone: {libraries}")
        print("platform:", ", ".join(libraries))
        app_id = 'set_app_id("%s")' % desktop_entry_name()
        log.seek(0)
        if app_id not in log.read():
            raise Failure(f"the program's windows do not {app_id}")
        print("app id:", app_id)
        screen.screenshot("warning")
        screen.press(box, "Yes")

        window = screen.main_window()
        if window.name != MAIN_TITLE:
            raise Failure(f"the main window is {window.name!r}, expected {MAIN_TITLE!r}")
        combo = screen.find("combo box")
        if not combo.name.endswith("VQ8A"):
            raise Failure(f"drive list shows {combo.name!r}")
        print(f"window {window.name!r}, drive {combo.name!r}")
        screen.screenshot("window")

        screen.click(screen.find("push button", "Flash"))
        box = screen.dialog("Confirm", "\nUpdate FW:VQ8A to FW:VQ8E ?\n")
        screen.screenshot("question")
        screen.press(box, "Yes")

        box = screen.dialog("Confirm", RESTART_QUESTION, timeout=60)
        if screen.caption() != "Flash Completed.":
            raise Failure(f"status line during the restart offer: {screen.caption()!r}")
        screen.screenshot("completed")
        screen.press(box, "No")
        deadline = time.monotonic() + 10
        while screen.caption() != "":
            if time.monotonic() > deadline:
                raise Failure(f"status line after the declined offer: {screen.caption()!r}")
            time.sleep(0.1)

        with open(os.path.join(drive_dir, "firmware.bin"), "rb") as f:
            saved = f.read()
        if saved != images[0]:
            raise Failure(f"the drive saved {len(saved)} bytes that are not the IBM-K test image")
        print(f"the drive saved exactly the IBM-K test image ({len(saved)} bytes)")
        if proc.poll() is not None:
            raise Failure("the program ended by itself")
    except Exception:
        show_program_log(work)
        raise
    finally:
        for p in (proc, weston):
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--shots", help="folder for screenshots")
    args = parser.parse_args()
    # weston's socket goes to the session's runtime folder too.
    shots = args.shots and os.path.abspath(args.shots)
    return run_as_test(("weston", "weston-screenshooter", "dbus-run-session"), "WAYLAND_E2E_SESSION",
                       "wayland-e2e-run-", shots,
                       lambda: run(os.path.abspath(args.program), shots, os.environ["XDG_RUNTIME_DIR"]),
                       "flashed on Wayland")

if __name__ == "__main__":
    sys.exit(main())
