#!/usr/bin/env bash
# The account client and state from the shell: the driver posts to a loopback service that
# verifies every request, and what it saw, the driver's lines and the defaults file are checked.
#   account-scenarios.sh TOOLS_DIR
set -euo pipefail
TOOLS=$1
HERE=$(cd "$(dirname "$0")" && pwd)
T=$(mktemp -d)
RECORDER=
cleanup() {
    [ -n "$RECORDER" ] && kill "$RECORDER" 2>/dev/null || true
    rm -rf "$T"
}
trap cleanup EXIT

export HOME=$T/home XDG_CONFIG_HOME=$T/home/.config XDG_DATA_HOME=$T/home/.local/share
export XDG_STATE_HOME=$T/home/.local/state XDG_CACHE_HOME=$T/home/.cache
export QT_QPA_PLATFORM=offscreen TAMBERLO_LOG_STDERR=1
unset TAMBERLO_EVENTLOG_URL TAMBERLO_COLLECT_URL TAMBERLO_FEEDBACK_URL TAMBERLO_TRACKING_ID
mkdir -p "$HOME"
DEFAULTS=$XDG_CONFIG_HOME/Tamberlo/Tamberlo.ini
API=/appPay/api
failed=0

# service NAME CONFIG_JSON: starts a verifying service logging to $T/NAME.log.
service() {
    [ -n "$RECORDER" ] && kill "$RECORDER" 2>/dev/null || true
    echo "$2" > "$T/$1.json"
    /usr/bin/python3 "$HERE/account-recorder.py" "$T/$1.port" "$T/$1.log" "$T/$1.json" &
    RECORDER=$!
    for _ in $(seq 200); do [ -f "$T/$1.port" ] && break; sleep 0.05; done
    touch "$T/$1.log"
    export TAMBERLO_ACCOUNT_URL=http://127.0.0.1:$(cat "$T/$1.port")
}

# drive NAME STEPS_JSON: runs the driver; its output goes to $T/NAME.out and $T/NAME.err.
drive() {
    echo "$2" > "$T/$1.steps.json"
    "$TOOLS/tamberlo-online" "$T/$1.steps.json" > "$T/$1.out" 2> "$T/$1.err" || true
}

expect() {  # expect DESCRIPTION ACTUAL WANTED
    if [ "$2" != "$3" ]; then echo "$1: got '$2', want '$3'"; failed=1; fi
}

# field LOG N EXPRESSION: a Python expression over the N-th request `r` and its body `b`.
field() {
    /usr/bin/python3 -c "import json,sys; rs=[json.loads(l) for l in open(sys.argv[1])]; r=rs[int(sys.argv[2])]; b=json.loads(r['body']); print($3)" "$1" "$2"
}

# 1. Codes for signing in and for a new password: both verified, each with its own nonce and sign.
service s1 "{\"$API/app/sms/getSecurityCode\": {\"default\": {\"status\": 200, \"body\": \"{\\\"succ\\\":true,\\\"msg\\\":\\\"已发送\\\"}\"}}}"
drive s1 '[{"do":"account-api","op":"fetchSmsCode","mobile":"13800138000","isRegister":true},
  {"do":"account-api","op":"fetchSmsCode","mobile":"13800138000","isRegister":false}]'
expect "scenario 1 lines" "$(cat "$T/s1.out")" "account-api: error=0 reply=1 succ=1 msg=已发送
account-api: error=0 reply=1 succ=1 msg=已发送"
expect "scenario 1 smsType" "$(field "$T/s1.log" 0 "b['smsType']") $(field "$T/s1.log" 1 "b['smsType']")" "1 2"
expect "scenario 1 verified" "$(field "$T/s1.log" 0 "r['refused']") $(field "$T/s1.log" 1 "r['refused']")" "None None"
[ "$(field "$T/s1.log" 0 "b['noncestr']")" != "$(field "$T/s1.log" 1 "b['noncestr']")" ] || { echo "scenario 1: same nonce"; failed=1; }
[ "$(field "$T/s1.log" 0 "b['sign']")" != "$(field "$T/s1.log" 1 "b['sign']")" ] || { echo "scenario 1: same sign"; failed=1; }

# 2. A refused password (500 with an object) reaches the caller; plain text is no reply.
service s2 "{\"$API/user/info/login\": {\"default\": {\"status\": 500, \"body\": \"{\\\"succ\\\":false,\\\"msg\\\":\\\"密码错误\\\"}\"}},
  \"$API/user/info/verificationCodeLogin\": {\"default\": {\"status\": 200, \"type\": \"text/plain\", \"body\": \"oops\"}}}"
drive s2 '[{"do":"account-api","op":"login","mobile":"13800138000","password":"pw-123456"},
  {"do":"account-api","op":"loginSms","mobile":"13800138000","code":"1234"}]'
expect "scenario 2 lines" "$(cat "$T/s2.out")" "account-api: error=0 reply=1 succ=0 msg=密码错误
account-api: error=0 reply=0 succ=0 msg="
expect "scenario 2 verified" "$(field "$T/s2.log" 0 "r['refused']") $(field "$T/s2.log" 1 "r['refused']")" "None None"
grep -q "verificationCodeLogin" "$T/s2.err" || { echo "scenario 2: nothing logged to stderr"; failed=1; }

# 3. The stored token signs in and the new session is stored, privately.
service s3 "{\"$API/user/info/tokenLogin\": {\"default\": {\"status\": 200, \"body\": \"{\\\"succ\\\":true,\\\"msg\\\":\\\"ok\\\",\\\"data\\\":{\\\"accessToken\\\":\\\"TOKEN-B7-SECRET\\\",\\\"mobile\\\":\\\"13800138000\\\",\\\"userId\\\":\\\"u1\\\"}}\"}}}"
drive s3 '[{"do":"store-session","token":"T0-OLD-TOKEN","mobile":"13900000000","userId":"u0"},{"do":"userinfo"}]'
expect "scenario 3 line" "$(cat "$T/s3.out")" "userinfo: mobile=13800138000 userId=u1 token=set"
expect "scenario 3 token sent" "$(field "$T/s3.log" 0 "b['accessToken']") $(field "$T/s3.log" 0 "r['refused']")" "T0-OLD-TOKEN None"
grep -q "TOKEN-B7-SECRET" "$DEFAULTS" || { echo "scenario 3: the new token is not stored"; failed=1; }
expect "scenario 3 defaults mode" "$(stat -c %a "$DEFAULTS")" 600
for secret in TOKEN-B7-SECRET T0-OLD-TOKEN pw-123456; do
    if grep -q -- "$secret" "$T"/s*.out "$T"/s*.err; then echo "scenario 3: $secret printed"; failed=1; fi
done

# 4. With the service gone the stored session answers at once; a refused token gives none and stays.
kill "$RECORDER" 2>/dev/null || true
wait "$RECORDER" 2>/dev/null || true
RECORDER=
start=$(date +%s%N)
drive s4a '[{"do":"userinfo"}]'
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
expect "scenario 4 offline line" "$(cat "$T/s4a.out")" "userinfo: mobile=13800138000 userId=u1 token=set"
[ "$elapsed" -lt 5000 ] || { echo "scenario 4: the offline sign-in took ${elapsed} ms"; failed=1; }
service s4b "{\"$API/user/info/tokenLogin\": {\"default\": {\"status\": 200, \"body\": \"{\\\"succ\\\":false,\\\"msg\\\":\\\"token过期\\\"}\"}}}"
drive s4b '[{"do":"userinfo"}]'
expect "scenario 4 refused line" "$(cat "$T/s4b.out")" "userinfo: none"
grep -q "TOKEN-B7-SECRET" "$DEFAULTS" || { echo "scenario 4: the refused token was removed"; failed=1; }

exit $failed
