#!/usr/bin/python3
"""Shell checks of `sonora-tool sequence`: the trace against midicsv (sample accuracy), the offline
render against FluidSynth's own player (RMS envelope), and the real-time capture against the
offline render.

usage: sequence-check.py SONORA_TOOL WORKDIR [CORPUS_MID]
Exit 0 when every check holds, 1 otherwise, 77 when an outside tool is missing."""
import math
import os
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smf_bytes import vlq  # noqa: E402

import numpy as np

SF = "/usr/share/sounds/sf2/TimGM6mb.sf2"
RATE = 44100


def track(events):
    """events: (tick, bytes) in tick order; end of track a beat after the last event."""
    body, last = b"", 0
    for tick, data in events:
        body += vlq(tick - last) + bytes(data)
        last = tick
    body += vlq(96) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(body)) + body


def make_sequence(path):
    """Format 1, 96 PPQ, 600000 µs a beat: a melody on channel 1, chords on channel 2 (~20 s)."""
    conductor = b"\x00\xff\x51\x03\x09\x27\xc0" + b"\x00\xff\x2f\x00"
    conductor = b"MTrk" + struct.pack(">I", len(conductor)) + conductor
    scale = [60, 62, 64, 65, 67, 69, 71, 72, 71, 69, 67, 65, 64, 62]
    melody = []
    for i in range(64):
        note, start = scale[i % len(scale)], i * 48
        melody += [(start, (0x90, note, 90 + i % 20)), (start + 40, (0x80, note, 64))]
    chords = []
    for i in range(16):
        root, start = [48, 53, 55, 50][i % 4], i * 192
        for n in (root, root + 4, root + 7):
            chords.append((start, (0x91, n, 70)))
        for n in (root, root + 4, root + 7):
            chords.append((start + 180, (0x81, n, 0)))
    header = b"MThd" + struct.pack(">IHHH", 6, 1, 3, 96)
    with open(path, "wb") as f:
        f.write(header + conductor + track(melody) + track(sorted(chords, key=lambda e: e[0])))


def read_wav(path):
    data = open(path, "rb").read()
    pos, channels, fmt, samples = 12, 2, None, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            fmt, channels = struct.unpack("<HH", body[:4])
            bits = struct.unpack("<H", body[14:16])[0]
        elif cid == b"data":
            samples = body
        pos += 8 + size + (size & 1)
    if samples is None or bits != 32:
        raise SystemExit(f"{path}: not a 32-bit float WAV file")
    return np.frombuffer(samples, dtype="<f4").reshape(-1, channels).astype(np.float64)


def expected_trace(mid, tempo):
    """The 3-byte channel events as (track, frame, b0, b1, b2); track numbers as the tool counts
    them (the conductor of a format-1 file is no track)."""
    csv = subprocess.run(["midicsv", mid], capture_output=True, text=True, errors="replace", check=True).stdout
    rows = [[f.strip() for f in line.split(",")] for line in csv.splitlines()]
    fmt, ppq = int(rows[0][3]), int(rows[0][5])
    kinds = {"Note_on_c": 0x90, "Note_off_c": 0x80, "Control_c": 0xB0, "Poly_aftertouch_c": 0xA0, "Pitch_bend_c": 0xE0}
    out = []
    for r in rows:
        if len(r) < 3 or r[2] not in kinds:
            continue
        t = int(r[0]) - (1 if fmt == 1 else 0)
        if t < 1:
            continue
        tick, ch = int(r[1]), int(r[3])
        if r[2] == "Pitch_bend_c":
            v = int(r[4])
            d1, d2 = v & 0x7F, v >> 7
        else:
            d1, d2 = int(r[4]), int(r[5])
        # The engine's conversion, in its order, truncated toward zero.
        frame = int(tick / ppq / tempo * 60 * RATE)
        out.append((t, frame, kinds[r[2]] | ch, d1, d2))
    return sorted(out)


def read_trace(path):
    out = []
    for line in open(path):
        t, frame, a, b, c = line.split()
        out.append((int(t), int(frame), int(a, 16), int(b, 16), int(c, 16)))
    return sorted(out)


def run_tool(tool, *args):
    result = subprocess.run([tool, "sequence", *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise SystemExit(f"sonora-tool sequence {' '.join(args)} failed: {result.stderr.strip()}")
    fields = result.stdout.split()
    return {"tracks": int(fields[1]), "tempo": float(fields[3]), "length": float(fields[5])}


failures = []


def check(ok, text):
    print(("ok   " if ok else "FAIL ") + text)
    if not ok:
        failures.append(text)


def check_trace(mid, trace, info, corpus):
    expected, got = expected_trace(mid, info["tempo"]), read_trace(trace)
    if not corpus:
        check(got == expected, f"{os.path.basename(mid)}: the trace is exactly the file's channel events "
                               f"({len(got)} lines, {len(expected)} expected)")
        return
    end = int(info["length"] / info["tempo"] * 60 * RATE)
    extra = list(got)
    for e in expected:
        if e in extra:
            extra.remove(e)
    missing = len(expected) - (len(got) - len(extra))
    offs = all(e[2] & 0xF0 == 0x80 and e[2] == 0x80 and e[4] == 0 and e[1] >= end for e in extra)
    check(missing == 0 and offs, f"{os.path.basename(mid)}: every channel event at its frame ({missing} missing), "
                                 f"and only all-notes-off after the end ({len(extra)} lines)")


def envelope(x):
    frames = len(x) // 441
    return np.sqrt((x[:frames * 441] ** 2).sum(axis=1).reshape(frames, 441).mean(axis=1))


def last_sounding(env):
    loud = np.nonzero(env > env.max() * 1e-3)[0]
    return int(loud[-1]) if len(loud) else 0


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    tool, work = sys.argv[1], sys.argv[2]
    corpus = sys.argv[3] if len(sys.argv) > 3 else "/usr/share/games/openttd/baseset/openmsx/flying_scotsman.mid"
    for needed in ("midicsv", "fluidsynth"):
        if not shutil.which(needed):
            print(f"skipped: {needed} is not installed")
            return 77
    if not os.path.exists(SF):
        print(f"skipped: {SF} is missing")
        return 77
    os.makedirs(work, exist_ok=True)
    seq = os.path.join(work, "seq.mid")
    make_sequence(seq)

    info = run_tool(tool, seq, os.path.join(work, "ours.wav"), "--soundfont", SF, "--trace", os.path.join(work, "trace.txt"))
    check(info["tracks"] == 2 and info["tempo"] == 100, f"prints tracks 2 tempo 100 ({info})")
    check_trace(seq, os.path.join(work, "trace.txt"), info, False)

    subprocess.run(["fluidsynth", "-ni", "-R", "0", "-C", "0", "-r", "44100", "-O", "float", "-F",
                    os.path.join(work, "ref.wav"), SF, seq], capture_output=True, check=True)
    ours, ref = envelope(read_wav(os.path.join(work, "ours.wav"))), envelope(read_wav(os.path.join(work, "ref.wav")))
    n = min(len(ours), len(ref)) - 2
    best = max(np.corrcoef(ours[1:n + 1], ref[1 + lag:n + 1 + lag])[0, 1] for lag in (-1, 0, 1))
    check(best >= 0.97, f"RMS envelopes against FluidSynth correlate {best:.4f} (at least 0.97)")
    a, b = last_sounding(ours), last_sounding(ref)
    check(abs(a - b) <= 5, f"the sound ends in frame {a}, FluidSynth's in frame {b} (±5)")

    run_tool(tool, seq, os.path.join(work, "rt.wav"), "--soundfont", SF, "--realtime")
    offline, live = read_wav(os.path.join(work, "ours.wav")), read_wav(os.path.join(work, "rt.wav"))
    diff = float(np.abs(offline - live).max()) if offline.shape == live.shape else math.inf
    check(diff <= 1e-6, f"the real-time capture equals the offline render (largest difference {diff:g}, "
                        f"{len(live)} and {len(offline)} frames)")

    if os.path.exists(corpus):
        info = run_tool(tool, corpus, os.path.join(work, "fs.wav"), "--soundfont", SF, "--trace", os.path.join(work, "fs.txt"))
        check_trace(corpus, os.path.join(work, "fs.txt"), info, True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
