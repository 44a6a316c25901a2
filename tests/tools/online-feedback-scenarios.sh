#!/usr/bin/env bash
# The feedback sheet, the rating prompt and the measurement-protocol tracker from the shell: the
# driver posts to a loopback recorder, and what the recorder saw is checked.
#   online-feedback-scenarios.sh TOOLS_DIR
set -euo pipefail
TOOLS=$1
T=$(mktemp -d)
source "$(dirname "$0")/online-shell.sh"

export TZ=UTC HOME=$T/home XDG_CONFIG_HOME=$T/home/.config XDG_DATA_HOME=$T/home/.local/share
export XDG_STATE_HOME=$T/home/.local/state XDG_CACHE_HOME=$T/home/.cache
export TAMBERLO_TRACKING_ID=UA-12345-1 QT_QPA_PLATFORM=offscreen TAMBERLO_LOG_STDERR=0
unset TAMBERLO_ACCOUNT_URL
export LANGUAGE=zh_CN  # the sheet's messages in Chinese
mkdir -p "$HOME"

# 1. Choice and text: one feedback post, dated in the calendar year, and the satisfaction events.
recorder f1 '{}'
drive f1 '[{"do":"init"},{"do":"feedback","choice":1,"text":"  好用  \n","contact":"qq 123","now":"2024-12-30T23:59:59.500"},
  {"do":"wait","seconds":0.5}]'
expect "feedback 1" "$(cat "$T/f1.out")" "feedback: closed=1 hud=none submit=enabled"
/usr/bin/python3 "$HERE/online-feedback-check.py" 1 "$T/f1.log" || failed=1

# 2. The service fails: the sheet stays open and usable.
recorder f2 '{"/Statistics_branch/transit/addData": {"default": 500}}'
drive f2 '[{"do":"init"},{"do":"feedback","choice":0,"text":"坏了","contact":""}]'
expect "feedback 2" "$(cat "$T/f2.out")" "feedback: closed=0 hud=error:提交失败，在稍后再次尝试 submit=enabled"

# 3. Validation: nothing posted; a choice with a blank text closes the sheet and counts the choice.
recorder f3 '{}'
long=$(printf '字%.0s' $(seq 1001))
drive f3 '[{"do":"init"},{"do":"feedback","choice":0,"text":"","contact":""},
  {"do":"feedback","choice":0,"text":"'"$long"'","contact":""},
  {"do":"feedback","choice":2,"text":" \n","contact":""},{"do":"wait","seconds":0.5}]'
expect "feedback 3" "$(cat "$T/f3.out")" "feedback: closed=0 hud=info:请输入反馈信息或选择满意度 submit=enabled
feedback: closed=0 hud=info:反馈文本太长 submit=enabled
feedback: closed=1 hud=none submit=enabled"
/usr/bin/python3 "$HERE/online-feedback-check.py" 3 "$T/f3.log" || failed=1

# 4. The rating prompt: once per version, once ever, remembered across runs.
drive r1 '[{"do":"init"},{"do":"rate-version"},{"do":"rate-version"},{"do":"rate-life"},{"do":"rate-life"}]'
expect "rating 1" "$(cat "$T/r1.out")" "rate-version: requested
rate-version: skipped
rate-life: requested
rate-life: skipped"
drive r2 '[{"do":"init"},{"do":"rate-version"},{"do":"rate-life"}]'
expect "rating 2" "$(cat "$T/r2.out")" "rate-version: skipped
rate-life: skipped"

# 5. The measurement-protocol tracker: routing, escaping and the order of the posts.
recorder m1 '{}'
drive m1 '[{"do":"init"},{"do":"mp-activate","main":"UA-1-1","duplicate":{"dup":"UA-2-2"},"additional":{"add":"UA-3-3"}},
  {"do":"mp-event","category":"dup","action":"a b&c+d=e%f"},{"do":"mp-event","category":"add","action":"x"},
  {"do":"mp-timing","category":"t","variable":"v","time":1200},{"do":"mp-screen","screen":"Home"},
  {"do":"wait","seconds":1}]'
/usr/bin/python3 "$HERE/online-feedback-check.py" 5 "$T/m1.log" || failed=1

exit $failed
