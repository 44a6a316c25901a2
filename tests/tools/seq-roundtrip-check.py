#!/usr/bin/env python3
"""Checks `sonora-tool seq-roundtrip` against midicsv, file by file.

    seq-roundtrip-check.py SONORA_TOOL FILE...

Each file is loaded into a sequence and written back at 480 ticks per quarter. midicsv of the input
and of the output must agree on every note (channel, key, velocity, start and end rescaled to 480
ticks per quarter within one tick), every other channel event, every tempo (microseconds within
one) and every time signature; midicsv and `sonora-tool smf` must read the output. Notes pair
first-in first-out per track, channel and key (a note-on of velocity 0 ends a note); a note left
open ends at its track's end. Prints one line per file; exits 0 when every file agrees.
"""
import os
import subprocess
import sys
import tempfile

CHANNEL = {"Control_c", "Program_c", "Pitch_bend_c", "Channel_aftertouch_c", "Poly_aftertouch_c"}


def records(path):
    out = subprocess.run(["midicsv", path], capture_output=True, text=True, errors="replace", check=True).stdout
    division, rows = 480, []
    for line in out.splitlines():
        parts = [p.strip() for p in line.split(",")]
        if len(parts) < 3:
            continue
        track, tick, kind = int(parts[0]), int(parts[1]), parts[2]
        if kind == "Header":
            division = int(parts[5])
        rows.append((track, tick, kind, parts[3:]))
    return division, rows


def summary(path):
    division, rows = records(path)
    scale = 480.0 / division
    notes, channel, tempos, signatures = [], [], [], []
    open_notes, track_end = {}, {}
    for track, tick, kind, f in rows:
        t = tick * scale
        if kind == "End_track":
            track_end[track] = t
        elif kind in ("Note_on_c", "Note_off_c"):
            ch, key, vel = int(f[0]), int(f[1]), int(f[2])
            queue = open_notes.setdefault((track, ch, key), [])
            if kind == "Note_on_c" and vel > 0:
                queue.append((t, vel))
            elif queue:
                start, v = queue.pop(0)
                notes.append((ch, key, v, start, t))
        elif kind in CHANNEL:
            channel.append((kind, tuple(int(x) for x in f), t))
        elif kind == "Tempo":
            tempos.append((t, int(f[0])))
        elif kind == "Time_signature":
            signatures.append((t, tuple(int(x) for x in f)))
    for (track, ch, key), queue in open_notes.items():
        for start, v in queue:
            notes.append((ch, key, v, start, track_end.get(track, start)))
    return sorted(notes), sorted(channel, key=lambda c: (c[0], c[1][0], c[2], c[1])), sorted(tempos), sorted(signatures)


def close(a, b, tolerance=1.0):
    return abs(a - b) <= tolerance + 1e-9


def compare(name, before, after, same):
    if len(before) != len(after):
        return "%s: %d in, %d out" % (name, len(before), len(after))
    for x, y in zip(before, after):
        if not same(x, y):
            return "%s: %r in, %r out" % (name, x, y)
    return None


def check(tool, path, scratch):
    out = os.path.join(scratch, "out.mid")
    run = subprocess.run([tool, "seq-roundtrip", path, out], capture_output=True, text=True)
    if run.returncode != 0:
        return "seq-roundtrip exited %d: %s" % (run.returncode, run.stderr.strip())
    if subprocess.run([tool, "smf", out], capture_output=True).returncode != 0:
        return "sonora-tool smf cannot read the output"
    try:
        a, b = summary(path), summary(out)
    except subprocess.CalledProcessError as error:
        return "midicsv failed: %s" % error
    problems = [
        compare("notes", a[0], b[0], lambda x, y: x[:3] == y[:3] and close(x[3], y[3]) and close(x[4], y[4])),
        compare("channel events", a[1], b[1], lambda x, y: x[:2] == y[:2] and close(x[2], y[2])),
        compare("tempos", a[2], b[2], lambda x, y: close(x[0], y[0]) and abs(x[1] - y[1]) <= 1),
        compare("time signatures", a[3], b[3], lambda x, y: close(x[0], y[0]) and x[1] == y[1]),
    ]
    problems = [p for p in problems if p]
    return "; ".join(problems) if problems else None


def main():
    tool, files = sys.argv[1], sys.argv[2:]
    failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        for path in files:
            problem = check(tool, path, scratch)
            print("%s %s" % ("ok  " if not problem else "FAIL", path + ("" if not problem else ": " + problem)))
            failures += bool(problem)
    print("%d files, %d failures" % (len(files), failures))
    return 1 if failures or not files else 0


if __name__ == "__main__":
    sys.exit(main())
