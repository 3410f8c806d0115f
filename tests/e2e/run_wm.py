#!/usr/bin/env python3
"""End-to-end tests under a real window manager: openbox in its own Xvfb.

Usage: python3 tests/e2e/run_wm.py --binary PATH [--keep] [-k PATTERN] [--limit SECONDS]

The main suite (run_e2e.py) runs without a window manager. These scenarios
check what only a window manager shows: the frame it puts around the windows
(no maximize, no resize, a close button that ends the program, also during a
run), the stacking of the About window over the main window, and where the
windows sit on the screen, frame included. Openbox gets a copy of its packaged
configuration in which it no longer centres new windows itself, so a centred
window is the program's doing. The closing line reads "N passed, N failed,
N skipped"; the exit status is non-zero on any failure.
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET
from dataclasses import dataclass

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import run_e2e  # noqa: E402
import xdriver  # noqa: E402
from run_e2e import KaldromeCase, scenario  # noqa: E402
from xdriver import DriverError, poll  # noqa: E402

OPENBOX_RC = "/etc/xdg/openbox/rc.xml"
OPENBOX_NS = "http://openbox.org/3.4/rc"
WM_TOOLS = dict(xdriver.REQUIRED_TOOLS, openbox="openbox", xprop="x11-utils")


@dataclass
class Rect:
    x: int
    y: int
    width: int
    height: int

    @property
    def centre(self) -> tuple[float, float]:
        return self.x + self.width / 2, self.y + self.height / 2


# ---------------------------------------------------------------- the window manager

def openbox_config(path: str) -> None:
    """Openbox's packaged configuration (its mouse and key bindings), with a
    fixed theme and title layout and without centring of new windows."""
    ET.register_namespace("", OPENBOX_NS)
    tree = ET.parse(OPENBOX_RC)
    ns = {"ob": OPENBOX_NS}
    root = tree.getroot()
    settings = [("ob:placement/ob:center", "no"), ("ob:placement/ob:policy", "Smart"),
                ("ob:theme/ob:name", "Clearlooks"), ("ob:theme/ob:titleLayout", "NLIMC"),
                ("ob:focus/ob:focusNew", "yes")]
    for where, value in settings:
        node = root.find(where, ns)
        if node is None:
            raise DriverError(f"{OPENBOX_RC} has no {where.replace('ob:', '')}")
        node.text = value
    tree.write(path, xml_declaration=True, encoding="UTF-8")


class WindowManager:
    name = "openbox"

    def __init__(self, server: xdriver.XServer, workdir: str):
        self.server = server
        self.workdir = workdir
        self.proc: subprocess.Popen | None = None

    def start(self) -> None:
        config = os.path.join(self.workdir, "openbox-rc.xml")
        openbox_config(config)
        log = open(os.path.join(self.workdir, "openbox.log"), "wb")
        try:
            self.proc = xdriver.spawn(["openbox", "--sm-disable", "--config-file", config],
                                      env=self.server.env(), stdout=log, stderr=log,
                                      stdin=subprocess.DEVNULL)
        finally:
            log.close()

        def running():
            if self.proc.poll() is not None:
                raise DriverError(f"openbox ended (see {self.workdir}/openbox.log)")
            out = self.server.tool("xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False)
            return "window id #" in out
        poll(running, 15, 0.1, "openbox to take over the display")

    def stop(self) -> None:
        if self.proc:
            xdriver.stop_process(self.proc)


# ---------------------------------------------------------------- reading the display

def root_property(name: str) -> str:
    return run_e2e.SERVER.tool("xprop", "-root", name, check=False)


def window_property(window: str, name: str) -> str:
    return run_e2e.SERVER.tool("xprop", "-id", window, name, check=False)


def numbers(text: str) -> list[int]:
    _, _, values = text.partition("=")
    return [int(v.strip(), 0) for v in values.split(",") if v.strip()]


def atoms(window: str, name: str) -> set[str]:
    _, _, values = window_property(window, name).partition("=")
    return {v.strip() for v in values.split(",") if v.strip()}


def frame_of(window: str) -> Rect:
    """The window with the frame the window manager put around it, in root coordinates."""
    info = run_e2e.SERVER.tool("xwininfo", "-id", window)
    fields = dict(line.strip().split(":", 1) for line in info.splitlines() if ":" in line)
    x = int(fields["Absolute upper-left X"])
    y = int(fields["Absolute upper-left Y"])
    w, h = int(fields["Width"]), int(fields["Height"])
    extents = numbers(window_property(window, "_NET_FRAME_EXTENTS"))
    if len(extents) != 4:
        raise DriverError(f"window {window} has no frame extents: is it framed?")
    left, right, top, bottom = extents
    return Rect(x - left, y - top, w + left + right, h + top + bottom)


def work_area() -> Rect:
    values = numbers(root_property("_NET_WORKAREA"))
    if len(values) < 4:
        raise DriverError("the window manager publishes no work area")
    return Rect(*values[:4])


def stacking() -> list[int]:
    """Managed windows from bottom to top."""
    _, _, ids = root_property("_NET_CLIENT_LIST_STACKING").partition("#")
    return [int(v.strip(), 16) for v in ids.split(",") if v.strip()]


def title_bar_point(window: str, avoid: Rect | None = None) -> tuple[int, int]:
    """A point on the title bar clear of the icon and the buttons, and outside
    `avoid` (another window's frame that may lie over it)."""
    frame = frame_of(window)
    top = numbers(window_property(window, "_NET_FRAME_EXTENTS"))[2]
    y = frame.y + top // 2
    for x in range(frame.x + 2 * top, frame.x + frame.width - 4 * top, 10):
        if avoid is None or not (avoid.x <= x < avoid.x + avoid.width
                                 and avoid.y <= y < avoid.y + avoid.height):
            return x, y
    raise DriverError(f"no free point on the title bar of window {window}")


# The border colour of the title bar buttons in the Clearlooks theme, active window.
BUTTON_BORDER = (0x49, 0x67, 0x8B)


def title_buttons(window: str) -> list[tuple[int, int]]:
    """Centres of the buttons drawn on the window's title bar, left to right,
    found by their border colour along the middle of the title bar."""
    frame = frame_of(window)
    top = numbers(window_property(window, "_NET_FRAME_EXTENTS"))[2]
    y = frame.y + top // 2
    data = xdriver.run(["timeout", "-k", "2", "15", "import", "-silent", "-window", "root",
                        "-crop", f"{frame.width}x1+{frame.x}+{y}", "-depth", "8", "rgb:-"],
                       timeout=20, env=run_e2e.SERVER.env()).stdout
    edges = [x for x in range(len(data) // 3) if tuple(data[3 * x:3 * x + 3]) == BUTTON_BORDER]
    # A button shows as its left and right border on this row.
    runs = []
    for x in edges:
        if runs and x - runs[-1][-1] <= 1:
            runs[-1].append(x)
        else:
            runs.append([x])
    lefts, rights = runs[0::2], runs[1::2]
    return [(frame.x + (a[0] + b[-1]) // 2, y) for a, b in zip(lefts, rights)]


def mouse(*args: str) -> None:
    run_e2e.SERVER.tool("xdotool", *args)


def drag(from_xy: tuple[int, int], by: tuple[int, int], button: int = 1,
         modifier: str | None = None) -> None:
    """Presses a button, moves in small steps as a hand would, and lets go."""
    x, y = from_xy
    if modifier:
        mouse("keydown", modifier)
    try:
        mouse("mousemove", str(x), str(y))
        mouse("mousedown", str(button))
        for step in range(1, 6):
            mouse("mousemove", str(x + by[0] * step // 5), str(y + by[1] * step // 5))
            time.sleep(0.05)
        mouse("mouseup", str(button))
    finally:
        if modifier:
            mouse("keyup", modifier)


# ---------------------------------------------------------------- scenarios

MAXIMIZE = {"_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT"}
RESIZE = "_NET_WM_ACTION_RESIZE"
MAXIMIZED = {"_NET_WM_STATE_MAXIMIZED_HORZ", "_NET_WM_STATE_MAXIMIZED_VERT"}


class WindowManagerScenarios(KaldromeCase):

    def open_about(self) -> str:
        """Opens the About window through the Help menu; its window id."""
        p = self.program
        p.focus()

        def shown() -> set[str]:
            return set(run_e2e.SERVER.tool("xdotool", "search", "--onlyvisible", "--pid",
                                           str(p.proc.pid), check=False).split())
        before = shown()
        p.key("alt+h")
        poll(lambda: shown() - before, 5, 0.1, "the Help menu to open")
        p.key("a")
        return p.wait_for_window(xdriver.ABOUT_CAPTION, 10)

    def settled_frame(self, window: str) -> Rect:
        """The frame once it has stopped moving (the window manager and the
        program may each still place it right after it appears)."""
        state = {"last": None}

        def still():
            now = frame_of(window)
            same = now == state["last"]
            state["last"] = now
            return now if same else None
        return poll(still, 10, 0.25, "the window to stay in one place")

    def close_about(self, about: str) -> None:
        p = self.program
        p.focus(about)
        p.key("Return")
        p.wait_window_gone(about, xdriver.ABOUT_CAPTION, 10)
        p.focus()

    @scenario
    def test_windows_are_centred_frame_included(self):
        area = work_area()
        opened = []

        def about_again():
            self.close_about(opened[-1])
            return self.open_about()
        rows = [("main window", lambda: self.program.window),
                ("About window", self.open_about),
                ("About window shown again", about_again)]
        for label, window_of in rows:
            with self.case(window=label):
                window = window_of()
                opened.append(window)
                frame = self.settled_frame(window)
                extents = numbers(window_property(window, "_NET_FRAME_EXTENTS"))
                self.assertGreater(extents[2], 0, "the window manager gave the window a title bar")
                (fx, fy), (ax, ay) = frame.centre, area.centre
                self.assertLessEqual(abs(fx - ax), 1, f"{label} frame {frame} in {area}")
                self.assertLessEqual(abs(fy - ay), 1, f"{label} frame {frame} in {area}")

    @scenario
    def test_frame_offers_no_maximize_and_no_resize(self):
        p = self.program
        main = p.window
        for label, window_of in (("main window", lambda: main), ("About window", self.open_about)):
            with self.case(allowed_actions=label):
                window = window_of()
                allowed = atoms(window, "_NET_WM_ALLOWED_ACTIONS")
                # The frame offers what it should, so the absences mean something.
                self.assertTrue({"_NET_WM_ACTION_CLOSE", "_NET_WM_ACTION_MOVE"} <= allowed,
                                f"allowed actions: {sorted(allowed)}")
                self.assertFalse(MAXIMIZE & allowed, f"maximize offered: {sorted(allowed)}")
                self.assertNotIn(RESIZE, allowed)
                if window != main:
                    self.close_about(window)

        # What a person (or a pager) does to maximize or resize a window. The
        # help viewer, an ordinary resizable window, shows that each attempt
        # works; on the main window none may change anything.
        def corner_drag(w):
            f = frame_of(w)
            drag((f.x + f.width - 1, f.y + f.height - 1), (-150, -120))

        def alt_right_drag(w):
            f = frame_of(w)
            drag((f.x + f.width - 40, f.y + f.height - 40), (-150, -120), button=3,
                 modifier="alt")

        def maximize_request(w):
            run_e2e.SERVER.tool(sys.executable, os.path.join(HERE, "xhelper.py"), "maximize", w)

        def maximize_button_click(w):
            # The title layout is icon, label, iconify, maximize, close: three
            # buttons when maximize is drawn.
            buttons = title_buttons(w)
            if len(buttons) == 3:
                mouse("mousemove", *map(str, buttons[1]), "click", "1")
            else:
                self.assertEqual(len(buttons), 2, f"title bar buttons: {buttons}")

        def title_double_click(w):
            mouse("mousemove", *map(str, title_bar_point(w)))
            mouse("click", "--repeat", "2", "--delay", "80", "1")

        attempts = [("drag of the bottom right corner", corner_drag),
                    ("Alt + right button drag", alt_right_drag),
                    ("click on the maximize button", maximize_button_click),
                    ("double click on the title bar (restores the viewer)", title_double_click),
                    ("maximize request", maximize_request)]
        p.key("F1")
        viewer = p.wait_for_window("Kaldrome Help", 10)
        for label, attempt in attempts:
            with self.case(resizable_viewer=label):
                before = self.settled_frame(viewer)
                attempt(viewer)
                poll(lambda: frame_of(viewer) != before, 5, 0.1, f"the viewer to change ({label})")
        p.focus(viewer)
        p.key("Escape")
        p.wait_window_gone(viewer, "Kaldrome Help", 10)

        p.focus()
        for label, attempt in attempts:
            with self.case(main_window=label):
                before = self.settled_frame(main)
                attempt(main)
                time.sleep(0.8)  # time for the window manager to act, were it to
                after = self.settled_frame(main)
                self.assertEqual((after.width, after.height), (before.width, before.height))
                self.assertFalse(MAXIMIZED & atoms(main, "_NET_WM_STATE"), "window maximized")
                self.assertTrue(p.alive())
        # The main window can still be moved by its title bar.
        with self.case(main_window="drag of the title bar (moves it)"):
            before = self.settled_frame(main)
            drag(title_bar_point(main), (-120, -90))
            after = self.settled_frame(main)
            self.assertEqual((after.x, after.y), (before.x - 120, before.y - 90))
            self.assertEqual((after.width, after.height), (before.width, before.height))

    @scenario
    def test_close_button_ends_the_program(self):
        rows = [("idle", False), ("during a run", True)]
        for label, running in rows:
            with self.case(when=label):
                p = self.program if not running else self.start_program()
                if running:
                    self.start_long_run(p)
                buttons = title_buttons(p.window)
                self.assertTrue(buttons, "no buttons found on the title bar")
                x, y = buttons[-1]  # the title layout ends with the close button
                started = time.monotonic()
                mouse("mousemove", str(x), str(y), "click", "1")
                status = p.wait_exit(10)
                took = time.monotonic() - started
                self.assertEqual(status, 0, f"exit status; stderr: {p.stderr_text()[-500:]}")
                self.assertLess(took, 5.0, "the program must end at once, without a question")

    @scenario
    def test_about_window_stays_on_top_of_the_main_window(self):
        p = self.program
        main = int(p.window)

        def raises(other: str) -> list:
            return [
                ("activation request for the main window",
                 lambda: run_e2e.SERVER.tool("xdotool", "windowactivate", p.window, check=False)),
                ("click on the main window's title bar",
                 lambda: mouse("mousemove", *map(str, title_bar_point(p.window, frame_of(other))),
                               "click", "1")),
            ]

        def above(upper: int, lower: int) -> bool:
            order = stacking()
            return upper in order and lower in order and order.index(upper) > order.index(lower)

        # The help viewer, a window of its own, goes behind the main window when
        # the main window is raised: these actions do raise it.
        p.key("F1")
        viewer = int(p.wait_for_window("Kaldrome Help", 10))
        # Centred, the viewer may hide the whole main window: moved to a corner, it
        # leaves part of the main window's title bar free to click.
        self.settled_frame(str(viewer))
        run_e2e.SERVER.tool("xdotool", "windowmove", str(viewer), "0", "0", check=False)
        for label, action in raises(str(viewer)):
            with self.case(help_viewer=label):
                self.settled_frame(str(viewer))
                run_e2e.SERVER.tool("xdotool", "windowactivate", str(viewer), check=False)
                poll(lambda: above(viewer, main), 5, 0.1, "the viewer to come to the front")
                action()
                poll(lambda: above(main, viewer), 5, 0.1, "the main window to come to the front")
        p.focus(str(viewer))
        p.key("Escape")
        p.wait_window_gone(str(viewer), "Kaldrome Help", 10)

        # The About window stays above the main window whatever is done to it. It
        # has no minimize button, but openbox offers one all the same: minimized,
        # it would leave the main window blocked with nothing to answer, and no
        # taskbar to bring it back. It comes back at once.
        about = self.open_about()
        self.settled_frame(about)
        minimize = [
            ("click on the minimize button the frame offers",
             lambda: mouse("mousemove", *map(str, title_buttons(about)[0]), "click", "1")),
            ("minimize request",
             lambda: run_e2e.SERVER.tool("xdotool", "windowminimize", about, check=False)),
        ]
        for label, action in raises(about) + minimize:
            with self.case(about=label):
                action()
                time.sleep(0.5)
                self.assertTrue(above(int(about), main),
                                f"stacking bottom to top: {[hex(w) for w in stacking()]}")
                self.assertIn(about, p.find_windows(xdriver.ABOUT_CAPTION))
                self.assertNotIn("_NET_WM_STATE_HIDDEN", atoms(about, "_NET_WM_STATE"))
        # Continue still closes it, and the main window is usable again.
        self.close_about(about)
        self.run_to_completion(12)
        self.assert_document(12, self.copy())


# ---------------------------------------------------------------- running

def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", required=True, help="the kaldrome program to test")
    parser.add_argument("--keep", action="store_true", help="keep the work folder after success")
    parser.add_argument("--limit", type=float, default=300, help="time limit of the suite (s)")
    parser.add_argument("-k", dest="patterns", action="append", default=[],
                        help="run only the scenarios whose name contains this text")
    args = parser.parse_args(argv)

    run_e2e.BINARY = os.path.abspath(args.binary)
    if not os.access(run_e2e.BINARY, os.X_OK):
        print(f"wm: the program {run_e2e.BINARY} does not exist or cannot run", file=sys.stderr)
        print("0 passed, 1 failed")
        return 1
    missing = xdriver.missing_tools(WM_TOOLS)
    if not os.path.exists(OPENBOX_RC):
        missing.append(f"{OPENBOX_RC} (package openbox)")
    if missing:
        print("wm: missing: " + ", ".join(missing) + " (scripts/setup test installs them)",
              file=sys.stderr)
        print("0 passed, 1 failed")
        return 1

    artifacts = run_e2e.ARTIFACTS = tempfile.mkdtemp(prefix="kaldrome-wm-")
    print(f"wm: work folder and failure screenshots: {artifacts}", flush=True)

    loader = unittest.TestLoader()
    if args.patterns:
        loader.testNamePatterns = [f"*{p}*" for p in args.patterns]
    return run_e2e.run_suite("wm", loader.loadTestsFromTestCase(WindowManagerScenarios),
                             args.limit, args.keep,
                             companion=lambda server: WindowManager(server, artifacts))


if __name__ == "__main__":
    sys.exit(main())
