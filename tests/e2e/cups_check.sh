#!/usr/bin/env bash
# Checks a printout that went through the PDF queue of cups_setup.sh.
#
#   cups_check.sh QUEUE EXPECTED [SINCE] [TIMEOUT]
#
# QUEUE     the queue the document was printed on
# EXPECTED  a file holding the expected document (lines ending in CR LF or LF)
# SINCE     only PDFs newer than this file count (default: any)
# TIMEOUT   seconds to wait for the queue to empty and the PDF to appear (default 120)
#
# Waits until no job is left in the queue (lpstat -o), takes the newest PDF in
# the queue's output folder and compares its text (pdftotext -layout) with the
# document: one printed line per document line, in order, pages joined. Runs of
# spaces count as one, since a printout keeps where digits stand, not the space
# characters. Exit 0 when they match; 1 with the difference otherwise.
# Acts only where cups_setup.sh acts (CI=true, root).
set -euo pipefail

HERE="$(cd "$(dirname "$0")" && pwd)"
say() { echo "cups_check: $*"; }

if [ "${CI:-}" != "true" ] || [ "$(id -u)" -ne 0 ]; then
    say "skipped: printing is checked only on CI (CI=true, as root)"
    exit 0
fi
[ $# -ge 2 ] || {
    echo "usage: $0 QUEUE EXPECTED [SINCE] [TIMEOUT]" >&2
    exit 2
}
queue=$1
expected=$2
since=${3:-}
timeout=${4:-120}
[ -r "$expected" ] || {
    say "cannot read $expected"
    exit 2
}

outdir=$("$HERE/cups_setup.sh" outdir "$queue")
# The queue lives on the scenario's own print service.
CUPS_SERVER=$("$HERE/cups_setup.sh" socket)
export CUPS_SERVER
end=$((SECONDS + timeout))

# The job leaves the queue once the backend has written the PDF.
while [ -n "$(lpstat -o "$queue" 2>/dev/null)" ]; do
    if [ "$SECONDS" -ge "$end" ]; then
        say "jobs still queued after ${timeout} s:"
        lpstat -o "$queue" >&2 || true
        exit 1
    fi
    sleep 0.5
done

newest() {
    local args=("$outdir" -maxdepth 1 -type f -name '*.pdf')
    [ -n "$since" ] && args+=(-newer "$since")
    find "${args[@]}" -printf '%T@ %p\n' 2>/dev/null | sort -n | tail -n 1 | cut -d' ' -f2-
}

pdf=""
until pdf=$(newest) && [ -n "$pdf" ]; do
    if [ "$SECONDS" -ge "$end" ]; then
        say "no new PDF in $outdir after ${timeout} s"
        ls -la "$outdir" >&2 2>/dev/null || true
        exit 1
    fi
    sleep 0.5
done
# cups-pdf renames the finished file into place; wait until its size settles.
size=-1
while [ "$size" != "$(stat -c %s "$pdf")" ]; do
    size=$(stat -c %s "$pdf")
    sleep 0.5
done

say "checking $pdf"
pdftotext -layout "$pdf" - | python3 -c '
import sys

def lines(text, pages):
    out = []
    for page in (text.split("\f") if pages else [text]):
        rows = [" ".join(row.split()) for row in page.splitlines()]
        while rows and not rows[-1]:
            rows.pop()
        out.extend(rows)
    return out

printed = lines(sys.stdin.read(), pages=True)
with open(sys.argv[1], encoding="utf-8", newline="") as f:
    expected = lines(f.read().replace("\r\n", "\n"), pages=False)
if printed == expected:
    print(f"cups_check: the printout matches the document ({len(expected)} lines)")
    sys.exit(0)
print("cups_check: the printout differs from the document", file=sys.stderr)
for i in range(max(len(printed), len(expected))):
    e = expected[i] if i < len(expected) else "<none>"
    p = printed[i] if i < len(printed) else "<none>"
    if e != p:
        print(f"  line {i + 1}: expected {e!r}, printed {p!r}", file=sys.stderr)
        break
print(f"  {len(expected)} lines expected, {len(printed)} printed", file=sys.stderr)
sys.exit(1)
' "$expected"
