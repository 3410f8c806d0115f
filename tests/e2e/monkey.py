#!/usr/bin/env python3
"""A seeded monkey: random keys and clicks against the real kaldrome program in Xvfb.

Usage: python3 tests/e2e/monkey.py --binary PATH [--seed S|date|random] [--steps K]
                                   [--seconds T] [--keep]

Every step draws an action from a weighted table with a generator seeded by
--seed, and a small model of the window says what the action must do. The same
seed and program give the same steps, so "--seed S --steps K" replays a failure
up to its step K. After every step the window must answer a _NET_WM_PING within
LIVENESS_S and the program must still run (unless the step ended it), with no
sanitizer report. A finished run must show and copy what oracle.py works out, a
refused key must beep once and change nothing. The program's HOME is a
temporary folder, and the save dialog is only ever accepted with a path inside
it; at the end nothing but the exports may have appeared there.
The closing line reads "1 passed, 0 failed" or "0 passed, 1 failed".
"""

from __future__ import annotations

import argparse
import datetime
import os
import random
import re
import shutil
import signal
import sys
import tempfile
import time
from dataclasses import dataclass

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import oracle  # noqa: E402
import xdriver  # noqa: E402
from run_e2e import describe_difference, progress, run_timeout  # noqa: E402
from xdriver import DriverError, poll  # noqa: E402

LIVENESS_S = 20.0      # a window that does not answer a ping for this long is hung
SMALL_MAX = 20000      # runs up to this N are awaited (about 1.5 s in the sanitized build)
LONG_MIN = 400000      # runs from this N are stopped: they take minutes there
RUN_STEPS_MAX = 12     # steps inside one long run before it is stopped

# Spots where a click does nothing: the question's left, middle and right, and the clocks.
BLANK_SPOTS = [("question", (0.05, 0.5)), ("question", (0.5, 0.5)), ("question", (0.95, 0.5)),
               ("elapsed", (0.5, 0.5)), ("estimate", (0.5, 0.5))]
HELP_CAPTION = "Kaldrome Help"
MESSAGE_CAPTION = "Kaldrome"
SENTINEL = "monkey sentinel"
DIGITS_PENDING = "Number of digits....."

# Menus: items by access key, in menu order; the result commands need a result.
MENUS = {
    "File": {"f": "create", "u": "setup", "p": "print"},
    "Edit": {"c": "copy"},
    "Help": {"h": "help", "w": "web", "a": "about"},
    "popup": {"f": "create", "c": "copy", "p": "print", "u": "setup", "h": "help", "a": "about",
              "w": "web"},
}
BAR = ["File", "Edit", "Help"]
RESULT_COMMANDS = {"create", "copy", "print"}
SHORTCUTS = {"ctrl+f": "create", "ctrl+p": "print", "ctrl+u": "setup", "ctrl+c": "copy",
             "F1": "help"}

REFUSED_KEYS = ["a", "q", "x", "Z", "e", "E", "space", "minus", "plus", "period", "comma", "slash",
                "equal", "apostrophe", "exclam", "numbersign", "asterisk", "bracketleft", "Escape"]
# Combinations that must beep and change nothing: no shortcut of an enabled command.
REFUSED_COMBINATIONS = ["ctrl+v", "ctrl+x", "ctrl+a", "ctrl+z", "ctrl+y", "ctrl+k",
                        "ctrl+BackSpace", "shift+Insert"]
# Texts pasted through the number box's own menu: those that fit go in, the others not at all.
PASTES = ["7", "250", "0042", "1234567", "99999999"]


class MonkeyFailure(AssertionError):
    """The program did something the model says it must not."""


@dataclass
class Model:
    """What the window must be in after the steps so far."""
    text: str | None = ""           # the number box's text; None once unknown
    selected: bool | None = False   # its whole text is selected; None: unknown
    focus: str = "txtN"             # txtN, stop or unknown
    result: int | None = None       # N whose result the result commands export
    running: int | None = None      # N of the long run in progress
    run_steps: int = 0
    menu: str | None = None         # File, Edit, Help, popup, or bar (the menu bar's Alt mode)
    bar_index: int = 0              # the highlighted title in the Alt mode
    first_item: bool = True         # the open menu highlights its first enabled item
    help_open: bool = False
    active: str = "main"            # the window with the X input focus: main or help


class Monkey:
    def __init__(self, args, server: xdriver.XServer, artifacts: str):
        self.seed = args.seed
        self.rng = random.Random(args.seed)
        self.binary = args.binary
        self.server = server
        self.bells = server.bells
        self.pinger = xdriver.Pinger(server)
        self.artifacts = artifacts
        self.home = os.path.join(artifacts, "home")
        self.exports_dir = os.path.join(self.home, "exports")
        self.sanitizer_dir = os.path.join(artifacts, "sanitizer")
        bin_dir = os.path.join(artifacts, "bin")
        for folder in (self.exports_dir, self.sanitizer_dir, bin_dir):
            os.makedirs(folder)
        # A FIFO in the folder the save dialog opens in: a dialog that reads
        # what it lists would block on it.
        os.mkfifo(os.path.join(self.home, "pipe"))
        # The web link reaches this stand-in for the desktop's opener.
        self.web_log = os.path.join(artifacts, "opened.txt")
        with open(os.path.join(bin_dir, "xdg-open"), "w") as f:
            f.write(f'#!/bin/sh\necho "$*" >> "{self.web_log}"\n')
        os.chmod(os.path.join(bin_dir, "xdg-open"), 0o755)
        self.env = {
            # The factor loop for every N: a long run lasts minutes here, as the
            # model of a run that is stopped needs (the tree path's 999,999! would
            # end in seconds, on its own).
            "KALDROME_ENGINE": "loop",
            "HOME": self.home,
            "PATH": bin_dir + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin"),
            "ASAN_OPTIONS": f"log_path={self.sanitizer_dir}/asan:detect_leaks=1",
            "LSAN_OPTIONS": f"suppressions={os.path.dirname(HERE)}/lsan.supp:print_suppressions=0",
            "UBSAN_OPTIONS": f"log_path={self.sanitizer_dir}/ubsan:print_stacktrace=1",
        }
        self.expected_bells = self.bells.value()
        self.exports: dict[str, bytes] = {}
        self.step = 0
        self.lines: list[str] = []
        self.last_click = 0.0
        self.program: xdriver.Program | None = None
        self.model = Model()

    # ------------------------------------------------------------ bookkeeping

    def log(self, text: str) -> None:
        line = f"seed {self.seed} step {self.step}: {text}"
        self.lines.append(line)
        print(line, flush=True)

    def fail(self, message: str):
        raise MonkeyFailure(message)

    # ------------------------------------------------------------ the program

    def start_program(self) -> None:
        self.program = xdriver.Program(self.server, self.binary, self.home, env=self.env)
        self.program.start(timeout=60)
        self.model = Model()

    @property
    def p(self) -> xdriver.Program:
        return self.program

    def settle(self) -> None:
        """Liveness probe and barrier: two pings in a row are answered only once
        the event loop has handled everything sent before them."""
        for _ in range(2):
            if not self.p.alive():
                self.fail(f"the program ended (status {self.p.proc.returncode}) "
                          "though no step asked it to")
            if self.pinger.ping(self.p.window, LIVENESS_S) is None:
                self.fail(f"the window did not answer a ping within {LIVENESS_S:.0f} s")

    def sanitizer_reports(self) -> str:
        reports = []
        for name in sorted(os.listdir(self.sanitizer_dir)):
            with open(os.path.join(self.sanitizer_dir, name), errors="replace") as f:
                reports.append(f.read())
        err = self.p.stderr_text() if self.p else ""
        for marker in ("runtime error:", "Sanitizer", "assertion failed"):
            if marker in err:
                reports.append(err[err.index(marker) - 200:][:4000])
        return "\n".join(r for r in reports if r.strip())

    def check_step(self) -> None:
        self.settle()
        if self.bells.value() > self.expected_bells:
            self.fail(f"{self.bells.value() - self.expected_bells} bell(s) that no step asked for "
                      "(in this step or the one before)")
        reports = self.sanitizer_reports()
        if reports:
            self.fail("sanitizer report:\n" + reports[:6000])

    def expect_bells(self, count: int, what: str, timeout: float = 10.0) -> None:
        self.expected_bells += count
        try:
            self.bells.wait_for(self.expected_bells, timeout)
        except DriverError:
            self.fail(f"{what}: expected {count} bell(s), heard "
                      f"{self.bells.value() - self.expected_bells + count}")

    # ------------------------------------------------------------ input

    def focus_main(self) -> None:
        if self.model.active != "main":
            self.p.focus()
            self.model.active = "main"

    def keys(self, *keys: str) -> None:
        self.focus_main()
        self.p.key(*keys)

    def click(self, what, button: int = 1, at: tuple[float, float] = (0.5, 0.5)) -> None:
        """Clicks a control (or an element found in the tree) at a point given as
        fractions of its size, then parks the pointer off the window."""
        # Two clicks on one spot inside the double-click time would be one double click.
        time.sleep(max(0.0, self.last_click + 0.6 - time.monotonic()))
        if isinstance(what, str):
            self.focus_main()
            self.raise_main()
        self.p.click(what, button, at, park=True)
        self.last_click = time.monotonic()

    def inside(self, right: float = 0.95) -> tuple[float, float]:
        """A random point well inside a control, short of `right` of its width."""
        return self.rng.uniform(0.05, right), self.rng.uniform(0.15, 0.85)

    def visible(self) -> set[str]:
        out = self.server.tool("xdotool", "search", "--onlyvisible", "--pid",
                               str(self.p.proc.pid), check=False)
        return set(out.split())

    def wait_windows(self, predicate, what: str, timeout: float = 10.0) -> set[str]:
        return poll(lambda: (lambda v: v if predicate(v) else None)(self.visible()), timeout,
                    0.1, what)

    # ------------------------------------------------------------ reading the window

    def raise_main(self) -> None:
        # Without a window manager nothing raises a window that gets the focus;
        # the help viewer, when open, may lie over the main window.
        if self.model.help_open:
            self.server.tool("xdotool", "windowraise", self.p.window)

    def check_labels(self, n: int, finished: bool) -> None:
        """The number and digit labels, the percent bar and a line of the result, as
        a screen reader finds them."""
        number = f"{n:,}!="
        digits = f"Number of digits: {oracle.digit_count(n):,}" if finished else DIGITS_PENDING
        shown = (self.p.read("number label")["name"], self.p.read("digit label")["name"])
        if shown != (number, digits):
            self.fail(f"the labels read {shown}; expected {(number, digits)}")
        if finished:
            # A line from the middle of the result, from the result box's text.
            k = (len(oracle.factorial_groups(n)) - 1) // 10
            line = self.p.tree.text(self.p.control("result box"), 47 * k, 47 * k + 47)
            if line != oracle.display_line(n, k):
                self.fail(f"line {k} of the result box reads {line!r}")
        if self.p.showing("percent bar") == finished:
            self.fail("the percent bar is " + ("still shown after the run finished" if finished
                                               else "not shown during the run"))

    def run_advances(self, timeout: float) -> bool:
        """True once the clocks or the percent change within `timeout`."""
        before = progress(self.p)
        try:
            poll(lambda: progress(self.p) != before, timeout, 0.3, "the run to advance")
            return True
        except DriverError:
            return False

    def run_stands_still(self, seconds: float = 1.3) -> bool:
        before = progress(self.p)
        time.sleep(seconds)
        return progress(self.p) == before

    # ------------------------------------------------------------ the number box

    def box_ready(self) -> bool:
        m = self.model
        return m.focus == "txtN" and m.text is not None and m.selected is not None

    def prepare_box(self) -> None:
        """A click in the result box gives the number box the focus, its text selected."""
        if not self.box_ready():
            self.log("  click in the result box to reach the number box")
            self.click_result_box()

    def typed(self, key: str) -> None:
        """What one key does to the box: "00" and a text that is not a number are
        selected first, so the key replaces them."""
        m = self.model
        if m.text in ("", "00"):
            m.selected = True
        if key.isdigit():
            m.text = key if m.selected else (m.text + key if len(m.text) < 6 else m.text)
        elif key == "BackSpace":
            m.text = "" if m.selected else m.text[:-1]
        elif key == "Delete" and m.selected:
            m.text = ""
        m.selected = False

    def type_digits(self, digits: str) -> None:
        self.focus_main()
        self.p.type_text(digits)
        for d in digits:
            self.typed(d)

    def enter_safe(self) -> bool:
        m = self.model
        if not self.box_ready():
            return False
        if m.text in ("", "00") or m.running is not None:
            return True
        return int(m.text) <= SMALL_MAX or int(m.text) >= LONG_MIN

    def press_enter(self) -> None:
        m = self.model
        text = m.text
        self.keys("Return")
        if text in ("", "00"):
            m.selected = True  # nothing runs; the box's text is selected
        elif m.running is not None:
            self.expect_bells(1, "Enter during a run (one run at a time)")
        elif int(text) <= SMALL_MAX:
            self.finished_run(int(text))
        else:
            self.long_run_started(int(text))

    def finished_run(self, n: int) -> None:
        m = self.model
        self.expect_bells(1, f"the run of {n}", timeout=run_timeout(n) * 3)
        m.result, m.focus, m.selected = n, "txtN", True
        self.settle()
        self.check_labels(n, finished=True)

    def long_run_started(self, n: int) -> None:
        m = self.model
        m.running, m.run_steps, m.result, m.focus, m.selected = n, 0, None, "stop", False
        poll(lambda: self.run_advances(1.0), 30, 0.1, f"the run of {n} to show its progress")
        self.check_labels(n, finished=False)

    def stopped(self, how: str) -> None:
        m = self.model
        m.running, m.focus, m.selected = None, "txtN", True
        self.settle()
        if not self.run_stands_still():
            self.fail(f"the run went on after {how}")

    # ------------------------------------------------------------ actions

    def weights(self) -> dict:
        m = self.model
        if m.menu == "bar":
            return {"alt_mode_key": 1}
        if m.menu:
            return {"menu_letter": 5, "menu_escape": 3, "menu_move": 2,
                    "menu_return": 1 if m.first_item and self.first_enabled() else 0,
                    "menu_click_away": 1}
        running = m.running is not None
        if running and m.run_steps >= RUN_STEPS_MAX:
            return {"stop": 1}
        return {
            "enter_number": 0 if running else 8,
            "type_digits": 5, "erase": 2, "enter": 5 if self.enter_safe() else 0,
            "refused_key": 6, "refused_combination": 3, "copy_shortcut": 4,
            "command_shortcut": 3, "open_menu": 5, "alt_alone": 1.5,
            "click_result": 3, "right_click_result": 3, "middle_click_result": 1,
            "click_number_box": 2, "click_nothing": 1, "tab": 1, "paste": 1,
            "stop": 5 if running else 1, "exit": 1 if running else 0.3,
            "watch_run": 2 if running else 0,
            "enter_on_stop": 1 if running and m.focus == "stop" else 0,
            "alt_and_switch": 1 if running else 0,
            "help_keys": 1 if m.help_open else 0, "close_help": 1.5 if m.help_open else 0,
        }

    def do_step(self) -> None:
        self.step += 1
        table = self.weights()
        names = [name for name, w in table.items() if w > 0]
        name = self.rng.choices(names, [table[n] for n in names])[0]
        getattr(self, "act_" + name)()
        if self.model.running is not None:
            self.model.run_steps += 1
        self.check_step()

    def pick_n(self) -> int:
        r = self.rng.random()
        if r < 0.15:
            return self.rng.randrange(LONG_MIN, 1000000)
        if r < 0.3:
            return self.rng.choice([0, 1, 2, 3, 4, 5, 7, 12, 41, 100, 1000])
        if r < 0.75:
            return self.rng.randrange(0, 300)
        if r < 0.95:
            return self.rng.randrange(300, 3000)
        return self.rng.randrange(3000, SMALL_MAX + 1)

    def act_enter_number(self) -> None:
        n = self.pick_n()
        digits = ("0" if self.rng.random() < 0.1 and n < 10000 else "") + str(n)
        self.log(f"type {digits} and Enter")
        self.prepare_box()
        if not self.model.selected and self.model.text:
            self.keys(*["BackSpace"] * len(self.model.text))
            for _ in self.model.text:
                self.typed("BackSpace")
        self.type_digits(digits)
        self.press_enter()

    def act_type_digits(self) -> None:
        digits = "".join(self.rng.choice("0123456789") for _ in range(self.rng.randint(1, 3)))
        self.log(f"type {digits}")
        self.prepare_box()
        self.type_digits(digits)

    def act_erase(self) -> None:
        key = self.rng.choice(["BackSpace", "BackSpace", "Delete"])
        self.log(key)
        self.prepare_box()
        self.keys(key)
        self.typed(key)

    def act_enter(self) -> None:
        self.log(f"Enter with {self.model.text!r} in the box")
        self.press_enter()

    def act_refused_key(self) -> None:
        key = self.rng.choice(REFUSED_KEYS)
        self.log(f"{key} (refused)")
        self.keys(key)
        self.expect_bells(1, f"the refused key {key}")

    def act_refused_combination(self) -> None:
        key = self.rng.choice(REFUSED_COMBINATIONS)
        self.log(f"{key} (refused)")
        self.keys(key)
        self.refused(key)

    def refused(self, key: str) -> None:
        """A combination the window must refuse: a beep, and the box unchanged."""
        self.expect_bells(1, f"the refused combination {key}")

    def act_paste(self) -> None:
        """Paste through the number box's own menu, the one way round the key filter."""
        m = self.model
        text = self.rng.choice(PASTES)
        self.log(f"paste {text} through the number box's menu")
        self.click_result_box()  # the box's whole text selected: a paste replaces it
        self.p.set_clipboard_sentinel(text)
        before = self.visible()
        self.click("number box", button=3)
        self.wait_windows(lambda v: v - before, "the number box's menu to open")
        self.p.key("p")
        self.wait_windows(lambda v: v <= before, "the number box's menu to close")
        m.focus, m.selected = "txtN", None
        if len(text) <= 6:
            m.text, m.selected = text, False
        else:
            self.expect_bells(1, f"a paste of {len(text)} digits")

    def act_copy_shortcut(self) -> None:
        self.log("Ctrl+C")
        self.copy(lambda: self.keys("ctrl+c"), shortcut=True)

    def act_command_shortcut(self) -> None:
        key = self.rng.choice(["ctrl+f", "ctrl+p", "ctrl+u", "F1"])
        self.log(key)
        command = SHORTCUTS[key]
        if command in RESULT_COMMANDS and not self.enabled(command):
            self.keys(key)
            self.refused(key)
        else:
            self.command(command, lambda: self.keys(key))

    def act_open_menu(self) -> None:
        name = self.rng.choice(BAR)
        self.log(f"Alt+{name[0]}")
        self.open_menu(name, lambda: self.keys("alt+" + name[0].lower()))

    def act_alt_alone(self) -> None:
        self.log("Alt (the menu bar's keyboard mode)")
        self.keys("alt")
        # The menus take no typing: the number box keeps its text and selection
        # through them, whether they are opened by the keyboard or the mouse.
        self.model.menu, self.model.bar_index = "bar", 0

    def act_alt_mode_key(self) -> None:
        m = self.model
        key = self.rng.choice(["Escape", "alt", "f", "e", "h", "Left", "Right", "Down"])
        self.log(f"{key} in the menu bar's keyboard mode")
        if key in ("Escape", "alt"):
            self.p.key(key)
            m.menu = None
        elif key in ("Left", "Right"):
            self.p.key(key)
            m.bar_index = (m.bar_index + (1 if key == "Right" else -1)) % len(BAR)
        else:
            name = BAR[m.bar_index] if key == "Down" else {"f": "File", "e": "Edit", "h": "Help"}[key]
            self.open_menu(name, lambda: self.p.key(key))

    def open_menu(self, name: str, press) -> None:
        before = self.visible()
        press()
        self.wait_windows(lambda v: v - before, f"the {name} menu to open")
        self.model.menu, self.model.first_item = name, name != "popup"
        self.menu_base = before

    def close_menu(self) -> None:
        self.wait_windows(lambda v: v <= self.menu_base, "the menu to close")

    def beside_menus(self) -> tuple[str, tuple[float, float]]:
        """A blank spot of the main window that no open menu covers."""
        menus = [self.p.geometry(w) for w in self.visible() - self.menu_base]
        for what, (fx, fy) in self.rng.sample(BLANK_SPOTS, len(BLANK_SPOTS)):
            x, y, w, h = self.p.read(what)["extents"]
            x, y = x + w * fx, y + h * fy
            if not any(g.x - 4 <= x < g.x + g.width + 4 and g.y - 4 <= y < g.y + g.height + 4
                       for g in menus):
                return what, (fx, fy)
        self.fail("the open menu covers every blank spot of the window")

    def first_enabled(self) -> str | None:
        return next((c for c in MENUS[self.model.menu].values() if self.enabled(c)), None)

    def enabled(self, command: str) -> bool:
        return command not in RESULT_COMMANDS or (self.model.result is not None
                                                  and self.model.running is None)

    def act_menu_letter(self) -> None:
        m = self.model
        items = MENUS[m.menu]
        letter = self.rng.choice(list(items) + ["q"])
        command = items.get(letter)
        self.log(f"{letter} in the {m.menu} menu ({command or 'no item'})")
        if command is None or not self.enabled(command):
            self.p.key(letter)  # nothing runs; the menu stays open
            if command is not None:
                # The toolkit takes the disabled item as the current one and drops it,
                # so nothing is current any more, though the old highlight still shows.
                m.first_item = False
            return
        m.menu = None
        self.command(command, lambda: self.p.key(letter))

    def act_menu_return(self) -> None:
        command = self.first_enabled()
        self.log(f"Return in the {self.model.menu} menu ({command})")
        self.model.menu = None
        self.command(command, lambda: self.p.key("Return"))

    def act_menu_escape(self) -> None:
        m = self.model
        self.log(f"Escape in the {m.menu} menu")
        self.p.key("Escape")
        self.close_menu()
        # A menu of the menu bar closes into the bar's keyboard mode.
        m.menu, m.bar_index = (None, 0) if m.menu == "popup" else ("bar", BAR.index(m.menu))

    def act_menu_move(self) -> None:
        m = self.model
        key = self.rng.choice(["Up", "Down", "Left", "Right"])
        self.log(f"{key} in the {m.menu} menu")
        self.p.key(key)
        if key in ("Up", "Down"):
            m.first_item = False
        elif m.menu != "popup":
            m.menu = BAR[(BAR.index(m.menu) + (1 if key == "Right" else -1)) % len(BAR)]
            m.first_item = True

    def act_menu_click_away(self) -> None:
        self.log(f"click beside the open {self.model.menu} menu")
        what, at = self.beside_menus()
        self.click(what, at=at)
        self.close_menu()
        self.model.menu = None

    def click_result_box(self) -> None:
        self.click("result box", at=self.inside(0.9))  # clear of the scroll bar
        m = self.model
        m.focus, m.selected = "txtN", True

    def act_click_result(self) -> None:
        self.log("click in the result box")
        self.click_result_box()

    def act_right_click_result(self) -> None:
        self.log("right click in the result box")
        self.open_menu("popup", lambda: self.click("result box", 3, self.inside(0.9)))

    def act_middle_click_result(self) -> None:
        self.log("middle click in the result box")
        self.click("result box", 2, self.inside(0.9))

    def act_click_number_box(self) -> None:
        self.log("click at the end of the number box")
        self.click("number box", at=(0.95, 0.5))
        self.model.focus, self.model.selected = "txtN", False

    def act_click_nothing(self) -> None:
        self.log("click on the question")
        self.click("question", at=self.inside())

    def act_tab(self) -> None:
        keys = [self.rng.choice(["Tab", "shift+Tab"]) for _ in range(self.rng.randint(1, 3))]
        self.log(" ".join(keys))
        self.keys(*keys)
        self.model.focus, self.model.selected = "unknown", None

    def act_stop(self) -> None:
        m = self.model
        how = self.rng.choice(["click on Stop", "Alt+S"])
        self.log(how + (" during the run" if m.running is not None else " with no run"))
        if how == "Alt+S":
            self.keys("alt+s")
            time.sleep(0.3)  # an access key clicks its button a moment later
        else:
            self.click("Stop")
        if m.running is not None:
            self.stopped(how)
        else:
            m.focus, m.selected = "stop", False

    def act_enter_on_stop(self) -> None:
        self.log("Enter on the focused Stop button")
        self.keys("Return")
        self.stopped("Enter on Stop")

    def act_watch_run(self) -> None:
        self.log("watch the run advance")
        if not self.run_advances(20.0):
            self.fail("the run stands still: no clock or percent bar change in 20 s")

    def act_alt_and_switch(self) -> None:
        self.log("Alt, then to the help viewer and back")
        if not self.model.help_open:
            self.log("  F1 to have the help viewer")
            self.help_viewer(lambda: self.keys("F1"))
        self.keys("alt")
        # Where the focus returns, and with what selected, is the window's business.
        self.model.focus, self.model.selected = "unknown", None
        self.p.focus(self.p.find_windows(HELP_CAPTION)[-1])
        self.settle()
        self.p.focus()
        # Leaving the window ends the menu bar's keyboard mode, and with it the pause.
        if not self.run_advances(5.0):
            self.fail("the run stayed paused after Alt and a switch to another window")

    def act_exit(self) -> None:
        how = self.rng.choice(["Alt+X", "click on Exit", "close box"])
        self.log(how + (" during the run" if self.model.running is not None else ""))
        self.exit_program(how)
        self.start_program()

    def exit_program(self, how: str) -> None:
        if how == "Alt+X":
            self.keys("alt+x")
        elif how == "click on Exit":
            self.click("Exit")
        else:
            self.server.tool(sys.executable, os.path.join(HERE, "xhelper.py"), "close",
                             self.p.window)
        try:
            status = self.p.wait_exit(30)
        except DriverError:
            self.fail(f"{how}: the program was still running 30 s later")
        reports = self.sanitizer_reports()
        if status != 0 or reports:
            self.fail(f"{how}: exit status {status}\n{reports[:6000]}")

    def act_help_keys(self) -> None:
        keys = [self.rng.choice(["Tab", "shift+Tab", "Return", "Next", "Prior", "Down", "alt+b",
                                 "alt+f", "alt+c", "End", "Home"])
                for _ in range(self.rng.randint(1, 4))]
        self.log("in the help viewer: " + " ".join(keys))
        viewer = self.p.find_windows(HELP_CAPTION)[-1]
        self.p.focus(viewer)
        self.model.active = "help"
        self.p.key(*keys)
        self.settle()
        if viewer not in self.p.find_windows(HELP_CAPTION):
            self.fail("the help viewer went away (or lost its title) while it was read")

    def act_close_help(self) -> None:
        self.log("Escape in the help viewer")
        viewer = self.p.find_windows(HELP_CAPTION)[-1]
        self.p.focus(viewer)
        self.p.key("Escape")
        self.p.wait_window_gone(viewer, HELP_CAPTION, 10)
        self.model.help_open = False
        self.p.focus()
        self.model.active = "main"

    # ------------------------------------------------------------ commands

    def command(self, name: str, press) -> None:
        {"copy": self.copy, "create": self.save_dialog, "print": self.message_box,
         "setup": self.message_box, "help": self.help_viewer, "web": self.web_link,
         "about": self.about_window}[name](press)

    def copy(self, press, shortcut: bool = False) -> None:
        m = self.model
        self.p.set_clipboard_sentinel(SENTINEL)
        press()
        if self.enabled("copy"):
            try:
                got = self.p.wait_clipboard_change(SENTINEL.encode(), 20)
            except DriverError:
                got = None
            expected = oracle.document(m.result).encode("ascii")
            if got != expected:
                self.fail(f"Copy of {m.result}!: {describe_difference(expected, got)}")
            return
        # Copy is disabled: the shortcut must leave the clipboard alone.
        self.settle()
        got = self.p.read_clipboard()
        if got != SENTINEL.encode():
            self.fail(f"Ctrl+C while Copy is disabled changed the clipboard to {got!r}")
        if shortcut:
            self.refused("ctrl+c")

    def message_box(self, press) -> None:
        press()
        box = self.p.wait_for_window(MESSAGE_CAPTION, 15)
        self.p.focus(box)
        how = self.rng.choice(["Return", "space", "Escape", "close box"])
        self.log(f"  the no-printer message: {how}")
        self.close_dialog(box, MESSAGE_CAPTION, how)

    def close_dialog(self, window: str, caption: str, how: str) -> None:
        if how == "close box":
            self.server.tool(sys.executable, os.path.join(HERE, "xhelper.py"), "close", window)
        else:
            self.p.key(how)
        self.p.wait_window_gone(window, caption, 15)
        self.p.focus()
        self.model.active = "main"

    def about_window(self, press) -> None:
        m = self.model
        press()
        about = self.p.wait_for_window(xdriver.ABOUT_CAPTION, 15)
        self.p.focus(about)
        window = re.escape(xdriver.ABOUT_CAPTION)
        if m.running is not None and self.rng.random() < 0.3:
            self.log("  the run holds while About is open")
            if not self.run_stands_still():
                self.fail("the run went on while the About window was open")
        if self.rng.random() < 0.3:
            # Continue has the focus: past the text, Tab reaches the link.
            how = self.rng.choice(["click", "Tab, Tab and Enter", "Tab, Tab and Space"])
            self.log(f"  the link picture: {how}")
            link = self.p.tree.find("link", "Visit Us", window)
            press = {"click": lambda: self.click(link),
                     "Tab, Tab and Enter": lambda: self.p.key("Tab", "Tab", "Return"),
                     "Tab, Tab and Space": lambda: self.p.key("Tab", "Tab", "space")}[how]
            self.web_link(press)
            self.p.focus(about)
            if how != "click":
                self.p.key("shift+Tab", "shift+Tab")  # back to Continue
        how = self.rng.choice(["Return", "space", "Escape", "alt+c", "close box", "click"])
        self.log(f"  close the About window: {how}")
        if how == "click":
            self.click(self.p.tree.find("push button", "Continue", window))
            self.p.wait_window_gone(about, xdriver.ABOUT_CAPTION, 15)
            self.p.focus()
            self.model.active = "main"
        else:
            self.close_dialog(about, xdriver.ABOUT_CAPTION, how)
        if m.running is not None and not self.run_advances(20.0):
            self.fail("the run did not go on after the About window closed")

    def help_viewer(self, press) -> None:
        press()
        self.p.wait_for_window(HELP_CAPTION, 15)
        self.model.help_open, self.model.active = True, "help"

    def web_link(self, press) -> None:
        def opened() -> list[str]:
            try:
                with open(self.web_log) as f:
                    return f.read().splitlines()
            except FileNotFoundError:
                return []
        before = len(opened())
        press()
        poll(lambda: any(line.endswith("/Products.htm") for line in opened()[before:]), 15, 0.1,
             "the web command to hand the products page to the desktop")

    def save_dialog(self, press) -> None:
        m = self.model
        if self.rng.random() < 0.2:
            self.p.set_clipboard_sentinel(SENTINEL)
        press()
        dialog = self.p.wait_for_window(xdriver.SAVE_CAPTION, 20)
        self.p.focus(dialog)
        choice = self.rng.choice(["cancel", "proposed name", "save", "save", "save"])
        name = self.rng.choice(["result.txt", "plain", "n.doc", "r.rtf"])
        path = os.path.join(self.exports_dir, name)
        if choice == "cancel":
            self.log("  cancel the save dialog")
            self.p.key("Escape")
        elif choice == "proposed name":
            self.log("  copy the proposed name, then cancel")
            self.p.set_clipboard_sentinel(SENTINEL)
            self.p.focus(dialog)
            self.p.key("ctrl+a", "ctrl+c")
            got = self.p.wait_clipboard_change(SENTINEL.encode(), 15)
            if got != f"Kaldrome{m.result}".encode():
                self.fail(f"the save dialog proposed {got!r} for {m.result}!")
            self.p.key("Escape")
        else:
            answer = self.rng.choice("yn") if path in self.exports else None
            self.log(f"  save as {path}" + (f", answering {answer} to replace it" if answer else ""))
            self.p.key("ctrl+a")
            self.p.type_text(path)
            self.p.key("Return")
            if answer:
                question = self.p.wait_for_window(xdriver.SAVE_CAPTION, 15, exclude=(dialog,))
                self.p.focus(question)
                self.p.key(answer)
                self.p.wait_window_gone(question, xdriver.SAVE_CAPTION, 15)
                if answer == "n":
                    self.p.focus(dialog)
                    self.p.key("Escape")
            if answer != "n":
                self.exports[path] = oracle.file_bytes(m.result)
        self.p.wait_window_gone(dialog, xdriver.SAVE_CAPTION, 15)
        self.p.focus()
        m.active = "main"
        if path in self.exports:
            self.check_export(path, 15)

    def check_export(self, path: str, timeout: float) -> None:
        def content():
            try:
                with open(path, "rb") as f:
                    return f.read()
            except FileNotFoundError:
                return None
        try:
            poll(lambda: content() == self.exports[path], timeout, 0.1, path)
        except DriverError:
            self.fail(f"{path}: {describe_difference(self.exports[path], content())}")

    # ------------------------------------------------------------ the end

    def finish(self) -> None:
        """Closes menus, leaves by a random way, and checks what the program left in HOME."""
        m = self.model
        self.step += 1
        self.log("close the menus and exit")
        while m.menu:
            self.p.key("Escape")
            m.menu = "bar" if m.menu in BAR else None
        self.settle()
        self.exit_program(self.rng.choice(["Alt+X", "click on Exit", "close box"]))
        for path in self.exports:
            self.check_export(path, 1)
        left = []
        for folder, dirs, files in os.walk(self.home):
            rel_folder = os.path.relpath(folder, self.home)
            dirs[:] = [d for d in dirs if not (rel_folder == "." and d.startswith("xdg-"))]
            left += [os.path.normpath(os.path.join(rel_folder, f)) for f in files]
        expected = {"kaldrome.stderr", "pipe"} | {os.path.relpath(p, self.home)
                                                  for p in self.exports}
        stray = sorted(set(left) - expected)
        if stray:
            self.fail(f"the program left files in HOME that no export asked for: {stray}")


# ---------------------------------------------------------------- running

def seed_of(text: str) -> int:
    if text == "date":
        return int(datetime.datetime.now(datetime.timezone.utc).strftime("%Y%m%d"))
    if text == "random":
        return random.SystemRandom().randrange(1, 10 ** 9)
    return int(text)


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", required=True, help="the kaldrome program (sanitized build)")
    parser.add_argument("--seed", default="date", help="a number, date (today's, the default) "
                        "or random")
    parser.add_argument("--steps", type=int, help="stop after this many steps")
    parser.add_argument("--seconds", type=float, help="stop starting steps after this long")
    parser.add_argument("--keep", action="store_true", help="keep the work folder after success")
    args = parser.parse_args(argv)
    args.seed = seed_of(args.seed)
    if args.steps is None and args.seconds is None:
        args.seconds = 60
    args.binary = os.path.abspath(args.binary)
    missing = xdriver.missing_tools()
    if missing or not os.access(args.binary, os.X_OK):
        print("monkey: missing " + ", ".join(missing or [args.binary]), file=sys.stderr)
        print("0 passed, 1 failed")
        return 1

    artifacts = tempfile.mkdtemp(prefix="kaldrome-monkey-")
    replay = f"scripts/monkey --seed {args.seed} --steps {{}}"
    print(f"monkey: seed {args.seed}, work folder {artifacts}", flush=True)
    limit = (args.seconds or 3600) + 600
    state: dict = {"monkey": None}

    def report(message: str) -> None:
        monkey = state["monkey"]
        step = monkey.step if monkey else 0
        print(f"\nmonkey: FAILED at step {step} with seed {args.seed}: {message}", flush=True)
        if monkey:
            print("  the last steps:\n    " + "\n    ".join(monkey.lines[-25:]))
            if monkey.program and monkey.program.stderr_text().strip():
                print("  the program's stderr ends:\n" + monkey.program.stderr_text()[-3000:])
        shot = os.path.join(artifacts, "failure.png")
        if server.screenshot(shot):
            print(f"  screenshot: {shot}")
        print(f"  replay: {replay.format(step)}   (work folder {artifacts})")
        print("0 passed, 1 failed", flush=True)

    def out_of_time(_signum, _frame):
        report(f"the monkey itself exceeded its time limit of {limit:.0f} s")
        xdriver.cleanup()
        os._exit(1)

    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(int(limit))
    server = xdriver.XServer(artifacts)
    try:
        server.start()
        monkey = state["monkey"] = Monkey(args, server, artifacts)
        monkey.start_program()
        started = time.monotonic()
        while ((args.steps is None or monkey.step < args.steps)
               and (args.seconds is None or time.monotonic() - started < args.seconds)):
            monkey.do_step()
        monkey.finish()
    except (MonkeyFailure, DriverError) as exc:
        report(str(exc))
        return 1
    finally:
        signal.alarm(0)
        server.stop()
        xdriver.cleanup()
    took = time.monotonic() - started
    print(f"monkey: {monkey.step} steps in {took:.0f} s with seed {args.seed}")
    if not args.keep:
        shutil.rmtree(artifacts, ignore_errors=True)
    print("1 passed, 0 failed", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
