#!/bin/sh
# sonora-tool's tap, record and record-input commands, each line checked against numpy and sox.
# Usage: taps-scenarios.sh SONORA_TOOL
set -eu
tool=$1
check="/usr/bin/python3 $(dirname "$0")/taps-check.py"
export TAMBERLO_AUDIO_DEVICE=null TAMBERLO_LOG_STDERR=0
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
s="sox -D -r 44100 -c 2 -n -b 16"
$s $T/s.wav synth 102400s sine 1000 vol 0.5
$s $T/z.wav synth 102400s sine 1000 vol 0
$s $T/neg.wav synth 102400s sine 1000 vol 0.3 dcshift -0.5
step() { echo "== $*"; }

step tap raw
$tool tap raw $T/s.wav --buffer 1024 > $T/raw.txt
$check raw $T/s.wav $T/raw.txt 1024
step tap raw --realtime
$tool tap raw $T/s.wav --buffer 1024 --realtime > $T/raw-rt.txt
$check same-lines $T/raw.txt $T/raw-rt.txt
step tap amplitude rms center
$tool tap amplitude $T/s.wav --mode rms --stereo center > $T/rms.txt
$check rms $T/s.wav $T/rms.txt 1024
step tap amplitude peak left
$tool tap amplitude $T/neg.wav --mode peak --stereo left > $T/peak.txt
$check peak $T/neg.wav $T/peak.txt 1024
step tap fft --not-normalized
$tool tap fft $T/s.wav --buffer 1024 --not-normalized > $T/fft.txt
$check fft $T/s.wav $T/fft.txt 1024
step tap fft normalized
$tool tap fft $T/s.wav --buffer 1024 > $T/fftn.txt
$check fftnorm $T/s.wav $T/fftn.txt 1024
step tap fft --padding 1
$tool tap fft $T/s.wav --buffer 1024 --padding 1 --not-normalized > $T/fftp.txt
$check fftpad $T/s.wav $T/fftp.txt 1024
$tool tap fft $T/s.wav --buffer 1024 --padding 1 | awk 'NF != 1024 { exit 1 }'
step tap fft silence
$tool tap fft $T/z.wav --buffer 1024 > $T/fftz.txt
$check zeros $T/z.wav $T/fftz.txt 1024

step record --duration 1.0
$s $T/s3.wav synth 3 sine 440 vol 0.5
$tool record $T/s3.wav $T/r.caf --duration 1.0 > /dev/null
test "$(soxi -s $T/r.caf)" = 45056
$tool dump $T/s3.wav $T/s3.f32
$tool dump $T/r.caf $T/r.f32
$check frames $T/s3.f32 $T/r.f32 45056 2
step record wav
$tool record $T/s3.wav $T/r.wav > /dev/null
test "$(soxi -b $T/r.wav)" = 24
$tool dump $T/r.wav $T/rw.f32
$check frames $T/s3.f32 $T/rw.f32 132300 2
step record --realtime
$tool record $T/s3.wav $T/t.caf --duration 1.0 --realtime > /dev/null
$tool dump $T/t.caf $T/t.f32
cmp $T/r.f32 $T/t.f32

step record-input
sox -D -r 48000 -c 4 -n -b 16 $T/four.wav synth 143360s sine 300 sine 500 sine 700 sine 900 vol 0.5
$tool record-input --input $T/four.wav --channels 0,2 --dir $T/rec --latency 1000 > $T/files.txt
test "$(cat $T/files.txt)" = "$(printf '%s\n%s' "$T/rec/Audio 1 #1.wav" "$T/rec/Audio 3 #1.wav")"
for c in 1 3; do
  f="$T/rec/Audio $c #1.wav"
  test "$(soxi -b "$f")" = 24 && test "$(soxi -c "$f")" = 1 && test "$(soxi -r "$f")" = 48000 && test "$(soxi -s "$f")" = 142360
  $check remix "$f" $T/four.wav $((c - 1)) 1000 142360
done
step record-input again
$tool record-input --input $T/four.wav --channels 0,2 --dir $T/rec --latency 1000 | grep -q "Audio 3 #2.wav"
cmp "$T/rec/Audio 1 #1.wav" "$T/rec/Audio 1 #2.wav"
step record-input --realtime
$tool record-input --input $T/four.wav --channels 0,2 --dir $T/rt --latency 1000 --realtime > /dev/null
cmp "$T/rec/Audio 1 #1.wav" "$T/rt/Audio 1 #1.wav"
cmp "$T/rec/Audio 3 #1.wav" "$T/rt/Audio 3 #1.wav"

step record-input: channel 0 without a free name records nothing, channel 2 its own
mkdir $T/taken
i=1; while [ $i -le 10000 ]; do : > "$T/taken/Audio 1 #$i.wav"; i=$((i + 1)); done
status=0
$tool record-input --input $T/four.wav --channels 0,2 --dir $T/taken --latency 1000 > $T/taken.txt 2> $T/taken.err || status=$?
test $status = 1
test "$(cat $T/taken.txt)" = "$T/taken/Audio 3 #2.wav"
grep -q "channel 0: no free file name" $T/taken.err
if grep -q "in time" $T/taken.err; then exit 1; fi
$check remix "$T/taken/Audio 3 #2.wav" $T/four.wav 2 1000 142360

step record-input into a folder it cannot write
mkdir $T/ro && chmod 555 $T/ro
as_user=""
if [ "$(id -u)" = 0 ]; then chmod 755 $T && as_user="setpriv --reuid=65534 --regid=65534 --clear-groups"; fi
status=0
$as_user $tool record-input --input $T/four.wav --channels 0,2 --dir $T/ro > $T/ro.txt 2> $T/ro.err || status=$?
test $status = 1 && test ! -s $T/ro.txt
grep -q "channel 2: could not create $T/ro/Audio 3 #" $T/ro.err
test -z "$(ls $T/ro)"

step empty and truncated input
sox $T/s.wav $T/empty.wav trim 0 0
test -z "$($tool tap raw $T/empty.wav)"
step tap --buffer longer than the input: a usage error before anything is held
for n in 102401 100000000 4294967295; do
  status=0
  $tool tap raw $T/s.wav --buffer $n > $T/long.txt 2> $T/long.err || status=$?
  test $status = 2 && test ! -s $T/long.txt
  grep -q "is longer than $T/s.wav (102400 frames)" $T/long.err
done
$tool tap raw $T/s.wav --buffer 102400 | awk 'END { if (NR != 1) exit 1 }'
$tool record-input --input $T/empty.wav --channels 0 --dir $T/e > /dev/null
head -c 20000 $T/four.wav > $T/cut.wav
status=0
$tool record-input --input $T/cut.wav --channels 0 --dir $T/c > /dev/null 2>&1 || status=$?
test $status -le 1
echo "all tap scenarios hold"
