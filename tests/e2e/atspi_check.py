"""Reads the program's window through the accessibility tree (AT-SPI), as assistive
technology and GUI tests see it, and checks it.

  atspi_check.py drive-list CAPTION LINE...   the drive list holds these lines, the first selected
  atspi_check.py build-mode CAPTION           file lists, labels, and the Build button's states
  atspi_check.py dialog TITLE TEXT BUTTON...  a message dialog shows TEXT (a trailing "x" is
                                              cut: shells drop trailing line feeds) and these buttons
  atspi_check.py named-controls CAPTION LABEL BUTTON LINE
                                              the main window's label and button read LABEL and
                                              BUTTON, and its drive list shows LINE
"""
import os
import sys
import time

import pyatspi

# The tree walking and the roles are the road's control reader's own.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from road_ui import fail, is_role, top_levels, walk  # noqa: E402


def find_window(caption, role=None, timeout=20):
    """A top-level window by its caption; role, when given, must match too (the main
    window is a "frame": screen readers take a "filler" for no window at all)."""
    end = time.time() + timeout
    while time.time() < end:
        for win in top_levels():
            if win.name == caption and (role is None or is_role(win, role)):
                return win
        time.sleep(0.2)
    fail("no %s named %r in the accessibility tree" % (role or "window", caption))


def find(win, role, name=None):
    for acc in walk(win):
        if is_role(acc, role) and (name is None or acc.name == name):
            return acc
    fail("no %s named %r" % (role, name))


def has(acc, state):
    return acc.getState().contains(state)


def check_drive_list(caption, lines):
    win = find_window(caption, "frame")
    # A combo box is named by its current line; its list holds every line.
    combo = find(win, "combo box")
    if not has(combo, pyatspi.STATE_SHOWING):
        fail("the drive list is not shown")
    names = [acc.name for acc in walk(combo) if is_role(acc, "list item")]
    if names != lines:
        fail("drive list items %r, expected %r" % (names, lines))
    if combo.name != lines[0]:
        fail("the selected line is %r, expected the first %r" % (combo.name, lines[0]))
    if not combo.description:
        fail("the selected line tells no device node")
    for name in ("IBM-K BIN files", "Non IBM-K BIN files"):
        if has(find(win, "list", name), pyatspi.STATE_SHOWING):
            fail("the file list %r shows in flash mode" % name)
    button = find(win, "push button", "Flash")
    if not has(button, pyatspi.STATE_SENSITIVE):
        fail("the Flash button is not enabled")
    print("drive list: %r, selected %r on %r" % (names, combo.name, combo.description))


def pick(list_acc, index):
    """Selects a list's row the way assistive technology does: the row's Toggle action."""
    item = list_acc.getChildAtIndex(index)
    action = item.queryAction()
    for i in range(action.nActions):
        if action.getName(i) == "Toggle":
            action.doAction(i)
            time.sleep(0.3)
            return
    fail("the row %r offers no Toggle action" % item.name)


def check_build_mode(caption):
    win = find_window(caption, "frame")
    button = find(win, "push button", "Build")
    if has(button, pyatspi.STATE_SENSITIVE):
        fail("the Build button is enabled before any pick")
    list1 = find(win, "list", "IBM-K BIN files")
    list2 = find(win, "list", "Non IBM-K BIN files")
    items1 = [list1.getChildAtIndex(i).name for i in range(list1.childCount)]
    items2 = [list2.getChildAtIndex(i).name for i in range(list2.childCount)]
    if items1 != ["VQ8E.BIN", "VQ9A.BIN"] or items2 != ["VQ10.BIN"]:
        fail("file lists %r and %r" % (items1, items2))
    if list1.description != "Select IBM-K BIN file.":
        fail("hint of the first list: %r" % list1.description)
    pick(list1, 0)
    find(win, "label", "IBM-K BIN file: VQ8E.BIN")
    if has(button, pyatspi.STATE_SENSITIVE):
        fail("the Build button is enabled after one pick")
    pick(list2, 0)
    find(win, "label", "NonIBM-K BIN file: VQ10.BIN")
    if not has(button, pyatspi.STATE_SENSITIVE):
        fail("the Build button stays disabled after both picks")
    action = button.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if "Press" not in names:
        fail("the Build button offers no Press action: %r" % names)
    progress = find(win, "progress bar", "Progress")
    value = progress.queryValue()
    if (value.minimumValue, value.maximumValue, value.currentValue) != (0, 100, 0):
        fail("progress bar %r" % ((value.minimumValue, value.maximumValue, value.currentValue),))
    print("build mode: lists %r %r, Build enabled after both picks" % (items1, items2))


def check_dialog(title, text, buttons):
    if text.endswith("x"):
        text = text[:-1]
    win = find_window(title)
    labels = [acc.name for acc in walk(win) if is_role(acc, "label")]
    if text not in labels:
        fail("dialog %r shows %r, expected %r" % (title, labels, text))
    shown = sorted(acc.name for acc in walk(win) if is_role(acc, "push button"))
    if shown != sorted(buttons):
        fail("dialog %r has buttons %r, expected %r" % (title, shown, buttons))
    print("dialog %s: text as expected, buttons %r" % (title, shown))


def check_named_controls(caption, label, button, line):
    win = find_window(caption, "frame")
    find(win, "label", label)
    find(win, "push button", button)
    combo = find(win, "combo box")
    if combo.name != line:
        fail("the drive list shows %r, expected %r" % (combo.name, line))
    print("window: label %r, button %r, line %r" % (label, button, line))


def main():
    if len(sys.argv) < 3:
        fail(__doc__)
    command, caption = sys.argv[1], sys.argv[2]
    if command == "drive-list":
        check_drive_list(caption, sys.argv[3:])
    elif command == "dialog":
        check_dialog(caption, sys.argv[3], sys.argv[4:])
    elif command == "build-mode":
        check_build_mode(caption)
    elif command == "named-controls" and len(sys.argv) == 6:
        check_named_controls(caption, *sys.argv[3:])
    else:
        fail(__doc__)


if __name__ == "__main__":
    main()
