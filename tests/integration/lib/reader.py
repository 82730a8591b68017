"""What a screen reader learns of a program over AT-SPI (pyatspi).

  reader.py enable                 turns accessibility on, as a reader does
  reader.py dump <window>          one line per object of the window:
                                   role, name, value, minimum, maximum, states, actions
  reader.py focused <window>       the name of the window's focused object
  reader.py press <window> <name>  runs the first action of the object so named
  reader.py values <window> <s>    counts value-change events per object for s seconds
  reader.py alert                  the name and texts of a window read as an alert

Each call is a process of its own, so nothing stale is kept between calls. Exit
status 1 when the window (or the object) is not there.
"""
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

import pyatspi  # noqa: E402

def enable():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    for prop in ("IsEnabled", "ScreenReaderEnabled"):
        bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                      GLib.Variant("(ssv)", ("org.a11y.Status", prop, GLib.Variant("b", True))),
                      None, Gio.DBusCallFlags.NONE, 5000, None)


def window(title):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None:
            continue
        for w in app:
            if w is not None and w.name == title:
                return w
    return None


def objects(win):
    # The windows' children are flat: every control a reader sees.
    return [c for c in win if c is not None]


def describe(obj):
    role = obj.getRoleName()
    value = minimum = maximum = ""
    try:
        v = obj.queryValue()
        value, minimum, maximum = (f"{v.currentValue:g}", f"{v.minimumValue:g}",
                                   f"{v.maximumValue:g}")
    except NotImplementedError:
        pass
    states = ",".join(sorted(pyatspi.stateToString(s) for s in obj.getState().getStates()))
    actions = ""
    try:
        a = obj.queryAction()
        actions = ",".join(a.getName(i) for i in range(a.nActions))
    except NotImplementedError:
        pass
    return "\t".join([role, obj.name, value, minimum, maximum, states, actions])


def texts(obj):
    found = [obj.name] if obj.name else []
    for child in obj:
        if child is not None:
            found += texts(child)
    return found


def main(argv):
    if argv[0] == "enable":
        enable()
        return 0
    if argv[0] == "alert":
        for app in pyatspi.Registry.getDesktop(0):
            for w in app or []:
                if w is not None and w.getRoleName() == "alert":
                    print(" | ".join(texts(w)))
                    return 0
        return 1
    win = window(argv[1])
    if win is None:
        return 1
    if argv[0] == "dump":
        print(describe(win))
        for obj in objects(win):
            print(describe(obj))
        return 0
    if argv[0] == "focused":
        for obj in objects(win):
            if obj.getState().contains(pyatspi.STATE_FOCUSED):
                print(obj.name)
                return 0
        return 1
    if argv[0] == "press":
        for obj in objects(win):
            if obj.name == argv[2]:
                obj.queryAction().doAction(0)
                return 0
        return 1
    if argv[0] == "values":
        counts = {}

        def on_value(event):
            name = event.source.name if event.source is not None else "?"
            counts[name] = counts.get(name, 0) + 1

        pyatspi.Registry.registerEventListener(on_value, "object:property-change:accessible-value")
        GLib.timeout_add(int(float(argv[2]) * 1000), pyatspi.Registry.stop)
        pyatspi.Registry.start()
        for name, n in sorted(counts.items()):
            print(f"{n}\t{name}")
        return 0
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
