"""The exported document of N!, worked out independently of the program.

Python's math.factorial gives the digits; the few lines below lay them out
the way every export (clipboard, file, printer) must: a header naming N, the
digits in zero-padded groups of seven with eight groups to a line, and a
footer with the digit count grouped by thousands.
"""

import math
import sys

CRLF = "\r\n"

# 999,999! has more than five million digits; lift the conversion guard.
if hasattr(sys, "set_int_max_str_digits"):
    sys.set_int_max_str_digits(0)


def factorial_groups(n: int) -> list[str]:
    """The limbs of n! in base 10^7, most significant first, as 7-digit strings."""
    digits = str(math.factorial(n))
    groups = []
    end = len(digits)
    while end > 0:
        start = max(0, end - 7)
        groups.append(digits[start:end].rjust(7, "0"))
        end = start
    groups.reverse()
    return groups


def display_line(n: int, k: int) -> str:
    """Line k (from 0) of the result box for n!: five groups, then CR LF when full."""
    groups = factorial_groups(n)[5 * k:5 * k + 5]
    return "".join("  " + g for g in groups) + (CRLF if len(groups) == 5 else "")


def digit_count(n: int) -> int:
    return len(str(math.factorial(n)))


def document(n: int, thousands: str = ",") -> str:
    """The result document of n!: what Copy puts on the clipboard."""
    body = []
    for i, group in enumerate(factorial_groups(n), start=1):
        body.append("  " + group)
        if i % 8 == 0:
            body.append(CRLF)
    count = f"{digit_count(n):,}".replace(",", thousands)
    return f"{n}!=" + CRLF + "".join(body) + CRLF + "Number of digits: " + count


def file_bytes(n: int) -> bytes:
    """What Create File writes: the document and one line end, single-byte text."""
    return (document(n) + CRLF).encode("ascii")
