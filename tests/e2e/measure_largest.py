#!/usr/bin/env python3
"""Peak memory of the real program for 999,999!, with Copy and Create File.

Usage: python3 tests/e2e/measure_largest.py --binary PATH [--runs N]

Each run starts the program in its own Xvfb, computes 999,999!, copies it
(and reads the clipboard back, as a paste would), creates a file through the
save dialog, and reads the process's peak resident memory (VmHWM). Prints one
line per run and the median.
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import xdriver  # noqa: E402

# The document of 999,999!: "999999!=" CR LF, 795,101 groups of nine characters
# with CR LF after every eighth, CR LF, "Number of digits: 5,565,703".
DOCUMENT_BYTES = 10 + 795101 * 9 + 2 * (795101 // 8) + 2 + 27


def peak_kib(pid: int) -> int:
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise RuntimeError("no VmHWM")


def one_run(binary: str, work: str) -> tuple[float, float]:
    server = xdriver.XServer(work)
    server.start()
    try:
        program = xdriver.Program(server, binary, work)
        program.start()
        before = server.bells.value()
        program.enter_number("999999")
        server.bells.wait_for(before + 1, 900)
        started = peak_kib(program.proc.pid)

        program.set_clipboard_sentinel("sentinel")
        program.focus()
        program.key("ctrl+c")
        copied = program.wait_clipboard_change(b"sentinel", 60)
        # Header, 159,020 lines of digits, the last group, footer (the digits
        # themselves are checked by the suite; Python takes minutes for them).
        if len(copied) != DOCUMENT_BYTES or not copied.startswith(b"999999!=\r\n"):
            raise AssertionError(f"the clipboard holds {len(copied)} bytes, not the document")

        path = os.path.join(work, "Kaldrome999999.txt")
        program.key("ctrl+f")
        dialog = program.wait_for_window(xdriver.SAVE_CAPTION, 20)
        program.focus(dialog)
        program.key("ctrl+a")
        program.type_text(path)
        program.key("Return")
        xdriver.poll(lambda: os.path.exists(path) and os.path.getsize(path) == DOCUMENT_BYTES + 2,
                     60, 0.2, "the file")
        with open(path, "rb") as f:
            if f.read() != copied + b"\r\n":
                raise AssertionError("the file differs from the clipboard")
        time.sleep(0.5)
        peak = peak_kib(program.proc.pid)
        program.stop()
        return started / 1024, peak / 1024
    finally:
        server.stop()
        xdriver.cleanup()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", required=True)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    peaks = []
    for k in range(args.runs):
        with tempfile.TemporaryDirectory(prefix="kaldrome-measure-") as work:
            after_run, peak = one_run(os.path.abspath(args.binary), work)
        peaks.append(peak)
        print(f"run {k + 1}: peak {after_run:.1f} MiB after the run, "
              f"{peak:.1f} MiB after Copy and Create File", flush=True)
    print(f"median peak resident of {args.runs}: {statistics.median(peaks):.1f} MiB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
