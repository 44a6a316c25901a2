# Shared by the online services' shell scenarios (sourced): a loopback recorder, the driver and
# the comparison. Needs T (a scratch folder) and TOOLS (where tamberlo-online is); sets RECORDER
# and `failed`.
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
RECORDER=
failed=0
cleanup() {
    [ -n "$RECORDER" ] && kill "$RECORDER" 2>/dev/null || true
    rm -rf "$T"
}
trap cleanup EXIT

# recorder NAME CONFIG_JSON: starts a recorder logging to $T/NAME.log; every endpoint points at it.
recorder() {
    [ -n "$RECORDER" ] && kill "$RECORDER" 2>/dev/null || true
    echo "$2" > "$T/$1.json"
    rm -f "$T/$1.port"
    /usr/bin/python3 "$HERE/online-recorder.py" "$T/$1.port" "$T/$1.log" "$T/$1.json" &
    RECORDER=$!
    for _ in $(seq 100); do [ -f "$T/$1.port" ] && break; sleep 0.05; done
    touch "$T/$1.log"
    export TAMBERLO_EVENTLOG_URL=http://127.0.0.1:$(cat "$T/$1.port")
    export TAMBERLO_COLLECT_URL=$TAMBERLO_EVENTLOG_URL TAMBERLO_FEEDBACK_URL=$TAMBERLO_EVENTLOG_URL
}

# drive NAME STEPS_JSON: runs the driver; its standard output goes to $T/NAME.out.
drive() {
    echo "$2" > "$T/$1.steps.json"
    "$TOOLS/tamberlo-online" "$T/$1.steps.json" > "$T/$1.out" || true
}

expect() {  # expect DESCRIPTION ACTUAL WANTED
    if [ "$2" != "$3" ]; then echo "$1: got '$2', want '$3'"; failed=1; fi
}
