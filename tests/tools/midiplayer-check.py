#!/usr/bin/env python3
"""Checks `sonora-tool midiplayer` on one file against the file's tempo map and fluidsynth.

    /usr/bin/python3 midiplayer-check.py SONORA_TOOL SMF SF2 SCRATCH

Every traced message must sit within one frame of its tempo-map time x 44100 (messages compared
in time order per byte string), and the render's 10 ms RMS envelope must correlate at least 0.97
with that of `fluidsynth -ni -R 0 -C 0 -F` of the same file, the best lag within one envelope
step of 0. Prints the figures; exits 0 when both hold.
"""
import os
import subprocess
import sys

import numpy

RATE = 44100
CHANNEL = {"Note_on_c": 0x90, "Note_off_c": 0x80, "Control_c": 0xB0, "Program_c": 0xC0,
           "Channel_aftertouch_c": 0xD0, "Poly_aftertouch_c": 0xA0, "Pitch_bend_c": 0xE0}


def expected(smf):
    rows = [[p.strip() for p in line.split(",")] for line in
            subprocess.run(["midicsv", smf], capture_output=True, text=True, check=True).stdout.splitlines()]
    division = next(int(r[5]) for r in rows if r[2] == "Header")
    tempos = sorted((int(r[1]), int(r[3])) for r in rows if r[2] == "Tempo")

    def seconds(tick):
        t, last_tick, us = 0.0, 0, 500000
        for at, value in tempos:
            if at > tick:
                break
            t += (at - last_tick) * us / division / 1e6
            last_tick, us = at, value
        return t + (tick - last_tick) * us / division / 1e6

    messages = []
    for r in rows:
        if r[2] not in CHANNEL:
            continue
        status = CHANNEL[r[2]] | int(r[3])
        values = [int(x) for x in r[4:]]
        if r[2] == "Note_on_c" and values[1] == 0:
            status = 0x80 | int(r[3])
        if r[2] == "Pitch_bend_c":
            values = [values[0] & 0x7F, values[0] >> 7]
        text = " ".join("%02X" % b for b in [status] + values)
        messages.append((seconds(int(r[1])) * RATE, text))
    return messages


def samples(path, scratch):
    raw = os.path.join(scratch, os.path.basename(path) + ".raw")
    subprocess.run(["sox", path, "-t", "f32", "-c", "1", "-r", str(RATE), raw], check=True)
    return numpy.fromfile(raw, dtype="<f4")


def envelope(x):
    step = RATE // 100
    n = len(x) // step
    return numpy.sqrt((x[:n * step].reshape(n, step).astype(numpy.float64) ** 2).mean(axis=1))


def main():
    tool, smf, font, scratch = sys.argv[1:5]
    ours, trace = os.path.join(scratch, "ours.wav"), os.path.join(scratch, "trace.txt")
    subprocess.run([tool, "midiplayer", smf, ours, "--soundfont", font, "--trace", trace], check=True)
    played = []
    for line in open(trace):
        frame, _, text = line.strip().partition(" ")
        played.append((int(frame), text))
    want = expected(smf)
    problems = []
    by_bytes = {}
    for frame, text in want:
        by_bytes.setdefault(text, []).append(frame)
    got = {}
    for frame, text in played:
        got.setdefault(text, []).append(frame)
    if sorted(by_bytes) != sorted(got) or any(len(by_bytes[k]) != len(got[k]) for k in by_bytes):
        problems.append("messages: %d expected, %d traced" % (len(want), len(played)))
    else:
        worst = max(abs(a - b) for k in by_bytes for a, b in zip(sorted(by_bytes[k]), sorted(got[k])))
        print("messages %d, worst frame error %.2f" % (len(played), worst))
        if worst > 1.0:
            problems.append("a message is %.2f frames from its time" % worst)

    peer = os.path.join(scratch, "peer.wav")
    subprocess.run(["fluidsynth", "-ni", "-q", "-R", "0", "-C", "0", "-r", str(RATE), "-T", "wav", "-F", peer, font, smf],
                   check=True, capture_output=True)
    a, b = envelope(samples(ours, scratch)), envelope(samples(peer, scratch))
    n = min(len(a), len(b))
    best = (-2.0, 0)
    for lag in range(-3, 4):
        x = a[max(0, lag):n + min(0, lag)]
        y = b[max(0, -lag):n - max(0, lag)]
        m = min(len(x), len(y))
        c = numpy.corrcoef(x[:m], y[:m])[0, 1]
        best = max(best, (c, -abs(lag)))
    print("envelope correlation %.4f at lag %d" % (best[0], -best[1]))
    if best[0] < 0.97 or -best[1] > 1:
        problems.append("envelope correlation %.4f at lag %d" % (best[0], -best[1]))
    for p in problems:
        print("FAIL " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
