#!/usr/bin/env bash
# CUPS print queues for the end-to-end tests: cups-pdf queues that turn every
# job into a PDF file, each with an output folder of its own.
#
#   cups_setup.sh start QUEUE...  start cupsd if none runs, add each queue
#   cups_setup.sh stop            undo what start did (queues, their cups-pdf
#                                 settings, the cupsd it started)
#   cups_setup.sh outdir QUEUE    print the folder where QUEUE puts its PDFs
#
# The print service may be shared with others on the machine: the queues get
# names no one else uses (the caller picks them), the system's default printer
# is never changed (the program under test finds its queue through PRINTER),
# and a cupsd started here keeps running while other queues remain.
# It changes the machine's print configuration, so it acts only on CI (CI=true)
# as root; anywhere else it says so and does nothing, successfully. The queues
# render with pdftocairo, which keeps the printed text extractable.
set -euo pipefail

PPD_MODEL=lsb/usr/cups-pdf/CUPS-PDF_noopt.ppd
STATE=${KALDROME_CUPS_STATE:-/tmp/kaldrome-cups}
CUPS_ROOT=/etc/cups

say() { echo "cups_setup: $*"; }

if [ "${CI:-}" != "true" ] || [ "$(id -u)" -ne 0 ]; then
    say "skipped: only CI (CI=true, as root) may change the print configuration"
    exit 0
fi

scheduler_running() { lpstat -r 2>/dev/null | grep -q "is running"; }

wait_for() {  # wait_for SECONDS COMMAND...: polls until COMMAND succeeds
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.2
    done
}

outdir() { echo "$STATE/out/$1"; }

install_missing() {
    local need=()
    command -v cupsd >/dev/null || need+=(cups)
    command -v lpadmin >/dev/null || need+=(cups-client)
    command -v lpr >/dev/null || need+=(cups-bsd)
    [ -x /usr/lib/cups/backend/cups-pdf ] || need+=(printer-driver-cups-pdf)
    command -v pdftotext >/dev/null || need+=(poppler-utils)
    [ ${#need[@]} -eq 0 ] && return 0
    say "installing ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]}"
}

start() {
    [ $# -ge 1 ] || {
        echo "usage: $0 start QUEUE..." >&2
        exit 2
    }
    install_missing
    mkdir -p "$STATE"
    if scheduler_running; then
        say "using the running scheduler"
    else
        mkdir -p /run/cups
        # Our own cupsd, in the foreground of a background process we can stop by its id.
        setsid cupsd -f >"$STATE/cupsd.log" 2>&1 &
        echo $! >"$STATE/cupsd.pid"
        if ! wait_for 30 scheduler_running; then
            say "cupsd did not come up:"
            cat "$STATE/cupsd.log" >&2 || true
            exit 1
        fi
        say "started cupsd (pid $(cat "$STATE/cupsd.pid"))"
    fi
    local queue
    for queue in "$@"; do
        if lpstat -p "$queue" >/dev/null 2>&1; then
            say "a queue named $queue exists already; pick another name"
            exit 1
        fi
        echo "$queue" >>"$STATE/queues"
        mkdir -p "$(outdir "$queue")"
        # cups-pdf reads cups-pdf-NAME.conf for the device cups-pdf:/NAME.
        printf 'Out %s\nGrp lpadmin\nDecodeHexStrings 1\n' "$(outdir "$queue")" \
            >"$CUPS_ROOT/cups-pdf-$queue.conf"
        lpadmin -p "$queue" -E -v "cups-pdf:/$queue" -m "$PPD_MODEL" \
            -o pdftops-renderer-default=pdftocairo 2>&1 | grep -v "drivers are deprecated" || true
        cupsenable "$queue"
        cupsaccept "$queue"
        lpstat -p "$queue" >/dev/null || {
            say "the queue $queue did not come up"
            exit 1
        }
        say "queue $queue: PDFs go to $(outdir "$queue")"
    done
}

stop() {
    local queue
    if [ -f "$STATE/queues" ]; then
        while read -r queue; do
            if scheduler_running; then
                cancel -a "$queue" 2>/dev/null || true
                lpadmin -x "$queue" 2>/dev/null || true
            fi
            rm -f "$CUPS_ROOT/cups-pdf-$queue.conf"
        done <"$STATE/queues"
    fi
    if [ -f "$STATE/cupsd.pid" ]; then
        local pid
        pid=$(cat "$STATE/cupsd.pid")
        if [ -n "$(lpstat -v 2>/dev/null)" ]; then
            say "leaving cupsd (pid $pid) running: other queues use it"
        elif kill -0 "$pid" 2>/dev/null; then
            kill "$pid"
            wait_for 15 sh -c "! kill -0 $pid 2>/dev/null" || kill -9 "$pid" 2>/dev/null || true
            say "stopped cupsd (pid $pid)"
        fi
    fi
    rm -rf "$STATE"
}

case "${1:-}" in
    start)
        shift
        start "$@"
        ;;
    stop) stop ;;
    outdir) outdir "${2:?usage: $0 outdir QUEUE}" ;;
    *)
        echo "usage: $0 start QUEUE...|stop|outdir QUEUE" >&2
        exit 2
        ;;
esac
