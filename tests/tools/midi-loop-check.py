#!/usr/bin/env python3
"""Runs `sonora-tool midi-loop` through the virtual input and through an opened source (packet
lists and event lists) and checks every line it prints.

    midi-loop-check.py SONORA_TOOL
"""
import collections
import os
import re
import subprocess
import sys


def expected(port):
    lines = [
        f"noteOn 60 0 3 port {port}",
        f"pitchWheel 8192 0 port {port}",
        f"system 300 F0 F7 port {port}",
        f"system 1 FA port {port}",
    ]
    lines += [f"system 1 F8 port {port}"] * 48
    lines += ["follower", "quarterNote 1", "quarterNote 2"]
    lines += [f"midiBeat {b}" for b in range(8)]
    lines += ["tempo 120.06", "output 99 40 64"]
    return collections.Counter(lines)


def check(tool, args):
    run = subprocess.run([tool, "midi-loop", *args], capture_output=True, text=True, timeout=120)
    label = " ".join(args)
    problems = []
    if run.returncode != 0:
        problems.append(f"exit status {run.returncode}: {run.stderr.strip()}")
    lines = run.stdout.splitlines()
    port = "2000000"
    if "source" in args:
        if not lines or not re.fullmatch(r"source uid -?\d+", lines[0]):
            problems.append("the first line does not name the source's unique ID")
        else:
            port = lines.pop(0).split()[2]
    leaders = [l for l in lines if l.startswith("leader after ")]
    if len(leaders) != 1:
        problems.append(f"{len(leaders)} leader lines")
    else:
        seconds = float(re.fullmatch(r"leader after ([0-9.]+) s", leaders[0]).group(1))
        if abs(seconds - 1.6) > 0.3:
            problems.append(f"leader after {seconds} s, not 1.6 ± 0.3")
    destroyed = [l for l in lines if l.startswith("destroyed ")]
    match = re.fullmatch(r"destroyed true sources (\d+) (\d+) destinations (\d+) (\d+)", destroyed[0]) \
        if len(destroyed) == 1 else None
    if not match:
        problems.append(f"destroyed lines: {destroyed}")
    else:
        a, a1, b, b1 = map(int, match.groups())
        if a1 != a - 1 or b1 != b - 1:
            problems.append(f"counts before and after destroying: {destroyed[0]}")
    rest = collections.Counter(l for l in lines if l not in leaders and l not in destroyed)
    want = expected(port)
    for line in sorted(set(rest) | set(want)):
        if rest[line] != want[line]:
            problems.append(f"{line!r}: {rest[line]} times, expected {want[line]}")
    for problem in problems:
        print(f"midi-loop {label}: {problem}")
    if not problems:
        print(f"midi-loop {label}: ok")
    return not problems


def backend_named(tool):
    run = subprocess.run([tool, "midi-endpoints"], capture_output=True, text=True, timeout=60)
    first = run.stdout.splitlines()[:1]
    forced = os.environ.get("TAMBERLO_MIDI_BACKEND")
    alsa = os.path.exists("/dev/snd/seq") if forced is None else forced == "alsa"
    want = "backend alsa" if alsa else "backend loopback"
    if run.returncode != 0 or first != [want]:
        print(f"midi-endpoints: {first} (exit status {run.returncode}), expected {want!r}")
        return False
    print(f"midi-endpoints: {want}")
    return True


def main():
    tool = sys.argv[1]
    if not backend_named(tool):
        sys.exit(1)
    runs = [["--via", "virtual"], ["--via", "source", "--receive", "packets"], ["--via", "source", "--receive", "events"]]
    ok = all([check(tool, args) for args in runs])
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
