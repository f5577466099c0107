#!/usr/bin/python3
"""Finds the program's controls through the accessibility tree (AT-SPI) and works them
with real mouse clicks and keys (xdotool), the way a person would. Used by road.sh.

  road_ui.py wait-window TITLE_RE [TIMEOUT]          prints the window's title
  road_ui.py click TITLE_RE ROLE NAME                clicks the middle of that control
  road_ui.py status TITLE_RE                         prints the status line (GroupBox2)
  road_ui.py wait-status TITLE_RE TEXT_RE [TIMEOUT]  waits for a matching status line
  road_ui.py label TITLE_RE TEXT_RE                  prints the first label matching TEXT_RE
  road_ui.py enabled TITLE_RE ROLE NAME              exit 0 when the control is enabled,
                                                     3 when it is disabled (1: not found)
  road_ui.py answer TEXT_RE BUTTON [TIMEOUT]         in the dialog whose text matches,
                                                     prints the text and clicks BUTTON
  road_ui.py wait-dialog TEXT_RE BUTTON [TIMEOUT]    the same without the click
  road_ui.py tree TITLE_RE                           lists the window's controls
  road_ui.py pick-drive TITLE_RE INDEX               chooses line INDEX of the drive list

ROLE is the role's name in words, as pyatspi's constants spell it: "push button" for
ROLE_PUSH_BUTTON, "list item", "combo box". Controls are found by the role itself, not by
the name the installed at-spi2-core gives it, which differs between its versions (a push
button is "push button" in 2.46 and "button" in 2.56).
"""
import re
import subprocess
import sys
import time

import pyatspi

# The exit code of "enabled" for a control that is there but disabled; every failure
# (no such window or control) exits 1, so a check for "disabled" cannot pass by accident.
DISABLED = 3


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def role(words):
    """The AT-SPI role named by WORDS ("push button": pyatspi.ROLE_PUSH_BUTTON)."""
    found = getattr(pyatspi, "ROLE_" + words.upper().replace(" ", "_"), None)
    if found is None:
        fail("no accessibility role %r" % words)
    return found


def is_role(acc, words):
    return acc.getRole() == role(words)


def top_levels():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None:
            continue
        for j in range(app.childCount):
            win = app.getChildAtIndex(j)
            if win is not None:
                yield win


def walk(acc):
    yield acc
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def find_window(title_re, timeout=20):
    """The program's main window: a frame whose title matches (dialogs are found by answer)."""
    end = time.time() + timeout
    while time.time() < end:
        for win in top_levels():
            if is_role(win, "frame") and re.search(title_re, win.name or "") and showing(win):
                return win
        time.sleep(0.2)
    fail("no window titled /%s/" % title_re)


def find(win, role, name):
    for acc in walk(win):
        if is_role(acc, role) and acc.name == name:
            return acc
    fail("no %s named %r in %r" % (role, name, win.name))


def status_of(win):
    # GroupBox2 is the panel that holds the progress bar; its title is the status line.
    bar = find(win, "progress bar", "Progress")
    return bar.parent.name or ""


def click(acc):
    box = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    x, y = box.x + box.width // 2, box.y + box.height // 2
    subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y), "click", "1"], check=True)
    time.sleep(0.3)


def dialog_text(win):
    texts = [acc.name for acc in walk(win) if is_role(acc, "label") and acc.name]
    return "\n".join(texts)


def answer(text_re, button, timeout=30, press=True):
    end = time.time() + timeout
    while time.time() < end:
        for win in top_levels():
            if not showing(win):
                continue
            text = dialog_text(win)
            if re.search(text_re, text, re.S) and any(
                    is_role(a, "push button") and a.name == button for a in walk(win)):
                print("%s: %s" % (win.name, " / ".join(line for line in text.split("\n") if line)))
                if press:
                    click(find(win, "push button", button))
                return
        time.sleep(0.2)
    fail("no dialog saying /%s/ with a %s button" % (text_re, button))


def pick_drive(title_re, index):
    win = find_window(title_re)
    # The bridge names a combo box after its current line, so it is found by its role.
    combos = [a for a in walk(win) if is_role(a, "combo box")]
    if not combos:
        fail("no drive list in %r" % win.name)
    combo = combos[0]
    items = [a for a in walk(combo) if is_role(a, "list item")]
    if index >= len(items):
        fail("the drive list has %d lines" % len(items))
    # Open the list with a click, move down to the line and take it with Return.
    click(combo)
    time.sleep(0.3)
    keys = ["Home"] + ["Down"] * index + ["Return"]
    subprocess.run(["xdotool", "key", "--clearmodifiers"] + keys, check=True)
    time.sleep(0.3)
    if combo.name != items[index].name:
        fail("the drive list shows %r, not line %d %r" % (combo.name, index, items[index].name))
    print("drive line %d: %s" % (index, combo.name))


def main():
    if len(sys.argv) < 3:
        fail(__doc__)
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "wait-window":
        print(find_window(args[0], float(args[1]) if len(args) > 1 else 20).name)
    elif cmd == "click":
        click(find(find_window(args[0]), args[1], args[2]))
    elif cmd == "status":
        print(status_of(find_window(args[0])))
    elif cmd == "wait-status":
        win = find_window(args[0])
        end = time.time() + (float(args[2]) if len(args) > 2 else 30)
        while time.time() < end:
            text = status_of(win)
            if re.search(args[1], text):
                print(text)
                return
            time.sleep(0.2)
        fail("status line is %r, waited for /%s/" % (status_of(win), args[1]))
    elif cmd == "label":
        win = find_window(args[0])
        for acc in walk(win):
            if is_role(acc, "label") and re.search(args[1], acc.name or ""):
                print(acc.name)
                return
        fail("no label /%s/" % args[1])
    elif cmd == "enabled":
        acc = find(find_window(args[0]), args[1], args[2])
        sys.exit(0 if acc.getState().contains(pyatspi.STATE_SENSITIVE) else DISABLED)
    elif cmd == "answer":
        answer(args[0], args[1], float(args[2]) if len(args) > 2 else 30)
    elif cmd == "tree":
        for acc in walk(find_window(args[0])):
            print(acc.getRoleName(), repr(acc.name))
    elif cmd == "wait-dialog":
        answer(args[0], args[1], float(args[2]) if len(args) > 2 else 30, press=False)
    elif cmd == "pick-drive":
        pick_drive(args[0], int(args[1]))
    else:
        fail(__doc__)


if __name__ == "__main__":
    main()
