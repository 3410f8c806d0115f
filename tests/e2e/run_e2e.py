#!/usr/bin/env python3
"""End-to-end tests: the built kaldrome binary in a real X server (Xvfb).

Usage: python3 tests/e2e/run_e2e.py --binary PATH [--keep] [-k PATTERN] [--limit SECONDS]

Every scenario starts a fresh program, works it through the keyboard and the
mouse as a person would and reads the results where a person finds them: the
clipboard, the file on disk, the printed page, the screen and the bell.
Expected documents come from oracle.py (Python's math.factorial), never from
the program. Pictures of the screen are saved for every failure into the
folder printed at the start. The closing line reads "N passed, N failed,
N skipped"; the exit status is non-zero on any failure.
"""

from __future__ import annotations

import argparse
import contextlib
import functools
import itertools
import math
import os
import resource
import shutil
import signal
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import oracle  # noqa: E402
import xdriver  # noqa: E402
from xdriver import DriverError, poll  # noqa: E402

SERVER: xdriver.XServer | None = None
BINARY = ""
ARTIFACTS = ""
RESULT: "SummaryResult | None" = None

# A run long enough to be caught in the middle, on any machine this runs on,
# when the factor loop computes it (start_program).
LONG_N = 999999

# A result whose printout takes long enough to be cancelled in the middle.
LONG_PRINT_N = 300000

# How long the program waits for a print service that does not answer before
# it says so, in seconds.
PRINT_SERVICE_WAIT = 5.0

# How long a run may take before the scenario gives up on it.
def run_timeout(n: int) -> float:
    return 30.0 + n * n / 4.0e6


# ---------------------------------------------------------------- helpers

def _capture(test: unittest.TestCase, label: str) -> None:
    """Saves what the screen and the program showed when a check failed."""
    safe = "".join(c if c.isalnum() or c in "-_." else "_" for c in label)[:120]
    path = os.path.join(ARTIFACTS, f"{safe}.png")
    if SERVER and SERVER.screenshot(path):
        print(f"\n  screenshot: {path}", file=sys.stderr)
    program = getattr(test, "program", None)
    if program is not None:
        err = program.stderr_text()
        if err.strip():
            with open(os.path.join(ARTIFACTS, f"{safe}.stderr.txt"), "w") as f:
                f.write(err)


def scenario(fn):
    """Takes a picture of the screen when the scenario fails."""
    @functools.wraps(fn)
    def wrapper(self):
        try:
            return fn(self)
        except unittest.SkipTest:
            raise
        except BaseException:
            _capture(self, self.id().rsplit(".", 1)[-1])
            raise
    return wrapper


def describe_difference(expected: bytes, actual: bytes | None) -> str:
    if actual is None:
        return "nothing readable on the clipboard"
    at = next((i for i, (a, b) in enumerate(zip(expected, actual)) if a != b),
              min(len(expected), len(actual)))
    return (f"{len(actual)} bytes instead of {len(expected)}; first difference at byte {at}: "
            f"expected {expected[max(0, at - 20):at + 40]!r}, got {actual[max(0, at - 20):at + 40]!r}")


class KaldromeCase(unittest.TestCase):
    """A fresh program for every scenario; helpers that act as a person would."""

    maxDiff = 2000

    def setUp(self):
        self.program = self.start_program()

    def start_program(self, printers: bool = False, env: dict | None = None) -> xdriver.Program:
        workdir = tempfile.mkdtemp(prefix=self.id().rsplit(".", 1)[-1] + "-", dir=ARTIFACTS)
        # Every N by the factor loop, so that a run of LONG_N lasts long enough
        # to be caught in the middle; the tree path's scenarios ask for it.
        env = {"KALDROME_ENGINE": "loop", **(env or {})}
        program = xdriver.Program(SERVER, BINARY, workdir, printers=printers, env=env)
        self.addCleanup(program.stop)
        program.start()
        return program

    @property
    def bells(self) -> xdriver.BellCounter:
        return SERVER.bells

    @contextlib.contextmanager
    def case(self, **params):
        """One row of a table: a subtest with its own picture on failure."""
        with self.subTest(**params):
            try:
                yield
            except unittest.SkipTest:
                raise
            except Exception:
                label = self.id().rsplit(".", 1)[-1] + "-" + "-".join(f"{v}" for v in params.values())
                _capture(self, label)
                raise

    # -- runs

    def run_to_completion(self, n: int, program: xdriver.Program | None = None) -> None:
        """Types N and Enter into the focused number box; waits for the completion bell."""
        program = program or self.program
        before = self.bells.value()
        program.enter_number(str(n))
        try:
            self.bells.wait_for(before + 1, run_timeout(n))
        except DriverError as exc:
            raise AssertionError(f"the run of {n} gave no completion beep: {exc}") from None

    def copy(self, program: xdriver.Program | None = None, sentinel: str = "e2e sentinel",
             wait: float = 15.0, focus: bool = True) -> bytes:
        """Ctrl+C in the main window; the clipboard's text once it changes, or the
        sentinel if it has not changed after `wait` seconds."""
        program = program or self.program
        program.set_clipboard_sentinel(sentinel)
        if focus:
            program.focus()
        program.key("ctrl+c")
        try:
            return program.wait_clipboard_change(sentinel.encode(), wait)
        except DriverError:
            return sentinel.encode()

    def assert_document(self, n: int, actual: bytes | None) -> None:
        expected = oracle.document(n).encode("ascii")
        if actual != expected:
            self.fail(f"document of {n}! differs: {describe_difference(expected, actual)}")

    def assert_no_bell_for(self, before: int, seconds: float, what: str) -> None:
        """A bounded watch: the bell count must stay where it was."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.bells.value() != before:
                self.fail(f"{what}: heard {self.bells.value() - before} unexpected bell(s)")
            time.sleep(0.05)

    def quiet_bells(self, quiet: float = 0.5, timeout: float = 5.0) -> int:
        """The bell count once no bell has rung for `quiet` seconds."""
        state = {"count": self.bells.value(), "since": time.monotonic()}

        def settled():
            now = self.bells.value()
            if now != state["count"]:
                state["count"], state["since"] = now, time.monotonic()
            return time.monotonic() - state["since"] >= quiet
        poll(settled, timeout, 0.05, "the bells to fall silent")
        return state["count"]

    def save_through_dialog(self, path: str, confirm: str | None = None,
                            cancel: bool = False) -> None:
        """Ctrl+F, then the path typed into the save dialog; answers a replace question."""
        p = self.program
        p.focus()
        p.key("ctrl+f")
        dialog = p.wait_for_window(xdriver.SAVE_CAPTION, 10)
        p.focus(dialog)
        if cancel:
            p.key("Escape")
        else:
            p.key("ctrl+a")
            p.type_text(path)
            p.key("Return")
            if confirm is not None:
                question = p.wait_for_window(xdriver.SAVE_CAPTION, 10, exclude=(dialog,))
                p.focus(question)
                p.key(confirm)
                p.wait_window_gone(question, xdriver.SAVE_CAPTION, 10)
                if confirm != "y":
                    p.focus(dialog)
                    p.key("Escape")
        p.wait_window_gone(dialog, xdriver.SAVE_CAPTION, 10)
        p.focus()

    def start_long_run(self, program: xdriver.Program | None = None) -> None:
        """Starts a run of LONG_N and waits until its percent bar shows."""
        program = program or self.program
        program.enter_number(str(LONG_N))
        poll(lambda: program.showing("percent bar"), 15, 0.2,
             f"the percent bar of the run of {LONG_N}")


# ---------------------------------------------------------------- scenarios

class CopyScenarios(KaldromeCase):

    @scenario
    def test_copy_gives_the_document_byte_for_byte(self):
        # Small results take their own path (0 to 3), then one limb, one line,
        # exactly eight groups (41: an empty line before the footer), several
        # lines, thousands in the footer, and a result above 10,000.
        for n in (0, 1, 3, 4, 12, 41, 50, 100, 1000, 2021, 3000, 10007, 25000):
            with self.case(n=n):
                before = self.bells.value()
                self.run_to_completion(n)
                self.assert_document(n, self.copy())
                self.assertEqual(self.bells.value(), before + 1,
                                 "a completed run beeps exactly once and Copy adds no beep")

    @scenario
    def test_copy_shortcut_works_wherever_the_focus_is(self):
        # Tab from the number box reaches Exit, Stop and the result box in turn;
        # a control's own Ctrl+C (the text boxes copy their selection) must not
        # take the shortcut from the menu command.
        p = self.program
        self.run_to_completion(33)
        for tabs, control in ((0, "number box"), (1, "Exit"), (2, "Stop"), (3, "result box")):
            with self.case(focus=control):
                p.focus()
                p.click("result box")  # back to the number box
                if tabs:
                    p.key(*["Tab"] * tabs)
                self.assert_document(33, self.copy(focus=False))

    @scenario
    def test_copy_twice_gives_the_same_document(self):
        self.run_to_completion(500)
        first = self.copy(sentinel="first")
        second = self.copy(sentinel="second")
        self.assert_document(500, first)
        self.assertEqual(first, second)

    @scenario
    def test_copy_before_any_run_does_nothing(self):
        self.assertEqual(self.copy(wait=2), b"e2e sentinel",
                         "Copy must be disabled until a run has completed")


class CreateFileScenarios(KaldromeCase):

    @scenario
    def test_proposed_name_names_n(self):
        self.run_to_completion(77)
        p = self.program
        p.set_clipboard_sentinel("sentinel")
        p.key("ctrl+f")
        dialog = p.wait_for_window(xdriver.SAVE_CAPTION, 10)
        p.focus(dialog)
        # The name field has the focus: select its text and copy it from there.
        p.key("ctrl+a", "ctrl+c")
        name = p.wait_clipboard_change(b"sentinel", 10)
        p.key("Escape")
        p.wait_window_gone(dialog, xdriver.SAVE_CAPTION, 10)
        self.assertEqual(name, b"Kaldrome77")

    @scenario
    def test_create_file_writes_the_document_and_one_line_end(self):
        n = 1000
        expected = oracle.file_bytes(n)
        folder = tempfile.mkdtemp(prefix="files-", dir=ARTIFACTS)
        old = b"an older and much longer file\r\n" * 4000
        rows = [
            # name, content before, answer to the replace question, expected content after
            ("result.txt", None, None, expected),
            ("no-extension", None, None, expected),
            ("replaced.rtf", old, "y", expected),
            ("kept.doc", old, "n", old),
            ("cancelled.txt", None, "cancel", None),
        ]
        self.run_to_completion(n)
        for name, before, answer, after in rows:
            with self.case(file=name):
                path = os.path.join(folder, name)
                if before is not None:
                    with open(path, "wb") as f:
                        f.write(before)
                if answer == "cancel":
                    self.save_through_dialog(path, cancel=True)
                else:
                    self.save_through_dialog(path, confirm=answer)
                if after is None:
                    self.assertFalse(os.path.exists(path), "a cancelled dialog writes nothing")
                    continue
                def content():
                    try:
                        with open(path, "rb") as f:
                            data = f.read()
                    except FileNotFoundError:
                        return None
                    return data if data == after else None
                try:
                    poll(content, 10, 0.1, f"{name} to hold the expected bytes")
                except DriverError:
                    actual = open(path, "rb").read() if os.path.exists(path) else None
                    self.fail(f"{name}: {describe_difference(after, actual)}")
        self.assertEqual(sorted(os.listdir(folder)), ["kept.doc", "no-extension", "replaced.rtf",
                                                      "result.txt"],
                         "exactly the confirmed files exist, under the names typed")
        # Exporting leaves the result as it was.
        self.assert_document(n, self.copy())

    @scenario
    def test_create_file_without_memory_to_spare_says_so(self):
        # Under an address-space limit (ulimit -v) at what the program uses now,
        # Create File says so in the program's message (which has room kept
        # for it) instead of opening a dialog that cannot be painted. The window
        # goes on, and with room again the dialog opens and saves.
        p = self.program
        self.run_to_completion(1000)
        soft, hard = resource.prlimit(p.proc.pid, resource.RLIMIT_AS)
        with open(f"/proc/{p.proc.pid}/status") as f:
            used = next(int(line.split()[1]) << 10 for line in f if line.startswith("VmSize:"))
        resource.prlimit(p.proc.pid, resource.RLIMIT_AS, (used, hard))
        p.focus()
        p.key("ctrl+f")
        box = p.wait_for_window("Kaldrome", 15)
        self.assertEqual(p.find_windows(xdriver.SAVE_CAPTION), [], "the save dialog opened")
        p.focus(box)
        p.key("Return")
        p.wait_window_gone(box, "Kaldrome", 10)
        resource.prlimit(p.proc.pid, resource.RLIMIT_AS, (soft, hard))
        self.assert_document(1000, self.copy())
        path = os.path.join(p.workdir, "after.txt")
        self.save_through_dialog(path)

        def saved():
            with contextlib.suppress(FileNotFoundError), open(path, "rb") as f:
                return f.read() == oracle.file_bytes(1000)
        poll(saved, 10, 0.1, "the file saved once there was room")


def tree(folder: str) -> dict[str, bytes | None]:
    """Every entry under folder: a file's bytes, None for a folder."""
    found = {}
    for base, dirs, files in os.walk(folder):
        for name in dirs:
            found[os.path.relpath(os.path.join(base, name), folder)] = None
        for name in files:
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = f.read()
    return found


class SettingsScenarios(KaldromeCase):

    def setUp(self):
        pass  # each row starts its own program, with its own home folder

    @scenario
    def test_nothing_is_written_or_read_beside_the_export(self):
        # The program keeps no settings: a session with Create File leaves the
        # home folder as it found it, and a file dialog state planted there
        # (which would open the dialog in the trap folder) is never read.
        for planted in (False, True):
            with self.case(planted=planted):
                home = tempfile.mkdtemp(prefix="home-", dir=ARTIFACTS)
                trap = tempfile.mkdtemp(prefix="trap-", dir=ARTIFACTS)
                if planted:
                    os.makedirs(os.path.join(home, ".config"))
                    url = "file://" + trap
                    with open(os.path.join(home, ".config", "QtProject.conf"), "w") as f:
                        f.write(f"[FileDialog]\nhistory={url}\nlastVisited={url}\n")
                before = tree(home)
                self.program = self.start_program(env={"HOME": home})
                p = self.program
                self.run_to_completion(12)
                # A bare name lands in the folder the dialog opened in.
                self.save_through_dialog("result.txt")
                saved = os.path.join(p.workdir, "result.txt")
                poll(lambda: os.path.exists(saved), 10, 0.1, "the file in the program's folder")
                p.key("alt+x")
                self.assertEqual(p.wait_exit(10), 0)
                self.assertEqual(os.listdir(trap), [], "the dialog opened in a folder read back")
                self.assertEqual(tree(home), before, "the home folder changed")
                with open(saved, "rb") as f:
                    self.assertEqual(f.read(), oracle.file_bytes(12))


class KeyScenarios(KaldromeCase):

    @scenario
    def test_number_entry_and_refused_keys(self):
        # keys typed one by one into the number box; N of the run that Enter
        # starts (None: no run); how many of the keys are refused with a beep;
        # the key pressed as Enter, if not Enter itself. Each row is typed with
        # no time between the keys and with 60 ms between them.
        rows = [
            ("letters in the empty box", ["a", "Z", "minus", "period", "space", "plus", "e"], None, 7),
            ("letters between digits", ["1", "x", "2", "comma"], 12, 2),
            ("00 then a digit", ["0", "0", "5"], 5, 0),
            ("three zeros", ["0", "0", "0"], 0, 0),
            ("00 starts nothing", ["0", "0"], None, 0),
            ("backspace edits", ["1", "2", "3", "BackSpace", "7"], 127, 0),
            # The box holds six characters: of 1234567 only 123456 stays, and four
            # backspaces leave 12 (123 if the seventh digit got in).
            ("seventh digit refused", list("1234567") + ["BackSpace"] * 4, 12, None),
            # Alt (left, right, Meta) and Super with keys that are no access key of
            # the window, and the third level's shift (AltGr), which is no Alt.
            ("Alt and Super with other keys",
             ["1", "alt+q", "alt+z", "alt+k", "Alt_R+y", "alt+shift+d", "alt+minus", "alt+5",
              "Meta_L+a", "super+b", "ISO_Level3_Shift+j", "2"], 12, 10),
            # Ctrl with a letter is its key code: Ctrl+H is Backspace, Ctrl+M Enter.
            ("Ctrl+H and Ctrl+M", ["1", "2", "ctrl+h", "3"], 13, 0, "ctrl+m"),
        ]
        p = self.program
        last_document = b"e2e sentinel"
        for delay, (label, keys, n, refused, *enter) in itertools.product((0, 60), rows):
            with self.case(row=label, delay=f"{delay} ms"):
                p.focus()
                p.key("End", *["BackSpace"] * 6)
                before = self.bells.value()
                p.key(*keys, delay=delay)
                if refused is None:
                    # Whether a full box beeps is the toolkit's business: not counted.
                    before = self.quiet_bells()
                    refused = 0
                self.bells.wait_for(before + refused, 5)
                self.assert_no_bell_for(before + refused, 0.5, "after typing")
                p.key(*(enter or ["Return"]))
                if n is None:
                    self.assert_no_bell_for(before + refused, 1.5, "Enter must start no run")
                    self.assertEqual(self.copy(wait=2), last_document, "Enter must start no run")
                else:
                    self.bells.wait_for(before + refused + 1, run_timeout(n))
                    last_document = self.copy()
                    self.assert_document(n, last_document)

    @scenario
    def test_keys_refused_on_every_control(self):
        p = self.program
        self.run_to_completion(30)
        # From the number box, Tab reaches Exit, then Stop, then the result box.
        for tabs, control in ((1, "Exit"), (2, "Stop"), (3, "result box")):
            with self.case(control=control):
                p.focus()
                # A left click in the result box gives the number box the focus again.
                p.click("result box")
                p.key(*["Tab"] * tabs)
                before = self.bells.value()
                for k in ("q", "minus", "period"):
                    p.key(k)
                self.bells.wait_for(before + 3, 5)
                # A digit and Enter pass the filter; away from the number box they start no
                # run. Enter presses a focused button, so Exit gets the digit only.
                p.key(*(["7"] if control == "Exit" else ["7", "Return"]))
                self.assert_no_bell_for(before + 3, 1.0, f"keys on {control}")
                self.assertTrue(p.alive(), f"a letter on {control} must not end the program")
        # The number box still works: after the click its text is selected,
        # so the digits typed replace it.
        p.click("result box")
        self.run_to_completion(31)
        self.assert_document(31, self.copy())


    @scenario
    def test_ctrl_combinations_and_clipboard_keys_are_refused(self):
        # "12", the keys, "3" and Enter: refused keys beep once and leave 12 alone,
        # so that 123! runs. Let through, they would paste "abc" (no run), select
        # all or delete a word (then 3! runs), or undo the typing.
        p = self.program
        for combo in ("ctrl+v", "shift+Insert", "ctrl+a", "ctrl+x", "ctrl+z", "ctrl+BackSpace"):
            with self.case(keys=combo):
                p.set_clipboard_sentinel("abc")
                p.focus()
                p.key("End", *["BackSpace"] * 6)
                p.type_text("12")
                before = self.bells.value()
                p.key(combo)
                self.bells.wait_for(before + 1, 5)
                p.type_text("3")
                p.key("Return")
                try:
                    self.bells.wait_for(before + 2, run_timeout(123))
                except DriverError:
                    self.fail(f"no run of 123 after {combo}: the key changed the number box")
                self.assert_document(123, self.copy())
                self.assertEqual(self.bells.value(), before + 2)

    @scenario
    def test_ctrl_c_with_copy_disabled_beeps_and_keeps_the_clipboard(self):
        # Copy is disabled before any run and after a stopped one; the number box
        # then holds its text selected, which Ctrl+C must not copy either.
        p = self.program
        for state in ("before any run", "after a stopped run"):
            with self.case(state=state):
                p.focus()
                if state == "after a stopped run":
                    self.start_long_run()
                    p.key("alt+s")
                    self.assert_no_bell_for(self.bells.value(), 1.0, "the stopped run")
                p.set_clipboard_sentinel("kept")
                before = self.bells.value()
                p.key("ctrl+c")
                self.bells.wait_for(before + 1, 5)
                self.assert_no_bell_for(before + 1, 1.0, "after Ctrl+C")
                self.assertEqual(p.read_clipboard(), b"kept")


def alt_s(gap: float):
    """Alt+S as a keyboard sends it, Alt and S down, then Alt and S up, with
    `gap` seconds between the four key events."""
    steps = [("keydown", "alt"), ("keydown", "s"), ("keyup", "alt"), ("keyup", "s")]
    args = []
    for step in steps:
        args += [*step, "sleep", str(gap)] if gap else list(step)
    return lambda p: SERVER.tool("xdotool", *args)


class RunControlScenarios(KaldromeCase):

    def menu_bar_picture(self) -> bytes:
        """The menu bar as it looks now: a lit title means its keyboard mode."""
        p = self.program
        x, y, width, height = p.read(p.tree.find("menu bar"))["extents"]
        window = p.geometry()
        return p.grab().region(x - window.x, y - window.y, width, height)

    @scenario
    def test_stop_then_a_new_run_completes(self):
        # How Stop is pressed; whether the program runs where a screen reader
        # listens (its accessibility bridge delivers key events late).
        rows = [("access key", lambda p: p.key("alt+s"), False),
                ("mouse click", lambda p: p.click("Stop"), False),
                ("access key, its key events back to back", alt_s(0), False),
                ("access key, 60 ms between its key events", alt_s(0.06), False),
                ("access key, back to back, a screen reader listening", alt_s(0), True)]
        for label, stop, screen_reader in rows:
            with self.case(stop=label):
                if screen_reader:
                    # A listener on the accessibility bus, as a screen reader keeps.
                    self.program.tree.ask("listen", "window:activate",
                                          "object:state-changed:focused")
                p = self.program
                p.focus()
                unlit = self.menu_bar_picture()
                before = self.bells.value()
                self.start_long_run()
                stop(p)
                # Stopped: no completion beep, the bar stays where it stood, no result to copy.
                self.assert_no_bell_for(before, 2.0, "a stopped run must not finish")
                self.assertTrue(self.menu_bar_picture() == unlit,
                                "the menu bar lit up: Alt+S was taken for Alt alone")
                self.assertTrue(p.showing("percent bar"), "the stopped run keeps its percent bar")
                copied = self.copy(wait=2)
                self.assertNotIn(b"!=", copied, "a stopped run has no document to copy")
                # The number box has the focus with its text selected: a new run replaces it.
                p.focus()
                after_stop = self.bells.value()
                self.run_to_completion(20)
                self.assertEqual(self.bells.value(), after_stop + 1)
                self.assert_document(20, self.copy())
                self.assertFalse(p.showing("percent bar"), "a finished run hides its percent bar")

    @scenario
    def test_closing_during_a_run_ends_the_program_at_once(self):
        rows = [
            ("close box", lambda p: SERVER.tool(sys.executable, os.path.join(HERE, "xhelper.py"),
                                                "close", p.window)),
            ("Exit access key", lambda p: p.key("alt+x")),
            ("Exit click", lambda p: p.click("Exit")),
        ]
        for label, close in rows:
            with self.case(close=label):
                p = self.program if label == rows[0][0] else self.start_program()
                self.start_long_run(p)
                started = time.monotonic()
                close(p)
                status = p.wait_exit(10)
                took = time.monotonic() - started
                self.assertEqual(status, 0, f"exit status; stderr: {p.stderr_text()[-500:]}")
                self.assertLess(took, 5.0, "the program must end at once, without a question")


def progress(p: xdriver.Program) -> tuple:
    """The clocks and the percent of a run, as a screen reader reads them."""
    return (p.read("elapsed")["name"], p.read("estimate")["name"],
            p.read("percent bar")["value"])


class MenuScenarios(KaldromeCase):

    def visible_windows(self) -> set[str]:
        out = SERVER.tool("xdotool", "search", "--onlyvisible", "--pid", str(self.program.proc.pid),
                          check=False)
        return set(out.split())

    def wait_for_popup(self, before: set[str]) -> None:
        poll(lambda: self.visible_windows() - before, 5, 0.1, "a menu to open")

    @scenario
    def test_copy_through_the_menus(self):
        # How the menu is opened; the item is then chosen by its access key C.
        rows = [
            ("pop-up menu over the result box", lambda p: p.click("result box", button=3)),
            ("Edit menu", lambda p: p.key("alt+e")),
            # A click there gives the number box the focus; the third Tab reaches the box.
            ("Menu key on the result box",
             lambda p: (p.click("result box"), p.key("Tab", "Tab", "Tab", "Menu"))),
            ("Shift+F10 on the result box",
             lambda p: (p.click("result box"), p.key("Tab", "Tab", "Tab", "shift+F10"))),
        ]
        p = self.program
        self.run_to_completion(64)
        for label, open_menu in rows:
            with self.case(menu=label):
                p.focus()
                p.set_clipboard_sentinel("sentinel")
                before = self.visible_windows()
                open_menu(p)
                self.wait_for_popup(before)
                p.key("c")
                self.assert_document(64, p.wait_clipboard_change(b"sentinel", 10))
                poll(lambda: self.visible_windows() == before, 5, 0.1, "the menu to close")

    @scenario
    def test_popup_menu_opens_during_a_run_and_holds_nothing_to_copy(self):
        p = self.program
        self.start_long_run()
        p.set_clipboard_sentinel("sentinel")
        before = self.visible_windows()
        p.click("result box", button=3)
        self.wait_for_popup(before)
        # Copy is disabled during a run: its access key does nothing.
        p.key("c")
        p.key("Escape")
        poll(lambda: self.visible_windows() == before, 5, 0.1, "the pop-up menu to close")
        self.assertEqual(p.read_clipboard(), b"sentinel")
        p.key("alt+s")
        self.assertTrue(p.alive())

    @scenario
    def test_right_and_middle_clicks_in_the_result_box_leave_the_focus(self):
        # After a run the number box has the focus with its text selected: the
        # digits typed after the click still replace it and Enter runs them.
        p = self.program
        self.run_to_completion(30)
        for button, n in ((2, 7), (3, 8)):
            with self.case(button=button):
                p.focus()
                before = self.visible_windows()
                p.click("result box", button=button)
                if button == 3:
                    self.wait_for_popup(before)
                    p.key("Escape")
                    poll(lambda: self.visible_windows() == before, 5, 0.1, "the pop-up to close")
                bells = self.bells.value()
                p.type_text(str(n))
                p.key("Return")
                try:
                    self.bells.wait_for(bells + 1, run_timeout(n))
                except DriverError:
                    self.fail(f"the click of button {button} took the focus from the number box")
                self.assert_document(n, self.copy())

    def open_about(self):
        """Opens the About window through the Help menu and gives it the focus."""
        p = self.program
        before = self.visible_windows()
        p.key("alt+h")
        self.wait_for_popup(before)
        p.key("a")
        about = p.wait_for_window(xdriver.ABOUT_CAPTION, 10)
        p.focus(about)
        return about

    @scenario
    def test_about_window_opens_from_help_and_closes(self):
        p = self.program
        for close_key in ("Return", "space"):
            with self.case(close=close_key):
                p.focus()
                about = self.open_about()
                p.key(close_key)
                p.wait_window_gone(about, xdriver.ABOUT_CAPTION, 10)
                p.focus()
        # The main window is usable again afterwards.
        self.run_to_completion(9)
        self.assert_document(9, self.copy())

    @scenario
    def test_about_window_holds_a_run_until_it_closes(self):
        p = self.program
        self.start_long_run()
        about = self.open_about()
        # While it is open the run stands still: neither clock nor percent moves.
        held = progress(p)
        deadline = time.monotonic() + 2.5
        while time.monotonic() < deadline:
            self.assertEqual(progress(p), held, "the run went on while the About window was open")
            time.sleep(0.3)
        p.key("Return")
        p.wait_window_gone(about, xdriver.ABOUT_CAPTION, 10)
        p.focus()
        # Then it goes on.
        poll(lambda: progress(p) != held, 10, 0.3, "the run to go on after About closed")
        self.assertTrue(p.showing("percent bar"), "the run is still in progress")
        p.key("alt+s")


class ScreenReaderScenarios(KaldromeCase):
    """What a screen reader finds and hears, read through the accessibility tree."""

    @scenario
    def test_the_result_is_read_and_the_end_of_a_run_is_heard(self):
        p = self.program
        tree = p.tree
        tree.ask("listen", "object:state-changed:focused", "object:text-caret-moved",
                 "object:property-change:accessible-description")
        # The number box is found by its name, the question, and the result by the
        # result box's Text interface.
        for n in (30, 3000):
            with self.case(n=n):
                mark = len(tree.events)
                p.click("result box")  # the number box, its text selected
                self.run_to_completion(n)
                said = f"{n:,}! is ready. Number of digits: {oracle.digit_count(n):,}"

                def heard():
                    events = tree.events_since(mark)
                    told = [i for i, e in enumerate(events) if e["role"] == "text"
                            and e["event"].endswith("description") and e["description"] == said]
                    return told and any(e["event"].endswith("focused") and e["detail1"] == 1
                                        and e.get("name") == xdriver.QUESTION
                                        for e in events[told[0]:])
                poll(heard, 10, 0.1, f'"{said}" with the focus back on the number box')
                self.assertEqual(p.read("number box")["description"], said)
                box = p.control("result box")
                self.assertEqual(p.read(box)["name"], f"Digits of {n:,}!")
                digits = "".join(tree.text(box).split()).lstrip("0")
                self.assertEqual(digits, str(math.factorial(n)))
        # A range of the text on its own, and the caret following the keys: three
        # Tabs from the number box reach the result box, each Down a line further.
        self.assertEqual(tree.text(box, 47 * 100, 47 * 101), oracle.display_line(3000, 100))
        mark = len(tree.events)
        p.key("Tab", "Tab", "Tab", "Down", "Down")
        poll(lambda: p.read(box)["caret"] == 2 * 47, 5, 0.1, "the caret on the third line")
        moved = [e["detail1"] for e in tree.events_since(mark) if e["event"].endswith("caret-moved")]
        self.assertEqual(moved, [47, 94])
        self.assertIn("focused", p.read(box)["states"])

    @scenario
    def test_a_long_run_is_heard_without_flooding(self):
        # Five seconds of a long run, or the whole run where it is shorter: the
        # percent rises, each clock changes at most once a second, and the end is
        # told on the number box.
        p = self.program
        tree = p.tree
        tree.ask("listen", "object:property-change:accessible-name",
                 "object:property-change:accessible-value",
                 "object:property-change:accessible-description")
        mark = len(tree.events)
        before = self.bells.value()
        started = time.monotonic()
        p.enter_number(str(LONG_N))
        try:
            self.bells.wait_for(before + 1, 5)
            said = (f"{LONG_N:,}! is ready.",)
        except DriverError:
            self.assertEqual(p.read("result box")["description"], "Alt to Pause")
            # Clicked: a fast Alt+S can start the menu bar's keyboard mode while the
            # screen reader's bus is busy, which holds the run. On a loaded machine
            # the run may end before the click lands; then it is told as ready.
            p.click("Stop")
            said = (f"{LONG_N:,}! stopped.", f"{LONG_N:,}! is ready.")
        seconds = time.monotonic() - started
        poll(lambda: any(e["event"].endswith("description") and e["role"] == "text"
                         and e["description"].startswith(said)
                         for e in tree.events_since(mark)), 10, 0.1, f"one of {said}")
        events = tree.events_since(mark)
        values = [e["value"] for e in events if e["event"].endswith("accessible-value")]
        # (Read as each event is handled, later than it was sent: rising or level.)
        self.assertGreaterEqual(len(set(values)), 2, "the percent bar's value was heard to change")
        self.assertEqual(values, sorted(values), "the percent only rises")
        self.assertTrue(0 < values[0] and values[-1] <= 100, values)
        for caption in ("Elapsed time:", "Estimated time:"):
            with self.case(clock=caption):
                changes = [e["name"] for e in events if e["event"].endswith("accessible-name")
                           and e.get("label") == caption]
                # One a second, the first at the start, and the estimate once more at the end.
                self.assertLessEqual(len(changes), math.ceil(seconds) + 2,
                                     f"{len(changes)} changes in {seconds:.1f} s: {changes}")
        # The tool tip stays after a stop; what is read out does not.
        self.assertEqual(p.read("result box")["description"], "")


class TreePathScenarios(KaldromeCase):
    """The path every N from 10,000 on takes: a product tree, both cores."""

    def setUp(self):
        self.program = self.start_program(env={"KALDROME_ENGINE": "tree"})

    @scenario
    def test_the_largest_result_comes_at_once_and_is_exact_at_both_ends(self):
        # Its top digits from log10(n!), the trailing zeros and the digits above
        # them from n! with its tens taken out, modulo 10^70: the whole of it
        # takes Python minutes, the window a second.
        n, length = LONG_N, 7_473_949  # the display text of 999,999!
        p = self.program
        started = time.monotonic()
        self.run_to_completion(n)
        self.assertLess(time.monotonic() - started, 10, "999,999! as slowly as the factor loop")
        self.assertEqual(p.read("digit label")["name"], "Number of digits: 5,565,703")
        box = p.control("result box")
        self.assertEqual(p.read(box)["name"], f"Digits of {n:,}!")
        top = "".join(p.tree.text(box, 0, 47).split()).lstrip("0")
        mantissa = 10 ** (math.lgamma(n + 1) / math.log(10) % 1)
        self.assertEqual(top[:6], str(int(mantissa * 1e5)))
        tens = sum(n // 5 ** i for i in range(1, 9))
        twos, low = tens, 1
        for k in range(2, n + 1):
            while k % 5 == 0:
                k //= 5
            while twos and k % 2 == 0:
                k, twos = k // 2, twos - 1
            low = low * k % 10 ** 70
        end = "".join(p.tree.text(box, length - 400_000, length).split())
        self.assertEqual(len(end) - len(end.rstrip("0")), tens)
        self.assertEqual(end.rstrip("0")[-70:], f"{low:070d}")

    @scenario
    def test_stop_right_after_enter(self):
        # Enter and Alt+S back to back: the run is stopped where it stands.
        p = self.program
        before = self.bells.value()
        p.enter_number(str(LONG_N))
        p.key("alt+s", delay=0)
        self.assert_no_bell_for(before, 2.0, "a stopped run must not finish")
        self.assertTrue(p.showing("percent bar"), "the stopped run keeps its percent bar")
        self.assertEqual(p.read("digit label")["name"], "Number of digits.....")
        self.run_to_completion(30_000)
        self.assert_document(30_000, self.copy())


class NoPrinterScenarios(KaldromeCase):

    @scenario
    def test_print_and_print_setup_without_a_printer_show_the_message(self):
        # The program's CUPS client reaches no server here: there is no printer.
        # Both commands show the same message box titled "Kaldrome" (its text
        # cannot be read from outside on X11, so the two pictures are compared)
        # and nothing else.
        p = self.program
        self.run_to_completion(41)
        pictures = {}
        for label, shortcut in (("Print", "ctrl+p"), ("Print Setup", "ctrl+u")):
            with self.case(command=label):
                p.focus()
                p.key(shortcut)
                box = p.wait_for_window("Kaldrome", 10)
                p.focus(box)
                pictures[label] = p.grab(box)
                p.key("Return")
                p.wait_window_gone(box, "Kaldrome", 10)
                self.assertTrue(p.alive())
        self.assertEqual(len(pictures), 2)
        self.assertEqual(pictures["Print"].rgb, pictures["Print Setup"].rgb,
                         "Print and Print Setup must show the same message")
        # The result is untouched and still exports.
        self.assert_document(41, self.copy())


class PrintScenarios(KaldromeCase):
    """Print to real CUPS queues that turn jobs into PDFs (cups_setup.sh).

    Only on CI, as root: the queues' settings go into /etc/cups, which the tests
    never change on a user's machine. Each scenario has a cupsd of its own,
    which the program and the lp tools reach through CUPS_SERVER, with two
    queues, A and B; the program finds A as its default printer through PRINTER."""

    def setUp(self):
        if os.environ.get("CI") != "true" or os.geteuid() != 0:
            self.skipTest("printing to a CUPS queue runs only where CI=true, as root")
        state = tempfile.mkdtemp(prefix="cups-", dir=ARTIFACTS)
        self.cups_env = dict(os.environ, KALDROME_CUPS_STATE=state)
        tag = f"kaldrome-e2e-{os.getpid()}-{os.path.basename(state)[5:]}"
        self.queue = {"A": tag + "-a", "B": tag + "-b"}
        self.addCleanup(self.cups, "stop", timeout=60)
        self.cups("start", *self.queue.values(), timeout=300)
        self.cups_env["CUPS_SERVER"] = self.cups("socket").strip()
        self.since = os.path.join(state, "since")
        with open(self.since, "w"):
            pass
        self.program = self.start_program(
            printers=True, env={"PRINTER": self.queue["A"],
                                "CUPS_SERVER": self.cups_env["CUPS_SERVER"]})

    def cups(self, *args, timeout: float = 30) -> str:
        result = xdriver.run([os.path.join(HERE, "cups_setup.sh"), *args], timeout=timeout,
                             env=self.cups_env, check=False)
        if result.returncode != 0:
            self.fail(f"cups_setup.sh {' '.join(args)} failed: "
                      f"{(result.stdout + result.stderr).decode(errors='replace')}")
        return result.stdout.decode()

    def pdfs(self, which: str) -> list[str]:
        """The PDFs queue `which` made since the scenario began."""
        folder = self.cups("outdir", self.queue[which]).strip()
        if not os.path.isdir(folder):
            return []
        return [e.name for e in os.scandir(folder) if e.name.endswith(".pdf")
                and e.stat().st_mtime >= os.stat(self.since).st_mtime]

    def jobs(self, which: str, done: bool = False) -> list[str]:
        """The jobs waiting in queue `which`, or those it finished (printed or cancelled)."""
        args = ["lpstat", "-o", self.queue[which]]
        if done:
            args[1:1] = ["-W", "completed"]
        return xdriver.run(args, check=False, env=self.cups_env).stdout.decode().split("\n")[:-1]

    def print_and_wait(self, which: str, count: int) -> None:
        """Ctrl+P, then waits until queue `which` has printed count jobs; a message box fails."""
        p = self.program
        p.focus()
        p.key("ctrl+p")

        def outcome():
            if p.find_windows("Kaldrome"):
                return "message"
            return "printed" if len(self.jobs(which, done=True)) >= count else None
        got = poll(outcome, 120, 0.25, f"job number {count} on queue {which}")
        self.assertEqual(got, "printed", "the program showed a message box instead of printing")

    def answer_message(self) -> None:
        p = self.program
        box = p.wait_for_window("Kaldrome", 15)
        p.focus(box)
        p.key("Return")
        p.wait_window_gone(box, "Kaldrome", 10)

    @scenario
    def test_print_41_reaches_the_queue_as_the_document(self):
        # 41! fills exactly one line of eight groups: the printout has an empty
        # line before the footer.
        n = 41
        expected = os.path.join(ARTIFACTS, f"print-{n}.txt")
        with open(expected, "w", newline="") as f:
            f.write(oracle.document(n))
        self.run_to_completion(n)
        self.print_and_wait("A", 1)
        result = xdriver.run([os.path.join(HERE, "cups_check.sh"), self.queue["A"], expected,
                              self.since, "120"], timeout=150, env=self.cups_env, check=False)
        report = (result.stdout + result.stderr).decode(errors="replace")
        self.assertEqual(result.returncode, 0, report)
        self.assertIn("matches", report)
        self.assertTrue(self.program.alive())

    @scenario
    def test_a_queue_that_refuses_jobs_is_reported(self):
        # cupsreject: the queue takes no jobs. Print says so in the program's
        # message box, prints nothing and queues nothing; once the queue takes
        # jobs again, Print works.
        self.run_to_completion(41)
        xdriver.run(["cupsreject", self.queue["A"]], env=self.cups_env)
        p = self.program
        p.focus()
        p.key("ctrl+p")
        self.answer_message()
        time.sleep(2)
        self.assertEqual(self.jobs("A") + self.jobs("A", done=True), [],
                         "a refused printout made a job")
        self.assertEqual(self.pdfs("A"), [], "a refused printout made a PDF")
        xdriver.run(["cupsaccept", self.queue["A"]], env=self.cups_env)
        self.print_and_wait("A", 1)
        self.assert_document(41, self.copy())

    @scenario
    def test_a_print_service_that_does_not_answer_is_told_while_the_window_lives(self):
        # The print service stops answering (its cupsd stopped with SIGSTOP: it
        # takes connections and answers nothing, as a hung or far-away server
        # does). While Print or Print Setup waits for it the window answers
        # every ping and a run goes on; after the program's wait its message
        # box says so, and nothing is queued. Once the service answers again,
        # Print prints (the stopped run left no result: a new one first).
        p = self.program
        pinger = xdriver.Pinger(SERVER)
        self.addCleanup(pinger.stop)
        self.run_to_completion(100)
        self.cups("pause")
        percent = lambda: p.read("percent bar").get("value")  # noqa: E731
        # (command, its shortcut, asked during a run)
        rows = [("Print", "ctrl+p", False), ("Print Setup", "ctrl+u", False),
                ("Print Setup during a run", "ctrl+u", True)]
        for label, shortcut, during_run in rows:
            with self.case(command=label):
                p.focus()
                if during_run:
                    p.enter_number(str(LONG_N))
                    poll(lambda: p.showing("percent bar"), 30, 0.2,
                         "the run to show its percent bar")
                p.key(shortcut)
                asked = time.monotonic()
                bar_at_start = percent()
                unanswered, bar_moved = [], False
                while not p.find_windows("Kaldrome"):
                    waited = time.monotonic() - asked
                    self.assertLess(waited, PRINT_SERVICE_WAIT + 15,
                                    f"no message after {waited:.0f} s; pings unanswered at "
                                    f"{unanswered} s")
                    if pinger.ping(p.window, 2.0) is None:
                        unanswered.append(round(waited, 1))
                    bar_moved = bar_moved or percent() != bar_at_start
                took = time.monotonic() - asked
                self.assertEqual(unanswered, [], "the window did not answer pings while it "
                                 "waited for the print service (seconds after the shortcut)")
                self.assertGreater(took, PRINT_SERVICE_WAIT - 1,
                                   f"a message {took:.1f} s after the shortcut, before the wait")
                if during_run:
                    self.assertTrue(bar_moved, "the run stood still while the service was asked")
                self.answer_message()
                if during_run:
                    p.focus()
                    p.key("alt+s")
        self.assertEqual(self.pdfs("A"), [], "a printout reached the queue of a silent service")
        self.cups("resume")
        self.run_to_completion(41)
        self.print_and_wait("A", 1)
        self.assertTrue(p.alive())

    def choose_printer(self, which: str, accept: bool) -> None:
        """Print Setup: types the queue's name into the printer box; OK or Cancel."""
        p = self.program
        p.focus()
        p.key("ctrl+u")
        form = p.wait_for_window("Print Setup", 10)
        p.focus(form)
        p.type_text(self.queue[which])  # the printer box has the focus; typing selects
        p.key("Return" if accept else "Escape")
        p.wait_window_gone(form, "Print Setup", 10)

    @scenario
    def test_print_setup_changes_the_printer_only_when_accepted(self):
        self.run_to_completion(41)
        # (printer picked, OK or Cancel, the queue Print then uses)
        rows = [("B", True, "B"), ("A", False, "B"), ("A", True, "A")]
        made = {"A": 0, "B": 0}
        for picked, accept, used in rows:
            with self.case(picked=picked, accept=accept):
                self.choose_printer(picked, accept)
                made[used] += 1
                self.print_and_wait(used, made[used])
                other = "A" if used == "B" else "B"
                self.assertEqual(len(self.jobs(other, done=True)), made[other],
                                 f"queue {other} printed what was meant for {used}")

    @scenario
    def test_a_long_printout_shows_its_progress_and_cancels_without_a_job(self):
        # Some 350 pages: the progress dialog shows, its bar moves (the window
        # keeps painting), and Escape stops it before anything is queued.
        p = self.program
        self.run_to_completion(LONG_PRINT_N)
        p.focus()
        p.key("ctrl+p")
        dialog = p.wait_for_window("Printing", 15)
        first = p.grab(dialog).rgb
        poll(lambda: p.grab(dialog).rgb != first, 10, 0.05, "the progress dialog to move on")
        p.focus(dialog)
        p.key("Escape")
        p.wait_window_gone(dialog, "Printing", 10)
        time.sleep(2)
        self.assertEqual(self.jobs("A") + self.jobs("A", done=True), [],
                         "a cancelled printout reached the queue")
        self.assertEqual(self.pdfs("A"), [], "a cancelled printout was printed")
        self.assertEqual(p.find_windows("Kaldrome"), [], "a cancel is no failure")
        self.assertTrue(p.alive())


class OwnServerCase(unittest.TestCase):
    """Scenarios that start the program themselves, often on an X server of their own."""

    def other_server(self, screen: str) -> xdriver.XServer:
        server = xdriver.XServer(ARTIFACTS, screen=screen, bells=False)
        server.start()
        self.addCleanup(server.stop)
        return server

    def launch(self, server: xdriver.XServer, **options) -> xdriver.Program:
        workdir = tempfile.mkdtemp(prefix=self.id().rsplit(".", 1)[-1] + "-", dir=ARTIFACTS)
        program = xdriver.Program(server, BINARY, workdir)
        self.addCleanup(program.stop)
        program.launch(**options)
        return program


class StartupScenarios(OwnServerCase):

    @scenario
    def test_an_8_bit_display_is_refused_at_start(self):
        p = self.launch(self.other_server("640x480x8"))
        try:
            status = p.wait_exit(30)
        except DriverError:
            self.fail("the program went on running on an 8-bit display")
        err = p.stderr_text()
        self.assertEqual(status, 1, err)
        self.assertIn("8 bits per pixel", err)
        self.assertIn("at least 16", err)

    @scenario
    def test_too_little_memory_ends_the_start_cleanly(self):
        # Address-space limits (ulimit -v) around what the start needs. At each
        # one the program either starts and computes, or ends at once with
        # status 1 and its own message; it never hangs. (Far below these the
        # system cannot even load the program's libraries.) With more room it
        # starts: what it reserves must not grow with the limit.
        for megabytes, starts in ((88, False), (96, False), (104, False), (112, False),
                                  (120, False), (160, True), (245, True)):
            with self.subTest(limit=f"{megabytes} MB"):
                p = self.launch(SERVER, memory_limit=megabytes << 20)

                def outcome():
                    if not p.alive():
                        return "ended"
                    windows = p.find_windows(xdriver.MAIN_CAPTION)
                    return ("window", windows[-1]) if windows else None
                try:
                    got = poll(outcome, 30, 0.2, "the program to end or show its window")
                except DriverError:
                    self.fail(f"under {megabytes} MB the program neither ended nor showed its "
                              f"window within 30 s; stderr: {p.stderr_text()[-800:]}")
                if got == "ended":
                    self.assertFalse(starts, f"under {megabytes} MB the program did not start: "
                                             f"{p.stderr_text()[-800:]}")
                    self.assertEqual(p.proc.returncode, 1, p.stderr_text()[-800:])
                    self.assertIn("kaldrome: ", p.stderr_text())
                    continue
                # It started: it must answer, and compute, unless memory ran out
                # while the window was still being set up, which ends it as above.
                p.window = got[1]
                try:
                    p.focus()
                    before = SERVER.bells.value()
                    p.enter_number("25")
                    SERVER.bells.wait_for(before + 1, 15)
                except DriverError:
                    try:
                        status = p.wait_exit(5)
                    except DriverError:
                        self.fail(f"under {megabytes} MB the window opened but does not answer; "
                                  f"stderr: {p.stderr_text()[-800:]}")
                    self.assertFalse(starts, f"under {megabytes} MB the program ended at start")
                    self.assertEqual(status, 1, p.stderr_text()[-800:])
                    self.assertIn("kaldrome: ", p.stderr_text())
                    continue
                p.stop()


class HelpWindowScenarios(OwnServerCase):

    @scenario
    def test_help_window_fits_small_and_scaled_screens(self):
        for screen, scale in (("640x480x24", "1"), ("1280x1024x24", "2")):
            with self.subTest(screen=screen, scale=scale):
                server = self.other_server(screen)
                p = self.launch(server, extra_env={"QT_SCALE_FACTOR": scale})
                p.window = p.wait_for_window(xdriver.MAIN_CAPTION, 20)
                p.focus()
                p.key("F1")
                viewer = p.wait_for_window("Kaldrome Help", 15)
                width, height = (int(v) for v in screen.split("x")[:2])
                g = p.geometry(viewer)
                server.screenshot(os.path.join(ARTIFACTS, f"help-{screen}-scale{scale}.png"))
                self.assertTrue(g.x >= 0 and g.y >= 0 and g.x + g.width <= width
                                and g.y + g.height <= height,
                                f"the help window at {g} leaves the {width}x{height} screen")
                # Not needlessly small either: it takes most of a small screen.
                self.assertGreaterEqual(g.height, min(660 * int(scale), height) * 0.8)


# ---------------------------------------------------------------- running

class SummaryResult(unittest.TextTestResult):
    def __init__(self, *args, **kwargs):
        global RESULT
        super().__init__(*args, **kwargs)
        self.failed_ids: set[str] = set()
        self.current = ""
        RESULT = self  # the time limit's handler reports from here

    def startTest(self, test):
        self.current = test.id()
        super().startTest(test)

    def addFailure(self, test, err):
        self.failed_ids.add(test.id())
        super().addFailure(test, err)

    def addError(self, test, err):
        self.failed_ids.add(getattr(test, "test_case", test).id())
        super().addError(test, err)

    def addSubTest(self, test, subtest, err):
        if err is not None:
            self.failed_ids.add(test.id())
        super().addSubTest(test, subtest, err)

    def summary(self, extra_failed: str = "") -> str:
        failed = set(self.failed_ids)
        if extra_failed:
            failed.add(extra_failed)
        skipped = len(self.skipped)
        passed = self.testsRun - len(failed) - skipped
        return f"{passed} passed, {len(failed)} failed, {skipped} skipped"


def main(argv=None) -> int:
    global SERVER, BINARY, ARTIFACTS, RESULT
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", required=True, help="the kaldrome program to test")
    parser.add_argument("--keep", action="store_true", help="keep the work folder after success")
    parser.add_argument("--limit", type=float, default=600, help="time limit of the whole suite (s)")
    parser.add_argument("-k", dest="patterns", action="append", default=[],
                        help="run only the scenarios whose name contains this text")
    parser.add_argument("-x", dest="skips", action="append", default=[],
                        help="leave out the scenarios whose name contains this text")
    args = parser.parse_args(argv)

    BINARY = os.path.abspath(args.binary)
    if not os.access(BINARY, os.X_OK):
        print(f"e2e: the program {BINARY} does not exist or cannot run", file=sys.stderr)
        print("0 passed, 1 failed")
        return 1
    missing = xdriver.missing_tools()
    if missing:
        print("e2e: missing tools: " + ", ".join(missing) + " (scripts/setup test installs them)",
              file=sys.stderr)
        print("0 passed, 1 failed")
        return 1

    ARTIFACTS = tempfile.mkdtemp(prefix="kaldrome-e2e-")
    print(f"e2e: work folder and failure screenshots: {ARTIFACTS}", flush=True)

    loader = unittest.TestLoader()
    if args.patterns:
        loader.testNamePatterns = [f"*{p}*" for p in args.patterns]
    suite = unittest.TestSuite(
        test for test in iterate_tests(loader.loadTestsFromModule(sys.modules[__name__]))
        if not any(skip in test.id() for skip in args.skips))
    return run_suite("e2e", suite, args.limit, args.keep)


def iterate_tests(suite: unittest.TestSuite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from iterate_tests(item)
        else:
            yield item


def run_suite(label: str, suite: unittest.TestSuite, limit: float, keep: bool,
              companion=None) -> int:
    """Runs suite against a new X server in ARTIFACTS within limit seconds and prints
    the summary line. companion(server), if given, makes what runs beside the
    server (a window manager): started after it, stopped before it."""
    global SERVER, RESULT

    def out_of_time(_signum, _frame):
        print(f"\n{label}: the suite exceeded its time limit of {limit:.0f} s", file=sys.stderr)
        if SERVER:
            SERVER.screenshot(os.path.join(ARTIFACTS, "time-limit.png"))
        xdriver.cleanup()
        print(RESULT.summary(RESULT.current) if RESULT else "0 passed, 1 failed", flush=True)
        os._exit(1)

    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(int(limit))

    SERVER = xdriver.XServer(ARTIFACTS)
    beside = companion(SERVER) if companion else None
    try:
        SERVER.start()
        if beside:
            beside.start()
        print(f"{label}: Xvfb on display {SERVER.display}" + (f", {beside.name} running"
              if beside else ""), flush=True)
        runner = unittest.TextTestRunner(stream=sys.stdout, verbosity=2, resultclass=SummaryResult)
        RESULT = runner.run(suite)
    except DriverError as exc:
        print(f"{label}: {exc}", file=sys.stderr)
        print("0 passed, 1 failed")
        return 1
    finally:
        signal.alarm(0)
        if beside:
            beside.stop()
        SERVER.stop()
        xdriver.cleanup()

    ok = RESULT.wasSuccessful()
    if ok and not keep:
        shutil.rmtree(ARTIFACTS, ignore_errors=True)
    print(RESULT.summary(), flush=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
