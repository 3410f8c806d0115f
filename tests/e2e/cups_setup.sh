#!/usr/bin/env bash
# A CUPS print queue for the end-to-end tests: a cups-pdf queue named PDF that
# turns every job into a PDF file, made the default printer.
#
#   cups_setup.sh start    start cupsd if none runs, add the queue, make it the default
#   cups_setup.sh stop     undo exactly what start did (queue, default, cupsd)
#   cups_setup.sh outdir   print the folder where cups-pdf puts the jobs of this user
#
# It changes the machine's print configuration, so it acts only on CI (CI=true)
# as root; anywhere else it says so and does nothing, successfully. The queue
# renders with pdftocairo, which keeps the printed text extractable.
set -euo pipefail

QUEUE=PDF
PPD_MODEL=lsb/usr/cups-pdf/CUPS-PDF_noopt.ppd
STATE=${KALDROME_CUPS_STATE:-/tmp/kaldrome-cups}
CONF=/etc/cups/cups-pdf.conf

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

# The literal ${HOME} and ${USER} of cups-pdf.conf are replaced here, not by the shell.
# shellcheck disable=SC2016
outdir() {
    # cups-pdf writes to its "Out" setting, with ${HOME} and ${USER} of the
    # job's owner: the user who runs the program, that is this user.
    local out
    out=$(awk '$1 == "Out" { $1 = ""; sub(/^ +/, ""); print; exit }' "$CONF" 2>/dev/null || true)
    [ -n "$out" ] || out='/var/spool/cups-pdf/${USER}'
    local user home
    user=$(id -un)
    home=$(getent passwd "$user" | cut -d: -f6)
    out=${out//'${HOME}'/$home}
    out=${out//'${USER}'/$user}
    echo "$out"
}

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

    local previous
    previous=$(lpstat -d 2>/dev/null | sed -n 's/^system default destination: //p')
    [ -f "$STATE/previous-default" ] || echo "$previous" >"$STATE/previous-default"
    if ! lpstat -p "$QUEUE" >/dev/null 2>&1; then
        lpadmin -p "$QUEUE" -E -v cups-pdf:/ -m "$PPD_MODEL" -o pdftops-renderer-default=pdftocairo
        touch "$STATE/queue-added"
    fi
    lpadmin -d "$QUEUE"
    cupsenable "$QUEUE"
    cupsaccept "$QUEUE"
    wait_for 20 sh -c "lpstat -d 2>/dev/null | grep -q ': $QUEUE\$'" || {
        say "the queue $QUEUE did not become the default"
        exit 1
    }
    mkdir -p "$(outdir)"
    say "queue $QUEUE is the default printer; PDFs go to $(outdir)"
}

stop() {
    if scheduler_running; then
        if [ -f "$STATE/queue-added" ]; then
            cancel -a "$QUEUE" 2>/dev/null || true
            lpadmin -x "$QUEUE" || true
        fi
        local previous=""
        [ -f "$STATE/previous-default" ] && previous=$(cat "$STATE/previous-default")
        if [ -n "$previous" ] && [ "$previous" != "$QUEUE" ] && lpstat -p "$previous" >/dev/null 2>&1; then
            lpadmin -d "$previous" || true
        fi
    fi
    if [ -f "$STATE/cupsd.pid" ]; then
        local pid
        pid=$(cat "$STATE/cupsd.pid")
        if kill -0 "$pid" 2>/dev/null; then
            kill "$pid"
            wait_for 15 sh -c "! kill -0 $pid 2>/dev/null" || kill -9 "$pid" 2>/dev/null || true
            say "stopped cupsd (pid $pid)"
        fi
    fi
    rm -rf "$STATE"
}

case "${1:-}" in
    start) start ;;
    stop) stop ;;
    outdir) outdir ;;
    *)
        echo "usage: $0 start|stop|outdir" >&2
        exit 2
        ;;
esac
