#!/bin/sh
# The sampler from the shell: a preset written and read back by Python's plistlib, the preset and
# a SoundFont rendered at the notes' pitches, the same notes through a MIDI destination, bad input.
#   sampler-checks.sh SONORA_TOOL
set -eu
tool=$1
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
SF=/usr/share/sounds/sf2/TimGM6mb.sf2
py=/usr/bin/python3
fail() { echo "FAIL: $*" >&2; exit 1; }

sox -n -r 44100 "$T/A4 & B.wav" synth 1 sine 440
"$tool" preset "$T/p.aupreset" --name "Sine & Co" --attack 0.01 --release 0.2 --sample 69:0:127:-:"$T/A4 & B.wav"
"$tool" preset "$T/empty.aupreset" --name "Nothing"
if "$tool" preset "$T/none.aupreset" --name "No envelope" --sample 69:0:127:-:"$T/A4 & B.wav" 2>/dev/null; then
  fail "a preset without attack and release was written"
fi
$py - "$T" <<'PY'
import plistlib, sys
T = sys.argv[1]
with open(T + "/p.aupreset", "rb") as f:
    p = plistlib.load(f)
assert p["name"] == "Sine & Co", p["name"]
layers = p["Instrument"]["Layers"]
assert len(layers) == 1, layers
zone = layers[0]["Zones"][0]
assert zone["root key"] == 69 and zone["min key"] == 0 and zone["max key"] == 127, zone
assert zone["waveform"] == 268435457 and zone["loop enabled"] is False, zone
assert layers[0]["trigger mode"] == 11 and layers[0]["voice count"] == 1, layers[0]
stages = {s["stage"]: s for s in layers[0]["Envelopes"][0]["Stages"]}
assert stages[1]["time"] == 0.01 and stages[5]["time"] == 0.2 and stages[4]["level"] == 1.0, stages
assert p["file-references"] == {"Sample:268435457": T + "/A4 & B.wav"}, p["file-references"]
with open(T + "/empty.aupreset", "rb") as f:
    e = plistlib.load(f)
assert e["name"] == "Nothing" and e["file-references"] == {}, e
assert [l["Zones"] for l in e["Instrument"]["Layers"]] == [[]], e["Instrument"]["Layers"]
PY

"$tool" sampler-render "$T/n81.wav" --seconds 1 --preset "$T/p.aupreset" --note 81
"$tool" sampler-render "$T/n69.wav" --seconds 1 --preset "$T/p.aupreset" --note 69
"$tool" sampler-render "$T/sf69.wav" --seconds 1 --soundfont "$SF" --note 69
"$tool" sampler-render "$T/sf-chord.wav" --seconds 1 --soundfont "$SF" --note 60 --note 64:80 --note 67:90
"$tool" sampler-render "$T/sf-chord-midi.wav" --seconds 1 --soundfont "$SF" --note 60 --note 64:80 --note 67:90 --via-midi
$py - "$T" <<'PY'
import sys, wave
import numpy as np
T = sys.argv[1]
def read(name):
    with open(T + "/" + name, "rb") as f:
        data = f.read()
    # A float WAV: find the "data" chunk.
    at = 12
    while at < len(data):
        cid, size = data[at:at + 4], int.from_bytes(data[at + 4:at + 8], "little")
        if cid == b"data":
            return np.frombuffer(data[at + 8:at + 8 + size], dtype="<f4").reshape(-1, 2)
        at += 8 + size + (size & 1)
    raise SystemExit("no data chunk in " + name)
def peak(x):
    mono = x[:, 0].astype(np.float64)
    spectrum = np.abs(np.fft.rfft(mono * np.hanning(len(mono)), 8 * len(mono)))
    return np.argmax(spectrum) * 44100 / (8 * len(mono))
for name, want in (("n81.wav", 880), ("n69.wav", 440), ("sf69.wav", 440)):
    x = read(name)
    assert len(x) == 44100, (name, len(x))
    assert np.max(np.abs(x)) > 1e-3, name + " is silent"
    f = peak(x)
    assert abs(f - want) <= 2, (name, f, want)
a, b = read("sf-chord.wav"), read("sf-chord-midi.wav")
assert a.shape == b.shape and np.max(np.abs(a)) > 1e-3
assert np.max(np.abs(a - b)) <= 1e-6, np.max(np.abs(a - b))
PY

printf 'not an instrument' > "$T/piano.exs"
for args in "--preset $T/piano.exs" "--soundfont $T/missing.sf2" "--preset $T/missing.aupreset" "--audio $T/missing.wav"; do
  status=0
  "$tool" sampler-render "$T/bad.wav" --seconds 0.1 $args --note 60 2>/dev/null || status=$?
  [ "$status" -eq 1 ] || fail "sampler-render $args exited $status"
done
echo "sampler checks passed"
