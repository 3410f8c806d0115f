#!/usr/bin/env bash
# A print service of its own for the end-to-end tests: a cupsd with its own
# configuration, spool and socket, and cups-pdf queues that turn every job into
# a PDF file, each with an output folder of its own.
#
#   cups_setup.sh start QUEUE...  start the cupsd, add each queue
#   cups_setup.sh stop            undo what start did (the cupsd, its queues'
#                                 cups-pdf settings, the state folder)
#   cups_setup.sh socket          print the socket of the cupsd that start
#                                 started: CUPS_SERVER for the program and the lp tools
#   cups_setup.sh pause|resume    the cupsd stops answering (SIGSTOP: it takes
#                                 connections and answers nothing), or answers again
#   cups_setup.sh outdir QUEUE    print the folder where QUEUE puts its PDFs
#
# Nothing of the machine's own print service is touched: every scenario talks
# to its cupsd through CUPS_SERVER, so scenarios run side by side and one may
# stop its service. cups-pdf reads its settings from /etc/cups only, so the
# queues get names no one else uses (the caller picks them) for their files
# there. It needs root and changes /etc/cups, so it acts only on CI (CI=true)
# as root; anywhere else it says so and does nothing, successfully. The queues
# render with pdftocairo, which keeps the printed text extractable.
set -euo pipefail

PPD=/usr/share/ppd/cups-pdf/CUPS-PDF_noopt.ppd
STATE=${KALDROME_CUPS_STATE:-/tmp/kaldrome-cups}
CUPS_ROOT=/etc/cups
# The cupsd's files: a folder of its own under /tmp, since its filters run as
# the lp user, who must reach the spool (the state folder may be private).
SERVICE=$(cat "$STATE/service" 2>/dev/null || true)
# The lp tools below talk to this scenario's cupsd only.
export CUPS_SERVER="$SERVICE/cups.sock"

say() { echo "cups_setup: $*"; }

if [ "${CI:-}" != "true" ] || [ "$(id -u)" -ne 0 ]; then
    say "skipped: only CI (CI=true, as root) may change the print configuration"
    exit 0
fi

scheduler_running() { timeout 10 lpstat -r 2>/dev/null | grep -q "is running"; }

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

# The cupsd's own configuration: its socket only, no browsing, no web pages,
# and every operation allowed to the root user of the tests.
write_config() {
    SERVICE=$(mktemp -d /tmp/kaldrome-cupsd-XXXXXX)
    chmod 755 "$SERVICE"
    echo "$SERVICE" >"$STATE/service"
    CUPS_SERVER="$SERVICE/cups.sock"
    mkdir -p "$SERVICE/etc/ppd" "$SERVICE/spool/tmp" "$SERVICE/cache" "$SERVICE/state" \
        "$SERVICE/log"
    cat >"$SERVICE/cups-files.conf" <<EOF
ServerRoot $SERVICE/etc
RequestRoot $SERVICE/spool
TempDir $SERVICE/spool/tmp
CacheDir $SERVICE/cache
StateDir $SERVICE/state
AccessLog $SERVICE/log/access_log
ErrorLog $SERVICE/log/error_log
PageLog $SERVICE/log/page_log
SystemGroup root
EOF
    cat >"$SERVICE/cupsd.conf" <<EOF
Listen $CUPS_SERVER
Browsing No
WebInterface No
LogLevel warn
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
}

start() {
    [ $# -ge 1 ] || {
        echo "usage: $0 start QUEUE..." >&2
        exit 2
    }
    install_missing
    mkdir -p "$STATE"
    write_config
    # In the foreground of a background process we can stop by its id.
    setsid cupsd -f -c "$SERVICE/cupsd.conf" -s "$SERVICE/cups-files.conf" >"$STATE/cupsd.log" 2>&1 &
    echo $! >"$STATE/cupsd.pid"
    if ! wait_for 30 scheduler_running; then
        say "cupsd did not come up:"
        cat "$STATE/cupsd.log" "$SERVICE/log/error_log" >&2 2>/dev/null || true
        exit 1
    fi
    say "started cupsd (pid $(cat "$STATE/cupsd.pid")) on $CUPS_SERVER"
    local queue
    for queue in "$@"; do
        if [ -e "$CUPS_ROOT/cups-pdf-$queue.conf" ]; then
            say "cups-pdf settings for $queue exist already; pick another name"
            exit 1
        fi
        echo "$queue" >>"$STATE/queues"
        mkdir -p "$(outdir "$queue")"
        # cups-pdf reads cups-pdf-NAME.conf for the device cups-pdf:/NAME.
        printf 'Out %s\nGrp lpadmin\nDecodeHexStrings 1\n' "$(outdir "$queue")" \
            >"$CUPS_ROOT/cups-pdf-$queue.conf"
        lpadmin -p "$queue" -E -v "cups-pdf:/$queue" -P "$PPD" \
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

signal_cupsd() {  # signal_cupsd SIGNAL: to the cupsd that start started
    local pid
    pid=$(cat "$STATE/cupsd.pid" 2>/dev/null) || {
        say "no cupsd was started here"
        exit 1
    }
    kill "-$1" "$pid"
}

stop() {
    local queue
    if [ -f "$STATE/queues" ]; then
        while read -r queue; do
            rm -f "$CUPS_ROOT/cups-pdf-$queue.conf"
        done <"$STATE/queues"
    fi
    if [ -f "$STATE/cupsd.pid" ]; then
        local pid
        pid=$(cat "$STATE/cupsd.pid")
        if kill -0 "$pid" 2>/dev/null; then
            kill -CONT "$pid" 2>/dev/null || true  # a paused cupsd cannot end
            kill "$pid"
            wait_for 15 sh -c "! kill -0 $pid 2>/dev/null" || kill -9 "$pid" 2>/dev/null || true
            say "stopped cupsd (pid $pid)"
        fi
    fi
    if [ -n "$SERVICE" ]; then rm -rf "$SERVICE"; fi
    rm -rf "$STATE"
}

case "${1:-}" in
    start)
        shift
        start "$@"
        ;;
    stop) stop ;;
    socket) echo "$CUPS_SERVER" ;;
    pause) signal_cupsd STOP ;;
    resume) signal_cupsd CONT ;;
    outdir) outdir "${2:?usage: $0 outdir QUEUE}" ;;
    *)
        echo "usage: $0 start QUEUE...|stop|socket|pause|resume|outdir QUEUE" >&2
        exit 2
        ;;
esac
