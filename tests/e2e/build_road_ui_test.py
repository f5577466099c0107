#!/usr/bin/python3
"""The road's control reader (scripts/road_ui.py) against a stand-in accessibility tree:
"enabled" must tell an enabled control (0), a disabled one (3) and one it cannot find
(1) apart, so the road's "still disabled" checks cannot pass on a missing button. The
stand-in names a push button's role "button", as at-spi2-core 2.56 does (2.46: "push
button"): the reader must go by the role itself.

Usage: build_road_ui_test.py PATH_TO_road_ui.py
"""
import os
import runpy
import sys
import types

SHOWING, SENSITIVE = "showing", "sensitive"
# Roles as numbers, like Atspi.Role's, under pyatspi's names.
ROLES = {"desktop": 14, "application": 75, "frame": 23, "push button": 43}


class State:
    def __init__(self, states):
        self.states = states

    def contains(self, state):
        return state in self.states


class Node:
    def __init__(self, role, name, states=(SHOWING,), children=()):
        self.role, self.name, self.states, self.children = role, name, set(states), list(children)

    @property
    def childCount(self):
        return len(self.children)

    def getChildAtIndex(self, i):
        return self.children[i]

    def getRole(self):
        return ROLES[self.role]

    def getRoleName(self):
        return {"push button": "button"}.get(self.role, self.role)

    def getState(self):
        return State(self.states)


def fake_pyatspi(window):
    module = types.ModuleType("pyatspi")
    module.STATE_SHOWING, module.STATE_SENSITIVE = SHOWING, SENSITIVE
    for words, number in ROLES.items():
        setattr(module, "ROLE_" + words.upper().replace(" ", "_"), number)
    desktop = Node("desktop", "", children=[Node("application", "flashutil", children=[window])])
    module.Registry = types.SimpleNamespace(getDesktop=lambda _: desktop)
    return module


def exit_code(script, window, *args):
    sys.modules["pyatspi"] = fake_pyatspi(window)
    sys.argv = [script, *args]
    devnull = open(os.devnull, "w")
    saved, sys.stderr = sys.stderr, devnull
    try:
        runpy.run_path(script, run_name="__main__")
        return 0
    except SystemExit as e:
        return e.code if isinstance(e.code, int) else 1
    finally:
        sys.stderr = saved
        devnull.close()


def main():
    script = sys.argv[1]
    title = "Flash utility [Buiding]"
    window = Node("frame", title, children=[
        Node("push button", "Build", states=(SHOWING,)),
        Node("push button", "Flash", states=(SHOWING, SENSITIVE)),
    ])
    seen = {
        "disabled": exit_code(script, window, "enabled", r"\[Buiding\]$", "push button", "Build"),
        "enabled": exit_code(script, window, "enabled", r"\[Buiding\]$", "push button", "Flash"),
        "missing": exit_code(script, window, "enabled", r"\[Buiding\]$", "push button", "Bulid"),
    }
    want = {"disabled": 3, "enabled": 0, "missing": 1}
    if seen != want:
        print("FAIL: exit codes %r, expected %r" % (seen, want))
        return 1
    print("PASS: %r" % seen)
    return 0


if __name__ == "__main__":
    sys.exit(main())
