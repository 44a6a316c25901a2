#!/usr/bin/env bash
# The online services from the shell: the driver posts to a loopback recorder, and what the
# recorder saw, the queue file and the defaults file are checked.
#   online-scenarios.sh TOOLS_DIR
set -euo pipefail
TOOLS=$1
T=$(mktemp -d)
source "$(dirname "$0")/online-shell.sh"

export HOME=$T/home XDG_CONFIG_HOME=$T/home/.config XDG_DATA_HOME=$T/home/.local/share
export XDG_STATE_HOME=$T/home/.local/state XDG_CACHE_HOME=$T/home/.cache
export TAMBERLO_TRACKING_ID=UA-12345-1 QT_QPA_PLATFORM=offscreen TAMBERLO_LOG_STDERR=0
unset TAMBERLO_FEEDBACK_URL TAMBERLO_ACCOUNT_URL
mkdir -p "$HOME"
DB=$XDG_DATA_HOME/io.tamberlo.Tamberlo/WebAnalytics.storedata

# 1. The launch event is retried until accepted; the batch is refused and its rows stay.
recorder s1 '{"/api/log/receive": {"default": 200, "events": {"wm_launch_event": [500, 500]}}, "/batch": {"default": 503}}'
drive s1 '[{"do":"init"},{"do":"launch"},{"do":"page","page":"VC_Home","action":"Action_Export"},
  {"do":"funnel","name":"Complete_Export","step":"export_start","order":1},
  {"do":"funnel","name":"Complete_Export","step":"export_format","order":2},
  {"do":"dispatch"},{"do":"wait","seconds":3.5}]'
expect "scenario 1 dispatch" "$(cat "$T/s1.out")" "dispatch: YES"
/usr/bin/python3 "$HERE/online-check.py" 1 "$T/s1.log" || failed=1
expect "scenario 1 rows" "$(sqlite3 "$DB" 'select count(*) from Record')" 2
expect "scenario 1 defaults mode" "$(stat -c %a "$XDG_CONFIG_HOME/Tamberlo/Tamberlo.ini")" 600

# 2. A batch that hangs is in flight: no second one; killed, every row is still there.
recorder s2 '{"/batch": {"default": "hang"}}'
drive s2 '[{"do":"init"},{"do":"page","page":"VC_Home","action":"Action_Add"},{"do":"dispatch"},{"do":"wait","seconds":1},{"do":"kill"}]'
expect "scenario 2 dispatch" "$(cat "$T/s2.out")" "dispatch: NO"
/usr/bin/python3 "$HERE/online-check.py" 2 "$T/s2.log" || failed=1
expect "scenario 2 rows" "$(sqlite3 "$DB" 'select count(*) from Record')" 3

# 3. Accepted at the next start: the three lines go out once and are gone.
recorder s3 '{"/batch": {"default": 200}}'
drive s3 '[{"do":"init"},{"do":"wait","seconds":2}]'
/usr/bin/python3 "$HERE/online-check.py" 3 "$T/s3.log" "$T/s1.log" || failed=1
expect "scenario 3 rows" "$(sqlite3 "$DB" 'select count(*) from Record')" 0

# 4. An offline first launch: its launch and activation records go out at the next start.
export HOME=$T/home4 XDG_CONFIG_HOME=$T/home4/.config XDG_DATA_HOME=$T/home4/.local/share
export XDG_STATE_HOME=$T/home4/.local/state XDG_CACHE_HOME=$T/home4/.cache
mkdir -p "$HOME"
recorder s4a '{"/api/log/receive": {"default": 503}}'
drive s4a '[{"do":"init"},{"do":"launch"},{"do":"wait","seconds":1.5},{"do":"kill"}]'
recorder s4b '{"/api/log/receive": {"default": 200}}'
drive s4b '[{"do":"init"},{"do":"launch"},{"do":"wait","seconds":2}]'
/usr/bin/python3 "$HERE/online-check.py" 4 "$T/s4b.log" "$T/s4a.log" || failed=1

exit $failed
