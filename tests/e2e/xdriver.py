"""Drives the real kaldrome binary in its own Xvfb, as a person would.

Keyboard and mouse go through xdotool (XTEST), the clipboard is read with
xclip, pictures come from ImageMagick's import, bells are counted through
XKB (xhelper.py). What the window shows, and where its controls are, is read
through the accessibility tree, as a screen reader reads it (atspi_helper.py):
every X server gets a D-Bus session of its own (dbus-run-session), with the
accessibility bus inside it. There is no window manager, so the driver gives
windows the input focus itself. Every wait is a bounded poll; every process
started here is recorded and ended by cleanup(), which also runs at exit and on
SIGTERM/SIGINT, and each child is told by the kernel to die with the driver.
"""

from __future__ import annotations

import atexit
import ctypes
import json
import os
import queue
import re
import resource
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass

HERE = os.path.dirname(os.path.abspath(__file__))

MAIN_CAPTION = "Factorial of a number with all its digits. Orvane Software."
SAVE_CAPTION = "Specify File Name to Create"
ABOUT_CAPTION = "About Kaldrome"

QUESTION = "The factorial of what number do you want to find?"

# How a screen reader finds the main window's controls: role, name and the
# caption that labels it (regular expressions but the caption).
CONTROLS = {
    "number box": ("text", re.escape(QUESTION), None),
    "question": ("label", re.escape(QUESTION), None),
    "result box": ("text", "Result|Digits of .*", None),
    "Stop": ("push button", "Stop", None),
    "Exit": ("push button", "Exit", None),
    "number label": ("label", ".*!=", None),
    "digit label": ("label", "Number of digits.*", None),
    "elapsed": ("label", ".*", "Elapsed time:"),
    "estimate": ("label", ".*", "Estimated time:"),
    "percent bar": ("progress bar", ".*", None),
}

# pyatspi (python3-pyatspi) is installed for the distribution's own interpreter.
ATSPI_PYTHON = "/usr/bin/python3" if os.access("/usr/bin/python3", os.X_OK) else "python3"

REQUIRED_TOOLS = {
    "Xvfb": "xvfb",
    "xdotool": "xdotool",
    "xclip": "xclip",
    "xwininfo": "x11-utils",
    "import": "imagemagick",
    "timeout": "coreutils",
    "dbus-run-session": "dbus-daemon",
}


class DriverError(AssertionError):
    """A step of the driver could not be done; the scenario fails with it."""


def missing_tools(tools=REQUIRED_TOOLS) -> list[str]:
    missing = [f"{tool} (package {pkg})" for tool, pkg in tools.items()
               if shutil.which(tool) is None]
    if subprocess.run([ATSPI_PYTHON, "-c", "import pyatspi"], capture_output=True).returncode:
        missing.append("pyatspi (package python3-pyatspi)")
    return missing


# ---------------------------------------------------------------- processes

_children: list[subprocess.Popen] = []
_children_lock = threading.Lock()
_cleanup_hooks: list = []


def _die_with_parent():
    # Runs in the child between fork and exec: if the driver is killed
    # outright (SIGKILL from a test runner), the kernel ends the child too.
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    except Exception:
        pass


def spawn(args, memory_limit: int | None = None, **kwargs) -> subprocess.Popen:
    """Starts a process in its own session and records it for cleanup;
    memory_limit caps its address space (bytes), as `ulimit -v` does."""
    if threading.current_thread() is not threading.main_thread():
        raise RuntimeError("processes are started from the main thread only")

    def prepare():
        _die_with_parent()
        if memory_limit is not None:
            resource.setrlimit(resource.RLIMIT_AS, (memory_limit, memory_limit))
    proc = subprocess.Popen(args, start_new_session=True, preexec_fn=prepare, **kwargs)
    with _children_lock:
        _children.append(proc)
    return proc


def stop_process(proc: subprocess.Popen, grace: float = 2.0) -> None:
    """Ends one recorded process (and its process group) by its id."""
    if proc.poll() is None:
        for sig, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, 5.0)):
            try:
                os.killpg(proc.pid, sig)
            except ProcessLookupError:
                break
            try:
                proc.wait(timeout=wait)
                break
            except subprocess.TimeoutExpired:
                continue
    with _children_lock:
        if proc in _children:
            _children.remove(proc)


def cleanup() -> None:
    for hook in reversed(_cleanup_hooks):
        try:
            hook()
        except Exception:
            pass
    _cleanup_hooks.clear()
    with _children_lock:
        procs = list(reversed(_children))
    for proc in procs:
        stop_process(proc, grace=1.0)


def _on_signal(signum, _frame):
    cleanup()
    sys.stderr.write(f"e2e: ended by signal {signum}\n")
    os._exit(128 + signum)


atexit.register(cleanup)
signal.signal(signal.SIGTERM, _on_signal)
signal.signal(signal.SIGINT, _on_signal)


def run(args, timeout: float = 10.0, env=None, input_bytes: bytes | None = None,
        check: bool = True) -> subprocess.CompletedProcess:
    """Runs a short tool to its end, under a time limit."""
    try:
        result = subprocess.run(args, env=env, input=input_bytes, capture_output=True,
                                timeout=timeout)
    except subprocess.TimeoutExpired as exc:
        raise DriverError(f"{args[0]} did not finish within {timeout} s: {' '.join(args)}") from exc
    if check and result.returncode != 0:
        raise DriverError(f"{' '.join(map(str, args))} failed ({result.returncode}): "
                          f"{result.stderr.decode(errors='replace').strip()}")
    return result


def poll(predicate, timeout: float, interval: float = 0.1, what: str = "condition"):
    """Calls predicate until it returns something true or the time is up."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise DriverError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


# ---------------------------------------------------------------- X server

class XServer:
    """An Xvfb on a display number that the server picks itself (-displayfd)."""

    def __init__(self, workdir: str, screen: str = "1280x1024x24", bells: bool = True):
        """screen is Xvfb's WIDTHxHEIGHTxDEPTH; bells=False leaves out the bell
        counter (an 8-bit server has no use for it)."""
        self.workdir = workdir
        self.screen = screen
        self.with_bells = bells
        self.proc: subprocess.Popen | None = None
        self.display = ""
        self.bus = ""
        self.bus_proc: subprocess.Popen | None = None
        self.bells: BellCounter | None = None

    def start(self, timeout: float = 15.0) -> None:
        read_fd, write_fd = os.pipe()
        log_path = os.path.join(self.workdir, f"xvfb-{self.screen}.log")
        log = open(log_path, "ab")
        try:
            self.proc = spawn(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.screen,
                               "-nolisten", "tcp", "-dpi", "96"],
                              pass_fds=(write_fd,), stdout=log, stderr=log, stdin=subprocess.DEVNULL)
        finally:
            os.close(write_fd)
            log.close()
        data = b""
        deadline = time.monotonic() + timeout
        try:
            while not data.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or self.proc.poll() is not None:
                    raise DriverError(f"Xvfb did not report a display (see {log_path})")
                ready, _, _ = select.select([read_fd], [], [], min(left, 0.5))
                if ready:
                    chunk = os.read(read_fd, 64)
                    if not chunk:
                        raise DriverError("Xvfb closed -displayfd without naming a display")
                    data += chunk
        finally:
            os.close(read_fd)
        self.display = ":" + data.decode().strip()
        self.start_bus()
        if self.with_bells:
            self.bells = BellCounter(self)

    def start_bus(self) -> None:
        """The display's own D-Bus session, as a desktop session has one: the
        accessibility bus starts inside it, and no program on the display
        starts a session bus of its own (and writes it into HOME)."""
        log = open(os.path.join(self.workdir, f"dbus-{self.display[1:]}.log"), "ab")
        try:
            self.bus_proc = spawn(["dbus-run-session", "--", "sh", "-c",
                                   'echo "$DBUS_SESSION_BUS_ADDRESS"; exec sleep infinity'],
                                  env=self.env(), stdout=subprocess.PIPE, stderr=log,
                                  stdin=subprocess.DEVNULL)
        finally:
            log.close()
        self.bus = self.bus_proc.stdout.readline().decode().strip()
        if not self.bus:
            raise DriverError("dbus-run-session named no bus")

    def env(self) -> dict:
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": self.display,
               "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8", "HOME": self.workdir}
        if self.bus:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus
        return env

    def tool(self, *args, timeout: float = 10.0, check: bool = True,
             input_bytes: bytes | None = None) -> str:
        """Runs an X command line tool (xdotool, xwininfo, ...) on this display."""
        result = run(["timeout", "-k", "2", str(timeout), *args], timeout=timeout + 5,
                     env=self.env(), check=check, input_bytes=input_bytes)
        return result.stdout.decode(errors="replace")

    def screenshot(self, path: str, window: str = "root") -> bool:
        try:
            run(["timeout", "-k", "2", "15", "import", "-silent", "-window", str(window), path],
                timeout=20, env=self.env())
            return True
        except DriverError:
            return False

    def stop(self) -> None:
        if self.bells:
            self.bells.stop()
        if self.bus_proc:
            stop_process(self.bus_proc)
        if self.proc:
            stop_process(self.proc)


class BellCounter:
    """Counts the bells rung on the display, read from xhelper.py's output."""

    def __init__(self, server: XServer):
        self.count = 0
        self._lock = threading.Lock()
        self._ready = threading.Event()
        self.proc = spawn([sys.executable, os.path.join(HERE, "xhelper.py"), "bells"],
                          env=server.env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL)
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()
        if not self._ready.wait(10):
            raise DriverError("the bell counter did not start: "
                              + (self.proc.stderr.read().decode(errors="replace")
                                 if self.proc.poll() is not None else "no answer"))

    def _read(self):
        for line in self.proc.stdout:
            word = line.strip()
            if word == b"ready":
                self._ready.set()
            elif word == b"bell":
                with self._lock:
                    self.count += 1

    def value(self) -> int:
        with self._lock:
            return self.count

    def wait_for(self, target: int, timeout: float) -> int:
        poll(lambda: self.value() >= target, timeout, 0.05, f"{target} bells (heard {self.value()})")
        return self.value()

    def stop(self):
        stop_process(self.proc)


class Pinger:
    """Asks a window whether its event loop still answers (_NET_WM_PING, through
    xhelper.py), the probe a window manager uses to call a window hung."""

    def __init__(self, server: XServer):
        self._serial = 0
        self._answered: set[int] = set()
        self._cond = threading.Condition()
        self.proc = spawn([sys.executable, os.path.join(HERE, "xhelper.py"), "pings"],
                          env=server.env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)
        if self.proc.stdout.readline().strip() != b"ready":
            raise DriverError("the ping helper did not start: "
                              + self.proc.stderr.read().decode(errors="replace"))
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            word, _, serial = line.strip().partition(b" ")
            if word == b"pong":
                with self._cond:
                    self._answered.add(int(serial))
                    self._cond.notify_all()

    def ping(self, window: str, timeout: float) -> float | None:
        """Seconds until the window answered, or None if it did not within `timeout`."""
        self._serial += 1
        serial = self._serial
        started = time.monotonic()
        self.proc.stdin.write(f"{window} {serial}\n".encode())
        self.proc.stdin.flush()
        with self._cond:
            if not self._cond.wait_for(lambda: serial in self._answered, timeout):
                return None
            self._answered.discard(serial)
        return time.monotonic() - started

    def stop(self):
        stop_process(self.proc)


# ---------------------------------------------------------------- the tree

class Tree:
    """The program's windows as a screen reader finds them: atspi_helper.py,
    asked over a pipe; the events it was told to report gather in `events`."""

    def __init__(self, server: XServer, pid: int):
        self.events: list[dict] = []
        self._lock = threading.Lock()
        self._replies: queue.Queue = queue.Queue()
        self.proc = spawn([ATSPI_PYTHON, os.path.join(HERE, "atspi_helper.py"), str(pid)],
                          env=server.env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)
        threading.Thread(target=self._read, daemon=True).start()
        self.ask("ready")

    def _read(self):
        for line in self.proc.stdout:
            message = json.loads(line)
            if "event" in message:
                with self._lock:
                    self.events.append(message)
            else:
                self._replies.put(message)
        self._replies.put({"error": "the accessibility helper ended: "
                                    + self.proc.stderr.read().decode(errors="replace")[-2000:]})

    def ask(self, *request, timeout: float = 30.0):
        """One request (see atspi_helper.py); "ready" only waits for the helper's start."""
        if request != ("ready",):
            self.proc.stdin.write((json.dumps(request) + "\n").encode())
            self.proc.stdin.flush()
        try:
            message = self._replies.get(timeout=timeout)
        except queue.Empty:
            raise DriverError(f"the accessibility helper did not answer {request} "
                              f"within {timeout} s") from None
        if "error" in message:
            raise DriverError(f"{request}: {message['error']}")
        return message["reply"]

    def find(self, role: str, name: str = ".*", window: str = re.escape(MAIN_CAPTION),
             label: str | None = None, timeout: float = 15.0) -> int:
        return poll(lambda: self.ask("find", role, name, window, label), timeout, 0.2,
                    f"a {role} named {name!r} in the tree")

    def read(self, element: int) -> dict:
        return self.ask("read", element)

    def text(self, element: int, start: int = 0, end: int = -1) -> str:
        return self.ask("text", element, start, end)

    def events_since(self, mark: int) -> list[dict]:
        with self._lock:
            return self.events[mark:]

    def stop(self):
        stop_process(self.proc)


# ---------------------------------------------------------------- the program

@dataclass
class Geometry:
    x: int
    y: int
    width: int
    height: int


class Program:
    """One running kaldrome process and its main window."""

    def __init__(self, server: XServer, binary: str, workdir: str, printers: bool = False,
                 env: dict | None = None):
        """printers=False points the program's CUPS client at a socket where no
        server listens, so that it sees no printer and can never print on the
        machine running the tests; True leaves the system's CUPS in reach.
        env adds to or replaces the program's environment (HOME, PRINTER, ...)."""
        self.server = server
        self.printers = printers
        self.extra_env = dict(env or {})
        self.binary = binary
        self.workdir = workdir
        self.proc: subprocess.Popen | None = None
        self.window = ""
        self._tree: Tree | None = None
        self._found: dict[str, int] = {}
        self._sentinels: list[subprocess.Popen] = []
        self._stderr_path = os.path.join(workdir, "kaldrome.stderr")

    # -- life cycle

    def start(self, timeout: float = 20.0) -> None:
        self.launch()
        self.window = self.wait_for_window(MAIN_CAPTION, timeout)
        self.focus()

    def launch(self, extra_env: dict | None = None, memory_limit: int | None = None) -> None:
        """Starts the program without waiting for its window."""
        env = self.server.env()
        env["QT_QPA_PLATFORM"] = "xcb"
        env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        runtime = tempfile.mkdtemp(prefix="xdg-", dir=self.workdir)
        os.chmod(runtime, 0o700)
        env["XDG_RUNTIME_DIR"] = runtime
        if not self.printers:
            env["CUPS_SERVER"] = os.path.join(self.workdir, "no-cups-here.sock")
        env.update(self.extra_env)
        env.update(extra_env or {})
        err = open(self._stderr_path, "ab")
        try:
            self.proc = spawn([self.binary], env=env, cwd=self.workdir, stdin=subprocess.DEVNULL,
                              stdout=err, stderr=err, memory_limit=memory_limit)
        finally:
            err.close()

    def stop(self) -> None:
        if self._tree:
            self._tree.stop()
        for proc in self._sentinels:
            stop_process(proc)
        self._sentinels.clear()
        if self.proc:
            stop_process(self.proc)

    def alive(self) -> bool:
        return self.proc is not None and self.proc.poll() is None

    def wait_exit(self, timeout: float) -> int:
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired as exc:
            raise DriverError(f"the program was still running {timeout} s later") from exc

    def stderr_text(self) -> str:
        try:
            with open(self._stderr_path, "rb") as f:
                return f.read().decode(errors="replace")
        except OSError:
            return ""

    def _check_alive(self):
        if not self.alive():
            raise DriverError(f"the program ended (status {self.proc.returncode}); "
                              f"its stderr: {self.stderr_text()[-2000:]}")

    # -- windows

    def find_windows(self, caption: str) -> list[str]:
        """Ids of the visible windows whose caption is exactly `caption`."""
        out = self.server.tool("xdotool", "search", "--onlyvisible", "--name",
                               "^" + re.escape(caption) + "$", check=False, timeout=5)
        return [line for line in out.split() if line.isdigit()]

    def wait_for_window(self, caption: str, timeout: float, exclude=()) -> str:
        def found():
            self._check_alive()
            ids = [w for w in self.find_windows(caption) if w not in exclude]
            return ids[-1] if ids else None
        return poll(found, timeout, 0.1, f'a window captioned "{caption}"')

    def wait_window_gone(self, window: str, caption: str, timeout: float) -> None:
        poll(lambda: window not in self.find_windows(caption), timeout, 0.1,
             f'the window "{caption}" to close')

    def focus(self, window: str | None = None) -> None:
        """Gives a window the input focus; without a window manager nobody else does."""
        self._check_alive()
        self.server.tool("xdotool", "windowfocus", "--sync", window or self.window, timeout=5)

    def geometry(self, window: str | None = None) -> Geometry:
        out = self.server.tool("xdotool", "getwindowgeometry", "--shell", window or self.window)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return Geometry(int(values["X"]), int(values["Y"]), int(values["WIDTH"]),
                        int(values["HEIGHT"]))

    # -- the tree

    @property
    def tree(self) -> Tree:
        if self._tree is None:
            self._check_alive()
            self._tree = Tree(self.server, self.proc.pid)
        return self._tree

    def control(self, what: str) -> int:
        """A control of the main window (CONTROLS), found once."""
        if what not in self._found:
            role, name, label = CONTROLS[what]
            self._found[what] = self.tree.find(role, name, label=label)
        return self._found[what]

    def read(self, what: str | int) -> dict:
        """What a screen reader knows of a control (or of an element found in the tree)."""
        return self.tree.read(self.control(what) if isinstance(what, str) else what)

    def showing(self, what: str) -> bool:
        return "showing" in self.read(what)["states"]

    # -- input

    def type_text(self, text: str) -> None:
        self._check_alive()
        self.server.tool("xdotool", "type", "--delay", "40", text)

    def key(self, *keys: str, delay: int = 60) -> None:
        """Presses the keys (xdotool's names, "alt+s" for a chord) one after the
        other, `delay` milliseconds apart."""
        self._check_alive()
        self.server.tool("xdotool", "key", "--delay", str(delay), *keys)

    def click(self, what: str | int, button: int = 1, at: tuple[float, float] = (0.5, 0.5),
              park: bool = False) -> None:
        """Clicks a control (or an element found in the tree) at a point given as
        fractions of its width and height; park moves the pointer away after."""
        self._check_alive()
        x, y, w, h = self.read(what)["extents"]
        self.server.tool("xdotool", "mousemove", str(round(x + w * at[0])),
                         str(round(y + h * at[1])), "click", str(button),
                         *(["mousemove", "0", "0"] if park else []))

    def enter_number(self, text: str) -> None:
        """Types N into the focused number box and presses Enter."""
        self.type_text(text)
        self.key("Return")

    # -- clipboard

    def set_clipboard_sentinel(self, text: str) -> None:
        """Owns the clipboard with a known text, so that any change is seen."""
        for proc in self._sentinels:
            stop_process(proc)
        self._sentinels = []
        proc = spawn(["xclip", "-quiet", "-i", "-selection", "clipboard"], env=self.server.env(),
                     stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        proc.stdin.write(text.encode())
        proc.stdin.close()
        self._sentinels.append(proc)
        poll(lambda: self.read_clipboard() == text.encode(), 5, 0.05, "the clipboard sentinel")

    def read_clipboard(self) -> bytes | None:
        """The clipboard's text as bytes, None when nobody offers text."""
        result = run(["timeout", "-k", "2", "10", "xclip", "-o", "-selection", "clipboard",
                      "-t", "UTF8_STRING"], timeout=15, env=self.server.env(), check=False)
        return result.stdout if result.returncode == 0 else None

    def wait_clipboard_change(self, old: bytes, timeout: float) -> bytes:
        return poll(lambda: (lambda c: c if c is not None and c != old else None)(
            self.read_clipboard()), timeout, 0.1, "the clipboard to change")

    # -- the screen

    def grab(self, window: str | None = None) -> "Picture":
        """The window's current pixels."""
        g = self.geometry(window)
        data = run(["timeout", "-k", "2", "15", "import", "-silent", "-window",
                    window or self.window, "-depth", "8", "rgb:-"], timeout=20,
                   env=self.server.env()).stdout
        if len(data) != g.width * g.height * 3:
            raise DriverError(f"import gave {len(data)} bytes for a {g.width}x{g.height} window")
        return Picture(g.width, g.height, data)

    def screenshot(self, path: str) -> bool:
        return self.server.screenshot(path, self.window) if self.window else False


class Picture:
    def __init__(self, width: int, height: int, rgb: bytes):
        self.width, self.height, self.rgb = width, height, rgb

    def region(self, x: int, y: int, w: int, h: int) -> bytes:
        """The pixels of a rectangle, row after row."""
        return b"".join(self.rgb[((y + row) * self.width + x) * 3:][:w * 3] for row in range(h))
