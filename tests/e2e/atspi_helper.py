"""Reads the program's windows through AT-SPI, as a screen reader does.

    python3 atspi_helper.py PID    answers one JSON request a line on stdin with
                                   one line {"reply": ...} or {"error": "..."}:
        ["find", ROLE, NAME, WINDOW, LABEL]  number (from 1) of the first element,
            depth first, whose role and name match (regular expressions), in the
            top-level window whose name matches WINDOW, labelled by an element
            named LABEL unless that is null; null when there is none
        ["read", ID]                its role, name, description, states, extents
                                    on the screen, value, length and caret
        ["text", ID, START, END]    a range of its text (END -1: to the end)
        ["listen", EVENT...]        reports those events from then on, each as a
            line {"event", "detail1"} with the source's "role", and its "value"
            (a progress bar) or "name", "label" and "description", as they are
            when the event is read

A client of the accessibility bus must keep answering it, or the program's keys
wait (they pass through the registry first): so this child process runs a main
loop of its own, and the driver, which waits on other things, never talks to
the bus. python3-pyatspi is installed for the distribution's own interpreter.
"""

import json
import re
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402
import pyatspi  # noqa: E402

PID = int(sys.argv[1]) if len(sys.argv) == 2 else sys.exit(__doc__)
found: list = []


def say(obj) -> None:
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == PID:
            return app
    return None


def label_of(acc) -> str:
    for relation in acc.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return relation.getTarget(0).name
    return ""


def find(role: str, name: str, window: str, label):
    app = application()
    if app is None:
        return None

    def search(acc):
        if re.fullmatch(role, acc.getRoleName()) and re.fullmatch(name, acc.name or "") and (
                label is None or label_of(acc) == label):
            return acc
        for child in acc:
            hit = search(child) if child is not None else None
            if hit is not None:
                return hit
        return None

    for top in app:
        if top is not None and re.fullmatch(window, top.name or ""):
            hit = search(top)
            if hit is not None:
                found.append(hit)
                return len(found)
    return None


def read(acc) -> dict:
    states = [pyatspi.stateToString(s) for s in acc.getState().getStates()]
    box = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    info = {"role": acc.getRoleName(), "name": acc.name, "description": acc.description,
            "states": states, "extents": [box.x, box.y, box.width, box.height]}
    interfaces = pyatspi.utils.listInterfaces(acc)
    if "Value" in interfaces:
        info["value"] = acc.queryValue().currentValue
    if "Text" in interfaces:
        text = acc.queryText()
        info["length"], info["caret"] = text.characterCount, text.caretOffset
    return info


def on_event(event) -> None:
    # As few questions as may be: the program answers between slices of a run.
    try:
        source = event.source
        info = {"event": event.type, "detail1": event.detail1, "role": source.getRoleName()}
        if info["role"] == "progress bar":
            info["value"] = source.queryValue().currentValue
        else:
            info.update(name=source.name, description=source.description,
                        label=label_of(source) if info["role"] == "label" else "")
        say(info)
    except Exception:  # the element went before its event was read
        pass


def handle(request: list):
    verb, *args = request
    if verb == "find":
        return find(*args)
    if verb == "read":
        return read(found[args[0] - 1])
    if verb == "text":
        return found[args[0] - 1].queryText().getText(args[1], args[2])
    if verb == "listen":
        for kind in args:
            pyatspi.Registry.registerEventListener(on_event, kind)
        return True
    raise ValueError(f"unknown request {verb!r}")


def on_input(channel, _condition) -> bool:
    line = channel.readline()
    if not line:
        pyatspi.Registry.stop()
        return False
    try:
        say({"reply": handle(json.loads(line))})
    except Exception as exc:
        say({"error": f"{type(exc).__name__}: {exc}"})
    return True


# Every read asks the program: a cached name would go stale unless its change
# events were listened to.
Atspi.get_desktop(0).set_cache_mask(Atspi.Cache.NONE)
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP, on_input)
say({"reply": "ready"})
pyatspi.Registry.start()
