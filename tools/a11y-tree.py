#!/usr/bin/python3
# Prints what a screen reader sees of a running panel through AT-SPI (role | name | states | labels),
# and with --events SECONDS the state and name changes it is told meanwhile. Needs python3-pyatspi
# and the panel started with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 on a session with the AT-SPI bus.
import sys

import pyatspi
from gi.repository import GLib

SHOWN = {pyatspi.STATE_CHECKED: "checked", pyatspi.STATE_PRESSED: "pressed", pyatspi.STATE_FOCUSED: "focused",
         pyatspi.STATE_ENABLED: "enabled", pyatspi.STATE_SHOWING: "showing"}


def states(a):
    return ",".join(SHOWN[s] for s in a.getState().getStates() if s in SHOWN)


def labels(a):
    return [r.getTarget(i).name for r in a.getRelationSet()
            if r.getRelationType() == pyatspi.RELATION_LABELLED_BY for i in range(r.getNTargets())]


def walk(a, depth=0):
    if a is None:
        return
    by = labels(a)
    print("  " * depth + f"{a.getRoleName()} | {a.name!r} | {states(a)}" + (f" | labelled by {by}" if by else ""))
    if a.getRoleName() != "list":  # a list's items are its values, not controls
        for child in a:
            walk(child, depth + 1)


def heard(e):
    kind = e.type.split(":")[-1]
    if kind in ("checked", "pressed", "focused", "accessible-name") or e.type.startswith("focus"):
        print(f"{e.type} {e.detail1} | {e.source.getRoleName()} {e.source.name!r}", flush=True)


def main():
    apps = [a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name.lower().startswith("tavrion")]
    if not apps:
        sys.exit("no Tavrion window on the accessibility bus")
    walk(apps[0])
    if len(sys.argv) == 3 and sys.argv[1] == "--events":
        pyatspi.Registry.registerEventListener(heard, "object:state-changed", "object:property-change:accessible-name", "focus:")
        GLib.timeout_add(int(float(sys.argv[2]) * 1000), pyatspi.Registry.stop)
        pyatspi.Registry.start()


main()
