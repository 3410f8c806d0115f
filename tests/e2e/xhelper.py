"""Two small X11 jobs that no installed command line tool does, through libX11.

    python3 xhelper.py bells        prints "ready", then one line "bell" for
                                    every bell rung on the display (XKB
                                    BellNotify), until killed
    python3 xhelper.py close WID    sends WM_DELETE_WINDOW to window WID, the
                                    message a window manager sends when the
                                    user clicks the close box
    python3 xhelper.py maximize WID asks the window manager to maximize window
                                    WID (_NET_WM_STATE, as a pager or a
                                    program would)
    python3 xhelper.py pings        prints "ready", then for every line
                                    "WID SERIAL" read on stdin sends window
                                    WID a _NET_WM_PING carrying SERIAL, and
                                    prints "pong SERIAL" when the window's
                                    event loop answers it on the root window

Run as a child process so that an X I/O error (Xlib exits on it) can only
end the helper, never the test driver.
"""

import ctypes
import ctypes.util
import os
import select
import sys

XKB_USE_CORE_KBD = 0x0100
XKB_BELL_NOTIFY = 8
XKB_BELL_NOTIFY_MASK = 1 << 8
CLIENT_MESSAGE = 33
STRUCTURE_NOTIFY_MASK = 1 << 17
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
SUBSTRUCTURE_REDIRECT_MASK = 1 << 20


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p),
        ("window", ctypes.c_ulong),
        ("message_type", ctypes.c_ulong),
        ("format", ctypes.c_int),
        ("l", ctypes.c_long * 5),
    ]


class XkbAnyEvent(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p),
        ("time", ctypes.c_ulong),
        ("xkb_type", ctypes.c_int),
        ("device", ctypes.c_uint),
    ]


class XEvent(ctypes.Union):
    _fields_ = [
        ("type", ctypes.c_int),
        ("xclient", XClientMessageEvent),
        ("xkb", XkbAnyEvent),
        ("pad", ctypes.c_long * 24),
    ]


def open_x11():
    name = ctypes.util.find_library("X11") or "libX11.so.6"
    x11 = ctypes.CDLL(name)
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
    x11.XkbQueryExtension.argtypes = [ctypes.c_void_p] + [ctypes.POINTER(ctypes.c_int)] * 5
    x11.XkbSelectEvents.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_ulong,
                                    ctypes.c_ulong]
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("xhelper: cannot open the X display")
    return x11, display


def watch_bells():
    x11, display = open_x11()
    opcode, event_base, error_base = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
    major, minor = ctypes.c_int(1), ctypes.c_int(0)
    if not x11.XkbQueryExtension(display, ctypes.byref(opcode), ctypes.byref(event_base),
                                 ctypes.byref(error_base), ctypes.byref(major),
                                 ctypes.byref(minor)):
        sys.exit("xhelper: the X server has no XKB extension")
    if not x11.XkbSelectEvents(display, XKB_USE_CORE_KBD, XKB_BELL_NOTIFY_MASK,
                               XKB_BELL_NOTIFY_MASK):
        sys.exit("xhelper: cannot select XKB bell events")
    x11.XSync(display, 0)
    print("ready", flush=True)
    event = XEvent()
    while True:
        x11.XNextEvent(display, ctypes.byref(event))
        if event.type == event_base.value and event.xkb.xkb_type == XKB_BELL_NOTIFY:
            print("bell", flush=True)


def close_window(wid: int):
    x11, display = open_x11()
    event = XEvent()
    event.xclient.type = CLIENT_MESSAGE
    event.xclient.window = wid
    event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.l[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    event.xclient.l[1] = 0  # CurrentTime
    if not x11.XSendEvent(display, wid, 0, 0, ctypes.byref(event)):
        sys.exit("xhelper: XSendEvent failed")
    x11.XSync(display, 0)


def request_maximize(wid: int):
    x11, display = open_x11()
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    root = x11.XDefaultRootWindow(display)
    event = XEvent()
    event.xclient.type = CLIENT_MESSAGE
    event.xclient.window = wid
    event.xclient.message_type = x11.XInternAtom(display, b"_NET_WM_STATE", 0)
    event.xclient.format = 32
    event.xclient.l[0] = 1  # _NET_WM_STATE_ADD
    event.xclient.l[1] = x11.XInternAtom(display, b"_NET_WM_STATE_MAXIMIZED_VERT", 0)
    event.xclient.l[2] = x11.XInternAtom(display, b"_NET_WM_STATE_MAXIMIZED_HORZ", 0)
    event.xclient.l[3] = 1  # from a normal application
    mask = SUBSTRUCTURE_NOTIFY_MASK | SUBSTRUCTURE_REDIRECT_MASK
    if not x11.XSendEvent(display, root, 0, mask, ctypes.byref(event)):
        sys.exit("xhelper: XSendEvent failed")
    x11.XSync(display, 0)


def answer_pings():
    x11, display = open_x11()
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XConnectionNumber.argtypes = [ctypes.c_void_p]
    x11.XPending.argtypes = [ctypes.c_void_p]
    x11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
    root = x11.XDefaultRootWindow(display)
    protocols = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    ping = x11.XInternAtom(display, b"_NET_WM_PING", 0)
    # Qt sends the answer to the root window's structure (and redirect) listeners.
    x11.XSelectInput(display, root, STRUCTURE_NOTIFY_MASK)
    x11.XSync(display, 0)
    print("ready", flush=True)
    stdin = sys.stdin.fileno()
    pending = b""
    event = XEvent()
    while True:
        while x11.XPending(display):
            x11.XNextEvent(display, ctypes.byref(event))
            c = event.xclient
            if (event.type == CLIENT_MESSAGE and c.window == root and c.message_type == protocols
                    and c.l[0] == ping):
                print(f"pong {c.l[1]}", flush=True)
        ready, _, _ = select.select([stdin, x11.XConnectionNumber(display)], [], [])
        if stdin not in ready:
            continue
        chunk = os.read(stdin, 4096)
        if not chunk:
            return
        pending += chunk
        *lines, pending = pending.split(b"\n")
        for line in lines:
            wid, serial = (int(v, 0) for v in line.split())
            request = XEvent()
            request.xclient.type = CLIENT_MESSAGE
            request.xclient.window = wid
            request.xclient.message_type = protocols
            request.xclient.format = 32
            request.xclient.l[0] = ping
            request.xclient.l[1] = serial  # the timestamp field, handed back unchanged
            request.xclient.l[2] = wid
            x11.XSendEvent(display, wid, 0, 0, ctypes.byref(request))
        x11.XFlush(display)


def main(argv):
    if len(argv) == 2 and argv[1] == "bells":
        watch_bells()
    elif len(argv) == 3 and argv[1] == "close":
        close_window(int(argv[2], 0))
    elif len(argv) == 3 and argv[1] == "maximize":
        request_maximize(int(argv[2], 0))
    elif len(argv) == 2 and argv[1] == "pings":
        answer_pings()
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
