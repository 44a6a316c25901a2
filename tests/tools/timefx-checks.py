#!/usr/bin/python3
"""sonora-tool fx with the reverb, timePitch and variSpeed nodes, checked by measurement.

usage: timefx-checks.py SONORA_TOOL [offline|realtime]

offline: reverb decay times and dry identities, variSpeed and timePitch lengths, pitches, levels,
         burst timing and the rate-1 identity.
realtime: --realtime renders the same samples as the offline render for the three nodes.
Prints one line per check; exits 1 when any fails.
"""
import atexit
import os
import shutil
import subprocess
import sys
import tempfile

try:
    import numpy as np
except ImportError:
    print("numpy missing")
    sys.exit(77)

RATE = 44100
TOOL = sys.argv[1]
MODE = sys.argv[2] if len(sys.argv) > 2 else "offline"
TMP = tempfile.mkdtemp(prefix="timefx-")
atexit.register(shutil.rmtree, TMP, True)
failures = []


def check(name, ok, detail):
    print(("ok   " if ok else "FAIL ") + name + ": " + detail)
    if not ok:
        failures.append(name)


def path(name):
    return os.path.join(TMP, name)


def write(name, mono):
    """A stereo WAV (32-bit float) of the same samples on both channels."""
    raw = path(name + ".f32")
    np.repeat(np.asarray(mono, dtype=np.float32), 2).tofile(raw)
    subprocess.run(["sox", "-t", "f32", "-r", str(RATE), "-c", "2", raw, "-e", "floating-point", "-b", "32", path(name)],
                   check=True)


def read(name):
    """The file's samples as (frames, 2), through `sonora-tool dump`."""
    out = path(name + ".dump")
    subprocess.run([TOOL, "dump", path(name), out], check=True)
    return np.fromfile(out, dtype=np.float32).reshape(-1, 2)


def fx(node, src, dst, *args):
    subprocess.run([TOOL, "fx", node, path(src), path(dst)] + list(args), check=True)
    return read(dst)


def peak_frequency(x):
    """The strongest frequency of x, refined by parabolic interpolation of the log spectrum."""
    w = np.hanning(len(x))
    spectrum = np.abs(np.fft.rfft(x * w)) + 1e-20
    k = int(np.argmax(spectrum[1:])) + 1
    a, b, c = np.log(spectrum[k - 1:k + 2])
    offset = 0.5 * (a - c) / (a - 2 * b + c)
    return (k + offset) * RATE / len(x)


def envelope(x, window=441):
    """RMS over sliding windows of `window` frames, centred."""
    power = np.convolve(x.astype(np.float64) ** 2, np.ones(window) / window, mode="same")
    return np.sqrt(power)


def end_of_sound(x):
    """Seconds after the last sample above a tenth of the peak."""
    loud = np.nonzero(np.abs(x) > 0.1 * np.max(np.abs(x)))[0]
    return (loud[-1] + 1) / RATE


def rt60(x):
    """Decay time from the Schroeder backward integral, by a line fit between −5 and −35 dB."""
    energy = np.cumsum((x.astype(np.float64) ** 2)[::-1])[::-1]
    db = 10 * np.log10(energy / energy[0] + 1e-30)
    start = np.argmax(db <= -5)
    stop = np.argmax(db <= -35)
    t = np.arange(start, stop) / RATE
    slope = np.polyfit(t, db[start:stop], 1)[0]
    return -60.0 / slope


def offline():
    t = np.arange(3 * RATE) / RATE
    write("sine.wav", 0.5 * np.sin(2 * np.pi * 440 * t))
    write("high.wav", 0.5 * np.sin(2 * np.pi * 15000 * t))
    impulse = np.zeros(RATE)
    impulse[0] = 1.0
    write("impulse.wav", impulse)
    burst = np.where(t >= 1.0, 0.5 * np.sin(2 * np.pi * 440 * t), 0.0)
    write("burst.wav", burst)
    noise = np.random.default_rng(7).uniform(-0.3, 0.3, 2 * RATE)
    write("noise.wav", noise)
    dry = read("noise.wav")

    # Reverb: decay times of three presets, fully wet, and the dry identities.
    for preset, expected in ((0, 0.4), (4, 2.5), (8, 5.0)):
        out = fx("reverb", "impulse.wav", "r%d.wav" % preset, "--param", "dryWetMix=1", "--param", "preset=%d" % preset,
                 "--tail", "8")
        for channel in (0, 1):
            measured = rt60(out[:, channel])
            check("reverb preset %d channel %d RT60" % (preset, channel), abs(measured / expected - 1) <= 0.15,
                  "%.3f s, table %.1f s" % (measured, expected))
    for name, args in (("dryWetMix=0", ["--param", "dryWetMix=0"]), ("--stop", ["--stop"])):
        out = fx("reverb", "noise.wav", "rd.wav", *args)
        check("reverb " + name + " identical", out.shape == dry.shape and np.array_equal(out, dry),
              "max difference %.3g" % (np.max(np.abs(out - dry)) if out.shape == dry.shape else float("inf")))

    # VariSpeed at rate 2: half as long, an octave up, and what lies above the new Nyquist filtered.
    out = fx("variSpeed", "sine.wav", "v.wav", "--param", "rate=2")
    end = end_of_sound(out[:, 0])
    check("variSpeed rate=2 length", abs(end - 1.5) <= 0.010, "%.4f s" % end)
    f = peak_frequency(out[int(0.2 * RATE):int(1.3 * RATE), 0])
    check("variSpeed rate=2 pitch", abs(f - 880) <= 1, "%.2f Hz" % f)
    high = read("high.wav")
    out = fx("variSpeed", "high.wav", "vh.wav", "--param", "rate=2")
    ratio = 20 * np.log10(np.sqrt(np.mean(out[:, 0].astype(np.float64) ** 2)) / np.sqrt(np.mean(high[:, 0] ** 2)))
    check("variSpeed rate=2 on 15 kHz", ratio <= -50, "%.1f dB re input" % ratio)

    # TimePitch: tempo without pitch, pitch without tempo, the identity, and a burst's timing.
    out = fx("timePitch", "sine.wav", "t.wav", "--param", "rate=2")
    end = end_of_sound(out[:, 0])
    check("timePitch rate=2 length", abs(end - 1.5) <= 0.020, "%.4f s" % end)
    f = peak_frequency(out[int(0.2 * RATE):int(1.3 * RATE), 0])
    check("timePitch rate=2 pitch", abs(f - 440) <= 2, "%.2f Hz" % f)
    sine = read("sine.wav")
    out = fx("timePitch", "sine.wav", "tp.wav", "--param", "pitch=1200", "--tail", "0.5")
    end = end_of_sound(out[:, 0])
    check("timePitch pitch=1200 length", abs(end - 3.0) <= 0.020, "%.4f s" % end)
    f = peak_frequency(out[int(0.3 * RATE):int(2.7 * RATE), 0])
    check("timePitch pitch=1200 pitch", abs(f - 880) <= 2, "%.2f Hz" % f)
    level = 20 * np.log10(np.sqrt(np.mean(out[int(0.3 * RATE):int(2.7 * RATE), 0].astype(np.float64) ** 2)) /
                          np.sqrt(np.mean(sine[int(0.3 * RATE):int(2.7 * RATE), 0] ** 2)))
    check("timePitch pitch=1200 level", abs(level) <= 1, "%.2f dB" % level)
    out = fx("timePitch", "noise.wav", "ti.wav", "--param", "rate=1", "--param", "pitch=0")
    check("timePitch rate=1 pitch=0 identical", out.shape == dry.shape and np.array_equal(out, dry), "")
    out = fx("timePitch", "burst.wav", "tb.wav", "--param", "rate=2")
    env = envelope(out[:, 0])
    half = np.argmax(env >= 0.5 * np.median(env[int(0.7 * RATE):int(1.3 * RATE)])) / RATE
    check("timePitch rate=2 burst at half level", abs(half - 0.5) <= 0.020, "%.4f s" % half)


def realtime():
    t = np.arange(2 * RATE) / RATE
    write("mix.wav", 0.3 * np.sin(2 * np.pi * 440 * t) + 0.1 * np.random.default_rng(3).uniform(-1, 1, len(t)))
    for node, args in (("reverb", ["--param", "dryWetMix=0.5", "--tail", "1"]), ("timePitch", ["--param", "rate=1.5",
                       "--param", "pitch=300"]), ("variSpeed", ["--param", "rate=0.7"])):
        a = fx(node, "mix.wav", "a.wav", *args)
        b = fx(node, "mix.wav", "b.wav", *args, "--realtime")
        same = a.shape == b.shape and np.max(np.abs(a - b)) <= 1e-6
        check(node + " --realtime = offline", same,
              "max difference %.3g" % (np.max(np.abs(a - b)) if a.shape == b.shape else float("inf")))


offline() if MODE == "offline" else realtime()
sys.exit(1 if failures else 0)
