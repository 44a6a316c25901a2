#!/usr/bin/python3
# The effect nodes from the shell: `sonora-tool fx NODE ...` on fixtures made here (sox and
# numpy), outputs read back with `sonora-tool dump` and measured with numpy.
#
#   effect-nodes-checks.py SONORA_TOOL [offline|realtime]
#
# Prints one line per check and "N passed, M failed"; exits 1 when any check failed.
import os
import subprocess
import sys
import tempfile

import numpy as np

RATE = 44100
TOOL = sys.argv[1]
MODE = sys.argv[2] if len(sys.argv) > 2 else "offline"
WORK = tempfile.mkdtemp(prefix="effect-nodes-")
results = []


def path(name):
    return os.path.join(WORK, name)


def run(args):
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(" ".join(args) + " failed: " + done.stderr.strip())
    return done.stdout


def write(name, samples):
    """Writes frames × channels (or one channel) of floats as a 32-bit float WAV file."""
    data = np.asarray(samples, dtype=np.float32)
    if data.ndim == 1:
        data = np.stack([data, data], axis=1)
    raw = path(name + ".f32")
    data.tofile(raw)
    run(["sox", "-t", "f32", "-r", str(RATE), "-c", str(data.shape[1]), raw, path(name)])
    return path(name)


def read(name):
    """The file's samples as frames × channels, through `sonora-tool dump`."""
    raw = path(name + ".dump")
    run([TOOL, "dump", path(name), raw])
    data = np.fromfile(raw, dtype="<f4")
    return data.reshape(-1, 2)


def fx(node, source, out, *options, params=()):
    args = [TOOL, "fx", node, source, path(out)]
    for p in params:
        args += ["--param", p]
    return run(args + list(options))


def check(name, ok, detail=""):
    results.append(ok)
    print(("ok    " if ok else "FAIL  ") + name + ("" if ok else "  " + detail), flush=True)


def decibels(x):
    return 20 * np.log10(max(float(x), 1e-30))


def sine(frequency, amplitude, seconds):
    n = np.arange(int(seconds * RATE))
    return amplitude * np.sin(2 * np.pi * frequency * n / RATE)


def noise_fixture():
    run(["sox", "-n", "-r", str(RATE), "-c", "2", "-b", "16", path("n.wav"), "synth", "5", "whitenoise", "gain", "-10"])
    return path("n.wav")


def filters_match_sox():
    noise = noise_fixture()
    cases = [
        ("lowPassFilter", ["cutoffFrequency=1000", "resonance=-3.0103"], ["lowpass", "1000", "0.707107q"]),
        ("highPassFilter", ["cutoffFrequency=300", "resonance=6.0206"], ["highpass", "300", "2q"]),
        ("bandPassFilter", ["centerFrequency=5000", "bandwidth=600"], ["bandpass", "5000", "0.5o"]),
        ("parametricEQ", ["centerFreq=2000", "q=1", "gain=6"], ["equalizer", "2000", "1q", "6"]),
        ("highShelfFilter", ["cutOffFrequency=12000", "gain=6"], ["treble", "6", "12000", "1s"]),
        ("lowShelfFilter", ["cutoffFrequency=80", "gain=-6"], ["bass", "-6", "80", "1s"]),
    ]
    for node, params, effect in cases:
        fx(node, noise, node + ".wav", params=params)
        run(["sox", noise, "-e", "floating-point", "-b", "32", path(node + "-sox.wav")] + effect)
        ours, theirs = read(node + ".wav"), read(node + "-sox.wav")
        if ours.shape != theirs.shape:
            check(node + " has the length of sox's output", False, f"{ours.shape} vs {theirs.shape}")
            continue
        a, b = ours[:, 0].astype(np.float64), theirs[:, 0].astype(np.float64)
        lags = range(-3, 4)
        best = max(lags, key=lambda k: float(np.dot(np.roll(a, k), b)))
        residual = decibels(np.sqrt(np.mean((ours - theirs) ** 2)) / np.sqrt(np.mean(theirs ** 2)))
        check(f"{node} matches sox {' '.join(effect)} (lag 0, residual {residual:.1f} dB)",
              best == 0 and residual <= -80, f"lag {best}")
    fx("lowPassFilter", noise, "stopped.wav", "--stop", params=["cutoffFrequency=1000"])
    check("a stopped node passes its input through unchanged", np.array_equal(read("stopped.wav"), read("n.wav")))


def delay_echoes():
    impulse = np.zeros(3 * RATE)
    impulse[0] = 1
    source = write("impulse.wav", impulse)
    fx("delay", source, "d0.wav", params=["time=0.5", "feedback=0", "dryWetMix=100"])
    out = read("d0.wav")[:, 0]
    rest = np.delete(out, 22050)
    check("delay 0.5 s without feedback: 1.0 at frame 22050, silence elsewhere",
          abs(out[22050] - 1) <= 1e-6 and np.max(np.abs(rest)) <= 1e-6, f"{out[22050]} / {np.max(np.abs(rest))}")
    fx("delay", source, "d50.wav", params=["time=0.5", "feedback=50", "dryWetMix=100"])
    out = read("d50.wav")[:, 0]
    sums = [float(np.sum(out[22050 * k:22050 * (k + 1)])) for k in range(1, 6)]
    check("delay feedback 50: echo k sums to 0.5^(k-1)",
          all(abs(s - 0.5 ** k) <= 1e-3 for k, s in enumerate(sums)), str(sums))
    dc = write("dc.wav", np.full(2 * RATE, 0.5))
    for mix, level in ((100, 1.0), (50, 0.75)):
        fx("delay", dc, f"ddc{mix}.wav", params=["time=0.05", "feedback=50", f"dryWetMix={mix}"])
        tail = read(f"ddc{mix}.wav")[-RATE // 2:]
        check(f"delay on DC, feedback 50, mix {mix}: settles at {level}",
              np.max(np.abs(tail - level)) <= 1e-4, str(np.max(np.abs(tail - level))))


def dynamics():
    loud = write("sine05.wav", sine(1000, 0.5, 2))
    out = fx("compressor", loud, "c.wav", "--meters", params=["threshold=-20", "headRoom=5"])
    tail = read("c.wav")[-RATE // 2:]
    peak = decibels(np.max(np.abs(tail)))
    meters = [float(v) for v in out.split()[1:4]] if out.startswith("meters ") else [np.nan] * 3
    gain = peak - decibels(0.5)
    check(f"compressor -20/5 on a 0.5 sine: peak {peak:.2f} dBFS", abs(peak + 15.3) <= 0.5)
    check(f"compressor meters {meters}: input -6.0, gain {gain:.2f}",
          abs(meters[1] + 6.0) <= 0.5 and abs(meters[0] - gain) <= 0.3)
    quiet_signal = sine(1000, 10 ** (-30 / 20), 2)
    quiet = write("sine30.wav", quiet_signal)
    fx("compressor", quiet, "cq.wav", params=["threshold=-20", "headRoom=5"])
    check("compressor leaves a -30 dBFS sine alone",
          np.max(np.abs(read("cq.wav")[:, 0] - quiet_signal.astype(np.float32))) <= 1e-6)
    softer = write("sine40.wav", sine(1000, 10 ** (-40 / 20), 2))
    fx("expander", softer, "e.wav", params=["expansionRatio=2", "expansionThreshold=-30"])
    peak = decibels(np.max(np.abs(read("e.wav")[-RATE // 2:])))
    check(f"expander 2:1 below -30 on -40 dBFS: {peak:.2f} dBFS", abs(peak + 50) <= 0.5)

    fx("peakLimiter", loud, "l18.wav", params=["preGain=18.06"])
    top = float(np.max(np.abs(read("l18.wav"))))
    check(f"peakLimiter +18.06 dB: max |out| {top:.7f} <= 1", top <= 1 + 1e-6)
    fx("peakLimiter", loud, "l0.wav", params=["preGain=0"])
    out, source = read("l0.wav")[:, 0], sine(1000, 0.5, 2).astype(np.float32)
    check("peakLimiter below the ceiling: the input delayed 529 frames",
          np.max(np.abs(out[529:] - source[:-529])) <= 1e-6 and np.max(np.abs(out[:529])) == 0)


def distortion_family():
    tone = write("sine300.wav", sine(300, 0.5, 2))
    fx("ringModulator", tone, "r.wav", params=["ringModFreq1=1000", "ringModFreq2=1000", "finalMix=100"])
    window = read("r.wav")[RATE:2 * RATE, 0].astype(np.float64)
    spectrum = 2 * np.abs(np.fft.rfft(window)) / len(window)
    levels = {f: decibels(spectrum[f]) for f in (300, 700, 1300)}
    check(f"ringModulator 1000 Hz on 300 Hz: {levels}",
          all(abs(levels[f] - decibels(0.25)) <= 0.5 for f in (700, 1300)) and levels[300] <= -60)

    loud = write("sine05.wav", sine(1000, 0.5, 2))
    fx("decimator", loud, "dec0.wav", params=["decimation=0", "rounding=0", "finalMix=100"])
    check("decimator at 0: the input unchanged", np.array_equal(read("dec0.wav"), read("sine05.wav")))
    # Float noise: no two held values are equal by chance.
    noise = write("fn.wav", np.random.default_rng(3).uniform(-0.3, 0.3, (5 * RATE, 2)))
    fx("decimator", noise, "dec50.wav", params=["decimation=50", "rounding=0", "finalMix=100"])
    out = read("dec50.wav")[:, 0]
    changes = np.flatnonzero(np.diff(out) != 0) + 1
    runs = np.diff(np.concatenate(([0], changes, [len(out)])))
    per_second = len(runs) / (len(out) / RATE)
    check(f"decimator at 50: runs of 1-2 frames, {per_second:.0f} runs per second",
          runs.min() >= 1 and runs.max() <= 2 and abs(per_second - 22270) <= 222.7)

    dc = write("dc.wav", np.full(2 * RATE, 0.5))
    fx("distortion", dc, "dist.wav", "--automate", "finalMix:0@0.3+0.5",
       params=["linearTerm=0", "squaredTerm=0", "cubicTerm=0", "polynomialMix=100", "delayMix=0",
               "decimationMix=0", "ringModMix=0", "finalMix=100"])
    out = read("dist.wav")[:, 0].astype(np.float64)
    expected = 0.5 * np.clip((np.arange(len(out)) - 13230) / 22050, 0, 1)
    check("distortion: an automated final mix lands on its frames",
          np.max(np.abs(out - expected)) <= 5e-6, str(np.max(np.abs(out - expected))))


def realtime_matches_offline():
    noise = write("n1.wav", np.random.default_rng(7).uniform(-0.3, 0.3, (RATE, 2)))
    params = ["cutoffFrequency=1000", "resonance=3"]
    fx("lowPassFilter", noise, "off.wav", params=params)
    fx("lowPassFilter", noise, "rt.wav", "--realtime", params=params)
    a, b = read("off.wav"), read("rt.wav")
    check("lowPassFilter --realtime renders what the offline render does",
          a.shape == b.shape and np.max(np.abs(a - b)) <= 1e-6)


def main():
    checks = [realtime_matches_offline] if MODE == "realtime" else [filters_match_sox, delay_echoes, dynamics,
                                                                     distortion_family]
    for each in checks:
        try:
            each()
        except Exception as error:  # a failed command fails its group, not the run
            check(each.__name__, False, str(error))
    failed = results.count(False)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
